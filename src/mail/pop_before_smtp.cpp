// POP before SMTP: providers that relay only for clients which logged in to
// their POP3 server a little earlier. Log in, ask STAT, log out; no mail is
// read. Commands end in CR LF (RFC 1939 3). The password goes in clear
// text: there is no APOP and no TLS.
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
  const int opened = OpenSocket(popSocket, FieldText(server.popServer), server.popPort);
  if (opened != 0) return opened;

  const int greeting = Command(*popSocket, "", "+OK", {0, 4, 3}, ReplyKind::Pop3);
  if (greeting != 0) {
    CloseSocket(popSocket);
    return greeting;
  }
  popOpen = 1;

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
