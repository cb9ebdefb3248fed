// The test send from the window: when the button and the menu entry can be
// used, what the dialog offers, whose mail goes where (as the scripted
// server received it), and how a failure is told; the dialog on its own.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "dialogs_test_util.h"
#include "form_fixture.h"
#include "support/scripted_socket.h"
#include "ui/dialogs/test_send_dialog.h"

namespace velkaro::ui::testing {
namespace {

using dialogs::TestSendDialog;
using dialogs::testing::WhenModal;
using velkaro::testing::ScriptedNetwork;
using velkaro::testing::ScriptedServer;

class FormTestSend : public FrameTest {
 protected:
  FormTestSend() {
    network.Add("smtp.test", smtp);
    platform.SetSocketFactory([this] { return network.NewSocket(); });
  }
  static void Server(Settings& settings) {
    SetFieldText(settings.record.server.smtpServer, "smtp.test");
    SetFieldText(settings.record.server.senderAddress, "from@example.jp");
  }
  void TwoRecipients() {
    editor().setPlainText(QStringLiteral("お知らせ\nID ((mailaddr)) end\n"));
    job().recipientLines = Entry("山田", "山田太郎", "yamada@example.jp") +
                           Entry("佐藤", "佐藤花子", "sato@example.jp");
    job().RebuildRecipientList();
  }
  // The server's side of one mail to `to`: `rcptReply` to RCPT TO.
  void Script(const std::string& to, const std::string& rcptReply = "250 ok\r\n") {
    smtp.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
    smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    smtp.Expect("RCPT TO:<" + to + ">\r\n").Send(rcptReply);
    if (rcptReply.front() == '2') {
      smtp.Expect("DATA\r\n").Send("354 go\r\n").ExpectThrough("\r\n.\r\n").Send("250 ok\r\n");
    }
    smtp.Expect("QUIT\r\n").Send("221 bye\r\n");
  }
  // The subject header's encoded word, decoded (ISO-2022-JP bytes).
  std::string DecodedSubject() const {
    const std::string mail = smtp.Received();
    const std::string start = "Subject: =?ISO-2022-JP?B?";
    const std::size_t at = mail.find(start);
    if (at == std::string::npos) return {};
    const std::size_t from = at + start.size();
    const std::size_t end = mail.find("?=", from);
    return QByteArray::fromBase64(QByteArray::fromStdString(mail.substr(from, end - from)))
        .toStdString();
  }
  QPushButton& Button() { return *view().TestSendButton(); }
  QAction& MenuEntry() { return *frame->CommandAction(kCmdTestSend); }

  ScriptedServer smtp;
  ScriptedNetwork network;
};

TEST_F(FormTestSend, ButtonAndMenuNeedARecipientAndNoRunningSend) {
  Start({}, Server);
  EXPECT_EQ(Button().text(), QStringLiteral("テスト送信"));
  EXPECT_FALSE(Button().isEnabled());
  // It sits below the send button, between the title-in box and the
  // preview button, and follows the send button when the window grows.
  QWidget* send = view().SendButton();
  EXPECT_EQ(Button().x(), send->x());
  EXPECT_GT(Button().y(), view().Control(kTitleInBox)->geometry().bottom());
  EXPECT_LT(Button().geometry().bottom(), view().Control(kPreviewButton)->y());
  frame->resize(frame->size() + QSize(60, 120));
  QCoreApplication::processEvents();
  EXPECT_EQ(Button().x(), send->x());
  EXPECT_EQ(Button().y() - send->y(),
            view().BaseRect(kTestSendButton).y() - view().BaseRect(kSendButton).y());
  EXPECT_FALSE(MenuEntry().isEnabled());

  TwoRecipients();
  EXPECT_TRUE(Button().isEnabled());
  EXPECT_TRUE(MenuEntry().isEnabled());

  // During a real run neither can start a second one.
  smtp.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
  for (const char* to : {"yamada@example.jp", "sato@example.jp"}) {
    smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    smtp.Expect(std::string("RCPT TO:<") + to + ">\r\n").Send("250 ok\r\n");
    smtp.Expect("DATA\r\n").Send("354 go\r\n").ExpectThrough("\r\n.\r\n").Send("250 ok\r\n");
  }
  smtp.Expect("QUIT\r\n").Send("221 bye\r\n");
  std::vector<std::pair<bool, bool>> during;
  platform.SetPumpHook([&] {
    if (job().Running()) during.emplace_back(Button().isEnabled(), MenuEntry().isEnabled());
  });
  frame->OnCommand(kCmdSend);
  platform.SetPumpHook(nullptr);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  ASSERT_FALSE(during.empty());
  for (const auto& [button, menu] : during) {
    EXPECT_FALSE(button);
    EXPECT_FALSE(menu);
  }
  EXPECT_TRUE(Button().isEnabled());

  frame->OnCommand(kCmdRemoveAllRecipients);
  EXPECT_FALSE(Button().isEnabled());
  EXPECT_FALSE(MenuEntry().isEnabled());
}

// The dialog offers the sender's address and the selected recipient; OK
// sends that recipient's mail, subject marked, to the typed address only.
// The next test send offers the address used last.
TEST_F(FormTestSend, SendsTheChosenRecipientsMailToTheTestAddressOnly) {
  Start({}, Server);
  TwoRecipients();
  ClickRow(*view().RecipientList(), 1);
  Script("tester@example.jp");
  bool shown = false;
  WhenModal([&](QDialog* d) {
    auto* dialog = dynamic_cast<TestSendDialog*>(d);
    ASSERT_NE(dialog, nullptr);
    shown = true;
    EXPECT_EQ(dialog->AddressEdit()->text(), QStringLiteral("from@example.jp"));
    EXPECT_EQ(dialog->RecipientSpin()->value(), 2);
    EXPECT_EQ(dialog->RecipientSpin()->maximum(), 2);
    EXPECT_EQ(dialog->RecipientLabel()->text(), QStringLiteral("佐藤花子 <sato@example.jp>"));
    dialog->AddressEdit()->setText(QStringLiteral(" tester@example.jp "));
    dialog->OkButton()->click();
  });
  frame->CommandAction(kCmdTestSend)->trigger();
  ASSERT_TRUE(shown);

  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  EXPECT_EQ(smtp.Connects(), 1);
  EXPECT_NE(smtp.Received().find("ID sato@example.jp end"), std::string::npos);
  EXPECT_EQ(smtp.Received().find("yamada@example.jp"), std::string::npos);
  // "[テスト] お知らせ": the mark in ISO-2022-JP ("テスト" is 25 46 25 39 25 48).
  EXPECT_EQ(DecodedSubject().rfind("[\x1b$B%F%9%H\x1b(B] ", 0), 0u) << DecodedSubject();
  EXPECT_EQ(SjisToUtf8(platform.StatusTexts().back()),
            "テスト送信を完了しました(宛先: tester@example.jp)");
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(Button().isEnabled());

  // Cancelled the second time: nothing goes out.
  shown = false;
  WhenModal([&](QDialog* d) {
    auto* dialog = dynamic_cast<TestSendDialog*>(d);
    ASSERT_NE(dialog, nullptr);
    shown = true;
    EXPECT_EQ(dialog->AddressEdit()->text(), QStringLiteral("tester@example.jp"));
    dialog->CancelButton()->click();
  });
  Button().click();
  platform.Pump();
  ASSERT_TRUE(shown);
  EXPECT_EQ(smtp.Connects(), 1);
}

TEST_F(FormTestSend, AFailureIsToldWithTheServersWords) {
  Start({}, Server);
  TwoRecipients();
  Script("tester@example.jp", "550 no such user\r\n");
  WhenModal([&](QDialog* d) {
    auto* dialog = dynamic_cast<TestSendDialog*>(d);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->RecipientSpin()->value(), 1);  // nothing selected
    dialog->AddressEdit()->setText(QStringLiteral("tester@example.jp"));
    dialog->OkButton()->click();
  });
  frame->OnCommand(kCmdTestSend);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].rfind("テスト送信でエラーが発生しました。 RetCode=106\r\n", 0), 0u)
      << Boxes()[0];
  EXPECT_NE(Boxes()[0].find("550 no such user"), std::string::npos) << Boxes()[0];
  EXPECT_TRUE(Button().isEnabled());
}

// The close box during a test send stops it (the run's question: Yes) and
// closes the window once it has ended, with no error box for the stop.
TEST_F(FormTestSend, ClosingDuringATestSendClosesAfterIt) {
  Start({}, Server);
  editor().setPlainText(QStringLiteral("件名\n") + QString(5000, QLatin1Char('x')) + "\n");
  job().recipientLines = Entry("山田", "山田太郎", "yamada@example.jp");
  job().RebuildRecipientList();
  smtp.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
  smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("RCPT TO:<tester@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("DATA\r\n").Send("354 go\r\n");
  bool closed = false;
  platform.SetPumpHook([&] {
    MailConnection* mail = job().ActiveConnection();
    if (!closed && mail != nullptr && mail->progress.sendingData == 1) {
      closed = true;
      platform.QueueAnswer(MsgAnswer::Yes);
      frame->close();
      EXPECT_TRUE(frame->isVisible());
    }
  });
  WhenModal([&](QDialog* d) {
    auto* dialog = dynamic_cast<TestSendDialog*>(d);
    ASSERT_NE(dialog, nullptr);
    dialog->AddressEdit()->setText(QStringLiteral("tester@example.jp"));
    dialog->OkButton()->click();
  });
  frame->OnCommand(kCmdTestSend);
  platform.SetPumpHook(nullptr);
  ASSERT_TRUE(closed);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  EXPECT_EQ(smtp.Received().find("\r\n.\r\n"), std::string::npos);
  ASSERT_EQ(Boxes().size(), 1u);  // only the question
  EXPECT_EQ(Boxes()[0], "送信中です。中止して終了しますか？");
  EXPECT_EQ(platform.CloseRequests(), 1);
  platform.Pump();
  EXPECT_FALSE(frame->isVisible());
}

// --- the dialog on its own -------------------------------------------------

class TestSendDialogTest : public velkaro::testing::PlatformTest {
 protected:
  const std::string lines = S("やまだ\t山田\t山田太郎\tyamada@example.jp\t\t\t\t\t\t\r\n") +
                            S("さとう\t佐藤\t佐藤花子\tsato@example.jp\t\t\t\t\t\t\r\n");
};

TEST_F(TestSendDialogTest, OffersTheRecipientInRangeAndShowsWhoItIs) {
  const struct {
    int offered;
    int shown;
    const char* who;
  } rows[] = {{0, 1, "山田太郎 <yamada@example.jp>"},
              {1, 2, "佐藤花子 <sato@example.jp>"},
              {7, 2, "佐藤花子 <sato@example.jp>"},
              {-3, 1, "山田太郎 <yamada@example.jp>"}};
  for (const auto& row : rows) {
    TestSendDialog dialog(nullptr, lines, "me@example.jp", row.offered);
    EXPECT_EQ(dialog.RecipientSpin()->value(), row.shown) << row.offered;
    EXPECT_EQ(dialog.RecipientLabel()->text().toStdString(), row.who) << row.offered;
    EXPECT_EQ(dialog.Index(), row.shown - 1);
    EXPECT_EQ(dialog.AddressEdit()->text(), QStringLiteral("me@example.jp"));
  }
  TestSendDialog dialog(nullptr, lines, "", 0);
  dialog.RecipientSpin()->setValue(2);
  EXPECT_EQ(dialog.RecipientLabel()->text(), QStringLiteral("佐藤花子 <sato@example.jp>"));
  dialog.RecipientSpin()->setValue(3);  // beyond the list: stays at the last
  EXPECT_EQ(dialog.Index(), 1);
}

// One address, as the envelope takes it: anything that is not (a list, a
// display name, blanks, non-ASCII) keeps the dialog open with a message.
TEST_F(TestSendDialogTest, OkTakesOnlyOneUsableAddress) {
  const struct {
    const char* typed;
    bool accepted;
  } rows[] = {
      {"tester@example.jp", true},
      {"  tester@example.jp  ", true},
      {"", false},
      {"tester", false},
      {"@example.jp", false},
      {"tester@", false},
      {"a@b@example.jp", false},
      {"a@example.jp,b@example.jp", false},
      {"a@example.jp;b@example.jp", false},
      {"山田 <a@example.jp>", false},
      {"te ster@example.jp", false},
      {"山田@example.jp", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.typed);
    platform.ClearRecords();
    TestSendDialog dialog(nullptr, lines, "", 0);
    dialog.AddressEdit()->setText(QString::fromUtf8(row.typed));
    dialog.setResult(QDialog::Rejected);
    dialog.accept();
    EXPECT_EQ(dialog.result() == QDialog::Accepted, row.accepted);
    EXPECT_EQ(platform.MessageBoxes().empty(), row.accepted);
    if (row.accepted) {
      EXPECT_EQ(dialog.Address(), "tester@example.jp");
    }
  }
}

}  // namespace
}  // namespace velkaro::ui::testing
