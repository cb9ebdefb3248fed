// Personal mails as velkaro-send sends them to a real receiver (aiosmtpd),
// read back by Python's email and by Node's mailparser: an attachment per
// recipient named by their address-book values, values that would lead out
// of the attachment folder, the test send, and the [mail] settings every
// mail carries (a copy to the sender, Reply-To, Cc, List-Unsubscribe).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "peers/peer_fixture.h"
#include "peers/program_run.h"

namespace velkaro::testing {
namespace {

constexpr const char* kSender = "sender@example.com";

bool Contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// One address-book entry. The registered name is Japanese on purpose: the
// file it names is found by its UTF-8 form, not its Shift_JIS bytes.
struct Person {
  std::string regist;
  std::string name;
  std::string address;
  std::string data1;  // a member number, or a value that must be refused
};

std::vector<Person> ThreePeople() {
  return {{"鈴木", "鈴木 一郎", "suzuki@example.jp", "A-1001"},
          {"佐藤", "佐藤 花子", "sato@example.jp", "A-1002"},
          {"高橋", "高橋 健太", "takahashi@example.jp", "A-1003"}};
}

// A small PDF whose bytes differ per seed (no two recipients' files alike).
std::string PdfBytes(unsigned seed) {
  return "%PDF-1.4\n" + PseudoRandomBytes(6000 + seed * 37, seed) + "\n%%EOF\n";
}

// RFC 4180 fields of one line (no line ends inside fields here).
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// The result list a run names on its last lines, by address: the outcome,
// the server's reply (or the reason the mail never went out) and, in these
// runs with personal attachments, the file names the mail carried.
struct ResultRow {
  std::string outcome;
  std::string reply;
  std::string attachments;
};

std::map<std::string, ResultRow> ResultList(const ProgramRun& run) {
  const std::string marker = "; list in ";
  const std::size_t at = run.err.rfind(marker);
  if (at == std::string::npos) {
    ADD_FAILURE() << "no result list named:\n" << Describe(run);
    return {};
  }
  const std::size_t from = at + marker.size();
  const std::string text = ReadBytes(run.err.substr(from, run.err.find('\n', from) - from));
  std::map<std::string, ResultRow> rows;
  std::size_t start = text.find("\r\n");  // after the header line
  for (std::size_t end = text.find("\r\n", start + 2);
       start != std::string::npos && end != std::string::npos;
       start = end, end = text.find("\r\n", start + 2)) {
    const std::vector<std::string> f = CsvFields(text.substr(start + 2, end - start - 2));
    EXPECT_EQ(f.size(), 7u) << text;
    if (f.size() == 7) rows[f[2]] = {f[3], f[5], f[6]};
  }
  return rows;
}

class PersonalMailTest : public PeerTest {
 protected:
  void SetUp() override {
    PeerTest::SetUp();
    ASSERT_TRUE(std::filesystem::exists(VELKARO_SEND_PROGRAM)) << VELKARO_SEND_PROGRAM;
    home = dir.File("home");
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(dir.File("請求書"));
    body = dir.File("請求のご案内.txt");
    WriteBytes(body, Utf8ToSjis("((name))様へのご請求書\r\n((name))様\r\n"
                                "会員番号 ((data1)) の請求書をお送りします。\r\n"));
    shared = dir.File("ご利用案内.pdf");
    WriteBytes(shared, PdfBytes(99));
    ASSERT_NO_FATAL_FAILURE(StartReceiver());
  }

  void WriteAddressBook(const std::vector<Person>& people) {
    std::string book = Utf8ToSjis(
        "読み\t登録名\t氏名\tメールアドレス\t電話\t住所\tデータ１\tデータ２\tデータ３\tデータ４\r"
        "\n");
    for (const Person& p : people) {
      book += Utf8ToSjis("よみ\t" + p.regist + "\t" + p.name + "\t" + p.address + "\t\t\t" +
                         p.data1 + "\t\t\t\r\n");
    }
    WriteBytes(home + "/VelkaroAddress.txt", book);
  }

  // The program folder's settings pointed at the receiver (no POP, the
  // fastest pace), plus `more` ("name=value").
  void Configure(const std::vector<std::string>& more) {
    std::vector<std::string> args = {"--set", "smtpServer=127.0.0.1",
                                     "--set", "smtpPort=" + std::to_string(receiver.port()),
                                     "--set", "popServer=",
                                     "--set", "senderName=差出人 山田",
                                     "--set", std::string("senderAddress=") + kSender,
                                     "--set", "speed=100"};
    for (const std::string& setting : more) args.insert(args.end(), {"--set", setting});
    const ProgramRun configured = Run(args);
    ASSERT_EQ(configured.status, 0) << Describe(configured);
  }

  ProgramRun Run(const std::vector<std::string>& args) {
    return RunProgram(VELKARO_SEND_PROGRAM, args, {"VELKARO_HOME=" + home});
  }

  // A run to every person of the book with `attachPatterns`, then `more`.
  ProgramRun Send(const std::vector<Person>& people, const std::vector<std::string>& attachPatterns,
                  const std::vector<std::string>& more = {}) {
    std::vector<std::string> args;
    for (const Person& p : people) args.insert(args.end(), {"--to", p.regist});
    args.insert(args.end(), {"--text", body});
    for (const std::string& a : attachPatterns) args.insert(args.end(), {"--attach", a});
    args.insert(args.end(), more.begin(), more.end());
    return Run(args);
  }

  std::string PersonalFile(const std::string& value) const {
    return dir.File("請求書/" + value + ".pdf");
  }

  // Every RCPT TO of a stored message, sorted.
  std::vector<std::string> RcptTo(const std::string& message) const {
    std::vector<std::string> out;
    const auto envelope = Envelope(message);
    const auto [from, to] = envelope.equal_range("rcpt_to");
    for (auto it = from; it != to; ++it) out.push_back(it->second);
    std::sort(out.begin(), out.end());
    return out;
  }

  // The stored message with `address` among its RCPT TO; "" when none.
  std::string MessageFor(const std::string& address) const {
    for (const std::string& message : ReceivedMessages()) {
      const std::vector<std::string> rcpt = RcptTo(message);
      if (std::find(rcpt.begin(), rcpt.end(), address) != rcpt.end()) return message;
    }
    return {};
  }

  // The SHA-256 of every attachment of a read mail, in its order.
  static std::vector<std::string> AttachmentHashes(const MailReport& r) {
    std::vector<std::string> out;
    for (int i = 0; i < r.Count("attachments"); ++i) {
      out.push_back(r.Get("attachments." + std::to_string(i) + ".sha256"));
    }
    return out;
  }

  // Every send log of the program folder, as UTF-8.
  std::string SendLogs() const {
    std::string text;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(home + "/Log", ignored)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("log") && name.ends_with(".txt")) {
        text += SjisToUtf8(ReadBytes(entry.path().string()));
      }
    }
    return text;
  }

  std::size_t JournalCount() const {
    std::size_t count = 0;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(home + "/Log", ignored)) {
      if (entry.path().filename().string().starts_with("journal-")) ++count;
    }
    return count;
  }

  std::string home;
  std::string body;
  std::string shared;
};

// Three recipients, each with an invoice of their own named by their
// registered name, and one file for all: every mail carries its own file
// and the shared one byte for byte, under the names a reader shows, and no
// other recipient's file.
TEST_F(PersonalMailTest, EachRecipientGetsTheirOwnFileAndTheSharedOne) {
  const std::vector<Person> people = ThreePeople();
  WriteAddressBook(people);
  for (std::size_t i = 0; i < people.size(); ++i) {
    WriteBytes(PersonalFile(people[i].regist), PdfBytes(static_cast<unsigned>(i + 1)));
  }
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  const ProgramRun run = Send(people, {dir.File("請求書/((regist)).pdf"), shared});
  ASSERT_EQ(run.status, 0) << Describe(run);
  ASSERT_EQ(ReceivedMessages().size(), people.size()) << ReceiverSessionLog();

  for (std::size_t i = 0; i < people.size(); ++i) {
    const Person& p = people[i];
    SCOPED_TRACE(p.address);
    const std::string message = MessageFor(p.address);
    ASSERT_FALSE(message.empty());
    EXPECT_EQ(RcptTo(message), std::vector<std::string>{p.address});
    const MailReport r = CheckWithBoth(message);
    SCOPED_TRACE(r.Dump());
    EXPECT_EQ(r.Get("to.name"), p.name);
    EXPECT_EQ(r.Get("subject"), p.name + "様へのご請求書");
    EXPECT_TRUE(Contains(r.Get("body"), "会員番号 " + p.data1)) << r.Get("body");
    const std::string own = PdfBytes(static_cast<unsigned>(i + 1));
    EXPECT_EQ(AttachmentHashes(r),
              (std::vector<std::string>{Sha256(own), Sha256(ReadBytes(shared))}));
    EXPECT_EQ(r.Get("attachments.0.filename"), p.regist + ".pdf");
    EXPECT_EQ(r.Get("attachments.0.content_type"), "application/pdf");
    EXPECT_EQ(r.Get("attachments.0.length"), std::to_string(own.size()));
    EXPECT_EQ(r.Get("attachments.1.filename"), "ご利用案内.pdf");
    EXPECT_EQ(r.Get("raw.seven_bit"), "true");
  }
}

// A personal file that is not there. Under onRecipientFailure=stop the run's
// checks find it before any connection: nothing is sent and the output
// names the recipient and the path looked for. Under continue that
// recipient alone is refused, the path in the result list, and the others
// get their mails.
TEST_F(PersonalMailTest, AMissingPersonalFileStopsTheRunOrRefusesItsRecipient) {
  const std::vector<Person> people = ThreePeople();
  WriteAddressBook(people);
  WriteBytes(PersonalFile("鈴木"), PdfBytes(1));
  WriteBytes(PersonalFile("高橋"), PdfBytes(3));
  const std::string missing = PersonalFile("佐藤");
  const std::vector<std::string> attach = {dir.File("請求書/((regist)).pdf"), shared};
  ASSERT_NO_FATAL_FAILURE(Configure({}));

  const ProgramRun stopped = Send(people, attach);
  EXPECT_EQ(stopped.status, 1) << Describe(stopped);
  EXPECT_TRUE(ReceivedMessages().empty());
  EXPECT_FALSE(Contains(ReceiverSessionLog(), "EHLO")) << "a connection was made";
  const std::string said = stopped.out + stopped.err;
  EXPECT_TRUE(Contains(said, "佐藤")) << said;
  EXPECT_TRUE(Contains(said, missing)) << said;
  EXPECT_EQ(JournalCount(), 0u);

  ASSERT_NO_FATAL_FAILURE(Configure({"onRecipientFailure=continue"}));
  const ProgramRun continued = Send(people, attach);
  EXPECT_EQ(continued.status, 30) << Describe(continued);
  ASSERT_EQ(ReceivedMessages().size(), 2u) << ReceiverSessionLog();
  EXPECT_TRUE(MessageFor("sato@example.jp").empty());
  const MailReport r = Check(MessageFor("takahashi@example.jp"));
  EXPECT_EQ(AttachmentHashes(r),
            (std::vector<std::string>{Sha256(PdfBytes(3)), Sha256(ReadBytes(shared))}))
      << r.Dump();
  const std::map<std::string, ResultRow> rows = ResultList(continued);
  ASSERT_EQ(rows.size(), 3u) << Describe(continued);
  EXPECT_EQ(rows.at("suzuki@example.jp").outcome, "sent");
  EXPECT_EQ(rows.at("takahashi@example.jp").outcome, "sent");
  EXPECT_EQ(rows.at("sato@example.jp").outcome, "refused");
  EXPECT_TRUE(Contains(rows.at("sato@example.jp").reply, missing))
      << rows.at("sato@example.jp").reply;
  EXPECT_EQ(rows.at("takahashi@example.jp").attachments, "高橋.pdf; ご利用案内.pdf");
  EXPECT_EQ(rows.at("sato@example.jp").attachments, "");
}

// Address-book values that would take the path elsewhere are refused for
// their recipient, even where a file waits at the place they lead to:
// "../" out of the folder, "/" into a folder below it, a control byte. No
// bytes of those files reach any mail; the recipients with plain values
// get theirs.
TEST_F(PersonalMailTest, PathValuesLeadingElsewhereAreRefused) {
  std::vector<Person> people = {
      {"鈴木", "鈴木 一郎", "suzuki@example.jp", "A-1001"},
      {"佐藤", "佐藤 花子", "sato@example.jp", "../secret"},
      {"高橋", "高橋 健太", "takahashi@example.jp", "sub/inner"},
      {"田中", "田中 美咲", "tanaka@example.jp", "bell\x07"},
      {"伊藤", "伊藤 由美", "ito@example.jp", "A-1005"},
  };
  WriteAddressBook(people);
  WriteBytes(PersonalFile("A-1001"), PdfBytes(1));
  WriteBytes(PersonalFile("A-1005"), PdfBytes(5));
  const std::string secret = PdfBytes(66);  // what lies outside the folder
  WriteBytes(dir.File("secret.pdf"), secret);
  std::filesystem::create_directories(dir.File("請求書/sub"));
  const std::string inner = PdfBytes(77);
  WriteBytes(PersonalFile("sub/inner"), inner);
  WriteBytes(PersonalFile("bell\x07"), PdfBytes(88));
  const std::vector<std::string> attach = {dir.File("請求書/((data1)).pdf")};
  ASSERT_NO_FATAL_FAILURE(Configure({}));

  const ProgramRun stopped = Send(people, attach);
  EXPECT_EQ(stopped.status, 1) << Describe(stopped);
  EXPECT_TRUE(ReceivedMessages().empty());
  EXPECT_TRUE(Contains(stopped.out + stopped.err, "佐藤")) << Describe(stopped);

  ASSERT_NO_FATAL_FAILURE(Configure({"onRecipientFailure=continue"}));
  const ProgramRun continued = Send(people, attach);
  EXPECT_EQ(continued.status, 30) << Describe(continued);
  ASSERT_EQ(ReceivedMessages().size(), 2u) << ReceiverSessionLog();
  const std::map<std::string, ResultRow> rows = ResultList(continued);
  for (const Person& p : people) {
    SCOPED_TRACE(p.address);
    const bool plain = p.data1.starts_with("A-");
    ASSERT_EQ(rows.count(p.address), 1u);
    EXPECT_EQ(rows.at(p.address).outcome, plain ? "sent" : "refused");
    EXPECT_EQ(MessageFor(p.address).empty(), !plain);
  }
  for (const std::string& message : ReceivedMessages()) {
    const MailReport r = Check(message);
    for (const std::string& hash : AttachmentHashes(r)) {
      EXPECT_NE(hash, Sha256(secret)) << "a file outside the folder was sent";
      EXPECT_NE(hash, Sha256(inner)) << "a file below the folder was sent";
    }
    EXPECT_EQ(r.Count("attachments"), 1) << r.Dump();
  }
}

// The test send: recipient 2's mail, personal file and all, goes to the
// test address alone, not to the Cc or the sender's copy the settings ask
// for; its To still shows the recipient, its subject is marked, the send
// log says it was a test, and it leaves no result list or journal. The real
// run after it is the same as without it.
TEST_F(PersonalMailTest, TheTestSendGoesToTheTestAddressOnly) {
  const std::vector<Person> people = ThreePeople();
  WriteAddressBook(people);
  for (std::size_t i = 0; i < people.size(); ++i) {
    WriteBytes(PersonalFile(people[i].regist), PdfBytes(static_cast<unsigned>(i + 1)));
  }
  const std::vector<std::string> attach = {dir.File("請求書/((regist)).pdf"), shared};
  ASSERT_NO_FATAL_FAILURE(Configure({"copyToSelf=1", "cc=desk@example.net"}));

  const ProgramRun test = Send(people, attach, {"--test-to", "me@example.org", "--as", "2"});
  ASSERT_EQ(test.status, 0) << Describe(test);
  const std::vector<std::string> first = ReceivedMessages();
  ASSERT_EQ(first.size(), 1u) << ReceiverSessionLog();
  EXPECT_EQ(RcptTo(first[0]), std::vector<std::string>{"me@example.org"});
  EXPECT_EQ(First(Envelope(first[0]), "mail_from"), kSender);
  const MailReport r = CheckWithBoth(first[0]);
  EXPECT_EQ(r.Get("subject"), "[テスト] 佐藤 花子様へのご請求書") << r.Dump();
  EXPECT_EQ(r.Get("to.name"), "佐藤 花子");
  EXPECT_EQ(r.Get("to.address"), "sato@example.jp");
  EXPECT_EQ(AttachmentHashes(r),
            (std::vector<std::string>{Sha256(PdfBytes(2)), Sha256(ReadBytes(shared))}));
  EXPECT_FALSE(Contains(test.err, "; list in ")) << test.err;
  EXPECT_EQ(JournalCount(), 0u);
  const std::string log = SendLogs();
  EXPECT_TRUE(Contains(log, "テスト")) << log;
  EXPECT_TRUE(Contains(log, "me@example.org")) << log;

  const ProgramRun real = Send(people, attach);
  ASSERT_EQ(real.status, 0) << Describe(real);
  ASSERT_EQ(ReceivedMessages().size(), 1u + people.size()) << ReceiverSessionLog();
  for (std::size_t i = 0; i < people.size(); ++i) {
    const Person& p = people[i];
    SCOPED_TRACE(p.address);
    const std::string message = MessageFor(p.address);
    ASSERT_FALSE(message.empty());
    std::vector<std::string> envelope = {p.address, kSender, "desk@example.net"};
    std::sort(envelope.begin(), envelope.end());
    EXPECT_EQ(RcptTo(message), envelope);
    const MailReport mail = Check(message);
    EXPECT_EQ(mail.Get("subject"), p.name + "様へのご請求書");
    EXPECT_EQ(AttachmentHashes(mail).at(0), Sha256(PdfBytes(static_cast<unsigned>(i + 1))));
  }
  EXPECT_EQ(ResultList(real).size(), people.size());
}

// A recipient's registered name as a link carries it: its UTF-8 bytes
// percent-encoded (RFC 3986), so that a header stays 7-bit.
std::string EncodedRegist(const Person& p) {
  static const std::map<std::string, std::string> encoded = {{"鈴木", "%E9%88%B4%E6%9C%A8"},
                                                             {"佐藤", "%E4%BD%90%E8%97%A4"},
                                                             {"高橋", "%E9%AB%98%E6%A9%8B"}};
  return encoded.at(p.regist);
}

struct ExtrasCase {
  const char* name;
  std::vector<std::string> settings;
  std::vector<std::string> extraRcpt;  // besides the recipient
  std::string replyName, replyAddress, cc;
  std::string (*unsubscribe)(const Person&);  // the List-Unsubscribe value
  std::string unsubscribePost;
};

void PrintTo(const ExtrasCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<ExtrasCase> ExtrasCases() {
  return {
      {"copy_reply_to_cc_https_link",
       {"copyToSelf=1", "replyTo=返信係 山田 <reply@example.com>", "cc=desk@example.net",
        "listUnsubscribe=https://example.com/unsub?id=((data1))"},
       {kSender, "desk@example.net"},
       "返信係 山田",
       "reply@example.com",
       "desk@example.net",
       [](const Person& p) { return "<https://example.com/unsub?id=" + p.data1 + ">"; },
       "List-Unsubscribe=One-Click"},
      // Values that are no plain URI characters go in percent-encoded: a
      // Japanese name, the "@" of an address.
      {"https_link_with_encoded_values",
       {"listUnsubscribe=https://example.com/u?n=((regist))&m=((mailaddr))"},
       {},
       "",
       "",
       "",
       [](const Person& p) {
         std::string address = p.address;
         address.replace(address.find('@'), 1, "%40");
         return "<https://example.com/u?n=" + EncodedRegist(p) + "&m=" + address + ">";
       },
       "List-Unsubscribe=One-Click"},
      // A mailto: link has no one-click form (RFC 8058 is for https).
      {"mailto_link_only",
       {"listUnsubscribe=mailto:unsubscribe@example.com"},
       {},
       "",
       "",
       "",
       [](const Person&) { return std::string("<mailto:unsubscribe@example.com>"); },
       ""},
      {"copy_to_self_only",
       {"copyToSelf=1"},
       {kSender},
       "",
       "",
       "",
       [](const Person&) { return std::string(); },
       ""},
  };
}

class MailExtrasTest : public PersonalMailTest, public ::testing::WithParamInterface<ExtrasCase> {};

// Every mail of the run carries the settings' headers, read alike by both
// readers; the copy to the sender and the Cc are in every envelope, and no
// Bcc header gives the copy away.
TEST_P(MailExtrasTest, EveryMailCarriesTheHeadersAndEnvelope) {
  const ExtrasCase& c = GetParam();
  const std::vector<Person> people = ThreePeople();
  WriteAddressBook(people);
  ASSERT_NO_FATAL_FAILURE(Configure(c.settings));
  const ProgramRun run = Send(people, {});
  ASSERT_EQ(run.status, 0) << Describe(run);
  ASSERT_EQ(ReceivedMessages().size(), people.size()) << ReceiverSessionLog();
  for (const Person& p : people) {
    SCOPED_TRACE(p.address);
    const std::string message = MessageFor(p.address);
    ASSERT_FALSE(message.empty());
    std::vector<std::string> wanted = c.extraRcpt;
    wanted.push_back(p.address);
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(RcptTo(message), wanted);
    const MailReport python = CheckWithBoth(message);
    const MailReport node = CheckWithMailparser(message);
    SCOPED_TRACE(python.Dump());
    for (int i = 0; i < python.Count("header_names"); ++i) {
      std::string name = python.Get("header_names." + std::to_string(i));
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
      EXPECT_NE(name, "bcc");
    }
    const std::map<std::string, std::string> expected = {
        {"to.address", p.address},
        {"reply_to.name", c.replyName},
        {"reply_to.address", c.replyAddress},
        {"cc.address", c.cc},
        {"list_unsubscribe", c.unsubscribe(p)},
        {"list_unsubscribe_post", c.unsubscribePost},
    };
    // A long link is folded right after the field name (RFC 5322 3.2.2);
    // Python's email keeps that white space in front of the value.
    for (const auto& [key, value] : expected) {
      EXPECT_EQ(Trimmed(python.Get(key)), value) << key << " (Python's email)";
      EXPECT_EQ(Trimmed(node.Get(key)), value) << key << " (mailparser)";
    }
    EXPECT_EQ(python.Get("raw.seven_bit"), "true");
  }
}

INSTANTIATE_TEST_SUITE_P(Peers, MailExtrasTest, ::testing::ValuesIn(ExtrasCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velkaro::testing
