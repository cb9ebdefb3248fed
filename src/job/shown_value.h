// A value (an address, a name, a file name) as part of one line of a
// message to the user.
#pragma once

#include <string>

namespace velkaro {

// Control bytes (line ends above all) and lone lead bytes become "?", and a
// value longer than 64 bytes is cut between characters and marked "…" (a
// 1 MB "address" must not become a 1 MB message). Shift_JIS.
std::string ShownValue(const std::string& sjis);

}  // namespace velkaro
