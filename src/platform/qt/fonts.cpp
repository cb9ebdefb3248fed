#include "platform/qt/fonts.h"

#include <QFontDatabase>
#include <QGuiApplication>

namespace velkaro::qt {
namespace {

QStringList InstalledOf(const QStringList& wanted) {
  const QStringList installed = QFontDatabase::families();
  QStringList found;
  for (const QString& family : wanted) {
    if (installed.contains(family, Qt::CaseInsensitive)) found << family;
  }
  return found;
}

}  // namespace

const QStringList& JapaneseFixedFamilies() {
  static const QStringList families = {
      QStringLiteral("ＭＳ ゴシック"),
      QStringLiteral("MS Gothic"),
      QStringLiteral("IPAGothic"),
      QStringLiteral("IPAゴシック"),
      QStringLiteral("Noto Sans Mono CJK JP"),
      QStringLiteral("VL Gothic"),
      QStringLiteral("TakaoGothic"),
  };
  return families;
}

const QStringList& JapaneseProportionalFamilies() {
  static const QStringList families = {
      QStringLiteral("ＭＳ Ｐゴシック"),  QStringLiteral("MS PGothic"),
      QStringLiteral("IPAPGothic"),       QStringLiteral("IPAPゴシック"),
      QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic"),
      QStringLiteral("TakaoPGothic"),
  };
  return families;
}

QFont JapaneseFixedFont(int pixelSize) {
  const QStringList found = InstalledOf(JapaneseFixedFamilies());
  QFont font = found.isEmpty() ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont();
  if (!found.isEmpty()) font.setFamilies(found);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  if (pixelSize > 0) font.setPixelSize(pixelSize);
  return font;
}

QFont JapaneseProportionalFont(int pixelSize) {
  const QStringList found = InstalledOf(JapaneseProportionalFamilies());
  QFont font = QGuiApplication::font();
  if (!found.isEmpty()) font.setFamilies(found);
  if (pixelSize > 0) font.setPixelSize(pixelSize);
  return font;
}

}  // namespace velkaro::qt
