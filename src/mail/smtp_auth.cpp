// SMTP AUTH (RFC 4954) after TLS: PLAIN (RFC 4616) with the initial
// response, LOGIN (the old two-challenge form many servers still offer)
// and XOAUTH2 (the bearer-token form of Gmail and Microsoft 365).
//
// Credentials are only sent over TLS, or to a server on this host (the
// bytes never leave the machine), or when the user allowed it for a
// provider that still takes AUTH on plain 587. They go out Base64-encoded
// inside command lines, so a line end in a password cannot inject a
// command; they never reach the transcript, the failure reason or a step
// report.
#include <string>

#include "core/encoding.h"
#include "core/zentool.h"
#include "mail/mail_connection.h"

namespace velkaro {
namespace {

std::string Base64(const std::string& bytes) {
  return Zentool().ZenBase64Encode(bytes);
}

// The mechanism the settings ask for, or empty when the server offers
// none of those Velkaro has. "auto" takes PLAIN before LOGIN: both carry
// the password as it is, and PLAIN needs one round trip fewer. XOAUTH2
// wants a token instead of a password, so it is never picked by itself.
std::string ChooseMechanism(SmtpAuthMode mode, const SmtpCapabilities& caps) {
  switch (mode) {
    case SmtpAuthMode::Plain: return "PLAIN";
    case SmtpAuthMode::Login: return "LOGIN";
    case SmtpAuthMode::XOAuth2: return "XOAUTH2";
    case SmtpAuthMode::Auto:
      if (caps.OffersAuth("PLAIN")) return "PLAIN";
      if (caps.OffersAuth("LOGIN")) return "LOGIN";
      return {};
    case SmtpAuthMode::None: break;
  }
  return {};
}

}  // namespace

int MailConnection::SmtpAuthenticate() {
  if (security.smtpAuth == SmtpAuthMode::None) return 0;
  if (!smtpSocket->TlsActive() && !smtpSocket->PeerIsLoopback() && !security.allowInsecureAuth) {
    failureReason = Sjis(
        "暗号化されていない接続ではパスワードを送りません(SSL/TLSかSTARTTLSを設定してください)。");
    Report("AUTH", false, failureReason);
    return FailOpenStep(40, true);
  }
  const std::string mechanism = ChooseMechanism(security.smtpAuth, capabilities);
  if (mechanism.empty()) {
    failureReason = Sjis("サーバーが対応している認証方式(PLAIN, LOGIN)がありません。");
    Report("AUTH", false, failureReason);
    return FailOpenStep(41, true);
  }
  if (security.smtpSecret.empty()) {
    failureReason = Sjis("SMTP認証のパスワード(またはトークン)がありません。");
    Report("AUTH " + mechanism, false, failureReason);
    return FailOpenStep(42, true);
  }
  Zentool().Wait(50);
  const int code = SmtpAuthExchange(mechanism);
  Report("AUTH " + mechanism, code == 0, ReplyLine(lastReply));
  if (code != 0) {
    const StepCodes codes{43, 44, 45};
    return FailOpenStep(code, !OutOfStep(code, codes));
  }
  return 0;
}

// One exchange per mechanism; every refusal keeps the server's reply as the
// reason (535 5.7.8 and the like tell the user what is wrong).
int MailConnection::SmtpAuthExchange(const std::string& mechanism) {
  const StepCodes codes{43, 44, 45};
  const std::string& user = security.smtpUser;
  const std::string& secret = security.smtpSecret;
  if (mechanism == "LOGIN") {
    int code = Command(*smtpSocket, "AUTH LOGIN\r\n", "334", codes, ReplyKind::Smtp);
    if (code == 0)
      code = Command(*smtpSocket, Base64(user) + "\r\n", "334", codes, ReplyKind::Smtp);
    if (code == 0)
      code = Command(*smtpSocket, Base64(secret) + "\r\n", "235", codes, ReplyKind::Smtp);
    return code;
  }
  if (mechanism == "XOAUTH2") {
    const std::string response = "user=" + user + "\x01" + "auth=Bearer " + secret + "\x01\x01";
    const int code = Command(*smtpSocket, "AUTH XOAUTH2 " + Base64(response) + "\r\n", "235", codes,
                             ReplyKind::Smtp);
    // A refused token is answered 334 with a JSON status; the client ends
    // the exchange with an empty line and gets the final refusal.
    if (code == codes.wrongReply && lastReply.compare(0, 3, "334") == 0) {
      const int final = Command(*smtpSocket, "\r\n", "235", codes, ReplyKind::Smtp);
      return final == 0 ? codes.wrongReply : final;
    }
    return code;
  }
  const std::string response = std::string(1, '\0') + user + std::string(1, '\0') + secret;
  return Command(*smtpSocket, "AUTH " + mechanism + " " + Base64(response) + "\r\n", "235", codes,
                 ReplyKind::Smtp);
}

}  // namespace velkaro
