// The [mail] settings as every mail of a run carries them: the header
// fields, the personal unsubscribe link (whose values must never be able to
// change the link's meaning) and the envelope.
#include "job/mail_extras.h"

#include <gtest/gtest.h>

#include "core/encoding.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::TempDir;

// Kana, regist, name, mailaddr, telephone, realaddr, data1–data4.
std::string Line(const std::string& regist, const std::string& mailaddr = "yamada@example.jp",
                 const std::string& data1 = "A") {
  return Utf8ToSjis("やまだ\t" + regist + "\t山田 太郎\t" + mailaddr + "\t03-1234\t東京都\t" +
                    data1 + "\tB\tC\tD\r\n");
}

class MailExtrasTest : public testing::PlatformTest {
 protected:
  MailExtrasTest() { platform.SetLocalTime(2026, 5, 3, 9, 5, 3); }
  RecipientExtras For(const MailExtras& extras, const std::string& line) {
    return ExtrasFor(extras, words, line);
  }
  PlaceholderWordList words = DefaultPlaceholderWords();
};

TEST_F(MailExtrasTest, TheDefaultsAddNothingToAMail) {
  TempDir dir;
  VelkaroIni ini(dir.File("Velkaro.ini"));
  ASSERT_EQ(ini.Load(), 0);
  const MailExtras extras = MailExtrasOf(ini);
  EXPECT_FALSE(extras.copyToSelf);
  EXPECT_EQ(MailExtrasProblems(extras), "");
  const RecipientExtras got = For(extras, Line("001"));
  EXPECT_EQ(got.headers, ExtraHeaders{});
  EXPECT_EQ(got.problem, "");
  EXPECT_EQ(EnvelopeRecipients(extras, "yamada@example.jp", "me@example.jp"),
            std::vector<std::string>{"yamada@example.jp"});
}

TEST_F(MailExtrasTest, TheSettingsAreReadFromTheFile) {
  TempDir dir;
  VelkaroIni ini(dir.File("Velkaro.ini"));
  ASSERT_EQ(ini.Set("copyToSelf", "1"), 0);
  ASSERT_EQ(ini.Set("replyTo", "窓口 <info@example.jp>"), 0);
  ASSERT_EQ(ini.Set("cc", "soumu@example.jp"), 0);
  ASSERT_EQ(ini.Set("listUnsubscribe", "mailto:stop@example.jp"), 0);
  const MailExtras extras = MailExtrasOf(ini);
  EXPECT_TRUE(extras.copyToSelf);
  EXPECT_EQ(extras.replyTo, "窓口 <info@example.jp>");
  EXPECT_EQ(extras.cc, "soumu@example.jp");
  EXPECT_EQ(extras.listUnsubscribe, "mailto:stop@example.jp");
}

// The name goes to the mail layer in Shift_JIS, as the sender's does.
TEST_F(MailExtrasTest, AddressSettingsAreSplitIntoNameAndAddress) {
  const struct {
    std::string setting;
    std::string name;  // UTF-8 here
    std::string address;
  } cases[] = {
      {"", "", ""},
      {"info@example.jp", "", "info@example.jp"},
      {"お問い合わせ窓口 <info@example.jp>", "お問い合わせ窓口", "info@example.jp"},
      {"\"Suzuki, Taro\" <Suzuki@Example.JP>", "Suzuki, Taro", "Suzuki@Example.JP"},
      {"<info@example.jp>", "", "info@example.jp"},
      {"髙橋 <t@example.jp>", "髙橋", "t@example.jp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setting);
    MailExtras replyTo;
    replyTo.replyTo = c.setting;
    MailExtras cc;
    cc.cc = c.setting;
    const RecipientExtras r = For(replyTo, Line("001"));
    const RecipientExtras k = For(cc, Line("001"));
    EXPECT_EQ(r.problem, "");
    EXPECT_EQ(SjisToUtf8(r.headers.replyToName), c.name);
    EXPECT_EQ(r.headers.replyToAddress, c.address);
    EXPECT_EQ(r.headers.ccAddress, "");
    EXPECT_EQ(SjisToUtf8(k.headers.ccName), c.name);
    EXPECT_EQ(k.headers.ccAddress, c.address);
    EXPECT_EQ(k.headers.replyToAddress, "");
  }
}

// Every byte of a value that is not unreserved (RFC 3986) is encoded: a
// value can neither end the link (">"), add a parameter ("&", "="), start
// a fragment nor bring in a word of its own.
TEST_F(MailExtrasTest, TheLinkCarriesTheRecipientsValuesPercentEncoded) {
  const struct {
    const char* name;
    std::string link;
    std::string line;
    std::string expected;
  } cases[] = {
      {"plain", "https://example.jp/stop?id=((regist))", Line("A-01_x.y~"),
       "https://example.jp/stop?id=A-01_x.y~"},
      {"no words", "mailto:stop@example.jp?subject=stop", Line("001"),
       "mailto:stop@example.jp?subject=stop"},
      {"specials", "https://example.jp/stop?id=((regist))&v=1", Line("1&admin=1#x"),
       "https://example.jp/stop?id=1%26admin%3D1%23x&v=1"},
      {"bracket and blank", "https://example.jp/s?id=((regist))", Line("a> <https://x"),
       "https://example.jp/s?id=a%3E%20%3Chttps%3A%2F%2Fx"},
      {"Japanese as UTF-8", "https://example.jp/s?n=((regist))", Line("山田"),
       "https://example.jp/s?n=%E5%B1%B1%E7%94%B0"},
      {"an address", "https://example.jp/s?m=((mailaddr))", Line("1", "a+b@example.jp"),
       "https://example.jp/s?m=a%2Bb%40example.jp"},
      {"percent", "https://example.jp/s?id=((regist))", Line("100%"),
       "https://example.jp/s?id=100%25"},
      {"a word in a value", "https://example.jp/s?a=((regist))&b=((data1))",
       Line("((data1))", "y@example.jp", "B"), "https://example.jp/s?a=%28%28data1%29%29&b=B"},
      {"date words", "mailto:stop@example.jp?subject=((year))((month))", Line("1"),
       "mailto:stop@example.jp?subject=202605"},
      {"empty value", "https://example.jp/s?id=((regist))", Line(""), "https://example.jp/s?id="},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MailExtras extras;
    extras.listUnsubscribe = c.link;
    ASSERT_EQ(MailExtrasProblems(extras), "");
    const RecipientExtras got = For(extras, c.line);
    EXPECT_EQ(got.problem, "");
    EXPECT_EQ(got.headers.listUnsubscribe, c.expected);
  }
}

TEST_F(MailExtrasTest, AWordOfTheUsersOwnWorksInTheLink) {
  words[0] = Utf8ToSjis("((登録番号))");
  MailExtras extras;
  extras.listUnsubscribe = "https://example.jp/s?id=((登録番号))";
  const RecipientExtras got = For(extras, Line("X 1"));
  EXPECT_EQ(got.problem, "");
  EXPECT_EQ(got.headers.listUnsubscribe, "https://example.jp/s?id=X%201");
}

// A recipient whose link cannot go out gets no header field at all (the
// run reports it): half the fields would be a different mail.
TEST_F(MailExtrasTest, ALinkThatCannotGoOutIsRefusedWithItsReason) {
  const struct {
    const char* name;
    std::string link;
    std::string line;
    std::string mustSay;  // UTF-8
  } cases[] = {
      {"control byte in a value", "https://example.jp/s?id=((regist))", Line("a\x07z"),
       "((regist)) の値( a?z )はリンクに使えない制御文字を含みます。"},
      {"escape in a value", "https://example.jp/s?a=((data1))", Line("1", "y@example.jp", "\x1b$B"),
       "制御文字"},
      {"not a word after all", "https://example.jp/s?id=((番号))", Line("1"),
       "List-Unsubscribe のリンク( https://example.jp/s?id=((番号)) )に使えない文字があります。"},
      {"too long once filled in", "https://example.jp/s?id=((regist))", Line(std::string(300, '&')),
       "差し込み後に長すぎます( 924 バイト)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MailExtras extras;
    extras.listUnsubscribe = c.link;
    extras.replyTo = "info@example.jp";
    extras.cc = "soumu@example.jp";
    const RecipientExtras got = For(extras, c.line);
    EXPECT_NE(SjisToUtf8(got.problem).find(c.mustSay), std::string::npos)
        << SjisToUtf8(got.problem);
    EXPECT_EQ(got.headers, ExtraHeaders{});
  }
}

// One line per bad setting, found before the run connects.
TEST_F(MailExtrasTest, SettingsThatCannotGoOutAreNamedBeforeTheRun) {
  const std::string longAddress = std::string(250, 'a') + "@example.jp";
  const struct {
    const char* name;
    MailExtras extras;
    std::string expected;  // UTF-8
  } cases[] = {
      {"all usable",
       {true, "窓口 <info@example.jp>", "soumu@example.jp", "https://example.jp/s?id=((regist))"},
       ""},
      {"Reply-To with a blank",
       {false, "info @example.jp", "", ""},
       "Reply-To のメールアドレス( info @example.jp )に使えない文字があります。\r\n"},
      {"Reply-To without brackets",
       {false, "窓口 <info@example.jp", "", ""},
       "Reply-To のメールアドレス( 窓口 <info@example.jp )は「アドレス」か「名前 "
       "<アドレス>」の形で書いてください。\r\n"},
      {"Cc with two at signs",
       {false, "", "a@b@example.jp", ""},
       "Cc のメールアドレス( a@b@example.jp )には @ を１つ、その前後に文字を書いてください。\r\n"},
      {"Cc with a line end",
       {false, "", "soumu@example.jp\r\nBcc: x@example.jp", ""},
       "Cc のメールアドレス( soumu@example.jp??Bcc: x@example.jp )に使えない文字があります。\r\n"},
      {"Cc too long",
       {false, "", longAddress, ""},
       "Cc のメールアドレスが長すぎます( 261 バイト)。\r\n"},
      {"name Shift_JIS lacks",
       {false, "窓口😀 <info@example.jp>", "", ""},
       "Reply-To の名前( 窓口〓 )に Shift_JIS にない文字があります。\r\n"},
      {"name with a control byte",
       {false, "", "a\x1b b <soumu@example.jp>", ""},
       "Cc の名前( a? b <soumu@example.jp> )に使えない文字があります。\r\n"},
      {"link of another scheme",
       {false, "", "", "http://example.jp/s"},
       "List-Unsubscribe のリンク( http://example.jp/s )は mailto: か https: で始め、"},
      {"two bad",
       {false, "x", "y", ""},
       "Reply-To のメールアドレス( x )には @ を１つ、その前後に文字を書いてください。\r\n"
       "Cc のメールアドレス( y )には @ を１つ、その前後に文字を書いてください。\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string problems = SjisToUtf8(MailExtrasProblems(c.extras));
    if (c.expected.empty() || c.expected.ends_with("\r\n")) {
      EXPECT_EQ(problems, c.expected);
    } else {
      EXPECT_EQ(problems.rfind(c.expected, 0), 0u) << problems;
    }
    // No mail carries a setting the check refused.
    const RecipientExtras got = For(c.extras, Line("1"));
    EXPECT_EQ(got.problem.empty(), c.expected.empty());
    if (!c.expected.empty()) {
      EXPECT_EQ(got.headers, ExtraHeaders{});
    }
  }
}

TEST_F(MailExtrasTest, EachMailboxIsInTheEnvelopeOnce) {
  const struct {
    const char* name;
    bool copyToSelf;
    std::string cc;
    std::string recipient;
    std::string sender;
    std::vector<std::string> expected;
  } cases[] = {
      {"recipient only", false, "", "a@example.jp", "me@example.jp", {"a@example.jp"}},
      {"with Cc",
       false,
       "課 <c@example.jp>",
       "a@example.jp",
       "me@example.jp",
       {"a@example.jp", "c@example.jp"}},
      {"copy to self",
       true,
       "",
       "a@example.jp",
       "me@example.jp",
       {"a@example.jp", "me@example.jp"}},
      {"all three",
       true,
       "c@example.jp",
       "a@example.jp",
       "me@example.jp",
       {"a@example.jp", "c@example.jp", "me@example.jp"}},
      {"Cc is the recipient",
       true,
       "A@Example.JP",
       "a@example.jp",
       "me@example.jp",
       {"a@example.jp", "me@example.jp"}},
      {"sender is the Cc",
       true,
       "ME@example.jp",
       "a@example.jp",
       "me@EXAMPLE.jp",
       {"a@example.jp", "ME@example.jp"}},
      {"sender is the recipient", true, "", "me@example.jp", "Me@example.jp", {"me@example.jp"}},
      {"no sender address", true, "", "a@example.jp", "", {"a@example.jp"}},
      {"unusable Cc left out", false, "c@example.jp>", "a@example.jp", "", {"a@example.jp"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MailExtras extras;
    extras.copyToSelf = c.copyToSelf;
    extras.cc = c.cc;
    EXPECT_EQ(EnvelopeRecipients(extras, c.recipient, c.sender), c.expected);
  }
}

}  // namespace
}  // namespace velkaro
