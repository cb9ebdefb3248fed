// Where the SMTP password (or XOAUTH2 access token) of a run comes from,
// in this order: the environment variable VELKARO_SMTP_PASSWORD, the
// output of `smtpPasswordCommand`, the desktop's secret store, the
// password kept in "Velkaro.ini" when the user chose to keep it there,
// and last the POP3 password.
#pragma once

#include <string>

#include "core/server_settings.h"
#include "data/velkaro_ini.h"
#include "mail/security_settings.h"

namespace velkaro {

inline constexpr const char* kPasswordEnvironment = "VELKARO_SMTP_PASSWORD";

// The name the password is kept under in the secret store:
// "smtp:USER@SERVER" (UTF-8).
std::string SecretAccount(const std::string& user, const std::string& smtpServer);

// The security block of a run from the settings file and "Velkaro.ini":
// modes, the user id (the POP user id when none is set) and, when AUTH is
// on, the secret. The secret is looked for only then, as a password
// command may ask the user or start a browser.
SecuritySettings SecurityForRun(const VelkaroIni& ini, const ServerSettings& server);

// The secret alone, from the sources above; empty when none has one.
std::string FindSmtpSecret(const VelkaroIni& ini, const std::string& user,
                           const ServerSettings& server);

}  // namespace velkaro
