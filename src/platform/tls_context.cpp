#include "platform/tls_context.h"

#include <arpa/inet.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>

namespace velkaro::posix {
namespace {

// A socket BIO of our own: OpenSSL's writes with write(2), and a peer that
// has gone would raise SIGPIPE; the socket's contract is a failed send.
int BioWrite(BIO* bio, const char* data, int length) {
  auto* end = static_cast<SocketEnd*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  ssize_t n;
  do {
    n = ::send(end->fd, data, static_cast<size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int length) {
  auto* end = static_cast<SocketEnd*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  ssize_t n;
  do {
    n = ::recv(end->fd, data, static_cast<size_t>(length), MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n == 0) end->eof = true;
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_read(bio);
  return static_cast<int>(n);
}

long BioCtrl(BIO* bio, int command, long, void*) {
  switch (command) {
    case BIO_CTRL_FLUSH: return 1;
    // OpenSSL asks this to tell a peer's end of stream from a failure.
    case BIO_CTRL_EOF: return static_cast<SocketEnd*>(BIO_get_data(bio))->eof ? 1 : 0;
    default: return 0;
  }
}

BIO_METHOD* SocketMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "velkaro socket");
    if (m != nullptr) {
      BIO_meth_set_write(m, BioWrite);
      BIO_meth_set_read(m, BioRead);
      BIO_meth_set_ctrl(m, BioCtrl);
    }
    return m;
  }();
  return method;
}

std::string HexPairs(const unsigned char* bytes, unsigned length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned i = 0; i < length; ++i) {
    if (i != 0) out += ':';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

// Called by OpenSSL for each certificate of the chain and for each problem
// found; returning 0 refuses the certificate and ends the handshake.
int VerifyCallback(int ok, X509_STORE_CTX* store) {
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* connection = ssl ? static_cast<TlsConnection*>(SSL_get_app_data(ssl)) : nullptr;
  if (connection == nullptr) return ok;
  if (connection->fingerprint.empty()) {
    if (const X509* leaf = X509_STORE_CTX_get0_cert(store)) {
      connection->fingerprint = Fingerprint(leaf);
    }
  }
  if (ok) return 1;
  // The one certificate the user chose to trust passes whatever is wrong
  // with it: it is the same certificate as when they looked at it.
  if (connection->trusted.size() == 64 &&
      Normalised(connection->fingerprint) == connection->trusted) {
    return 1;
  }
  if (connection->verifyError == X509_V_OK) {
    connection->verifyError = X509_STORE_CTX_get_error(store);
  }
  return 0;
}

bool IsAddressLiteral(const std::string& host) {
  unsigned char address[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

}  // namespace

std::string Fingerprint(const X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return {};
  return HexPairs(digest, length);
}

// Lower-case hex without separators, so "AB:CD…" and "abcd…" compare equal.
std::string Normalised(const std::string& fingerprint) {
  std::string out;
  for (const char c : fingerprint) {
    if (c != ':') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// One context for the process: loading the trust store once is what makes
// a connection per mail cheap. The trust store is read on first use, so
// SSL_CERT_FILE / SSL_CERT_DIR must be set before the first handshake.
SSL_CTX* ClientContext() {
  static SSL_CTX* const context = [] {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr) return ctx;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(ctx);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, VerifyCallback);
    // Send may hand over fewer bytes than asked and retry with the rest
    // from another address, as the plain socket allows.
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return ctx;
  }();
  return context;
}

// SNI goes only with a name (RFC 6066 forbids addresses in it); the
// certificate is matched against the name or the address.
bool SetPeerName(SSL* ssl, const std::string& host) {
  if (host.empty()) return false;
  if (IsAddressLiteral(host)) {
    return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
  }
  SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  return SSL_set_tlsext_host_name(ssl, host.c_str()) == 1 && SSL_set1_host(ssl, host.c_str()) == 1;
}

bool AttachSocket(TlsConnection& connection, int fd) {
  BIO* bio = BIO_new(SocketMethod());
  if (bio == nullptr) return false;
  connection.end.fd = fd;
  BIO_set_data(bio, &connection.end);
  BIO_set_init(bio, 1);
  SSL_set_bio(connection.ssl, bio, bio);
  SSL_set_app_data(connection.ssl, &connection);
  return true;
}

CertProblem ProblemOf(int verifyError) {
  switch (verifyError) {
    case X509_V_ERR_CERT_HAS_EXPIRED: return CertProblem::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID: return CertProblem::NotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return CertProblem::WrongHost;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN: return CertProblem::SelfSigned;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return CertProblem::UnknownIssuer;
    default: return CertProblem::Other;
  }
}

}  // namespace velkaro::posix
