// The send run: checks, one SMTP connection, one personalised mail per
// recipient, then result, sound, status text and the run log.
#include <string>

#include "core/encoding.h"
#include "core/zentool.h"
#include "job/personalise.h"
#include "job/run_state.h"
#include "job/send_job.h"
#include "job/send_log.h"
#include "job/smtp_credentials.h"

namespace velkaro {

int SendJob::RunSendJob() {
  if (activeConnection_ != nullptr) return -1;  // one run at a time
  PullFromView();
  unsavedCopies.clear();
  unwrittenLog.clear();
  failureReason.clear();
  RunState run;
  run.inputs = {bodyText,
                bodyFilePath,
                recipientLines,
                titleIn,
                substitutionTime,
                settings_.record,
                MailExtrasOf(settings_.ini)};
  run.policy = RunPolicyOf(settings_.ini);
  run.limiter = std::make_unique<SendRateLimiter>(run.policy);
  StartResults(run.inputs.recipientLines);
  journalPath.clear();
  run.start = CurrentPlatform().Now();
  run.connection = std::make_unique<MailConnection>(this);
  run.connection->SetSpeed(settings_.record.speed);
  activeConnection_ = run.connection.get();
  run.runLog = Sjis("■") + Zentool().FormatDateTime(run.start, 15) + "\r\n";
  SetSendButton(Sjis("送信処理中"), false);
  // Taking a large body from the form has kept the window waiting; now
  // that a second run is refused, let it draw before the checks and the
  // journal go through the body again.
  CurrentPlatform().Pump();

  const int count = Zentool().ZenCountLines(run.inputs.recipientLines);
  Emit({.kind = RunEventKind::RunStarted, .count = count});
  if (CheckJob(run) != 0) return FinishRun(run, run_result::kChecksFailed, count);
  StartJournal(run);

  MailConnection& mail = *run.connection;
  const std::string progressSound = ChooseSoundFile(4);
  if (progressSound.empty()) {
    mail.ClearProgressSound();
  } else {
    mail.SetProgressSound(progressSound);
  }
  mail.SetServerSettings(ServerBlock(run.inputs.record));
  mail.SetSecuritySettings(SecurityForRun(settings_.ini, ServerBlock(run.inputs.record)));
  mail.charsetSetting = CharsetSettingOf(settings_.ini);
  SetStatus(Sjis("SMTP(") + mail.GetServerText(4) + Sjis(")オープン処理中です"));
  if (mail.SmtpOpen() != 0) return FinishRun(run, run_result::kOpenFailed, count);

  mail.ResetProgress();
  CurrentPlatform().StartTimer(this, kProgressTimerId, kProgressPeriodMs);
  sendDetails.clear();
  return FinishRun(run, SendToRecipients(run, count), count);
}

int SendJob::CheckJob(RunState& run) {
  run.errorText = CheckProblems();
  if (run.errorText.empty()) {
    for (std::size_t i = 0; i < attachments.size(); ++i) {
      run.attachmentPaths += AttachmentPath(i) + "\r\n";
      run.personalRows = run.personalRows || IsPersonalAttachment(i);
    }
    return 0;
  }
  run.errorText += Sjis("\r\n送信処理をキャンセルします。\r\n");
  CurrentPlatform().MessageBox(run.errorText, MsgButtons::Ok, MsgIcon::Information);
  return run_result::kChecksFailed;
}

// A failed run whose SMTP connection is still open ends it with QUIT; 90
// when that QUIT fails too. A connection left out of step (a command sent in
// part, a server that hung up or fell silent) was already dropped by the
// dialogue, so the run keeps the failing step's code rather than the QUIT's.
int SendJob::FinishRun(RunState& run, int result, int count) {
  Zentool z;
  MailConnection& mail = *run.connection;
  std::string message;
  if (mail.smtpOpen == 1 && mail.SmtpQuit() != 0) {
    result = run_result::kQuitAfterFailure;
  }
  if (run.journal.IsOpen() && !run.journal.Finished(result)) run.journalLost = true;
  Emit({.kind = RunEventKind::RunEnded, .code = result});
  if (result == run_result::kSent) {
    PlayEventSound(1);
    message = " " + std::to_string(count) + Sjis("通のメール送信を完了しました。");
  } else if (result == run_result::kChecksFailed) {
    message = Sjis("メール送信キャンセル RetCode=") + std::to_string(result);
  } else if (result == run_result::kSomeRefused) {
    PlayEventSound(2);
    message = " " + std::to_string(count) + Sjis("通のうち") + std::to_string(RefusedCount()) +
              Sjis("通を送信できませんでした RetCode=") + std::to_string(result) +
              Sjis(" (結果一覧をご覧ください)");
  } else {
    PlayEventSound(2);
    message = Sjis("メール送信でエラー検出 RetCode=") + std::to_string(result);
    // The server's refusal or the TLS/login problem, so that the user
    // learns why and not only which step.
    failureReason = mail.GetFailureReason();
    if (!failureReason.empty()) message += " " + failureReason;
  }
  if (!unsavedCopies.empty()) {
    message += Sjis(" 送信文の控え") + std::to_string(unsavedCopies.size()) +
               Sjis("通を保存できませんでした。");
  }
  if (run.journalLost) message += Sjis(" 送信記録(ジャーナル)を残せませんでした。");
  resultCsvPath.clear();
  if (!results.empty()) {
    if (WriteResultCsv(settings_.GetProgramFolder(), run.start, results) == 0) {
      resultCsvPath = BuildResultCsvName(settings_.GetProgramFolder(), run.start);
    } else {
      message += Sjis(" 結果一覧を書き込めませんでした。");
    }
  }
  SetStatus(message);
  run.runLog += "  ... " + message + "\r\n\r\n";
  if (WriteSendLog(settings_.GetProgramFolder(), run.start, run.runLog) != 0) {
    // The result stays what the server said; only the record is missing.
    unwrittenLog = BuildLogName(settings_.GetProgramFolder(), run.start);
    SetStatus(message + Sjis(" 送信ログを書き込めませんでした。"));
  }

  if (!autoQuit) {
    SetSendButton(Sjis("送信"), true);
  } else if (result == run_result::kSent) {
    SetSendButton(Sjis("終了処理中"), false);
    SetStatus(Sjis("プログラムを終了します(自動終了)。しばらくお待ちください。"));
    z.Wait(200);
    CurrentPlatform().PostCommand(kCommandExit);
  }
  activeConnection_ = nullptr;
  CurrentPlatform().StopTimer(this, kProgressTimerId);
  CurrentPlatform().StopTimer(this, MailConnection::kReplyTimerId);
  // The view learns that no run is active any more (what it enables).
  NotifyChanged();
  return result;
}

// The journal goes to the disk before any connection. One that cannot be
// written is not kept at all (the mails still go out, as with the log):
// a journal with mails missing would have a resumed run send them twice.
void SendJob::StartJournal(RunState& run) {
  Zentool z;
  JournalHeader header;
  header.start = run.start;
  header.bodyFilePath = run.inputs.bodyFilePath;
  header.bodySha256 = Sha256Hex(run.inputs.bodyText);
  header.titleIn = run.inputs.titleIn;
  for (int i = 0; i < z.ZenCountLines(run.attachmentPaths); ++i) {
    const std::string path = z.ZenGetLine(run.attachmentPaths, i);
    header.attachments.push_back(
        {path, z.ZenGetFileSize(path), FileSha256Hex(path).value_or(std::string())});
  }
  for (const RecipientResult& r : results) header.recipientLines.push_back(r.line);
  if (run.journal.Open(settings_.GetProgramFolder(), header)) {
    journalPath = run.journal.Path();
  } else {
    run.journalLost = true;
  }
  // Marked before any mail goes out: taking up the earlier run again would
  // send this run's mails a second time.
  if (!resumesJournal.empty()) {
    MarkJournal(resumesJournal, "resumed\t" + (journalPath.empty() ? "-" : journalPath));
  }
}

int SendJob::RefusedCount() const {
  int refused = 0;
  for (const RecipientResult& r : results) {
    if (r.outcome == MailOutcome::Refused || r.outcome == MailOutcome::InDoubt) ++refused;
  }
  return refused;
}

// The window's status text and sounds of a mail are made from its events,
// as any other front end's display is.
void SendJob::Emit(const RunEvent& event) {
  if (onRunEvent) onRunEvent(event);
  if (event.kind == RunEventKind::MailStarted) {
    const RecipientResult& r = results[static_cast<std::size_t>(event.mail)];
    SetStatus(" " + std::to_string(event.mail + 1) + Sjis("通目: ") + r.name + "<" + r.address +
              ">");
  } else if (event.kind == RunEventKind::MailSent) {
    PlayEventSound(3);
  }
}

void SendJob::StartResults(const std::string& lines) {
  Zentool z;
  results.clear();
  // One pass over the list: a lookup by number for each line would make a
  // run of thousands of recipients quadratic.
  for (std::size_t from = 0, end = lines.find("\r\n"); end != std::string::npos;
       from = end + 2, end = lines.find("\r\n", from)) {
    const std::string line = lines.substr(from, end + 2 - from);
    RecipientResult r;
    r.name = z.ZenGetTabItem(line, 2);
    r.address = z.ZenGetTabItem(line, 3);
    r.line = line;
    results.push_back(std::move(r));
  }
}

// A mail whose end of data went out whole but got no reply may have been
// delivered: it is in doubt, never counted as refused (sending it again
// could give the recipient a second copy) nor as sent.
void SendJob::RecordResult(RecipientResult& result, const MailConnection& mail, int code) {
  // Only these steps end on a server's reply; the others fail before a
  // command or while data goes out, and the last reply is another step's.
  // Each try of a mail starts afresh: a retry that got through is sent.
  result.code = 0;
  result.reply.clear();
  if (code == 0 || code == mail_step::kPopBeforeSmtp || code == mail_step::kEnvelope ||
      code == mail_step::kEndOfData) {
    result.reply = MailConnection::ReplyLine(mail.lastReply);
  }
  if (code == 0) {
    result.outcome = MailOutcome::Sent;
    return;
  }
  result.code = run_result::kMailFailed + code;
  result.outcome =
      code == mail_step::kEndOfData && mail.endOfDataCode == mail_step::kEndOfDataNoReply
          ? MailOutcome::InDoubt
          : MailOutcome::Refused;
}

std::string SendJob::ChooseSoundFile(int event) const {
  const SettingsRecord& r = settings_.record;
  if (event < 1 || event > 4 || r.soundOn[event - 1] != 1) return {};
  Zentool z;
  const std::string chosen = FieldText(r.soundPath[event - 1]);
  if (!chosen.empty() && z.ZenGetFileSize(chosen) > 0) return chosen;
  return z.ZenJoinPath(settings_.GetProgramFolder(), FieldText(r.soundDefaultName[event - 1]));
}

void SendJob::PlayEventSound(int event) const {
  const std::string file = ChooseSoundFile(event);
  if (!file.empty()) CurrentPlatform().PlayWave(file);
}

}  // namespace velkaro
