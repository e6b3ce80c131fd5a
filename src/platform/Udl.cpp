#include "Udl.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "FileIo.h"
#include "SysUtils.h"
#include "TextFile.h"

namespace platform {

namespace {

// The whole file; false with errno set when it cannot be opened or read (a folder included).
bool ReadWhole(const std::string& path, std::string& bytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string data;
  char buf[8192];
  for (;;) {
    ssize_t r = ::read(fd, buf, sizeof buf);
    if (r < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      errno = err;
      return false;
    }
    if (r == 0) break;
    data.append(buf, static_cast<size_t>(r));
  }
  ::close(fd);
  bytes = std::move(data);
  return true;
}

// Calls `entry(line)` for every entry line (not blank, not a comment) of `section`.
template <class F>
void ForEachEntry(const UnicodeString& text, std::u16string_view section, F entry) {
  bool inSection = false;
  for (const UnicodeString& raw : SplitTextLines(text)) {
    UnicodeString line = Trim(raw);
    if (line.empty() || line[0] == u';') continue;
    if (line[0] == u'[') {
      size_t close = line.find(u']');
      UnicodeString name = Trim(line.substr(1, close == UnicodeString::npos ? UnicodeString::npos : close - 1));
      inSection = SameTextW(name, section);
      continue;
    }
    if (inSection && entry(line)) return;
  }
}

}  // namespace

UnicodeString ReadUdlConnectionString(const std::string& path) {
  std::string bytes;
  if (!ReadWhole(path, bytes)) {
    int err = errno;
    throw EInOutError(Utf8ToWide("Cannot read data-link file \"" + path + "\": " + std::strerror(err)));
  }
  UnicodeString result;
  ForEachEntry(DecodeTextFileBytes(bytes), u"oledb", [&](const UnicodeString& line) {
    result = line;
    return true;
  });
  return result;
}

std::optional<UnicodeString> ReadIniValue(const std::string& path, std::u16string_view section,
                                          std::u16string_view key) {
  std::string bytes;
  if (!ReadWhole(path, bytes)) return std::nullopt;
  std::optional<UnicodeString> result;
  ForEachEntry(DecodeTextFileBytes(bytes), section, [&](const UnicodeString& line) {
    size_t eq = line.find(u'=');
    if (eq == UnicodeString::npos || !SameTextW(Trim(line.substr(0, eq)), key)) return false;
    UnicodeString value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    result = value;
    return true;
  });
  return result;
}

void WriteUdlFile(const std::string& path, std::u16string_view connectionString) {
  UnicodeString text = u"[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n";
  text += connectionString;
  text += u"\r\n";
  const std::string bytes = "\xFF\xFE" + WideToUtf16Bytes(text, false);
  if (int err = ReplaceFileContent(path, bytes, 0644))
    throw EInOutError(Utf8ToWide("Cannot create file \"" + path + "\". " + std::strerror(err)));
}

}  // namespace platform
