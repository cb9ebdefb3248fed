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
#include <memory>
#include <string>

#include "mail/server_settings.h"
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

  explicit MailConnection(TimerTarget* timerWindow = nullptr);
  virtual ~MailConnection();
  MailConnection(const MailConnection&) = delete;
  MailConnection& operator=(const MailConnection&) = delete;

  // --- small operations ---
  void SetServerSettings(const ServerSettings& settings) { server = settings; }
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
  int SmtpOpen();
  int SmtpSendEnvelope();
  int SmtpEndData();
  int SmtpQuit();
  // Hangs up without a word: in the middle of a mail's data, so that the
  // server discards the transaction instead of delivering a mail cut short,
  // and after a command that left the dialogue out of step.
  void SmtpAbandon();

  // --- POP before SMTP ---
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

  // --- one mail ---
  int SendOneMail(MailRecord record);

  // --- fields (public: the form polls and the run's handlers set them) ---
  std::int32_t speed = 5;
  std::int32_t replyWaiting = 0;
  TimerTarget* timerWindow = nullptr;
  std::string subject;
  std::string body;
  std::string attachmentList;
  std::string recipientName;
  std::string recipientAddress;
  std::int32_t smtpOpen = 0;
  std::int32_t popOpen = 0;
  std::string transcript;
  std::array<std::int32_t, 4> versionParts{1, 0, 0, 4};
  ServerSettings server = DefaultServerSettings();
  std::int32_t progressSoundOn = 0;
  std::string progressSoundPath;
  ProgressRecord progress;
  std::string boundary = "------_4A169B1D000000004107_MULTIPART_MIXED_";
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
