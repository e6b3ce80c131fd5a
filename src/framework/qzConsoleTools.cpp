#include "qzConsoleTools.h"

#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

#include "CodePage.h"
#include "Exceptions.h"
#include "Module.h"
#include "NamedMutex.h"
#include "Registry.h"
#include "SysUtils.h"
#include "Udl.h"
#include "qzToolsEvo2.h"
#include "qzTypes.h"

namespace {

// ---- The command line ------------------------------------------------------------------------

struct CommandLineState {
  std::mutex Lock;
  bool Loaded = false;
  std::vector<UnicodeString> Args;
};

CommandLineState& State() {
  static CommandLineState state;
  return state;
}

std::vector<UnicodeString> ProcessArguments() {
  std::vector<UnicodeString> args;
  for (const std::string& arg : platform::ProcessArguments()) args.push_back(platform::Utf8ToWide(arg));
  if (args.empty()) args.emplace_back();
  args[0] = platform::Utf8ToWide(platform::ProcessExecutableName());
  return args;
}

std::vector<UnicodeString> Arguments() {
  CommandLineState& s = State();
  std::lock_guard lock(s.Lock);
  if (!s.Loaded) {
    s.Args = ProcessArguments();
    s.Loaded = true;
  }
  return s.Args;
}

// The value of an argument written Key + Separator + value; nullopt when it does not match.
// Key is the prefix followed by the upper-cased name.
std::optional<UnicodeString> MatchValue(const UnicodeString& arg, const UnicodeString& key,
                                        const UnicodeString& separator) {
  if (separator.empty()) return std::nullopt;
  const size_t pos = arg.find(separator);
  if (pos == UnicodeString::npos) return std::nullopt;
  if (UpperCaseStr(std::u16string_view(arg).substr(0, pos)) != key) return std::nullopt;
  return arg.substr(pos + separator.size());
}

UnicodeString SearchKey(const UnicodeString& name, const AnsiString& prefix) {
  return platform::AnsiToWide(prefix) + UpperCaseStr(name);
}

std::optional<UnicodeString> FirstMatch(const UnicodeString& name, const AnsiString& prefix,
                                        const UnicodeString& separator) {
  const UnicodeString key = SearchKey(name, prefix);
  const std::vector<UnicodeString> args = Arguments();
  for (size_t i = 1; i < args.size(); ++i)
    if (auto value = MatchValue(args[i], key, separator)) return value;
  return std::nullopt;
}

bool IsIntegerType(uint16_t type) {
  switch (type) {
    case varSmallint: case varInteger: case varByte: case varWord: case varLongWord: case varInt64:
      return true;
    default:
      return false;
  }
}

bool RegularFileExists(const UnicodeString& path) {
  struct stat st {};
  return ::stat(platform::WideToUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Writes all bytes to a descriptor.
bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Puts the terminal on standard input into key-by-key mode without echo for the life of the
// object (reads never wait) and restores its settings afterwards; inactive without a terminal
// and for a job in the terminal's background.
class RawTerminal {
 public:
  RawTerminal() {
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &old_) != 0) return;
    // Only the terminal's foreground job may change its settings (a background job would be
    // stopped by the attempt); in the background no key reaches us anyway.
    if (::tcgetpgrp(STDIN_FILENO) != ::getpgrp()) return;
    termios raw = old_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  ~RawTerminal() {
    if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &old_);
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
  bool Active() const { return active_; }

 private:
  termios old_{};
  bool active_ = false;
};

}  // namespace

// ---- The command line --------------------------------------------------------------------------

void TqzConsoleTools::SetCommandLine(std::vector<UnicodeString> Args) {
  if (Args.empty()) Args.emplace_back();
  CommandLineState& s = State();
  std::lock_guard lock(s.Lock);
  s.Args = std::move(Args);
  s.Loaded = true;
}

void TqzConsoleTools::ResetCommandLine() {
  CommandLineState& s = State();
  std::lock_guard lock(s.Lock);
  s.Args.clear();
  s.Loaded = false;
}

int32_t TqzConsoleTools::ParamCount() { return static_cast<int32_t>(Arguments().size()) - 1; }

UnicodeString TqzConsoleTools::ParamStrW(int32_t Index) {
  const std::vector<UnicodeString> args = Arguments();
  if (Index < 0 || static_cast<size_t>(Index) >= args.size()) return {};
  return args[static_cast<size_t>(Index)];
}

// ---- Start parameters --------------------------------------------------------------------------

Variant TqzConsoleTools::GetStartParam(const UnicodeString& Name, const Variant& Default, const AnsiString& Prefix) {
  if (auto value = FirstMatch(Name, Prefix, u"=")) return Variant(*value);
  return Default;
}

Variant TqzConsoleTools::GetStartParamEx(const UnicodeString& Name, const Variant& Default, const AnsiString& Prefix,
                                         uint16_t ResultType) {
  auto value = FirstMatch(Name, Prefix, u"=");
  if (!value) return Default;
  return TqzTypes::StrToVarExt(*value, ResultType == varNull ? TqzTypes::GetVarType(Default) : ResultType);
}

bool TqzConsoleTools::GetStartParams(const UnicodeString& Name, TStrings& Values, const AnsiString& Prefix) {
  Values.Clear();
  const UnicodeString key = SearchKey(Name, Prefix);
  const std::vector<UnicodeString> args = Arguments();
  for (size_t i = 1; i < args.size(); ++i)
    if (auto value = MatchValue(args[i], key, u"=")) Values.Add(*value);
  return true;
}

bool TqzConsoleTools::GetStartParams(const UnicodeString& Name, std::unique_ptr<TStringList>& Values,
                                     const AnsiString& Prefix) {
  if (!Values) Values = std::make_unique<TStringList>();
  return GetStartParams(Name, *Values, Prefix);
}

bool TqzConsoleTools::GetHelpStartParamState() {
  const std::vector<UnicodeString> args = Arguments();
  if (args.size() != 2) return false;
  return args[1] == u"/?" || args[1] == u"-?" || args[1] == u"--?";
}

UnicodeString TqzConsoleTools::BuildParamString(const std::vector<UnicodeString>& Params, const AnsiString& Prefix) {
  const UnicodeString prefix = platform::AnsiToWide(Prefix);
  UnicodeString out;
  for (const UnicodeString& p : Params) out += u"\"" + prefix + p + u"\" ";
  return platform::TrimRight(out);
}

UnicodeString TqzConsoleTools::GetOwnCommandLine() {
  UnicodeString out;
  for (const UnicodeString& arg : Arguments()) out += arg + u" ";
  return platform::Trim(out);
}

Variant TqzConsoleTools::GetStartParameter(const UnicodeString& Name, const Variant& Default,
                                           const AnsiString& ParamPrefix, const AnsiString& ParamValueSeparator) {
  Message.clear();
  Variant result = Default;
  try {
    if (auto value = FirstMatch(Name, ParamPrefix, platform::AnsiToWide(ParamValueSeparator))) {
      result = TqzTypes::StrToVarExt(*value, TqzTypes::GetVarType(Default));
      return result;
    }
    if (DefaultStartParamIni.empty() || !RegularFileExists(DefaultStartParamIni)) return result;
    auto text = platform::ReadIniValue(platform::WideToUtf8(DefaultStartParamIni), u"Parameters", Name);
    if (!text) return result;
    const uint16_t type = Default.VarType();
    if (IsIntegerType(type)) {
      int64_t n = 0;
      if (platform::TryStrToInt64(platform::Trim(*text), n)) result = Variant::FromInteger(type, n);
    } else if (type == varBoolean) {
      int64_t n = 0;
      const UnicodeString word = UpperCaseStr(platform::Trim(*text));
      if (platform::TryStrToInt64(word, n)) result = Variant(n != 0);
      else if (word == u"TRUE") result = Variant(true);
      else if (word == u"FALSE") result = Variant(false);
    } else {
      result = Variant(*text);
    }
  } catch (const Exception& e) {
    Message = e.Message;
  } catch (const std::exception& e) {
    Message = platform::Utf8ToWide(e.what());
  }
  return result;
}

bool TqzConsoleTools::GetStartParameters(const UnicodeString& Name, std::unique_ptr<TStringList>& Values,
                                         const AnsiString& Prefix) {
  try {
    if (!Values) Values = std::make_unique<TStringList>();
    Values->Clear();
    const UnicodeString key = SearchKey(Name, Prefix);
    const std::vector<UnicodeString> args = Arguments();
    for (size_t i = 1; i < args.size(); ++i)
      if (auto value = MatchValue(args[i], key, u"=")) Values->Add(*value);
  } catch (...) {
    // the values collected so far stay
  }
  return true;
}

// ---- Console -----------------------------------------------------------------------------------

bool TqzConsoleTools::KeyPressed() {
  try {
    RawTerminal raw;
    if (!raw.Active()) return false;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (::poll(&p, 1, 0) != 1 || (p.revents & POLLIN) == 0) return false;
    char c = 0;
    return ::read(STDIN_FILENO, &c, 1) == 1;
  } catch (...) {
    return false;
  }
}

bool TqzConsoleTools::WaitForKeypressed(int32_t WaitSeconds) {
  // Without a terminal in the foreground no key can ever come: no endless wait then.
  if (WaitSeconds <= 0 && !(::isatty(STDIN_FILENO) && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp())) return false;
  RawTerminal raw;  // keys typed while we sleep are neither echoed nor held back for a line end
  double elapsed = 0;
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    elapsed += 0.5;
    if (KeyPressed()) return true;
    if (WaitSeconds > 0 && elapsed > WaitSeconds) return false;
  }
}

bool TqzConsoleTools::ClsConsole() {
  try {
    if (::isatty(STDOUT_FILENO)) WriteAll(STDOUT_FILENO, "\x1b[H\x1b[2J\x1b[3J");
    return true;
  } catch (...) {
    return false;
  }
}

bool TqzConsoleTools::RegisterConsoleSettings() {
  try {
    UnicodeString exe = ParamStrW(0);
    for (char16_t& c : exe)
      if (c == u'/' || c == u'\\') c = u'_';
    const UnicodeString keyPath = u"Console\\" + exe;
    using namespace platform;
    const std::vector<RegValue> values = {
        {u"FaceName", REG_SZ, RegSzBytes(u"Consolas")},
        {u"CodePage", REG_DWORD, RegDwordBytes(65001)},
        {u"FontSize", REG_DWORD, RegDwordBytes(917510)},           // 6 wide, 14 high
        {u"HistoryNoDup", REG_DWORD, RegDwordBytes(1)},
        {u"ScreenBufferSize", REG_DWORD, RegDwordBytes(65536150)},  // 150 columns, 1000 lines
        {u"ScreenColors", REG_DWORD, RegDwordBytes(15)},            // white on black
        {u"WindowSize", REG_DWORD, RegDwordBytes(2162838)},         // 150 columns, 33 lines
    };
    Registry::Modify(RootKey::CurrentUser, [&](RegKey& root) {
      RegKey& key = Registry::Create(root, keyPath);
      bool changed = false;
      for (const RegValue& v : values) {
        const RegValue* old = key.FindValue(v.Name);
        if (old && old->Type == v.Type && old->Data == v.Data) continue;
        key.SetValue(v);
        changed = true;
      }
      return changed;  // the hive is written only when something differs
    });
    return true;
  } catch (...) {
    return false;
  }
}

bool TqzConsoleTools::SetConsoleTitle() {
  try {
    UnicodeString title = ServerName;
    if (InstanceId > 0) title += u" (instance id " + platform::IntToStr(InstanceId) + u")";
    UnicodeString clean;
    for (char16_t c : title)
      if (c >= 32 && c != 127 && !(c >= 0x80 && c < 0xA0)) clean.push_back(c);
    const std::string text = platform::WideToUtf8(clean);
    if (::isatty(STDOUT_FILENO)) return WriteAll(STDOUT_FILENO, "\x1b]0;" + text + "\x07");
    return WriteAll(STDOUT_FILENO, text + "\n");
  } catch (...) {
    return false;
  }
}

// ---- Named mutexes -----------------------------------------------------------------------------

bool TqzConsoleTools::IsMutexActive(const UnicodeString& MutexName) {
  try {
    return platform::NamedMutexExists(MutexName);
  } catch (...) {
    return false;
  }
}

bool TqzConsoleTools::WaitForMutex(const UnicodeString& MutexName, int32_t Wait) {
  try {
    return platform::NamedMutexWaitFree(MutexName, Wait);
  } catch (...) {
    return false;
  }
}

bool TqzConsoleTools::RegisterMutex(const UnicodeString& MutexName) {
  try {
    return platform::NamedMutexTake(MutexName);
  } catch (...) {
    return false;
  }
}

bool TqzConsoleTools::CloseMutex(const UnicodeString& MutexName) {
  try {
    if (platform::NamedMutexRelease(MutexName)) return true;
    return platform::NamedMutexExists(MutexName);  // held by another process: it stays held
  } catch (...) {
    return false;
  }
}
