#include "platform/tls_session.h"

#include <openssl/err.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/tls_context.h"

namespace velkaro::posix {
namespace {

// OpenSSL's words for the failure of the last call, which returned
// `sslError`; `savedErrno` is errno right after that call.
std::string LibraryError(int sslError, int savedErrno) {
  const unsigned long code = ERR_peek_error();
  std::string text;
  if (code != 0) {
    const char* reason = ERR_reason_error_string(code);
    if (reason != nullptr) {
      text = reason;
    } else {
      char buffer[256];
      ERR_error_string_n(code, buffer, sizeof buffer);
      text = buffer;
    }
  } else if (sslError == SSL_ERROR_SYSCALL && savedErrno != 0) {
    text = std::strerror(savedErrno);
  } else if (sslError == SSL_ERROR_SYSCALL || sslError == SSL_ERROR_ZERO_RETURN) {
    text = "unexpected eof while reading";
  } else {
    text = "TLS error " + std::to_string(sslError);
  }
  ERR_clear_error();
  return text;
}

// Whether the socket can already do what OpenSSL waits for.
bool SocketReady(int fd, int sslError) {
  pollfd p{fd, static_cast<short>(sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
  return ::poll(&p, 1, 0) > 0;
}

void Refuse(TlsOutcome& outcome, TlsOutcome::Status status, std::string detail) {
  outcome.status = status;
  outcome.detail = std::move(detail);
}

// A handshake that ended in `sslError`: the certificate refused, or
// anything else the library or the peer made go wrong.
void ReportFailure(const TlsConnection& connection, int sslError, int savedErrno,
                   TlsOutcome& outcome) {
  outcome.fingerprint = connection.fingerprint;
  if (connection.verifyError == X509_V_OK) {
    Refuse(outcome, TlsOutcome::HandshakeFailed, LibraryError(sslError, savedErrno));
    return;
  }
  Refuse(outcome, TlsOutcome::Untrusted, X509_verify_cert_error_string(connection.verifyError));
  outcome.problem = ProblemOf(connection.verifyError);
  ERR_clear_error();
}

}  // namespace

std::unique_ptr<TlsSession> TlsSession::Handshake(int fd, const TlsRequest& request,
                                                  WaitStep waitStep, TlsOutcome& outcome) {
  outcome = TlsOutcome{};
  SSL_CTX* context = ClientContext();
  auto connection = std::make_unique<TlsConnection>();
  ERR_clear_error();
  if (context == nullptr || (connection->ssl = SSL_new(context)) == nullptr ||
      !AttachSocket(*connection, fd)) {
    Refuse(outcome, TlsOutcome::HandshakeFailed, LibraryError(SSL_ERROR_SSL, 0));
    return nullptr;
  }
  if (!SetPeerName(connection->ssl, request.hostName)) {
    Refuse(outcome, TlsOutcome::HandshakeFailed, "no usable server name to check the certificate");
    ERR_clear_error();
    return nullptr;
  }
  connection->trusted = Normalised(request.trustedFingerprint);

  for (int waited = 0;;) {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_connect(connection->ssl);
    const int savedErrno = errno;
    if (result == 1) break;
    const int error = SSL_get_error(connection->ssl, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      ReportFailure(*connection, error, savedErrno, outcome);
      return nullptr;
    }
    if (SocketReady(fd, error)) continue;
    if (request.cancelled && request.cancelled()) {
      Refuse(outcome, TlsOutcome::Cancelled, {});
      return nullptr;
    }
    // Counted in wait steps of 1 ms, like every wait of the socket.
    if (waited >= request.timeoutMs) {
      outcome.fingerprint = connection->fingerprint;
      Refuse(outcome, TlsOutcome::HandshakeFailed, "timed out");
      return nullptr;
    }
    waitStep();
    ++waited;
  }

  outcome.status = TlsOutcome::Ok;
  if (const X509* peer = SSL_get0_peer_certificate(connection->ssl)) {
    outcome.fingerprint = Fingerprint(peer);
  }
  return std::unique_ptr<TlsSession>(new TlsSession(std::move(connection), std::move(waitStep)));
}

TlsSession::TlsSession(std::unique_ptr<TlsConnection> connection, WaitStep waitStep)
    : connection_(std::move(connection)), waitStep_(std::move(waitStep)) {}

TlsSession::~TlsSession() = default;

int TlsSession::Send(const char* data, int length) {
  if (length < 0 || connection_->fatal) return -1;
  int sent = 0;
  int waited = 0;
  while (sent < length) {
    ERR_clear_error();
    const int n = SSL_write(connection_->ssl, data + sent, length - sent);
    if (n > 0) {
      sent += n;
      continue;
    }
    const int error = SSL_get_error(connection_->ssl, n);
    const bool wouldBlock = error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ;
    if (wouldBlock && waited < kSendTimeoutMs) {
      waitStep_();
      ++waited;
      continue;
    }
    if (!wouldBlock) connection_->fatal = true;
    break;
  }
  ERR_clear_error();
  return sent > 0 ? sent : -1;
}

void TlsSession::Pull() {
  // The reply reader asks often; a bounded inbox keeps a peer that floods
  // us from filling memory before anyone takes the bytes.
  constexpr std::size_t kInboxLimit = 64 * 1024;
  constexpr std::size_t kChunk = 16 * 1024;  // one TLS record at most
  if (peerClosed_) return;
  if (inboxStart_ > 0 && inboxStart_ * 2 >= inbox_.size()) {
    inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(inboxStart_));
    inboxStart_ = 0;
  }
  char chunk[kChunk];
  while (inbox_.size() - inboxStart_ < kInboxLimit) {
    ERR_clear_error();
    const int n = SSL_read(connection_->ssl, chunk, static_cast<int>(kChunk));
    if (n > 0) {
      inbox_.insert(inbox_.end(), chunk, chunk + n);
      continue;
    }
    const int error = SSL_get_error(connection_->ssl, n);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) break;
    // close_notify, the end of the stream without one, or a broken
    // connection: nothing more will come either way.
    peerClosed_ = true;
    if (error != SSL_ERROR_ZERO_RETURN) connection_->fatal = true;
    break;
  }
  ERR_clear_error();
}

bool TlsSession::ReadableBytes(int& count) {
  Pull();
  const std::size_t buffered = inbox_.size() - inboxStart_;
  count = static_cast<int>(buffered);
  return buffered > 0 || !peerClosed_;
}

int TlsSession::Receive(char* buffer, int capacity) {
  if (capacity <= 0) return -1;
  if (inboxStart_ == inbox_.size()) Pull();
  const std::size_t buffered = inbox_.size() - inboxStart_;
  if (buffered == 0) {
    // Like recv: 0 for a peer that ended the stream, -1 for nothing yet or
    // a broken connection.
    const bool ended = peerClosed_ && (!connection_->fatal || connection_->end.eof);
    return ended ? 0 : -1;
  }
  const std::size_t n = std::min(buffered, static_cast<std::size_t>(capacity));
  std::memcpy(buffer, inbox_.data() + inboxStart_, n);
  inboxStart_ += n;
  if (inboxStart_ == inbox_.size()) {
    inbox_.clear();
    inboxStart_ = 0;
  }
  return static_cast<int>(n);
}

void TlsSession::Shutdown() {
  if (connection_->fatal) return;
  ERR_clear_error();
  // One try: a close_notify that cannot go out at once is not worth a wait.
  SSL_shutdown(connection_->ssl);
  ERR_clear_error();
}

}  // namespace velkaro::posix
