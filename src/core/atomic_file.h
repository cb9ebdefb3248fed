// Replacing a file without ever leaving a short or empty one behind: the
// bytes go to a temporary file in the same folder, are flushed to disk, and
// the temporary file is then renamed over the old one. A failure at any
// point leaves the old file as it was.
#pragma once

#include <sys/types.h>

#include <string>

namespace velkaro {

// 0 written; -1 the disk reported an input/output error; 1 any other
// failure (folder not writable, disk full, …). `mode` is used for a new
// file; an existing file keeps its permissions only if they were `mode`.
int AtomicWriteFile(const std::string& path, const std::string& bytes, mode_t mode = 0644);

}  // namespace velkaro
