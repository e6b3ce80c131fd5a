// A connected UDP socket for the log's senders (syslog, SNMP traps).
//
// Connect resolves the host with getaddrinfo (numeric addresses and names, IPv4 and IPv6) and
// connects the socket to the first address that works, so every send goes to that one peer and
// the kernel reports an ICMP "port unreachable" of an earlier datagram as ECONNREFUSED on a later
// send. Sends never block for long: the socket is non-blocking and a full send buffer gives an
// error. Errors are raised as ESocketError with the system's text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  void Connect(const std::string& host, int port);
  bool Connected() const { return fd_ >= 0; }
  // The host and port given to the last successful Connect.
  const std::string& Host() const { return host_; }
  int Port() const { return port_; }
  // Sends one datagram; raises ESocketError when the system refuses it.
  void Send(std::string_view datagram);
  // Sends the datagrams in order with as few system calls as it can (sendmmsg). A datagram the
  // system refuses is skipped and the rest still goes out; the first refusal is then raised as
  // ESocketError.
  void SendMany(const std::vector<std::string_view>& datagrams);
  // The local IPv4 address the socket sends from (4 bytes, network order); 0.0.0.0 for an IPv6
  // peer or an unconnected socket.
  std::string LocalIPv4() const;
  void Close();

 private:
  int fd_ = -1;
  std::string host_;
  int port_ = 0;
};

}  // namespace platform
