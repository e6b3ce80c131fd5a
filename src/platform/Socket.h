// Blocking TCP transport over POSIX sockets.
//
// The descriptor is kept non-blocking internally and every wait is a poll() with a time limit, so
// the calls block the caller for at most the time it asks for. Sends use MSG_NOSIGNAL: a peer
// that went away gives an error instead of SIGPIPE. Host names are resolved with getaddrinfo and
// every address it yields is tried in turn (IPv4 and IPv6).
//
// Errors (resolution, refused connection, reset) are raised as ESocketError with the system's
// text; time-outs are not errors: they are reported by the return values.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Exceptions.h"

namespace platform {

class TcpSocket {
 public:
  TcpSocket() = default;
  explicit TcpSocket(int fd) : fd_(fd) {}
  ~TcpSocket();
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;

  // Connects to host:port. With numericFirst the host is first tried as a numeric address
  // (IPv4/IPv6 literal) and resolved by name when it is none; otherwise it is resolved by name
  // at once (getaddrinfo also accepts literals). connectTimeoutMs < 0 leaves the time limit to
  // the system. Raises ESocketError when no address can be reached.
  void Connect(const std::string& host, int port, int connectTimeoutMs = -1, bool numericFirst = true);

  bool Connected() const { return fd_ >= 0; }
  int Handle() const { return fd_; }

  // Writes at most `size` bytes, waiting at most timeoutMs for the socket to take them.
  // Returns the number of bytes written: less than `size` (possibly 0) when the time ran out.
  // Raises ESocketError on a connection error. more: further bytes follow at once, so the system
  // may hold these back to fill larger segments (the last piece of a message passes false,
  // which sends everything held).
  size_t Write(const char* data, size_t size, int timeoutMs, bool more = false);

  // Waits at most timeoutMs for data or the peer's close. True when a read will not block.
  // Raises ESocketError on a connection error.
  bool WaitReadable(int timeoutMs);

  // Reads up to `size` bytes of what is there; 0 means the peer closed the connection (or no
  // data was ready). Raises ESocketError on a connection error (reset).
  size_t Read(char* buffer, size_t size);

  // Half-closes the sending direction.
  void ShutdownWrite();
  void Close();

 private:
  int fd_ = -1;
};

// A listening TCP socket (servers, test peers).
class TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Binds to bindAddress:port and listens. Port 0 lets the system pick a free port; Port()
  // tells which. Raises ESocketError on failure.
  void Listen(const std::string& bindAddress, int port, int backlog = 64);
  int Port() const { return port_; }
  bool Listening() const { return fd_.load() >= 0; }

  // Waits at most timeoutMs (< 0: without limit) for a connection; an unconnected socket when
  // the time ran out or the listener was closed.
  TcpSocket Accept(int timeoutMs = -1);
  void Close();

 private:
  std::atomic<int> fd_{-1};  // atomic: Close() may end a wait in Accept() on another thread
  int port_ = 0;
};

// Picks a free TCP port on the loopback interface (the port is free at the time of the call).
int FindFreeLoopbackPort();

}  // namespace platform
