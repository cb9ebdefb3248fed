// The text reader (src/core/text_file.*): arbitrary file bytes into the
// system's Shift_JIS CR LF form, and back out the way they came.
#include <algorithm>

#include "core/text_file.h"
#include "support.h"

using namespace velkaro;

namespace {

bool EveryLfAfterCr(const std::string& text) {
  for (std::size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1)) {
    if (i == 0 || text[i - 1] != '\r') return false;
  }
  return true;
}

std::size_t Count(const std::string& text, char c) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

std::string WithLfEnds(const std::string& text) {
  return EncodeTextForFile(text, TextEncoding::ShiftJis, LineEnds::Lf);
}

void CheckLoneLf(const std::string& bytes) {
  const std::string crLf = LoneLfToCrLf(bytes);
  FUZZ_CHECK(EveryLfAfterCr(crLf));
  FUZZ_CHECK(LoneLfToCrLf(crLf) == crLf);
  // Nothing but a CR before a bare LF was added.
  FUZZ_CHECK(WithLfEnds(crLf) == WithLfEnds(bytes));
}

void CheckDecoded(const std::string& bytes) {
  const TextFileContent content = DecodeText(bytes);
  FUZZ_CHECK(content.ok == !bytes.empty());
  FUZZ_CHECK(content.unmappable >= 0);
  FUZZ_CHECK(EveryLfAfterCr(content.sjis));
  // No line is lost or made up, whatever the bytes between the line ends
  // (an invalid UTF-8 sequence must not take a line end with it).
  FUZZ_CHECK(Count(content.sjis, '\n') == Count(bytes, '\n'));
  if (content.encoding == TextEncoding::ShiftJis) {
    FUZZ_CHECK(content.unmappable == 0);
    FUZZ_CHECK(content.sjis == LoneLfToCrLf(bytes));
  }

  // Written back, the text reads as the same text ...
  int unmappable = 0;
  const std::string written =
      EncodeTextForFile(content.sjis, content.encoding, content.lineEnds, &unmappable);
  if (bytes.empty()) return;
  const TextFileContent again = DecodeText(written);
  // (Unless it is taken for another encoding: CP932 writes U+00A5 and
  // U+203E as ASCII, so a UTF-8 text whose only three-byte characters are
  // those can come back as plain Shift_JIS.)
  if (again.encoding == content.encoding) FUZZ_CHECK(again.sjis == content.sjis);
  if (content.encoding != TextEncoding::ShiftJis) {
    // Converted text is valid CP932 through and through.
    FUZZ_CHECK(unmappable == 0);
    FUZZ_CHECK(again.unmappable == 0);
  }
  // ... and a Shift_JIS file with one kind of line end comes back byte for
  // byte.
  if (content.encoding == TextEncoding::ShiftJis && content.lineEnds != LineEnds::Mixed) {
    FUZZ_CHECK(written == bytes);
    FUZZ_CHECK(again.lineEnds == content.lineEnds);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes = fuzz::Bytes(data, size);
  CheckLoneLf(bytes);
  CheckDecoded(bytes);
  return 0;
}
