#include "job/run_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "core/zentool.h"

namespace velkaro {
namespace {

constexpr const char* kMagic = "velkaro-journal 1";
constexpr const char* kHex = "0123456789abcdef";

std::string Hex(const unsigned char* bytes, std::size_t size) {
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 0xF];
  }
  return out;
}

std::optional<std::string> FromHex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const char* hi = std::strchr(kHex, text[i]);
    const char* lo = std::strchr(kHex, text[i + 1]);
    if (text[i] == 0 || text[i + 1] == 0 || hi == nullptr || lo == nullptr) return std::nullopt;
    out += static_cast<char>(((hi - kHex) << 4) | (lo - kHex));
  }
  return out;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
  }
  return out;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', from);
    fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
    if (tab == std::string::npos) return fields;
    from = tab + 1;
  }
}

// A whole number in a field, or -1.
long long NumberField(const std::vector<std::string>& f, std::size_t i) {
  if (i >= f.size() || f[i].empty() || f[i].size() > 18) return -1;
  if (!std::all_of(f[i].begin(), f[i].end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return -1;
  }
  return std::stoll(f[i]);
}

struct Digest {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx{EVP_MD_CTX_new(), EVP_MD_CTX_free};
  Digest() { EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr); }
  void Add(const void* data, std::size_t size) { EVP_DigestUpdate(ctx.get(), data, size); }
  std::string Hex() {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(ctx.get(), out, &size);
    return velkaro::Hex(out, size);
  }
};

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool EnsureFolder(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

// Hands a file's bytes to `take` piece by piece; false when it cannot be
// read to its end.
template <typename Take>
bool ReadPieces(const std::string& path, Take take) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return n == 0;
    }
    take(buffer, static_cast<std::size_t>(n));
  }
}

std::optional<std::string> ReadWhole(const std::string& path) {
  std::string bytes;
  if (!ReadPieces(path, [&](const char* data, std::size_t n) { bytes.append(data, n); })) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

std::string Sha256Hex(const std::string& bytes) {
  Digest digest;
  digest.Add(bytes.data(), bytes.size());
  return digest.Hex();
}

std::optional<std::string> FileSha256Hex(const std::string& path) {
  Digest digest;
  if (!ReadPieces(path, [&](const char* data, std::size_t n) { digest.Add(data, n); })) {
    return std::nullopt;
  }
  return digest.Hex();
}

std::string BuildJournalName(const std::string& programFolder, std::time_t start) {
  Zentool z;
  const std::string stamp = z.FormatDateTime(start, 13) + "-" + z.FormatDateTime(start, 23);
  return z.ZenJoinPath(programFolder, "Log/journal-" + stamp + ".txt");
}

JournalWriter::~JournalWriter() {
  if (fd_ >= 0) ::close(fd_);
}

bool JournalWriter::Open(const std::string& programFolder, const JournalHeader& header) {
  const std::string base = BuildJournalName(programFolder, header.start);
  std::string folder;
  Zentool().ZenGetFolder(base, folder);
  if (!EnsureFolder(folder)) return false;
  // Two runs started in the same second never share a journal: the second
  // gets "-2" (and so on) before the extension.
  constexpr int kMostPerSecond = 100;
  for (int n = 1; fd_ < 0 && n <= kMostPerSecond; ++n) {
    path_ = n == 1 ? base : base.substr(0, base.size() - 4) + "-" + std::to_string(n) + ".txt";
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    path_.clear();
    return false;
  }
  // Held while the run works (the lock goes with the descriptor, also when
  // the process dies): another window or velkaro-send must not take up a
  // run that is still sending.
  ::flock(fd_, LOCK_EX | LOCK_NB);
  std::string text = std::string(kMagic) + "\n";
  text += "start\t" + std::to_string(static_cast<long long>(header.start)) + "\t" +
          Zentool().FormatDateTime(header.start, 15) + "\n";
  text += "body\t" + header.bodySha256 + "\t" + Escape(header.bodyFilePath) + "\n";
  text += std::string("titleIn\t") + (header.titleIn ? "1" : "0") + "\n";
  for (const JournalAttachment& a : header.attachments) {
    text += "attach\t" + std::to_string(a.size) + "\t" + a.sha256 + "\t" + Escape(a.path) + "\n";
  }
  for (std::size_t i = 0; i < header.recipientLines.size(); ++i) {
    const std::string& line = header.recipientLines[i];
    text += "to\t" + std::to_string(i + 1) + "\t" +
            Hex(reinterpret_cast<const unsigned char*>(line.data()), line.size()) + "\n";
  }
  text += "ready\t" + std::to_string(header.recipientLines.size()) + "\n";
  if (Append(text)) {
    // The journal's name in its folder must survive a power cut too.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
    return true;
  }
  Withdraw();
  return false;
}

bool JournalWriter::Append(const std::string& line) {
  if (fd_ < 0) return false;
  return WriteAll(fd_, line) && ::fdatasync(fd_) == 0;
}

bool JournalWriter::EndOfDataGoing(int mail) {
  return Append("data-end\t" + std::to_string(mail + 1) + "\n");
}

bool JournalWriter::Outcome(int mail, const RecipientResult& result) {
  const std::string n = std::to_string(mail + 1);
  switch (result.outcome) {
    case MailOutcome::Sent: return Append("sent\t" + n + "\t" + Escape(result.reply) + "\n");
    case MailOutcome::Refused:
      return Append("refused\t" + n + "\t" + std::to_string(result.code) + "\t" +
                    Escape(result.reply) + "\n");
    case MailOutcome::InDoubt: return Append("in-doubt\t" + n + "\n");
    case MailOutcome::NotSent: break;
  }
  return true;
}

bool JournalWriter::Finished(int result) {
  const bool ok = Append("end\t" + std::to_string(result) + "\n");
  ::close(fd_);
  fd_ = -1;
  return ok;
}

bool JournalWriter::Withdraw() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  return path_.empty() || ::unlink(path_.c_str()) == 0 || errno == ENOENT;
}

namespace {

// One record of the journal into `state`; false for a line that is not one.
bool ReadRecord(const std::vector<std::string>& f, JournalState& state, bool& ready) {
  Zentool z;
  const std::string& kind = f[0];
  JournalHeader& h = state.header;
  if (kind == "start" && f.size() >= 2 && NumberField(f, 1) >= 0) {
    h.start = static_cast<std::time_t>(NumberField(f, 1));
  } else if (kind == "body" && f.size() == 3) {
    h.bodySha256 = f[1];
    h.bodyFilePath = Unescape(f[2]);
  } else if (kind == "titleIn" && f.size() == 2) {
    h.titleIn = f[1] == "1";
  } else if (kind == "attach" && f.size() == 4 && NumberField(f, 1) >= 0) {
    h.attachments.push_back({Unescape(f[3]), NumberField(f, 1), f[2]});
  } else if (kind == "to" && f.size() == 3 && !ready &&
             NumberField(f, 1) == static_cast<long long>(h.recipientLines.size()) + 1) {
    const std::optional<std::string> line = FromHex(f[2]);
    if (!line) return false;
    h.recipientLines.push_back(*line);
    RecipientResult r;
    r.line = *line;
    r.name = z.ZenGetTabItem(*line, 2);
    r.address = z.ZenGetTabItem(*line, 3);
    state.mails.push_back(std::move(r));
  } else if (kind == "ready" && NumberField(f, 1) == static_cast<long long>(state.mails.size())) {
    ready = true;
  } else if (kind == "end" && NumberField(f, 1) >= 0) {
    state.finished = true;
    state.result = static_cast<int>(NumberField(f, 1));
  } else if (kind == "resumed") {
    state.resumed = true;
  } else if (kind == "no-offer") {
    state.noOffer = true;
  } else {
    const long long n = NumberField(f, 1);
    if (!ready || n < 1 || n > static_cast<long long>(state.mails.size())) return false;
    RecipientResult& r = state.mails[static_cast<std::size_t>(n - 1)];
    if (kind == "data-end" && f.size() == 2) {
      r.outcome = MailOutcome::InDoubt;
    } else if (kind == "sent" && f.size() == 3) {
      r.outcome = MailOutcome::Sent;
      r.code = 0;
      r.reply = Unescape(f[2]);
    } else if (kind == "refused" && f.size() == 4 && NumberField(f, 2) >= 0) {
      r.outcome = MailOutcome::Refused;
      r.code = static_cast<int>(NumberField(f, 2));
      r.reply = Unescape(f[3]);
    } else if (kind == "in-doubt" && f.size() == 2) {
      r.outcome = MailOutcome::InDoubt;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<JournalState> ReadJournal(const std::string& path, std::string* error) {
  const auto fail = [error](const std::string& why) {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  const std::optional<std::string> bytes = ReadWhole(path);
  if (!bytes) return fail("cannot read " + path);
  JournalState state;
  state.path = path;
  bool ready = false;
  std::size_t from = 0;
  int number = 0;
  // Only lines ended by LF count: a crash may cut the last one short.
  for (std::size_t end = bytes->find('\n'); end != std::string::npos;
       from = end + 1, end = bytes->find('\n', from)) {
    const std::string line = bytes->substr(from, end - from);
    if (++number == 1) {
      if (line != kMagic) return fail(path + " is not a Velkaro journal");
      continue;
    }
    if (!ReadRecord(Fields(line), state, ready)) {
      return fail(path + ":" + std::to_string(number) + ": not a journal record");
    }
  }
  if (number == 0) return fail(path + " is not a Velkaro journal");
  if (!ready) return fail(path + " was cut off before the run began; it sent nothing");
  return state;
}

bool JournalInUse(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool inUse = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return inUse;
}

bool MarkJournal(const std::string& path, const std::string& record) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  // A crash may have left a last line without its LF: start a fresh line.
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && st.st_size > 0) {
    char last = '\n';
    const int rd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ok = rd >= 0 && ::pread(rd, &last, 1, st.st_size - 1) == 1;
    if (rd >= 0) ::close(rd);
    if (ok && last != '\n') ok = WriteAll(fd, "\n");
  }
  ok = ok && WriteAll(fd, record + "\n") && ::fdatasync(fd) == 0;
  ::close(fd);
  return ok;
}

std::vector<std::string> UnfinishedJournals(const std::string& programFolder) {
  const std::string folder = Zentool().ZenJoinPath(programFolder, "Log");
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.starts_with("journal-") && name.ends_with(".txt")) names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.rbegin(), names.rend());  // the stamp sorts by time
  std::vector<std::string> unfinished;
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    const std::optional<JournalState> state = ReadJournal(path, nullptr);
    if (state && !state->finished && !state->resumed && !state->noOffer && !JournalInUse(path)) {
      unfinished.push_back(path);
    }
  }
  return unfinished;
}

}  // namespace velkaro
