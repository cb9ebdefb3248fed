// The form's controls, how they follow the window's size, how they show the
// job and take the user's edits back, clicks, drops and the list commands.
#include "ui/velkaro_view.h"

#include <QAction>
#include <QCheckBox>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTreeWidget>
#include <QUrl>
#include <optional>

#include "core/encoding.h"
#include "core/zentool.h"
#include "data/address_book.h"
#include "job/send_check.h"
#include "job/send_setup.h"
#include "platform/qt/fonts.h"
#include "platform/qt/qt_platform.h"
#include "ui/body_characters.h"
#include "ui/dialog_units.h"
#include "ui/dialogs/dialogs.h"
#include "ui/resume_offer.h"
#include "ui/window_identity.h"

namespace velkaro::ui {
namespace {

// The form's font: the proportional gothic face at 9 points of a 96 dpi
// screen, the size the form's dialog units were designed for.
constexpr int kFormFontPixels = 12;
constexpr int kBodyFontPixels = 12;
constexpr int kEditorMargin = 4;

QString PathToQt(const std::string& path) {
  return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string PathFromQt(const QString& path) {
  const QByteArray bytes = QFile::encodeName(path);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The local files of a drag, in the order they were dropped.
std::vector<std::string> DroppedFiles(const QMimeData* mime) {
  std::vector<std::string> files;
  if (mime == nullptr || !mime->hasUrls()) return files;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) files.push_back(PathFromQt(url.toLocalFile()));
  }
  return files;
}

bool SameRows(const std::vector<AttachmentRow>& a, const std::vector<AttachmentRow>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].folder != b[i].folder) return false;
  }
  return true;
}

}  // namespace

CVelkaroView::CVelkaroView(CVelkaroDoc& doc, QWidget* parent)
    : QWidget(parent), doc_(doc), job_(doc.settings) {
  setFont(qt::JapaneseProportionalFont(kFormFontPixels));
  CreateControls();
  job_.SetView(this);
}

CVelkaroView::~CVelkaroView() {
  job_.SetView(nullptr);
  // The Qt platform keeps a timer per target; the job's die with it.
  if (auto* platform = dynamic_cast<qt::QtPlatform*>(&CurrentPlatform())) {
    platform->ForgetTimerTarget(&job_);
  }
}

void CVelkaroView::CreateControls() {
  const DialogUnits units(font());
  formSize_ = QSize(units.X(kFormUnits.width()), units.Y(kFormUnits.height()));
  const auto button = [this](const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), this);
    b->setAutoDefault(false);
    return b;
  };
  // Created in template order, which gives the tab order.
  openBodyButton_ = button("本文テキスト");
  pathField_ = new QLineEdit(this);
  pathField_->setReadOnly(true);
  exitButton_ = button("終了");
  editor_ = new QPlainTextEdit(this);
  sendButton_ = button("送信");
  autoQuitBox_ = new QCheckBox(QStringLiteral("自動終了"), this);
  titleInBox_ = new QCheckBox(QStringLiteral("タイトル・イン"), this);
  previewButton_ = button("本文確認");
  addAttachmentsButton_ = button("添付ファイル追加");
  removeAttachmentButton_ = button("選択取消し");
  anchor_ = button("");
  addRecipientsButton_ = button("送信先追加");
  removeRecipientButton_ = button("選択取消し");
  attachmentList_ = new QTreeWidget(this);
  recipientList_ = new QTreeWidget(this);

  controls_ = {{kOpenBodyButton, openBodyButton_},
               {kBodyPathField, pathField_},
               {kExitButton, exitButton_},
               {kBodyEditor, editor_},
               {kSendButton, sendButton_},
               {kAutoQuitBox, autoQuitBox_},
               {kTitleInBox, titleInBox_},
               {kPreviewButton, previewButton_},
               {kAddAttachmentsButton, addAttachmentsButton_},
               {kRemoveAttachmentButton, removeAttachmentButton_},
               {kLayoutAnchor, anchor_},
               {kAddRecipientsButton, addRecipientsButton_},
               {kRemoveRecipientButton, removeRecipientButton_},
               {kAttachmentList, attachmentList_},
               {kRecipientList, recipientList_}};
  for (const ControlTemplate& t : FormTemplate()) {
    QWidget* w = controls_.at(t.id);
    w->setObjectName(QString::number(t.id));
    w->setGeometry(units.Rect(t.units.x(), t.units.y(), t.units.width(), t.units.height()));
  }
  anchor_->hide();
  testSendButton_ = button("テスト送信");
  testSendButton_->setObjectName(QString::number(kTestSendButton));
  testSendButton_->setGeometry(units.Rect(kTestSendUnits.x(), kTestSendUnits.y(),
                                          kTestSendUnits.width(), kTestSendUnits.height()));
  controls_[kTestSendButton] = testSendButton_;
  // Tab goes from control to control in the order they are laid out, also
  // out of the body editor, as in any dialog; Ctrl+Tab types a TAB into
  // the body (see eventFilter).
  editor_->setTabChangesFocus(true);
  editor_->installEventFilter(this);
  QWidget* previous = nullptr;
  for (const ControlTemplate& t : FormTemplate()) {
    QWidget* w = controls_.at(t.id);
    if (previous != nullptr) setTabOrder(previous, w);
    previous = w;
  }
  setTabOrder(sendButton_, testSendButton_);

  editor_->setFont(qt::JapaneseFixedFont(kBodyFontPixels));
  editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
  editor_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  editor_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  editor_->document()->setDocumentMargin(kEditorMargin);
  SetUpList(attachmentList_, {{QStringLiteral("添付ファイル"), 100},
                              {QStringLiteral("親フォルダ"), 400},
                              {QStringLiteral("<<"), 20}});
  SetUpList(recipientList_, {{QStringLiteral("登録名"), 100},
                             {QStringLiteral("メールアドレス"), 200},
                             {QStringLiteral("氏名"), 100},
                             {QStringLiteral("<<"), 20}});

  // Files may be dropped on the editor, the path field and the attachment
  // list only; the filters see the drops before the controls do.
  editor_->viewport()->installEventFilter(this);
  pathField_->installEventFilter(this);
  pathField_->setAcceptDrops(true);
  attachmentList_->setAcceptDrops(true);
  attachmentList_->viewport()->installEventFilter(this);
  recipientList_->setAcceptDrops(false);
  recipientList_->viewport()->installEventFilter(this);

  connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
    if (!pushing_) editorEdited_ = true;
  });
  // The title's change mark follows typing at once.
  connect(editor_->document(), &QTextDocument::modificationChanged, this,
          [this](bool changed) { window()->setWindowModified(changed || job_.bodyModified); });
  // The boxes go to the job at once: the job is shown again on every status
  // change of a run, which must not undo a click made meanwhile.
  connect(autoQuitBox_, &QCheckBox::toggled, this, [this](bool on) {
    if (!pushing_) job_.autoQuit = on;
  });
  connect(titleInBox_, &QCheckBox::toggled, this, [this](bool on) {
    if (!pushing_) job_.titleIn = on;
  });
  const auto post = [](int command) {
    return [command] { CurrentPlatform().PostCommand(command); };
  };
  // These two run at once rather than posted, as they always did.
  const auto run = [this](int command) {
    return [this, command] {
      if (commands_ != nullptr) commands_->Dispatch(command);
    };
  };
  connect(openBodyButton_, &QPushButton::clicked, this, run(kCmdOpenBody));
  connect(previewButton_, &QPushButton::clicked, this, run(kCmdPreview));
  connect(exitButton_, &QPushButton::clicked, this, [this] { OnExitButton(); });
  connect(sendButton_, &QPushButton::clicked, this, post(kCmdSend));
  connect(testSendButton_, &QPushButton::clicked, this, post(kCmdTestSend));
  connect(addRecipientsButton_, &QPushButton::clicked, this, post(kCmdAddRecipients));
  connect(removeRecipientButton_, &QPushButton::clicked, this, post(kCmdRemoveRecipient));
  connect(addAttachmentsButton_, &QPushButton::clicked, this, post(kCmdAddAttachments));
  connect(removeAttachmentButton_, &QPushButton::clicked, this, post(kCmdRemoveAttachment));
}

void CVelkaroView::SetUpList(QTreeWidget* list,
                             const std::vector<std::pair<QString, int>>& columns) {
  QStringList labels;
  for (const auto& column : columns) labels << column.first;
  list->setColumnCount(static_cast<int>(columns.size()));
  list->setHeaderLabels(labels);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    list->setColumnWidth(static_cast<int>(i), columns[i].second);
  }
  list->header()->setStretchLastSection(false);
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

QWidget* CVelkaroView::Control(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

QRect CVelkaroView::BaseRect(int id) const {
  const auto it = baseRects_.find(id);
  return it == baseRects_.end() ? QRect() : it->second.translated(anchor_->pos());
}

std::vector<std::string> CVelkaroView::OnInitialUpdate() {
  if (initialized_) {
    if (!doc_.pendingBodyPath.empty()) {
      job_.LoadBodyFile(doc_.pendingBodyPath);
      doc_.pendingBodyPath.clear();
      JobChanged();
    }
    return {};
  }
  // The anchor marks the form's origin; every control's start rectangle is
  // kept relative to it, and the window's size at this moment is the base
  // the resize rules measure from.
  anchor_->setGeometry(0, 0, 10, 10);
  for (const ControlTemplate& t : FormTemplate()) {
    if (t.id == kLayoutAnchor) continue;
    baseRects_[t.id] = controls_.at(t.id)->geometry().translated(-anchor_->pos());
  }
  baseRects_[kTestSendButton] = testSendButton_->geometry().translated(-anchor_->pos());
  job_.autoQuit = false;
  job_.titleIn = doc_.settings.record.titleIn == 1;
  JobChanged();
  initialized_ = true;

  const std::vector<std::string> failed =
      ApplyCommandLine(job_, doc_.commandLine, doc_.addressBook);
  // A start that is going to end for a missing body file sends nothing.
  if (failed.empty() && job_.autoSend) job_.StartAutoSendTimer();
  JobChanged();
  ApplyResizeRules();
  return failed;
}

void CVelkaroView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (initialized_) ApplyResizeRules();
}

// The form grows and shrinks with the window (it is all the window has
// besides the menu and the status bar); there is no minimum size.
void CVelkaroView::ApplyResizeRules() {
  const ResizeShares shares = SharesFor(width() - formSize_.width(), height() - formSize_.height());
  for (const auto& [id, base] : baseRects_) {
    controls_.at(id)->setGeometry(PlaceControl(id, base, shares).translated(anchor_->pos()));
  }
}

void CVelkaroView::PullFromControls() {
  if (editorEdited_) {
    int unmappable = 0;
    job_.bodyText = qt::ToSjis(editor_->toPlainText(), &unmappable);
    takenTextFits_ = unmappable == 0;
    shownBody_ = job_.bodyText;
    editorEdited_ = false;
  }
  job_.bodyModified = editor_->document()->isModified();
  job_.autoQuit = autoQuitBox_->isChecked();
  job_.titleIn = titleInBox_->isChecked();
}

void CVelkaroView::JobChanged() {
  pushing_ = true;
  if (job_.bodyText != shownBody_) {
    editor_->setPlainText(qt::FromSjis(job_.bodyText));
    shownBody_ = job_.bodyText;
    takenTextFits_ = false;
    editorEdited_ = false;
  }
  // Typing that has not been taken yet keeps its modified mark.
  if (!editorEdited_) editor_->document()->setModified(job_.bodyModified);
  pathField_->setText(PathToQt(job_.bodyFilePath));
  autoQuitBox_->setChecked(job_.autoQuit);
  titleInBox_->setChecked(job_.titleIn);
  const bool recipientsChanged = job_.recipientLines != shownRecipients_;
  if (recipientsChanged) ShowRecipientRows();
  // A file per recipient shows how many recipients find theirs, which
  // changes with the recipients.
  bool anyPersonal = false;
  for (std::size_t i = 0; i < job_.attachments.size() && !anyPersonal; ++i) {
    anyPersonal = job_.IsPersonalAttachment(i);
  }
  if (!SameRows(job_.attachments, shownAttachments_) || (recipientsChanged && anyPersonal)) {
    ShowAttachmentRows();
  }
  sendButton_->setText(qt::FromSjis(job_.sendButtonCaption));
  sendButton_->setEnabled(job_.sendButtonEnabled);
  const bool testable = TestSendAvailable();
  testSendButton_->setEnabled(testable);
  if (testSendAction_ != nullptr) testSendAction_->setEnabled(testable);
  window()->setWindowTitle(MainWindowTitle(job_.bodyFilePath));
  window()->setWindowModified(job_.bodyModified || editor_->document()->isModified());
  pushing_ = false;
}

// Every line of the recipient text gets a row, also one without a name or
// an address, so that row i is always line i (removing a row removes its
// line) and the list shows exactly whom the run will send to.
void CVelkaroView::ShowRecipientRows() {
  recipientList_->clear();
  Zentool z;
  const int count = z.ZenCountLines(job_.recipientLines);
  QList<QTreeWidgetItem*> rows;
  for (int i = 0; i < count; ++i) {
    const std::string line = z.ZenGetLine(job_.recipientLines, i);
    rows << new QTreeWidgetItem(QStringList{qt::FromSjis(z.ZenGetTabItem(line, 1)),
                                            qt::FromSjis(z.ZenGetTabItem(line, 3)),
                                            qt::FromSjis(z.ZenGetTabItem(line, 2)), QString()});
  }
  recipientList_->addTopLevelItems(rows);
  shownRecipients_ = job_.recipientLines;
  recipientHit_ = false;
}

QString CVelkaroView::AttachmentNameText(std::size_t row) const {
  if (row >= job_.attachments.size()) return {};
  const QString name = PathToQt(job_.attachments[row].name);
  if (!job_.IsPersonalAttachment(row)) return name;
  return name + QStringLiteral("  [個別 %1/%2]")
                    .arg(job_.PersonalFilesFound(row))
                    .arg(Zentool().ZenCountLines(job_.recipientLines));
}

bool CVelkaroView::TestSendAvailable() const {
  return !job_.Running() && Zentool().ZenCountLines(job_.recipientLines) > 0;
}

void CVelkaroView::SetTestSendAction(QAction* action) {
  testSendAction_ = action;
  if (action != nullptr) action->setEnabled(TestSendAvailable());
}

void CVelkaroView::ShowAttachmentRows() {
  attachmentList_->clear();
  QList<QTreeWidgetItem*> rows;
  for (std::size_t i = 0; i < job_.attachments.size(); ++i) {
    const AttachmentRow& row = job_.attachments[i];
    auto* item =
        new QTreeWidgetItem(QStringList{AttachmentNameText(i), PathToQt(row.folder), QString()});
    if (job_.IsPersonalAttachment(i)) {
      item->setToolTip(0,
                       QStringLiteral("送信先ごとのファイル: ") + PathToQt(job_.AttachmentPath(i)));
    }
    rows << item;
  }
  attachmentList_->addTopLevelItems(rows);
  shownAttachments_ = job_.attachments;
  attachmentHit_ = false;
}

void CVelkaroView::RegisterCommands(CommandTable& table) {
  struct FormCommand {
    int id = 0;
    void (CVelkaroView::*run)() = nullptr;
  };
  static constexpr FormCommand kFormCommands[] = {
      {kCmdNewBody, &CVelkaroView::NewBodyCommand},
      {kCmdOpenBody, &CVelkaroView::OpenBody},
      {kCmdSaveBody, &CVelkaroView::SaveBody},
      {kCmdSaveBodyAs, &CVelkaroView::SaveBodyAsCommand},
      {kCmdOpenSetup, &CVelkaroView::OpenSetupFile},
      {kCmdWriteSetup, &CVelkaroView::WriteSetupFile},
      {kCmdAddRecipients, &CVelkaroView::AddRecipients},
      {kCmdRemoveRecipient, &CVelkaroView::RemoveClickedRecipient},
      {kCmdRemoveAllRecipients, &CVelkaroView::RemoveAllRecipients},
      {kCmdAddAttachments, &CVelkaroView::AddAttachments},
      {kCmdRemoveAttachment, &CVelkaroView::RemoveClickedAttachment},
      {kCmdRemoveAllAttachments, &CVelkaroView::RemoveAllAttachments},
      {kCmdAddPersonalAttachment, &CVelkaroView::AddPersonalAttachment},
      {kCmdPreview, &CVelkaroView::Preview},
      {kCmdCheckBeforeSending, &CVelkaroView::CheckBeforeSendingCommand},
      {kCmdSettings, &CVelkaroView::SettingsSheet},
      {kCmdServer, &CVelkaroView::ServerDialog},
      {kCmdEditAddressBook, &CVelkaroView::EditAddressBook},
      {kCmdDetails, &CVelkaroView::Details},
  };
  for (const FormCommand& command : kFormCommands) {
    table.Register(command.id, [this, command] { RunFormCommand(command.id, command.run); });
  }
  commands_ = &table;
}

void CVelkaroView::RunFormCommand(int id, void (CVelkaroView::*command)()) {
  PullFromControls();
  const std::string bodyBefore = job_.bodyFilePath;
  (this->*command)();
  // Saving under another name keeps the text, and so the resumed run.
  if (id != kCmdSaveBody && id != kCmdSaveBodyAs) ForgetResumeIfBodyReplaced(bodyBefore);
  JobChanged();
}

void CVelkaroView::ForgetResumeIfBodyReplaced(const std::string& bodyBefore) {
  // Another body is another run: sending it must not take up (and mark)
  // the unfinished run whose rest the form was loaded with.
  if (!job_.resumesJournal.empty() && job_.bodyFilePath != bodyBefore) ForgetResumedRun(job_);
}

void CVelkaroView::OnExitButton() {
  // During a run the button is the run's stop button.
  if (job_.Running()) {
    job_.RequestStop();
    return;
  }
  CurrentPlatform().PostCloseRequest();
}

bool CVelkaroView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == editor_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::ControlModifier) {
      if (!editor_->isReadOnly()) editor_->insertPlainText(QStringLiteral("\t"));
      return true;
    }
    return QWidget::eventFilter(watched, event);
  }
  const bool bodyTarget = watched == editor_->viewport() || watched == pathField_;
  const bool attachmentTarget = watched == attachmentList_->viewport();
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
      if (watched == recipientList_->viewport()) {
        recipientHit_ = recipientList_->indexAt(at).isValid();
      } else if (attachmentTarget) {
        attachmentHit_ = attachmentList_->indexAt(at).isValid();
      }
      break;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if ((bodyTarget || attachmentTarget) && !DroppedFiles(drag->mimeData()).empty()) {
        drag->acceptProposedAction();
        return true;
      }
      break;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const std::vector<std::string> files = DroppedFiles(drop->mimeData());
      if ((bodyTarget || attachmentTarget) && !files.empty()) {
        PullFromControls();
        const std::string bodyBefore = job_.bodyFilePath;
        DropFiles(watched, files);
        ForgetResumeIfBodyReplaced(bodyBefore);
        JobChanged();
        drop->acceptProposedAction();
        return true;
      }
      break;
    }
    default: break;
  }
  return QWidget::eventFilter(watched, event);
}

void CVelkaroView::DropFiles(QObject* target, const std::vector<std::string>& files) {
  if (target == attachmentList_->viewport()) {
    AddAttachmentFiles(files);
    return;
  }
  // Only the first file can be the body.
  if (!OfferToSaveChangedBody()) return;
  LoadBodyReported(files.front());
}

bool CVelkaroView::BodyFitsShiftJis(bool sending) {
  // The text just taken converted without a loss: no need to go through a
  // large body a second time before the run starts.
  if (!editorEdited_ && takenTextFits_) return true;
  const QString message =
      UnmappableBodyMessage(editor_->toPlainText(), sending ? BodyUse::Send : BodyUse::Save);
  if (message.isEmpty()) return true;
  ShowMessageText(message, MsgButtons::Ok, MsgIcon::Exclamation);
  return false;
}

// --- list commands ---

void CVelkaroView::AddRecipients() {
  std::optional<std::string> lines = RunAddressSelectDialog(window(), doc_.addressBook);
  if (!lines || lines->empty()) return;
  // A last line without its line end would not count as a recipient.
  if (lines->size() < 2 || lines->compare(lines->size() - 2, 2, "\r\n") != 0) *lines += "\r\n";
  job_.recipientLines += *lines;
  job_.RebuildRecipientList();
}

void CVelkaroView::RemoveClickedRecipient() {
  const int mark = recipientList_->currentIndex().row();
  if (mark < 0 || !recipientHit_) return;
  job_.recipientLines = Zentool().ZenDeleteLine(job_.recipientLines, mark);
  recipientHit_ = false;
  job_.RebuildRecipientList();
}

void CVelkaroView::RemoveAllRecipients() {
  job_.recipientLines.clear();
  job_.RebuildRecipientList();
}

void CVelkaroView::RemoveClickedAttachment() {
  const int mark = attachmentList_->currentIndex().row();
  if (mark < 0 || !attachmentHit_ || mark >= static_cast<int>(job_.attachments.size())) return;
  job_.attachments.erase(job_.attachments.begin() + mark);
  attachmentHit_ = false;
  job_.NotifyChanged();
}

void CVelkaroView::RemoveAllAttachments() {
  job_.attachments.clear();
  attachmentHit_ = false;
  job_.NotifyChanged();
}

// --- the other windows ---

void CVelkaroView::Preview() {
  // The preview shows the text as the send will take it, and warns of
  // what the send would refuse in the very words of the refusal.
  RunPreviewDialog(window(), job_, doc_.settings,
                   UnmappableBodyMessage(editor_->toPlainText(), BodyUse::Preview));
}

// A message box with thousands of lines helps nobody: the first findings
// are shown, the rest counted (velkaro-send --check lists them all).
constexpr std::size_t kShownFindings = 40;

void CVelkaroView::CheckBeforeSendingCommand() {
  const std::vector<CheckFinding> findings = CheckBeforeSending(job_, doc_.addressBook);
  if (findings.empty()) {
    CurrentPlatform().MessageBox(Sjis("問題は見つかりませんでした。"), MsgButtons::Ok,
                                 MsgIcon::Information);
    return;
  }
  CurrentPlatform().MessageBox(Sjis("送信前チェックで ") + std::to_string(findings.size()) +
                                   Sjis(" 件の問題が見つかりました。\r\n\r\n") +
                                   FormatFindings(findings, kShownFindings),
                               MsgButtons::Ok, MsgIcon::Exclamation);
}

void CVelkaroView::SettingsSheet() {
  if (RunSettingsSheet(window(), doc_.settings)) SaveSettingsReported();
}

void CVelkaroView::ServerDialog() {
  if (RunServerDialog(window(), doc_.settings)) SaveSettingsReported();
}

void CVelkaroView::SaveSettingsReported() {
  const auto report = [](const std::string& path) {
    CurrentPlatform().MessageBox(
        Sjis("設定ファイルを保存できませんでした。\r\n") + Utf8ToSjis(path), MsgButtons::Ok,
        MsgIcon::Exclamation);
  };
  // The server dialog changes both files; each is written whole, so one
  // that fails keeps its old contents and the other is still written.
  if (doc_.settings.SaveSettings() != 0) report(doc_.settings.SettingsFilePath());
  if (doc_.settings.SaveIni() != 0) report(doc_.settings.ini.Path());
}

void CVelkaroView::EditAddressBook() {
  const std::optional<std::string> edited = RunAddressEditDialog(window(), doc_.addressBook);
  if (!edited) return;
  doc_.addressBook = *edited;
  const std::string path = doc_.AddressBookPath();
  if (doc_.addressBookUnmappable > 0) {
    // The file had characters the book could only read as 〓; writing it
    // back would lose them for good, so that is the user's decision.
    const std::string question =
        Sjis("アドレス帳ファイルには Shift_JIS で表せない文字が ") +
        std::to_string(doc_.addressBookUnmappable) +
        Sjis(
            " 文字あり、〓 に置き換えて読み込んでいます。\r\n保存すると元の文字は失われます。"
            "保存しますか?\r\n") +
        Utf8ToSjis(path);
    if (CurrentPlatform().MessageBox(question, MsgButtons::YesNo, MsgIcon::Question) !=
        MsgAnswer::Yes) {
      return;
    }
  }
  if (SaveAddressBook(path, doc_.addressBook) != 0) {
    CurrentPlatform().MessageBox(
        Sjis("アドレス帳ファイルを保存できませんでした。\r\n") + Utf8ToSjis(path), MsgButtons::Ok,
        MsgIcon::Exclamation);
    return;
  }
  doc_.addressBookUnmappable = 0;
}

void CVelkaroView::Details() {
  // The transcripts say what went out; the line a server refused a mail
  // with is what the user needs most, so every refusal the transcripts do
  // not already hold is named after them.
  std::string text = job_.DetailsText();
  std::string refusals;
  for (const RecipientResult& r : job_.results) {
    if (r.outcome == MailOutcome::Sent || r.reply.empty()) continue;
    if (text.find(r.reply) != std::string::npos) continue;
    refusals += "  " + r.address + ": " + r.reply + "\r\n";
  }
  if (!refusals.empty()) text += Sjis("\r\n★サーバの拒否応答\r\n") + refusals;
  CurrentPlatform().MessageBox(text, MsgButtons::Ok, MsgIcon::Information);
}

}  // namespace velkaro::ui
