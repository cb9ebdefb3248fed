// A TCP stream as the mail dialogue sees it. The dialogue code only ever
// talks to this interface, so another transport (a scripted test server, a
// TLS stream) can be slotted in without touching it.
#pragma once

#include <functional>
#include <string>

namespace velkaro {

// What a TLS handshake is asked to check.
struct TlsRequest {
  // The server name as the user typed it: sent as SNI (when it is not an
  // address) and matched against the certificate.
  std::string hostName;
  // SHA-256 of the one certificate accepted although it does not verify,
  // 64 lower-case hex digits; empty: only certificates that verify.
  std::string trustedFingerprint;
  // Asked between the wait steps; true abandons the handshake (the stop
  // button).
  std::function<bool()> cancelled;
  // How long the whole handshake may take.
  int timeoutMs = 20000;
};

// Why a certificate was not accepted.
enum class CertProblem { None, Expired, NotYetValid, WrongHost, UnknownIssuer, SelfSigned, Other };

struct TlsOutcome {
  enum Status {
    Ok,               // encrypted from here on; every byte goes through TLS
    NotSupported,     // this socket cannot do TLS
    HandshakeFailed,  // the peer stalled, hung up, sent garbage or an old protocol
    Untrusted,        // the certificate does not verify and is not the trusted one
    Cancelled,        // the stop request ended the wait
  } status = NotSupported;
  CertProblem problem = CertProblem::None;
  // The library's own words on the failure (ASCII), for the user.
  std::string detail;
  // SHA-256 of the peer's certificate, upper-case hex pairs joined by
  // colons; empty when none was received.
  std::string fingerprint;
};

class StreamSocket {
 public:
  virtual ~StreamSocket() = default;

  // Makes the socket ready for `Connect`. False when the host refuses.
  virtual bool Create() = 0;
  // Connects to a host name or dotted (IPv4 or IPv6) address. Keeps the user
  // interface alive while it waits; false when the connection failed.
  virtual bool Connect(const std::string& host, int port) = 0;
  // Hands bytes to the connection. Returns the count accepted, which may be
  // fewer than `length`; 0 or less on failure. A peer that closed the
  // connection gives a failed send, never a signal.
  virtual int Send(const char* data, int length) = 0;
  // Number of bytes that can be received without blocking. False when the
  // query itself fails (no connection).
  virtual bool ReadableBytes(int& count) = 0;
  // Receives up to `capacity` bytes; the count, 0 when the peer closed the
  // connection, less than 0 on failure.
  virtual int Receive(char* buffer, int capacity) = 0;
  // True when the peer has hung up and nothing is left to read; asked once,
  // without waiting.
  virtual bool HungUp() {
    int count = 0;
    return !ReadableBytes(count);
  }
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // Turns the open connection into a TLS client connection (TLS 1.2 or
  // newer, the system's trust store, host name verification). Bytes the
  // peer sent before the call and not yet received make the handshake
  // fail. On any failure the connection is unusable and must be closed.
  virtual TlsOutcome StartTls(const TlsRequest& request) {
    (void)request;
    return {};
  }
  virtual bool TlsActive() const { return false; }
  // While gathering is on, a socket whose every send carries a cost of its
  // own (a TLS record: a header, a MAC and the cipher's work each) may hold
  // small sends back and put them out together at the next `Flush`, or
  // when a record's worth has gathered. A plain TCP socket sends at once.
  // Turning gathering off does not flush: call `Flush` first.
  virtual void GatherSends(bool on) { (void)on; }
  // Puts out whatever is held back; false when that failed (the
  // connection is then unusable).
  virtual bool Flush() { return true; }
  // The numeric local address of the connection ("192.0.2.1",
  // "2001:db8::1"); empty when unknown.
  virtual std::string LocalAddress() const { return {}; }
  // True when the peer is on the loopback interface (127.0.0.0/8, ::1).
  virtual bool PeerIsLoopback() const { return false; }
};

}  // namespace velkaro
