#include "job/personal_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/encoding.h"
#include "core/zentool.h"

namespace velkaro {
namespace {

// A value goes into a path as a name inside the pattern's folder: a slash
// or ".." would lead elsewhere (an address book is data, maybe from
// someone else), a control byte or NUL would make a name no user typed.
std::string PathValue(const std::string& utf8Value, std::string& why) {
  bool control = false;
  for (const char c : utf8Value) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) control = true;
  }
  if (control || utf8Value.find('/') != std::string::npos ||
      utf8Value.find("..") != std::string::npos) {
    why = Sjis("ファイルのパスに使えません( / や .. や制御文字を含みます)。");
  }
  return utf8Value;
}

// A regular file that is not empty and can be opened for reading: what the
// attachment part will be made of when the mail goes out.
bool ReadableFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 1) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace

bool IsPersonalPattern(const PlaceholderWordList& words, const std::string& utf8Path) {
  return HasPlaceholder(words, utf8Path);
}

RecipientAttachments AttachmentsFor(const PlaceholderWordList& words, const std::string& patterns,
                                    const std::string& recipientLine, std::time_t at,
                                    bool checkFiles) {
  RecipientAttachments out;
  for (std::size_t from = 0, end = patterns.find("\r\n"); end != std::string::npos;
       from = end + 2, end = patterns.find("\r\n", from)) {
    const std::string pattern = patterns.substr(from, end - from);
    if (!IsPersonalPattern(words, pattern)) {
      out.paths += pattern + "\r\n";
      continue;
    }
    const PersonalUtf8 path = ReplacePlaceholdersUtf8(words, pattern, recipientLine, at, PathValue);
    if (!path.problem.empty()) {
      if (out.problem.empty()) {
        out.problem =
            Sjis("個別の添付ファイル( ") + Utf8ToSjis(pattern) + Sjis(" ): ") + path.problem;
      }
      continue;
    }
    if (checkFiles && !ReadableFile(path.text) && out.problem.empty()) {
      out.problem = Sjis("個別の添付ファイルを開けません: ") + Utf8ToSjis(path.text);
      out.missing = path.text;
    }
    out.paths += path.text + "\r\n";
  }
  return out;
}

std::string RecipientFilesAndLinkProblem(const PlaceholderWordList& words,
                                         const std::string& patterns, const MailExtras& extras,
                                         const std::string& recipientLine, std::time_t at) {
  const RecipientAttachments files = AttachmentsFor(words, patterns, recipientLine, at, true);
  if (!files.problem.empty()) return files.problem;
  if (extras.listUnsubscribe.empty()) return {};
  return ExtrasFor(extras, words, recipientLine, at).problem;
}

}  // namespace velkaro
