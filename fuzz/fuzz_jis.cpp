// Shift_JIS to ISO-2022-JP (Zentool::ZenSjisToJis) on arbitrary bytes.
//
// The converter passes every byte below 0x80 through as it is, ESC
// included: ESC is no character of a mail text, and a text holding one
// would forge designations. So the structure of the output is checked on
// the input with ESC taken out; the input as given is converted too and
// must still come out 7-bit.
#include <algorithm>

#include "core/zentool.h"
#include "jis_check.h"
#include "support.h"

using namespace velkaro;

namespace {

bool IsSevenBit(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void CheckConversion(const std::string& sjis) {
  const std::string jis = Zentool().ZenSjisToJis(sjis);
  const std::optional<std::string> chars = fuzz::ReadJis(jis);
  FUZZ_CHECK(chars.has_value());
  // Every byte below 0x80 that is not the trail of a pair stays, in order:
  // the CR LF of each line end above all.
  std::string ascii;
  for (char c : *chars) {
    if (static_cast<unsigned char>(c) < 0x80) ascii += c;
  }
  FUZZ_CHECK(ascii == fuzz::StandaloneAscii(sjis));
  // Plain ASCII (bare CR and LF too: the converter leaves line ends to the
  // body code) is its own ISO-2022-JP form.
  if (IsSevenBit(sjis)) FUZZ_CHECK(jis == sjis);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Platform();
  const std::string input = fuzz::Bytes(data, size);
  std::string withoutEsc = input;
  std::replace(withoutEsc.begin(), withoutEsc.end(), '\x1b', '?');
  CheckConversion(withoutEsc);
  if (withoutEsc != input) FUZZ_CHECK(IsSevenBit(Zentool().ZenSjisToJis(input)));
  return 0;
}
