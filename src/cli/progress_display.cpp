#include "cli/progress_display.h"

#include <cstdint>
#include <utility>

namespace velkaro::cli {
namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \r\n") - first + 1);
}

// Decodes one UTF-8 character at `i`; returns its length (1 for a stray
// byte, which then counts as one column).
std::size_t NextChar(const std::string& s, std::size_t i, std::uint32_t& cp) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t length = b < 0x80           ? 1
                       : (b >> 5) == 0x6  ? 2
                       : (b >> 4) == 0xE  ? 3
                       : (b >> 3) == 0x1E ? 4
                                          : 1;
  if (i + length > s.size()) length = 1;
  if (length == 1) {
    cp = b;
    return 1;
  }
  cp = b & (0xFF >> (length + 1));
  for (std::size_t k = 1; k < length; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) {
      cp = b;
      return 1;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  return length;
}

int CharWidth(std::uint32_t cp) {
  if (cp < 0x20 || cp == 0x7F) return 0;
  const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0x303E) ||
                    (cp >= 0x3041 && cp <= 0x33FF) || (cp >= 0x3400 && cp <= 0x4DBF) ||
                    (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0xA000 && cp <= 0xA4CF) ||
                    (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                    (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                    (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
  return wide ? 2 : 1;
}

}  // namespace

ProgressDisplay::ProgressDisplay(Writer write, bool terminal, int columns)
    : write_(std::move(write)), terminal_(terminal), columns_(columns < 10 ? 80 : columns) {}

void ProgressDisplay::Event(const RunEvent& event) {
  if (event.kind == RunEventKind::MailStarted) current_ = event.mail + 1;
  if (event.kind == RunEventKind::RunStarted) total_ = event.count;
  if (event.kind == RunEventKind::RunEnded) ended_ = true;
}

int ProgressDisplay::DisplayWidth(const std::string& utf8) {
  int width = 0;
  std::uint32_t cp = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    i += NextChar(utf8, i, cp);
    width += CharWidth(cp);
  }
  return width;
}

std::string ProgressDisplay::FitWidth(const std::string& utf8, int columns) {
  int width = 0;
  std::uint32_t cp = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const std::size_t length = NextChar(utf8, i, cp);
    if (width + CharWidth(cp) > columns) break;
    width += CharWidth(cp);
    i += length;
  }
  return utf8.substr(0, i);
}

void ProgressDisplay::Status(const std::string& utf8Text) {
  const std::string text = Trimmed(utf8Text);
  if (text.empty()) return;
  lastStatus_ = text;
  if (ended_) {
    // The result stays on the screen as a line of its own, without a count.
    ClearLiveLine();
    write_(text + "\n");
    lastLine_ = text;
    return;
  }
  std::string line = text;
  if (current_ > 0) {
    line = "[" + std::to_string(current_) + "/" + std::to_string(total_) + "] " + text;
  }
  if (line == lastLine_) return;
  lastLine_ = line;
  if (terminal_) {
    // One column is kept free: a line that fills the terminal exactly
    // would wrap on some terminals and break the redraw.
    write_("\r" + FitWidth(line, columns_ - 1) + "\x1b[K");
    live_ = true;
  } else {
    write_(line + "\n");
  }
}

void ProgressDisplay::Message(const std::string& utf8Lines) {
  ClearLiveLine();
  write_(utf8Lines);
  // Whatever was on the redrawn line is shown again with the next status.
  lastLine_.clear();
}

void ProgressDisplay::Finish() {
  if (live_) {
    write_("\n");
    live_ = false;
  }
}

void ProgressDisplay::ClearLiveLine() {
  if (live_) {
    write_("\r\x1b[K");
    live_ = false;
  }
}

}  // namespace velkaro::cli
