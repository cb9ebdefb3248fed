#include "mail/mail_connection.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/encoding.h"
#include "core/text_bytes.h"
#include "core/zentool.h"

namespace velkaro {

namespace {

// Follows the reply byte by byte and tells when it is complete.
//
// SMTP (RFC 5321 4.2.1): every line of a multi-line reply but the last has a
// hyphen right after its code; the last has a space, or nothing. A line that
// does not look like a continuation ends the reply, so a server talking
// nonsense fails the code test at once instead of after the time-out.
// POP3 (RFC 1939 3): a status reply is one line.
// Both protocols end lines in CR LF; a bare LF is taken as a line end too,
// because waiting for a CR that some servers never send would only cost the
// whole time-out and then hand over the same bytes.
class ReplyScanner {
 public:
  explicit ReplyScanner(ReplyKind kind) : kind_(kind) {}

  // True when `c` completes the reply.
  bool Feed(char c) {
    if (c != '\n') {
      if (column_ < 4) head_[column_] = c;
      ++column_;
      return false;
    }
    const bool continued = kind_ == ReplyKind::Smtp && column_ >= 4 && head_[3] == '-';
    column_ = 0;
    return !continued;
  }

 private:
  ReplyKind kind_;
  int column_ = 0;
  char head_[4] = {};
};

// `expected` holds one or more three-byte codes separated by '|' ("250|221"
// for QUIT). A plain byte comparison of the first three bytes, as the
// protocols define a reply by its code alone.
bool ReplyMatches(const std::string& reply, const char* expected) {
  const std::string alternatives = expected;
  std::size_t start = 0;
  while (start <= alternatives.size()) {
    std::size_t end = alternatives.find('|', start);
    if (end == std::string::npos) end = alternatives.size();
    const std::string code = alternatives.substr(start, end - start);
    if (reply.size() >= code.size() && reply.compare(0, code.size(), code) == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

MailConnection::MailConnection(TimerTarget* window) : timerWindow(window) {}

// The driver sends QUIT itself; a connection torn down here is abandoned
// without a word to the server.
MailConnection::~MailConnection() {
  CloseSocket(smtpSocket);
  CloseSocket(popSocket);
}

std::string MailConnection::GetServerText(int which) const {
  switch (which) {
    case 1: return FieldText(server.popServer);
    case 2: return FieldText(server.popUser);
    case 3: return FieldText(server.popPassword);
    case 4: return FieldText(server.smtpServer);
    case 5: return FieldText(server.senderName);
    case 6: return FieldText(server.senderAddress);
    default: return {};
  }
}

void MailConnection::SetSpeed(int n) {
  if (n >= 0) speed = n;
}

// A negative speed is the stop request; the paced sender restores the sign
// when it honours it. Outside a transmission nobody would look at it. A
// speed of 0 has no negative form, so its request is -1; a second click
// while the first is pending must not turn the request back off.
void MailConnection::RequestStop() {
  stopRequested = 1;
  if (progress.sendingData != 1 || speed < 0) return;
  speed = speed == 0 ? -1 : -speed;
}

void MailConnection::ResetProgress() {
  progress = ProgressRecord{};
}

int MailConnection::SetProgressSound(const std::string& path) {
  Zentool tool;
  if (tool.ZenGetFileSize(path) == 0) return 1;
  const std::string extension = tool.ZenSplitPath(PathPart::Extension, path);
  if (extension.empty()) return 2;
  const std::string lower = AsciiLower(extension);
  if (lower != "wav" && lower != "mid") return 3;
  progressSoundPath = path;
  progressSoundOn = 1;
  return 0;
}

void MailConnection::ClearProgressSound() {
  progressSoundOn = 0;
  progressSoundPath.clear();
}

int MailConnection::GetVersionPart(int i) const {
  if (i < 0 || i >= static_cast<int>(versionParts.size())) return -1;
  return versionParts[static_cast<std::size_t>(i)];
}

void MailConnection::ClearMailFields() {
  subject.clear();
  body.clear();
  attachmentList.clear();
  recipientName.clear();
  recipientAddress.clear();
  extra = ExtraHeaders{};
  envelopeRecipients.clear();
}

// The reply is assembled from as many receives as it takes: a server may
// write a multi-line reply in several segments (or TCP may split it), and a
// reader that took the first segment as the whole reply would leave the rest
// to be misread as the answer to the next command.
//
// The result counts the reply's bytes even beyond what `reply` keeps, so a
// long reply is drained completely. When the time-out ends an incomplete
// reply, or the socket can no longer be queried after part of it arrived,
// the bytes that did arrive are the result: the callers' length and code
// tests decide what they are worth, just as for a reply cut short by the
// server. -1 only when the query fails before anything arrived.
namespace {

// One polling pause of the reply reader: `ms` in 1 ms steps with the window
// served, cut short as soon as the socket has bytes (or can no longer be
// asked). A server nearby answers well within a millisecond; waiting out the
// whole pause for every reply made each command of a run that much slower.
void AwaitReplyBytes(StreamSocket& socket, int ms) {
  Platform& platform = CurrentPlatform();
  const std::int64_t due = platform.MonotonicMicros() + static_cast<std::int64_t>(ms) * 1000;
  do {
    platform.Sleep(1);
    platform.Pump();
    int readable = 0;
    if (!socket.ReadableBytes(readable) || readable > 0) return;
  } while (platform.MonotonicMicros() < due);
}

}  // namespace

int MailConnection::ReadReply(StreamSocket& socket, std::string& reply, int patience,
                              ReplyKind kind) {
  constexpr std::size_t kKept = kReplyCapacity - 1;
  // Without a timer window, the patience counts pauses of this length.
  constexpr int kReplyPollMs = 5;
  Platform& platform = CurrentPlatform();
  reply.clear();
  if (timerWindow != nullptr) platform.StartTimer(timerWindow, kReplyTimerId, patience * 100);
  replyWaiting = 1;

  ReplyScanner scanner(kind);
  replyTrailing_ = 0;
  int received = 0;
  bool failed = false;
  char chunk[kKept];
  do {
    int readable = 0;
    if (!socket.ReadableBytes(readable)) {
      failed = true;
      break;
    }
    if (readable > 0) {
      const int n = socket.Receive(chunk, static_cast<int>(sizeof chunk));
      bool complete = false;
      for (int i = 0; i < n && !complete; ++i) {
        // Bytes behind the end of the reply would be the server speaking
        // out of turn (we never pipeline); they are dropped, not kept as
        // part of this reply.
        complete = scanner.Feed(chunk[i]);
        if (reply.size() < kKept) reply.push_back(chunk[i]);
        ++received;
        if (complete) replyTrailing_ = n - i - 1;
      }
      if (complete) break;
    } else {
      AwaitReplyBytes(socket, kReplyPollMs);
    }
    if (timerWindow == nullptr && --patience <= 0) replyWaiting = 0;
    if (abandonWaits != 0) replyWaiting = 0;
  } while (replyWaiting == 1);

  if (replyWaiting == 1) {
    if (timerWindow != nullptr) platform.StopTimer(timerWindow, kReplyTimerId);
    replyWaiting = 0;
  }
  if (failed && received == 0) return -1;
  return received;
}

// An empty line sends nothing and only reads the reply: that is how a
// server's greeting is taken.
int MailConnection::Command(StreamSocket& socket, const std::string& line, const char* expected,
                            StepCodes codes, ReplyKind kind, int minimumReply, int patience) {
  lastReply.clear();
  if (!line.empty() && !SendAll(socket, line)) return codes.shortSend;
  if (ReadReply(socket, lastReply, patience, kind) < minimumReply) return codes.noReply;
  if (!ReplyMatches(lastReply, expected)) {
    failureReason = Sjis("サーバーの応答: ") + ReplyLine(lastReply);
    return codes.wrongReply;
  }
  return 0;
}

// Servers put the reason in the first line (RFC 5321 4.2, RFC 3463 codes);
// the text is the server's own, so anything but printable ASCII is shown
// as '?' rather than passed on to a status bar or a terminal.
std::string MailConnection::ReplyLine(const std::string& reply) {
  std::string line = reply.substr(0, reply.find_first_of("\r\n"));
  for (char& c : line) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b > 0x7E) c = '?';
  }
  return line;
}

void MailConnection::Report(const std::string& step, bool ok, const std::string& detail) {
  if (onStep) onStep(step, ok, detail);
}

bool MailConnection::SendAll(StreamSocket& socket, const std::string& text) {
  const int length = static_cast<int>(text.size());
  return socket.Send(text.data(), length) == length;
}

bool MailConnection::FitsOnCommandLine(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

int MailConnection::OpenSocket(std::unique_ptr<StreamSocket>& socket, const std::string& host,
                               int port) {
  CloseSocket(socket);
  socket = CurrentPlatform().NewSocket();
  if (!socket || !socket->Create()) {
    socket.reset();
    return 1;
  }
  if (!socket->Connect(host, port)) {
    CloseSocket(socket);
    return 2;
  }
  return 0;
}

void MailConnection::CloseSocket(std::unique_ptr<StreamSocket>& socket) {
  if (!socket) return;
  if (socket->IsOpen()) socket->Close();
  socket.reset();
}

}  // namespace velkaro
