// The OpenSSL side of the TLS client: the process's client context, the
// socket BIO, the certificate check and its words. Private to the TLS
// session (tls_session.cpp, tls_context.cpp).
#pragma once

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <string>

#include "platform/stream_socket.h"

namespace velkaro::posix {

// What the socket BIO reads from and writes to.
struct SocketEnd {
  int fd = -1;
  bool eof = false;  // the peer ended the TCP stream
};

// One TLS client connection: the SSL object and what its callbacks need.
struct TlsConnection {
  TlsConnection() = default;
  TlsConnection(const TlsConnection&) = delete;
  TlsConnection& operator=(const TlsConnection&) = delete;
  ~TlsConnection() {
    if (ssl != nullptr) SSL_free(ssl);
  }
  SSL* ssl = nullptr;
  SocketEnd end;
  std::string trusted;          // the accepted fingerprint, lower-case hex
  std::string fingerprint;      // of the peer's certificate, as TlsOutcome shows it
  int verifyError = X509_V_OK;  // the error that refused the certificate
  bool fatal = false;           // OpenSSL forbids a close_notify after one
};

// The client context of the process (TLS 1.2 or newer, the system's trust
// store, peer verification through the connection's trusted fingerprint);
// null when OpenSSL cannot make one.
SSL_CTX* ClientContext();
// Reads and writes of `connection.ssl` go to `fd` (non-blocking) without
// ever raising SIGPIPE.
bool AttachSocket(TlsConnection& connection, int fd);
// The name sent as SNI and the name or address the certificate must match.
bool SetPeerName(SSL* ssl, const std::string& host);
// SHA-256 of a certificate, upper-case hex pairs joined by colons.
std::string Fingerprint(const X509* certificate);
// A fingerprint in lower-case hex without separators.
std::string Normalised(const std::string& fingerprint);
CertProblem ProblemOf(int verifyError);

}  // namespace velkaro::posix
