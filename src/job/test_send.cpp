// The test send: one recipient's mail, exactly as the run would compose it
// (text, character set, attachments, header fields, To naming the
// recipient), delivered only to the tester's address. It keeps no journal,
// no result list and no copy, so the next real run is what it would have
// been without it; the send log keeps it, marked as a test.
#include <string>

#include "core/encoding.h"
#include "core/zentool.h"
#include "data/velkaro_ini.h"
#include "job/personalise.h"
#include "job/send_job.h"
#include "job/send_log.h"
#include "job/shown_value.h"
#include "job/smtp_credentials.h"
#include "mail/mime_text.h"

namespace velkaro {
namespace {

constexpr const char* kTestMark = "[テスト] ";

}  // namespace

// Only what this one mail needs: another recipient's missing file or bad
// address does not keep a user from trying the mail of the first.
std::string SendJob::TestSendProblems(int index, const std::string& address) const {
  Zentool z;
  std::string errors;
  const int count = z.ZenCountLines(recipientLines);
  if (index < 0 || index >= count) {
    errors += Sjis("テスト送信する送信先( ") + std::to_string(index + 1) +
              Sjis("件目)がありません(送信先は ") + std::to_string(count) + Sjis(" 件です)。\r\n");
  }
  if (address.empty()) errors += Sjis("テスト送信の宛先がありません。\r\n");
  // Typed by hand: held to what an address may be, not only to what
  // cannot inject, so a typing slip is caught before the connection.
  Mailbox typed;
  const bool plainAddress = ParseMailbox(address, typed) == MailboxFault::None &&
                            typed.name.empty() && typed.address == address;
  if (!address.empty() &&
      (!plainAddress || mime::CheckAddress(address) != mime::AddressFault::None)) {
    errors +=
        Sjis("テスト送信の宛先( ") + ShownValue(address) + Sjis(" )に使えない文字があります。\r\n");
  }
  if (bodyText.empty()) errors += Sjis("送信本文がありません。\r\n");
  for (std::size_t i = 0; i < attachments.size(); ++i) {
    if (!IsPersonalAttachment(i) && z.ZenGetFileSize(AttachmentPath(i)) < 1) {
      errors +=
          Sjis("添付ファイル( ") + Utf8ToSjis(attachments[i].name) + Sjis(" )を開けません。\r\n");
    }
  }
  if (mime::CheckAddress(FieldText(settings_.record.server.senderAddress)) !=
      mime::AddressFault::None) {
    errors += Sjis("差出人のメールアドレスに使えない文字があります。\r\n");
  }
  errors += MailExtrasProblems(MailExtrasOf(settings_.ini));
  if (errors.empty()) {
    const std::string problem = PersonalProblemOf(index);
    if (!problem.empty()) errors += problem + "\r\n";
  }
  return errors;
}

int SendJob::RunTestSend(int index, const std::string& address) {
  if (activeConnection_ != nullptr) return -1;
  PullFromView();
  failureReason.clear();
  if (const std::string errors = TestSendProblems(index, address); !errors.empty()) {
    CurrentPlatform().MessageBox(errors + Sjis("\r\nテスト送信をキャンセルします。\r\n"),
                                 MsgButtons::Ok, MsgIcon::Information);
    return run_result::kChecksFailed;
  }
  MailContent content = MailContentOf(index);
  content.subject = Sjis(kTestMark) + content.subject;

  auto connection = std::make_unique<MailConnection>(this);
  MailConnection& mail = *connection;
  activeConnection_ = connection.get();
  SetSendButton(Sjis("送信処理中"), false);
  const std::time_t start = CurrentPlatform().Now();
  std::string log = Sjis("■") + Zentool().FormatDateTime(start, 15) + Sjis(" テスト送信\r\n");
  log += Sjis("  タイトル: ") + content.subject + "\r\n";
  log += Sjis("    送信先: ") + content.recipientName + "<" + content.recipientAddress + ">" +
         Sjis(" (テスト宛先: ") + address + ")\r\n";

  const ServerSettings server = ServerBlock(settings_.record);
  mail.SetServerSettings(server);
  mail.SetSecuritySettings(SecurityForRun(settings_.ini, server));
  mail.charsetSetting = CharsetSettingOf(settings_.ini);
  mail.SetSpeed(settings_.record.speed);
  SetStatus(Sjis("SMTP(") + mail.GetServerText(4) + Sjis(")オープン処理中です"));
  if (mail.SmtpOpen() != 0)
    return FinishTestSend(mail, start, log, run_result::kOpenFailed, address);
  CurrentPlatform().StartTimer(this, kProgressTimerId, kProgressPeriodMs);
  SetStatus(Sjis("テスト送信中: ") + address);
  // Only the tester gets it: no Cc, no copy to the sender.
  const int code = mail.SendOneMail({content.subject,
                                     content.body,
                                     content.attachmentList,
                                     content.recipientName,
                                     content.recipientAddress,
                                     1,
                                     content.extra,
                                     {address}});
  sendDetails = mail.GetTranscript();
  const int result = code == 0 ? run_result::kSent : run_result::kMailFailed + code;
  return FinishTestSend(mail, start, log, result, address);
}

int SendJob::FinishTestSend(MailConnection& mail, std::time_t start, std::string log, int result,
                            const std::string& address) {
  failureReason = mail.GetFailureReason();
  if (mail.smtpOpen == 1 && mail.SmtpQuit() != 0 && result == run_result::kSent) {
    result = run_result::kQuitFailed;
  }
  std::string message;
  if (result == run_result::kSent) {
    message = Sjis("テスト送信を完了しました(宛先: ") + address + ")";
  } else {
    message = Sjis("テスト送信でエラー検出 RetCode=") + std::to_string(result);
    if (!failureReason.empty()) message += " " + failureReason;
  }
  log += "  ... " + message + "\r\n\r\n";
  SetStatus(message);
  unwrittenLog.clear();
  if (WriteSendLog(settings_.GetProgramFolder(), start, log) != 0) {
    unwrittenLog = BuildLogName(settings_.GetProgramFolder(), start);
    SetStatus(message + Sjis(" 送信ログを書き込めませんでした。"));
  }
  activeConnection_ = nullptr;
  CurrentPlatform().StopTimer(this, kProgressTimerId);
  CurrentPlatform().StopTimer(this, MailConnection::kReplyTimerId);
  SetSendButton(Sjis("送信"), true);
  return result;
}

}  // namespace velkaro
