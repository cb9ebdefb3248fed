// Send runs from the window: the send button's captions, one run at a
// time, closing during a run, and the automatic send and quit of the
// command line.
#include <gtest/gtest.h>

#include <QPushButton>
#include <filesystem>

#include "form_fixture.h"
#include "support/scripted_socket.h"

namespace velkaro::ui::testing {
namespace {

using velkaro::testing::ScriptedNetwork;
using velkaro::testing::ScriptedServer;

class FormSend : public FrameTest {
 protected:
  FormSend() {
    network.Add("smtp.test", smtp);
    platform.SetSocketFactory([this] { return network.NewSocket(); });
  }
  static void Server(Settings& settings) {
    SetFieldText(settings.record.server.smtpServer, "smtp.test");
    SetFieldText(settings.record.server.senderAddress, "from@example.jp");
  }
  void Greeting() { smtp.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n"); }
  void Accepted(const std::string& to) {
    smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    smtp.Expect("RCPT TO:<" + to + ">\r\n").Send("250 ok\r\n");
    smtp.Expect("DATA\r\n").Send("354 go\r\n").ExpectThrough("\r\n.\r\n").Send("250 ok\r\n");
  }
  void Quit() { smtp.Expect("QUIT\r\n").Send("221 bye\r\n"); }
  void Prepare(const std::string& body) {
    editor().setPlainText(QString::fromStdString(body));
    job().recipientLines = Entry("山田", "山田太郎", "yamada@example.jp");
    job().RebuildRecipientList();
  }
  QPushButton& SendButton() { return *view().SendButton(); }

  ScriptedServer smtp;
  ScriptedNetwork network;
};

TEST_F(FormSend, TheSendButtonSaysWhatTheRunIsDoingAndRefusesASecondRun) {
  Start({}, Server);
  Prepare("件名\n本文\n");
  Greeting();
  Accepted("yamada@example.jp");
  Quit();
  std::vector<std::pair<std::string, bool>> during;
  bool secondTried = false;
  platform.SetPumpHook([&] {
    if (!job().Running()) return;
    during.emplace_back(SendButton().text().toStdString(), SendButton().isEnabled());
    if (!secondTried) {
      secondTried = true;
      frame->OnCommand(kCommandSend);  // from the menu while the run goes on
      frame->CommandAction(kCmdSend)->trigger();
    }
  });
  frame->OnCommand(kCommandSend);
  platform.SetPumpHook(nullptr);

  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  EXPECT_EQ(smtp.Connects(), 1);
  ASSERT_FALSE(during.empty());
  for (const auto& [caption, enabled] : during) {
    EXPECT_EQ(caption, "送信処理中");
    EXPECT_FALSE(enabled);
  }
  EXPECT_EQ(SendButton().text(), QStringLiteral("送信"));
  EXPECT_TRUE(SendButton().isEnabled());
  EXPECT_EQ(SjisToUtf8(platform.StatusTexts().back()), " 1通のメール送信を完了しました。");
  EXPECT_TRUE(frame->isVisible());
}

TEST_F(FormSend, TheSendButtonPostsTheSendCommandToTheMainWindow) {
  Start({}, Server);
  Prepare("件名\n本文\n");
  Greeting();
  Accepted("yamada@example.jp");
  Quit();
  SendButton().click();
  EXPECT_EQ(platform.PostedCommands(), std::vector<int>{kCommandSend});
  EXPECT_EQ(smtp.Connects(), 0);  // not before the main window has it
  platform.Pump();
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
}

TEST_F(FormSend, TheExitButtonStopsARunInsteadOfClosing) {
  Start({}, Server);
  Prepare("件名\n" + std::string(5000, 'x') + "\n");
  Greeting();
  smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("RCPT TO:<yamada@example.jp>\r\n").Send("250 ok\r\n");
  // The stopped mail is not ended: the connection is dropped, without QUIT.
  smtp.Expect("DATA\r\n").Send("354 go\r\n");
  bool pressed = false;
  platform.SetPumpHook([&] {
    MailConnection* mail = job().ActiveConnection();
    if (!pressed && mail != nullptr && mail->progress.sendingData == 1) {
      pressed = true;
      static_cast<QAbstractButton*>(view().Control(kExitButton))->click();
    }
  });
  frame->OnCommand(kCommandSend);
  platform.SetPumpHook(nullptr);
  ASSERT_TRUE(pressed);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  EXPECT_EQ(smtp.Received().find("\r\n.\r\n"), std::string::npos);
  EXPECT_EQ(smtp.Received().find("QUIT"), std::string::npos);
  EXPECT_TRUE(smtp.ClientClosed());
  EXPECT_EQ(SjisToUtf8(platform.StatusTexts().back()), "メール送信でエラー検出 RetCode=110");
  platform.Pump();
  EXPECT_TRUE(frame->isVisible());
  EXPECT_EQ(platform.CloseRequests(), 0);
}

TEST_F(FormSend, ClosingDuringARunStopsItAndClosesOnlyAfterIt) {
  for (const bool byExitCommand : {false, true}) {
    SCOPED_TRACE(byExitCommand ? "exit command" : "close box");
    ScriptedServer server;
    network.Add("smtp.test", server);
    platform.ClearRecords();
    std::filesystem::remove(home.File("Velkaro.cfg"));
    Start({}, [](Settings& settings) {
      Server(settings);
      settings.record.confirmExit = 1;
    });
    Prepare("件名\n" + std::string(5000, 'x') + "\n");
    server.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
    server.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    server.Expect("RCPT TO:<yamada@example.jp>\r\n").Send("250 ok\r\n");
    // The stopped mail is not ended: the connection is dropped, without QUIT.
    server.Expect("DATA\r\n").Send("354 go\r\n");
    bool asked = false;
    bool aliveAfterClose = false;
    platform.SetPumpHook([&] {
      MailConnection* mail = job().ActiveConnection();
      if (!asked && mail != nullptr && mail->progress.sendingData == 1) {
        asked = true;
        if (byExitCommand) {
          frame->CommandAction(kCmdExit)->trigger();
        } else {
          platform.QueueAnswer(MsgAnswer::Yes);
          frame->close();  // the run's question comes first: Yes
        }
        aliveAfterClose = frame->isVisible();
      } else if (asked && job().Running()) {
        aliveAfterClose = aliveAfterClose && frame->isVisible();
      }
    });
    frame->OnCommand(kCommandSend);
    platform.SetPumpHook(nullptr);
    ASSERT_TRUE(asked);
    EXPECT_TRUE(aliveAfterClose);
    EXPECT_TRUE(server.Finished()) << server.Mismatch();
    EXPECT_EQ(server.Received().find("\r\n.\r\n"), std::string::npos);
    EXPECT_EQ(server.Received().find("QUIT"), std::string::npos);
    EXPECT_TRUE(server.ClientClosed());
    EXPECT_EQ(SjisToUtf8(platform.StatusTexts().back()), "メール送信でエラー検出 RetCode=110");
    // The close box asked whether to stop the run, once (not the exit
    // question as well); the exit command never.
    ASSERT_EQ(platform.MessageBoxes().size(), byExitCommand ? 0u : 1u);
    if (!byExitCommand) {
      EXPECT_EQ(Boxes()[0], "送信中です。中止して終了しますか？");
    }
    platform.Sleep(CMainFrame::kExitWaitMs);
    platform.Pump();
    platform.Pump();
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(std::filesystem::exists(home.File("Velkaro.cfg")));
    EXPECT_EQ(platform.MessageBoxes().size(), byExitCommand ? 0u : 1u);
  }
}

TEST_F(FormSend, TheCommandLineSendsAfterTwoSecondsAndQuits) {
  const std::string body = home.File("body.txt");
  WriteBytes(body, S("((name))様\r\n本文\r\n"));
  Start({"/text=" + body, "/to=山田太郎 <yamada@example.jp>", "/send=on", "/quit=on"}, Server);
  EXPECT_TRUE(failedFiles.empty());
  EXPECT_TRUE(static_cast<QAbstractButton*>(view().Control(kAutoQuitBox))->isChecked());
  EXPECT_EQ(editor().toPlainText(), QStringLiteral("((name))様\n本文\n"));
  ASSERT_TRUE(platform.TimerRunning(&job(), SendJob::kAutoSendTimerId));
  Greeting();
  Accepted("yamada@example.jp");
  Quit();

  platform.Sleep(1999);
  platform.Pump();
  EXPECT_EQ(smtp.Connects(), 0);
  platform.Sleep(1);
  platform.Pump();  // timer 103: the send command is posted and runs
  platform.Pump();
  platform.Pump();
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  const std::vector<int>& posted = platform.PostedCommands();
  ASSERT_GE(posted.size(), 2u);
  EXPECT_EQ(posted[0], kCommandSend);
  EXPECT_EQ(posted[1], kCommandExit);
  EXPECT_FALSE(frame->isVisible());
  EXPECT_TRUE(platform.MessageBoxes().empty());
  EXPECT_TRUE(std::filesystem::exists(home.File("Velkaro.cfg")));
}

TEST_F(FormSend, WithoutSendOnNoTimerRunsAndAMissingBodyFileIsReported) {
  Start({"/quit=on", home.File("missing.txt")}, Server);
  EXPECT_EQ(failedFiles, std::vector<std::string>{home.File("missing.txt")});
  EXPECT_FALSE(platform.TimerRunning(&job(), SendJob::kAutoSendTimerId));
  Start({"/send=on", home.File("missing.txt")}, Server);
  // A start that ends for a missing file sends nothing.
  EXPECT_FALSE(platform.TimerRunning(&job(), SendJob::kAutoSendTimerId));
}

}  // namespace
}  // namespace velkaro::ui::testing
