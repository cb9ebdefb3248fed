#include "ui/body_characters.h"

#include <QChar>
#include <QList>
#include <set>

#include "core/encoding.h"
#include "platform/qt/qt_platform.h"

namespace velkaro::ui {
namespace {

// A message box with thousands of lines helps nobody; the count of the
// rest says there is more.
constexpr std::size_t kListed = 10;

bool HasSjisForm(char32_t c) {
  int bad = 0;
  Utf8ToSjis(QString::fromUcs4(&c, 1).toStdString(), &bad);
  return bad == 0;
}

bool ShowsByItself(char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  return QChar::isPrint(c) && QChar::category(c) != QChar::Other_Format;
}

}  // namespace

std::vector<UnmappableCharacter> UnmappableCharacters(const QString& text) {
  std::vector<UnmappableCharacter> found;
  int count = 0;
  Utf8ToSjis(text.toStdString(), &count);
  if (count == 0) return found;
  std::set<char32_t> seen;
  int line = 1;
  for (const char32_t c : text.toUcs4()) {
    if (c == U'\n') {
      ++line;
      continue;
    }
    if (!seen.insert(c).second) continue;
    if (!HasSjisForm(c)) found.push_back({c, line});
  }
  return found;
}

QString DescribeUnmappable(const UnmappableCharacter& c) {
  const QString code =
      QStringLiteral("U+%1").arg(static_cast<uint>(c.codePoint), 4, 16, QLatin1Char('0')).toUpper();
  const QString where = QStringLiteral("%1行目: ").arg(c.line);
  if (!ShowsByItself(c.codePoint)) return where + code;
  return where + QString::fromUcs4(&c.codePoint, 1) + QStringLiteral(" (") + code +
         QLatin1Char(')');
}

QString UnmappableBodyMessage(const QString& text, BodyUse use) {
  const std::vector<UnmappableCharacter> found = UnmappableCharacters(text);
  if (found.empty()) return {};
  QString message = QStringLiteral("本文に Shift_JIS で表せない文字があります。\n\n");
  for (std::size_t i = 0; i < found.size() && i < kListed; ++i) {
    message += QStringLiteral("  ") + DescribeUnmappable(found[i]) + QLatin1Char('\n');
  }
  if (found.size() > kListed) {
    message += QStringLiteral("  ほか %1 種類\n").arg(found.size() - kListed);
  }
  switch (use) {
    case BodyUse::Send:
      message +=
          QStringLiteral("\n送信を中止しました。これらの文字を書き換えてから送信してください。");
      break;
    case BodyUse::Save:
      message +=
          QStringLiteral("\n保存を中止しました。これらの文字を書き換えてから保存してください。");
      break;
    case BodyUse::Preview:
      message += QStringLiteral(
          "\nこのままでは送信できません。これらの文字を書き換えてから送信してください。");
      break;
  }
  return message;
}

MsgAnswer ShowMessageText(const QString& text, MsgButtons buttons, MsgIcon icon) {
  if (auto* platform = dynamic_cast<qt::QtPlatform*>(&CurrentPlatform())) {
    return platform->MessageBoxText(text, buttons, icon);
  }
  return CurrentPlatform().MessageBox(qt::ToSjis(text), buttons, icon);
}

}  // namespace velkaro::ui
