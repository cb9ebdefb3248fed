// How a run reaches its servers beyond the plain dialogue: TLS, SMTP AUTH
// and the name sent in EHLO. Kept apart from `ServerSettings`, whose
// layout is part of the settings file; the defaults (no TLS, no AUTH)
// leave the dialogue as it always was.
#pragma once

#include <optional>
#include <string>

namespace velkaro {

enum class SmtpSecurity { None, StartTls, Tls };
enum class SmtpAuthMode { None, Auto, Plain, Login, XOAuth2 };
enum class PopSecurity { None, Stls, Tls };

struct SecuritySettings {
  SmtpSecurity smtpSecurity = SmtpSecurity::None;
  SmtpAuthMode smtpAuth = SmtpAuthMode::None;
  // The user id for AUTH (the run fills in the POP user id when empty).
  std::string smtpUser;
  // The password, or the access token for XOAUTH2, as the run found it.
  // Never written to a transcript, a log or a message.
  std::string smtpSecret;
  PopSecurity popSecurity = PopSecurity::None;
  // SHA-256 of one certificate accepted although it does not verify: 64
  // lower-case hex digits, or empty.
  std::string trustedFingerprint;
  // The name sent in EHLO; empty: the host's name or address.
  std::string heloName;
  // AUTH without TLS to a server that is not on this host.
  bool allowInsecureAuth = false;
};

// The settings' words for the modes ("none", "starttls", "tls", …);
// nothing for a word that is not one of them.
std::optional<SmtpSecurity> ParseSmtpSecurity(const std::string& word);
std::optional<SmtpAuthMode> ParseSmtpAuth(const std::string& word);
std::optional<PopSecurity> ParsePopSecurity(const std::string& word);
// "AB:cd:…" or "abcd…" to 64 lower-case hex digits; nothing when it is not
// a SHA-256 fingerprint. An empty text gives an empty one.
std::optional<std::string> NormaliseFingerprint(const std::string& text);

}  // namespace velkaro
