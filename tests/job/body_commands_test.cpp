// Loading and saving the body, adding attachments.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/encoding.h"
#include "job/send_job.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ReadBytes;
using testing::WriteBytes;

class BodyCommandsTest : public testing::PlatformTest {
 protected:
  BodyCommandsTest() {
    platform.SetProgramFolder(dir.path());
    settings = std::make_unique<Settings>();
    job = std::make_unique<SendJob>(*settings);
  }
  testing::TempDir dir;
  std::unique_ptr<Settings> settings;
  std::unique_ptr<SendJob> job;
};

TEST_F(BodyCommandsTest, SavingKeepsTheEncodingAndLineEndsTheFileCameIn) {
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"sjis-crlf.txt", Utf8ToSjis("件名\r\n本文ｶﾅ\r\n")},
      {"utf8-lf.txt", "件名\n本文ｶﾅ\n"},
      {"utf8-bom.txt", "\xEF\xBB\xBF件名\r\n本文\r\n"},
      {"ascii-lf.txt", "Subject\nbody\n"},
  };
  for (const auto& f : files) {
    const std::string path = dir.File(f.name);
    WriteBytes(path, f.bytes);
    ASSERT_EQ(job->LoadBodyFile(path), 0) << f.name;
    EXPECT_EQ(job->bodyFilePath, path);
    EXPECT_EQ(job->windowTitle, f.name);
    EXPECT_EQ(job->bodyText.find('\n'), job->bodyText.find("\r\n") + 1) << f.name;
    EXPECT_EQ(job->SaveBodyFile(path, true), 0) << f.name;
    EXPECT_EQ(ReadBytes(path), f.bytes) << f.name;
  }
  EXPECT_TRUE(platform.MessageBoxes().empty());
}

TEST_F(BodyCommandsTest, LoadingReportsCharactersShiftJisCannotHold) {
  WriteBytes(dir.File("emoji.txt"), "件名😀\n本文😀\n");
  ASSERT_EQ(job->LoadBodyFile(dir.File("emoji.txt")), 0);
  ASSERT_EQ(platform.MessageBoxes().size(), 1u);
  EXPECT_NE(platform.MessageBoxes()[0].text.find(" 2 "), std::string::npos);
  EXPECT_EQ(job->bodyText, Utf8ToSjis("件名〓\r\n本文〓\r\n"));
}

TEST_F(BodyCommandsTest, LoadFailuresChangeNothing) {
  job->bodyText = "kept";
  WriteBytes(dir.File("empty.txt"), "");
  WriteBytes(dir.File("binary.txt"), std::string("\0abc", 4));
  EXPECT_EQ(job->LoadBodyFile(dir.File("missing.txt")), 1);
  EXPECT_EQ(job->LoadBodyFile(dir.File("empty.txt")), 1);
  EXPECT_EQ(job->LoadBodyFile(dir.path()), 1);
  EXPECT_EQ(job->LoadBodyFile(dir.File("binary.txt")), 2);
  EXPECT_EQ(job->bodyText, "kept");
  EXPECT_EQ(job->bodyFilePath, "");
}

TEST_F(BodyCommandsTest, OverwriteQuestionHasThreeAnswers) {
  const std::string path = dir.File("old.txt");
  job->bodyText = "new\r\n";
  const struct {
    MsgAnswer answer;
    int result;
    const char* contents;
  } cases[] = {
      {MsgAnswer::No, 1, "old"},
      {MsgAnswer::Cancel, 2, "old"},
      {MsgAnswer::Yes, 0, "new\r\n"},
  };
  for (const auto& c : cases) {
    WriteBytes(path, "old");
    platform.QueueAnswer(c.answer);
    EXPECT_EQ(job->SaveBodyFile(path, false), c.result);
    EXPECT_EQ(ReadBytes(path), c.contents);
  }
  ASSERT_EQ(platform.MessageBoxes().size(), 3u);
  EXPECT_EQ(platform.MessageBoxes()[0].buttons, MsgButtons::YesNoCancel);
  EXPECT_EQ(platform.MessageBoxes()[0].icon, MsgIcon::Question);
  EXPECT_EQ(platform.MessageBoxes()[0].text,
            Utf8ToSjis("同一のファイル名が存在します。上書きしても良いですか?\r\n・・・ " + path +
                       "\r\n\r\n[はい]・・・・ 上書きします。\r\n[いいえ]・・・ "
                       "再度ファイル名を聞き直します。\r\n[キャンセル]・ "
                       "ファイル保存をスキップします。\r\n"));
}

TEST_F(BodyCommandsTest, SavingNewFilesAndFolders) {
  job->bodyText = Utf8ToSjis("件名\r\n");
  job->bodyModified = true;
  EXPECT_EQ(job->SaveBodyFile(dir.path(), false), 3);
  EXPECT_EQ(job->SaveBodyFile(dir.File("請求書_山田.txt"), false), 0);
  EXPECT_EQ(ReadBytes(dir.File("請求書_山田.txt")), Utf8ToSjis("件名\r\n"));
  EXPECT_FALSE(job->bodyModified);
  EXPECT_EQ(job->SaveBodyFile(dir.File("no/such/folder.txt"), false), -1);
  EXPECT_TRUE(platform.MessageBoxes().empty());
}

TEST_F(BodyCommandsTest, AttachmentsAreCheckedAndInsertedAtTheirRow) {
  WriteBytes(dir.File("a.png"), "png");
  WriteBytes(dir.File("b.txt"), "b");
  WriteBytes(dir.File("zero.bin"), "");
  EXPECT_EQ(job->AddAttachment(0, ""), 1);
  EXPECT_EQ(job->AddAttachment(0, dir.File("missing")), 2);
  EXPECT_EQ(job->AddAttachment(0, dir.File("zero.bin")), 2);
  EXPECT_EQ(job->AddAttachment(0, dir.path()), 2);
  EXPECT_EQ(job->AddAttachment(0, dir.File("a.png")), 0);
  EXPECT_EQ(job->AddAttachment(0, dir.File("b.txt")), 0);
  ASSERT_EQ(job->attachments.size(), 2u);
  EXPECT_EQ(job->attachments[0].name, "b.txt");
  EXPECT_EQ(job->attachments[1].name, "a.png");
  EXPECT_EQ(job->attachments[1].folder, dir.path());
  EXPECT_EQ(job->AttachmentPath(1), dir.File("a.png"));
  // A bare name (a file in the current folder) has no folder.
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(job->AddAttachment(0, "a.png"), 3);
  std::filesystem::current_path(cwd);
}

}  // namespace
}  // namespace velkaro

namespace velkaro {
namespace {

TEST_F(BodyCommandsTest, RecipientsByRegisteredNameOrAddress) {
  const std::string book = Utf8ToSjis(
      "読み\t登録名\t氏名\tメールアドレス\t電話\t住所\tデータ１\tデータ２\tデータ３\tデータ４\r\n"
      "やまだ\t山田\t山田 太郎\tyamada@example.jp\t\t\t\t\t\t\r\n"
      "やまだ\t山田\t山田 次郎\tjiro@example.jp\t\t\t\t\t\t\r\n");
  const struct {
    const char* value;
    int result;
    const char* line;  // appended recipient line, empty for none
  } cases[] = {
      {"  \"\" ", 1, ""},
      {"\"山田\"", 0, "やまだ\t山田\t山田 太郎\tyamada@example.jp\t\t\t\t\t\t\r\n"},
      // The blanks around a name and its address only separate them; kept,
      // they would follow the name into subjects ("鈴木 花子 様").
      {"鈴木 花子 <hanako@example.jp>", 0,
       "\t(未登録者)\t鈴木 花子\thanako@example.jp\t\t\t\t\t\t\r\n"},
      {" 鈴木 花子\t  < hanako@example.jp >", 0,
       "\t(未登録者)\t鈴木 花子\thanako@example.jp\t\t\t\t\t\t\r\n"},
      {"\"鈴木 花子\" <hanako@example.jp>", 0,
       "\t(未登録者)\t鈴木 花子\thanako@example.jp\t\t\t\t\t\t\r\n"},
      {"ｽｽﾞｷ <hanako@example.jp>", 0, "\t(未登録者)\tｽｽﾞｷ\thanako@example.jp\t\t\t\t\t\t\r\n"},
      {"鈴木", 0, ""},
      {"<hanako@example.jp>", 0, ""},
      {"鈴木 <>", 0, ""},
      {"鈴木 <hanako@example.jp", 0, ""},
  };
  for (const auto& c : cases) {
    job->recipientLines.clear();
    EXPECT_EQ(job->AddRecipientByName(Utf8ToSjis(c.value), book), c.result) << c.value;
    EXPECT_EQ(SjisToUtf8(job->recipientLines), c.line) << c.value;
  }
}

}  // namespace
}  // namespace velkaro
