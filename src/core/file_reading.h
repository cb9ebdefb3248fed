// Reading from an open file descriptor until the bytes asked for are there,
// through short reads and interrupted calls.
#pragma once

#include <cstddef>
#include <string>

namespace velkaro {

// Reads exactly `count` bytes into `into`. An error, or an end of file
// before `count` bytes (the file shrank since its size was taken), is a
// failed read: the caller's buffer would otherwise hold stale bytes.
bool ReadExactly(int fd, char* into, std::size_t count);

// Appends what `fd` holds up to its end, but at most `limit` bytes, to
// `bytes`; false on a read error (`bytes` then holds what came before it).
bool ReadUpTo(int fd, std::string& bytes, std::size_t limit);

}  // namespace velkaro
