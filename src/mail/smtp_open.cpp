// Opening the SMTP connection of a run: connect, greeting, EHLO and, as
// the security settings ask, TLS and AUTH.
//
// TLS comes either from the first byte (implicit TLS, RFC 8314 3.3, port
// 465) or after STARTTLS (RFC 3207, port 587). When STARTTLS is asked for
// and the server does not offer it or refuses it, the run ends before any
// credential or mail is sent: a silent fall-back to plain text is exactly
// what an attacker who strips "250-STARTTLS" from the reply wants. What
// the server said before TLS is forgotten, and EHLO is sent again over the
// protected connection (RFC 3207 4.2).
//
// A step the server refuses ends the connection with QUIT; a step that
// left the dialogue out of step (sent in part, no reply) or a failed
// handshake drops it without a word, as the server can no longer read a
// plain QUIT correctly.
#include <string>

#include "core/encoding.h"
#include "core/zentool.h"
#include "mail/mail_connection.h"

namespace velkaro {
namespace {

const char* ProblemText(CertProblem problem) {
  switch (problem) {
    case CertProblem::Expired: return "期限切れ";
    case CertProblem::NotYetValid: return "有効期間の前";
    case CertProblem::WrongHost: return "サーバー名が一致しない";
    case CertProblem::UnknownIssuer: return "発行者が不明";
    case CertProblem::SelfSigned: return "自己署名";
    case CertProblem::Other:
    case CertProblem::None: break;
  }
  return "検証できない";
}

}  // namespace

int MailConnection::SmtpOpen() {
  if (smtpOpen == 1) return 100;
  failureReason.clear();
  const std::string host = FieldText(server.smtpServer);
  const int opened = OpenSocket(smtpSocket, host, server.smtpPort);
  if (opened != 0) {
    failureReason = Sjis("SMTPサーバー ") + host + ":" + std::to_string(server.smtpPort) +
                    Sjis(" に接続できません。");
    Report(Sjis("接続"), false, failureReason);
    return opened;
  }
  Report(Sjis("接続"), true, host + ":" + std::to_string(server.smtpPort));
  if (security.smtpSecurity == SmtpSecurity::Tls) {
    const int tls = Handshake(*smtpSocket, host, 5);
    if (tls != 0) {
      CloseSocket(smtpSocket);
      return tls;
    }
  }

  // Only the code of the greeting matters; a server that greets with 554
  // will not take mail from us (RFC 5321 3.1).
  const int greeting = Command(*smtpSocket, "", "220", {0, 3, 4}, ReplyKind::Smtp);
  Report(Sjis("グリーティング"), greeting == 0, ReplyLine(lastReply));
  if (greeting != 0) {
    CloseSocket(smtpSocket);
    return greeting;
  }
  smtpOpen = 1;

  Zentool().Wait(50);
  // No HELO fallback: a server that refuses EHLO ends the run.
  const StepCodes ehloCodes{10, 11, 12};
  int code = SmtpEhlo(ehloCodes);
  if (code != 0) return FailOpenStep(code, !OutOfStep(code, ehloCodes));
  if (security.smtpSecurity == SmtpSecurity::StartTls) {
    code = SmtpStartTls();
    if (code != 0) return code;
  }
  return SmtpAuthenticate();
}

int MailConnection::SmtpEhlo(const StepCodes& codes) {
  const std::string name =
      ChooseEhloName(security.heloName, CurrentPlatform().HostName(), smtpSocket->LocalAddress());
  if (!FitsOnCommandLine(name) || name.find(' ') != std::string::npos) {
    failureReason = Sjis("EHLOで名乗る名前に使えない文字があります。");
    Report("EHLO", false, failureReason);
    return codes.shortSend;
  }
  capabilities = {};
  const int code = Command(*smtpSocket, "EHLO " + name + "\r\n", "250", codes, ReplyKind::Smtp);
  if (code == 0) capabilities = ParseEhloReply(lastReply);
  Report("EHLO " + name, code == 0, ReplyLine(lastReply));
  return code;
}

int MailConnection::SmtpStartTls() {
  if (!capabilities.startTls) {
    failureReason = Sjis("サーバーがSTARTTLSに対応していません(暗号化せずには送信しません)。");
    Report("STARTTLS", false, failureReason);
    return FailOpenStep(30, true);
  }
  Zentool().Wait(50);
  const StepCodes codes{31, 32, 33};
  const int code = Command(*smtpSocket, "STARTTLS\r\n", "220", codes, ReplyKind::Smtp);
  Report("STARTTLS", code == 0, ReplyLine(lastReply));
  if (code != 0) return FailOpenStep(code, !OutOfStep(code, codes));
  if (SpokeOutOfTurn(*smtpSocket)) {
    failureReason = Sjis("STARTTLSの応答の後に余分なデータが届きました(応答の注入)。");
    Report("STARTTLS", false, failureReason);
    return FailOpenStep(34, false);
  }
  const int tls = Handshake(*smtpSocket, FieldText(server.smtpServer), 35);
  if (tls != 0) return FailOpenStep(tls, false);
  const StepCodes ehloCodes{37, 38, 39};
  const int ehlo = SmtpEhlo(ehloCodes);
  if (ehlo != 0) return FailOpenStep(ehlo, !OutOfStep(ehlo, ehloCodes));
  return 0;
}

bool MailConnection::SpokeOutOfTurn(StreamSocket& socket) const {
  if (replyTrailing_ > 0) return true;
  int readable = 0;
  return socket.ReadableBytes(readable) && readable > 0;
}

int MailConnection::Handshake(StreamSocket& socket, const std::string& host, int failedCode) {
  TlsRequest request;
  request.hostName = host;
  request.trustedFingerprint = security.trustedFingerprint;
  request.cancelled = [this] { return stopRequested != 0; };
  const TlsOutcome outcome = socket.StartTls(request);
  if (outcome.status == TlsOutcome::Ok) {
    Report("TLS", true, outcome.fingerprint.empty() ? "" : "SHA-256 " + outcome.fingerprint);
    return 0;
  }
  int code = failedCode;
  switch (outcome.status) {
    case TlsOutcome::Untrusted:
      code = failedCode + 1;
      failureReason = Sjis("サーバーの証明書を信頼できません(") +
                      Sjis(ProblemText(outcome.problem)) + Sjis(")。証明書のSHA-256: ") +
                      outcome.fingerprint;
      break;
    case TlsOutcome::Cancelled: failureReason = Sjis("TLS接続を中止しました。"); break;
    case TlsOutcome::NotSupported: failureReason = Sjis("この環境ではTLSを使えません。"); break;
    default: failureReason = Sjis("TLS接続に失敗しました: ") + ReplyLine(outcome.detail); break;
  }
  if (!outcome.detail.empty() && outcome.status == TlsOutcome::Untrusted) {
    failureReason += " (" + ReplyLine(outcome.detail) + ")";
  }
  Report("TLS", false, failureReason);
  return code;
}

int MailConnection::FailOpenStep(int code, bool inStep) {
  if (inStep) {
    const std::string reason = failureReason;
    SmtpQuit();
    failureReason = reason;
  } else {
    SmtpAbandon();
  }
  return code;
}

}  // namespace velkaro
