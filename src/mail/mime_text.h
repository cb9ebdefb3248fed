// Pieces of message text that the header block, the body and the attachment
// parts share: encoded words and their folding, the date and message id of
// the header block, SMTP transparency and address checks.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace velkaro::mime {

// RFC 5322 2.1.1: no line of a message may be longer than 998 characters,
// not counting its CR LF.
inline constexpr std::size_t kMaxLineLength = 998;
// RFC 5322 2.1.1 asks for lines of at most 78 characters; RFC 2047 2
// counts 76 for lines with encoded words. Folded fields keep to it where
// they can.
inline constexpr std::size_t kPreferredLineLength = 76;
// RFC 2047 2: an encoded word is at most 75 characters. With the wrapper
// "=?ISO-2022-JP?B?" … "?=" that leaves 57 characters of Base64, so 56
// (14 groups, 42 bytes of ISO-2022-JP).
inline constexpr std::size_t kMaxWordLength = 75;
inline constexpr std::size_t kMaxWordPayload = 56;

// The character set a mail's text goes out in: ISO-2022-JP (RFC 1468) for
// text that JIS X 0208 holds, UTF-8 for text with any other character.
enum class Charset { IsoJp, Utf8 };

// Payload room of one encoded word in `charset`: 75 characters less the
// wrapper, in whole Base64 groups (56 for ISO-2022-JP, 60 for UTF-8).
std::size_t MaxWordPayload(Charset charset);

// "=?ISO-2022-JP?B?" payload "?=", or "=?UTF-8?B?" payload "?=".
std::string EncodedWord(const std::string& payload, Charset charset = Charset::IsoJp);

// The Shift_JIS text cut on character boundaries into pieces whose encoded
// word payloads fit `maxPayload` characters, each piece converted and
// encoded on its own, so every word starts and ends in ASCII (RFC 2047 5,
// RFC 1468). A half-width katakana and the sound mark after it are never
// cut apart, as the conversion joins them into one character. An empty text
// gives no payloads. The first piece may be held to a smaller
// `firstMaxPayload`, for the word that shares its line with the field name.
// In UTF-8 the pieces are converted with SjisToUtf8 instead.
std::vector<std::string> SplitPayloads(const std::string& sjisText,
                                       std::size_t maxPayload = kMaxWordPayload,
                                       std::size_t firstMaxPayload = kMaxWordPayload,
                                       Charset charset = Charset::IsoJp);

// The text without ESC bytes. In ISO-2022-JP only the converter's own
// escape sequences may switch the character set; an ESC taken over from the
// text ("ESC $ B" typed or pasted in) would make the receiver read the ASCII
// after it as kanji, or end a kanji run early. ESC cannot be a trail byte
// of Shift_JIS, so dropping it never splits a character.
std::string WithoutEscapes(const std::string& sjis);

// A header field (or parameter line) whose value is `prefix`, one encoded
// word and `suffix`, ending in CR LF. While the text fits one encoded word
// of at most 75 characters it is that line; otherwise the text is split
// into several words, the first after `prefix`, each further one on a
// continuation line that starts with a space, and `suffix` after the last
// (RFC 5322 2.2.3 folding; decoders join adjacent encoded words, RFC 2047
// 6.2), the words sized so that the lines keep to 76 characters. A
// `suffix` that starts with a space (" <address>") goes on a line of its
// own when the last line would pass 76 characters with it. ESC bytes are
// left out. The words are in `charset`.
std::string EncodedField(const std::string& prefix, const std::string& sjisText,
                         const std::string& suffix, Charset charset = Charset::IsoJp);

// True when no line of `text` (CR LF separated) is longer than 998
// characters.
bool LinesFit(const std::string& text);

// RFC 5322 3.3 date-time of calendar time `t` whose local form is `local`:
// "Tue, 08 Dec 2026 09:30:15 +0900". Names are English whatever the locale;
// the zone is the difference between the local form and UTC.
std::string DateTime(std::time_t t, const std::tm& local);

// The part of every message id that tells this process apart from every
// other one, on this and other machines: 16 lower-case hex digits of
// std::random_device, drawn on first use (RFC 5322 3.6.4 wants ids unique
// world-wide; the time and a counter alone repeat across two runs started
// in one second).
const std::string& ProcessToken();
// Fixes the token, for tests that compare whole header blocks; an empty
// text draws a new one on next use.
void SetProcessTokenForTests(const std::string& token);

// The right side of a message id: the domain of `address` when it is a
// dot-atom (RFC 5322 3.6.4), else "localhost".
std::string MessageIdDomain(const std::string& address);

// SMTP transparency (RFC 5321 4.5.2): a "." that begins a line gets another
// "." in front of it. A line begins at the start of the text and after CR
// LF; a bare CR or LF counts as a line end too, because some servers end
// lines there and would otherwise see "<LF>.<CR><LF>" as the end of data.
std::string StuffDots(const std::string& text);

// True when an address can be put between "<" and ">" in a command or a
// header line without ending it: no control byte (below 0x20, or 0x7F), no
// "<" and no ">".
bool AddressIsClean(const std::string& address);

// RFC 5321 4.5.3.1.3: a path is at most 256 octets with its brackets.
inline constexpr std::size_t kMaxAddressLength = 254;

enum class AddressFault {
  None,
  Unclean,  // a byte AddressIsClean refuses
  TooLong,  // longer than kMaxAddressLength
};

// Why an address cannot go into "MAIL FROM"/"RCPT TO" and a header line as
// it is. The send run checks every address with it before it connects, the
// transport once more before each mail. An empty address is no fault here:
// MAIL FROM takes the null path, and the callers decide about recipients.
AddressFault CheckAddress(const std::string& address);

// The body as the wire needs it, still in Shift_JIS: every line ended by
// CR LF (a bare CR or LF ends a line too: RFC 5321 forbids them alone and
// servers undo dot-stuffing only after CR LF), and no line longer than
// `maxWireBytes` once converted to ISO-2022-JP (RFC 5322 allows 998;
// servers such as aiosmtpd refuse longer lines). Long lines are broken
// between characters, never inside one nor between a half-width kana and
// its sound mark. NUL and ESC bytes are left out.
std::string WireReadyBody(const std::string& sjis, std::size_t maxWireBytes = 990);

}  // namespace velkaro::mime
