#include "job/smtp_credentials.h"

#include <cstdlib>

#include "core/encoding.h"
#include "platform/platform.h"

namespace velkaro {

std::string SecretAccount(const std::string& user, const std::string& smtpServer) {
  return "smtp:" + user + "@" + smtpServer;
}

// The first source that has a secret wins; an empty one counts as none,
// so an unset environment variable or a command that printed nothing falls
// through to the next.
std::string FindSmtpSecret(const VelkaroIni& ini, const std::string& user,
                           const ServerSettings& server) {
  if (const char* fromEnvironment = std::getenv(kPasswordEnvironment);
      fromEnvironment != nullptr && *fromEnvironment != '\0') {
    return fromEnvironment;
  }
  Platform& platform = CurrentPlatform();
  const std::string command = ini.Get("smtpPasswordCommand");
  if (!command.empty()) {
    if (auto printed = platform.RunPasswordCommand(command); printed && !printed->empty()) {
      return *printed;
    }
  }
  const std::string account = SecretAccount(user, SjisToUtf8(FieldText(server.smtpServer)));
  if (auto stored = platform.LookupSecret(account); stored && !stored->empty()) return *stored;
  if (const std::string kept = ini.StoredPassword(); !kept.empty()) return kept;
  return SjisToUtf8(FieldText(server.popPassword));
}

SecuritySettings SecurityForRun(const VelkaroIni& ini, const ServerSettings& server) {
  SecuritySettings s;
  s.smtpSecurity = ParseSmtpSecurity(ini.Get("smtpSecurity")).value_or(SmtpSecurity::None);
  s.smtpAuth = ParseSmtpAuth(ini.Get("smtpAuth")).value_or(SmtpAuthMode::None);
  s.popSecurity = ParsePopSecurity(ini.Get("popSecurity")).value_or(PopSecurity::None);
  s.trustedFingerprint = NormaliseFingerprint(ini.Get("tlsTrustedFingerprint")).value_or("");
  s.heloName = ini.Get("heloName");
  s.allowInsecureAuth = ini.Get("allowInsecureAuth") == "1";
  s.smtpUser = ini.Get("smtpUser");
  if (s.smtpUser.empty()) s.smtpUser = SjisToUtf8(FieldText(server.popUser));
  if (s.smtpAuth != SmtpAuthMode::None) s.smtpSecret = FindSmtpSecret(ini, s.smtpUser, server);
  return s;
}

}  // namespace velkaro
