#include "ui/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScreen>
#include <QStatusBar>

#include "core/encoding.h"
#include "core/zentool.h"
#include "platform/qt/fonts.h"
#include "platform/qt/qt_platform.h"
#include "ui/dialogs/dialogs.h"
#include "ui/dialogs/result_dialog.h"
#include "ui/print_page.h"
#include "ui/resume_offer.h"

namespace velkaro::ui {
namespace {

struct MenuEntry {
  int id;  // 0: a separator
  const char* text;
  const char* shortcut;
};

struct MenuPopup {
  const char* title;
  std::vector<MenuEntry> entries;
};

const std::vector<MenuPopup>& MenuLayout() {
  static const std::vector<MenuPopup> menus = {
      {"ﾌｧｲﾙ(&F)",
       {{kCmdNewBody, "本文新規作成(&N)", "Ctrl+N"},
        {kCmdOpenBody, "本文テキスト開く(&O)...", "Ctrl+O"},
        {0, nullptr, nullptr},
        {kCmdSaveBody, "本文上書き保存(&S)", "Ctrl+S"},
        {kCmdSaveBodyAs, "本文名前を付けて保存(&A)...", nullptr},
        {0, nullptr, nullptr},
        {kCmdOpenSetup, "送信セットアップファイル開く(&D)", nullptr},
        {kCmdWriteSetup, "送信セットアップファイル作成(&H)", nullptr},
        {0, nullptr, nullptr},
        {kCmdPrint, "印刷(&P)...", "Ctrl+P"},
        {kCmdPrintPreview, "印刷ﾌﾟﾚﾋﾞｭｰ(&V)", nullptr},
        {kCmdPrintSetup, "ﾌﾟﾘﾝﾀの設定(&R)...", nullptr},
        {0, nullptr, nullptr},
        {kCmdOpenFolder, "インストール先フォルダを開く(&F)", nullptr},
        {kCmdOpenFolderAndExit, "インストール先フォルダを開き終了(&Z)", nullptr},
        {0, nullptr, nullptr},
        {kCmdExit, "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", nullptr}}},
      {"操作(&O)",
       {{kCmdSend, "送信(&S)", nullptr},
        {kCmdTestSend, "テスト送信(&Y)...", nullptr},
        {0, nullptr, nullptr},
        {kCmdAddRecipients, "送信先アドレス追加(&A)", nullptr},
        {kCmdRemoveRecipient, "送信先アドレス選択して取消し(&C)", nullptr},
        {kCmdRemoveAllRecipients, "送信先アドレス全て取消し(&D)", nullptr},
        {0, nullptr, nullptr},
        {kCmdAddAttachments, "添付ファイル追加(&T)", nullptr},
        {kCmdAddPersonalAttachment, "個別の添付ファイルを追加(&I)...", nullptr},
        {kCmdRemoveAttachment, "添付ファイル選択して取消し(&E)", nullptr},
        {kCmdRemoveAllAttachments, "添付ファイル全て取消し(&F)", nullptr},
        {0, nullptr, nullptr},
        {kCmdPreview, "差替え処理後の本文確認(&V)", nullptr},
        {kCmdCheckBeforeSending, "送信前チェック(&K)", nullptr},
        {kCmdShowResults, "送信結果(&R)", nullptr}}},
      {"設定(&S)",
       {{kCmdSettings, "環境設定(&K)", nullptr},
        {kCmdServer, "メールサーバ設定(&M)", nullptr},
        {kCmdEditAddressBook, "アドレス帳の編集", nullptr}}},
      {"ﾍﾙﾌﾟ(&H)",
       {{kCmdVersion, "Velkaro のﾊﾞｰｼﾞｮﾝ情報(&A)...", nullptr},
        {kCmdSupportPage, "サポートWEBページ", nullptr},
        {0, nullptr, nullptr},
        {kCmdDetails, "送信過程詳細", nullptr}}},
  };
  return menus;
}

}  // namespace

CMainFrame::CMainFrame(CVelkaroDoc& doc)
    : doc_(doc), view_(new CVelkaroView(doc, this)), statusPane_(new QLabel(this)) {
  setWindowTitle(QStringLiteral("Velkaro"));
  setCentralWidget(view_);
  view_->RegisterCommands(commands_);
  RegisterCommands();
  CreateMenus();
  statusPane_->setTextFormat(Qt::PlainText);
  // Long texts are cut, they never widen the window.
  statusPane_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  statusPane_->setMinimumWidth(0);
  statusBar()->addWidget(statusPane_, 1);
  statusPane_->setText(QStringLiteral("レディ"));
  // No minimum size: the form's resize rules go below the start size too.
  setMinimumSize(1, 1);
  CurrentPlatform().SetCommandTarget(this);
}

CMainFrame::~CMainFrame() {
  Platform& platform = CurrentPlatform();
  platform.StopTimer(this, kExitWaitTimerId);
  platform.SetCommandTarget(nullptr);
  if (auto* qtPlatform = dynamic_cast<qt::QtPlatform*>(&platform)) {
    qtPlatform->ForgetTimerTarget(this);
  }
}

void CMainFrame::CreateMenus() {
  for (const MenuPopup& popup : MenuLayout()) {
    QMenu* menu = menuBar()->addMenu(QString::fromUtf8(popup.title));
    for (const MenuEntry& entry : popup.entries) {
      if (entry.id == 0) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(QString::fromUtf8(entry.text));
      action->setData(entry.id);
      if (entry.shortcut != nullptr) {
        action->setShortcut(QKeySequence(QString::fromLatin1(entry.shortcut)));
      }
      const int id = entry.id;
      connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
      // An entry nothing carries out (the support web page: the program
      // has none to open) is shown but cannot be chosen.
      action->setEnabled(commands_.Has(id));
      actions_[id] = action;
    }
  }
  // Enabled only while a test send can start, like the form's button.
  view_->SetTestSendAction(CommandAction(kCmdTestSend));
}

QAction* CMainFrame::CommandAction(int id) const {
  const auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

std::vector<std::string> CMainFrame::InitialUpdate() {
  // The window takes the form's size (with the menu and status bar), also
  // on a small screen, where adjustSize() would cut it to two thirds.
  resize(sizeHint());
  MoveToStoredPosition();
  return view_->OnInitialUpdate();
}

ResumeOffer CMainFrame::OfferUnfinishedRun() {
  return ui::OfferUnfinishedRun(*view_, doc_);
}

void CMainFrame::MoveToStoredPosition() {
  QPoint at(doc_.settings.record.windowLeft, doc_.settings.record.windowTop);
  // A position from a screen that is gone would leave the window out of
  // reach.
  if (QGuiApplication::screenAt(at) == nullptr) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      at = screen->availableGeometry().topLeft();
    }
  }
  move(at);
}

void CMainFrame::ShowStatus(const QString& text) {
  statusPane_->setText(text);
  if (statusPane_->isVisible()) statusPane_->repaint();
}

QString CMainFrame::StatusText() const {
  return statusPane_->text();
}

void CMainFrame::RegisterCommands() {
  commands_.Register(kCmdSend, [this] { OnSend(); });
  commands_.Register(kCmdTestSend, [this] { OnTestSend(); });
  commands_.Register(kCmdExit, [this] { OnExitCommand(); });
  commands_.Register(kCmdOpenFolder, [this] { OpenProgramFolder(); });
  commands_.Register(kCmdOpenFolderAndExit, [this] {
    OpenProgramFolder();
    Zentool().Wait(500);
    CurrentPlatform().PostCommand(kCmdExit);
  });
  commands_.Register(kCmdPrint, [this] { Print(); });
  commands_.Register(kCmdPrintPreview, [this] { PrintPreview(); });
  commands_.Register(kCmdPrintSetup, [this] { PrintSetup(); });
  commands_.Register(kCmdVersion, [this] { RunVersionDialog(this); });
  commands_.Register(kCmdShowResults, [this] { ReopenRunResults(); });
}

void CMainFrame::OnCommand(int commandId) {
  if (closed_) return;
  commands_.Dispatch(commandId);
}

void CMainFrame::OnSend() {
  SendJob& job = view_->job();
  // One run at a time, whether the second comes from the menu or a timer.
  if (job.Running()) {
    QApplication::beep();
    return;
  }
  view_->PullFromControls();
  if (!view_->BodyFitsShiftJis(true)) return;
  const int result = job.RunSendJob();
  // The job's last word came while its connection was still active: what
  // depends on the run having ended (the test send button) is shown now.
  view_->JobChanged();
  // A run past its checks has marked the run it resumed as taken up, and
  // its own journal holds the rest: the next run is a new one.
  if (result >= 0 && result != run_result::kChecksFailed) ForgetResumedRun(job);
  if (closeAfterRun_) {
    closeAfterRun_ = false;
    CurrentPlatform().PostCloseRequest();
    return;
  }
  // A successful run with the automatic quit has already asked for the
  // exit; a run the checks refused sent nothing worth a list.
  const bool quitting = job.autoQuit && result == run_result::kSent;
  if (quitting || result < 0 || result == run_result::kChecksFailed || job.results.empty()) {
    return;
  }
  ShowRunResults();
}

void CMainFrame::OnTestSend() {
  view_->PullFromControls();
  const int result = view_->TestSend();
  view_->JobChanged();
  // The window was closed while the test mail went out: the user stopped
  // it and needs no report of that.
  if (closeAfterRun_) {
    closeAfterRun_ = false;
    CurrentPlatform().PostCloseRequest();
    return;
  }
  view_->ReportTestSend(result);
}

void CMainFrame::ShowRunResults() {
  const SendJob& job = view_->job();
  if (resultDialog_ == nullptr) resultDialog_ = new dialogs::ResultDialog(this, view_->job());
  resultDialog_->ShowResults(job.results, job.resultCsvPath);
  // A list still open from an earlier run comes to the front; a hidden
  // one comes up there anyway.
  if (resultDialog_->isVisible()) resultDialog_->raise();
  resultDialog_->show();
}

void CMainFrame::ReopenRunResults() {
  if (resultDialog_ == nullptr || resultDialog_->Results().empty()) {
    CurrentPlatform().MessageBox(Sjis("まだ送信していません。"), MsgButtons::Ok,
                                 MsgIcon::Information);
    return;
  }
  if (resultDialog_->isVisible()) resultDialog_->raise();
  resultDialog_->show();
  resultDialog_->activateWindow();
}

void CMainFrame::OnExitCommand() {
  doc_.exitWithoutQuestion = true;
  SendJob& job = view_->job();
  if (job.Running()) {
    // The run is asked to stop and gets a moment for it; the window then
    // closes as soon as the run has really ended (never under it).
    job.RequestStop();
    CurrentPlatform().StartTimer(this, kExitWaitTimerId, kExitWaitMs);
    return;
  }
  CurrentPlatform().PostCloseRequest();
}

void CMainFrame::OnTimer(int id) {
  CurrentPlatform().StopTimer(this, id);
  if (id == kExitWaitTimerId) CurrentPlatform().PostCloseRequest();
}

void CMainFrame::OnCloseRequest() {
  close();
}

bool CMainFrame::AskExitQuestion() {
  const std::string question = Sjis(
      "Velkaro を終了しますか？\n\n"
      "  　　　[OK]:  プログラムを終了します。\n"
      "[キャンセル]:  操作を取り消します。\n\n");
  return CurrentPlatform().MessageBox(question, MsgButtons::OkCancel, MsgIcon::Question) ==
         MsgAnswer::Ok;
}

bool CMainFrame::AskStopRunQuestion() {
  return CurrentPlatform().MessageBox(Sjis("送信中です。中止して終了しますか？"), MsgButtons::YesNo,
                                      MsgIcon::Question) == MsgAnswer::Yes;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (closed_) {
    event->accept();
    return;
  }
  view_->PullFromControls();
  const bool ask = doc_.settings.record.confirmExit == 1 && !doc_.exitWithoutQuestion;
  if (view_->job().Running()) {
    // The form cannot go while the run works on it: the run is stopped and
    // the window closes when it has returned. Stopping costs the mail on
    // the wire, so the user decides, whatever the exit setting says.
    event->ignore();
    // After the exit command the user has already said so.
    if (!doc_.exitWithoutQuestion && !AskStopRunQuestion()) return;
    doc_.exitWithoutQuestion = true;
    closeAfterRun_ = true;
    view_->job().RequestStop();
    return;
  }
  if (ask && !AskExitQuestion()) {
    event->ignore();
    return;
  }
  if (!view_->AskToSaveBeforeExit()) {
    // The text could not be saved: the program stays, and a later close
    // asks again from the start.
    doc_.exitWithoutQuestion = false;
    event->ignore();
    return;
  }
  view_->JobChanged();
  closed_ = true;
  if (resultDialog_ != nullptr) resultDialog_->close();
  StoreWindowPosition();
  event->accept();
}

void CMainFrame::StoreWindowPosition() {
  doc_.settings.record.windowLeft = x();
  doc_.settings.record.windowTop = y();
  if (doc_.settings.SaveSettings() != 0) {
    CurrentPlatform().MessageBox(Sjis("設定ファイルを保存できませんでした。\r\n") +
                                     Utf8ToSjis(doc_.settings.SettingsFilePath()),
                                 MsgButtons::Ok, MsgIcon::Exclamation);
  }
}

void CMainFrame::OpenProgramFolder() {
  if (!CurrentPlatform().ShellOpen(doc_.settings.GetProgramFolder())) {
    CurrentPlatform().MessageBox(Sjis("ファイル管理ツール(Exploreなど)が起動できませんでした。"),
                                 MsgButtons::Ok, MsgIcon::Exclamation);
  }
}

// --- printing ---

QPrinter& CMainFrame::Printer() {
  // Made on first use: finding the printers can take a moment.
  if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return *printer_;
}

void CMainFrame::Print() {
  view_->PullFromControls();
  QPrintDialog dialog(&Printer(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  PrintBody(Printer());
}

void CMainFrame::PrintPreview() {
  view_->PullFromControls();
  QPrintPreviewDialog dialog(&Printer(), this);
  connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
          [this](QPrinter* printer) { PrintBody(*printer); });
  dialog.exec();
}

void CMainFrame::PrintSetup() {
  QPageSetupDialog dialog(&Printer(), this);
  dialog.exec();
}

void CMainFrame::PrintBody(QPrinter& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) {
    CurrentPlatform().MessageBox(Sjis("印刷を開始できませんでした。"), MsgButtons::Ok,
                                 MsgIcon::Exclamation);
    return;
  }
  const SendJob& job = view_->job();
  DrawBodyPages(painter, printer,
                LayOutBodyPages(job.bodyText, job.bodyFilePath, PageHeightUnits(printer)));
  painter.end();
}

}  // namespace velkaro::ui
