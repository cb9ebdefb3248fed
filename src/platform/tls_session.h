// The TLS client end of a connected, non-blocking TCP socket (OpenSSL 3).
// Like the socket itself it never blocks the user-interface thread: every
// wait is one `waitStep` (a 1 ms sleep and a pump), and the handshake asks
// the stop request between the steps.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/stream_socket.h"

namespace velkaro::posix {

// How long one send may wait for room in the socket's buffer before it
// reports the bytes accepted so far (or a failure).
inline constexpr int kSendTimeoutMs = 20000;

struct TlsConnection;  // tls_context.h

class TlsSession {
 public:
  using WaitStep = std::function<void()>;

  // Runs the handshake on `fd` (connected, O_NONBLOCK). On success the
  // session; otherwise null, with the reason in `outcome`. The descriptor
  // stays the caller's either way.
  static std::unique_ptr<TlsSession> Handshake(int fd, const TlsRequest& request, WaitStep waitStep,
                                               TlsOutcome& outcome);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // The contract of StreamSocket's operations of the same names.
  int Send(const char* data, int length);
  bool ReadableBytes(int& count);
  int Receive(char* buffer, int capacity);
  // Sends close_notify when it can go out at once; never waits.
  void Shutdown();

 private:
  TlsSession(std::unique_ptr<TlsConnection> connection, WaitStep waitStep);
  // Moves decrypted bytes into the inbox until none are ready or it is full.
  void Pull();

  std::unique_ptr<TlsConnection> connection_;
  WaitStep waitStep_;
  std::vector<char> inbox_;
  std::size_t inboxStart_ = 0;
  bool peerClosed_ = false;  // close_notify, end of stream or a fatal error
};

}  // namespace velkaro::posix
