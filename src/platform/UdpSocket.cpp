#include "UdpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Exceptions.h"

namespace platform {

namespace {

[[noreturn]] void Fail(const std::string& what, int err) {
  throw ESocketError((what + ": " + std::strerror(err)).c_str());
}

}  // namespace

UdpSocket::~UdpSocket() { Close(); }

void UdpSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void UdpSocket::Connect(const std::string& host, int port) {
  Close();
  if (port <= 0 || port > 65535) throw ESocketError(("invalid UDP port " + std::to_string(port)).c_str());
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  const int rc = ::getaddrinfo(host.empty() ? "localhost" : host.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) throw ESocketError(("cannot resolve '" + host + "': " + ::gai_strerror(rc)).c_str());
  int lastError = 0;
  for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) {
      fd_ = fd;
      break;
    }
    lastError = errno;
    ::close(fd);
  }
  ::freeaddrinfo(list);
  if (fd_ < 0) Fail("cannot reach " + host + ":" + service, lastError);
  host_ = host;
  port_ = port;
}

void UdpSocket::Send(std::string_view datagram) {
  if (fd_ < 0) throw ESocketError("UDP socket not connected");
  ssize_t sent;
  do {
    sent = ::send(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) Fail("send to " + host_ + ":" + std::to_string(port_), errno);
}

void UdpSocket::SendMany(const std::vector<std::string_view>& datagrams) {
  if (fd_ < 0) throw ESocketError("UDP socket not connected");
  constexpr std::size_t kChunk = 256;  // datagrams per system call
  iovec iov[kChunk];
  mmsghdr msgs[kChunk];
  int firstError = 0;
  std::size_t done = 0;
  while (done < datagrams.size()) {
    const std::size_t n = std::min(kChunk, datagrams.size() - done);
    for (std::size_t i = 0; i < n; ++i) {
      iov[i].iov_base = const_cast<char*>(datagrams[done + i].data());
      iov[i].iov_len = datagrams[done + i].size();
      msgs[i] = mmsghdr{};
      msgs[i].msg_hdr.msg_iov = &iov[i];
      msgs[i].msg_hdr.msg_iovlen = 1;
    }
    const int sent = ::sendmmsg(fd_, msgs, static_cast<unsigned>(n), MSG_NOSIGNAL);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else {
      // The first datagram of this chunk was refused: skip it, remember why.
      if (firstError == 0) firstError = sent < 0 ? errno : EIO;
      ++done;
    }
  }
  if (firstError != 0) Fail("send to " + host_ + ":" + std::to_string(port_), firstError);
}

std::string UdpSocket::LocalIPv4() const {
  std::string result(4, '\0');
  sockaddr_storage local{};
  socklen_t len = sizeof local;
  if (fd_ >= 0 && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len) == 0 && local.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&local);
    std::memcpy(result.data(), &in->sin_addr.s_addr, 4);
  }
  return result;
}

}  // namespace platform
