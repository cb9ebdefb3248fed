// The SMTP dialogue of a send run: one connection, opened once, one
// transaction per mail, QUIT at the end. No AUTH, no TLS, no pipelining.
//
// Every command ends in CR LF: RFC 5321 2.3.8 forbids a bare LF, and strict
// servers (Postfix's smtp-sink among them) never answer a command ended by
// one.
#include <array>

#include "core/zentool.h"
#include "mail/mail_connection.h"

namespace velkaro {

int MailConnection::SmtpOpen() {
  if (smtpOpen == 1) return 100;
  const int opened = OpenSocket(smtpSocket, FieldText(server.smtpServer), server.smtpPort);
  if (opened != 0) return opened;

  // Only the code of the greeting matters; a server that greets with 554
  // will not take mail from us (RFC 5321 3.1).
  const int greeting = Command(*smtpSocket, "", "220", {0, 3, 4}, ReplyKind::Smtp);
  if (greeting != 0) {
    CloseSocket(smtpSocket);
    return greeting;
  }
  smtpOpen = 1;

  Zentool().Wait(50);
  // No HELO fallback: a server that refuses EHLO ends the run.
  const int ehlo = Command(*smtpSocket, "EHLO localhost\r\n", "250", {10, 11, 12}, ReplyKind::Smtp);
  if (ehlo != 0) {
    SmtpQuit();
    return ehlo;
  }
  return 0;
}

// A failure half-way leaves the transaction open without RSET; the driver
// ends the run with QUIT, which discards it (RFC 5321 4.1.1.10).
int MailConnection::SmtpSendEnvelope() {
  if (smtpOpen == 0) return 100;
  struct Step {
    std::string line;
    const char* expected;
    StepCodes codes;
  };
  const std::array<Step, 3> steps{{
      {"MAIL FROM: <" + FieldText(server.senderAddress) + ">\r\n", "250", {1, 2, 3}},
      {"RCPT TO: <" + recipientAddress + ">\r\n", "250", {11, 12, 13}},
      {"DATA\r\n", "354", {21, 22, 23}},
  }};
  for (const Step& step : steps) {
    Zentool().Wait(50);
    const int code = Command(*smtpSocket, step.line, step.expected, step.codes, ReplyKind::Smtp);
    if (code != 0) return code;
  }
  return 0;
}

// Only for content sent in full: the terminator asks the server to deliver
// what it got. Without any socket it cannot be sent at all.
int MailConnection::SmtpEndData() {
  if (!smtpSocket) return 1;
  return Command(*smtpSocket, "\r\n.\r\n", "250", {1, 3, 2}, ReplyKind::Smtp);
}

// A content that failed half-way (or was stopped) must not be ended with
// the terminator, which would have the server deliver the truncated mail.
// Dropping the connection before the end of data makes the server discard
// the transaction (RFC 5321 3.8, 4.1.1.4). No QUIT: the server would read it
// as one more line of the mail.
void MailConnection::SmtpAbandon() {
  CloseSocket(smtpSocket);
  smtpOpen = 0;
}

// Servers may do their delivery work before answering QUIT, hence the long
// patience; 250 is still seen from older servers where RFC 5321 says 221.
// The connection is given up whatever the answer.
int MailConnection::SmtpQuit() {
  if (smtpOpen == 0) return 100;
  const int code = smtpSocket ? Command(*smtpSocket, "QUIT\r\n", "250|221", {1, 3, 2},
                                        ReplyKind::Smtp, 3, kQuitPatience)
                              : 1;
  CloseSocket(smtpSocket);
  smtpOpen = 0;
  return code;
}

}  // namespace velkaro
