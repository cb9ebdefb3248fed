#include "support/scripted_socket.h"

#include <algorithm>
#include <cstring>

namespace velkaro::testing {

class ScriptedSocket final : public StreamSocket {
 public:
  explicit ScriptedSocket(ScriptedServer& server)
      : server_(server), serverAlive_(server.liveness_.alive) {}
  ~ScriptedSocket() override { Close(); }
  bool Create() override { return !server_.refuseCreate_; }
  bool Connect(const std::string& host, int port) override {
    open_ = server_.Connect(host, port);
    return open_;
  }
  int Send(const char* data, int length) override {
    return Live() ? server_.ClientSend(data, length) : -1;
  }
  bool ReadableBytes(int& count) override {
    count = 0;
    return Live() && server_.Readable(count);
  }
  int Receive(char* buffer, int capacity) override {
    return Live() ? server_.ClientReceive(buffer, capacity) : -1;
  }
  void Close() override {
    if (Live()) server_.clientClosed_ = true;
    open_ = false;
  }
  bool IsOpen() const override { return open_; }
  TlsOutcome StartTls(const TlsRequest&) override {
    if (!Live()) return {};
    return server_.ClientStartTls();
  }
  bool TlsActive() const override { return Live() && server_.tlsActive_; }
  std::string LocalAddress() const override { return server_.localAddress_; }
  bool PeerIsLoopback() const override { return server_.peerLoopback_; }

 private:
  bool Live() const { return open_ && *serverAlive_; }

  ScriptedServer& server_;
  std::shared_ptr<bool> serverAlive_;
  bool open_ = false;
};

ScriptedServer& ScriptedServer::Send(std::string bytes) {
  steps_.push_back({Step::Send, std::move(bytes), 0});
  return *this;
}
ScriptedServer& ScriptedServer::Expect(std::string bytes) {
  steps_.push_back({Step::Expect, std::move(bytes), 0});
  return *this;
}
ScriptedServer& ScriptedServer::ExpectThrough(std::string terminator) {
  steps_.push_back({Step::ExpectThrough, std::move(terminator), 0});
  return *this;
}
ScriptedServer& ScriptedServer::AcceptOnly(int count) {
  steps_.push_back({Step::AcceptOnly, {}, count});
  return *this;
}
ScriptedServer& ScriptedServer::Close() {
  steps_.push_back({Step::Close, {}, 0});
  return *this;
}

ScriptedServer& ScriptedServer::Handshake(TlsOutcome outcome) {
  Step step{Step::Handshake, {}, 0};
  step.outcome = std::move(outcome);
  steps_.push_back(std::move(step));
  return *this;
}

// A real handshake fails when the server has sent bytes the client has
// not read: they are not a TLS record.
TlsOutcome ScriptedServer::ClientStartTls() {
  Advance();
  if (next_ >= steps_.size() || steps_[next_].kind != Step::Handshake ||
      received_.size() != matched_) {
    if (mismatch_.empty()) mismatch_ = "the client started TLS out of turn";
    TlsOutcome failed;
    failed.status = TlsOutcome::HandshakeFailed;
    failed.detail = "unexpected handshake";
    return failed;
  }
  TlsOutcome outcome = steps_[next_].outcome;
  if (!outgoing_.empty()) {
    outcome = {};
    outcome.status = TlsOutcome::HandshakeFailed;
    outcome.detail = "wrong version number";
  }
  received_ += kTlsMarker;
  matched_ = received_.size();
  tlsActive_ = outcome.status == TlsOutcome::Ok;
  if (!tlsActive_) closed_ = true;
  ++next_;
  Advance();
  return outcome;
}

std::unique_ptr<StreamSocket> ScriptedServer::NewSocket() {
  return std::make_unique<ScriptedSocket>(*this);
}

bool ScriptedServer::Connect(const std::string& host, int port) {
  host_ = host;
  port_ = port;
  ++connects_;
  if (refuseConnect_) return false;
  if (closed_) {
    // A new connection after the server hung up: the script goes on with
    // it, as a server would take the client's next connection.
    closed_ = false;
    clientClosed_ = false;
    outgoing_.clear();
    matched_ = received_.size();
  }
  connected_ = true;
  Advance();
  return true;
}

// Runs the script forward as far as the client's bytes allow.
void ScriptedServer::Advance() {
  if (closed_) return;  // the rest waits for the next connection
  while (next_ < steps_.size() && mismatch_.empty()) {
    const Step& step = steps_[next_];
    const std::string pending = received_.substr(matched_);
    switch (step.kind) {
      case Step::Send: outgoing_.push_back(step.bytes); break;
      case Step::AcceptOnly: acceptOnly_ = step.count; break;
      case Step::Close:
        // What follows is for the next connection.
        closed_ = true;
        ++next_;
        return;
      case Step::Handshake: return;  // the client's StartTls takes it
      case Step::Expect: {
        const std::size_t n = std::min(pending.size(), step.bytes.size());
        if (pending.compare(0, n, step.bytes, 0, n) != 0) {
          mismatch_ = "expected \"" + step.bytes + "\", client sent \"" + pending + "\"";
          return;
        }
        if (pending.size() < step.bytes.size()) return;
        matched_ += step.bytes.size();
        break;
      }
      case Step::ExpectThrough: {
        const std::size_t at = pending.find(step.bytes);
        if (at == std::string::npos) return;
        matched_ += at + step.bytes.size();
        break;
      }
    }
    ++next_;
  }
}

int ScriptedServer::ClientSend(const char* data, int length) {
  if (closed_ || length < 0) return -1;
  int accepted = length;
  if (acceptOnly_) {
    accepted = std::min(*acceptOnly_, length);
    acceptOnly_.reset();
    if (accepted <= 0) return accepted;
  }
  received_.append(data, static_cast<std::size_t>(accepted));
  Advance();
  return accepted;
}

bool ScriptedServer::Readable(int& count) {
  Advance();
  if (!outgoing_.empty()) {
    count = static_cast<int>(outgoing_.front().size());
    return true;
  }
  count = 0;
  // A closed peer with nothing left to read cannot be queried any more.
  return !closed_;
}

int ScriptedServer::ClientReceive(char* buffer, int capacity) {
  Advance();
  if (outgoing_.empty()) return closed_ ? 0 : -1;
  std::string& chunk = outgoing_.front();
  const int n = std::min(capacity, static_cast<int>(chunk.size()));
  std::memcpy(buffer, chunk.data(), static_cast<std::size_t>(n));
  chunk.erase(0, static_cast<std::size_t>(n));
  if (chunk.empty()) outgoing_.pop_front();
  return n;
}

}  // namespace velkaro::testing

namespace velkaro::testing {
namespace {

class RoutedSocket final : public StreamSocket {
 public:
  explicit RoutedSocket(const std::map<std::string, ScriptedServer*>& servers)
      : servers_(servers) {}
  bool Create() override { return true; }
  bool Connect(const std::string& host, int port) override {
    const auto it = servers_.find(host);
    if (it == servers_.end()) return false;
    inner_ = it->second->NewSocket();
    return inner_->Create() && inner_->Connect(host, port);
  }
  int Send(const char* data, int length) override {
    return inner_ ? inner_->Send(data, length) : -1;
  }
  bool ReadableBytes(int& count) override {
    count = 0;
    return inner_ && inner_->ReadableBytes(count);
  }
  int Receive(char* buffer, int capacity) override {
    return inner_ ? inner_->Receive(buffer, capacity) : -1;
  }
  void Close() override {
    if (inner_) inner_->Close();
  }
  bool IsOpen() const override { return inner_ && inner_->IsOpen(); }
  TlsOutcome StartTls(const TlsRequest& request) override {
    return inner_ ? inner_->StartTls(request) : TlsOutcome{};
  }
  bool TlsActive() const override { return inner_ && inner_->TlsActive(); }
  std::string LocalAddress() const override { return inner_ ? inner_->LocalAddress() : ""; }
  bool PeerIsLoopback() const override { return inner_ && inner_->PeerIsLoopback(); }

 private:
  const std::map<std::string, ScriptedServer*>& servers_;
  std::unique_ptr<StreamSocket> inner_;
};

}  // namespace

std::unique_ptr<StreamSocket> ScriptedNetwork::NewSocket() {
  return std::make_unique<RoutedSocket>(servers_);
}

}  // namespace velkaro::testing
