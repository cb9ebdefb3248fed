// --dry-run composes each mail as the run would; these tests hold it
// against the run itself (its archive copies, its log and its check
// message), so the two cannot drift apart.
#include "cli/dry_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/zentool.h"
#include "job/eml_export.h"
#include "mail/mime_text.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro::cli {
namespace {

using velkaro::testing::ReadBytes;
using velkaro::testing::ScriptedServer;
using velkaro::testing::WithoutDateAndId;
using velkaro::testing::WriteBytes;

std::string S(const char* utf8) {
  return Utf8ToSjis(utf8);
}

class DryRunTest : public velkaro::testing::PlatformTest {
 protected:
  DryRunTest() {
    platform.SetProgramFolder(dir.path());
    platform.SetLocalTime(2026, 12, 8, 9, 30, 15);  // a Tuesday
    settings = std::make_unique<Settings>();
    SetFieldText(settings->record.server.smtpServer, "smtp.test");
    SetFieldText(settings->record.server.senderName, S("総務部 佐藤"));
    SetFieldText(settings->record.server.senderAddress, "sato@example.jp");
    job = std::make_unique<SendJob>(*settings);
    network.Add("smtp.test", smtp);
    platform.SetSocketFactory([this] { return network.NewSocket(); });
  }

  void AddRecipient(const char* kana, const char* name, const char* address, const char* data1) {
    job->recipientLines += S(kana) + "\t" + S("登録") + "\t" + S(name) + "\t" + address +
                           "\t03-1234\t" + S("東京都") + "\t" + S(data1) + "\t\t\t\t\r\n";
  }

  // Runs the real job against a server that takes every mail.
  void RunForReal(int mails) {
    smtp.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
    for (int i = 0; i < mails; ++i) {
      smtp.ExpectThrough("\r\n").Send("250 ok\r\n");  // MAIL FROM
      smtp.ExpectThrough("\r\n").Send("250 ok\r\n");  // RCPT TO
      smtp.Expect("DATA\r\n").Send("354 go\r\n");
      smtp.ExpectThrough("\r\n.\r\n").Send("250 queued\r\n");
    }
    smtp.Expect("QUIT\r\n").Send("221 bye\r\n");
    ASSERT_EQ(job->RunSendJob(), 0) << job->DetailsText();
  }

  // The run's copy of mail i (an unsaved body is archived as "text").
  std::string Archive(int i) const {
    return ReadBytes(dir.File("Text/text_20261208-093015_" + std::to_string(i) + ".txt"));
  }

  velkaro::testing::TempDir dir;
  std::unique_ptr<Settings> settings;
  std::unique_ptr<SendJob> job;
  ScriptedServer smtp;
  velkaro::testing::ScriptedNetwork network;
};

TEST_F(DryRunTest, ShowsEachPersonalisedMail) {
  AddRecipient("やまだ", "山田 太郎", "yamada@example.jp", "A組");
  AddRecipient("すずき", "鈴木 花子", "suzuki@example.jp", "B組");
  job->bodyText = S("  ((name))様 ((data1))のご案内 \r\n((kana))さん、((today))です。\r\nｶﾀｶﾅ\r\n");
  job->attachments.push_back({"地図.pdf", dir.path()});
  WriteBytes(dir.File("地図.pdf"), "%PDF");

  const auto mails = ComposeMails(*job, settings->record);
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(SjisToUtf8(mails[1].subject), "鈴木 花子様 B組のご案内");
  EXPECT_EQ(mails[1].recipientAddress, "suzuki@example.jp");
  EXPECT_EQ(mails[1].problem, "");
  EXPECT_EQ(FormatDryRun(mails, *job, settings->record),
            "===== mail 1/2 =====\n"
            "From: 総務部 佐藤 <sato@example.jp>\n"
            "To: 山田 太郎 <yamada@example.jp>\n"
            "Subject: 山田 太郎様 A組のご案内\n"
            "Charset: UTF-8 (because of ｶ, ﾀ, ﾅ)\n"
            "Attachments: 地図.pdf\n"
            "\n"
            "やまださん、2026年12月08日(火)です。\n"
            "ｶﾀｶﾅ\n"
            "\n"
            "===== mail 2/2 =====\n"
            "From: 総務部 佐藤 <sato@example.jp>\n"
            "To: 鈴木 花子 <suzuki@example.jp>\n"
            "Subject: 鈴木 花子様 B組のご案内\n"
            "Charset: UTF-8 (because of ｶ, ﾀ, ﾅ)\n"
            "Attachments: 地図.pdf\n"
            "\n"
            "すずきさん、2026年12月08日(火)です。\n"
            "ｶﾀｶﾅ\n"
            "\n");
}

// The dry run's bodies are the run's archive copies byte for byte and its
// subjects the run log's, for either setting of title-in.
TEST_F(DryRunTest, MatchesWhatTheRunArchivesAndLogs) {
  for (const bool titleIn : {false, true}) {
    std::filesystem::remove_all(dir.File("Text"));
    std::filesystem::remove_all(dir.File("Log"));
    job->recipientLines.clear();
    AddRecipient("やまだ", "山田", "yamada@example.jp", "");
    AddRecipient("いとう", "伊藤", "ito@example.jp", "");
    // ((today)), not ((time)): the run's waits move the clock on.
    job->bodyText = S("\t((name))様\t\r\n本文((mailaddr))\r\n((today))");
    job->titleIn = titleIn;
    platform.SetLocalTime(2026, 12, 8, 9, 30, 15);
    const auto mails = ComposeMails(*job, settings->record);

    smtp = ScriptedServer();
    network.Add("smtp.test", smtp);
    RunForReal(2);
    const std::string log = SjisToUtf8(ReadBytes(dir.File("Log/log202612.txt")));
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(mails[i].body, Archive(i)) << "title-in " << titleIn << ", mail " << i;
      EXPECT_NE(log.find("  タイトル: " + SjisToUtf8(mails[i].subject) + "\r\n"), std::string::npos)
          << log;
    }
  }
}

// The content of each mail a scripted server received, as a receiver
// stores it: from after DATA to the end of data's first line end, with the
// transparency dots taken out.
std::vector<std::string> ReceivedMails(const std::string& session) {
  std::vector<std::string> mails;
  for (std::size_t at = session.find("DATA\r\n"); at != std::string::npos;
       at = session.find("DATA\r\n", at)) {
    at += 6;
    const std::size_t end = session.find("\r\n.\r\n", at);
    if (end == std::string::npos) break;
    std::string mail;
    const std::string stuffed = session.substr(at, end + 2 - at);
    for (std::size_t i = 0; i < stuffed.size(); ++i) {
      const bool lineStart = i == 0 || stuffed[i - 1] == '\n';
      if (!(lineStart && stuffed[i] == '.')) mail += stuffed[i];
    }
    mails.push_back(mail);
    at = end;
  }
  return mails;
}

// --eml writes what the run sends, byte for byte apart from Date and
// Message-Id: an ISO-2022-JP mail and a UTF-8 one in one run, with a dot
// line and an attachment.
TEST_F(DryRunTest, EmlFilesAreWhatTheRunSends) {
  AddRecipient("やまだ", "山田 太郎", "yamada@example.jp", "");
  AddRecipient("たかはし", "髙橋 ｹﾝｼﾞ", "taka+1@example.jp", "");
  job->bodyText = S("((name))様のご案内\r\n本文\r\n.\r\n..点\r\n");
  WriteBytes(dir.File("メモ①.txt"), S("メモ\r\n"));
  job->attachments.push_back({"メモ①.txt", dir.path()});
  const EmlExport exported = ExportEml(*job, dir.path());
  ASSERT_EQ(exported.error, "");
  ASSERT_EQ(exported.written, 2);

  RunForReal(2);
  const auto sent = ReceivedMails(smtp.Received());
  ASSERT_EQ(sent.size(), 2u);
  const char* files[] = {"0001_yamada@example.jp.eml", "0002_taka+1@example.jp.eml"};
  for (int i = 0; i < 2; ++i) {
    const std::string eml = ReadBytes(dir.File(files[i]));
    EXPECT_EQ(WithoutDateAndId(eml), WithoutDateAndId(sent[i])) << files[i];
  }
  EXPECT_NE(sent[0].find("charset=\"ISO-2022-JP\""), std::string::npos);
  EXPECT_NE(sent[1].find("charset=UTF-8\r\nContent-Transfer-Encoding: base64"), std::string::npos);
}

TEST(EmlFileNameTest, KeepsOnlySafeCharactersOfTheAddress) {
  EXPECT_EQ(EmlFileName(1, "a.b+c-d_e@example.jp"), "0001_a.b+c-d_e@example.jp.eml");
  EXPECT_EQ(EmlFileName(12, "x/y\\z:\"q\"@ex ample"), "0012_x_y_z__q_@ex_ample.eml");
  EXPECT_EQ(EmlFileName(10000, "../x"), "10000_.._x.eml");
}

TEST_F(DryRunTest, ReportsWhatTheRunsChecksWould) {
  job->attachments.push_back({"消えた.pdf", dir.path()});
  const std::string problems = CheckProblems(*job);
  EXPECT_EQ(job->RunSendJob(), 1);
  ASSERT_EQ(platform.MessageBoxes().size(), 1u);
  EXPECT_EQ(problems, platform.MessageBoxes()[0].text);

  AddRecipient("a", "A", "a@example.jp", "");
  job->bodyText = S("件名\r\n");
  job->attachments.clear();
  EXPECT_EQ(CheckProblems(*job), "");
}

struct RefusalCase {
  const char* name;
  const char* body;
  const char* recipientName;
  const char* address;
  const char* problemPart;
};

const RefusalCase kRefusals[] = {
    {"blank_subject", "   \r\n本文\r\n", "山田", "y@example.jp", "subject"},
    {"no_name", "件名\r\n", "", "y@example.jp", "no name"},
    {"no_address", "件名\r\n", "山田", "", "no mail address"},
    {"address_with_bracket", "件名\r\n", "山田", "y>@example.jp", "address cannot be sent"},
    {"fine", "件名\r\n", "山田", "y@example.jp", ""},
};

TEST_F(DryRunTest, SaysWhichMailTheTransportWouldRefuse) {
  for (const RefusalCase& c : kRefusals) {
    job->recipientLines.clear();
    AddRecipient("", c.recipientName, c.address, "");
    job->bodyText = S(c.body);
    const auto mails = ComposeMails(*job, settings->record);
    ASSERT_EQ(mails.size(), 1u);
    if (std::string(c.problemPart).empty()) {
      EXPECT_EQ(mails[0].problem, "") << c.name;
      continue;
    }
    EXPECT_NE(mails[0].problem.find(c.problemPart), std::string::npos) << c.name;
    EXPECT_NE(FormatDryRun(mails, *job, settings->record).find("Refused: "), std::string::npos);
  }
}

// A line too long for SMTP is shown broken where the transport breaks it,
// so what the dry run shows is what the receiver gets.
TEST_F(DryRunTest, ShowsTheBodyWithTheLineBreaksOfTheWire) {
  AddRecipient("", "山田", "y@example.jp", "");
  job->bodyText = "subject\r\n" + std::string(1500, 'a') + "\r\n";
  const auto mails = ComposeMails(*job, settings->record);
  EXPECT_EQ(mails[0].body, std::string(1500, 'a') + "\r\n\r\n");  // archived unbroken
  const std::string shown = FormatDryRun(mails, *job, settings->record);
  const std::string wire = SjisToUtf8(mime::WireReadyBody(mails[0].body));
  std::string wireLf;
  for (char c : wire) {
    if (c != '\r') wireLf += c;
  }
  EXPECT_NE(wireLf.find("a\na"), std::string::npos) << "the wire breaks the line";
  EXPECT_NE(shown.find("\n\n" + wireLf), std::string::npos) << shown;
}

TEST_F(DryRunTest, ASingleLineBodyWithoutTitleInIsAnEmptyLine) {
  AddRecipient("", "山田", "y@example.jp", "");
  job->bodyText = S("件名だけ");
  const auto mails = ComposeMails(*job, settings->record);
  EXPECT_EQ(mails[0].body, "\r\n");
  EXPECT_EQ(mails[0].subject, S("件名だけ"));
}

// --- personal attachments: "請求書/((regist)).pdf" names one file each ---

class PersonalDryRunTest : public DryRunTest {
 protected:
  // A recipient whose registered name is `regist`, the word the folder's
  // file names are made of.
  void AddCustomer(const char* regist, const char* name, const char* address) {
    job->recipientLines +=
        S("よみ") + "\t" + S(regist) + "\t" + S(name) + "\t" + address + "\t\t\t\t\t\t\t\r\n";
  }
  // Each invoice different, so that a mail carrying another's shows.
  void WriteInvoice(const std::string& number) {
    WriteBytes(dir.File("請求書/" + number + ".pdf"), "%PDF invoice " + number + "\n");
  }
  void AttachInvoicesAndBrochure() {
    std::filesystem::create_directories(dir.File("請求書"));
    job->attachments.push_back({"((regist)).pdf", dir.File("請求書")});
    job->attachments.push_back({"会社案内.pdf", dir.path()});
    WriteBytes(dir.File("会社案内.pdf"), "%PDF brochure");
    job->bodyText = S("((name))様 請求書のご送付\r\n本文\r\n");
  }
};

TEST_F(PersonalDryRunTest, ListsEachRecipientsOwnFiles) {
  AttachInvoicesAndBrochure();
  AddCustomer("1001", "山田", "yamada@example.jp");
  AddCustomer("1002", "鈴木", "suzuki@example.jp");
  WriteInvoice("1001");
  WriteInvoice("1002");

  const auto mails = ComposeMails(*job, settings->record);
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[0].attachmentNames, (std::vector<std::string>{"1001.pdf", "会社案内.pdf"}));
  EXPECT_EQ(mails[1].attachmentNames, (std::vector<std::string>{"1002.pdf", "会社案内.pdf"}));
  EXPECT_EQ(mails[0].personalProblem, "");
  EXPECT_EQ(mails[1].personalProblem, "");
  const std::string shown = FormatDryRun(mails, *job, settings->record);
  EXPECT_NE(shown.find("To: 山田 <yamada@example.jp>\nSubject: 山田様 請求書のご送付\n"
                       "Charset: ISO-2022-JP\nAttachments: 1001.pdf, 会社案内.pdf\n\n"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("To: 鈴木 <suzuki@example.jp>\nSubject: 鈴木様 請求書のご送付\n"
                       "Charset: ISO-2022-JP\nAttachments: 1002.pdf, 会社案内.pdf\n\n"),
            std::string::npos)
      << shown;
  EXPECT_EQ(shown.find("Refused"), std::string::npos) << shown;
  EXPECT_EQ(CheckProblems(*job), "");

  // The .eml files carry each recipient's own invoice, never another's.
  const std::string out = dir.File("eml");
  const EmlExport exported = ExportEml(*job, out);
  ASSERT_EQ(exported.error, "");
  ASSERT_EQ(exported.written, 2);
  const std::string first = ReadBytes(out + "/0001_yamada@example.jp.eml");
  const std::string second = ReadBytes(out + "/0002_suzuki@example.jp.eml");
  const Zentool z;
  const std::string invoice1 = z.ZenBase64Encode("%PDF invoice 1001\n");
  const std::string invoice2 = z.ZenBase64Encode("%PDF invoice 1002\n");
  EXPECT_NE(first.find(invoice1), std::string::npos);
  EXPECT_EQ(first.find(invoice2), std::string::npos);
  EXPECT_NE(second.find(invoice2), std::string::npos);
  EXPECT_EQ(second.find(invoice1), std::string::npos);
  EXPECT_NE(first.find("1001.pdf"), std::string::npos);
  EXPECT_EQ(first.find("((regist))"), std::string::npos);
}

// A recipient that cannot get its mail is marked, with what the run would
// do about it under each setting of onRecipientFailure.
struct PersonalRefusalCase {
  const char* name;
  const char* regist;
  const char* problemPart;  // in the Refused line; "" when the mail goes
};

const PersonalRefusalCase kPersonalRefusals[] = {
    {"own_file_there", "1001", ""},
    {"own_file_missing", "1002", "1002.pdf"},
    {"own_file_empty", "1003", "1003.pdf"},
    // 請求書/../1001.pdf exists, and must not be taken for the value.
    {"value_leading_out_of_the_folder", "../1001", "Refused: "},
    {"value_with_a_slash", "a/1001", "Refused: "},
};

TEST_F(PersonalDryRunTest, MarksARecipientWhoseOwnFileCannotBeAttached) {
  for (const PersonalRefusalCase& c : kPersonalRefusals) {
    for (const bool continueOnFailure : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (continueOnFailure ? " continue" : " stop"));
      job->recipientLines.clear();
      job->attachments.clear();
      AttachInvoicesAndBrochure();
      WriteInvoice("1001");
      WriteBytes(dir.File("請求書/1003.pdf"), "");
      WriteBytes(dir.File("1001.pdf"), "%PDF outside");
      std::filesystem::create_directories(dir.File("請求書/a"));
      WriteBytes(dir.File("請求書/a/1001.pdf"), "%PDF below");
      ASSERT_EQ(settings->ini.Set("onRecipientFailure", continueOnFailure ? "continue" : "stop"),
                0);
      AddCustomer("1001", "山田", "yamada@example.jp");
      AddCustomer(c.regist, "鈴木", "suzuki@example.jp");

      const auto mails = ComposeMails(*job, settings->record);
      ASSERT_EQ(mails.size(), 2u);
      EXPECT_EQ(mails[0].personalProblem, "");
      const std::string shown = FormatDryRun(mails, *job, settings->record);
      const std::size_t second = shown.find("===== mail 2/2");
      ASSERT_NE(second, std::string::npos);
      EXPECT_EQ(shown.substr(0, second).find("Refused"), std::string::npos) << shown;
      if (std::string(c.problemPart).empty()) {
        EXPECT_EQ(mails[1].personalProblem, "");
        EXPECT_EQ(shown.find("Refused"), std::string::npos) << shown;
        continue;
      }
      EXPECT_NE(mails[1].personalProblem, "");
      const std::size_t refused = shown.find("Refused: ", second);
      ASSERT_NE(refused, std::string::npos) << shown;
      const std::string line = shown.substr(refused, shown.find('\n', refused) - refused);
      EXPECT_NE(line.find(c.problemPart), std::string::npos) << line;
      EXPECT_NE(line.find(continueOnFailure ? "onRecipientFailure=continue: the run would skip"
                                            : "onRecipientFailure=stop: the run would end with "
                                              "result 1 before any connection"),
                std::string::npos)
          << line;
    }
  }
}

}  // namespace
}  // namespace velkaro::cli
