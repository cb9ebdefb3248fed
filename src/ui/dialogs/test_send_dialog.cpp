#include "ui/dialogs/test_send_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "core/encoding.h"
#include "data/address_book.h"
#include "platform/platform.h"
#include "platform/qt/qt_platform.h"
#include "ui/dialogs/dialog_frame.h"

namespace velkaro::ui::dialogs {
namespace {

// RFC 5321 allows 254 octets in a path; more is never a real mailbox.
constexpr int kAddressLimit = 254;

std::vector<QString> RecipientTexts(const std::string& lines) {
  std::vector<QString> texts;
  std::size_t start = 0;
  for (std::size_t end = lines.find("\r\n"); end != std::string::npos;
       start = end + 2, end = lines.find("\r\n", start)) {
    AddressEntry entry;
    ParseEntryLine(lines.substr(start, end - start + 2), 0, entry);
    texts.push_back(qt::FromSjis(entry.name) + QStringLiteral(" <") + qt::FromSjis(entry.mailaddr) +
                    QStringLiteral(">"));
  }
  return texts;
}

void Tell(const char* utf8) {
  CurrentPlatform().MessageBox(Utf8ToSjis(utf8), MsgButtons::Ok, MsgIcon::Exclamation);
}

}  // namespace

bool IsUsableTestAddress(const std::string& address) {
  if (address.empty() || address.size() > kAddressLimit) return false;
  const std::size_t at = address.find('@');
  if (at == 0 || at == std::string::npos || at + 1 == address.size()) return false;
  if (address.find('@', at + 1) != std::string::npos) return false;
  return std::all_of(address.begin(), address.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7f && std::strchr("<>,;()\"\\[]:", c) == nullptr;
  });
}

TestSendDialog::TestSendDialog(QWidget* parent, const std::string& recipientLines,
                               const std::string& address, int index)
    : QDialog(parent),
      recipients_(RecipientTexts(recipientLines)),
      address_(new QLineEdit(this)),
      recipient_(new QSpinBox(this)),
      recipientText_(new QLabel(this)) {
  setWindowTitle(QStringLiteral("テスト送信"));
  setFont(DialogFont());
  setModal(true);

  address_->setValidator(new FieldValidator(FieldValidator::SjisBytes, kAddressLimit, address_));
  address_->setText(qt::FromSjis(address));
  address_->setMinimumWidth(Units().X(160));
  const int count = std::max<int>(1, static_cast<int>(recipients_.size()));
  recipient_->setRange(1, count);
  recipientText_->setTextFormat(Qt::PlainText);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("送信先(テスト用)"), address_);
  form->addRow(QStringLiteral("差し込む送信先の番号"), recipient_);
  form->addRow(QString(), recipientText_);
  auto* note = new QLabel(
      QStringLiteral(
          "選んだ送信先宛てのメールを、件名に「[テスト] 」を付けて上のアドレスにだけ送ります。"),
      this);
  note->setWordWrap(true);

  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(QStringLiteral("送信"), QDialogButtonBox::AcceptRole);
  cancel_ = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(recipient_, &QSpinBox::valueChanged, this, [this](int n) { ShowRecipient(n); });

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(note);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  recipient_->setValue(std::clamp(index, 0, count - 1) + 1);
  ShowRecipient(recipient_->value());
  PlaceBelowMainWindow(this, parent);
}

void TestSendDialog::ShowRecipient(int number) {
  const auto i = static_cast<std::size_t>(number - 1);
  recipientText_->setText(i < recipients_.size() ? recipients_[i] : QString());
}

std::string TestSendDialog::Address() const {
  return FieldToSjis(address_->text().trimmed());
}

int TestSendDialog::Index() const {
  return recipient_->value() - 1;
}

void TestSendDialog::accept() {
  const std::string address = Address();
  if (address.empty()) {
    Tell("テストメールの送信先アドレスを入力してください。");
    address_->setFocus();
    return;
  }
  if (!IsUsableTestAddress(address)) {
    Tell(
        "テストメールの送信先には、メールアドレスを１つだけ(例: you@example.jp)入力してください。");
    address_->setFocus();
    address_->selectAll();
    return;
  }
  QDialog::accept();
}

}  // namespace velkaro::ui::dialogs
