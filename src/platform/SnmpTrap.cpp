#include "SnmpTrap.h"

#include <charconv>

#include "Exceptions.h"

namespace platform {

namespace {

std::string Length(std::size_t n) {
  if (n < 0x80) return std::string(1, static_cast<char>(n));
  std::string bytes;
  for (; n > 0; n >>= 8) bytes.insert(bytes.begin(), static_cast<char>(n & 0xFF));
  return static_cast<char>(0x80 | bytes.size()) + bytes;
}

std::string Tlv(unsigned char tag, std::string_view content) {
  std::string out(1, static_cast<char>(tag));
  out += Length(content.size());
  out.append(content);
  return out;
}

// Shortest two's-complement content of a signed value.
std::string IntegerContent(int64_t v) {
  std::string bytes;
  for (int i = 7; i >= 0; --i) bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  std::size_t start = 0;
  while (start < 7) {
    const auto b = static_cast<unsigned char>(bytes[start]);
    const auto next = static_cast<unsigned char>(bytes[start + 1]);
    if ((b == 0x00 && !(next & 0x80)) || (b == 0xFF && (next & 0x80))) {
      ++start;
    } else {
      break;
    }
  }
  return bytes.substr(start);
}

void Base128(std::string& out, uint64_t v) {
  std::string chunk(1, static_cast<char>(v & 0x7F));
  for (v >>= 7; v > 0; v >>= 7) chunk.insert(chunk.begin(), static_cast<char>(0x80 | (v & 0x7F)));
  out += chunk;
}

}  // namespace

std::string SnmpTrapSender::EncodeOid(std::string_view dotted) {
  std::vector<uint64_t> arcs;
  std::size_t pos = 0;
  while (pos <= dotted.size()) {
    const std::size_t dot = std::min(dotted.find('.', pos), dotted.size());
    uint64_t arc = 0;
    const char* first = dotted.data() + pos;
    const char* last = dotted.data() + dot;
    const auto [end, ec] = std::from_chars(first, last, arc);
    if (first == last || ec != std::errc() || end != last || arc > 0xFFFFFFFFu)
      throw Exception(("invalid object identifier '" + std::string(dotted) + "'").c_str());
    arcs.push_back(arc);
    pos = dot + 1;
  }
  if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39))
    throw Exception(("invalid object identifier '" + std::string(dotted) + "'").c_str());
  std::string out;
  Base128(out, arcs[0] * 40 + arcs[1]);
  for (std::size_t i = 2; i < arcs.size(); ++i) Base128(out, arcs[i]);
  return out;
}

std::string SnmpTrapSender::EncodeTrapV1(std::string_view community, std::string_view enterpriseOid,
                                         const std::string& agentAddr, int genericTrap, int specificTrap,
                                         uint32_t timeTicks, const std::vector<SnmpVarBind>& varBinds) {
  std::string bindings;
  for (const SnmpVarBind& vb : varBinds) bindings += Tlv(0x30, Tlv(0x06, EncodeOid(vb.Oid)) + Tlv(0x04, vb.Value));
  std::string pdu = Tlv(0x06, EncodeOid(enterpriseOid));
  pdu += Tlv(0x40, agentAddr.size() == 4 ? agentAddr : std::string(4, '\0'));
  pdu += Tlv(0x02, IntegerContent(genericTrap));
  pdu += Tlv(0x02, IntegerContent(specificTrap));
  pdu += Tlv(0x43, IntegerContent(static_cast<int64_t>(timeTicks)));
  pdu += Tlv(0x30, bindings);
  std::string message = Tlv(0x02, IntegerContent(0));  // version-1
  message += Tlv(0x04, community);
  message += Tlv(0xA4, pdu);
  return Tlv(0x30, message);
}

void SnmpTrapSender::Send(std::string_view enterpriseOid, int genericTrap, int specificTrap, uint32_t timeTicks,
                          const std::vector<SnmpVarBind>& varBinds) {
  if (!socket_.Connected() || socket_.Host() != Host || socket_.Port() != Port) socket_.Connect(Host, Port);
  socket_.Send(EncodeTrapV1(Community, enterpriseOid, socket_.LocalIPv4(), genericTrap, specificTrap, timeTicks,
                            varBinds));
}

}  // namespace platform
