// The Japanese fonts: installed families, and a fixed font in which kana
// and kanji take exactly two ASCII cells.
#include "platform/qt/fonts.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>

namespace velkaro::qt {
namespace {

bool AnyInstalled(const QStringList& families) {
  const QStringList installed = QFontDatabase::families();
  for (const QString& f : families) {
    if (installed.contains(f, Qt::CaseInsensitive)) return true;
  }
  return false;
}

TEST(JapaneseFonts, UseAnInstalledFamilyOfTheirList) {
  const struct {
    const char* name;
    QFont font;
    const QStringList& wanted;
  } cases[] = {
      {"fixed", JapaneseFixedFont(16), JapaneseFixedFamilies()},
      {"proportional", JapaneseProportionalFont(16), JapaneseProportionalFamilies()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!AnyInstalled(c.wanted)) GTEST_SKIP() << "no Japanese gothic font installed";
    const QFontInfo info(c.font);
    EXPECT_TRUE(c.wanted.contains(info.family(), Qt::CaseInsensitive))
        << info.family().toStdString();
    EXPECT_EQ(info.pixelSize(), 16);
    const QFontMetrics metrics(c.font);
    EXPECT_TRUE(metrics.inFont(QChar(0x3042))) << "no glyph for あ";
    EXPECT_TRUE(metrics.inFont(QChar(0x6F22))) << "no glyph for 漢";
  }
}

TEST(JapaneseFonts, FixedFontKeepsColumnsForJapanese) {
  if (!AnyInstalled(JapaneseFixedFamilies())) GTEST_SKIP() << "no Japanese fixed font installed";
  const QFontMetrics m(JapaneseFixedFont(16));
  const int cell = m.horizontalAdvance(QStringLiteral("a"));
  ASSERT_GT(cell, 0);
  for (const QString& half : {QStringLiteral("i"), QStringLiteral("W"), QStringLiteral("ｱ")}) {
    EXPECT_EQ(m.horizontalAdvance(half), cell) << half.toStdString();
  }
  for (const QString& full : {QStringLiteral("あ"), QStringLiteral("漢"), QStringLiteral("Ａ")}) {
    EXPECT_EQ(m.horizontalAdvance(full), 2 * cell) << full.toStdString();
  }
  // The proportional one is really proportional.
  const QFontMetrics p(JapaneseProportionalFont(16));
  EXPECT_LT(p.horizontalAdvance(QStringLiteral("i")), p.horizontalAdvance(QStringLiteral("W")));
}

}  // namespace
}  // namespace velkaro::qt
