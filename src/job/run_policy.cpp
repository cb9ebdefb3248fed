#include "job/run_policy.h"

#include <algorithm>
#include <string>

#include "job/run_results.h"

namespace velkaro {
namespace {

int NumberOf(const VelkaroIni& ini, const char* key) {
  const std::string value = ini.Get(key);
  return value.empty() ? 0 : std::stoi(value);
}

// RFC 5321 4.2.1: 4yz is a transient failure, 5yz a permanent one. Only a
// permanent refusal of the recipient (RCPT) or of this mail's content (the
// end of data) is the recipient's; the sender refused at MAIL or a DATA
// refused after accepted recipients concern every mail.
FailureKind ClassifyEnvelope(const FailedMail& mail) {
  if (mail.envelopeStep == 0) return FailureKind::Run;  // over the server's SIZE
  if (!mail.connectionOpen) return FailureKind::Temporary;
  if (mail.replyClass == '4') return FailureKind::Temporary;
  if (mail.replyClass == '5' && mail.envelopeStep == 2) return FailureKind::Recipient;
  return FailureKind::Run;
}

FailureKind ClassifyEndOfData(const FailedMail& mail) {
  switch (mail.endOfDataCode) {
    case mail_step::kEndOfDataNoReply: return FailureKind::InDoubt;
    // Without the whole terminator line the server discards the mail.
    case mail_step::kEndOfDataSentInPart: return FailureKind::Temporary;
    case mail_step::kEndOfDataRefused:
      if (mail.replyClass == '4') return FailureKind::Temporary;
      if (mail.replyClass == '5') return FailureKind::Recipient;
      return FailureKind::Run;
    default: return FailureKind::Run;
  }
}

}  // namespace

RunPolicy RunPolicyOf(const VelkaroIni& ini) {
  RunPolicy policy;
  policy.continueOnFailure = ini.Get("onRecipientFailure") == "continue";
  policy.retries = NumberOf(ini, "retries");
  policy.retryWaitSeconds = NumberOf(ini, "retryWaitSeconds");
  policy.mailsPerMinute = NumberOf(ini, "mailsPerMinute");
  policy.mailsPerHour = NumberOf(ini, "mailsPerHour");
  policy.mailsPerConnection = NumberOf(ini, "mailsPerConnection");
  return policy;
}

FailureKind ClassifyFailure(const FailedMail& mail) {
  if (mail.stopRequested) return FailureKind::Run;
  if (mail.code == mail_step::kNotOpen) return FailureKind::Temporary;
  if (mail.code == mail_step::kUnsendable) {
    return mail.senderUnusable ? FailureKind::Run : FailureKind::Recipient;
  }
  if (mail.code == mail_step::kEnvelope) return ClassifyEnvelope(mail);
  if (mail.code == mail_step::kEndOfData) return ClassifyEndOfData(mail);
  // The content went out in part and the connection was dropped before
  // the end of data: the server discarded the mail, and it can go again.
  // (A file that vanished meanwhile is refused by the next try's checks.)
  if (mail_step::DropsConnection(mail.code)) return FailureKind::Temporary;
  return FailureKind::Run;  // POP before SMTP, a missing attachment, …
}

bool OpeningMayRecover(int openCode) {
  constexpr int kConnectFailed = 2;
  constexpr int kNoGreeting = 3;
  constexpr int kGreetingNot220 = 4;  // e.g. 421 or 554 while busy
  constexpr int kEhloNoReply = 11;
  return openCode == kConnectFailed || openCode == kNoGreeting || openCode == kGreetingNot220 ||
         openCode == kEhloNoReply;
}

SendRateLimiter::SendRateLimiter(const RunPolicy& policy)
    : perMinute_(policy.mailsPerMinute), perHour_(policy.mailsPerHour) {}

LimitWait SendRateLimiter::WaitBefore(std::time_t now) const {
  LimitWait wait;
  const auto consider = [&](int limit, int window, const char* setting) {
    if (limit <= 0 || static_cast<int>(starts_.size()) < limit) return;
    // The start `limit` mails back must have left the window.
    const std::time_t leaves = starts_[starts_.size() - static_cast<std::size_t>(limit)] + window;
    const int seconds = static_cast<int>(std::max<std::time_t>(0, leaves - now));
    if (seconds > wait.seconds) wait = {seconds, setting, limit};
  };
  consider(perMinute_, 60, "mailsPerMinute");
  consider(perHour_, 3600, "mailsPerHour");
  return wait;
}

void SendRateLimiter::MailStarted(std::time_t now) {
  if (perMinute_ <= 0 && perHour_ <= 0) return;
  starts_.push_back(now);
  while (!starts_.empty() && starts_.front() + 3600 <= now) starts_.pop_front();
}

int RetryWaitSeconds(const RunPolicy& policy, int attempt) {
  constexpr long kDay = 24 * 3600;
  long seconds = policy.retryWaitSeconds;
  for (int i = 2; i < attempt && seconds < kDay; ++i) seconds *= 2;
  return static_cast<int>(std::min(seconds, kDay));
}

}  // namespace velkaro
