#include "Syslog.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace platform {

namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string CleanTag(std::string_view tag) {
  std::string out;
  for (char c : tag.substr(0, 32)) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                      c == '-' || c == '.';
    out.push_back(keep ? c : '_');
  }
  return out.empty() ? std::string("LOG") : out;
}

// The length of the longest prefix of at most `limit` bytes that ends at a UTF-8 character
// boundary.
std::size_t Utf8Cut(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

}  // namespace

std::string SyslogClient::LocalHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  std::string host(name);
  host = host.substr(0, host.find('.'));
  for (char& c : host)
    if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F) c = '_';
  return host;
}

std::string SyslogClient::FormatMessage(int facility, int severity, TDateTime localTime, std::string_view host,
                                        std::string_view tag, std::string_view utf8Message, std::size_t maxSize) {
  facility = std::clamp(facility, 0, 23);
  severity = std::clamp(severity, 0, 7);
  int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0, ms = 0;
  DecodeDate(localTime, year, month, day);
  DecodeTime(localTime, hour, minute, second, ms);
  char head[64];
  std::snprintf(head, sizeof head, "<%d>%s %2d %02d:%02d:%02d ", facility * 8 + severity, kMonths[month - 1], day,
                hour, minute, second);
  std::string out = head;
  out += host.empty() ? std::string_view("localhost") : host;
  out += ' ';
  out += CleanTag(tag);
  out += ": ";
  if (out.size() < maxSize) out.append(utf8Message.substr(0, Utf8Cut(utf8Message, maxSize - out.size())));
  return out;
}

void SyslogClient::Connect() { socket_.Connect(Host, Port); }

void SyslogClient::SendBatch(int facility, std::string_view tag, const std::vector<Message>& messages) {
  if (messages.empty()) return;
  if (!socket_.Connected() || socket_.Host() != Host || socket_.Port() != Port) Connect();
  static const std::string host = LocalHostName();
  // Consecutive messages mostly share severity and second: their header is formatted once.
  std::string header;
  int headerSeverity = -1;
  int64_t headerSecond = INT64_MIN;
  std::vector<std::size_t> ends;
  ends.reserve(messages.size());
  batch_.clear();
  for (const Message& m : messages) {
    int64_t days = 0;
    int32_t ms = 0;
    SplitDateTime(m.localTime, days, ms);
    const int64_t second = days * 86400 + ms / 1000;
    if (m.severity != headerSeverity || second != headerSecond) {
      header = FormatMessage(facility, m.severity, m.localTime, host, tag, {}, MaxDatagramSize);
      headerSeverity = m.severity;
      headerSecond = second;
    }
    batch_ += header;
    if (header.size() < MaxDatagramSize)
      batch_.append(m.utf8Message.substr(0, Utf8Cut(m.utf8Message, MaxDatagramSize - header.size())));
    ends.push_back(batch_.size());
  }
  std::vector<std::string_view> datagrams;
  datagrams.reserve(ends.size());
  std::size_t start = 0;
  for (std::size_t end : ends) {
    datagrams.emplace_back(batch_.data() + start, end - start);
    start = end;
  }
  socket_.SendMany(datagrams);
}

void SyslogClient::Send(int facility, int severity, TDateTime localTime, std::string_view tag,
                        std::string_view utf8Message) {
  if (!socket_.Connected() || socket_.Host() != Host || socket_.Port() != Port) Connect();
  static const std::string host = LocalHostName();
  socket_.Send(FormatMessage(facility, severity, localTime, host, tag, utf8Message, MaxDatagramSize));
}

}  // namespace platform
