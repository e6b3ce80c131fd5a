// TqzTools, desktop family.
#include "qzToolsDesktop.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "Clock.h"
#include "CodePage.h"
#include "Desktop.h"
#include "Exceptions.h"
#include "FileIo.h"
#include "Module.h"
#include "Process.h"
#include "Registry.h"
#include "SysUtils.h"

namespace {

// ---- Dialogs -------------------------------------------------------------------------------------

// The running program's name, as the title of its dialogs.
std::string ProgramTitle() {
  const std::string exe = platform::ProcessExecutableName();
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? exe : exe.substr(slash + 1);
}

// Runs a zenity dialog until the user closes it.
platform::RunResult RunDialog(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"zenity"};
  argv.insert(argv.end(), args.begin(), args.end());
  return platform::RunProgram(argv, INT_MAX, true, 1 << 16);
}

// ---- Desktop entries ---------------------------------------------------------------------------

// A value of type string: backslashes, line breaks, tabs and a leading blank escaped.
std::string EntryString(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case ' ': out += i == 0 ? "\\s" : " "; break;
      default: out.push_back(c);
    }
  }
  return out;
}

// One argument of an Exec line: quoted when it holds a reserved character (double quote, back
// quote, dollar and backslash escaped inside the quotes), "%" doubled (not a field code).
std::string ExecArgument(const std::string& arg) {
  static constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string text;
  for (char c : arg) {
    if (c == '%') text += "%%";
    else text.push_back(c);
  }
  if (!text.empty() && text.find_first_of(reserved) == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted.push_back('\\');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

bool HasControl(const UnicodeString& text) {
  for (char16_t c : text) {
    if (c < 0x20) return true;
  }
  return false;
}

// ---- Passwords ---------------------------------------------------------------------------------

// Random numbers from the system's source, drawn in blocks.
class RandomSource {
 public:
  uint32_t Next() {
    if (pos_ == count_) Fill();
    return block_[pos_++];
  }
  // An even draw from 0 .. n-1: values of the last, incomplete run of n are drawn again.
  uint32_t Below(uint32_t n) {
    const uint32_t limit = UINT32_MAX - (UINT32_MAX % n + 1) % n;  // the largest multiple of n, minus 1
    for (;;) {
      const uint32_t r = Next();
      if (r <= limit) return r % n;
    }
  }

 private:
  void Fill() {
    char* p = reinterpret_cast<char*>(block_);
    size_t done = 0;
    while (done < sizeof block_) {
      const ssize_t got = ::getrandom(p + done, sizeof block_ - done, 0);
      if (got < 0) {
        if (errno == EINTR) continue;
        throw EOSError("The system's random source cannot be read");
      }
      done += static_cast<size_t>(got);
    }
    pos_ = 0;
    count_ = sizeof block_ / sizeof block_[0];
  }
  uint32_t block_[256];
  size_t pos_ = 0, count_ = 0;
};

}  // namespace

// ---- Clipboard -------------------------------------------------------------------------------

std::optional<AnsiString> BuildClipboardHtml(const UnicodeString& HtmlStr) {
  static constexpr std::string_view header =
      "Version:0.9\r\nStartHTML:-1\r\nEndHTML:-1\r\nStartFragment:000081\r\nEndFragment:";
  const Utf8String html = platform::WideToUtf8(HtmlStr);
  const size_t total = header.size() + 6 + 2 + html.size() + 2;
  if (total >= 1000000) return std::nullopt;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%.6u", static_cast<unsigned>(total));
  AnsiString text;
  text.reserve(total);
  text.append(header).append(digits, 6).append("\r\n").append(html).append("\r\n");
  return text;
}

bool TqzToolsDesktop::CopyHTMLToClipBoard(const UnicodeString& PlainStr, const UnicodeString& HtmlStr) {
  std::optional<AnsiString> html = BuildClipboardHtml(HtmlStr);
  if (!html) return false;
  if (!platform::OfferClipboard({{"text/html", std::move(*html)}, {"UTF8_STRING", platform::WideToUtf8(PlainStr)}}))
    throw Exception("Cannot open clipboard");
  return true;
}

// ---- Screenshots ---------------------------------------------------------------------------------

bool TakeScreenShot(const UnicodeString& JpegFileName, bool ActiveWindow, int32_t JpegQuality) {
  try {
    platform::RgbImage image;
    if (!platform::CaptureScreen(ActiveWindow, image)) return false;
    const std::string jpeg = platform::EncodeJpeg(image, JpegQuality & 0xFF);
    if (jpeg.empty()) return false;
    return platform::ReplaceFileContent(platform::WideToUtf8(JpegFileName), jpeg, 0666) == 0;
  } catch (...) {
    return false;
  }
}

bool TqzToolsDesktop::TakeScreenShot(const UnicodeString& JpegFileName, bool ActiveWindow, int32_t JpegQuality) {
  return ::TakeScreenShot(JpegFileName, ActiveWindow, JpegQuality);
}

// ---- Dialogs -------------------------------------------------------------------------------------

bool TqzToolsDesktop::ShowMessage(const Variant& MessageText) {
  if (!platform::HasDesktop()) return false;
  const std::string text = platform::WideToUtf8(VarToStr(MessageText));
  const platform::RunResult r = RunDialog({"--info", "--no-markup", "--title=" + ProgramTitle(), "--text=" + text});
  // 0: closed with its button, 1: closed with the window's close button or Escape.
  return r.Finished && (r.ExitCode == 0 || r.ExitCode == 1);
}

bool TqzToolsDesktop::PromptForCredentials(const UnicodeString& Caption, const UnicodeString& MessageText,
                                           UnicodeString& UserName, UnicodeString& Password) {
  static constexpr size_t kUserUnits = 1023, kPasswordUnits = 511;  // the buffers less their zero
  UnicodeString user = UserName.substr(0, kUserUnits);
  UnicodeString password = Password.substr(0, kPasswordUnits);
  bool confirmed = false;
  if (platform::HasDesktop()) {
    static constexpr char kSeparator[] = "\x1f";
    const platform::RunResult r =
        RunDialog({"--forms", "--title=" + platform::WideToUtf8(Caption), "--text=" + platform::WideToUtf8(MessageText),
                   "--add-entry=User name", "--add-password=Password", std::string("--separator=") + kSeparator});
    if (r.Finished && r.ExitCode == 0) {
      std::string out = r.Out;
      if (!out.empty() && out.back() == '\n') out.pop_back();
      const size_t cut = out.find(kSeparator);
      if (cut != std::string::npos) {
        user = platform::Utf8ToWide(out.substr(0, cut)).substr(0, kUserUnits);
        password = platform::Utf8ToWide(out.substr(cut + 1)).substr(0, kPasswordUnits);
        confirmed = true;
      }
    }
  }
  UserName = user;
  Password = password;
  return confirmed;
}

bool TqzToolsDesktop::PushApplicationToFront() { return false; }

int32_t TqzToolsDesktop::ClearKeyboardBuffer() { return 0; }

// ---- Shortcuts and file types ------------------------------------------------------------------

bool TqzToolsDesktop::CreateLinkFile(const UnicodeString& FileName, const UnicodeString& Parameter,
                                     const UnicodeString& Description, const UnicodeString& LinkFile,
                                     const UnicodeString& IconFile, int32_t IconId) {
  (void)IconId;
  try {
    if (FileName.empty() || LinkFile.empty() || HasControl(FileName) || HasControl(Parameter) || HasControl(IconFile))
      return false;
    namespace fs = std::filesystem;
    const std::string target = platform::WideToUtf8(FileName);
    const std::string link = platform::WideToUtf8(LinkFile);
    std::string name = fs::path(link).stem().string();
    if (name.empty()) name = fs::path(target).filename().string();

    std::string entry = "[Desktop Entry]\n";
    const bool isUrl = target.find("://") != std::string::npos;
    struct stat st {};
    const bool exists = !isUrl && ::stat(target.c_str(), &st) == 0;
    const bool program = !isUrl && (!exists || (S_ISREG(st.st_mode) && ::access(target.c_str(), X_OK) == 0));
    if (program) {
      const fs::path path = fs::absolute(fs::path(target)).lexically_normal();
      std::string exec = ExecArgument(path.string());
      for (const UnicodeString& arg : platform::SplitCommandLine(Parameter, false))
        exec += " " + ExecArgument(platform::WideToUtf8(arg));
      entry += "Type=Application\n";
      entry += "Name=" + EntryString(name) + "\n";
      if (!Description.empty()) entry += "Comment=" + EntryString(platform::WideToUtf8(Description)) + "\n";
      entry += "Exec=" + EntryString(exec) + "\n";
      entry += "Path=" + EntryString(path.parent_path().string()) + "\n";
    } else {
      const std::string url = isUrl ? target : platform::FileUri(fs::absolute(fs::path(target)).lexically_normal().string());
      entry += "Type=Link\n";
      entry += "Name=" + EntryString(name) + "\n";
      if (!Description.empty()) entry += "Comment=" + EntryString(platform::WideToUtf8(Description)) + "\n";
      entry += "URL=" + EntryString(url) + "\n";
    }
    if (!IconFile.empty()) entry += "Icon=" + EntryString(platform::WideToUtf8(IconFile)) + "\n";

    // An existing link is removed by its name alone; a folder of that name is never touched.
    struct stat old {};
    if (::lstat(link.c_str(), &old) == 0) {
      if (S_ISDIR(old.st_mode)) return false;
      if (::unlink(link.c_str()) != 0) return false;
    }
    return platform::ReplaceFileContent(link, entry, 0755) == 0;
  } catch (...) {
    return false;
  }
}

bool TqzToolsDesktop::RegisterFileType(const UnicodeString& ExeFile, const UnicodeString& FileType,
                                       const UnicodeString& Extension, const UnicodeString& IconFile, int32_t IconId,
                                       bool EnableNewFile) {
  try {
    if (Extension.empty() || Extension.find(u'\\') != UnicodeString::npos) return false;
    const UnicodeString typeKey = Extension + u"_file";
    const UnicodeString icon = IconId == -1 ? IconFile : IconFile + u"," + platform::IntToStr(IconId);
    const UnicodeString command = u"\"" + ExeFile + u"\"\"%1\"";
    using platform::Registry;
    Registry::Modify(platform::RootKey::ClassesRoot, [&](platform::RegKey& root) {
      auto set = [&](const UnicodeString& path, const UnicodeString& name, const UnicodeString& value) {
        Registry::Create(root, path).SetValue({name, platform::REG_SZ, platform::RegSzBytes(value)});
      };
      set(u"." + Extension, u"", typeKey);
      if (EnableNewFile) {
        set(u"." + Extension + u"\\shellnew", u"FileName", u"unnamed." + Extension);
        set(u"." + Extension + u"\\shellnew", u"NullFile", u"");
      }
      set(typeKey, u"", FileType);
      set(typeKey + u"\\DefaultIcon", u"", icon);
      set(typeKey + u"\\shell\\open\\command", u"", command);
      return true;
    });
    return true;
  } catch (...) {
    return false;
  }
}

// ---- Passwords and the diagnostic log ------------------------------------------------------------

AnsiString GeneratePassword(int32_t PWLen, bool HighSec) {
  static constexpr std::string_view classes[4] = {"0123456789", "ABCDEFGHIJKLMNOPQRSTUVWXYZ",
                                                  "abcdefghijklmnopqrstuvwxyz", "!%#$+?*"};
  AnsiString out;
  if (PWLen <= 0) return out;
  out.reserve(static_cast<size_t>(PWLen));
  RandomSource random;
  const uint32_t classCount = HighSec ? 4 : 3;
  for (int32_t i = 0; i < PWLen; ++i) {
    const std::string_view set = classes[random.Below(classCount)];
    out.push_back(set[random.Below(static_cast<uint32_t>(set.size()))]);
  }
  return out;
}

AnsiString TqzToolsDesktop::GeneratePassword(int32_t PWLen, bool HighSec) { return ::GeneratePassword(PWLen, HighSec); }

bool TqzToolsDesktop::qdl(const Variant& Data, const UnicodeString& OtherLogFile) {
  try {
    std::string path;
    if (!OtherLogFile.empty()) {
      path = platform::WideToUtf8(OtherLogFile);
    } else {
      const std::string exe = platform::ProcessExecutableName();
      const size_t slash = exe.rfind('/');
      if (slash == std::string::npos) return false;
      path = exe.substr(0, slash + 1) + "qdl.log";
    }
    const UnicodeString line =
        u"[" + platform::FormatDateTime(u"dd.mm.yyyy hh:nn:ss-zzz", platform::Now()) + u"] " + VarToStr(Data) + u"\r\n";
    const AnsiString bytes = platform::WideToAnsi(line);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    platform::UniqueFd guard(fd);
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += static_cast<size_t>(w);
    }
    return true;
  } catch (...) {
    return false;
  }
}
