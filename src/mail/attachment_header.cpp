// The part header of an attachment: its media type from the file's
// extension, and its name both as encoded words in the mail's character
// set, which the Japanese mail programs in use read, and as RFC 2231 UTF-8,
// which carries every character of the file system's name to readers that
// know it.
#include "mail/attachment_header.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/encoding.h"
#include "core/jis_x0208.h"
#include "core/mime_types.h"
#include "core/text_bytes.h"
#include "core/zentool.h"
#include "mail/mail_connection.h"
#include "mail/mime_text.h"

namespace velkaro {
namespace mime {
namespace {

constexpr char kFallbackType[] = "application/octet-stream";
constexpr int kReadChunk = 12000;

bool InRange(unsigned char b, unsigned char low, unsigned char high) {
  return b >= low && b <= high;
}

// Length of the UTF-8 sequence at `at`, 0 when it is not well-formed.
std::size_t Utf8SequenceLength(const std::string& bytes, std::size_t at) {
  const auto b = static_cast<unsigned char>(bytes[at]);
  if (b < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;  // range of the first continuation byte
  if (InRange(b, 0xC2, 0xDF)) {
    length = 2;
  } else if (InRange(b, 0xE0, 0xEF)) {
    length = 3;
    if (b == 0xE0) low = 0xA0;   // overlong
    if (b == 0xED) high = 0x9F;  // surrogates
  } else if (InRange(b, 0xF0, 0xF4)) {
    length = 4;
    if (b == 0xF0) low = 0x90;   // overlong
    if (b == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (at + length > bytes.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto c = static_cast<unsigned char>(bytes[at + k]);
    if (!InRange(c, k == 1 ? low : 0x80, k == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

bool IsValidSjis(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80 || InRange(b, 0xA1, 0xDF)) continue;
    if (!Zentool::ZenIsSjisLead(b) || i + 1 >= bytes.size()) return false;
    const auto t = static_cast<unsigned char>(bytes[++i]);
    if (!IsSjisTrail(t)) return false;
  }
  return true;
}

// RFC 2231 7: attribute-char, the octets a parameter value may carry as
// they are.
bool IsAttributeChar(unsigned char c) {
  return c > 0x20 && c < 0x7F && std::strchr("*'%()<>@,;:\\\"/[]?=", c) == nullptr;
}

// The percent-encoded form of each character of `utf8`.
std::vector<std::string> EncodedCharacters(const std::string& utf8) {
  std::vector<std::string> characters;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t length = std::max<std::size_t>(Utf8SequenceLength(utf8, i), 1);
    std::string encoded;
    for (std::size_t k = i; k < i + length && k < utf8.size(); ++k) {
      const auto c = static_cast<unsigned char>(utf8[k]);
      if (IsAttributeChar(c)) {
        encoded.push_back(static_cast<char>(c));
      } else {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", c);
        encoded += hex;
      }
    }
    characters.push_back(encoded);
    i += length;
  }
  return characters;
}

// "type;" or, for text, "type; charset=…;" after reading the file; text
// in no charset we can name goes as bytes.
std::string ContentTypeValue(const std::string& path) {
  Zentool tool;
  std::string type = MimeTypeForExtension(tool.ZenSplitPath(PathPart::Extension, path));
  if (type.empty()) type = kFallbackType;
  if (type.rfind("text/", 0) != 0) return type + ";";
  const std::string charset = TextCharset(tool.ZenReadFile(path, kReadChunk));
  if (charset.empty()) return std::string(kFallbackType) + ";";
  return type + "; charset=" + charset + ";";
}

}  // namespace

bool IsValidUtf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = Utf8SequenceLength(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string TextCharset(const std::string& bytes) {
  if (IsValidUtf8(bytes)) return "UTF-8";
  if (IsValidSjis(bytes)) return "Shift_JIS";
  return {};
}

std::string Rfc2231FileName(const std::string& utf8Name) {
  const std::vector<std::string> characters = EncodedCharacters(utf8Name);
  std::string whole = " filename*=UTF-8''";
  for (const std::string& c : characters) whole += c;
  if (whole.size() <= kPreferredLineLength) return whole + "\r\n";

  std::vector<std::string> lines;
  std::string line;
  for (const std::string& c : characters) {
    // Every line but the last ends in ";", so keep room for it.
    if (!line.empty() && line.size() + c.size() + 1 > kPreferredLineLength) {
      lines.push_back(line);
      line.clear();
    }
    if (line.empty()) {
      const std::string number = std::to_string(lines.size());
      line = " filename*" + number + "*=" + (lines.empty() ? "UTF-8''" : "");
    }
    line += c;
  }
  lines.push_back(line);
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    out += lines[i] + (i + 1 < lines.size() ? ";\r\n" : "\r\n");
  }
  return out;
}

std::string AttachmentPartHeader(const std::string& path, Charset charset) {
  Zentool tool;
  if (tool.ZenGetFileSize(path) == 0) return {};
  const std::string utf8Name = tool.ZenSplitPath(PathPart::NameExtension, path);
  // The words carry the name in the mail's character set like every other
  // Japanese text of the mail; a name that is not UTF-8 goes into filename*
  // as the words read it, so that both forms name the same file.
  const std::string sjisName = Utf8ToSjis(utf8Name);
  const std::string rfc2231Name = IsValidUtf8(utf8Name) ? utf8Name : SjisToUtf8(sjisName);
  // A name with characters ISO-2022-JP cannot carry (①, 髙) would reach
  // strict readers as an undecodable word; such a name goes as UTF-8 words
  // even in an ISO-2022-JP mail.
  if (!CharactersBeyondJis(sjisName).empty()) charset = Charset::Utf8;
  return "Content-Type: " + ContentTypeValue(path) + "\r\n" +
         EncodedField(" name=\"", sjisName, "\"", charset) +
         "Content-Disposition: attachment;\r\n" +
         EncodedField(" filename=\"", sjisName, "\";", charset) + Rfc2231FileName(rfc2231Name) +
         "Content-Transfer-Encoding: base64\r\n\r\n";
}

}  // namespace mime

std::string MailConnection::AttachHeaderMake(const std::string& path) {
  return mime::AttachmentPartHeader(path, mailCharset);
}

}  // namespace velkaro
