// The main window: the menu, the status bar whose first pane shows every
// progress and result text, the form inside, and the way out (the exit
// question, the save questions, the window position and the settings
// written at the end). Commands posted through the platform arrive here.
#pragma once

#include <QMainWindow>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "ui/command_table.h"
#include "ui/resume_offer.h"
#include "ui/velkaro_doc.h"
#include "ui/velkaro_view.h"

class QAction;
class QLabel;
class QPrinter;

namespace velkaro::ui {

namespace dialogs {
class ResultDialog;
}  // namespace dialogs

class CMainFrame : public QMainWindow, public CommandTarget, public TimerTarget {
 public:
  // The grace the exit command gives a stopping run before it closes the
  // window (timer ids 103, 105 and 220 belong to the job).
  static constexpr int kExitWaitTimerId = 104;
  static constexpr int kExitWaitMs = 3000;

  // Registers itself as the platform's command target.
  explicit CMainFrame(CVelkaroDoc& doc);
  ~CMainFrame() override;

  // Fits the window to the form, moves it to the stored position and runs
  // the form's first initial update (the command line); the body files of
  // the command line that could not be opened.
  std::vector<std::string> InitialUpdate();
  // Once the window is up: offers to take up the newest send run that
  // ended without finishing (see resume_offer.h).
  ResumeOffer OfferUnfinishedRun();

  // Shows the text in the status bar's first pane and paints it at once:
  // a send run does not return to the event loop between its texts.
  void ShowStatus(const QString& text);
  QString StatusText() const;
  CVelkaroView* View() const { return view_; }
  // The menu entry of a command id (null for none).
  QAction* CommandAction(int id) const;
  // Every command of the window and its form by id.
  const CommandTable& Commands() const { return commands_; }
  // The result list of the last run; null before the first run showed it.
  dialogs::ResultDialog* ResultList() const { return resultDialog_; }

  // --- CommandTarget ---
  void OnCommand(int commandId) override;
  void OnCloseRequest() override;
  // --- TimerTarget ---
  void OnTimer(int id) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void RegisterCommands();
  void CreateMenus();
  void OnSend();
  void OnTestSend();
  // Refreshes the result list with the job's last run and shows it.
  void ShowRunResults();
  // The result list again, or a message when no run has shown one yet.
  void ReopenRunResults();
  void OnExitCommand();
  void OpenProgramFolder();
  bool AskExitQuestion();
  // The close box during a run: stop it and end the program?
  bool AskStopRunQuestion();
  void MoveToStoredPosition();
  void StoreWindowPosition();
  QPrinter& Printer();
  void Print();
  void PrintPreview();
  void PrintSetup();
  void PrintBody(QPrinter& printer);

  CVelkaroDoc& doc_;
  CVelkaroView* view_;
  QLabel* statusPane_;
  CommandTable commands_;
  std::map<int, QAction*> actions_;
  std::unique_ptr<QPrinter> printer_;
  // One modeless result list, a child of the window, made by the first run.
  dialogs::ResultDialog* resultDialog_ = nullptr;
  // A close was asked for during a run: it happens when the run has ended.
  bool closeAfterRun_ = false;
  bool closed_ = false;
};

}  // namespace velkaro::ui
