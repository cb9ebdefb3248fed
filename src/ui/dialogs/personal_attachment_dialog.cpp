#include "ui/dialogs/personal_attachment_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <climits>

#include "core/encoding.h"
#include "platform/platform.h"
#include "ui/dialogs/dialog_frame.h"

namespace velkaro::ui::dialogs {

std::string PatternStart(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + "/";
}

PersonalAttachmentDialog::PersonalAttachmentDialog(QWidget* parent, const std::string& folder)
    : QDialog(parent), pattern_(new QLineEdit(this)) {
  setWindowTitle(QStringLiteral("個別の添付ファイルを追加"));
  setFont(DialogFont());
  setModal(true);

  auto* caption = new QLabel(
      QStringLiteral("送信先ごとに違うファイルのパスを、差し込みの語を使って入力してください。"),
      this);
  caption->setWordWrap(true);
  // A path longer than the system takes could never be opened.
  pattern_->setValidator(new FieldValidator(FieldValidator::PathBytes, PATH_MAX - 1, pattern_));
  pattern_->setText(PathToField(PatternStart(folder)));
  pattern_->setPlaceholderText(QStringLiteral("/home/user/請求書/請求書_((regist)).pdf"));
  pattern_->setMinimumWidth(Units().X(220));
  auto* hint = new QLabel(
      QStringLiteral("例: 請求書_((regist)).pdf  (送信先の登録名のファイルを添付)"), this);
  hint->setTextFormat(Qt::PlainText);

  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  cancel_ = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption);
  layout->addWidget(pattern_);
  layout->addWidget(hint);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  PlaceBelowMainWindow(this, parent);
  pattern_->setFocus();
  pattern_->end(false);
}

std::string PersonalAttachmentDialog::Pattern() const {
  return FieldToPath(pattern_->text().trimmed());
}

void PersonalAttachmentDialog::accept() {
  const std::string pattern = Pattern();
  // A folder (or nothing) names no file to attach.
  if (pattern.empty() || pattern.back() == '/') {
    CurrentPlatform().MessageBox(Sjis("添付するファイルの名前まで入力してください。"),
                                 MsgButtons::Ok, MsgIcon::Exclamation);
    pattern_->setFocus();
    return;
  }
  QDialog::accept();
}

}  // namespace velkaro::ui::dialogs
