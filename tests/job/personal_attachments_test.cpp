// Personal attachments and the test send: which file each recipient's path
// names, what the checks refuse before any connection under each failure
// policy, and that what arrives holds each recipient's own file only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/zentool.h"
#include "job/eml_export.h"
#include "job/personal_files.h"
#include "job/personalise.h"
#include "job/run_fixture.h"
#include "job/send_log.h"
#include "job/send_setup.h"
#include "mail/message_writer.h"

namespace velkaro::testing {
namespace {

// An entry line: kana, regist, name, address, then data1 in field 6.
std::string Line(const std::string& regist, const std::string& sjisName, const std::string& address,
                 const std::string& data1 = {}) {
  return Sjis("よみ\t") + regist + "\t" + sjisName + "\t" + address + "\t\t\t" + data1 +
         "\t\t\t\t\r\n";
}

struct PathRow {
  const char* what;
  std::string pattern;  // relative to the temporary folder; UTF-8
  std::string regist;   // Shift_JIS
  std::string data1;
  std::string expectPath;     // relative; empty when refused
  std::string expectProblem;  // a part of the problem (UTF-8); empty for none
};

class PersonalPathTest : public PlatformTest {
 protected:
  TempDir dir;
};

TEST_F(PersonalPathTest, EachRecipientsValuesNameItsFileAndUnsafeValuesAreRefused) {
  platform.SetLocalTime(2026, 12, 6, 9, 30, 15);
  WriteBytes(dir.File("1001.pdf"), "A");
  WriteBytes(dir.File("山田.pdf"), "B");
  WriteBytes(dir.File("明細_x_12.pdf"), "C");
  WriteBytes(dir.File("shared.pdf"), "S");
  const std::vector<PathRow> rows = {
      {"shared row", "shared.pdf", "1001", "", "shared.pdf", ""},
      {"regist", "((regist)).pdf", "1001", "", "1001.pdf", ""},
      {"Shift_JIS value goes into the path as UTF-8", "((regist)).pdf", Sjis("山田"), "",
       "山田.pdf", ""},
      {"data word and month", "明細_((data1))_((month)).pdf", "1", "x", "明細_x_12.pdf", ""},
      {"missing file", "((regist)).pdf", "1002", "", "1002.pdf", "開けません"},
      {"slash", "((regist)).pdf", "a/b", "", "", "使えません"},
      {"dot dot", "((regist)).pdf", "..", "", "", "使えません"},
      {"leading dot dot with slash", "((regist))x.pdf", "../../etc/passwd", "", "", "使えません"},
      {"control byte", "((regist)).pdf", "a\x01", "", "", "使えません"},
      {"empty value names no file", "((regist)).pdf", "", "", ".pdf", "開けません"},
  };
  for (const PathRow& row : rows) {
    SCOPED_TRACE(row.what);
    const RecipientAttachments got =
        AttachmentsFor(DefaultPlaceholderWords(), dir.File(row.pattern) + "\r\n",
                       Line(row.regist, Sjis("名"), "a@example.jp", row.data1), 0, true);
    if (row.expectPath.empty()) {
      EXPECT_EQ(got.paths, "");
    } else {
      EXPECT_EQ(got.paths, dir.File(row.expectPath) + "\r\n");
    }
    if (row.expectProblem.empty()) {
      EXPECT_EQ(got.problem, "");
    } else {
      EXPECT_NE(SjisToUtf8(got.problem).find(row.expectProblem), std::string::npos)
          << SjisToUtf8(got.problem);
    }
  }
}

TEST_F(PersonalPathTest, WithoutLookingForFilesAMissingFileIsNoProblem) {
  const RecipientAttachments got =
      AttachmentsFor(DefaultPlaceholderWords(), dir.File("((regist)).pdf") + "\r\n",
                     Line("9", Sjis("名"), "a@example.jp"), 0, false);
  EXPECT_EQ(got.paths, dir.File("9.pdf") + "\r\n");
  EXPECT_EQ(got.problem, "");
}

class PersonalRunTest : public RunTest {
 protected:
  PersonalRunTest() {
    UseReceivingServer();
    job->bodyText = Sjis("請求書のご案内\r\n((name))様\r\n");
    WriteBytes(dir.File("shared.txt"), "shared file\n");
    for (const char* regist : {"1001", "1002", "1003"}) {
      job->recipientLines +=
          Line(regist, Sjis("顧客") + regist, std::string("c") + regist + "@example.jp");
    }
  }
  void Files(std::initializer_list<const char*> regists) {
    for (const char* regist : regists) {
      WriteBytes(dir.File(std::string("inv_") + regist + ".bin"),
                 std::string("invoice of ") + regist + std::string(3000, regist[3]));
    }
  }
  void Attach() {
    ASSERT_EQ(job->AddAttachment(0, dir.File("inv_((regist)).bin")), 0);
    ASSERT_EQ(job->AddAttachment(1, dir.File("shared.txt")), 0);
  }
  static std::string Base64Of(const std::string& bytes) {
    return Base64Lines(Zentool().ZenBase64Encode(bytes), 64);
  }
  std::string FileBase64(const char* regist) {
    return Base64Of(ReadBytes(dir.File(std::string("inv_") + regist + ".bin")));
  }
};

TEST_F(PersonalRunTest, EachMailCarriesItsOwnFileAndTheSharedOne) {
  Files({"1001", "1002", "1003"});
  Attach();
  EXPECT_TRUE(job->IsPersonalAttachment(0));
  EXPECT_FALSE(job->IsPersonalAttachment(1));
  EXPECT_EQ(job->PersonalFilesFound(0), 3);
  ASSERT_EQ(job->RunSendJob(), 0);
  ASSERT_EQ(receiver.Mails().size(), 3u);
  const char* regists[] = {"1001", "1002", "1003"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(regists[i]);
    const std::string& mail = receiver.Mails()[static_cast<std::size_t>(i)];
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(mail.find(FileBase64(regists[j])) != std::string::npos, i == j);
    }
    EXPECT_NE(mail.find(Base64Of("shared file\n")), std::string::npos);
    EXPECT_NE(mail.find(std::string("inv_") + regists[i] + ".bin"), std::string::npos);
  }
  const std::string log = SjisToUtf8(ReadBytes(BuildLogName(dir.path(), platform.Now())));
  EXPECT_NE(log.find("添付　: " + dir.File("inv_1002.bin")), std::string::npos) << log;
}

TEST_F(PersonalRunTest, AMissingFileStopsTheRunBeforeAnyConnectionNamingRecipientAndPath) {
  Files({"1001", "1003"});
  Attach();
  EXPECT_EQ(job->PersonalFilesFound(0), 2);
  EXPECT_EQ(job->RunSendJob(), run_result::kChecksFailed);
  EXPECT_EQ(receiver.Connects(), 0);
  ASSERT_FALSE(platform.MessageBoxes().empty());
  const std::string box = SjisToUtf8(platform.MessageBoxes().back().text);
  EXPECT_NE(box.find("2件目 顧客1002"), std::string::npos) << box;
  EXPECT_NE(box.find(dir.File("inv_1002.bin")), std::string::npos) << box;
}

TEST_F(PersonalRunTest, WithContinueTheRecipientWithoutAFileIsRefusedAndTheOthersSent) {
  ASSERT_EQ(settings->ini.Set("onRecipientFailure", "continue"), 0);
  Files({"1001", "1003"});
  Attach();
  EXPECT_EQ(job->RunSendJob(), run_result::kSomeRefused);
  ASSERT_EQ(receiver.Mails().size(), 2u);
  EXPECT_NE(receiver.Mails()[0].find(FileBase64("1001")), std::string::npos);
  EXPECT_NE(receiver.Mails()[1].find(FileBase64("1003")), std::string::npos);
  ASSERT_EQ(job->results.size(), 3u);
  EXPECT_EQ(job->results[1].outcome, MailOutcome::Refused);
  EXPECT_EQ(job->results[1].code, run_result::kMailFailed + mail_step::kAttachmentMissing);
  EXPECT_NE(SjisToUtf8(job->results[1].reply).find(dir.File("inv_1002.bin")), std::string::npos);
  EXPECT_EQ(job->results[2].outcome, MailOutcome::Sent);
  // The result list names each recipient's own files.
  EXPECT_EQ(job->results[0].attachments, "inv_1001.bin; shared.txt");
  EXPECT_EQ(job->results[1].attachments, "");
  const std::string csv = ReadBytes(job->resultCsvPath);
  EXPECT_NE(csv.find("no,name,address,outcome,code,reply,attachments\r\n"), std::string::npos);
  EXPECT_NE(csv.find("inv_1003.bin; shared.txt"), std::string::npos) << csv;
  EXPECT_NE(csv.find("個別の添付ファイルを開けません: " + dir.File("inv_1002.bin")),
            std::string::npos)
      << csv;
}

TEST_F(PersonalRunTest, AFileThatVanishesAfterTheChecksStopsTheRunAtThatMail) {
  Files({"1001", "1002", "1003"});
  Attach();
  job->onRunEvent = [this](const RunEvent& e) {
    if (e.kind == RunEventKind::MailSent && e.mail == 0) {
      std::remove(dir.File("inv_1002.bin").c_str());
    }
  };
  EXPECT_EQ(job->RunSendJob(), run_result::kMailFailed + mail_step::kAttachmentMissing);
  EXPECT_EQ(receiver.Mails().size(), 1u);
  EXPECT_NE(SjisToUtf8(job->failureReason).find("inv_1002.bin"), std::string::npos);
}

TEST_F(PersonalRunTest, ATestSendGoesOnlyToTheTesterAndLeavesTheRunAlone) {
  Files({"1001", "1002", "1003"});
  Attach();
  ASSERT_EQ(job->RunTestSend(1, "tester@example.jp"), 0);
  ASSERT_EQ(receiver.Mails().size(), 1u);
  const std::string& mail = receiver.Mails()[0];
  EXPECT_NE(mail.find(FileBase64("1002")), std::string::npos);
  EXPECT_NE(mail.find("c1002@example.jp>"), std::string::npos);  // To names the recipient
  std::vector<std::string> rcpts;
  for (const std::string& c : receiver.Commands()) {
    if (c.rfind("RCPT", 0) == 0) rcpts.push_back(c);
  }
  EXPECT_EQ(rcpts, std::vector<std::string>{"RCPT TO:<tester@example.jp>"});
  EXPECT_NE(mail.find(mime::EncodedField("Subject: ", Sjis("[テスト] 請求書のご案内"), "",
                                         mime::Charset::IsoJp)),
            std::string::npos)
      << mail.substr(0, 600);
  EXPECT_TRUE(job->results.empty());
  EXPECT_TRUE(job->journalPath.empty());
  const std::string log = SjisToUtf8(ReadBytes(BuildLogName(dir.path(), platform.Now())));
  EXPECT_NE(log.find("テスト送信"), std::string::npos) << log;
  EXPECT_NE(log.find("tester@example.jp"), std::string::npos) << log;
  EXPECT_EQ(Zentool().ZenGetFileSize(BuildArchiveName(dir.path(), "", platform.Now(), 1)), 0);
  EXPECT_TRUE(job->sendButtonEnabled);
}

TEST_F(PersonalRunTest, ATestSendIsRefusedForABadAddressOrRecipientNumber) {
  Files({"1001", "1002", "1003"});
  Attach();
  const struct {
    int index;
    const char* address;
    const char* says;
  } rows[] = {{3, "t@example.jp", "4件目"},
              {-1, "t@example.jp", "0件目"},
              {0, "t@exa mple.jp", "使えない文字"},
              {0, "t@example.jp>\r\nRCPT TO:<x@y", "使えない文字"},
              {0, "", "宛先がありません"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.address);
    EXPECT_EQ(job->RunTestSend(row.index, row.address), run_result::kChecksFailed);
    ASSERT_FALSE(platform.MessageBoxes().empty());
    EXPECT_NE(SjisToUtf8(platform.MessageBoxes().back().text).find(row.says), std::string::npos);
  }
  EXPECT_EQ(receiver.Connects(), 0);
}

TEST_F(PersonalRunTest, ATestSendOfARecipientWithoutAFileIsRefusedButAnotherGoes) {
  Files({"1001", "1003"});
  Attach();
  EXPECT_EQ(job->RunTestSend(1, "t@example.jp"), run_result::kChecksFailed);
  EXPECT_EQ(receiver.Connects(), 0);
  EXPECT_EQ(job->RunTestSend(2, "t@example.jp"), 0);
  EXPECT_EQ(receiver.Mails().size(), 1u);
}

TEST_F(PersonalRunTest, ASetupFileKeepsThePatternAsItIs) {
  Attach();  // no personal file exists yet: the row is taken all the same
  const std::string text = BuildSendSetupText(*job);
  EXPECT_NE(SjisToUtf8(text).find("inv_((regist)).bin"), std::string::npos);
  SendJob other(*settings);
  ASSERT_EQ(ReadSendSetupText(other, text, ""), 0);
  ASSERT_EQ(other.attachments.size(), 2u);
  EXPECT_EQ(other.AttachmentPath(0), dir.File("inv_((regist)).bin"));
  EXPECT_TRUE(other.IsPersonalAttachment(0));
}

TEST_F(PersonalRunTest, TheEmlExportSkipsARecipientTheRunWouldSkip) {
  Files({"1001", "1003"});
  Attach();
  ASSERT_EQ(settings->ini.Set("onRecipientFailure", "continue"), 0);
  const EmlExport goingOn = ExportEml(*job, dir.File("eml1"));
  EXPECT_EQ(goingOn.error, "");
  EXPECT_EQ(goingOn.written, 2);
  ASSERT_EQ(goingOn.skipped.size(), 1u);
  EXPECT_NE(goingOn.skipped[0].find("inv_1002.bin"), std::string::npos);
  EXPECT_NE(ReadBytes(dir.File("eml1/0003_c1003@example.jp.eml")).find(FileBase64("1003")),
            std::string::npos);
  ASSERT_EQ(settings->ini.Set("onRecipientFailure", "stop"), 0);
  const EmlExport stopping = ExportEml(*job, dir.File("eml2"));
  EXPECT_NE(stopping.error, "");
  EXPECT_EQ(stopping.written, 1);
}

}  // namespace
}  // namespace velkaro::testing
