// The server dialog's security part: the TLS and AUTH choices and the AUTH
// account in "Velkaro.ini", the ports a mode proposes, the passwords that
// are never shown, where a new SMTP password is kept, and the connection
// test against a scripted server.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "data/settings_file.h"
#include "peers/peer_process.h"
#include "platform/qt/qt_platform.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"
#include "ui/dialogs/server_dialog.h"

namespace velkaro::ui::dialogs {
namespace {

using F = ServerDialog::Field;
using C = ServerDialog::Choice;
using velkaro::testing::ScriptedServer;

const char kAccount[] = "smtp:yamada@smtp.example.jp";

class ServerSecurityTest : public velkaro::testing::PlatformTest {
 protected:
  ServerSecurityTest() {
    ServerSettings& s = settings.record.server;
    SetFieldText(s.popServer, "pop.example.jp");
    SetFieldText(s.popUser, "yamada");
    SetFieldText(s.popPassword, "pop-secret");
    s.popPort = 110;
    SetFieldText(s.smtpServer, "smtp.example.jp");
    s.smtpPort = 25;
    SetFieldText(s.senderAddress, "yamada@example.jp");
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& box : platform.MessageBoxes()) texts.push_back(SjisToUtf8(box.text));
    return texts;
  }

  static std::vector<QString> Log(const ServerDialog& dialog) {
    std::vector<QString> lines;
    for (int i = 0; i < dialog.CheckLog()->count(); ++i) {
      lines.push_back(dialog.CheckLog()->item(i)->text());
    }
    return lines;
  }

  static bool LogHas(const ServerDialog& dialog, const QString& part) {
    for (const QString& line : Log(dialog)) {
      if (line.contains(part)) return true;
    }
    return false;
  }

  static std::string Joined(const ServerDialog& dialog) {
    std::string text;
    for (const QString& line : Log(dialog)) text += line.toStdString() + "\n";
    return text;
  }

  Settings settings;
};

TEST_F(ServerSecurityTest, ChoicesAndAuthUserRoundTripThroughTheIni) {
  const struct {
    const char* popSecurity;
    const char* smtpSecurity;
    const char* smtpAuth;
    int pop, smtp, auth;  // the items shown
  } cases[] = {
      {"none", "none", "none", 0, 0, 0},  {"stls", "starttls", "auto", 1, 1, 1},
      {"tls", "tls", "plain", 2, 2, 2},   {"none", "starttls", "login", 0, 1, 3},
      {"tls", "tls", "xoauth2", 2, 2, 4},
  };
  for (const auto& c : cases) {
    Settings shown;
    ASSERT_EQ(shown.ini.Set("popSecurity", c.popSecurity), 0);
    ASSERT_EQ(shown.ini.Set("smtpSecurity", c.smtpSecurity), 0);
    ASSERT_EQ(shown.ini.Set("smtpAuth", c.smtpAuth), 0);
    ASSERT_EQ(shown.ini.Set("smtpUser", "山田@example.jp"), 0);
    ServerDialog from(nullptr, shown);
    EXPECT_EQ(from.ChoiceBox(C::PopSecurityChoice)->currentIndex(), c.pop) << c.popSecurity;
    EXPECT_EQ(from.ChoiceBox(C::SmtpSecurityChoice)->currentIndex(), c.smtp) << c.smtpSecurity;
    EXPECT_EQ(from.ChoiceBox(C::SmtpAuthChoice)->currentIndex(), c.auth) << c.smtpAuth;
    EXPECT_EQ(from.FieldEdit(F::SmtpUser)->text(), QStringLiteral("山田@example.jp"));

    // The other way: chosen in a dialog over the defaults, written on OK.
    Settings chosen;
    ServerDialog to(nullptr, chosen);
    to.ChoiceBox(C::PopSecurityChoice)->setCurrentIndex(c.pop);
    to.ChoiceBox(C::SmtpSecurityChoice)->setCurrentIndex(c.smtp);
    to.ChoiceBox(C::SmtpAuthChoice)->setCurrentIndex(c.auth);
    to.FieldEdit(F::SmtpUser)->setText(QStringLiteral("山田@example.jp"));
    to.OkButton()->click();
    ASSERT_EQ(to.result(), QDialog::Accepted);
    EXPECT_EQ(chosen.ini.Get("popSecurity"), c.popSecurity);
    EXPECT_EQ(chosen.ini.Get("smtpSecurity"), c.smtpSecurity);
    EXPECT_EQ(chosen.ini.Get("smtpAuth"), c.smtpAuth);
    EXPECT_EQ(chosen.ini.Get("smtpUser"), "山田@example.jp");  // UTF-8, as the ini holds texts
  }
}

TEST_F(ServerSecurityTest, CancelLeavesTheIniAlone) {
  ServerDialog dialog(nullptr, settings);
  dialog.ChoiceBox(C::SmtpSecurityChoice)->setCurrentIndex(2);
  dialog.FieldEdit(F::SmtpUser)->setText(QStringLiteral("other"));
  dialog.FieldEdit(F::SmtpPassword)->setText(QStringLiteral("typed"));
  dialog.CancelButton()->click();
  EXPECT_EQ(settings.ini.Get("smtpSecurity"), "none");
  EXPECT_EQ(settings.ini.Get("smtpUser"), "");
  EXPECT_EQ(settings.record.server.smtpPort, 25);
  EXPECT_TRUE(platform.StoredSecrets().empty());
}

TEST_F(ServerSecurityTest, AModeProposesItsPortOnlyOverAUsualOne) {
  const struct {
    C choice;
    const char* before;
    int mode;
    const char* after;
  } cases[] = {
      {C::SmtpSecurityChoice, "25", 1, "587"},
      {C::SmtpSecurityChoice, "25", 2, "465"},
      {C::SmtpSecurityChoice, "465", 1, "587"},
      {C::SmtpSecurityChoice, "587", 2, "465"},
      {C::SmtpSecurityChoice, "", 2, "465"},
      {C::SmtpSecurityChoice, "５８７", 2, "465"},  // full-width, as an input method types it
      {C::SmtpSecurityChoice, "465", 0, "465"},     // without TLS the port is the user's
      {C::SmtpSecurityChoice, "2525", 1, "2525"},
      {C::SmtpSecurityChoice, "10465", 2, "10465"},
      {C::SmtpSecurityChoice, "abc", 2, "abc"},  // left for OK to complain about
      {C::PopSecurityChoice, "110", 2, "995"},
      {C::PopSecurityChoice, "995", 0, "110"},
      {C::PopSecurityChoice, "995", 1, "110"},
      {C::PopSecurityChoice, "", 1, "110"},
      {C::PopSecurityChoice, "1110", 2, "1110"},
      {C::PopSecurityChoice, "25", 2, "25"},  // SMTP's usual ports are not POP's
  };
  for (const auto& c : cases) {
    Settings s;
    ServerDialog dialog(nullptr, s);
    QLineEdit* port = dialog.FieldEdit(c.choice == C::PopSecurityChoice ? F::PopPort : F::SmtpPort);
    QComboBox* box = dialog.ChoiceBox(c.choice);
    box->setCurrentIndex(c.mode == 0 ? 1 : 0);  // a change to the mode under test follows
    port->setText(QString::fromUtf8(c.before));
    box->setCurrentIndex(c.mode);
    EXPECT_EQ(port->text(), QString::fromUtf8(c.after))
        << c.choice << " " << c.before << " → " << c.mode;
    // The SMTP choice never touches the POP port, nor the other way round.
    QLineEdit* other =
        dialog.FieldEdit(c.choice == C::PopSecurityChoice ? F::SmtpPort : F::PopPort);
    EXPECT_TRUE(other->text() == "25" || other->text() == "110") << other->text().toStdString();
  }
}

TEST_F(ServerSecurityTest, OpeningDoesNotProposeAPort) {
  // A saved TLS mode with a port that is not its usual one stays as saved.
  settings.record.server.smtpPort = 25;
  settings.record.server.popPort = 110;
  settings.ini.Set("smtpSecurity", "tls");
  settings.ini.Set("popSecurity", "tls");
  ServerDialog dialog(nullptr, settings);
  EXPECT_EQ(dialog.FieldEdit(F::SmtpPort)->text(), QStringLiteral("25"));
  EXPECT_EQ(dialog.FieldEdit(F::PopPort)->text(), QStringLiteral("110"));
}

TEST_F(ServerSecurityTest, PasswordsAreMaskedAndTheStoredOneIsNeverShown) {
  const struct {
    bool inStore, inIni;
    bool placeholder;
  } cases[] = {
      {false, false, false},
      {true, false, true},
      {false, true, true},
  };
  for (const auto& c : cases) {
    TestPlatform local;
    ScopedPlatform scope(local);
    Settings s = settings;
    if (c.inStore) local.SetStoredSecret(kAccount, "from-store");
    if (c.inIni) s.ini.SetStoredPassword("from-ini");
    ServerDialog dialog(nullptr, s);
    EXPECT_EQ(dialog.FieldEdit(F::PopPassword)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.FieldEdit(F::SmtpPassword)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.FieldEdit(F::SmtpPassword)->text(), QString());
    EXPECT_EQ(dialog.FieldEdit(F::SmtpPassword)->placeholderText(),
              c.placeholder ? QStringLiteral("(保存済み)") : QString())
        << c.inStore << c.inIni;
    // An untouched field keeps what is kept.
    dialog.OkButton()->click();
    EXPECT_EQ(s.ini.StoredPassword(), c.inIni ? "from-ini" : "");
    EXPECT_EQ(local.StoredSecrets().size(), c.inStore ? 1u : 0u);
    EXPECT_TRUE(local.MessageBoxes().empty());
  }
}

TEST_F(ServerSecurityTest, ANewPasswordGoesToTheStoreUnderTheAuthAccount) {
  const struct {
    const char* smtpUser;  // typed; empty: the POP user id
    const char* account;
  } cases[] = {
      {"", kAccount},
      {"山田", "smtp:山田@smtp.example.jp"},
      {"taro@example.jp", "smtp:taro@example.jp@smtp.example.jp"},
  };
  for (const auto& c : cases) {
    TestPlatform local;
    ScopedPlatform scope(local);
    Settings s = settings;
    s.ini.SetStoredPassword("older");
    ServerDialog dialog(nullptr, s);
    dialog.FieldEdit(F::SmtpUser)->setText(QString::fromUtf8(c.smtpUser));
    dialog.FieldEdit(F::SmtpPassword)->setText(QStringLiteral("ひみつ pw"));
    dialog.OkButton()->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    const auto& stored = local.StoredSecrets();
    ASSERT_EQ(stored.count(c.account), 1u) << c.account;
    EXPECT_EQ(stored.at(c.account), "ひみつ pw");
    // The store's password is found first; the file's older one would
    // only stay readable for nothing.
    EXPECT_EQ(s.ini.StoredPassword(), "");
    EXPECT_TRUE(local.MessageBoxes().empty());
  }
}

TEST_F(ServerSecurityTest, WithoutAStoreTheUserDecidesWhetherTheIniKeepsIt) {
  const struct {
    MsgAnswer answer;
    const char* kept;
    std::size_t boxes;
  } cases[] = {
      {MsgAnswer::Yes, "new-pw", 1},
      {MsgAnswer::No, "", 2},
  };
  for (const auto& c : cases) {
    platform.ClearRecords();
    platform.SetSecretStoreReachable(false);
    platform.QueueAnswer(c.answer);
    Settings s = settings;
    ServerDialog dialog(nullptr, s);
    dialog.FieldEdit(F::SmtpPassword)->setText(QStringLiteral("new-pw"));
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(s.ini.StoredPassword(), c.kept);
    ASSERT_EQ(platform.MessageBoxes().size(), c.boxes);
    const auto& question = platform.MessageBoxes()[0];
    EXPECT_EQ(question.buttons, MsgButtons::YesNo);
    const std::string text = SjisToUtf8(question.text);
    EXPECT_NE(text.find("Velkaro.ini"), std::string::npos) << text;
    EXPECT_NE(text.find("暗号化されずに"), std::string::npos) << text;
    EXPECT_NE(text.find("あなたのユーザだけ"), std::string::npos) << text;
    EXPECT_EQ(text.find("new-pw"), std::string::npos) << "the password shown: " << text;
    if (c.answer == MsgAnswer::No) {
      EXPECT_EQ(Messages()[1], "パスワードは保存しませんでした。");
    }
  }
}

TEST_F(ServerSecurityTest, ABadPortStoresNoPassword) {
  ServerDialog dialog(nullptr, settings);
  dialog.FieldEdit(F::SmtpPassword)->setText(QStringLiteral("pw"));
  dialog.FieldEdit(F::SmtpPort)->setText(QStringLiteral("0"));
  dialog.OkButton()->click();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(platform.StoredSecrets().empty());
}

TEST_F(ServerSecurityTest, PlainAuthIsWarnedAboutUnlessAllowed) {
  const struct {
    int auth, security;
    const char* allow;
    bool warned;
  } cases[] = {
      {0, 0, "0", false}, {1, 0, "0", true},  {3, 0, "0", true}, {1, 1, "0", false},
      {2, 2, "0", false}, {1, 0, "1", false}, {4, 0, "0", true},
  };
  for (const auto& c : cases) {
    Settings s;
    s.ini.Set("allowInsecureAuth", c.allow);
    ServerDialog dialog(nullptr, s);
    dialog.ChoiceBox(C::SmtpAuthChoice)->setCurrentIndex(c.auth);
    dialog.ChoiceBox(C::SmtpSecurityChoice)->setCurrentIndex(c.security);
    EXPECT_EQ(!dialog.InsecureAuthWarning()->isHidden(), c.warned)
        << c.auth << " " << c.security << " " << c.allow;
  }
  // As opened from the ini, too.
  Settings s;
  s.ini.Set("smtpAuth", "login");
  ServerDialog dialog(nullptr, s);
  EXPECT_FALSE(dialog.InsecureAuthWarning()->isHidden());
}

// --- the connection test ----------------------------------------------------

class ServerCheckTest : public ServerSecurityTest {
 protected:
  ServerCheckTest() {
    platform.SetSocketFactory([this] { return smtp.NewSocket(); });
    // No POP server: the check goes straight to SMTP.
    SetFieldText(settings.record.server.popServer, "");
    settings.ini.Set("heloName", "client.example.jp");
  }
  // Greeting and EHLO as the scripted server answers them.
  void ScriptOpening(const std::string& ehloReply = "250 mail.example.jp\r\n") {
    smtp.Send("220 mail.example.jp ESMTP ready\r\n")
        .Expect("EHLO client.example.jp\r\n")
        .Send(ehloReply);
  }
  ScriptedServer smtp;
};

TEST_F(ServerCheckTest, ShowsEachStepWithTheServersWords) {
  ScriptOpening("250-mail.example.jp\r\n250 SIZE 1000000\r\n");
  smtp.Expect("QUIT\r\n").Send("221 2.0.0 bye\r\n");
  ServerDialog dialog(nullptr, settings);
  dialog.FieldEdit(F::SmtpPort)->setText(QStringLiteral("2525"));
  dialog.CheckButton()->click();
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  EXPECT_EQ(smtp.Port(), 2525);  // the value shown, not the saved one
  EXPECT_EQ(settings.record.server.smtpPort, 25);
  const std::string log = Joined(dialog);
  EXPECT_TRUE(LogHas(dialog, QStringLiteral("220 mail.example.jp ESMTP ready"))) << log;
  EXPECT_TRUE(LogHas(dialog, QStringLiteral("EHLO client.example.jp"))) << log;
  EXPECT_TRUE(Log(dialog).back().contains(QStringLiteral("成功"))) << log;
  for (const QString& line : Log(dialog)) {
    EXPECT_FALSE(line.startsWith(QStringLiteral("NG"))) << log;
  }
  EXPECT_EQ(dialog.CheckButton()->text(), QStringLiteral("接続テスト"));
  EXPECT_TRUE(platform.MessageBoxes().empty());
}

TEST_F(ServerCheckTest, TheSystemsJapaneseWordsAreShownReadably) {
  // AUTH over plain text to a server elsewhere is refused before the
  // password goes out; the step names and the reason are Shift_JIS.
  ScriptOpening("250-mail.example.jp\r\n250 AUTH PLAIN\r\n");
  smtp.Expect("QUIT\r\n").Send("221 bye\r\n");
  settings.ini.Set("smtpAuth", "plain");
  ServerDialog dialog(nullptr, settings);
  dialog.FieldEdit(F::SmtpPassword)->setText(QStringLiteral("pw"));
  dialog.CheckButton()->click();
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  const std::string log = Joined(dialog);
  EXPECT_TRUE(LogHas(dialog, QStringLiteral("OK  グリーティング  220 mail.example.jp"))) << log;
  EXPECT_TRUE(LogHas(dialog, QStringLiteral("NG  AUTH  暗号化されていない接続では"))) << log;
  EXPECT_TRUE(Log(dialog).back().contains(QStringLiteral("失敗"))) << log;
  EXPECT_EQ(smtp.Received().find("AUTH"), std::string::npos);
}

TEST_F(ServerCheckTest, AuthUsesTheTypedPasswordElseTheKeptOne) {
  const struct {
    const char* typed;
    const char* inStore;  // nullptr: none
    const char* used;
  } cases[] = {
      {"typed-pw", "stored-pw", "typed-pw"},
      {"", "stored-pw", "stored-pw"},
      {"", nullptr, "pop-secret"},
  };
  for (const auto& c : cases) {
    TestPlatform local;
    ScopedPlatform scope(local);
    ScriptedServer server;
    local.SetSocketFactory([&server] { return server.NewSocket(); });
    if (c.inStore != nullptr) local.SetStoredSecret(kAccount, c.inStore);
    const std::string plain = std::string("\0yamada\0", 8) + c.used;
    const std::string response = QByteArray::fromStdString(plain).toBase64().toStdString();
    server.SetPeerLoopback(true)
        .Send("220 ready\r\n")
        .Expect("EHLO client.example.jp\r\n")
        .Send("250-mail.example.jp\r\n250 AUTH PLAIN LOGIN\r\n")
        .Expect("AUTH PLAIN " + response + "\r\n")
        .Send("235 2.7.0 accepted\r\n")
        .Expect("QUIT\r\n")
        .Send("221 bye\r\n");
    Settings s = settings;
    s.ini.Set("smtpAuth", "plain");
    ServerDialog dialog(nullptr, s);
    dialog.FieldEdit(F::SmtpPassword)->setText(QString::fromUtf8(c.typed));
    dialog.CheckButton()->click();
    EXPECT_TRUE(server.Finished()) << c.used << ": " << server.Mismatch();
    EXPECT_TRUE(LogHas(dialog, QStringLiteral("235 2.7.0 accepted"))) << Joined(dialog);
    // The test keeps nothing, not even a password typed for it.
    EXPECT_EQ(local.StoredSecrets().size(), c.inStore != nullptr ? 1u : 0u);
    EXPECT_EQ(s.ini.StoredPassword(), "");
    for (const QString& line : Log(dialog)) {
      EXPECT_FALSE(line.contains(QString::fromUtf8(c.used))) << "secret shown: " << Joined(dialog);
    }
  }
}

TEST_F(ServerCheckTest, ASilentServerEndsInAFailureNotAHang) {
  ScriptOpening("");  // the EHLO reply never comes
  ServerDialog dialog(nullptr, settings);
  dialog.CheckButton()->click();
  const std::string log = Joined(dialog);
  EXPECT_TRUE(LogHas(dialog, QStringLiteral("NG  EHLO client.example.jp  (応答なし)"))) << log;
  EXPECT_EQ(Log(dialog).back(), QStringLiteral("結果: 失敗 (サーバの応答を待つ時間が過ぎました)"))
      << log;
  // After the 20 s a run would wait too, not at once.
  EXPECT_GE(platform.VirtualMs(), 20000);
  EXPECT_EQ(dialog.CheckButton()->text(), QStringLiteral("接続テスト"));
  EXPECT_EQ(platform.RunningTimers(), 0u);
}

// Clicks `button` once, from inside the check's waits, as soon as the
// client has sent EHLO and is waiting for a reply that never comes.
void ClickWhileWaiting(TestPlatform& platform, const ScriptedServer& server,
                       std::function<void()> click, long long* clickedAt) {
  platform.SetPumpHook([&platform, &server, click, clickedAt] {
    if (*clickedAt >= 0 || server.Received().find("EHLO") == std::string::npos) return;
    *clickedAt = platform.VirtualMs();
    click();
  });
}

TEST_F(ServerCheckTest, StopEndsTheCheckAtOnce) {
  ScriptOpening("");
  ServerDialog dialog(nullptr, settings);
  long long clickedAt = -1;
  QString captionDuring;
  ClickWhileWaiting(
      platform, smtp,
      [&] {
        captionDuring = dialog.CheckButton()->text();
        dialog.CheckButton()->click();
        dialog.CheckButton()->click();  // a second click must not start another test
      },
      &clickedAt);
  dialog.CheckButton()->click();
  platform.SetPumpHook(nullptr);
  ASSERT_GE(clickedAt, 0);
  EXPECT_EQ(captionDuring, QStringLiteral("中止"));
  // Well before the 20 s reply time-out.
  EXPECT_LT(platform.VirtualMs() - clickedAt, 1000);
  EXPECT_EQ(Log(dialog).back(), QStringLiteral("中止しました")) << Joined(dialog);
  EXPECT_EQ(dialog.CheckButton()->text(), QStringLiteral("接続テスト"));
  EXPECT_EQ(smtp.Connects(), 1);
}

TEST_F(ServerCheckTest, ClosingDuringTheCheckStopsItFirst) {
  const struct {
    const char* how;
    QDialog::DialogCode result;
  } cases[] = {
      {"ok", QDialog::Accepted}, {"cancel", QDialog::Rejected}, {"close", QDialog::Rejected}};
  for (const auto& c : cases) {
    platform.ClearRecords();
    ScriptedServer server;
    platform.SetSocketFactory([&server] { return server.NewSocket(); });
    server.Send("220 ready\r\n").Expect("EHLO client.example.jp\r\n");
    Settings s = settings;
    ServerDialog dialog(nullptr, s);
    dialog.show();
    dialog.FieldEdit(F::SmtpServer)->setText(QStringLiteral("new.example.jp"));
    long long clickedAt = -1;
    bool runningWhenClosed = true;
    ClickWhileWaiting(
        platform, server,
        [&] {
          const std::string how = c.how;
          if (how == "ok") dialog.OkButton()->click();
          if (how == "cancel") dialog.CancelButton()->click();
          if (how == "close") dialog.close();
          // Nothing closes while the check still runs.
          runningWhenClosed = !dialog.isVisible();
        },
        &clickedAt);
    dialog.CheckButton()->click();
    platform.SetPumpHook(nullptr);
    ASSERT_GE(clickedAt, 0) << c.how;
    EXPECT_FALSE(runningWhenClosed) << c.how;
    EXPECT_FALSE(dialog.isVisible()) << c.how;
    EXPECT_EQ(dialog.result(), c.result) << c.how;
    EXPECT_LT(platform.VirtualMs() - clickedAt, 1000) << c.how;
    const std::string saved = FieldText(s.record.server.smtpServer);
    EXPECT_EQ(saved, c.result == QDialog::Accepted ? "new.example.jp" : "smtp.example.jp") << c.how;
  }
}

TEST_F(ServerCheckTest, ABadPortIsRefusedBeforeConnecting) {
  ServerDialog dialog(nullptr, settings);
  dialog.FieldEdit(F::SmtpPort)->setText(QStringLiteral("70000"));
  dialog.CheckButton()->click();
  EXPECT_EQ(smtp.Connects(), 0);
  EXPECT_EQ(Messages(), std::vector<std::string>{"1 から 65535 までの整数を入力してください。"});
  EXPECT_EQ(dialog.CheckButton()->text(), QStringLiteral("接続テスト"));
}

// The real platform against aiosmtpd on 127.0.0.1: the check waits in
// sleep-and-pump steps, so the window's own timers keep running meanwhile.
TEST(ServerCheckLive, AgainstALocalReceiverTheWindowKeepsAnswering) {
  const std::string python = "/usr/bin/python3";
  if (!std::filesystem::exists(python)) GTEST_SKIP() << "needs " << python;
  velkaro::testing::TempDir dir;
  velkaro::testing::PeerProcess receiver;
  ASSERT_TRUE(receiver.Start(
      {python, std::string(VELKARO_SOURCE_DIR) + "/tests/peers/smtp_receiver.py", dir.File("mail")},
      dir.File("receiver.log"), 15000))
      << receiver.error() << "\n"
      << velkaro::testing::ReadBytes(dir.File("receiver.log"));
  qt::QtPlatform host;
  ScopedPlatform scope(host);
  Settings settings;
  SetFieldText(settings.record.server.smtpServer, "127.0.0.1");
  settings.record.server.smtpPort = receiver.port();
  settings.ini.Set("heloName", "client.example.jp");
  ServerDialog dialog(nullptr, settings);
  dialog.show();
  int ticksDuring = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (dialog.CheckButton()->text() == QStringLiteral("中止")) ++ticksDuring;
  });
  tick.start(1);
  dialog.CheckButton()->click();
  tick.stop();
  std::string log;
  for (int i = 0; i < dialog.CheckLog()->count(); ++i) {
    log += dialog.CheckLog()->item(i)->text().toStdString() + "\n";
  }
  EXPECT_NE(log.find("OK  EHLO client.example.jp  250"), std::string::npos) << log;
  EXPECT_NE(log.find("結果: 成功"), std::string::npos) << log;
  EXPECT_GT(ticksDuring, 0);
}

}  // namespace
}  // namespace velkaro::ui::dialogs
