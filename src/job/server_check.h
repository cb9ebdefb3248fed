// The server check ("接続テスト", velkaro-send --check-server): connect,
// greeting, EHLO, STARTTLS, AUTH, the POP3 login when POP before SMTP is
// on, and QUIT, with the values given (not necessarily saved), without
// sending a mail. Each step's outcome and the server's words are reported
// as the check goes; the stop request ends it at the next wait.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/server_settings.h"
#include "mail/mail_connection.h"
#include "mail/security_settings.h"

namespace velkaro {

struct ServerCheckStep {
  std::string name;  // Shift_JIS: "接続", "EHLO", "STARTTLS", "AUTH", "POP3", "QUIT", …
  bool ok = false;
  std::string detail;  // Shift_JIS: the server's reply line or the reason; never a secret
};

class ServerCheck : private TimerTarget {
 public:
  using Report = std::function<void(const ServerCheckStep&)>;

  // `security.smtpSecret` must already hold the password or token when
  // AUTH is on (see `FindSmtpSecret`). `timers` receives the reply
  // time-out timer, as during a run, and must end the wait as a run's form
  // does; without one the check keeps its own, so every reply still gets
  // its 20 s (300 s for QUIT).
  ServerCheck(const ServerSettings& server, const SecuritySettings& security,
              TimerTarget* timers = nullptr);
  ~ServerCheck() override;

  // 0 when every step passed; otherwise the code a send run would have
  // ended with: 10 the SMTP connection (connect, greeting, EHLO, STARTTLS,
  // TLS, AUTH), 105 POP before SMTP, 20 QUIT.
  int Run(const Report& report);
  // From a handler running inside one of the check's waits.
  void Cancel();
  bool Running() const { return connection_ != nullptr; }

 private:
  void OnTimer(int id) override;

  ServerSettings server_;
  SecuritySettings security_;
  TimerTarget* timers_;
  std::unique_ptr<MailConnection> connection_;
};

}  // namespace velkaro
