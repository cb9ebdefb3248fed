// Pieces of an attachment's part header: the charset of a text file and
// the RFC 2231 form of its file name.
#pragma once

#include <string>

#include "mail/mime_text.h"

namespace velkaro::mime {

// "UTF-8" when `bytes` are valid UTF-8 (pure ASCII is), else "Shift_JIS"
// when they are valid Shift_JIS (code page 932), else "": a text part must
// not claim a charset its bytes break (RFC 2046 4.1.2).
std::string TextCharset(const std::string& bytes);

// True for well-formed UTF-8 (RFC 3629: shortest forms only, no
// surrogates, nothing above U+10FFFF).
bool IsValidUtf8(const std::string& bytes);

// The parameter lines " filename*=UTF-8''…" (RFC 2231 4) for the UTF-8
// name `utf8Name`, each ending in CR LF: octets that are not
// attribute-chars percent-encoded, and, when that line would pass 76
// characters, continuations " filename*0*=UTF-8''…;", " filename*1*=…;"
// … (RFC 2231 3) cut between characters, as readers such as Python's email
// decode each section on its own.
std::string Rfc2231FileName(const std::string& utf8Name);

// The part header of the attachment file at `path` (UTF-8), ending in an
// empty line: its type from the extension, its name as encoded words in
// `charset` (UTF-8 for a name beyond ISO-2022-JP whatever `charset` says)
// inside the quoted name= and filename= that many Japanese mail programs
// read, and as filename* (RFC 2231) that the others read first.
// Empty when the file is missing or empty.
std::string AttachmentPartHeader(const std::string& path, Charset charset);

}  // namespace velkaro::mime
