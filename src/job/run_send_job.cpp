// The send run: checks, one SMTP connection, one personalised mail per
// recipient, then result, sound, status text and the run log.
#include <string>

#include "core/encoding.h"
#include "core/zentool.h"
#include "job/personalise.h"
#include "job/send_job.h"
#include "job/send_log.h"
#include "job/smtp_credentials.h"

namespace velkaro {

// Everything a run sends, copied when it starts: the form stays editable
// during a run, and its edits (a recipient removed, the body changed, an
// attachment added) apply to the next run instead of changing, skipping or
// repeating recipients of this one.
struct RunInputs {
  std::string bodyText;
  std::string bodyFilePath;
  std::string recipientLines;
  bool titleIn = false;
  SettingsRecord record;
};

struct SendJob::RunState {
  RunInputs inputs;
  std::time_t start = 0;
  std::string runLog;
  std::string errorText;
  std::string attachmentPaths;  // each followed by CR LF
  std::string attachmentLog;
  std::unique_ptr<MailConnection> connection;
};

int SendJob::RunSendJob() {
  if (activeConnection_ != nullptr) return -1;  // one run at a time
  PullFromView();
  unsavedCopies.clear();
  unwrittenLog.clear();
  failureReason.clear();
  RunState run;
  run.inputs = {bodyText, bodyFilePath, recipientLines, titleIn, settings_.record};
  StartResults(run.inputs.recipientLines);
  run.start = CurrentPlatform().Now();
  run.connection = std::make_unique<MailConnection>(this);
  run.connection->SetSpeed(settings_.record.speed);
  activeConnection_ = run.connection.get();
  run.runLog = Sjis("■") + Zentool().FormatDateTime(run.start, 15) + "\r\n";
  SetSendButton(Sjis("送信処理中"), false);

  const int count = Zentool().ZenCountLines(run.inputs.recipientLines);
  if (CheckJob(run) != 0) return FinishRun(run, run_result::kChecksFailed, count);

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
      const std::string path = AttachmentPath(i);
      run.attachmentPaths += path + "\r\n";
      run.attachmentLog += Sjis("    添付　: ") + Utf8ToSjis(path) + "\r\n";
    }
    return 0;
  }
  run.errorText += Sjis("\r\n送信処理をキャンセルします。\r\n");
  CurrentPlatform().MessageBox(run.errorText, MsgButtons::Ok, MsgIcon::Information);
  return 1;
}

int SendJob::SendToRecipients(RunState& run, int count) {
  Zentool z;
  MailConnection& mail = *run.connection;
  const RunInputs& in = run.inputs;
  for (int i = 0; i < count; ++i) {
    const MailContent content =
        ComposeContent(in.record, in.bodyText, in.titleIn, z.ZenGetLineCrLf(in.recipientLines, i),
                       run.attachmentPaths);
    const std::string& name = content.recipientName;
    const std::string& address = content.recipientAddress;
    SetStatus(" " + std::to_string(i + 1) + Sjis("通目: ") + name + "<" + address + ">");
    const std::string& subject = content.subject;
    const std::string& mailBody = content.body;

    // The copy is only a record: a mail goes out even when its copy cannot
    // be written (full disk, read-only folder), and the log says so.
    const std::string archive =
        BuildArchiveName(settings_.GetProgramFolder(), in.bodyFilePath, run.start, i);
    const bool saved =
        SaveSentText(settings_.GetProgramFolder(), in.bodyFilePath, run.start, i, mailBody) == 0;
    if (!saved) unsavedCopies.push_back(archive);
    mail.SetSpeed(settings_.record.speed);
    const std::string& attachmentList = content.attachmentList;
    run.runLog += Sjis("  タイトル: ") + subject + "\r\n";
    run.runLog += Sjis("    送信先: ") + name + "<" + address + ">\r\n";
    run.runLog += Sjis("    保存文: ") + Utf8ToSjis(archive) +
                  (saved ? "" : Sjis(" (保存できませんでした)")) + "\r\n";
    run.runLog += run.attachmentLog;

    const int code =
        mail.SendOneMail({subject, mailBody, attachmentList, name, address, i == 0 ? 1 : 0});
    RecordResult(results[static_cast<std::size_t>(i)], mail, code);
    sendDetails += mail.GetTranscript();
    if (code != 0) {
      if (!mail.GetFailureReason().empty()) sendDetails += "  " + mail.GetFailureReason() + "\r\n";
      return run_result::kMailFailed + code;
    }
    PlayEventSound(3);
    mail.ResetProgress();
  }
  if (autoQuit) z.Wait(300);
  return mail.SmtpQuit() != 0 ? run_result::kQuitFailed : run_result::kSent;
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
  if (result == run_result::kSent) {
    PlayEventSound(1);
    message = " " + std::to_string(count) + Sjis("通のメール送信を完了しました。");
  } else if (result == run_result::kChecksFailed) {
    message = Sjis("メール送信キャンセル RetCode=") + "1";
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
  return result;
}

void SendJob::StartResults(const std::string& lines) {
  Zentool z;
  results.clear();
  const int count = z.ZenCountLines(lines);
  for (int i = 0; i < count; ++i) {
    const std::string line = z.ZenGetLineCrLf(lines, i);
    RecipientResult r;
    r.name = z.ZenGetTabItem(line, 2);
    r.address = z.ZenGetTabItem(line, 3);
    results.push_back(std::move(r));
  }
}

// A mail whose end of data went out whole but got no reply may have been
// delivered: it is in doubt, never counted as refused (sending it again
// could give the recipient a second copy) nor as sent.
void SendJob::RecordResult(RecipientResult& result, const MailConnection& mail, int code) {
  constexpr int kPopStep = 5;
  constexpr int kEnvelopeStep = 6;
  constexpr int kEndOfDataStep = 11;
  constexpr int kNoReply = 3;
  // Only these steps end on a server's reply; the others fail before a
  // command or while data goes out, and the last reply is another step's.
  if (code == 0 || code == kPopStep || code == kEnvelopeStep || code == kEndOfDataStep) {
    result.reply = MailConnection::ReplyLine(mail.lastReply);
  }
  if (code == 0) {
    result.outcome = MailOutcome::Sent;
    return;
  }
  result.code = run_result::kMailFailed + code;
  result.outcome = code == kEndOfDataStep && mail.endOfDataCode == kNoReply ? MailOutcome::InDoubt
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
