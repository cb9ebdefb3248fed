// The reply reader (MailConnection::ReadReply in src/mail) on arbitrary
// server bytes, through a socket of the fuzz target's own.
//
// Input: a flag byte (bit 0 POP3, bit 1 the reply time-out comes from the
// form's timer instead of the patience count, bit 2 the socket query fails
// once the bytes are used up instead of staying silent), a patience byte,
// then chunks: a length byte and that many bytes. A chunk of length 0 is a
// poll that finds nothing to read.
#include <deque>

#include "mail/mail_connection.h"
#include "support.h"
#include "support/reply_timeout.h"

using namespace velkaro;

namespace {

// Stops the count of polls once the reply has certainly timed out: the
// reader must give up by then even when every poll finds nothing.
constexpr long long kPollLimit = 100'000;

class FuzzSocket final : public StreamSocket {
 public:
  FuzzSocket(std::deque<std::string> chunks, bool failAtEnd)
      : chunks_(std::move(chunks)), failAtEnd_(failAtEnd) {}

  bool Create() override { return true; }
  bool Connect(const std::string&, int) override { return true; }
  int Send(const char*, int length) override { return length; }
  bool ReadableBytes(int& count) override {
    FUZZ_CHECK(++polls_ < kPollLimit);
    count = 0;
    if (chunks_.empty()) return !failAtEnd_;
    if (chunks_.front().empty()) {
      chunks_.pop_front();  // this poll finds nothing yet
      return true;
    }
    count = static_cast<int>(chunks_.front().size());
    return true;
  }
  int Receive(char* buffer, int capacity) override {
    FUZZ_CHECK(!chunks_.empty() && capacity > 0);
    std::string& chunk = chunks_.front();
    const std::size_t n = std::min(chunk.size(), static_cast<std::size_t>(capacity));
    std::copy_n(chunk.data(), n, buffer);
    offered_.append(chunk, 0, n);
    chunk.erase(0, n);
    if (chunk.empty()) chunks_.pop_front();
    return static_cast<int>(n);
  }
  void Close() override {}
  bool IsOpen() const override { return true; }

  // Every byte handed to the reader so far, in order.
  const std::string& Offered() const { return offered_; }

 private:
  std::deque<std::string> chunks_;
  bool failAtEnd_;
  std::string offered_;
  long long polls_ = 0;
};

// Where the reply of `kind` ends in `bytes` (one past its last byte), or
// npos: SMTP ends at the first line that does not continue ("250-"), POP3
// at its first line; an LF ends a line.
std::size_t ReplyEnd(const std::string& bytes, ReplyKind kind) {
  for (std::size_t start = 0; start < bytes.size();) {
    const std::size_t lf = bytes.find('\n', start);
    if (lf == std::string::npos) return std::string::npos;
    const bool continued = kind == ReplyKind::Smtp && lf - start >= 4 && bytes[start + 3] == '-';
    if (!continued) return lf + 1;
    start = lf + 1;
  }
  return std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader in(data, size);
  const std::uint8_t flags = in.Byte();
  const int patience = 1 + in.Byte() % 50;
  const ReplyKind kind = (flags & 1) ? ReplyKind::Pop3 : ReplyKind::Smtp;
  std::deque<std::string> chunks;
  std::string stream;
  while (!in.Empty()) {
    chunks.push_back(in.Take(in.Byte()));
    stream += chunks.back();
  }

  TestPlatform platform;
  ScopedPlatform scope(platform);
  velkaro::testing::ReplyTimeout timeout;
  MailConnection connection((flags & 2) ? &timeout : nullptr);
  timeout.connection = &connection;
  FuzzSocket socket(std::move(chunks), (flags & 4) != 0);

  std::string reply;
  const int result = connection.ReadReply(socket, reply, patience, kind);
  const std::string& offered = socket.Offered();
  FUZZ_CHECK(result >= -1);
  FUZZ_CHECK(result == -1 ? offered.empty() : static_cast<std::size_t>(result) <= offered.size());
  FUZZ_CHECK(reply.size() <= MailConnection::kReplyCapacity - 1);
  FUZZ_CHECK(connection.replyWaiting == 0);
  FUZZ_CHECK(!platform.TimerRunning(&timeout, MailConnection::kReplyTimerId));
  if (result < 0) return 0;

  // The reply is the start of what the server sent, up to the end of its
  // last line when it was complete, else everything that arrived.
  const std::size_t end = ReplyEnd(stream, kind);
  const std::size_t expected = std::min(end, offered.size());
  FUZZ_CHECK(static_cast<std::size_t>(result) == expected);
  FUZZ_CHECK(reply == stream.substr(0, std::min<std::size_t>(expected, reply.size())));
  FUZZ_CHECK(reply.size() == std::min<std::size_t>(expected, MailConnection::kReplyCapacity - 1));
  return 0;
}
