// POP before SMTP: providers that relay only for clients which logged in to
// their POP3 server a little earlier. Log in, ask STAT, log out; no mail is
// read. Commands end in CR LF (RFC 1939 3). With the security settings
// the connection is TLS from the first byte (port 995) or after STLS (RFC
// 2595 4); otherwise the password goes in clear text, as the old servers
// that still ask for POP before SMTP expect. Asked-for TLS that the server
// refuses ends the login before USER: no fall-back to plain text.
//
// QUIT is only sent while the dialogue is in step. After a command that went
// out in part, "QUIT\r\n" would complete the half line ("USEQUIT"), and
// after a time-out a late answer to the earlier command would be read as
// QUIT's. Such a connection is closed without a word; the server then ends
// the session without entering the UPDATE state (RFC 1939 6), which changes
// nothing here as no message was marked.
#include "core/encoding.h"
#include "core/zentool.h"
#include "mail/mail_connection.h"

namespace velkaro {

int MailConnection::PopLogin() {
  if (popOpen == 1) return 100;
  // User and password go into a command line verbatim; a line end in a
  // hand-edited settings file would send the rest as commands of its own.
  // Refused before connecting, with the code of the step that would carry
  // the text.
  if (!FitsOnCommandLine(FieldText(server.popUser))) {
    transcript += Sjis("  POP3ユーザー名に使えない文字(改行など)があります。\r\n");
    return 11;
  }
  if (!FitsOnCommandLine(FieldText(server.popPassword))) {
    transcript += Sjis("  POP3パスワードに使えない文字(改行など)があります。\r\n");
    return 21;
  }
  const std::string host = FieldText(server.popServer);
  const int opened = OpenSocket(popSocket, host, server.popPort);
  Report(Sjis("POP3 接続"), opened == 0, host + ":" + std::to_string(server.popPort));
  if (opened != 0) {
    failureReason = Sjis("POP3サーバー ") + host + ":" + std::to_string(server.popPort) +
                    Sjis(" に接続できません。");
    return opened;
  }
  if (security.popSecurity == PopSecurity::Tls) {
    const int tls = Handshake(*popSocket, host, 5);
    if (tls != 0) {
      CloseSocket(popSocket);
      return tls;
    }
  }

  const int greeting = Command(*popSocket, "", "+OK", {0, 4, 3}, ReplyKind::Pop3);
  Report(Sjis("POP3 グリーティング"), greeting == 0, ReplyLine(lastReply));
  if (greeting != 0) {
    CloseSocket(popSocket);
    return greeting;
  }
  popOpen = 1;
  if (security.popSecurity == PopSecurity::Stls) {
    const int stls = PopStls();
    if (stls != 0) return stls;
  }

  struct Step {
    std::string line;
    StepCodes codes;
  };
  const Step steps[] = {
      {"USER " + FieldText(server.popUser) + "\r\n", {11, 13, 12}},
      {"PASS " + FieldText(server.popPassword) + "\r\n", {21, 23, 22}},
  };
  for (const Step& step : steps) {
    Zentool().Wait(100);
    // Any reply at all goes to the "+OK" test here; one of one or two bytes
    // fails it as a wrong reply rather than as a missing one.
    const int code = Command(*popSocket, step.line, "+OK", step.codes, ReplyKind::Pop3, 1);
    Report(step.line.substr(0, 4), code == 0, ReplyLine(lastReply));
    if (code != 0) {
      if (OutOfStep(code, step.codes)) {
        PopAbandon();
      } else {
        PopQuit();
      }
      return code;
    }
  }
  return 0;
}

// RFC 2595 4: after +OK the client starts the handshake at once; anything
// the server sent behind the +OK would be taken as if it came over TLS.
int MailConnection::PopStls() {
  Zentool().Wait(10);
  const StepCodes codes{31, 32, 33};
  int code = Command(*popSocket, "STLS\r\n", "+OK", codes, ReplyKind::Pop3);
  Report("STLS", code == 0, ReplyLine(lastReply));
  if (code == 0 && SpokeOutOfTurn(*popSocket)) {
    failureReason = Sjis("STLSの応答の後に余分なデータが届きました(応答の注入)。");
    code = 34;
  }
  if (code == 0) code = Handshake(*popSocket, FieldText(server.popServer), 35);
  if (code == codes.wrongReply) {
    PopQuit();
  } else if (code != 0) {
    PopAbandon();
  }
  return code;
}

int MailConnection::PopQuit() {
  if (popOpen == 0) return 100;
  const int code =
      popSocket ? Command(*popSocket, "QUIT\r\n", "+OK", {1, 3, 2}, ReplyKind::Pop3) : 1;
  CloseSocket(popSocket);
  popOpen = 0;
  return code;
}

void MailConnection::PopAbandon() {
  CloseSocket(popSocket);
  popOpen = 0;
}

// Whatever happens, the POP3 connection is closed afterwards, so the mail
// transaction can count on `popOpen` being 0. A failed logout is reported in
// place of the STAT result; a STAT sent in part or unanswered gets no
// logout and keeps its own code.
int MailConnection::PopBeforeSmtp() {
  if (popOpen == 1) return 100;
  if (PopLogin() != 0) {
    if (popOpen == 1) PopQuit();
    return 1;
  }
  Zentool().Wait(10);
  const StepCodes codes{10, 11, 12};
  int code = Command(*popSocket, "STAT\r\n", "+OK", codes, ReplyKind::Pop3);
  if (OutOfStep(code, codes)) {
    PopAbandon();
    return code;
  }
  Zentool().Wait(50);
  if (PopQuit() != 0) code = 2;
  return code;
}

}  // namespace velkaro
