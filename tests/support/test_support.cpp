#include "support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace velkaro::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velkaro-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary folder";
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
  ::getrlimit(RLIMIT_FSIZE, &saved_);
  previous_ = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{bytes, saved_.rlim_max};
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
  ::setrlimit(RLIMIT_FSIZE, &saved_);
  std::signal(SIGXFSZ, previous_);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string RunCommand(const std::string& command, const std::string& input, bool* ok) {
  TempDir dir;
  const std::string inputPath = dir.File("stdin");
  const std::string outputPath = dir.File("stdout");
  WriteBytes(inputPath, input);
  const std::string line = "(" + command + ") <'" + inputPath + "' >'" + outputPath + "'";
  const int status = std::system(line.c_str());
  if (ok != nullptr) *ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return ReadBytes(outputPath);
}

std::vector<std::string> ReceivedMailPaths(const std::string& folder) {
  std::vector<std::string> paths;
  for (int n = 1;; ++n) {
    const std::string path = folder + "/" + std::to_string(n) + ".eml";
    if (!std::filesystem::exists(path)) break;
    paths.push_back(path);
  }
  return paths;
}

bool HaveProgram(const std::string& name) {
  const std::string line = "command -v '" + name + "' >/dev/null 2>&1";
  return std::system(line.c_str()) == 0;
}

void CaseCount::Add(const std::string& kind) {
  for (auto& [name, n] : counts_) {
    if (name == kind) {
      ++n;
      return;
    }
  }
  counts_.emplace_back(kind, 1);
}

CaseCount::~CaseCount() {
  // gtest prints its own lines with printf; the same stream keeps the order.
  for (const auto& [name, n] : counts_) std::printf("[ cases    ] %s: %d\n", name.c_str(), n);
  std::fflush(stdout);
}

std::string Hex(const std::string& bytes) {
  std::ostringstream out;
  char buffer[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned char>(bytes[i]));
    if (i != 0) out << ' ';
    out << buffer;
  }
  return out.str();
}

std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string WithoutDateAndId(const std::string& message) {
  std::string out;
  for (const std::string& line : CrLfLines(message)) {
    if (line.rfind("Date: ", 0) != 0 && line.rfind("Message-Id: ", 0) != 0) out += line + "\r\n";
  }
  return out;
}

std::string Base64Decode(const std::string& text) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (const char c : text) {
    if (c == '=') break;
    if (c == '\r' || c == '\n') continue;
    const std::size_t value = alphabet.find(c);
    if (value == std::string::npos) {
      ADD_FAILURE() << "not Base64: " << text;
      return {};
    }
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  return out;
}

}  // namespace velkaro::testing
