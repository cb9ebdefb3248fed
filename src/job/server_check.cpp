#include "job/server_check.h"

#include "core/encoding.h"
#include "job/run_results.h"

namespace velkaro {

ServerCheck::ServerCheck(const ServerSettings& server, const SecuritySettings& security,
                         TimerTarget* timers)
    : server_(server), security_(security), timers_(timers) {}

ServerCheck::~ServerCheck() = default;

// The steps are those of a run's start: the POP3 login only when a POP3
// server is set, as a run logs in only then, and after it the SMTP side.
// The POP3 session is ended with QUIT before SMTP is tried.
int ServerCheck::Run(const Report& report) {
  if (connection_) return -1;
  connection_ = std::make_unique<MailConnection>(timers_ != nullptr ? timers_ : this);
  MailConnection& mail = *connection_;
  mail.SetServerSettings(server_);
  mail.SetSecuritySettings(security_);
  mail.SetSpeed(100);
  mail.onStep = [&report](const std::string& step, bool ok, const std::string& detail) {
    report({step, ok, detail});
  };
  int result = run_result::kSent;
  if (!FieldText(server_.popServer).empty()) {
    if (mail.PopLogin() != 0) {
      if (mail.popOpen == 1) mail.PopQuit();
      result = run_result::kPopBeforeSmtpFailed;
    } else {
      const int quit = mail.PopQuit();
      report({"POP3 QUIT", quit == 0, MailConnection::ReplyLine(mail.lastReply)});
    }
  }
  if (result == run_result::kSent && mail.abandonWaits != 0) result = run_result::kOpenFailed;
  if (result == run_result::kSent) {
    if (mail.SmtpOpen() != 0) {
      result = run_result::kOpenFailed;
    } else {
      const int quit = mail.SmtpQuit();
      report({"QUIT", quit == 0, MailConnection::ReplyLine(mail.lastReply)});
      if (quit != 0) result = run_result::kQuitFailed;
    }
  }
  CurrentPlatform().StopTimer(this, MailConnection::kReplyTimerId);
  connection_.reset();
  return result;
}

// A handler inside one of the check's waits: the stop request ends a TLS
// handshake, and clearing the reply flag ends a wait for a reply just as
// the reply time-out does, so the step fails at once and nothing follows.
// The reply time-out, as the run's window handles it.
void ServerCheck::OnTimer(int id) {
  CurrentPlatform().StopTimer(this, id);
  if (id == MailConnection::kReplyTimerId && connection_) connection_->replyWaiting = 0;
}

void ServerCheck::Cancel() {
  if (!connection_) return;
  connection_->RequestStop();
  connection_->abandonWaits = 1;
  connection_->replyWaiting = 0;
}

}  // namespace velkaro
