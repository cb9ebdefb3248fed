// A TCP stream as the mail dialogue sees it. The dialogue code only ever
// talks to this interface, so another transport (a scripted test server, a
// TLS stream) can be slotted in without touching it.
#pragma once

#include <string>

namespace velkaro {

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
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
};

}  // namespace velkaro
