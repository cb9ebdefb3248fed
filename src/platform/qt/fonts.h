// Fonts for Japanese text. The program was laid out for the Windows gothic
// faces; where they are missing the closest installed faces are used, so
// that the fixed font stays monospaced for kanji and kana as well as for
// ASCII (a full-width character is exactly two half-width cells).
#pragma once

#include <QFont>
#include <QStringList>

namespace velkaro::qt {

// The families tried for the fixed and the proportional font, best first.
const QStringList& JapaneseFixedFamilies();
const QStringList& JapaneseProportionalFamilies();

// A font of the first installed family of the list, with the other installed
// ones behind it for missing glyphs. With none installed, the system's fixed
// font (resp. the application font) at that size.
QFont JapaneseFixedFont(int pixelSize);
QFont JapaneseProportionalFont(int pixelSize);

}  // namespace velkaro::qt
