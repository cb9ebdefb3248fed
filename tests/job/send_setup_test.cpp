// Send setup files and the command line applied to the job.
#include "job/send_setup.h"

#include <gtest/gtest.h>

#include "core/encoding.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ReadBytes;
using testing::WriteBytes;

std::string S(const std::string& utf8) {
  return Utf8ToSjis(utf8);
}

class SendSetupTest : public testing::PlatformTest {
 protected:
  SendSetupTest() {
    platform.SetProgramFolder(dir.path());
    settings = std::make_unique<Settings>();
    job = std::make_unique<SendJob>(*settings);
    WriteBytes(dir.File("body1.txt"), S("件名1\r\n本文\r\n"));
    WriteBytes(dir.File("body2.txt"), S("件名2\r\n本文\r\n"));
    WriteBytes(dir.File("a.png"), "png");
    WriteBytes(dir.File("b.pdf"), "pdf");
  }
  int Read(const std::string& utf8Text) { return ReadSendSetupText(*job, S(utf8Text), book); }
  std::vector<std::string> RecipientLines() const {
    std::vector<std::string> out;
    std::string text = SjisToUtf8(job->recipientLines);
    for (std::size_t pos; (pos = text.find("\r\n")) != std::string::npos;) {
      out.push_back(text.substr(0, pos));
      text.erase(0, pos + 2);
    }
    return out;
  }

  testing::TempDir dir;
  std::unique_ptr<Settings> settings;
  std::unique_ptr<SendJob> job;
  std::string book =
      S("読み\t登録名\t氏名\tメールアドレス\t電話\t住所\tデータ１\tデータ２\tデータ３\tデータ４\r\n"
        "やまだ\t山田\t山田 太郎\tyamada@example.jp\t03\t東京\t1\t2\t3\t4\r\n"
        "やまだ\t山田\t山田 次郎\tjiro@example.jp\t06\t大阪\t5\t6\t7\t8\r\n");
};

TEST_F(SendSetupTest, FirstOptionLineWinsAndTheLastBodyThatLoads) {
  EXPECT_EQ(
      Read("/send=on\r\n/send=off\r\n/quit=off\r\n/quit=on\r\n/text=" + dir.File("body1.txt") +
           "\r\n/text=" + dir.File("body2.txt") + "\r\n/text=" + dir.File("missing.txt")),
      0);
  EXPECT_EQ(job->sendOption, 1);
  EXPECT_EQ(job->quitOption, 0);
  EXPECT_EQ(job->bodyFilePath, dir.File("body2.txt"));
}

TEST_F(SendSetupTest, RejectedAttachmentsLeaveNoGap) {
  Read("/binfile=" + dir.File("a.png") + "\n/binfile=" + dir.File("missing") + "\n/binfile=\"" +
       dir.File("b.pdf") + "\"\n");
  ASSERT_EQ(job->attachments.size(), 2u);
  EXPECT_EQ(job->attachments[0].name, "a.png");
  EXPECT_EQ(job->attachments[1].name, "b.pdf");
}

TEST_F(SendSetupTest, RecipientBlocks) {
  const struct {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      // A known name brings the last entry of that name.
      {"/sendto-begin\nregist=山田\n/sendto-end\n",
       {"やまだ\t山田\t山田 次郎\tjiro@example.jp\t06\t大阪\t5\t6\t7\t8"}},
      // Lines after regist= override; lines before it are overwritten.
      {"/sendto-begin\nmailaddr=early@x.jp\nregist=山田\nmailaddr=late@x.jp\n/sendto-end\n",
       {"やまだ\t山田\t山田 次郎\tlate@x.jp\t06\t大阪\t5\t6\t7\t8"}},
      {"/sendto-begin\nregist=鈴木\nname= 鈴木 花子 \t\nmailaddr=hanako@x.jp\n/sendto-end\n",
       {"\t鈴木\t鈴木 花子\thanako@x.jp\t\t\t\t\t\t"}},
      // Keys must start the line; commands inside a block are ignored.
      {"/sendto-begin\n  name=ignored\n/text=x\nname=n\nname=n2\n/sendto-end\n",
       {"\t\tn2\t\t\t\t\t\t\t"}},
      // An unterminated block adds nothing; an end outside a block neither.
      {"/sendto-end\n/sendto-begin\nname=n\n", {}},
      {"/sendto-begin\nname=a\n/sendto-end\n\n\n/sendto-begin\nname=b\n/sendto-end",
       {"\t\ta\t\t\t\t\t\t\t", "\t\tb\t\t\t\t\t\t\t"}},
  };
  for (const auto& c : cases) {
    job->recipientLines.clear();
    Read(c.text);
    EXPECT_EQ(RecipientLines(), c.lines) << c.text;
  }
}

TEST_F(SendSetupTest, RecipientsAreAddedToThoseThere) {
  job->recipientLines = S("\t\told\t\t\t\t\t\t\t\r\n");
  Read("/sendto-begin\nname=new\n/sendto-end\n");
  EXPECT_EQ(RecipientLines(),
            (std::vector<std::string>{"\t\told\t\t\t\t\t\t\t", "\t\tnew\t\t\t\t\t\t\t"}));
}

TEST_F(SendSetupTest, EmptyTextsAndFilesReadNothing) {
  EXPECT_EQ(Read(""), 1);
  EXPECT_EQ(ReadSendSetup(*job, book), 1);  // no "/sendinf=" value
  job->sendinfOption = dir.File("missing.vlk2");
  EXPECT_EQ(ReadSendSetup(*job, book), 1);
  job->sendinfOption = "<clip>";
  EXPECT_EQ(ReadSendSetup(*job, book), 1);
  platform.SetClipboard(S("/send=on\n/sendto-begin\nname=c\n/sendto-end"));
  EXPECT_EQ(ReadSendSetup(*job, book), 0);
  EXPECT_EQ(job->sendOption, 1);
  EXPECT_EQ(RecipientLines(), std::vector<std::string>{"\t\tc\t\t\t\t\t\t\t"});
}

TEST_F(SendSetupTest, UtfEightFilesWithLfAreRead) {
  WriteBytes(dir.File("job.vlk2"), "/quit=on\n/sendto-begin\nname=山田\n/sendto-end\n");
  job->sendinfOption = dir.File("job.vlk2");
  EXPECT_EQ(ReadSendSetup(*job, book), 0);
  EXPECT_EQ(job->quitOption, 1);
  EXPECT_EQ(RecipientLines(), std::vector<std::string>{"\t\t山田\t\t\t\t\t\t\t"});
}

TEST_F(SendSetupTest, WritesTheGoldenLayoutAndReadsItBack) {
  job->bodyFilePath = dir.File("body1.txt");
  job->recipientLines = S("やまだ\t山田\t山田 太郎\tyamada@example.jp\t03\t東京\t1\t2\t3\t4\r\n");
  const std::string plain = SjisToUtf8(BuildSendSetupText(*job));
  EXPECT_EQ(plain,
            ";; Velkaro: 送信データセットアップ情報ファイル\r\n\r\n/text=" + dir.File("body1.txt") +
                "\r\n/sendto-begin\r\nregist=山田\r\nname=山田 太郎\r\nkana=やまだ\r\n"
                "mailaddr=yamada@example.jp\r\ntelephone=03\r\nrealaddr=東京\r\n"
                "data1=1\r\ndata2=2\r\ndata3=3\r\ndata4=4\r\n/sendto-end\r\n\r\n");
  job->attachments = {{"a.png", dir.path()}, {"b.pdf", dir.path()}};
  job->autoQuit = true;
  const std::string full = SjisToUtf8(BuildSendSetupText(*job));
  EXPECT_NE(full.find("/binfile=" + dir.File("a.png") + "\r\n/binfile=" + dir.File("b.pdf") +
                      "\r\n\r\n/quit=on\r\n\r\n/sendto-begin"),
            std::string::npos)
      << full;

  SendJob copy(*settings);
  EXPECT_EQ(ReadSendSetupText(copy, S(full), ""), 0);
  EXPECT_EQ(copy.bodyFilePath, job->bodyFilePath);
  EXPECT_EQ(copy.recipientLines, job->recipientLines);
  ASSERT_EQ(copy.attachments.size(), 2u);
  EXPECT_EQ(copy.AttachmentPath(1), dir.File("b.pdf"));
  EXPECT_EQ(copy.quitOption, 1);
}

TEST_F(SendSetupTest, SavingAsksBeforeReplacingAndPauses) {
  const std::string path = dir.File("job.vlk2");
  EXPECT_EQ(SaveSetupText(dir.path(), "x", false), 2);
  EXPECT_EQ(SaveSetupText(path, "first", false), 0);
  EXPECT_EQ(platform.VirtualMs(), 1000);
  platform.QueueAnswer(MsgAnswer::No);
  EXPECT_EQ(SaveSetupText(path, "second", false), 1);
  platform.QueueAnswer(MsgAnswer::Cancel);
  EXPECT_EQ(SaveSetupText(path, "second", false), 0);
  EXPECT_EQ(ReadBytes(path), "first");
  platform.QueueAnswer(MsgAnswer::Yes);
  EXPECT_EQ(SaveSetupText(path, "second", false), 0);
  EXPECT_EQ(ReadBytes(path), "second");
  EXPECT_EQ(SaveSetupText(path, "third", true), 0);
  EXPECT_EQ(platform.MessageBoxes().size(), 3u);
  EXPECT_EQ(SaveSetupText(dir.File("no/such/job.vlk2"), "x", true), 11);
}

TEST_F(SendSetupTest, TheCommandLineOverridesTheSetupFile) {
  WriteBytes(dir.File("job.vlk2"),
             S("/send=on\r\n/quit=on\r\n/text=" + dir.File("body1.txt") + "\r\n"));
  const CommandLine line =
      ParseCommandLine({"/sendinf=" + dir.File("job.vlk2"), "/send=off",
                        "/text=" + dir.File("body2.txt"), "/to=山田", "/quit=on"});
  EXPECT_TRUE(ApplyCommandLine(*job, line, book).empty());
  EXPECT_EQ(job->sendOption, 0);
  EXPECT_FALSE(job->autoSend);
  EXPECT_TRUE(job->autoQuit);
  EXPECT_EQ(job->bodyFilePath, dir.File("body2.txt"));
  EXPECT_EQ(
      RecipientLines(),
      std::vector<std::string>{"やまだ\t山田\t山田 太郎\tyamada@example.jp\t03\t東京\t1\t2\t3\t4"});
}

TEST_F(SendSetupTest, BodyFilesNamedOnTheirOwnAreOpenedOrReported) {
  const CommandLine line =
      ParseCommandLine({dir.File("body1.txt"), dir.File("missing.txt"), "/send=on"});
  EXPECT_EQ(ApplyCommandLine(*job, line, book), std::vector<std::string>{dir.File("missing.txt")});
  EXPECT_EQ(job->bodyFilePath, dir.File("body1.txt"));
  EXPECT_TRUE(job->autoSend);
  SendJob untouched(*settings);
  EXPECT_TRUE(ApplyCommandLine(untouched, ParseCommandLine({}), book).empty());
  EXPECT_EQ(untouched.sendOption, -1);
}

}  // namespace
}  // namespace velkaro
