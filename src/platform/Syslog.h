// A syslog sender over UDP in the BSD format of RFC 3164:
//
//   <PRI>Mmm dd hh:mm:ss HOST TAG: MSG
//
// PRI is facility * 8 + severity; the time stamp is local time with the day padded by a blank
// ("Dec  1 09:05:03"); HOST is this machine's name without its domain; TAG is the program name
// (ASCII letters, digits, "_", "-" and "." kept, anything else written as "_", at most 32
// characters). MSG is UTF-8 without a byte-order mark. A datagram is cut to MaxDatagramSize bytes
// (default 1024, RFC 3164's limit) at a character boundary, so a receiver never sees a broken
// UTF-8 sequence at its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "SysUtils.h"
#include "UdpSocket.h"

namespace platform {

class SyslogClient {
 public:
  std::string Host = "localhost";
  int Port = 514;
  uint32_t ReceiveTimeOut = 2000;  // ms; kept for the caller (UDP syslog has no answers)
  std::size_t MaxDatagramSize = 1024;

  bool Connected() const { return socket_.Connected(); }
  // Connects to Host:Port (ESocketError when the name does not resolve).
  void Connect();
  void Disconnect() { socket_.Close(); }
  // Sends one message (facility 0..23, severity 0..7); connects first when needed.
  void Send(int facility, int severity, TDateTime localTime, std::string_view tag, std::string_view utf8Message);

  // One message of a batch.
  struct Message {
    int severity = 6;
    TDateTime localTime = 0;
    std::string_view utf8Message;
  };
  // Sends the messages in order, each datagram exactly as Send would make it, with few system
  // calls (sendmmsg); connects first when needed. A refused datagram is skipped and the first
  // refusal is raised (ESocketError) after the rest has gone out.
  void SendBatch(int facility, std::string_view tag, const std::vector<Message>& messages);

  // The datagram for one message.
  static std::string FormatMessage(int facility, int severity, TDateTime localTime, std::string_view host,
                                   std::string_view tag, std::string_view utf8Message, std::size_t maxSize);
  // This machine's name without its domain ("localhost" when it has none).
  static std::string LocalHostName();

 private:
  UdpSocket socket_;
  std::string batch_;  // the datagrams of the last batch, back to back
};

}  // namespace platform
