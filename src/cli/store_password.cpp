#include "cli/store_password.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/encoding.h"
#include "job/smtp_credentials.h"
#include "platform/platform.h"

namespace velkaro::cli {
namespace {

// Longer than any password or access token a server takes.
constexpr std::size_t kMaxPasswordBytes = 4096;
constexpr int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Set while echo is off, for the signal handler (one password read at a
// time, on the main thread).
termios savedTerminal{};
volatile sig_atomic_t terminalFd = -1;

void RestoreTerminalAndDie(int signal) {
  if (terminalFd >= 0) ::tcsetattr(terminalFd, TCSAFLUSH, &savedTerminal);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Echo off for the life of the object; a Ctrl-C meanwhile must not leave
// the user's shell without echo.
class NoEcho {
 public:
  explicit NoEcho(int fd) {
    if (::tcgetattr(fd, &savedTerminal) != 0) return;
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    struct sigaction action {};
    action.sa_handler = RestoreTerminalAndDie;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kRestoringSignals); ++i) {
      ::sigaction(kRestoringSignals[i], &action, &previous_[i]);
    }
    terminalFd = fd;
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  ~NoEcho() {
    if (terminalFd < 0) return;
    ::tcsetattr(terminalFd, TCSAFLUSH, &savedTerminal);
    terminalFd = -1;
    for (std::size_t i = 0; i < std::size(kRestoringSignals); ++i) {
      ::sigaction(kRestoringSignals[i], &previous_[i], nullptr);
    }
  }
  NoEcho(const NoEcho&) = delete;
  NoEcho& operator=(const NoEcho&) = delete;

 private:
  struct sigaction previous_[std::size(kRestoringSignals)]{};
};

void WriteText(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// Byte by byte, so that nothing after the line is taken from the input.
std::optional<std::string> ReadLine(int fd) {
  std::string line;
  char c = 0;
  bool readAnything = false;
  for (;;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0 && !readAnything) return std::nullopt;
    readAnything = true;
    if (n == 0 || c == '\n') break;
    line += c;
    if (line.size() > kMaxPasswordBytes) return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::optional<std::string> ReadPasswordLine(int fd, int promptFd) {
  if (::isatty(fd) != 1) return ReadLine(fd);
  WriteText(promptFd, kPasswordPrompt);
  std::optional<std::string> line;
  {
    NoEcho quiet(fd);
    line = ReadLine(fd);
  }
  // The Enter that ended the line was not echoed either.
  WriteText(promptFd, "\n");
  return line;
}

StorePasswordResult StoreSmtpPassword(Settings& settings, const std::string& password) {
  const ServerSettings& server = settings.record.server;
  std::string user = settings.ini.Get("smtpUser");
  if (user.empty()) user = SjisToUtf8(FieldText(server.popUser));
  const std::string smtpServer = SjisToUtf8(FieldText(server.smtpServer));
  if (user.empty() || smtpServer.empty()) {
    return {2, "--store-password needs smtpServer and smtpUser (or popUser) set first"};
  }
  if (password.empty() || password.find_first_of(std::string("\r\0", 2)) != std::string::npos) {
    return {2, "--store-password read no usable password (an empty line, or a CR or NUL in it)"};
  }
  const std::string account = SecretAccount(user, smtpServer);
  switch (CurrentPlatform().StoreSecret(account, password)) {
    case 0: break;
    case 1: {
      settings.ini.SetStoredPassword(password);
      if (settings.SaveIni() != 0) {
        return {3, "no secret store could be reached, and the settings file " +
                       settings.ini.Path() + " could not be written: the password was not kept"};
      }
      return {0,
              "warning: no secret store could be reached (no D-Bus session or no Secret "
              "Service); the password is kept unencrypted in " +
                  settings.ini.Path() + ", readable by its owner only"};
    }
    default:
      return {3,
              "the secret store did not keep the password (a locked keyring, or the request "
              "was declined); nothing was stored"};
  }
  // A copy left in the file would outlive the one in the store.
  if (!settings.ini.StoredPassword().empty()) {
    settings.ini.SetStoredPassword("");
    if (settings.SaveIni() != 0) {
      return {0, "the password is kept in the secret store as " + account +
                     "; warning: the older copy in " + settings.ini.Path() +
                     " could not be removed"};
    }
  }
  return {0, "the password is kept in the secret store as " + account};
}

}  // namespace velkaro::cli
