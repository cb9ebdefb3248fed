// The check before sending: each kind of finding from a job that is clean
// apart from one fault, the mails it looks at against those the run sends,
// and the two text forms of the findings.
#include "job/send_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "core/zentool.h"
#include "data/address_book.h"
#include "job/run_fixture.h"

namespace velkaro {
namespace {

using testing::WriteBytes;

std::string Row(const std::string& utf8Regist, const std::string& utf8Name,
                const std::string& address, const std::string& utf8Data1 = "") {
  return Utf8ToSjis("よみ\t" + utf8Regist + "\t" + utf8Name + "\t" + address + "\t\t\t" +
                    utf8Data1 + "\t\t\t\t\r\n");
}

// What a finding says, in UTF-8 for readable failures.
struct Found {
  FindingKind kind;
  int line;
  std::string message;
  bool operator==(const Found&) const = default;
};

void PrintTo(const Found& f, std::ostream* os) {
  *os << "{" << static_cast<int>(f.kind) << ", " << f.line << ", " << f.message << "}";
}

class SendCheckTest : public testing::RunTest {
 protected:
  SendCheckTest() { Reset(); }

  // A fresh job that the check finds nothing wrong with.
  void Reset() {
    UseProgramFolder(dir.path());
    // 髙橋 is kept as Windows writes it (0xFBFC); a setup file may hold
    // the other code (0xEEE0).
    book = AddressBookHeaderLine() + Row("山田", "山田 太郎", "yamada@example.jp", "会員") +
           Row("伊藤", "伊藤 花子", "ito@example.jp") + Utf8ToSjis("よみ\t") + "\xFB\xFC" +
           Utf8ToSjis("橋\t髙橋 一\ttaka@example.jp\t\t\t\t\t\t\t\r\n");
    job->bodyText = Utf8ToSjis("((name))様へのご案内\r\n((name))様(((data1)))\r\n((today))\r\n");
    job->recipientLines = Row("山田", "山田 太郎", "yamada@example.jp", "会員") +
                          Row("伊藤", "伊藤 花子", "ito@example.jp") + Utf8ToSjis("よみ\t") +
                          "\xEE\xE0" +
                          Utf8ToSjis("橋\t髙橋 一\ttaka@example.jp\t\t\t\t\t\t\t\r\n") +
                          Row("(未登録者)", "Kim", "kim@example.org");
    WriteBytes(dir.File("map.png"), "PNG");
    EXPECT_EQ(job->AddAttachment(0, dir.File("map.png")), 0);
  }

  std::vector<Found> Check() {
    std::vector<Found> out;
    for (const CheckFinding& f : CheckBeforeSending(*job, book)) {
      out.push_back({f.kind, f.line, SjisToUtf8(f.message)});
    }
    return out;
  }

  std::string book;
};

// What a case may spoil.
struct Inputs {
  SendJob& job;
  Settings& settings;
  std::string folder;
};

TEST_F(SendCheckTest, FindsEachKindOfProblemOnItsOwn) {
  using K = FindingKind;
  const struct {
    const char* name;
    std::function<void(Inputs&)> spoil;
    std::vector<Found> want;
  } cases[] = {
      {"a clean job", [](Inputs&) {}, {}},
      {"no recipients and no body",
       [](Inputs& t) {
         t.job.recipientLines.clear();
         t.job.bodyText.clear();
       },
       {{K::Setup, 0, "送信先が１件も指定されていません。"},
        {K::Setup, 0, "送信本文がありません。"}}},
      {"an unusable sender",
       [](Inputs& t) { SetFieldText(t.settings.record.server.senderAddress, "from@example.jp>"); },
       {{K::Setup, 0, "差出人のメールアドレス( from@example.jp> )は送信できません。"}}},
      {"addresses and names the transport refuses",
       [](Inputs& t) {
         t.job.recipientLines += Row("山田", "空", "") + Row("山田", "括弧", "a>b@example.jp") +
                                 Row("山田", "", "noname@example.jp") +
                                 Row("山田", "長", std::string(255, 'a'));
       },
       {{K::Unsendable, 5, "メールアドレスがありません。"},
        {K::Unsendable, 6, "メールアドレス <a>b@example.jp> に使えない文字があります。"},
        {K::Unsendable, 7, "<noname@example.jp> に氏名がありません。"},
        {K::Unsendable, 8, "メールアドレスが長すぎます( 255 バイト)。"}}},
      {"the same address twice, case aside",
       [](Inputs& t) { t.job.recipientLines += Row("山田", "再", "Yamada@EXAMPLE.jp"); },
       {{K::DuplicateAddress, 5,
         "メールアドレス <Yamada@EXAMPLE.jp> は 1 件目と 5 件目の両方にあります。"}}},
      {"a registered name the book no longer has",
       [](Inputs& t) { t.job.recipientLines += Row("佐藤", "佐藤 次郎", "sato@example.jp"); },
       {{K::NotInAddressBook, 5, "登録名「佐藤」はアドレス帳にありません。"}}},
      {"misspelt placeholders, each once with its lines",
       [](Inputs& t) {
         t.job.bodyText += Utf8ToSjis("((nmae))様 ((Name)) (( 注意 ))\r\n((nmae))\r\n(括弧)\r\n");
       },
       {{K::UnknownPlaceholder, 0,
         "本文 4, 5 行目の ((nmae)) は差し込み語ではありません(そのまま送られます)。"},
        {K::UnknownPlaceholder, 0,
         "本文 4 行目の ((Name)) は差し込み語ではありません(そのまま送られます)。"},
        {K::UnknownPlaceholder, 0,
         "本文 4 行目の (( 注意 )) は差し込み語ではありません(そのまま送られます)。"}}},
      {"words of another form, prose with the same marks left alone",
       [](Inputs& t) {
         SetFieldText(t.settings.record.PlaceholderWords[1], "%name%");
         t.job.bodyText = Utf8ToSjis("%name%様\r\n100% と 50% の %nmae%\r\n");
       },
       {{K::UnknownPlaceholder, 0,
         "本文 2 行目の %nmae% は差し込み語ではありません(そのまま送られます)。"}}},
      {"characters a forced ISO-2022-JP cannot carry",
       [](Inputs& t) {
         ASSERT_EQ(t.settings.ini.Set("charset", "iso-2022-jp"), 0);
         t.job.bodyText += Utf8ToSjis("①と㈱\r\n");
         t.job.recipientLines = Row("山田", "山田 太郎", "yamada@example.jp");
       },
       {{K::UncarriedCharacters, 1, "ISO-2022-JP で送れない文字があります: ①、㈱"}}},
      {"attachments missing, empty or a folder",
       [](Inputs& t) {
         WriteBytes(t.folder + "/empty.pdf", "");
         std::filesystem::create_directory(t.folder + "/folder");
         t.job.attachments.push_back({"gone.pdf", t.folder});
         t.job.attachments.push_back({"empty.pdf", t.folder});
         t.job.attachments.push_back({"folder", t.folder});
       },
       {{K::Attachment, 0, "添付ファイル( DIR/gone.pdf )が見つかりません。"},
        {K::Attachment, 0, "添付ファイル( DIR/empty.pdf )は空です。"},
        {K::Attachment, 0, "添付ファイル( DIR/folder )はファイルではありません。"}}},
      {"a recipient's own file missing or empty, named with the path looked for",
       [](Inputs& t) {
         const std::string folder = t.folder + "/請求書";
         std::filesystem::create_directory(folder);
         WriteBytes(folder + "/yamada@example.jp.pdf", "PDF");
         WriteBytes(folder + "/ito@example.jp.pdf", "PDF");
         WriteBytes(folder + "/kim@example.org.pdf", "");
         // The pattern names no file itself: no finding for the whole run.
         t.job.attachments.push_back({"((mailaddr)).pdf", folder});
       },
       {{K::Attachment, 3,
         "髙橋 一の添付ファイル( DIR/請求書/taka@example.jp.pdf )が見つかりません。"},
        {K::Attachment, 4, "Kimの添付ファイル( DIR/請求書/kim@example.org.pdf )は空です。"}}},
      {"a subject left empty by its recipient",
       [](Inputs& t) {
         t.job.bodyText = Utf8ToSjis("　((data1))\r\n本文\r\n");
         t.job.recipientLines = Row("山田", "山田 太郎", "yamada@example.jp", "会員") +
                                Row("伊藤", "伊藤 花子", "ito@example.jp");
       },
       {{K::EmptySubject, 2, "件名(本文の１行目)が差替え後に空になります。"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    Inputs inputs{*job, *settings, dir.path()};
    c.spoil(inputs);
    std::vector<Found> want = c.want;
    for (Found& f : want) {
      const std::size_t at = f.message.find("DIR");
      if (at != std::string::npos) f.message.replace(at, 3, dir.path());
    }
    EXPECT_EQ(Check(), want);
  }
}

// The check must look at the mails the run sends, not at a copy of how
// they were once composed.
TEST_F(SendCheckTest, LooksAtTheMailsTheRunSends) {
  job->titleIn = true;
  job->recipientLines += Row("山田", "", "") + "\t\t\r\n" + "\r\n";
  // Each recipient's own file, filled in as the run fills it.
  job->attachments.push_back({"((mailaddr)).pdf", dir.path()});
  const int count = Zentool().ZenCountLines(job->recipientLines);
  int seen = 0;
  ForEachMailContent(*job, [&](int index, const std::string& line, const MailContent& mail) {
    ASSERT_EQ(index, seen++);
    EXPECT_EQ(line, Zentool().ZenGetLineCrLf(job->recipientLines, index));
    const MailContent want = job->MailContentOf(index);
    EXPECT_EQ(mail.subject, want.subject) << index;
    EXPECT_EQ(mail.body, want.body) << index;
    EXPECT_EQ(mail.recipientName, want.recipientName) << index;
    EXPECT_EQ(mail.recipientAddress, want.recipientAddress) << index;
    EXPECT_EQ(mail.senderAddress, want.senderAddress) << index;
    EXPECT_EQ(mail.attachmentList, want.attachmentList) << index;
  });
  EXPECT_EQ(seen, count);
}

TEST(SendCheckText, WindowAndTerminalForms) {
  const std::vector<CheckFinding> findings = {
      {FindingKind::Attachment, 0, Utf8ToSjis("添付ファイル( a )は空です。")},
      {FindingKind::EmptySubject, 3, Utf8ToSjis("件名")},
      {FindingKind::NotInAddressBook, 12, Utf8ToSjis("登録名")},
  };
  EXPECT_EQ(SjisToUtf8(FormatFindings(findings)),
            "添付ファイル( a )は空です。\r\n送信先 3 件目: 件名\r\n送信先 12 件目: 登録名\r\n");
  EXPECT_EQ(SjisToUtf8(FormatFindings(findings, 1)),
            "添付ファイル( a )は空です。\r\nほかに 2 件あります。\r\n");
  EXPECT_EQ(SjisToUtf8(FormatFindings(findings, 3)), SjisToUtf8(FormatFindings(findings)));
  EXPECT_EQ(FormatFindingsUtf8(findings),
            "all mails: 添付ファイル( a )は空です。\nline 3: 件名\nline 12: 登録名\n");
  EXPECT_EQ(FormatFindings({}), "");
}

}  // namespace
}  // namespace velkaro
