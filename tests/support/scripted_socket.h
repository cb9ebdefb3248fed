// A scripted server behind the stream interface, for exact-byte dialogue and
// failure tests. A script is a list of steps run in order:
//   Send("220 ready\r\n")   the server writes bytes (each Send arrives in a
//                           receive of its own, so replies can be split);
//   Expect("EHLO localhost\r\n")
//                           the client must send exactly these bytes next;
//   ExpectThrough("\r\n.\r\n")
//                           the client sends anything up to and including
//                           these bytes (a whole DATA phase);
//   AcceptOnly(30)          the client's next send call accepts 30 bytes (0
//                           or less: the call fails);
//   Close()                 the server closes the connection; the steps
//                           after it are for the client's next connection;
//   Handshake(outcome)      the client must start TLS here; it gets
//                           `outcome`, and from then on the transcript
//                           holds the marker kTlsMarker at that place, so
//                           a test sees what went out before and after;
// and when the script ends the server stays silent. Everything the client
// sent is kept, so a test compares the whole transcript byte for byte.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/stream_socket.h"

namespace velkaro::testing {

class ScriptedServer {
 public:
  // Written into the transcript where the client started TLS.
  static constexpr const char* kTlsMarker = "<TLS>";
  // A handshake that succeeds with a verified certificate.
  static TlsOutcome TlsOk() {
    TlsOutcome o;
    o.status = TlsOutcome::Ok;
    o.fingerprint = "AA:BB";
    return o;
  }

  ScriptedServer& Send(std::string bytes);
  ScriptedServer& Expect(std::string bytes);
  ScriptedServer& ExpectThrough(std::string terminator);
  ScriptedServer& AcceptOnly(int count);
  ScriptedServer& Close();
  ScriptedServer& Handshake(TlsOutcome outcome = TlsOk());
  // What the client's socket says of its ends (defaults: unknown local
  // address, a peer that is not on the loopback interface).
  ScriptedServer& SetLocalAddress(std::string address) {
    localAddress_ = std::move(address);
    return *this;
  }
  ScriptedServer& SetPeerLoopback(bool loopback) {
    peerLoopback_ = loopback;
    return *this;
  }
  // Connecting to this server fails.
  ScriptedServer& RefuseConnect() {
    refuseConnect_ = true;
    return *this;
  }
  // Creating the socket fails.
  ScriptedServer& RefuseCreate() {
    refuseCreate_ = true;
    return *this;
  }

  // A new client socket connected to this script (the server outlives it).
  std::unique_ptr<StreamSocket> NewSocket();

  // All bytes the client sent, in order.
  const std::string& Received() const { return received_; }
  // Where the client departed from the script, empty when it did not.
  const std::string& Mismatch() const { return mismatch_; }
  // True when every step of the script was reached.
  bool Finished() const { return next_ == steps_.size(); }
  std::string Host() const { return host_; }
  int Port() const { return port_; }
  int Connects() const { return connects_; }
  bool ClientClosed() const { return clientClosed_; }

 private:
  friend class ScriptedSocket;
  struct Step {
    enum Kind { Send, Expect, ExpectThrough, AcceptOnly, Close, Handshake } kind;
    std::string bytes;
    int count = 0;
    TlsOutcome outcome{};
  };
  TlsOutcome ClientStartTls();

  void Advance();
  bool Connect(const std::string& host, int port);
  int ClientSend(const char* data, int length);
  bool Readable(int& count);
  int ClientReceive(char* buffer, int capacity);

  std::vector<Step> steps_;
  std::size_t next_ = 0;
  std::deque<std::string> outgoing_;
  std::string received_;
  std::size_t matched_ = 0;  // bytes of received_ consumed by Expect steps
  std::string mismatch_;
  std::optional<int> acceptOnly_;  // armed by an AcceptOnly step
  bool closed_ = false;
  bool connected_ = false;
  bool clientClosed_ = false;
  bool refuseConnect_ = false;
  bool refuseCreate_ = false;
  std::string host_;
  int port_ = 0;
  std::string localAddress_;
  bool peerLoopback_ = false;
  bool tlsActive_ = false;
  int connects_ = 0;

  // Tells the sockets whether this server still exists: a connection kept
  // by a fixture may be closed after the test's local server is gone.
  struct Liveness {
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    Liveness() = default;
    Liveness(const Liveness&) : Liveness() {}
    Liveness& operator=(const Liveness&) { return *this; }
    ~Liveness() { *alive = false; }
  } liveness_;
};

}  // namespace velkaro::testing

namespace velkaro::testing {

// Several scripted servers by host name: a socket connects to the server of
// the host it is asked for (an unknown host refuses the connection).
class ScriptedNetwork {
 public:
  void Add(const std::string& host, ScriptedServer& server) { servers_[host] = &server; }
  std::unique_ptr<StreamSocket> NewSocket();

 private:
  std::map<std::string, ScriptedServer*> servers_;
};

}  // namespace velkaro::testing
