// Interrupting a send run in the program's window on a real X server, with
// a real receiver: the form's "終了" button while the body goes out (and a
// second run afterwards), the window's close box, and the exit command of
// the menu. Each time the program must live on until the run has ended,
// the stopped mail must not be delivered (the connection is dropped before
// the end of the data), the monthly send log must say how the run ended and
// the settings file must still be whole.
#include <gtest/gtest.h>

#include <QMenu>
#include <QMenuBar>
#include <functional>

#include "xcb_run_fixture.h"

namespace velkaro::ui::testing {
namespace {

const char* const kStopped = "メール送信でエラー検出 RetCode=110";
const char* const kSentOne = " 1通のメール送信を完了しました。";
const char* const kStopRunQuestion = "送信中です。中止して終了しますか？";

// Runs `step` every few milliseconds, also inside the run's own waits.
class Ticker {
 public:
  explicit Ticker(std::function<void()> step) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, std::move(step));
    timer_.start();
  }

 private:
  QTimer timer_;
};

TEST_F(XcbSendRun, TheStopButtonEndsARunInItsBodyAndTheNextRunSends) {
  ASSERT_NO_FATAL_FAILURE(StartWindow(0));
  Prepare(LongBody());
  bool pressed = false;
  {
    Ticker stopper([&] {
      if (pressed || !DeepInBody()) return;
      pressed = true;
      QTest::mouseClick(&Button(kExitButton), Qt::LeftButton);
    });
    ASSERT_TRUE(SendAndWait());
  }
  ASSERT_TRUE(pressed) << "the body was over before the button could be pressed";
  EXPECT_EQ(frame->StatusText().toStdString(), kStopped);
  EXPECT_NE(SjisToUtf8(job().DetailsText()).find("強制終了"), std::string::npos);
  EXPECT_TRUE(frame->isVisible());
  EXPECT_TRUE(Received().empty()) << "the stopped mail was delivered";

  Prepare("((name))様 二回目のご案内\nsecond-run-marker\n");
  ASSERT_TRUE(SendAndWait());
  EXPECT_EQ(frame->StatusText().toStdString(), kSentOne);
  const std::vector<std::string> messages = Received();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("second-run-marker"), std::string::npos);

  const std::string log = SendLogs();
  const std::size_t stopped = log.find(kStopped);
  ASSERT_NE(stopped, std::string::npos) << log;
  EXPECT_NE(log.find(kSentOne, stopped), std::string::npos) << log;
  EXPECT_TRUE(boxes.empty());

  frame->close();
  EXPECT_FALSE(frame->isVisible());
  ExpectSettingsWhole();
}

TEST_F(XcbSendRun, TheCloseBoxDuringARunStopsItAndClosesAfterIt) {
  ASSERT_NO_FATAL_FAILURE(StartWindow(1));
  Prepare(LongBody());
  bool clicked = false;
  bool throughX = false;
  bool aliveDuringRun = true;
  {
    Ticker closer([&] {
      if (clicked) {
        if (job().Running()) aliveDuringRun = aliveDuringRun && frame->isVisible();
        return;
      }
      if (!DeepInBody()) return;
      clicked = true;
      throughX = SendCloseBoxClick(*frame);
      if (!throughX) frame->close();
    });
    ASSERT_TRUE(SendAndWait());
  }
  ASSERT_TRUE(clicked);
#ifdef VELKARO_HAVE_XCB
  EXPECT_TRUE(throughX);
#endif
  EXPECT_TRUE(aliveDuringRun) << "the window went while the run still worked on it";
  ASSERT_TRUE(QTest::qWaitFor([&] { return !frame->isVisible(); }, 20000));
  // Whether to stop the run, answered Yes, and nothing else.
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], kStopRunQuestion);
  EXPECT_NE(SendLogs().find(kStopped), std::string::npos) << SendLogs();
  EXPECT_TRUE(Received().empty()) << "the stopped mail was delivered";
  ExpectSettingsWhole();
}

TEST_F(XcbSendRun, NoToTheCloseBoxQuestionKeepsTheRunAndTheMailArrives) {
  ASSERT_NO_FATAL_FAILURE(StartWindow(1));
  Prepare(LongBody());
  answers = {QMessageBox::No};
  bool clicked = false;
  {
    Ticker closer([&] {
      if (clicked || !DeepInBody()) return;
      clicked = true;
      if (!SendCloseBoxClick(*frame)) frame->close();
    });
    ASSERT_TRUE(SendAndWait());
  }
  ASSERT_TRUE(clicked);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], kStopRunQuestion);
  EXPECT_EQ(frame->StatusText().toStdString(), kSentOne);
  EXPECT_EQ(Received().size(), 1u) << "the run did not go on after No";
  QTest::qWait(200);
  EXPECT_TRUE(frame->isVisible());
  // Closed later, with no run going, it is the usual exit question.
  frame->close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !frame->isVisible(); }, 20000));
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].rfind("Velkaro を終了しますか？", 0), 0u) << boxes[1];
  ExpectSettingsWhole();
}

TEST_F(XcbSendRun, TheExitCommandOfTheMenuDuringARunStopsItAndClosesAfterIt) {
  ASSERT_NO_FATAL_FAILURE(StartWindow(1));
  Prepare(LongBody());
  QMenuBar* bar = frame->menuBar();
  QAction* fileTitle = bar->actions().value(0);
  ASSERT_NE(fileTitle, nullptr);
  QMenu* fileMenu = fileTitle->menu();
  QAction* exitEntry = frame->CommandAction(kCmdExit);
  ASSERT_NE(fileMenu, nullptr);
  ASSERT_NE(exitEntry, nullptr);
  int step = 0;  // 1 the menu was opened, 2 the exit entry was clicked
  {
    Ticker chooser([&] {
      if (step == 0 && DeepInBody()) {
        step = 1;
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(fileTitle).center());
      } else if (step == 1 && fileMenu->isVisible()) {
        step = 2;
        QTest::mouseClick(fileMenu, Qt::LeftButton, {},
                          fileMenu->actionGeometry(exitEntry).center());
      }
    });
    ASSERT_TRUE(SendAndWait());
  }
  ASSERT_EQ(step, 2) << "the menu was not used while the body went out";
  // The exit command gives the stopping run its grace before it closes.
  EXPECT_TRUE(frame->isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !frame->isVisible(); }, 20000));
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_NE(SendLogs().find(kStopped), std::string::npos) << SendLogs();
  EXPECT_TRUE(Received().empty()) << "the stopped mail was delivered";
  ExpectSettingsWhole();
}

}  // namespace
}  // namespace velkaro::ui::testing
