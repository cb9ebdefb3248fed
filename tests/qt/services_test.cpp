// The other host services of the Qt platform: status text, clipboard, text
// conversion at the boundary, shell open and the program's own facts.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <cstdlib>
#include <regex>
#include <vector>

#include "core/encoding.h"
#include "platform/qt/qt_platform.h"
#include "support/test_support.h"

namespace velkaro::qt {
namespace {

TEST(QtText, ConvertsAtTheBoundaryWithTheLineEndsOfEachSide) {
  const struct {
    std::string sjis;
    QString qt;
  } cases[] = {
      {Sjis("レディ"), QStringLiteral("レディ")},
      {Sjis("一行目\r\n二行目\r\n"), QStringLiteral("一行目\n二行目\n")},
      {Sjis("山田\t太郎\tやまだ"), QStringLiteral("山田\t太郎\tやまだ")},
      {Sjis("ｶﾀｶﾅ ～ ① ㈱"), QStringLiteral("ｶﾀｶﾅ ～ ① ㈱")},
      {"", QString()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FromSjis(c.sjis), c.qt) << testing::Hex(c.sjis);
    EXPECT_EQ(ToSjis(c.qt), c.sjis) << c.qt.toStdString();
  }
  // Lone line feeds (the usual on this side) become the system's CR LF.
  EXPECT_EQ(ToSjis(QStringLiteral("a\nb\r\nc")), "a\r\nb\r\nc");
  // Invalid Shift_JIS does not vanish silently.
  EXPECT_EQ(FromSjis("a\x82"), QStringLiteral("a\uFFFD"));
}

TEST(QtText, MendsLineEndsOnTheShiftJisBytesAndCountsWhatItCannotCarry) {
  const struct {
    QString qt;
    std::string sjis;
    int unmappable;
  } cases[] = {
      {QStringLiteral("\n\n"), "\r\n\r\n", 0},
      {QStringLiteral("a\rb\r"), "a\rb\r", 0},  // a lone CR stays as typed
      {QStringLiteral("a\r\r\nb"), "a\r\r\nb", 0},
      {QStringLiteral("表\n貼\r\nソ"), Sjis("表\r\n貼\r\nソ"), 0},  // 0x5C as second byte
      {QStringLiteral("😀\n😀"), Sjis("〓\r\n〓"), 2},
  };
  for (const auto& c : cases) {
    int unmappable = 0;
    EXPECT_EQ(ToSjis(c.qt, &unmappable), c.sjis) << c.qt.toStdString();
    EXPECT_EQ(unmappable, c.unmappable) << c.qt.toStdString();
  }
}

TEST(QtStatusText, ReachesTheSinkConverted) {
  QtPlatform platform;
  platform.SetStatusText(Sjis("レディ"));  // no sink yet: nothing happens
  std::vector<QString> shown;
  platform.SetStatusSink([&](const QString& text) { shown.push_back(text); });
  platform.SetStatusText(Sjis("送信処理中"));
  platform.SetStatusText(Sjis("メール送信でエラー検出 RetCode=102"));
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], QStringLiteral("送信処理中"));
  EXPECT_EQ(shown[1], QStringLiteral("メール送信でエラー検出 RetCode=102"));
}

TEST(QtClipboard, GivesJapaneseTextBackAsShiftJisWithCrLf) {
  QtPlatform platform;
  QClipboard* clipboard = QGuiApplication::clipboard();
  ASSERT_NE(clipboard, nullptr);
  const struct {
    QString put;
    std::optional<std::string> got;
  } cases[] = {
      {QStringLiteral("/sendto-begin\n山田太郎\tyamada@example.jp\n/sendto-end\n"),
       Sjis("/sendto-begin\r\n山田太郎\tyamada@example.jp\r\n/sendto-end\r\n")},
      {QStringLiteral("本文.txt"), Sjis("本文.txt")},
      {QString(), std::nullopt},
  };
  for (const auto& c : cases) {
    clipboard->setText(c.put);
    EXPECT_EQ(platform.ClipboardText(), c.got) << c.put.toStdString();
  }
}

TEST(QtShellOpen, FailsForWhatCannotBeOpened) {
  QtPlatform platform;
  testing::TempDir dir;
  EXPECT_FALSE(platform.ShellOpen(""));
  EXPECT_FALSE(platform.ShellOpen(dir.File("ない")));
  EXPECT_FALSE(platform.ShellOpen("no-such-relative-folder-4711"));
}

TEST(QtProgramFacts, FolderIsFixedOnFirstUseAndVersionHasFourParts) {
  testing::TempDir dir;
  const char* old = std::getenv("VELKARO_HOME");
  const std::string saved = old ? old : "";
  ::setenv("VELKARO_HOME", (dir.path() + "/").c_str(), 1);
  QtPlatform platform;
  EXPECT_EQ(platform.ProgramFolder(), dir.path());
  ::setenv("VELKARO_HOME", "/nonexistent/elsewhere", 1);
  EXPECT_EQ(platform.ProgramFolder(), dir.path()) << "the folder moved while running";
  if (old) {
    ::setenv("VELKARO_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("VELKARO_HOME");
  }
  EXPECT_TRUE(std::regex_match(platform.VersionString(), std::regex(R"(\d+\.\d+\.\d+\.0)")))
      << platform.VersionString();
  EXPECT_FALSE(platform.ExecutablePath().empty());
  const std::unique_ptr<StreamSocket> socket = platform.NewSocket();
  ASSERT_NE(socket, nullptr);
  EXPECT_FALSE(socket->IsOpen());
}

}  // namespace
}  // namespace velkaro::qt
