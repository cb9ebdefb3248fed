// The SMTP dialogue of a send run: one connection, opened once (see
// smtp_open.cpp), one transaction per mail, QUIT at the end. No pipelining.
//
// Every command ends in CR LF: RFC 5321 2.3.8 forbids a bare LF, and strict
// servers (Postfix's smtp-sink among them) never answer a command ended by
// one.
//
// QUIT (RFC 5321 4.1.1.10) is only sent while the dialogue is in step, that
// is after every command got its whole line out and a reply back. A command
// that went out in part leaves half a line in the server's buffer, and
// "QUIT\r\n" would only complete it ("MAIL FRQUIT"); after a time-out the
// server may still answer the earlier command, and that late reply would be
// read as the answer to QUIT. Such a connection is dropped instead: the
// server discards an open transaction when the connection goes (RFC 5321
// 3.8), just as QUIT would have.
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/zentool.h"
#include "mail/mail_connection.h"

namespace velkaro {

// A command the server refuses leaves the transaction open without RSET;
// the driver ends the run with QUIT, which discards it (RFC 5321 4.1.1.10).
// A command sent in part or left unanswered drops the connection here, so
// the driver finds it closed and sends nothing more.
//
// One RCPT per envelope recipient, in order. Any refused one fails the
// mail before DATA, as a refused To always did: a mail whose Cc (or the
// sender's copy) cannot be delivered is reported, not sent short of it.
int MailConnection::SmtpSendEnvelope() {
  if (smtpOpen == 0) return 100;
  struct Step {
    std::string line;
    const char* expected;
    StepCodes codes;
    int envelopeStep;
  };
  // No space after the colon: RFC 5321 4.1.2 has none, and servers with
  // strict envelope checks refuse "MAIL FROM: <…>".
  std::vector<Step> steps{
      {"MAIL FROM:<" + FieldText(server.senderAddress) + ">\r\n", "250", {1, 2, 3}, 1}};
  const std::vector<std::string> recipients =
      envelopeRecipients.empty() ? std::vector<std::string>{recipientAddress} : envelopeRecipients;
  // 251 "user not local; will forward" accepts the recipient as 250 does
  // (RFC 5321 3.4, 4.2.2); a forwarding server would otherwise have its
  // recipient counted as refused.
  for (const std::string& address : recipients) {
    steps.push_back({"RCPT TO:<" + address + ">\r\n", "250|251", {11, 12, 13}, 2});
  }
  steps.push_back({"DATA\r\n", "354", {21, 22, 23}, 3});
  envelopeStep = 0;
  for (const Step& step : steps) {
    envelopeStep = step.envelopeStep;
    Zentool().Wait(50);
    const int code = Command(*smtpSocket, step.line, step.expected, step.codes, ReplyKind::Smtp);
    if (code != 0) {
      if (OutOfStep(code, step.codes)) SmtpAbandon();
      return code;
    }
  }
  return 0;
}

// RFC 5321 4.1.1.5: a refused recipient leaves the sender's MAIL open;
// RSET ends that transaction so the next mail can start on the same
// connection. A reset that fails drops the connection (out of step, or a
// server that will not reset), and the next mail opens a new one.
int MailConnection::SmtpReset() {
  if (smtpOpen == 0 || !smtpSocket) return 100;
  const StepCodes codes{1, 2, 3};
  const int code = Command(*smtpSocket, "RSET\r\n", "250", codes, ReplyKind::Smtp);
  if (code != 0) SmtpAbandon();
  return code;
}

// Only for content sent in full: the terminator asks the server to deliver
// what it got. Without any socket it cannot be sent at all. A refusal
// leaves the connection open for QUIT. A terminator sent in part, or one
// left unanswered, drops it: QUIT after part of the terminator would be
// read as mail content, and an unanswered one may yet be answered.
int MailConnection::SmtpEndData() {
  if (!smtpSocket) return 1;
  const StepCodes codes{1, 3, 2};
  // A server that hung up during the data (its own time-out) has thrown
  // the mail away. The terminator would still leave without an error (the
  // hang-up only shows on the next read), and the missing reply would
  // leave the mail in doubt though it certainly did not arrive.
  if (smtpSocket->HungUp()) {
    transcript +=
        Sjis("  メールを終える前にサーバーが接続を切りました(このメールは配信されません)。\r\n");
    endOfDataCode = codes.shortSend;
    SmtpAbandon();
    return codes.shortSend;
  }
  if (beforeEndOfData && !beforeEndOfData()) {
    transcript += Sjis(
        "  送信記録を書き込めないため、このメールを終えずに接続を切りました"
        "(このメールは配信されません)。\r\n");
    endOfDataCode = codes.shortSend;
    SmtpAbandon();
    return codes.shortSend;
  }
  const int code = Command(*smtpSocket, "\r\n.\r\n", "250", codes, ReplyKind::Smtp);
  endOfDataCode = code;
  if (OutOfStep(code, codes)) SmtpAbandon();
  return code;
}

// A content that failed half-way (or was stopped) must not be ended with
// the terminator, which would have the server deliver the truncated mail.
// Dropping the connection before the end of data makes the server discard
// the transaction (RFC 5321 3.8, 4.1.1.4). No QUIT: the server would read it
// as one more line of the mail. The same for a dialogue out of step (see
// the top of this file).
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
