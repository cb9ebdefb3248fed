// The recipients of a send run, one mail each: with onRecipientFailure=stop
// the first failed mail ends the run; with continue a recipient refused
// for good is recorded and the run goes on, a temporary failure is tried
// again on a new connection, and the providers' limits are kept.
#include <algorithm>
#include <string>

#include "core/encoding.h"
#include "core/zentool.h"
#include "job/mail_extras.h"
#include "job/run_state.h"
#include "job/send_log.h"
#include "mail/mime_text.h"

namespace velkaro {
namespace {

constexpr int kWaitStepMs = 100;

FailedMail FailedMailOf(const MailConnection& mail, int code) {
  FailedMail failed;
  failed.code = code;
  failed.envelopeStep = mail.envelopeStep;
  failed.endOfDataCode = mail.endOfDataCode;
  failed.replyClass = mail.lastReply.empty() ? 0 : mail.lastReply[0];
  failed.connectionOpen = mail.smtpOpen == 1;
  failed.stopRequested = mail.stopRequested != 0;
  failed.senderUnusable =
      mime::CheckAddress(FieldText(mail.server.senderAddress)) != mime::AddressFault::None;
  return failed;
}

std::string LimitText(const LimitWait& wait) {
  const char* per = wait.setting == "mailsPerHour" ? "1時間" : "1分";
  return Sjis("送信数の上限(") + Sjis(per) + Sjis("あたり") + std::to_string(wait.limit) +
         Sjis("通)のため、");
}

}  // namespace

int SendJob::SendToRecipients(RunState& run, int count) {
  MailConnection& mail = *run.connection;
  for (int i = 0; i < count; ++i) {
    if (const int result = SendToRecipient(run, i); result != 0) return result;
  }
  if (autoQuit) Zentool().Wait(300);
  // A run going on past failures may end with the connection already
  // dropped (a mail in doubt); there is nothing to quit then.
  const bool quitFailed = mail.smtpOpen == 1 ? mail.SmtpQuit() != 0 : run.someNotAccepted;
  if (run.someNotAccepted) return run_result::kSomeRefused;
  return quitFailed ? run_result::kQuitFailed : run_result::kSent;
}

int SendJob::SendToRecipient(RunState& run, int index) {
  const RunInputs& in = run.inputs;
  PersonalProblem problem;
  const MailContent content = ComposeContent(
      in.record, in.bodyText, in.titleIn, results[static_cast<std::size_t>(index)].line,
      run.attachmentPaths, in.substitutionTime, in.extras, &problem);
  // Personalising and keeping the copy each go through the whole body: with
  // a large body the window is served between them.
  Platform& platform = CurrentPlatform();
  platform.Pump();
  if (!problem.text.empty()) return RefuseBeforeSending(run, index, problem);
  const std::string& name = content.recipientName;
  const std::string& address = content.recipientAddress;

  // The copy is only a record: a mail goes out even when its copy cannot
  // be written (full disk, read-only folder), and the log says so.
  const std::string archive =
      BuildArchiveName(settings_.GetProgramFolder(), in.bodyFilePath, run.start, index);
  const bool saved = SaveSentText(settings_.GetProgramFolder(), in.bodyFilePath, run.start, index,
                                  content.body) == 0;
  if (!saved) unsavedCopies.push_back(archive);
  platform.Pump();
  run.runLog += Sjis("  タイトル: ") + content.subject + "\r\n";
  run.runLog += Sjis("    送信先: ") + name + "<" + address + ">\r\n";
  run.runLog += Sjis("    保存文: ") + Utf8ToSjis(archive) +
                (saved ? "" : Sjis(" (保存できませんでした)")) + "\r\n";
  std::string& names = results[static_cast<std::size_t>(index)].attachments;
  for (std::size_t from = 0, end = content.attachmentList.find("\r\n"); end != std::string::npos;
       from = end + 2, end = content.attachmentList.find("\r\n", from)) {
    const std::string path = content.attachmentList.substr(from, end - from);
    run.runLog += Sjis("    添付　: ") + Utf8ToSjis(path) + "\r\n";
    // The result list names each recipient's own files when they differ.
    if (run.personalRows) {
      names += (names.empty() ? "" : "; ") + Zentool().ZenSplitPath(PathPart::NameExtension, path);
    }
  }

  const int attempts = run.policy.continueOnFailure ? 1 + run.policy.retries : 1;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    if (attempt > 1) {
      const int seconds = RetryWaitSeconds(run.policy, attempt);
      Emit({.kind = RunEventKind::Reconnecting,
            .mail = index,
            .attempt = attempt,
            .seconds = seconds});
      const std::string why =
          Sjis("一時的なエラーのため、") + std::to_string(attempt) + Sjis("回目の送信まで");
      if (!WaitSeconds(run, seconds, why)) return run_result::kStopped;
    }
    const int result = SendAttempt(run, index, content, attempt, attempt == attempts);
    if (result >= 0) return result;
  }
  return 0;
}

// One try of one mail: 0 when the run goes on with the next recipient, -1
// to try the mail again, else the run's result.
int SendJob::SendAttempt(RunState& run, int index, const MailContent& content, int attempt,
                         bool last) {
  MailConnection& mail = *run.connection;
  RecipientResult& result = results[static_cast<std::size_t>(index)];
  if (const int open = OpenAgain(run); open != 0) {
    if (!last && run.policy.continueOnFailure && OpeningMayRecover(open)) return -1;
    return run_result::kOpenFailed;
  }
  if (!WaitForLimits(run)) return run_result::kStopped;
  Emit({.kind = RunEventKind::MailStarted, .mail = index, .attempt = attempt});
  run.limiter->MailStarted(CurrentPlatform().Now());
  mail.SetSpeed(settings_.record.speed);
  mail.beforeEndOfData = [this, &run, index] {
    return !run.journal.IsOpen() || KeepJournal(run, run.journal.EndOfDataGoing(index));
  };
  const bool firstOnConnection = run.mailsOnConnection++ == 0;
  const int code = mail.SendOneMail(
      {content.subject, content.body, content.attachmentList, content.recipientName,
       content.recipientAddress, firstOnConnection ? 1 : 0, content.extra,
       EnvelopeRecipients(run.inputs.extras, content.recipientAddress, content.senderAddress)});
  mail.beforeEndOfData = nullptr;
  if (run.journalStuck) {
    // The journal could neither take this mail nor be removed: the mail was
    // not ended, and no further mail goes out unrecorded.
    result =
        RecipientResult{result.name, result.address, MailOutcome::NotSent, 0, {}, result.line, {}};
    sendDetails += mail.GetTranscript();
    return run_result::kJournalFailed;
  }
  RecordResult(result, mail, code);
  sendDetails += mail.GetTranscript();
  if (code != 0 && !mail.GetFailureReason().empty()) {
    sendDetails += "  " + mail.GetFailureReason() + "\r\n";
  }
  if (code == 0) {
    Emit({.kind = RunEventKind::MailSent, .mail = index, .reply = result.reply});
    mail.ResetProgress();
    return RecordOutcome(run, index) ? 0 : run_result::kJournalFailed;
  }
  const FailureKind kind =
      run.policy.continueOnFailure ? ClassifyFailure(FailedMailOf(mail, code)) : FailureKind::Run;
  if (kind == FailureKind::Temporary && !last) {
    Emit({.kind = RunEventKind::ConnectionLost,
          .mail = index,
          .code = result.code,
          .reply = result.reply});
    // Another try goes on a new connection: the old one may be the cause.
    if (mail.smtpOpen == 1) mail.SmtpQuit();
    return -1;
  }
  Emit({.kind = result.outcome == MailOutcome::InDoubt ? RunEventKind::MailInDoubt
                                                       : RunEventKind::MailRefused,
        .mail = index,
        .code = result.code,
        .reply = result.reply});
  if (!RecordOutcome(run, index)) return run_result::kJournalFailed;
  if (kind == FailureKind::Run) return run_result::kMailFailed + code;
  run.someNotAccepted = true;
  run.runLog += Sjis("    結果　: ") +
                Sjis(result.outcome == MailOutcome::InDoubt ? "不明(応答なし)" : "送信できません") +
                " RetCode=" + std::to_string(result.code) + " " + result.reply + "\r\n";
  // The refused transaction is still open on the server (RFC 5321 4.1.1.5).
  if (mail.smtpOpen == 1) mail.SmtpReset();
  mail.ResetProgress();
  return 0;
}

// A recipient whose own file is missing (or whose values cannot go into
// its file name or link) gets no mail: nothing of it is sent. With
// onRecipientFailure=continue the run goes on with the next recipient;
// otherwise it stops as a mail failing at that step does.
int SendJob::RefuseBeforeSending(RunState& run, int index, const PersonalProblem& problem) {
  RecipientResult& result = results[static_cast<std::size_t>(index)];
  result.outcome = MailOutcome::Refused;
  result.code = run_result::kMailFailed + problem.step;
  result.reply = problem.text;
  sendDetails +=
      Sjis("★To ") + result.name + "<" + result.address + ">\r\n  " + problem.text + "\r\n";
  run.runLog += Sjis("    送信先: ") + result.name + "<" + result.address + ">\r\n";
  run.runLog += Sjis("    結果　: 送信できません RetCode=") + std::to_string(result.code) + " " +
                problem.text + "\r\n";
  Emit({.kind = RunEventKind::MailRefused,
        .mail = index,
        .code = result.code,
        .reply = result.reply});
  if (!RecordOutcome(run, index)) return run_result::kJournalFailed;
  if (!run.policy.continueOnFailure) {
    run.connection->failureReason = problem.text;
    return result.code;
  }
  run.someNotAccepted = true;
  return 0;
}

// The journal knows the mail's outcome before the next mail starts. When
// it cannot, it is withdrawn (the run goes on as without one); only a
// journal that can neither be written nor removed stops the run.
bool SendJob::RecordOutcome(RunState& run, int index) {
  if (run.journalStuck) return false;
  if (!run.journal.IsOpen()) return true;
  return KeepJournal(run, run.journal.Outcome(index, results[static_cast<std::size_t>(index)]));
}

bool SendJob::KeepJournal(RunState& run, bool written) {
  if (written) return true;
  run.journalLost = true;
  if (run.journal.Withdraw()) {
    journalPath.clear();
    return true;
  }
  run.journalStuck = true;
  return false;
}

// A new connection when the last one was dropped or has carried its
// mailsPerConnection; 0, or the opening's code.
int SendJob::OpenAgain(RunState& run) {
  MailConnection& mail = *run.connection;
  const int perConnection = run.policy.mailsPerConnection;
  if (mail.smtpOpen == 1 && perConnection > 0 && run.mailsOnConnection >= perConnection) {
    mail.SmtpQuit();
  }
  if (mail.smtpOpen == 1) return 0;
  run.mailsOnConnection = 0;
  SetStatus(Sjis("SMTP(") + mail.GetServerText(4) + Sjis(")オープン処理中です"));
  return mail.SmtpOpen();
}

bool SendJob::WaitForLimits(RunState& run) {
  for (;;) {
    const LimitWait wait = run.limiter->WaitBefore(CurrentPlatform().Now());
    if (wait.seconds <= 0) return true;
    Emit({.kind = RunEventKind::WaitingForLimit, .seconds = wait.seconds, .reason = wait.setting});
    if (!WaitSeconds(run, wait.seconds, LimitText(wait) + Sjis("次の送信まで"))) return false;
  }
}

// Waits with the window alive and the status counting down; false when
// the stop button was pressed meanwhile.
bool SendJob::WaitSeconds(RunState& run, int seconds, const std::string& sjisWhy) {
  Platform& platform = CurrentPlatform();
  const std::time_t until = platform.Now() + seconds;
  std::time_t shown = -1;
  while (run.connection->stopRequested == 0) {
    const std::time_t now = platform.Now();
    if (now >= until) return true;
    if (now != shown) {
      shown = now;
      SetStatus(sjisWhy + Sjis("あと") + std::to_string(until - now) + Sjis("秒待ちます。"));
    }
    platform.Sleep(kWaitStepMs);
    platform.Pump();
  }
  return false;
}

}  // namespace velkaro
