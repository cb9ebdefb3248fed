// The main form: the body editor with its file path, the recipient and
// attachment lists, the two run options and the buttons. It owns the send
// job and is its view: commands copy the controls into the job first and
// show the job again when they are done.
#pragma once

#include <QSize>
#include <QString>
#include <QWidget>
#include <map>
#include <string>
#include <vector>

#include "job/send_job.h"
#include "platform/platform.h"
#include "ui/command_table.h"
#include "ui/form_layout.h"
#include "ui/velkaro_doc.h"

class QAction;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace velkaro::ui {

// Menu command ids (those of the menu resource the program always had).
enum Command : int {
  kCmdNewBody = 57600,
  kCmdOpenBody = 57601,
  kCmdSaveBody = 57603,
  kCmdSaveBodyAs = 57604,
  kCmdOpenSetup = 32787,
  kCmdWriteSetup = 32786,
  kCmdPrint = 57607,
  kCmdPrintPreview = 57609,
  kCmdPrintSetup = 57606,
  kCmdOpenFolder = 32780,
  kCmdOpenFolderAndExit = 32781,
  // Also posted by the send job (automatic send and quit), so the platform
  // defines them.
  kCmdExit = kCommandExit,
  kCmdSend = kCommandSend,
  kCmdAddRecipients = 32774,
  kCmdRemoveRecipient = 32783,
  kCmdRemoveAllRecipients = 32775,
  kCmdAddAttachments = 32779,
  kCmdRemoveAttachment = 32784,
  kCmdRemoveAllAttachments = 32776,
  kCmdPreview = 32782,
  kCmdCheckBeforeSending = 32793,
  kCmdShowResults = 32794,
  kCmdSettings = 32771,
  kCmdServer = 32772,
  kCmdEditAddressBook = 32773,
  kCmdVersion = 57664,
  kCmdSupportPage = 32791,
  kCmdDetails = 32792,
  kCmdTestSend = 32795,
  kCmdAddPersonalAttachment = 32796,
};

// What became of an attempt to save the body.
enum class SaveOutcome {
  Saved,
  NotSaved,  // the user declined or cancelled
  // Nothing was written and the user has been told why (a write error, or
  // characters Shift_JIS cannot hold): the text must not be thrown away.
  Failed,
};

class CVelkaroView : public QWidget, public SendJobView {
 public:
  explicit CVelkaroView(CVelkaroDoc& doc, QWidget* parent = nullptr);
  ~CVelkaroView() override;

  // The first call lays the form out for resizing, applies the command line
  // and starts the automatic send when it asks for one; it returns the body
  // files named on the command line that could not be opened. Later calls
  // load the document's pending body file.
  std::vector<std::string> OnInitialUpdate();

  // Registers the form's commands into the window's table; the form's own
  // buttons run them from there too.
  void RegisterCommands(CommandTable& table);

  // The save questions of the exit flow. False when the program must keep
  // running because the changed text could not be saved.
  bool AskToSaveBeforeExit();
  // Whether the editor's text can be written as Shift_JIS; if not, tells
  // the user which characters stand in the way (`sending` chooses between
  // "send" and "save" in the message).
  bool BodyFitsShiftJis(bool sending);

  SendJob& job() { return job_; }
  QWidget* Control(int id) const;
  QPlainTextEdit* Editor() const { return editor_; }
  QTreeWidget* RecipientList() const { return recipientList_; }
  QTreeWidget* AttachmentList() const { return attachmentList_; }
  QPushButton* SendButton() const { return sendButton_; }
  QPushButton* TestSendButton() const { return testSendButton_; }
  // Whether a test send can start: no run active, at least one recipient.
  bool TestSendAvailable() const;
  // The menu entry of the test send, kept enabled like the button.
  void SetTestSendAction(QAction* action);
  // The text of attachment row `row` as the list shows it: the name, and
  // for a file per recipient how many of them find theirs ("個別 k/n").
  QString AttachmentNameText(std::size_t row) const;
  // The size the form was designed with, in pixels of its font.
  QSize FormSize() const { return formSize_; }
  // The rectangle a control had at the start size.
  QRect BaseRect(int id) const;

  // --- SendJobView ---
  void PullFromControls() override;
  void JobChanged() override;

  // --- body and attachment commands ---
  void NewBodyCommand();
  void OpenBody();
  void SaveBody();
  void SaveBodyAsCommand();
  SaveOutcome SaveBodyAs();
  void AddAttachments();
  void AddAttachmentFiles(const std::vector<std::string>& files);
  void OpenSetupFile();
  void WriteSetupFile();

  // --- list commands ---
  void AddRecipients();
  void RemoveClickedRecipient();
  void RemoveAllRecipients();
  void RemoveClickedAttachment();
  void RemoveAllAttachments();
  // Asks for a path with placeholder words (a file per recipient).
  void AddPersonalAttachment();
  // Asks for the address and the recipient, then sends the one mail; the
  // run's result code, -1 when nothing was sent (cancelled, or a run is
  // active). The main window's command: it closes the window afterwards
  // when that was asked for during the send, else reports the result.
  int TestSend();
  // A failed test send in a message box, with the reason when known.
  void ReportTestSend(int result);

 protected:
  QSize sizeHint() const override { return formSize_; }
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void SetUpList(QTreeWidget* list, const std::vector<std::pair<QString, int>>& columns);
  void ApplyResizeRules();
  void ShowRecipientRows();
  void ShowAttachmentRows();
  void OnExitButton();
  // Asks whether a changed body is to be saved before it is replaced;
  // false when it must be kept (its save failed).
  bool OfferToSaveChangedBody();
  bool ClearBodyAfterQuestion();
  bool LoadBodyReported(const std::string& path);
  // Drops the resumed run (see resume_offer.h) when a command put another
  // body file in the form than `bodyBefore`.
  void ForgetResumeIfBodyReplaced(const std::string& bodyBefore);
  SaveOutcome WriteBody(const std::string& path, bool noQuestion);
  void DropFiles(QObject* target, const std::vector<std::string>& files);
  void Preview();
  void CheckBeforeSendingCommand();
  void SettingsSheet();
  void ServerDialog();
  void EditAddressBook();
  void Details();
  void SaveSettingsReported();
  // Runs a form command on the controls' current state and shows the job
  // again afterwards.
  void RunFormCommand(int id, void (CVelkaroView::*command)());

  CVelkaroDoc& doc_;
  SendJob job_;

  std::map<int, QWidget*> controls_;
  QPushButton* openBodyButton_ = nullptr;
  QLineEdit* pathField_ = nullptr;
  QPushButton* exitButton_ = nullptr;
  QPlainTextEdit* editor_ = nullptr;
  QPushButton* sendButton_ = nullptr;
  QPushButton* testSendButton_ = nullptr;
  QAction* testSendAction_ = nullptr;
  QCheckBox* autoQuitBox_ = nullptr;
  QCheckBox* titleInBox_ = nullptr;
  QPushButton* previewButton_ = nullptr;
  QPushButton* addAttachmentsButton_ = nullptr;
  QPushButton* removeAttachmentButton_ = nullptr;
  QPushButton* anchor_ = nullptr;
  QPushButton* addRecipientsButton_ = nullptr;
  QPushButton* removeRecipientButton_ = nullptr;
  QTreeWidget* attachmentList_ = nullptr;
  QTreeWidget* recipientList_ = nullptr;

  QSize formSize_;
  std::map<int, QRect> baseRects_;  // relative to the layout anchor
  bool initialized_ = false;

  // What the controls show, so that showing the job again touches only
  // what changed (and keeps the caret, the undo history and the lists'
  // selection otherwise).
  std::string shownBody_;
  std::string shownRecipients_;
  std::vector<AttachmentRow> shownAttachments_;
  bool editorEdited_ = false;  // typed into since the text was last taken
  // The text last taken had no character Shift_JIS lacks; says nothing
  // once the editor shows another text.
  bool takenTextFits_ = false;
  bool pushing_ = false;
  // The last click on the list hit a row.
  bool recipientHit_ = false;
  bool attachmentHit_ = false;
  // The address the last test mail of this session went to (Shift_JIS).
  std::string testAddress_;
  const CommandTable* commands_ = nullptr;
};

}  // namespace velkaro::ui
