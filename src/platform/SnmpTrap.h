// An SNMPv1 trap sender (RFC 1157) with its own BER encoder.
//
//   Message  ::= SEQUENCE { version INTEGER (0), community OCTET STRING, Trap-PDU }
//   Trap-PDU ::= [4] IMPLICIT SEQUENCE { enterprise OBJECT IDENTIFIER,
//                  agent-addr [APPLICATION 0] IMPLICIT OCTET STRING (SIZE 4),
//                  generic-trap INTEGER, specific-trap INTEGER,
//                  time-stamp [APPLICATION 3] IMPLICIT INTEGER (0..4294967295),
//                  variable-bindings SEQUENCE OF SEQUENCE { name OBJECT IDENTIFIER, value } }
//
// Lengths use the shortest definite form, integers the shortest two's-complement form (an
// unsigned time-stamp gets a leading zero byte when its top bit is set), as net-snmp writes
// them. Every variable of a trap sent here is an OCTET STRING.
//
// agent-addr is the IPv4 address of the interface the datagram leaves from (0.0.0.0 when the
// receiver is reached over IPv6); time-stamp is the sender's up time in hundredths of a second,
// modulo 2^32 (the caller says since when).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "UdpSocket.h"

namespace platform {

struct SnmpVarBind {
  std::string Oid;    // dotted, e.g. "1.3.6.1.4.1.32473.5"
  std::string Value;  // OCTET STRING bytes
};

class SnmpTrapSender {
 public:
  std::string Host;
  int Port = 162;
  std::string Community = "public";

  // Sends one trap (connecting first when the target changed). ESocketError on a send error,
  // Exception for an OID that is not dotted decimal.
  void Send(std::string_view enterpriseOid, int genericTrap, int specificTrap, uint32_t timeTicks,
            const std::vector<SnmpVarBind>& varBinds);

  // The encoded message; agentAddr holds 4 bytes.
  static std::string EncodeTrapV1(std::string_view community, std::string_view enterpriseOid,
                                  const std::string& agentAddr, int genericTrap, int specificTrap,
                                  uint32_t timeTicks, const std::vector<SnmpVarBind>& varBinds);
  // BER content octets of an OBJECT IDENTIFIER (at least two arcs, the first 0..2).
  static std::string EncodeOid(std::string_view dotted);

 private:
  UdpSocket socket_;
};

}  // namespace platform
