// Media types of file name extensions, as the system lists them.
#pragma once

#include <string>

namespace velkaro {

// The media type ("image/jpeg") that /etc/mime.types (Debian package
// media-types) gives for `extension` (without its dot; ASCII letters in any
// case), or "" when the extension is not listed or the file is missing.
// The file is read once, on first use; where an extension is listed twice
// the first listing counts.
std::string MimeTypeForExtension(const std::string& extension);

}  // namespace velkaro
