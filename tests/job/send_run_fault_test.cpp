// Whole send runs against SMTP and POP3 servers that hang up, fall silent
// past the reply time-out, or take only part of a send, at every step of
// both dialogues. Every run must end with its result code in the status
// line and the send log, leave no connection open and no timer running,
// and the same job must send normally afterwards. A connection whose
// command went out in part or got no reply is out of step: not a byte
// follows that command on it, not even QUIT.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/encoding.h"
#include "job/send_job.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ReadBytes;
using testing::ScriptedNetwork;
using testing::ScriptedServer;
using testing::TempDir;
using testing::WriteBytes;

// One send of the client and the server's answer to it. `step` names the
// step the send begins (empty for a later send of the same step).
struct Turn {
  std::string step;
  std::string client;  // what the client sends; empty: nothing (a greeting)
  std::string reply;   // the server's answer; empty: none (mail content)
  bool exact = false;  // the client must send exactly `client`, else anything through it
  bool paced = false;  // the paced sender, which sends the rest of a partial send
};

const char kBoundaryLine[] = "MULTIPART_MIXED_\r\n";

Turn Command(std::string step, std::string line, std::string reply) {
  return {std::move(step), std::move(line), std::move(reply), true, false};
}
Turn Content(std::string step, std::string through, bool paced = false) {
  return {std::move(step), std::move(through), "", false, paced};
}

// The lines of an attachment's part header, each sent on its own.
void AddPartHeader(std::vector<Turn>& turns, const std::string& step, const std::string& type) {
  turns.push_back(Content(step, kBoundaryLine));
  for (const char* through : {type.c_str(), "name=", "attachment;\r\n",
                              "filename=", "filename*=", "base64\r\n", "\r\n", "\r\n"}) {
    turns.push_back(Content("", through));
  }
}

// Greeting, EHLO, and when `withMail` one mail with two attachments, then
// QUIT. Markers are texts each send contains, found in order.
std::vector<Turn> SmtpDialogue(bool withMail) {
  std::vector<Turn> turns = {{"greeting", "", "220 ready\r\n", false, false},
                             Command("EHLO", "EHLO localhost\r\n", "250 ok\r\n")};
  if (withMail) {
    turns.push_back(Command("MAIL", "MAIL FROM:<from@example.jp>\r\n", "250 ok\r\n"));
    turns.push_back(Command("RCPT", "RCPT TO:<yamada@example.jp>\r\n", "250 ok\r\n"));
    turns.push_back(Command("DATA", "DATA\r\n", "354 go\r\n"));
    turns.push_back(Content("From", "<from@example.jp>\r\n"));
    turns.push_back(Content("To", "<yamada@example.jp>\r\n"));
    for (const char* field : {"Subject", "Date", "MIME-Version", "Content-Transfer-Encoding",
                              "Content-Type", "Message-Id", "X-Mailer"}) {
      turns.push_back(Content(field, std::string(field) + ": "));
    }
    turns.push_back(Content("header end", "\r\n\r\n"));
    turns.push_back(Content("text part header", kBoundaryLine));
    for (const char* through : {"charset=", "7bit\r\n", "\r\n"})
      turns.push_back(Content("", through));
    turns.push_back(Content("body", "\x1b(B\r\n", true));
    AddPartHeader(turns, "attachment 1 part header", "text/plain; charset=UTF-8;\r\n");
    turns.push_back(Content("attachment 1 content", "QQ==\r\n", true));
    AddPartHeader(turns, "attachment 2 part header", "png;\r\n");
    turns.push_back(Content("attachment 2 content", "iVBO\r\n", true));
    turns.push_back(Content("closing boundary", "MULTIPART_MIXED_--\r\n"));
    turns.push_back({"end of data", "\r\n.\r\n", "250 queued\r\n", false, false});
  }
  turns.push_back(Command("QUIT", "QUIT\r\n", "221 bye\r\n"));
  return turns;
}

std::vector<Turn> PopDialogue() {
  return {{"POP greeting", "", "+OK ready\r\n", false, false},
          Command("USER", "USER user\r\n", "+OK\r\n"),
          Command("PASS", "PASS secret\r\n", "+OK\r\n"),
          Command("STAT", "STAT\r\n", "+OK 0 0\r\n"),
          Command("POP QUIT", "QUIT\r\n", "+OK bye\r\n")};
}

enum class Fault { None, Disconnect, Stall, Partial };

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::Disconnect: return "disconnect";
    case Fault::Stall: return "stall";
    case Fault::Partial: return "partial send";
    default: return "none";
  }
}

// Scripts `server` for `turns` with `fault` at the first send of `step`.
// Returns false when the fault does not apply to that step. When the fault
// strikes a command (a send that expects a reply), `last` gets the bytes of
// it that reach the server: nothing may follow them. The script ends there,
// so anything more would show in what the server received.
bool Script(ScriptedServer& server, const std::vector<Turn>& turns, Fault fault,
            const std::string& step, std::string* last = nullptr) {
  bool applied = fault == Fault::None;
  for (const Turn& turn : turns) {
    const bool here = !applied && turn.step == step;
    const bool command = !turn.client.empty() && !turn.reply.empty();
    if (here) {
      applied = true;
      if (fault == Fault::Disconnect && turn.reply.empty()) {
        server.Close();  // the content's send fails
        return true;
      }
      if (fault == Fault::Partial) {
        if (turn.client.empty()) return false;
        server.AcceptOnly(3);
        if (!turn.paced) {
          if (command && last != nullptr) *last = turn.client.substr(0, 3);
          return true;
        }
      }
      if (fault == Fault::Stall && turn.reply.empty()) return false;
    }
    if (!turn.client.empty()) {
      if (turn.exact) {
        server.Expect(turn.client);
      } else {
        server.ExpectThrough(turn.client);
      }
    }
    if (here && (fault == Fault::Disconnect || fault == Fault::Stall)) {
      // The command arrived; no answer comes.
      if (fault == Fault::Disconnect) server.Close();
      if (last != nullptr) *last = turn.client;
      return true;
    }
    if (!turn.reply.empty()) server.Send(turn.reply);
  }
  return applied;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

struct FaultRow {
  Fault fault;
  const char* step;
  int code;
};

bool IsPopStep(const std::string& step) {
  for (const Turn& turn : PopDialogue()) {
    if (turn.step == step) return true;
  }
  return false;
}

class SendRunFaultTest : public testing::PlatformTest {
 protected:
  // A job for one row: its own program folder, settings and attachments.
  struct Row {
    TempDir dir;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<SendJob> job;
    ScriptedNetwork network;
  };

  std::unique_ptr<Row> NewRow() {
    auto row = std::make_unique<Row>();
    platform.ClearRecords();
    platform.SetProgramFolder(row->dir.path());
    platform.SetLocalTime(2026, 12, 6, 9, 30, 15);
    platform.SetSocketFactory([network = &row->network] { return network->NewSocket(); });
    row->settings = std::make_unique<Settings>();
    ServerSettings& server = row->settings->record.server;
    SetFieldText(server.smtpServer, "smtp.test");
    SetFieldText(server.popServer, "pop.test");
    SetFieldText(server.popUser, "user");
    SetFieldText(server.popPassword, "secret");
    SetFieldText(server.senderAddress, "from@example.jp");
    SetFieldText(server.senderName, Utf8ToSjis("差出人"));
    row->job = std::make_unique<SendJob>(*row->settings);
    SendJob& job = *row->job;
    job.recipientLines = Utf8ToSjis("よみ\t登録\t山田\tyamada@example.jp\t\t\t\t\t\t\r\n");
    job.bodyText = Utf8ToSjis("件名\r\n本文です。\r\n");
    WriteBytes(row->dir.File("a.txt"), std::string(100, 'A'));
    WriteBytes(row->dir.File("b.png"), "\x89PN");
    job.attachments = {{"a.txt", row->dir.path()}, {"b.png", row->dir.path()}};
    return row;
  }

  static std::string ResultText(int code) {
    return code == 0 ? " 1通のメール送信を完了しました。"
                     : "メール送信でエラー検出 RetCode=" + std::to_string(code);
  }

  // The run ended with `code` everywhere it is reported, and left nothing
  // behind: no connection, no timer.
  void ExpectRunEnded(Row& row, int code, ScriptedServer& smtp, ScriptedServer& pop) {
    EXPECT_FALSE(row.job->Running());
    EXPECT_EQ(platform.RunningTimers(), 0u);
    ASSERT_FALSE(platform.StatusTexts().empty());
    EXPECT_EQ(SjisToUtf8(platform.StatusTexts().back()), ResultText(code));
    const std::string log = SjisToUtf8(ReadBytes(row.dir.File("Log/log202612.txt")));
    EXPECT_NE(log.rfind("  ... " + ResultText(code) + "\r\n\r\n"), std::string::npos) << log;
    for (ScriptedServer* server : {&smtp, &pop}) {
      EXPECT_EQ(server->Mismatch(), "");
      if (server->Connects() > 0) {
        EXPECT_TRUE(server->ClientClosed());
      }
    }
  }

  // The same job then sends to servers that behave.
  void ExpectNextRunSends(Row& row) {
    ScriptedServer smtp, pop;
    Script(smtp, SmtpDialogue(true), Fault::None, "");
    Script(pop, PopDialogue(), Fault::None, "");
    row.network.Add("smtp.test", smtp);
    row.network.Add("pop.test", pop);
    platform.ClearRecords();
    EXPECT_EQ(row.job->RunSendJob(), 0);
    EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
    EXPECT_TRUE(pop.Finished()) << pop.Mismatch();
    ExpectRunEnded(row, 0, smtp, pop);
  }

  void Run(const FaultRow& fault) {
    SCOPED_TRACE(std::string(FaultName(fault.fault)) + " at " + fault.step);
    auto row = NewRow();
    ScriptedServer smtp, pop;
    const bool pop3 = IsPopStep(fault.step);
    std::string last;
    ASSERT_TRUE(pop3 ? Script(pop, PopDialogue(), fault.fault, fault.step, &last)
                     : Script(smtp, SmtpDialogue(true), fault.fault, fault.step, &last));
    if (pop3) {
      Script(smtp, SmtpDialogue(false), Fault::None, "");
    } else {
      Script(pop, PopDialogue(), Fault::None, "");
    }
    row->network.Add("smtp.test", smtp);
    row->network.Add("pop.test", pop);

    EXPECT_EQ(row->job->RunSendJob(), fault.code);

    EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
    if (pop.Connects() > 0) {
      EXPECT_TRUE(pop.Finished()) << pop.Mismatch();
    }
    ExpectRunEnded(*row, fault.code, smtp, pop);
    // Nothing after the command that failed: no QUIT glued to a half line,
    // none whose answer could be the late reply to the command.
    const ScriptedServer& faulty = pop3 ? pop : smtp;
    EXPECT_TRUE(EndsWith(faulty.Received(), last)) << testing::Hex(faulty.Received());
    // A mail that failed inside its content is never ended, and the
    // dropped connection gets no QUIT: the server discards what it got.
    const int step = fault.code - 100;
    if ((step >= 7 && step <= 10) || (step >= 20 && step <= 22)) {
      EXPECT_EQ(smtp.Received().find("\r\n.\r\n"), std::string::npos);
      EXPECT_EQ(smtp.Received().find("QUIT\r\n"), std::string::npos);
    }
    ExpectNextRunSends(*row);
  }
};

// SMTP: 10 when the connection cannot be opened, 100 + the mail's code
// (106 for the envelope, 111 for the end of data: the connection is
// dropped, so no QUIT can fail and turn it into 90), 20 when only the
// final QUIT fails. A partial send of the body or an attachment is sent in
// full by the paced sender.
TEST_F(SendRunFaultTest, SmtpFaultsAtEveryStep) {
  using F = Fault;
  const FaultRow rows[] = {
      {F::Disconnect, "greeting", 10},
      {F::Disconnect, "EHLO", 10},
      {F::Disconnect, "MAIL", 106},
      {F::Disconnect, "RCPT", 106},
      {F::Disconnect, "DATA", 106},
      {F::Disconnect, "From", 107},
      {F::Disconnect, "To", 107},
      {F::Disconnect, "Subject", 107},
      {F::Disconnect, "Date", 107},
      {F::Disconnect, "MIME-Version", 107},
      {F::Disconnect, "Content-Transfer-Encoding", 107},
      {F::Disconnect, "Content-Type", 107},
      {F::Disconnect, "Message-Id", 107},
      {F::Disconnect, "X-Mailer", 107},
      {F::Disconnect, "header end", 107},
      {F::Disconnect, "text part header", 108},
      {F::Disconnect, "body", 109},
      {F::Disconnect, "attachment 1 part header", 120},
      {F::Disconnect, "attachment 1 content", 121},
      {F::Disconnect, "attachment 2 part header", 120},
      {F::Disconnect, "attachment 2 content", 121},
      {F::Disconnect, "closing boundary", 122},
      {F::Disconnect, "end of data", 111},
      {F::Disconnect, "QUIT", 20},
      {F::Stall, "greeting", 10},
      {F::Stall, "EHLO", 10},
      {F::Stall, "MAIL", 106},
      {F::Stall, "RCPT", 106},
      {F::Stall, "DATA", 106},
      {F::Stall, "end of data", 111},
      {F::Stall, "QUIT", 20},
      {F::Partial, "EHLO", 10},
      {F::Partial, "MAIL", 106},
      {F::Partial, "RCPT", 106},
      {F::Partial, "DATA", 106},
      {F::Partial, "From", 107},
      {F::Partial, "To", 107},
      {F::Partial, "Subject", 107},
      {F::Partial, "Date", 107},
      {F::Partial, "MIME-Version", 107},
      {F::Partial, "Content-Transfer-Encoding", 107},
      {F::Partial, "Content-Type", 107},
      {F::Partial, "Message-Id", 107},
      {F::Partial, "X-Mailer", 107},
      {F::Partial, "header end", 107},
      {F::Partial, "text part header", 108},
      {F::Partial, "body", 0},
      {F::Partial, "attachment 1 part header", 120},
      {F::Partial, "attachment 1 content", 0},
      {F::Partial, "attachment 2 part header", 120},
      {F::Partial, "attachment 2 content", 0},
      {F::Partial, "closing boundary", 122},
      {F::Partial, "end of data", 111},
      {F::Partial, "QUIT", 20},
  };
  testing::CaseCount cases;
  for (const FaultRow& row : rows) {
    cases.Add(std::string("smtp ") + FaultName(row.fault));
    Run(row);
  }
}

// POP before SMTP: any failure of the login, STAT or logout fails the mail
// with 5; the SMTP connection, still in step, is closed with QUIT.
TEST_F(SendRunFaultTest, PopFaultsAtEveryStep) {
  using F = Fault;
  const FaultRow rows[] = {
      {F::Disconnect, "POP greeting", 105},
      {F::Disconnect, "USER", 105},
      {F::Disconnect, "PASS", 105},
      {F::Disconnect, "STAT", 105},
      {F::Disconnect, "POP QUIT", 105},
      {F::Stall, "POP greeting", 105},
      {F::Stall, "USER", 105},
      {F::Stall, "PASS", 105},
      {F::Stall, "STAT", 105},
      {F::Stall, "POP QUIT", 105},
      {F::Partial, "USER", 105},
      {F::Partial, "PASS", 105},
      {F::Partial, "STAT", 105},
      {F::Partial, "POP QUIT", 105},
  };
  testing::CaseCount cases;
  for (const FaultRow& row : rows) {
    cases.Add(std::string("pop3 ") + FaultName(row.fault));
    Run(row);
  }
}

// A line end in the POP3 user or password would smuggle commands onto the
// POP3 connection: the login is refused before anything is sent.
TEST_F(SendRunFaultTest, PopCredentialsThatWouldEndTheLineAreNeverSent) {
  struct CredentialRow {
    const char* name;
    std::string user;
    std::string password;
  };
  const CredentialRow rows[] = {
      {"user with CR LF and a command", "user\r\nDELE 1", "secret"},
      {"user with a bare LF", "user\nx", "secret"},
      {"user with a bare CR", "us\rer", "secret"},
      {"password with CR LF and a command", "user", "secret\r\nDELE 1"},
      {"password ending in LF", "user", "secret\n"},
  };
  testing::CaseCount cases;
  for (const CredentialRow& c : rows) {
    SCOPED_TRACE(c.name);
    cases.Add("pop3 credentials");
    auto row = NewRow();
    SetFieldText(row->settings->record.server.popUser, c.user);
    SetFieldText(row->settings->record.server.popPassword, c.password);
    ScriptedServer smtp, pop;
    Script(smtp, SmtpDialogue(false), Fault::None, "");
    row->network.Add("smtp.test", smtp);
    row->network.Add("pop.test", pop);

    EXPECT_EQ(row->job->RunSendJob(), 105);

    EXPECT_EQ(pop.Connects(), 0);
    EXPECT_EQ(pop.Received(), "");
    EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
    ExpectRunEnded(*row, 105, smtp, pop);
    EXPECT_NE(SjisToUtf8(row->job->DetailsText()).find("使えない文字"), std::string::npos);
    SetFieldText(row->settings->record.server.popUser, "user");
    SetFieldText(row->settings->record.server.popPassword, "secret");
    ExpectNextRunSends(*row);
  }
}

}  // namespace
}  // namespace velkaro
