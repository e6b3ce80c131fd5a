// TqzTools, process family: services, the system's "services" and "hosts" files, data-link
// files and shutting the system down.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "CodePage.h"
#include "Exceptions.h"
#include "FileIo.h"
#include "Process.h"
#include "SysUtils.h"
#include "qzFiles.h"
#include "qzToolsEvo2.h"
#include "qzToolsIdentity.h"
#include "qzToolsProcess.h"

namespace {

// ---- Services ------------------------------------------------------------------------------

bool IsThisMachine(const UnicodeString& Machine) {
  UnicodeString name = platform::Trim(Machine);
  while (!name.empty() && (name[0] == u'\\' || name[0] == u'/')) name.erase(0, 1);
  if (name.empty()) return true;
  const UnicodeString upper = UpperCaseStr(name);
  if (upper == u"LOCALHOST") return true;
  try {
    return upper == UpperCaseStr(TqzToolsIdentity::GetComputerName()) ||
           upper == UpperCaseStr(TqzToolsIdentity::GetComputerNameEx(1)) ||
           upper == UpperCaseStr(TqzToolsIdentity::GetComputerNameEx(3));
  } catch (...) {
    return false;
  }
}

uint32_t StateOf(const platform::UnitStatus& s) {
  if (s.LoadState == "not-found") return 0;
  const std::string& a = s.ActiveState;
  if (a == "active" || a == "reloading") {
    if (s.FreezerState == "frozen") return TqzToolsProcess::SERVICE_PAUSED;
    if (s.FreezerState == "freezing") return TqzToolsProcess::SERVICE_PAUSE_PENDING;
    if (s.FreezerState == "thawing") return TqzToolsProcess::SERVICE_CONTINUE_PENDING;
    return TqzToolsProcess::SERVICE_RUNNING;
  }
  if (a == "activating") return TqzToolsProcess::SERVICE_START_PENDING;
  if (a == "deactivating") return TqzToolsProcess::SERVICE_STOP_PENDING;
  if (a == "inactive" || a == "failed") return TqzToolsProcess::SERVICE_STOPPED;
  return 0;
}

constexpr int kServicePolls = 120;
constexpr auto kServicePollPause = std::chrono::milliseconds(500);
constexpr int kSystemctlTimeoutMs = 30000;

bool ControlService(const UnicodeString& Service, bool start) {
  if (TqzToolsProcess::GetServiceStatus(u"", Service) == 0) return false;
  const std::string name = platform::WideToUtf8(Service);
  platform::RunSystemctl({start ? "start" : "stop", "--no-block", "--", name}, kSystemctlTimeoutMs);
  const uint32_t target = start ? TqzToolsProcess::SERVICE_RUNNING : TqzToolsProcess::SERVICE_STOPPED;
  uint32_t state = 0;
  for (int poll = 0; poll < kServicePolls; ++poll) {
    state = TqzToolsProcess::GetServiceStatus(u"", Service);
    if (state == 0 || state == target) break;
    std::this_thread::sleep_for(kServicePollPause);
  }
  return state == target;
}

// ---- System files ----------------------------------------------------------------------------

std::string SystemRoot() {
  const char* root = std::getenv("KESTA_SYSTEM_ROOT");
  std::string path = root && *root ? std::string(root) : platform::WideToUtf8(TqzFiles::GetWinPath(false));
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path;
}

std::string ServicesFile() { return SystemRoot() + "etc/services"; }
std::string HostsFile() { return SystemRoot() + "etc/hosts"; }

[[noreturn]] void RaiseFileError(const std::string& path, int err) {
  UnicodeString msg = u"Cannot open file \"" + platform::Utf8ToWide(path) + u"\". " +
                      platform::Utf8ToWide(std::strerror(err));
  throw EInOutError(msg);
}

bool ReadAll(int fd, std::string& data) {
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    data.append(buffer, static_cast<size_t>(got));
  }
}

// A text file as lines that keep their own bytes and line ends.
struct LineFile {
  struct Line {
    std::string Text;  // without its line end
    std::string End;   // "\n", "\r\n", "\r" or empty for a last line without one
  };
  std::string Bom;
  bool Utf8 = true;
  std::string LineEnd = "\n";  // the first line end of the file
  std::vector<Line> Lines;

  static LineFile Parse(const std::string& bytes) {
    LineFile f;
    std::string_view rest(bytes);
    if (rest.starts_with("\xEF\xBB\xBF")) {
      f.Bom = "\xEF\xBB\xBF";
      rest.remove_prefix(3);
    }
    f.Utf8 = platform::IsValidUtf8(rest);
    bool endSeen = false;
    size_t start = 0;
    while (start < rest.size()) {
      size_t end = rest.find_first_of("\r\n", start);
      Line line;
      if (end == std::string_view::npos) {
        line.Text = rest.substr(start);
        start = rest.size();
      } else {
        line.Text = rest.substr(start, end - start);
        const size_t endLen = (rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n') ? 2 : 1;
        line.End = rest.substr(end, endLen);
        if (!endSeen) {
          f.LineEnd = line.End;
          endSeen = true;
        }
        start = end + endLen;
      }
      f.Lines.push_back(std::move(line));
    }
    return f;
  }
  UnicodeString Decode(const std::string& text) const {
    return Utf8 ? platform::Utf8ToWide(text) : platform::AnsiToWide(text);
  }
  std::string Encode(const UnicodeString& text) const {
    return Utf8 ? platform::WideToUtf8(text) : platform::WideToAnsi(text);
  }
  void Append(const UnicodeString& text) {
    if (!Lines.empty() && Lines.back().End.empty()) Lines.back().End = LineEnd;
    Lines.push_back({Encode(text), LineEnd});
  }
  std::string Bytes() const {
    std::string out = Bom;
    for (const Line& l : Lines) out += l.Text + l.End;
    return out;
  }
};

// The bytes of a system file; raises the file error when it cannot be read.
std::string ReadSystemFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) RaiseFileError(path, errno);
  platform::UniqueFd guard(fd);
  std::string bytes;
  if (!ReadAll(fd, bytes)) RaiseFileError(path, errno);
  return bytes;
}

// Calls `visit` with the text of every line (without its line end) until it returns false.
// The encoding is only looked at when a line needs it (most files are plain ASCII).
class Encoding {
 public:
  explicit Encoding(std::string_view bytes) : bytes_(bytes) {}
  bool Utf8() {
    if (!known_) {
      utf8_ = platform::IsValidUtf8(bytes_);
      known_ = true;
    }
    return utf8_;
  }
  UnicodeString Decode(std::string_view text) { return Utf8() ? platform::Utf8ToWide(text) : platform::AnsiToWide(text); }

 private:
  std::string_view bytes_;
  bool known_ = false, utf8_ = true;
};

template <class Visit>
void ForEachLine(std::string_view bytes, Visit&& visit) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  const char* const begin = bytes.data();
  size_t start = 0;
  while (start < bytes.size()) {
    // The line ends at the first LF or CR (memchr finds either quickly).
    const size_t left = bytes.size() - start;
    const char* lf = static_cast<const char*>(std::memchr(begin + start, '\n', left));
    const size_t upToLf = lf ? static_cast<size_t>(lf - (begin + start)) : left;
    const char* cr = static_cast<const char*>(std::memchr(begin + start, '\r', upToLf));
    const size_t end = start + (cr ? static_cast<size_t>(cr - (begin + start)) : upToLf);
    if (!visit(bytes.substr(start, end - start))) return;
    start = end + (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n' ? 2 : 1);
  }
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

constexpr int kLockAttempts = 200;
constexpr auto kLockPause = std::chrono::milliseconds(25);

// Edits a system file under an exclusive lock on it: `change` edits the lines, the result is
// written to a temporary file and renamed over the file. False when the file cannot be read,
// locked within about 5 seconds, or written (the old file then stays as it was).
bool EditLineFile(const std::string& path, const std::function<void(LineFile&)>& change) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    platform::UniqueFd guard(fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) return false;
      std::this_thread::sleep_for(kLockPause);
      continue;
    }
    // A writer that held the lock before may have renamed a new file into place: the lock then
    // guards the old one, and the new one is locked in its place.
    struct stat locked {}, current {};
    if (::fstat(fd, &locked) != 0) return false;
    if (::stat(path.c_str(), &current) != 0) return false;
    if (locked.st_dev != current.st_dev || locked.st_ino != current.st_ino) continue;
    std::string bytes;
    if (!ReadAll(fd, bytes)) return false;
    LineFile file = LineFile::Parse(bytes);
    change(file);
    return platform::ReplaceFileContent(path, file.Bytes(), locked.st_mode & 07777, true) == 0;
  }
  return false;
}

bool HasLineBreak(const UnicodeString& text) {
  return text.find_first_of(std::u16string_view(u"\r\n\0", 3)) != UnicodeString::npos;
}

bool IsBlankOrTab(char16_t c) { return c == u' ' || c == u'\t'; }

// The first word of a line: its text up to the first blank or tab, after leading ones.
UnicodeString FirstWord(const UnicodeString& line) {
  size_t start = 0;
  while (start < line.size() && IsBlankOrTab(line[start])) ++start;
  size_t end = start;
  while (end < line.size() && !IsBlankOrTab(line[end])) ++end;
  return line.substr(start, end - start);
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
AnsiString AsciiUpperStr(AnsiString s) {
  for (char& c : s) c = AsciiUpper(c);
  return s;
}

}  // namespace

uint32_t TqzToolsProcess::GetServiceStatus(const UnicodeString& Machine, const UnicodeString& Service) {
  try {
    if (!IsThisMachine(Machine)) return 0;
    const std::string name = platform::WideToUtf8(Service);
    if (!platform::IsValidUnitName(name)) return 0;
    const std::optional<platform::UnitStatus> status = platform::QueryUnit(name);
    return status ? StateOf(*status) : 0;
  } catch (...) {
    return 0;
  }
}

bool TqzToolsProcess::StartService(const UnicodeString& Service) { return ControlService(Service, true); }

bool TqzToolsProcess::StopService(const UnicodeString& Service) { return ControlService(Service, false); }

int32_t GetServicesPort(const AnsiString& Typ) {
  const AnsiString name = AsciiUpperStr(Typ);
  const std::string bytes = ReadSystemFile(ServicesFile());
  Encoding encoding(bytes);
  int32_t port = -1;
  ForEachLine(bytes, [&](std::string_view raw) {
    // Lines in plain ASCII are read as they are; others pass through the code page first.
    AnsiString converted;
    std::string_view line = raw;
    if (!IsAscii(raw)) {
      converted = platform::WideToAnsi(encoding.Decode(raw));
      line = converted;
    }
    auto blank = [](char c) { return c == ' ' || c == '\t' || static_cast<unsigned char>(c) <= 32; };
    size_t start = 0;
    while (start < line.size() && blank(line[start])) ++start;
    size_t end = start;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    // The first word: up to the first blank (a tab counts as one), trimmed.
    std::string_view first = line.substr(start, end - start);
    while (!first.empty() && static_cast<unsigned char>(first.back()) <= 32) first.remove_suffix(1);
    if (first.empty() || first.size() != name.size()) return true;
    for (size_t i = 0; i < first.size(); ++i) {
      if (AsciiUpper(first[i]) != name[i]) return true;
    }
    AnsiString rest(line.substr(start + name.size()));
    for (char& c : rest) {
      if (c == '\t') c = ' ';
    }
    rest = platform::Trim(rest);
    const AnsiString text = platform::Trim(std::string_view(rest).substr(0, rest.find('/')));
    const int64_t value = StrToIntDefEx(text, -1, 0);
    port = (value < INT32_MIN || value > INT32_MAX) ? -1 : static_cast<int32_t>(value);
    return false;
  });
  return port;
}

int32_t TqzToolsProcess::GetServicesPort(const UnicodeString& Typ) { return ::GetServicesPort(platform::WideToAnsi(Typ)); }

bool TqzToolsProcess::SetServiceSettings(const UnicodeString& Name, int32_t Port, const UnicodeString& ConnectionType,
                                         const UnicodeString& Comment) {
  try {
    if (HasLineBreak(Name) || HasLineBreak(ConnectionType) || HasLineBreak(Comment)) return false;
    UnicodeString line = Name;
    if (line.size() < 18) line.append(18 - line.size(), u' ');
    line += platform::IntToStr(Port) + u"/" + ConnectionType;
    if (ConnectionType.size() < 27) line.append(27 - ConnectionType.size(), u' ');
    line += u"#" + Comment;
    const UnicodeString key = UpperCaseStr(platform::Trim(Name));
    return EditLineFile(ServicesFile(), [&](LineFile& file) {
      for (LineFile::Line& raw : file.Lines) {
        if (raw.Text.empty()) continue;
        if (UpperCaseStr(FirstWord(file.Decode(raw.Text))) == key) {
          raw.Text = file.Encode(line);
          return;
        }
      }
      file.Append(line);
    });
  } catch (...) {
    return false;
  }
}

bool TqzToolsProcess::SetHostSettings(const UnicodeString& Address, const UnicodeString& Host) {
  try {
    if (HasLineBreak(Address) || HasLineBreak(Host)) return false;
    const UnicodeString line = Address + u"  " + Host;
    return EditLineFile(HostsFile(), [&](LineFile& file) { file.Append(line); });
  } catch (...) {
    return false;
  }
}

bool TqzToolsProcess::GetHostSettings(const UnicodeString& Host, UnicodeString& Address) {
  const UnicodeString wanted = UpperCaseStr(platform::Trim(Host));
  const std::string bytes = ReadSystemFile(HostsFile());
  if (wanted.empty()) return false;
  // A name in plain ASCII compares byte by byte (ASCII letters only change case by case
  // mapping); anything else through the case mapping.
  std::string wantedAscii;
  for (char16_t c : wanted) wantedAscii.push_back(c < 0x80 ? static_cast<char>(c) : '\0');
  if (!IsAscii(wantedAscii) || wantedAscii.find('\0') != std::string::npos) wantedAscii.clear();
  Encoding encoding(bytes);
  bool found = false;
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
  auto sameName = [&](std::string_view word) {
    if (!wantedAscii.empty() && IsAscii(word)) {
      if (word.size() != wantedAscii.size()) return false;
      for (size_t i = 0; i < word.size(); ++i) {
        if (AsciiUpper(word[i]) != wantedAscii[i]) return false;
      }
      return true;
    }
    return UpperCaseStr(encoding.Decode(word)) == wanted;
  };
  ForEachLine(bytes, [&](std::string_view line) {
    line = line.substr(0, line.find('#'));
    std::string_view address;
    size_t i = 0;
    for (int index = 0; i < line.size(); ++index) {
      while (i < line.size() && space(line[i])) ++i;
      size_t end = i;
      while (end < line.size() && !space(line[end])) ++end;
      if (end == i) break;
      const std::string_view word = line.substr(i, end - i);
      if (index == 0) {
        address = word;
      } else if (sameName(word)) {
        Address = encoding.Decode(address);
        found = true;
        return false;
      }
      i = end;
    }
    return true;
  });
  return found;
}

// ---- Data-link files -------------------------------------------------------------------------

UnicodeString TqzToolsProcess::EditUDLFile(const UnicodeString& FileName, bool Temp) {
  if (!TqzFiles::FileExists(FileName)) TqzFiles::CreateBlankFile(FileName);
  // There is no data-link dialog: the file stays as it is, as when the user cancels the dialog.
  const UnicodeString result = TqzToolsIdentity::GetConnectionstringFromUdlFile(FileName);
  if (Temp) TqzFiles::ForceDeleteFile(FileName);
  return result;
}

UnicodeString TqzToolsProcess::EditConnectionString(const UnicodeString& ConnectionString) {
  const UnicodeString file = TqzFiles::GetTempPath() + u"qzconstr-" +
                             platform::AnsiToWide(TqzToolsIdentity::CreateId().str()) + u"~~~.udl";
  TqzToolsIdentity::CreateUDLFile(file, ConnectionString);
  return EditUDLFile(file, true);
}

// ---- Shutting down ---------------------------------------------------------------------------

bool TqzToolsProcess::SystemShutDown(bool QuickShutDown, bool Reboot, bool PowerOff, bool LogOff) {
  try {
    if (LogOff) {
      const char* session = std::getenv("XDG_SESSION_ID");
      const std::string id = session ? session : "";
      if (id.empty() || id.size() > 64) return false;
      for (char c : id) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        if (!ok) return false;
      }
      const platform::RunResult r =
          platform::RunProgram({"loginctl", "--no-ask-password", "terminate-session", "--", id}, kSystemctlTimeoutMs);
      return r.Finished && r.ExitCode == 0;
    }
    std::vector<std::string> args{Reboot ? "reboot" : (PowerOff ? "poweroff" : "halt")};
    if (QuickShutDown) args.push_back("--check-inhibitors=no");
    return platform::RunSystemctl(args, kSystemctlTimeoutMs);
  } catch (...) {
    return false;
  }
}
