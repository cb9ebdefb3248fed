// Internals of the Base64 file reader, open to the tests: the step size it
// reads with, and the reader itself with the file size passed in, so a test
// can stand for a file that shrank after its size was taken.
#pragma once

#include <cstdint>
#include <string>

namespace velkaro::detail {

// The read step for a requested chunk size: the largest multiple of 3 not
// above it, at least 300. A multiple of 3 keeps "=" out of every chunk but
// the last, so the chunks' texts join into the text of the whole file.
int Base64ReadChunk(int requested);

// Base64 of the first `size` bytes of the file, read in steps of
// Base64ReadChunk(chunkSize). Empty when size <= 0, and on any failure,
// including a file that ends before `size` bytes.
std::string FileToBase64(const std::string& path, std::int64_t size, int chunkSize);

}  // namespace velkaro::detail
