// Characters of the body that Shift_JIS (CP932) has no code for. The send
// refuses such a body, saving refuses it, and the preview warns of it; all
// three name the characters the same way, each with the line it is on.
#pragma once

#include <QString>
#include <vector>

#include "platform/platform.h"

namespace velkaro::ui {

struct UnmappableCharacter {
  char32_t codePoint = 0;
  int line = 0;  // 1-based, the line it first appears on
};

// Each character without a CP932 form once, in order of first appearance.
std::vector<UnmappableCharacter> UnmappableCharacters(const QString& text);

// "3行目: 😀 (U+1F600)"; a character that shows nothing by itself (a
// control or format character, a lone surrogate) only by its code point.
QString DescribeUnmappable(const UnmappableCharacter& c);

// What the text is about to be used for.
enum class BodyUse { Send, Save, Preview };

// The message naming the characters (the first ten, the rest counted), or
// empty when the text can be written as Shift_JIS.
QString UnmappableBodyMessage(const QString& text, BodyUse use);

// A message box with a text that may hold characters Shift_JIS cannot
// carry: shown as it is on the Qt platform; elsewhere (tests, hosts
// without a window) the system's Shift_JIS form of it.
MsgAnswer ShowMessageText(const QString& text, MsgButtons buttons, MsgIcon icon);

}  // namespace velkaro::ui
