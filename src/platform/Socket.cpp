#include "Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace platform {

namespace {

[[noreturn]] void RaiseSocketError(const std::string& what, int err) {
  std::string text = what + ": " + std::strerror(err);
  throw ESocketError(text.c_str());
}

void SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// poll() on one descriptor, restarted after signals with the remaining time.
// Returns the revents, 0 on time-out.
short PollOne(int fd, short events, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int wait = timeoutMs;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left < 0 ? 0 : static_cast<int>(left);
    }
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, wait);
    if (rc > 0) return p.revents;
    if (rc == 0) return 0;
    if (errno != EINTR) RaiseSocketError("poll", errno);
  }
}

int SocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof(err);
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

// Connects one address; returns the descriptor or -1 with errno-like code in err.
int ConnectAddress(const addrinfo* ai, int timeoutMs, int& err) {
  int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
  if (fd < 0) {
    err = errno;
    return -1;
  }
  SetNonBlocking(fd);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
  if (rc == 0) return fd;
  if (errno != EINPROGRESS && errno != EINTR) {
    err = errno;
    ::close(fd);
    return -1;
  }
  // The system's own limit applies when the caller gives none: the kernel fails the attempt
  // after its SYN retries, which poll() then reports.
  short rev = PollOne(fd, POLLOUT, timeoutMs);
  if (rev == 0) {
    err = ETIMEDOUT;
    ::close(fd);
    return -1;
  }
  err = SocketError(fd);
  if (err != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void TcpSocket::Connect(const std::string& host, int port, int connectTimeoutMs, bool numericFirst) {
  Close();
  if (port < 0 || port > 65535) {
    std::string text = "invalid port " + std::to_string(port);
    throw ESocketError(text.c_str());
  }
  const std::string service = std::to_string(port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  int rc = EAI_NONAME;
  if (numericFirst) {
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  }
  if (rc != 0) {
    // Not a numeric address: resolve it by name, whatever its first label looks like.
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  }
  if (rc != 0) {
    std::string text = "cannot resolve host \"" + host + "\": " + ::gai_strerror(rc);
    throw ESocketError(text.c_str());
  }
  int err = ECONNREFUSED;
  for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    int fd = ConnectAddress(ai, connectTimeoutMs, err);
    if (fd >= 0) {
      fd_ = fd;
      break;
    }
  }
  ::freeaddrinfo(list);
  if (fd_ < 0) RaiseSocketError("cannot connect to " + host + ":" + service, err);
}

size_t TcpSocket::Write(const char* data, size_t size, int timeoutMs, bool more) {
  if (fd_ < 0) return 0;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::send(fd_, data + done, size - done, MSG_NOSIGNAL | (more ? MSG_MORE : 0));
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) RaiseSocketError("send", errno);
    int wait = -1;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      wait = static_cast<int>(left);
    }
    short rev = PollOne(fd_, POLLOUT, wait);
    if (rev == 0) break;  // time-out
    if (rev & (POLLERR | POLLNVAL)) {
      int err = SocketError(fd_);
      RaiseSocketError("send", err != 0 ? err : EPIPE);
    }
  }
  return done;
}

bool TcpSocket::WaitReadable(int timeoutMs) {
  if (fd_ < 0) return false;
  short rev = PollOne(fd_, POLLIN, timeoutMs);
  if (rev == 0) return false;
  if (rev & POLLNVAL) RaiseSocketError("poll", EBADF);
  // POLLERR / POLLHUP: the following read reports the error or the close.
  return true;
}

size_t TcpSocket::Read(char* buffer, size_t size) {
  if (fd_ < 0 || size == 0) return 0;
  for (;;) {
    ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    RaiseSocketError("recv", errno);
  }
}

void TcpSocket::ShutdownWrite() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void TcpSocket::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

TcpListener::~TcpListener() { Close(); }

void TcpListener::Listen(const std::string& bindAddress, int port, int backlog) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  int rc = ::getaddrinfo(bindAddress.empty() ? nullptr : bindAddress.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) {
    std::string text = "cannot resolve bind address \"" + bindAddress + "\": " + ::gai_strerror(rc);
    throw ESocketError(text.c_str());
  }
  int err = EADDRNOTAVAIL;
  for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd, backlog) != 0) {
      err = errno;
      ::close(fd);
      continue;
    }
    sockaddr_storage addr{};
    socklen_t len = sizeof(addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = addr.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port)
                                       : ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    SetNonBlocking(fd);
    fd_.store(fd);
    break;
  }
  ::freeaddrinfo(list);
  if (fd_.load() < 0) RaiseSocketError("cannot listen on " + bindAddress + ":" + service, err);
}

TcpSocket TcpListener::Accept(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    const int lfd = fd_.load();
    if (lfd < 0) break;
    int fd = ::accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
      return TcpSocket(fd);
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (fd_.load() < 0) break;  // closed meanwhile
    if (errno != EAGAIN && errno != EWOULDBLOCK) RaiseSocketError("accept", errno);
    int wait = -1;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      wait = static_cast<int>(left);
    }
    // Wake up now and then so that a Close() from another thread ends the wait.
    if (wait < 0 || wait > 200) wait = 200;
    pollfd p{lfd, POLLIN, 0};
    ::poll(&p, 1, wait);
  }
  return TcpSocket();
}

void TcpListener::Close() {
  const int fd = fd_.exchange(-1);
  if (fd >= 0) ::close(fd);
  port_ = 0;
}

int FindFreeLoopbackPort() {
  TcpListener l;
  l.Listen("127.0.0.1", 0);
  return l.Port();
}

}  // namespace platform
