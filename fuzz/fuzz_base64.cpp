// Base64 of bytes and of encoded-word payloads (src/core/zentool_base64.cpp,
// SplitPayloads in src/mail/mime_text.cpp), read back by a decoder of our
// own. The first input byte picks the read step of the file reader and the
// payload limit of the encoded words; the rest is the data.
#include <unistd.h>

#include "core/base64_detail.h"
#include "core/zentool.h"
#include "jis_check.h"
#include "mail/mime_text.h"
#include "support.h"

using namespace velkaro;

namespace {

// One line, no breaks: attachments are cut into lines only while they are
// sent, encoded words are never split by the encoder.
void CheckEncoding(const std::string& bytes, const std::string& encoded) {
  FUZZ_CHECK(encoded.size() == (bytes.size() + 2) / 3 * 4);
  const std::optional<std::string> decoded = fuzz::DecodeBase64(encoded);
  FUZZ_CHECK(decoded.has_value());
  FUZZ_CHECK(*decoded == bytes);
}

void CheckFileReader(const std::string& bytes, int chunk) {
  if (bytes.empty()) return;
  static const std::string path = fuzz::ScratchFolder() + "/attachment.bin";
  fuzz::WriteFile(path, bytes);
  const std::string encoded = Zentool().ZenFileToBase64(path, chunk);
  CheckEncoding(bytes, encoded);
  // A file that is shorter than its size taken earlier gives nothing.
  FUZZ_CHECK(
      detail::FileToBase64(path, static_cast<std::int64_t>(bytes.size()) + 1, chunk).empty());
}

// Characters in the form ReadJis gives them.
std::size_t CharacterCount(const std::string& chars) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < chars.size(); ++count) {
    i += static_cast<unsigned char>(chars[i]) < 0x80 ? 1 : 2;
  }
  return count;
}

// Each payload fits the limit and is a whole ISO-2022-JP text of its own;
// together they hold exactly the characters of the whole text.
void CheckPayloads(const std::string& sjis, std::size_t limit) {
  const std::vector<std::string> payloads = mime::SplitPayloads(sjis, limit);
  FUZZ_CHECK(payloads.empty() == sjis.empty());
  std::string joined;
  for (const std::string& payload : payloads) {
    const std::optional<std::string> jis = fuzz::DecodeBase64(payload);
    FUZZ_CHECK(jis.has_value());
    const std::optional<std::string> chars = fuzz::ReadJis(*jis);
    FUZZ_CHECK(chars.has_value());
    // Only a piece that cannot be cut (one character, or a half-width
    // letter with its sound mark, or a lone lead byte with the byte after
    // it) may pass the limit.
    FUZZ_CHECK(payload.size() <= limit || CharacterCount(*chars) <= 2);
    if (limit >= mime::kMaxWordPayload) FUZZ_CHECK(payload.size() <= limit);
    joined += *chars;
  }
  const std::optional<std::string> whole = fuzz::ReadJis(Zentool().ZenSjisToJis(sjis));
  FUZZ_CHECK(whole.has_value());
  FUZZ_CHECK(joined == *whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Platform();
  fuzz::InputReader in(data, size);
  const std::uint8_t knob = in.Byte();
  const std::string bytes = in.Rest();
  const Zentool tool;

  CheckEncoding(bytes, tool.ZenBase64Encode(bytes));
  CheckEncoding(bytes, tool.ZenBase64EncodeBuf(bytes.size(), bytes.data()));
  CheckFileReader(bytes, knob * 7);

  // The encoded word of a Shift_JIS text is the Base64 of its ISO-2022-JP.
  const std::string mime = tool.ZenMimeEncode(bytes);
  FUZZ_CHECK(mime.empty() == bytes.empty());
  if (!bytes.empty()) CheckEncoding(tool.ZenSjisToJis(bytes), mime);

  // ESC is passed through by the converter (see fuzz_jis.cpp).
  if (bytes.find('\x1b') == std::string::npos && bytes.size() <= 4096) {
    CheckPayloads(bytes, 12 + knob % 64);
    CheckPayloads(bytes, mime::kMaxWordPayload);
  }
  return 0;
}
