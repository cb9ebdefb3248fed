#include "mail/security_settings.h"

#include <array>
#include <utility>

namespace velkaro {
namespace {

template <typename T, std::size_t N>
std::optional<T> Lookup(const std::array<std::pair<const char*, T>, N>& words,
                        const std::string& word) {
  for (const auto& [text, value] : words) {
    if (word == text) return value;
  }
  return std::nullopt;
}

}  // namespace

std::optional<SmtpSecurity> ParseSmtpSecurity(const std::string& word) {
  static constexpr std::array<std::pair<const char*, SmtpSecurity>, 3> kWords{{
      {"none", SmtpSecurity::None},
      {"starttls", SmtpSecurity::StartTls},
      {"tls", SmtpSecurity::Tls},
  }};
  return Lookup(kWords, word);
}

std::optional<SmtpAuthMode> ParseSmtpAuth(const std::string& word) {
  static constexpr std::array<std::pair<const char*, SmtpAuthMode>, 5> kWords{{
      {"none", SmtpAuthMode::None},
      {"auto", SmtpAuthMode::Auto},
      {"plain", SmtpAuthMode::Plain},
      {"login", SmtpAuthMode::Login},
      {"xoauth2", SmtpAuthMode::XOAuth2},
  }};
  return Lookup(kWords, word);
}

std::optional<PopSecurity> ParsePopSecurity(const std::string& word) {
  static constexpr std::array<std::pair<const char*, PopSecurity>, 3> kWords{{
      {"none", PopSecurity::None},
      {"stls", PopSecurity::Stls},
      {"tls", PopSecurity::Tls},
  }};
  return Lookup(kWords, word);
}

std::optional<std::string> NormaliseFingerprint(const std::string& text) {
  std::string hex;
  for (char c : text) {
    if (c == ':') continue;
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    const bool digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    if (!digit) return std::nullopt;
    hex.push_back(c);
  }
  if (!hex.empty() && hex.size() != 64) return std::nullopt;
  return hex;
}

}  // namespace velkaro
