// Bad input on its way into a send run: addresses that would end a command
// line or a path early, from the address book, a setup file, the command
// line and the settings; broken Shift_JIS, NUL bytes, megabyte lines,
// thousands of fields and empty fields. Addresses are refused by the run's
// checks before a connection is opened; everything else goes out as clean
// 7-bit mail or is refused before it is sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "core/zentool.h"
#include "data/address_book.h"
#include "job/run_fixture.h"
#include "job/send_setup.h"

namespace velkaro {
namespace {

using testing::WriteBytes;

std::string Book(const std::string& sjisLines) {
  return AddressBookHeaderLine() + sjisLines;
}

std::string Row(const std::string& regist, const std::string& name, const std::string& address) {
  return Sjis("よみ\t") + regist + "\t" + name + "\t" + address + "\t\t\t\t\t\t\r\n";
}

class BadInputTest : public testing::RunTest {
 protected:
  // The address book as the program reads it from its file.
  std::string LoadBook(const std::string& bytes) {
    WriteBytes(dir.File("VelkaroAddress.txt"), bytes);
    return LoadAddressBook(dir.File("VelkaroAddress.txt"));
  }
  std::string MessageText() const {
    const auto& boxes = platform.MessageBoxes();
    return boxes.empty() ? std::string() : SjisToUtf8(boxes.back().text);
  }
};

// The server expects nothing: not even a connection may be made.
TEST_F(BadInputTest, UnsendableAddressesAreRefusedBeforeAnyConnection) {
  const std::string cancel = "\r\n送信処理をキャンセルします。\r\n";
  const struct {
    const char* source;
    std::function<void()> add;
    std::string message;  // the message's lines before the cancel line
  } cases[] = {
      {"address book: CR in the address",
       [this] {
         const std::string book =
             LoadBook(Book(Row("yamada", "Yamada", "a@example.jp\rRCPT TO:<b@example.jp")));
         job->AddRecipientByName("yamada", book);
       },
       "送信先( 1件目 Yamada<a@example.jp?RCPT TO:<b@example.jp> )"
       "のメールアドレスに使えない文字があります。\r\n"},
      {"address book: '>' in the address",
       [this] { job->AddRecipientByName("x", LoadBook(Book(Row("x", "X", "a>b@example.jp")))); },
       "送信先( 1件目 X<a>b@example.jp> )のメールアドレスに使えない文字があります。\r\n"},
      {"address book: NUL in the address",
       [this] {
         const std::string address("a\0b@example.jp", 14);
         job->AddRecipientByName("x", LoadBook(Book(Row("x", "X", address))));
       },
       "送信先( 1件目 X<a?b@example.jp> )のメールアドレスに使えない文字があります。\r\n"},
      {"address book: an address of 300 bytes",
       [this] {
         const std::string address = std::string(288, 'a') + "@example.jp";
         job->AddRecipientByName("x", LoadBook(Book(Row("x", "X", address))));
       },
       "送信先( 1件目 X )のメールアドレスが長すぎます( 299 バイト)。\r\n"},
      {"address book: a row whose every field is empty",
       [this] { job->recipientLines += "\t\t\t\t\t\t\t\t\t\r\n"; },
       "送信先( 1件目  )のメールアドレスがありません。\r\n"},
      {"setup file: '<' and '>' around the address",
       [this] {
         ReadSendSetupText(*job,
                           "/sendto-begin\r\nname=N\r\nmailaddr=<evil@example.jp>\r\n"
                           "/sendto-end\r\n",
                           "");
       },
       "送信先( 1件目 N<<evil@example.jp>> )のメールアドレスに使えない文字があります。\r\n"},
      {"setup file: a CR inside the address line",
       [this] {
         ReadSendSetupText(*job,
                           "/sendto-begin\r\nname=N\r\nmailaddr=a@example.jp>\rRCPT TO:<b@x>\r\n"
                           "/sendto-end\r\n",
                           "");
       },
       "送信先( 1件目 N<a@example.jp> RCPT TO:<b@x>> )のメールアドレスに使えない文字があります。"
       "\r\n"},
      {"setup file: a block without any field",
       [this] { ReadSendSetupText(*job, "/sendto-begin\r\n/sendto-end\r\n", ""); },
       "送信先( 1件目  )のメールアドレスがありません。\r\n"},
      {"command line: '<' inside the brackets",
       [this] { ApplyCommandLine(*job, ParseCommandLine({"/to=Name <a<b@example.jp>"}), ""); },
       "送信先( 1件目 Name<a<b@example.jp> )のメールアドレスに使えない文字があります。\r\n"},
      {"command line: a line end inside the brackets",
       [this] { job->AddRecipientByName("Name <a@example.jp\r\n<b@example.jp>", ""); },
       "送信先( 1件目 Name<a@example.jp  <b@example.jp> )"
       "のメールアドレスに使えない文字があります。\r\n"},
      {"settings: a line end in the sender address",
       [this] {
         SetFieldText(settings->record.server.senderAddress,
                      "from@example.jp\r\nRCPT TO:<evil@example.jp>");
         AddRecipient("Ok", "ok@example.jp");
       },
       "差出人のメールアドレス( from@example.jp??RCPT TO:<evil@example.jp> )"
       "に使えない文字があります。\r\n"},
  };
  testing::CaseCount count;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    count.Add("bad address");
    testing::ScriptedServer silent;  // no step: no byte may arrive
    network.Add("smtp.test", silent);
    UseProgramFolder(dir.path());
    job->bodyText = Sjis("件名\r\n本文\r\n");
    c.add();
    ASSERT_EQ(Zentool().ZenCountLines(job->recipientLines), 1) << "the recipient was not added";
    platform.ClearRecords();
    EXPECT_EQ(job->RunSendJob(), 1);
    EXPECT_EQ(silent.Connects(), 0);
    EXPECT_EQ(silent.Received(), "");
    EXPECT_EQ(MessageText(), c.message + cancel);
    EXPECT_EQ(LastStatus(), "メール送信キャンセル RetCode=1");
    EXPECT_FALSE(std::filesystem::exists(dir.File("Text")));
  }
}

TEST_F(BadInputTest, EveryProblemIsInOneMessageAndLongListsAreCut) {
  testing::CaseCount count;
  count.Add("bad address");
  testing::ScriptedServer silent;
  network.Add("smtp.test", silent);
  SetFieldText(settings->record.server.senderAddress, "<from@example.jp>");
  AddRecipient(Sjis("良い"), "good@example.jp");
  // A megabyte "address": the message shows its start only.
  AddRecipient("Huge", std::string(1 << 20, 'h') + "\r");
  for (int i = 0; i < 24; ++i) AddRecipient("N" + std::to_string(i), "");
  EXPECT_EQ(job->RunSendJob(), 1);
  EXPECT_EQ(silent.Connects(), 0);
  std::string expected =
      "送信本文がありません。\r\n"
      "差出人のメールアドレス( <from@example.jp> )に使えない文字があります。\r\n"
      "送信先( 2件目 Huge<" +
      std::string(64, 'h') + "…> )のメールアドレスに使えない文字があります。\r\n";
  for (int i = 0; i < 9; ++i) {
    expected += "送信先( " + std::to_string(i + 3) + "件目 N" + std::to_string(i) +
                " )のメールアドレスがありません。\r\n";
  }
  expected += "ほかに 15件の送信先のメールアドレスにも問題があります。\r\n";
  EXPECT_EQ(MessageText(), expected + "\r\n送信処理をキャンセルします。\r\n");
}

}  // namespace
}  // namespace velkaro

namespace velkaro {
namespace {

// What every mail on the wire must be, whatever the text it came from:
// 7-bit, lines ended by CR LF only, no line over 998 characters (RFC 5322
// 2.1.1, 2.3), no NUL (RFC 2045 2.7). The first fault found, or empty.
std::string WireFault(const std::string& mail) {
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < mail.size(); ++i) {
    const auto b = static_cast<unsigned char>(mail[i]);
    if (b >= 0x80) return "8-bit byte at " + std::to_string(i);
    if (b == 0) return "NUL at " + std::to_string(i);
    if (b == '\r' && (i + 1 >= mail.size() || mail[i + 1] != '\n')) {
      return "bare CR at " + std::to_string(i);
    }
    if (b == '\n') {
      if (i == 0 || mail[i - 1] != '\r') return "bare LF at " + std::to_string(i);
      if (i - 1 - lineStart > 998) return "line of " + std::to_string(i - 1 - lineStart);
      lineStart = i + 1;
    }
  }
  return {};
}

TEST_F(BadInputTest, BrokenTextGoesOutAsCleanMail) {
  const std::string lead = "\x82";  // a lead byte
  const std::string nul(1, '\0');
  const std::string megaLine(1 << 20, 'x');
  const struct {
    const char* what;
    std::string body;
    std::string name;
  } cases[] = {
      {"lone lead byte ending the subject", Sjis("件名") + lead + "\r\n" + Sjis("本文\r\n"), "N"},
      {"lone lead byte ending the body", Sjis("件名\r\n本文") + lead, "N"},
      {"lead byte before CR LF", Sjis("件名\r\n本") + lead + "\r\n" + Sjis("文\r\n"), "N"},
      {"lead byte before TAB and ESC", Sjis("件名\r\n") + lead + "\t" + lead + "\x1b$B\r\n", "N"},
      {"lead byte before a bare LF", Sjis("件名\r\n") + lead + "\n.\n" + Sjis("文\r\n"), "N"},
      {"lead byte and control bytes in the name", Sjis("件名\r\n本文\r\n"),
       "N" + lead + "\r" + lead + "\n" + lead},
      {"NUL in the body", Sjis("件名\r\n本") + nul + Sjis("文\r\n"), "N"},
      {"NUL in the subject", Sjis("件") + nul + Sjis("名\r\n本文\r\n"), "N"},
      {"NUL in the name", Sjis("件名\r\n((name))様\r\n"), "N" + nul + "N"},
      {"a 1 MB body line", Sjis("件名\r\n") + megaLine + "\r\n", "N"},
      {"a 1 MB subject", megaLine + "\r\n" + Sjis("本文\r\n"), "N"},
      {"a 1 MB name", Sjis("件名\r\n本文\r\n"), megaLine},
  };
  UseReceivingServer();
  testing::CaseCount count;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    count.Add("broken text");
    const std::size_t before = receiver.Mails().size();
    job->recipientLines.clear();
    AddRecipient(c.name, "to@example.jp");
    job->bodyText = c.body;
    EXPECT_EQ(job->RunSendJob(), 0);
    ASSERT_EQ(receiver.Mails().size(), before + 1);
    EXPECT_EQ(WireFault(receiver.Mails().back()), "");
  }
}

// Only the first ten fields of a line mean anything; the rest is carried
// along in the recipient line and never reaches a mail or a setup file.
TEST_F(BadInputTest, LinesWithThousandsOfFieldsSendTheFirstTen) {
  testing::CaseCount count;
  count.Add("oversized input");
  std::string tail;
  for (int i = 0; i < 10000; ++i) tail += "\tX";
  const std::string line =
      Sjis("やまだ\tyamada\t山田\tyamada@example.jp\t電話\t住所\td1\td2\td3\td4") + tail + "\r\n";
  const std::string book = LoadBook(Book(line));
  ASSERT_EQ(job->AddRecipientByName("yamada", book), 0);
  ASSERT_EQ(job->recipientLines, line);
  job->bodyText = Sjis("((name))様 ((data4))\r\n本文\r\n");
  UseReceivingServer();
  EXPECT_EQ(job->RunSendJob(), 0);
  ASSERT_EQ(receiver.Mails().size(), 1u);
  EXPECT_NE(std::find(receiver.Commands().begin(), receiver.Commands().end(),
                      "RCPT TO:<yamada@example.jp>"),
            receiver.Commands().end());
  EXPECT_EQ(receiver.Mails()[0].find("\tX"), std::string::npos);
  const std::string log = SjisToUtf8(testing::ReadBytes(dir.File("Log/log202612.txt")));
  EXPECT_NE(log.find("  タイトル: 山田様 d4\r\n"), std::string::npos) << log.substr(0, 200);
  const std::string setup = SjisToUtf8(BuildSendSetupText(*job));
  EXPECT_NE(setup.find("data4=d4\r\n/sendto-end\r\n"), std::string::npos);
  EXPECT_EQ(setup.find("X"), std::string::npos);
}

// A setup file line of a megabyte is one value like any other.
TEST_F(BadInputTest, AMegabyteSetupLineIsOneValue) {
  testing::CaseCount count;
  count.Add("oversized input");
  const std::string name(1 << 20, 'n');
  ReadSendSetupText(
      *job, "/sendto-begin\r\nname=" + name + "\r\nmailaddr=a@example.jp\r\n/sendto-end\r\n", "");
  AddressEntry entry;
  ASSERT_EQ(ParseEntryLine("\r\n" + job->recipientLines, 1, entry), 0);
  EXPECT_EQ(entry.name, name);
  EXPECT_EQ(entry.mailaddr, "a@example.jp");
}

}  // namespace
}  // namespace velkaro
