#include "mail/smtp_capabilities.h"

#include <algorithm>
#include <charconv>

#include "core/text_bytes.h"

namespace velkaro {
namespace {

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::size_t end = i;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t') ++end;
    if (end > i) words.push_back(text.substr(i, end - i));
    i = end;
  }
  return words;
}

// RFC 4422 3.1: a mechanism name is 1 to 20 upper-case letters, digits,
// hyphens and underscores. Anything else in the list is not a mechanism we
// could ask for, and a name with a control byte in it must never be echoed
// into an AUTH command.
bool IsMechanismName(const std::string& name) {
  if (name.empty() || name.size() > 20) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

void AddMechanisms(SmtpCapabilities& caps, const std::vector<std::string>& words,
                   std::size_t first) {
  for (std::size_t i = first; i < words.size(); ++i) {
    const std::string mechanism = AsciiUpper(words[i]);
    if (!IsMechanismName(mechanism)) continue;
    if (std::find(caps.authMechanisms.begin(), caps.authMechanisms.end(), mechanism) ==
        caps.authMechanisms.end()) {
      caps.authMechanisms.push_back(mechanism);
    }
  }
}

void ReadLine(SmtpCapabilities& caps, const std::string& line) {
  // "250-KEYWORD params" or "250 KEYWORD params"
  if (line.size() < 4 || line.compare(0, 3, "250") != 0) return;
  if (line[3] != '-' && line[3] != ' ') return;
  std::vector<std::string> words = Words(line.substr(4));
  if (words.empty()) return;
  std::string keyword = AsciiUpper(words[0]);
  if (keyword.rfind("AUTH=", 0) == 0) {
    words[0] = words[0].substr(5);
    AddMechanisms(caps, words, 0);
  } else if (keyword == "AUTH") {
    AddMechanisms(caps, words, 1);
  } else if (keyword == "STARTTLS") {
    caps.startTls = true;
  } else if (keyword == "SIZE") {
    caps.sizeAdvertised = true;
    caps.sizeLimit = 0;
    if (words.size() > 1) {
      std::uint64_t n = 0;
      const std::string& digits = words[1];
      const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
      if (error == std::errc() && end == digits.data() + digits.size()) caps.sizeLimit = n;
    }
  }
}

}  // namespace

bool SmtpCapabilities::OffersAuth(const std::string& mechanism) const {
  return std::find(authMechanisms.begin(), authMechanisms.end(), AsciiUpper(mechanism)) !=
         authMechanisms.end();
}

// The first line is the server's name and greeting text, never a keyword.
SmtpCapabilities ParseEhloReply(const std::string& reply) {
  SmtpCapabilities caps;
  std::size_t start = 0;
  bool first = true;
  while (start < reply.size()) {
    std::size_t end = reply.find('\n', start);
    if (end == std::string::npos) end = reply.size();
    std::string line = reply.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!first) ReadLine(caps, line);
    first = false;
    start = end + 1;
  }
  return caps;
}

}  // namespace velkaro

namespace velkaro {

std::string ChooseEhloName(const std::string& configured, const std::string& hostName,
                           const std::string& localAddress) {
  if (!configured.empty()) return configured;
  if (hostName.find('.') != std::string::npos) return hostName;
  if (localAddress.empty()) return "localhost";
  if (localAddress.find(':') != std::string::npos) return "[IPv6:" + localAddress + "]";
  return "[" + localAddress + "]";
}

}  // namespace velkaro
