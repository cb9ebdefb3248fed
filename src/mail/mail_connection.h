// The mail transport for one send run: server settings, the mail in
// progress, the SMTP and POP3 connections, the per-mail transcript, the
// pacing parameter and the progress record the main form polls.
//
// Everything runs on the user-interface thread. Every wait sleeps in 1 ms
// steps and pumps events, so timers fire and the stop button works while a
// mail goes out. Handlers that run inside those pumps talk to a running
// transfer only through `replyWaiting` (the reply time-out) and `speed` (the
// stop request).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/server_settings.h"
#include "mail/message_writer.h"
#include "mail/security_settings.h"
#include "mail/smtp_capabilities.h"
#include "platform/platform.h"
#include "platform/stream_socket.h"

namespace velkaro {

// What the main form shows while a mail is sent; copied as a whole.
struct ProgressRecord {
  std::int32_t sendingData = 0;          // 1 while a text is being transmitted
  std::int32_t attachmentIndex = 0;      // 0 body, n (1-based) attachment n
  std::int32_t dataSize = 0;             // bytes of the text being transmitted
  std::int32_t dataSent = 0;             // bytes of it handed over so far
  std::int32_t popDone = 0;              // POP before SMTP succeeded for this mail
  std::array<std::int32_t, 20> stage{};  // stages 0..8 are used
};
static_assert(sizeof(ProgressRecord) == 25 * 4);

// One mail for one recipient.
struct MailRecord {
  std::string subject;
  std::string body;
  std::string attachmentList;  // paths, each followed by CR LF
  std::string recipientName;
  std::string recipientAddress;
  std::int32_t popBeforeSmtp = 0;  // 1: log in to the POP3 server first
  ExtraHeaders extra;
  // The RCPT TO addresses in order; empty: the recipient's address alone.
  // A test send names only the tester here while To shows the recipient.
  std::vector<std::string> envelopeRecipients;
};

// How `ReadReply` knows that a reply is complete.
enum class ReplyKind {
  Smtp,  // the line whose code is followed by a space or the line end
  Pop3,  // the first line ended by CR LF
};

class MailConnection {
 public:
  // Replies are kept up to this many bytes (a 1025-byte buffer with its
  // terminator); a longer reply is still read to its end.
  static constexpr int kReplyCapacity = 1025;
  // Patience of a reply: 200 gives 20 s with a timer window; QUIT after a
  // run gets 300 s because servers may do their delivery work then.
  static constexpr int kPatience = 200;
  static constexpr int kQuitPatience = 3000;
  // The reply time-out timer started on `timerWindow`.
  static constexpr int kReplyTimerId = 220;
  // The multipart boundary of every mail (RFC 2046 5.1.1): "_" is no Base64
  // character, so no attachment line can contain it.
  static constexpr const char* kBoundary = "------_4A169B1D000000004107_MULTIPART_MIXED_";

  explicit MailConnection(TimerTarget* timerWindow = nullptr);
  virtual ~MailConnection();
  MailConnection(const MailConnection&) = delete;
  MailConnection& operator=(const MailConnection&) = delete;

  // --- small operations ---
  void SetServerSettings(const ServerSettings& settings) { server = settings; }
  void SetSecuritySettings(const SecuritySettings& settings) { security = settings; }
  // Why the last failed step failed, for the user (Shift_JIS): the server's
  // reply line when it refused, or what went wrong with TLS or the login.
  // Empty when the step failed without a word (no reply, connection lost)
  // and after a success. Never holds a password or token.
  std::string GetFailureReason() const { return failureReason; }
  // 1 popServer, 2 popUser, 3 popPassword, 4 smtpServer, 5 senderName,
  // 6 senderAddress; empty for anything else.
  std::string GetServerText(int which) const;
  void SetSpeed(int n);
  void RequestStop();
  std::string GetTranscript() const { return transcript; }
  void ResetProgress();
  ProgressRecord GetProgress() const { return progress; }
  // 0 set; 1 missing or empty file; 2 no extension; 3 neither wav nor mid.
  int SetProgressSound(const std::string& path);
  void ClearProgressSound();
  int GetVersionPart(int i) const;
  void ClearMailFields();

  // --- replies ---
  // Waits for the next whole reply on `socket` and stores it (at most
  // kReplyCapacity - 1 bytes) in `reply`. Returns the bytes received (>= 1),
  // 0 on time-out with nothing received, -1 when the socket cannot be
  // queried. A time-out in the middle of a reply returns what arrived.
  int ReadReply(StreamSocket& socket, std::string& reply, int patience, ReplyKind kind);

  // --- SMTP dialogue ---
  // Connects, takes the greeting and sends EHLO; with the security
  // settings also TLS (implicit or STARTTLS, then EHLO again) and AUTH.
  // 0, or the code of the failed step:
  //    1  creating the socket failed
  //    2  connecting failed (every address of the name was tried)
  //    3  no greeting
  //    4  the greeting was not 220
  //    5  implicit TLS: the handshake failed (or the stop request ended it)
  //    6  implicit TLS: the certificate is not trusted
  //   10 / 11 / 12  EHLO not sent in full / no reply / not 250
  //   30  STARTTLS asked for but not offered by the server
  //   31 / 32 / 33  STARTTLS not sent in full / no reply / not 220
  //   34  bytes arrived after the 220 to STARTTLS, before the handshake
  //   35  STARTTLS: the handshake failed (or the stop request ended it)
  //   36  STARTTLS: the certificate is not trusted
  //   37 / 38 / 39  EHLO after TLS not sent in full / no reply / not 250
  //   40  AUTH refused here: no TLS and the server is not on this host
  //   41  AUTH: no mechanism of the server's list that Velkaro has
  //   42  AUTH: no password or token was found
  //   43 / 44 / 45  AUTH not sent in full / no reply / refused
  //  100  already open
  // `GetFailureReason` tells why in words.
  int SmtpOpen();
  int SmtpSendEnvelope();
  int SmtpEndData();
  int SmtpQuit();
  // RSET after a refused mail: 0, or 1 / 2 / 3 not sent in full / no reply /
  // not 250 (then the connection is dropped), 100 not open.
  int SmtpReset();
  // Hangs up without a word: in the middle of a mail's data, so that the
  // server discards the transaction instead of delivering a mail cut short,
  // and after a command that left the dialogue out of step.
  void SmtpAbandon();

  // --- POP before SMTP ---
  // Connects (with TLS from the first byte or after STLS, as set), takes
  // the greeting, USER and PASS. 0, or: 1 socket, 2 connect, 3 / 4 no or
  // wrong greeting, 5 / 6 implicit TLS handshake failed / certificate not
  // trusted, 11 / 12 / 13 USER, 21 / 22 / 23 PASS, 31 / 32 / 33 STLS not
  // sent in full / no reply / not +OK, 34 bytes after the +OK to STLS,
  // 35 / 36 STLS handshake failed / certificate not trusted, 100 already
  // open.
  int PopLogin();
  int PopQuit();
  int PopBeforeSmtp();

  // --- paced transmission (mode 0 body text, 1 Base64 attachment) ---
  int SmtpStringSend2(int mode, const std::string& text);

  // --- composition ---
  int SmtpHeaderSend(int multipart);
  int SmtpBodySend();
  int SmtpPartHeadSend(const std::string& partHeader);
  int SmtpAttachSend(int index, const std::string& attachmentList);
  int SmtpLastBoundarySend();
  std::string AttachHeaderGet(int index, const std::string& attachmentList);
  std::string AttachHeaderMake(const std::string& path);
  // The writer of the mail in the fields, in `mailCharset`.
  MessageWriter Writer() const;

  // --- one mail ---
  int SendOneMail(MailRecord record);

  // A reply's first line with anything but printable ASCII replaced by
  // '?', for the user.
  static std::string ReplyLine(const std::string& reply);

  // --- observing the opening steps ---
  // Called after each step of opening the SMTP or POP3 connection with the
  // step's name, its outcome and the server's words or the reason (all
  // Shift_JIS; never a password). The server check shows them as they come.
  std::function<void(const std::string& step, bool ok, const std::string& detail)> onStep;

  // --- fields (public: the form polls and the run's handlers set them) ---
  std::int32_t speed = 5;
  std::int32_t replyWaiting = 0;
  TimerTarget* timerWindow = nullptr;
  std::string subject;
  std::string body;
  std::string attachmentList;
  std::string recipientName;
  std::string recipientAddress;
  // The header fields the user's settings add, and the RCPT TO addresses
  // (empty: recipientAddress alone), as MailRecord's; SendOneMail copies
  // them from its record.
  ExtraHeaders extra;
  std::vector<std::string> envelopeRecipients;
  // The `charset` setting, and the character set SendOneMail chose with it
  // for the mail in the fields.
  CharsetSetting charsetSetting = CharsetSetting::Auto;
  mime::Charset mailCharset = mime::Charset::IsoJp;
  std::int32_t smtpOpen = 0;
  std::int32_t popOpen = 0;
  std::string transcript;
  SecuritySettings security;
  // What the SMTP server's last EHLO reply offered.
  SmtpCapabilities capabilities;
  // The last reply read by a command, as received (at most
  // kReplyCapacity - 1 bytes).
  std::string lastReply;
  std::string failureReason;
  // What the last end of data got: -1 not sent (SendOneMail clears it),
  // 0 accepted, 1 sent in part, 2 refused, 3 sent whole without a reply:
  // then the server may have taken the mail, and nobody can tell.
  std::int32_t endOfDataCode = -1;
  // The envelope command the last envelope got to: 1 MAIL, 2 RCPT, 3 DATA
  // (0 before any), so that a refusal can be told apart by whom it is for.
  std::int32_t envelopeStep = 0;
  // Called just before the end of data goes out: from then on the server
  // may deliver the mail, and a record kept outside the process must know.
  // False when it could not be told: the mail is then not ended (the
  // connection is dropped, the server discards it) and the end of data
  // fails as not sent.
  std::function<bool()> beforeEndOfData;
  // Set by the stop request at any time; ends a TLS handshake in progress.
  std::int32_t stopRequested = 0;
  // Set by a handler to give up the connection's dialogue for good: every
  // reply wait from then on ends at once, as after a time-out (the server
  // check's cancel button).
  std::int32_t abandonWaits = 0;
  std::array<std::int32_t, 4> versionParts{1, 0, 0, 4};
  ServerSettings server = DefaultServerSettings();
  std::int32_t progressSoundOn = 0;
  std::string progressSoundPath;
  ProgressRecord progress;
  std::string boundary = kBoundary;
  std::unique_ptr<StreamSocket> smtpSocket;
  std::unique_ptr<StreamSocket> popSocket;

 private:
  // The step codes of one command: sent short, no usable reply, wrong reply.
  struct StepCodes {
    int shortSend;
    int noReply;
    int wrongReply;
  };
  // Sends one command line and checks that the reply begins with
  // `expected`. 0, or the matching code of `codes`. `minimumReply` is the
  // reply length below which there is "no reply" (3 for SMTP; POP3's USER
  // and PASS take any positive count to the "+OK" test).
  int Command(StreamSocket& socket, const std::string& line, const char* expected, StepCodes codes,
              ReplyKind kind, int minimumReply = 3, int patience = kPatience);
  // True when `code`, returned by Command with `codes`, means the command
  // went out in part or got no reply: the server may be holding half a line
  // or may still answer it, so nothing more can be said on the connection.
  // A wrong reply leaves it in step.
  static bool OutOfStep(int code, const StepCodes& codes) {
    return code != 0 && (code == codes.shortSend || code == codes.noReply);
  }
  // Closes the POP3 connection without QUIT, for one that is out of step.
  void PopAbandon();
  // --- steps of opening (smtp_open.cpp, smtp_auth.cpp, pop_before_smtp.cpp) ---
  int SmtpEhlo(const StepCodes& codes);
  int SmtpStartTls();
  int SmtpAuthenticate();
  int SmtpAuthExchange(const std::string& mechanism);
  int PopStls();
  // True (with the reason set) when the mail in the fields is larger than
  // the SIZE the server advertised.
  bool ExceedsSizeLimit();
  // The handshake on `socket`; 0, or `failedCode` / `failedCode + 1` for a
  // failed handshake / an untrusted certificate, with the reason set.
  int Handshake(StreamSocket& socket, const std::string& host, int failedCode);
  // After a 220 to STARTTLS (or +OK to STLS): true when the server sent
  // more, which would be read as if it came over TLS (RFC 3207 5).
  bool SpokeOutOfTurn(StreamSocket& socket) const;
  // Ends a failed step of an open connection: QUIT when the dialogue is in
  // step, a silent hang-up when it is not or TLS has failed half-way.
  int FailOpenStep(int code, bool inStep);
  void Report(const std::string& step, bool ok, const std::string& detail = {});
  // Bytes the last ReadReply left behind the end of its reply in the same
  // receive (a server speaking out of turn).
  int replyTrailing_ = 0;
  // Puts out what the socket gathered during a paced transmission; false
  // (with a transcript line) when that failed.
  bool FlushGathered();
  // True when the socket took the whole text in one send call.
  static bool SendAll(StreamSocket& socket, const std::string& text);
  // False when a text contains CR, LF or NUL: sent inside a command line it
  // would end the line early and let the rest go out as a command of its own.
  static bool FitsOnCommandLine(const std::string& text);
  // Opens `socket` on host:port: 0, 1 (create failed), 2 (connect failed).
  static int OpenSocket(std::unique_ptr<StreamSocket>& socket, const std::string& host, int port);
  static void CloseSocket(std::unique_ptr<StreamSocket>& socket);
};

}  // namespace velkaro
