// How a run meets refusals and providers' limits: the `[run]` settings of
// "Velkaro.ini", how a failed mail is judged, and the pace of mails.
#pragma once

#include <ctime>
#include <deque>
#include <string>

#include "data/velkaro_ini.h"

namespace velkaro {

struct RunPolicy {
  // false: the first failed mail ends the run; true: a recipient refused
  // for good is recorded and the run goes on.
  bool continueOnFailure = false;
  int retries = 2;            // further tries of a mail after a temporary failure
  int retryWaitSeconds = 30;  // before the first retry; doubled for each next
  int mailsPerMinute = 0;     // 0: no limit
  int mailsPerHour = 0;
  int mailsPerConnection = 0;  // a new connection after this many mails
};

RunPolicy RunPolicyOf(const VelkaroIni& ini);

// What a failed mail means for the run (with onRecipientFailure=continue).
enum class FailureKind {
  Recipient,  // refused for good for this recipient: record it, go on
  Temporary,  // a 4xx or a lost connection: try again on a new connection
  InDoubt,    // the end of data went out, no reply came: never sent again
  Run,        // concerns every mail (sender, login, files, stop): end the run
};

// A failed mail as the transport left it.
struct FailedMail {
  int code = 0;            // SendOneMail's result
  int envelopeStep = 0;    // 1 MAIL, 2 RCPT, 3 DATA
  int endOfDataCode = -1;  // see MailConnection::endOfDataCode
  char replyClass = 0;     // the first digit of the last reply ('4', '5'), or 0
  bool connectionOpen = false;
  bool stopRequested = false;
  bool senderUnusable = false;  // the sender's address cannot go out
};

FailureKind ClassifyFailure(const FailedMail& mail);

// Whether a failed SMTP opening may be tried again later (no connection,
// no greeting, a greeting that is not 220) rather than a fault of the
// settings (TLS, login) that another try cannot mend.
bool OpeningMayRecover(int openCode);

// The seconds before the next mail may start so that no limit of the
// policy is exceeded, and the setting that asks for the wait.
struct LimitWait {
  int seconds = 0;
  std::string setting;  // "mailsPerMinute" or "mailsPerHour"
  int limit = 0;
};

class SendRateLimiter {
 public:
  explicit SendRateLimiter(const RunPolicy& policy);
  LimitWait WaitBefore(std::time_t now) const;
  void MailStarted(std::time_t now);

 private:
  int perMinute_;
  int perHour_;
  std::deque<std::time_t> starts_;  // the last hour's starts, oldest first
};

// The wait before try `attempt` (2 for the first retry): the setting's
// seconds, doubled for each further try, at most a day.
int RetryWaitSeconds(const RunPolicy& policy, int attempt);

}  // namespace velkaro
