#include "ui/dialogs/preview_dialog.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTextDocument>
#include <algorithm>
#include <array>

#include "core/encoding.h"
#include "data/address_book.h"
#include "job/eml_export.h"
#include "job/send_job.h"
#include "platform/platform.h"
#include "platform/qt/fonts.h"
#include "platform/qt/qt_platform.h"
#include "ui/dialogs/address_list.h"

namespace velkaro::ui::dialogs {

// The recipient lines of the job, one row each. A line with an empty name
// or address is a row too: the send run sends to every line, and row i is
// line i of the recipients, so the preview shows each mail that goes out.
class RecipientTableModel : public QAbstractTableModel {
 public:
  RecipientTableModel(const std::string& recipientLines, QObject* parent)
      : QAbstractTableModel(parent) {
    std::size_t start = 0;
    for (std::size_t end = recipientLines.find("\r\n", start); end != std::string::npos;
         start = end + 2, end = recipientLines.find("\r\n", start)) {
      lines_.push_back(recipientLines.substr(start, end - start + 2));
      AddressEntry entry;
      ParseEntryLine(lines_.back(), 0, entry);
      entries_.push_back(std::move(entry));
    }
  }

  // The entry line with its CR LF, as the send run hands it on.
  const std::string& Line(int row) const { return lines_.at(static_cast<std::size_t>(row)); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(kColumns.size());
  }
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const AddressEntry& e = entries_.at(static_cast<std::size_t>(index.row()));
    switch (index.column()) {
      case 0: return qt::FromSjis(e.regist);
      case 1: return qt::FromSjis(e.mailaddr);
      case 2: return qt::FromSjis(e.name);
      default: return {};
    }
  }
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return QString::fromUtf16(kColumns.at(static_cast<std::size_t>(section)).title);
  }
  static int ColumnWidth(int column) { return kColumns.at(static_cast<std::size_t>(column)).width; }

 private:
  struct Column {
    const char16_t* title;
    int width;
  };
  static constexpr std::array<Column, 4> kColumns = {{
      {u"登録名", 100},
      {u"メールアドレス", 200},
      {u"氏名", 100},
      {u"<<", 20},
  }};
  std::vector<std::string> lines_;
  std::vector<AddressEntry> entries_;
};

namespace {
// "ＭＳ ゴシック" with a cell height of 12 pixels.
constexpr int kBodyFontPixels = 12;

void Tell(const std::string& utf8, MsgIcon icon) {
  CurrentPlatform().MessageBox(Utf8ToSjis(utf8), MsgButtons::Ok, icon);
}

// The attachment paths of a mail (file-system bytes, each ended by CR LF).
QStringList AttachmentPaths(const std::string& list) {
  QStringList paths;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find("\r\n", start);
    if (end == std::string::npos) end = list.size();
    if (end > start) paths << PathToField(list.substr(start, end - start));
    start = end + 2;
  }
  return paths;
}

QString FileNames(const QStringList& paths) {
  QStringList names;
  for (const QString& path : paths) names << path.section(QLatin1Char('/'), -1);
  return names.join(QStringLiteral(", "));
}
}  // namespace

QString CharsetLineText(CharsetSetting setting, const CharsetChoice& choice) {
  QString line = QStringLiteral("文字コード: ") + QString::fromLatin1(CharsetLabel(choice.charset));
  // A setting of UTF-8 needs no reason.
  if (choice.causes.empty() || setting == CharsetSetting::Utf8) return line;
  QStringList characters;
  for (const std::string& c : choice.causes) characters << qt::FromSjis(c);
  const QString list = characters.join(QStringLiteral(", "));
  if (choice.charset == mime::Charset::Utf8) {
    return line + QStringLiteral("（%1 を含むため）").arg(list);
  }
  return line + QStringLiteral("（%1 は受信側で正しく表示されない場合があります）").arg(list);
}

PreviewDialog::PreviewDialog(QWidget* parent, const SendJob& job, const Settings& settings)
    : QDialog(parent),
      job_(job),
      charsetSetting_(CharsetSettingOf(settings.ini)),
      words_(PlaceholderWordsOf(settings.record)),
      bodyText_(job.bodyText),
      titleIn_(job.titleIn),
      model_(new RecipientTableModel(job.recipientLines, this)) {
  setWindowTitle(QStringLiteral("差替え後の本文表示"));
  setFont(DialogFont());
  setModal(true);
  const DialogUnits u = Units();
  resize(u.X(318), u.Y(226));

  list_ = MakeReportList(this, model_, false);
  list_->setGeometry(u.Rect(8, 2, 240, 64));
  for (int c = 0; c < model_->columnCount(); ++c) {
    list_->setColumnWidth(c, RecipientTableModel::ColumnWidth(c));
  }
  close_ = MakeButton(this, QStringLiteral("終了"), u.Rect(260, 4, 50, 14));
  close_->setDefault(true);
  substitute_ = MakeButton(this, QStringLiteral("差替え実行"), u.Rect(260, 50, 50, 14));
  MakeLabel(this, QStringLiteral("タイトル"), u.Rect(8, 74, 23, 8));
  subject_ = new QLineEdit(this);
  subject_->setReadOnly(true);
  subject_->setGeometry(u.Rect(36, 70, 276, 14));
  body_ = new QPlainTextEdit(this);
  body_->setReadOnly(true);
  body_->setLineWrapMode(QPlainTextEdit::NoWrap);
  body_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  body_->setFont(qt::JapaneseFixedFont(kBodyFontPixels));
  charset_ = new QLineEdit(this);
  charset_->setReadOnly(true);
  charset_->setGeometry(u.Rect(8, 88, 240, 14));
  eml_ = MakeButton(this, QStringLiteral("EMLとして保存"), u.Rect(260, 88, 50, 14));
  // Without recipients there is no mail to save.
  eml_->setEnabled(model_->rowCount() > 0);
  MakeLabel(this, QStringLiteral("添付"), u.Rect(8, 108, 23, 8));
  attachments_ = new QLineEdit(this);
  attachments_->setReadOnly(true);
  attachments_->setGeometry(u.Rect(36, 106, 276, 14));
  problem_ = new QLabel(this);
  problem_->setTextFormat(Qt::PlainText);
  problem_->setGeometry(u.Rect(8, 122, 304, 10));
  problem_->setStyleSheet(QStringLiteral("QLabel { color: #b00000; }"));
  body_->setGeometry(u.Rect(8, 136, 304, 86));
  warning_ = new QPlainTextEdit(this);
  warning_->setReadOnly(true);
  warning_->setLineWrapMode(QPlainTextEdit::NoWrap);
  warning_->setGeometry(u.Rect(8, 136, 304, 40));
  warning_->setStyleSheet(QStringLiteral("QPlainTextEdit { color: #b00000; }"));
  warning_->hide();

  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  connect(substitute_, &QPushButton::clicked, this, [this] { ShowForRow(SelectedRow()); });
  connect(list_, &QTableView::doubleClicked, this,
          [this](const QModelIndex& index) { ShowForRow(index.row()); });
  connect(eml_, &QPushButton::clicked, this, [this] { SaveAsEml(); });

  grow_.Follow(body_, GrowWithWindow::Width | GrowWithWindow::Height);
  grow_.Follow(warning_, GrowWithWindow::Width);
  grow_.Follow(subject_, GrowWithWindow::Width);
  grow_.Follow(charset_, GrowWithWindow::Width);
  grow_.Follow(attachments_, GrowWithWindow::Width);
  grow_.Follow(problem_, GrowWithWindow::Width);
  grow_.Follow(eml_, GrowWithWindow::MoveRight);
  grow_.Follow(list_, GrowWithWindow::Width);
  grow_.Follow(close_, GrowWithWindow::MoveRight);
  grow_.Follow(substitute_, GrowWithWindow::MoveRight);
  grow_.TakeBase(this);
  PlaceBelowMainWindow(this, parent);

  if (model_->rowCount() > 0) {
    // The first recipient is shown, and marked, so the list says whose mail it is.
    list_->selectRow(0);
    ShowForRow(0);
  } else {
    ShowForRow(-1);
  }
}

int PreviewDialog::SelectedRow() const {
  const QModelIndexList rows = list_->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void PreviewDialog::ShowForRow(int row) {
  if (row < 0 || row >= model_->rowCount()) row = -1;
  const std::string line = row >= 0 ? model_->Line(row) : std::string();
  const PersonalisedMail mail = PersonaliseMail(words_, bodyText_, line, titleIn_);
  subject_->setText(qt::FromSjis(mail.subject));
  subject_->setCursorPosition(0);
  body_->setPlainText(qt::FromSjis(mail.body));
  // Decided on this mail's own texts, as the send run decides it.
  const MailContent content = job_.MailContentOf(row);
  charset_->setText(CharsetLineText(charsetSetting_, ChooseCharset(charsetSetting_, content)));
  charset_->setCursorPosition(0);
  // A file per recipient makes each mail's attachments its own.
  const QStringList paths = AttachmentPaths(content.attachmentList);
  attachments_->setText(paths.isEmpty() ? QStringLiteral("(なし)") : FileNames(paths));
  attachments_->setToolTip(paths.join(QLatin1Char('\n')));
  attachments_->setCursorPosition(0);
  // One line: several problems are joined.
  QString problem = row >= 0 ? qt::FromSjis(job_.PersonalProblemOf(row)).trimmed() : QString();
  problem.replace(QStringLiteral("\r\n"), QStringLiteral("  "));
  problem_->setText(problem);
  problem_->setToolTip(problem);
  problem_->setVisible(!problem.isEmpty());
}

void PreviewDialog::SetWarning(const QString& text) {
  // The warning goes between the character set line and the body, as
  // high as its lines (up to a limit, then it scrolls); the dialog grows
  // by as much, so the body keeps its room.
  constexpr int kMostLines = 16;
  const int shownBefore = warning_->isHidden() ? 0 : warning_->height() + Units().Y(2);
  warning_->setPlainText(text);
  warning_->setVisible(!text.isEmpty());
  QRect warning = warning_->geometry();
  int shown = 0;
  if (!text.isEmpty()) {
    const int lines =
        std::min<int>(kMostLines, static_cast<int>(text.count(QLatin1Char('\n'))) + 1);
    const QMargins frame = warning_->contentsMargins();
    warning.setHeight(lines * warning_->fontMetrics().lineSpacing() +
                      2 * static_cast<int>(warning_->document()->documentMargin()) + frame.top() +
                      frame.bottom() + 2);
    shown = warning.height() + Units().Y(2);
  }
  const int shift = shown - shownBefore;
  const QRect body = body_->geometry().translated(0, shift);
  // The controls are placed after the resize, which lays them out by the
  // old base; the new size is the base from then on.
  setMinimumSize(0, 0);
  resize(width(), height() + shift);
  warning_->setGeometry(warning);
  body_->setGeometry(body);
  grow_.TakeBase(this);
}

void PreviewDialog::SaveAsEml() {
  FileDialogRequest request;
  request.kind = FileDialogRequest::Folder;
  request.startFolder = emlFolder_;
  const std::vector<std::string> chosen = CurrentPlatform().FileDialog(request);
  if (chosen.empty() || chosen.front().empty()) return;
  std::string folder = chosen.front();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  emlFolder_ = folder;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const EmlExport result = ExportEml(job_, folder);
  QApplication::restoreOverrideCursor();
  if (!result.error.empty()) {
    std::string text = "EMLファイルを保存できませんでした。";
    if (result.written > 0) text += "（" + std::to_string(result.written) + "通は保存済み）";
    Tell(text + "\r\n" + result.error, MsgIcon::Exclamation);
    return;
  }
  Tell(std::to_string(result.written) + "通のメールを保存しました: " + folder,
       MsgIcon::Information);
}

void PreviewDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  grow_.Apply(size());
}

}  // namespace velkaro::ui::dialogs
