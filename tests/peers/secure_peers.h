// What the TLS and AUTH peer tests share: the account of the test
// receivers, the security block of a connection, and the checks that a
// secret never shows where it must not (transcript, reasons, step reports,
// the plain-text part of the wire).
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "mail/mail_connection.h"
#include "mail/security_settings.h"

namespace velkaro::testing {

inline constexpr const char* kSmtpUser = "taro@example.jp";
// Blanks, colons and Base64's own letters, so that a secret sent without
// encoding or cut at a blank shows.
inline constexpr const char* kSmtpPassword = "s3cret pass:word+/=";
inline constexpr const char* kSmtpToken = "ya29.Velkaro-test_token-0123456789";

inline SecuritySettings Secure(SmtpSecurity security, SmtpAuthMode auth,
                               const std::string& secret = kSmtpPassword) {
  SecuritySettings s;
  s.smtpSecurity = security;
  s.smtpAuth = auth;
  s.smtpUser = kSmtpUser;
  s.smtpSecret = secret;
  return s;
}

// RFC 4648 Base64, written out here so that the check does not rest on the
// encoder it checks.
inline std::string Base64Of(const std::string& bytes) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kLetters[(v >> 18) & 63];
    out += kLetters[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kLetters[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kLetters[v & 63] : '=';
  }
  return out;
}

// The forms a secret takes on the wire: as typed, alone in Base64 (AUTH
// LOGIN), inside the PLAIN and XOAUTH2 responses.
inline std::vector<std::string> SecretForms(const std::string& secret) {
  const std::string user = kSmtpUser;
  return {secret, Base64Of(secret), Base64Of(std::string(1, '\0') + user + '\0' + secret),
          Base64Of("user=" + user + "\x01" + "auth=Bearer " + secret + "\x01\x01")};
}

inline void ExpectNoSecret(const std::string& text, const std::string& secret,
                           const std::string& where) {
  for (const std::string& form : SecretForms(secret)) {
    EXPECT_EQ(text.find(form), std::string::npos) << "the secret shows in " << where << ":\n"
                                                  << text;
  }
}

inline std::string Reason(const MailConnection& m) {
  return SjisToUtf8(m.GetFailureReason());
}

// Whether `text` shows the fingerprint (64 lower-case hex digits) in any of
// the usual spellings: "ab12…", "AB:12:…".
inline bool ShowsFingerprint(const std::string& text, const std::string& fingerprint) {
  std::string folded;
  for (char c : text) {
    if (c != ':') folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return !fingerprint.empty() && folded.find(fingerprint) != std::string::npos;
}

// What a connection showed the user: transcript, reason and the step
// reports collected through `onStep` (UTF-8).
struct Shown {
  std::string steps;
  void Watch(MailConnection& m) {
    m.onStep = [this](const std::string& step, bool ok, const std::string& detail) {
      steps += SjisToUtf8(step) + (ok ? " ok: " : " failed: ") + SjisToUtf8(detail) + "\n";
    };
  }
  void ExpectNoSecretIn(const MailConnection& m, const std::string& secret) const {
    ExpectNoSecret(m.GetTranscript(), secret, "the transcript");
    ExpectNoSecret(m.GetFailureReason(), secret, "the failure reason");
    ExpectNoSecret(steps, secret, "the step reports");
  }
};

// A STARTTLS connection's plain-text part is one EHLO and STARTTLS; what
// follows must be a TLS record (RFC 3207 4: nothing else before the
// handshake). Returns the bytes sent after STARTTLS.
inline std::string ExpectOnlyEhloBeforeStartTls(const std::string& wire) {
  const std::string command = "STARTTLS\r\n";
  const std::size_t at = wire.find(command);
  EXPECT_NE(at, std::string::npos) << wire;
  if (at == std::string::npos) return {};
  const std::string plain = wire.substr(0, at);
  EXPECT_EQ(plain.rfind("EHLO ", 0), 0u) << plain;
  EXPECT_EQ(plain.find("\r\n"), plain.size() - 2) << "more than EHLO before STARTTLS:\n" << plain;
  const std::string rest = wire.substr(at + command.size());
  // 0x16: a handshake record, the ClientHello.
  EXPECT_TRUE(!rest.empty() && rest[0] == '\x16') << "no TLS handshake after STARTTLS";
  return rest;
}

// No SMTP command in clear text after the point where only TLS may come.
inline void ExpectNoPlainCommands(const std::string& bytes) {
  for (const char* command : {"EHLO", "AUTH", "MAIL FROM", "RCPT TO", "QUIT", "RSET"}) {
    EXPECT_EQ(bytes.find(command), std::string::npos)
        << command << " went out in clear text where only TLS may come";
  }
}

}  // namespace velkaro::testing
