// --store-password: the SMTP password read from standard input and kept
// in the desktop's secret store, or, where no store can be reached, in
// "Velkaro.ini" (readable by its owner only). The password itself is
// never written to any output.
#pragma once

#include <optional>
#include <string>

#include "data/settings_file.h"

namespace velkaro::cli {

inline constexpr const char* kPasswordPrompt = "SMTP password: ";

// One line from `fd`, without its line end. On a terminal the prompt goes
// to `promptFd` and the typed characters are not echoed (the terminal is
// restored even when the program is interrupted meanwhile). Nothing when
// nothing could be read or the line is unreasonably long.
std::optional<std::string> ReadPasswordLine(int fd, int promptFd);

struct StorePasswordResult {
  int exitStatus;       // 0 kept; 2 unusable (no user, server or password); 3 not kept
  std::string message;  // for standard error, never containing the password
};

// Keeps `password` for the account of the settings' SMTP user (smtpUser,
// else the POP user id) at the SMTP server, through the installed
// platform's secret store; falls back to `settings.ini` when the store
// cannot be reached.
StorePasswordResult StoreSmtpPassword(Settings& settings, const std::string& password);

}  // namespace velkaro::cli
