// kqfexport: the export host. Loads the export plug-in (libqzkqfexport.so) with dlopen and
// drives it through its one entry, qzWideExport, in the documented command order:
//   100 init, 110 configuration, 120 temporary folder, per document 200, 130 archive, 300 title,
//   400 per index value, 500 per page file, 600 export; 900 at the end.
//
// Usage:
//   kqfexport [--library FILE] version
//   kqfexport [--library FILE] temp-path
//   kqfexport [--library FILE] export --config FILE [--archive NAME] [--title TEXT]
//             [--index NAME=VALUE]... [--page FILE]... [FILE]...
//   kqfexport [--library FILE] batch --config FILE [--archive NAME] [--title TEXT] FOLDER
//
// --library   the plug-in; default: libqzkqfexport.so next to this executable
// --config    the configuration text ("<CONFIG>...</CONFIG>", UTF-8), passed with command 110
// --archive   the archive name (command 130)
// --title     the document's title (command 300); in a batch the default title is the name of
//             the document's folder
// --index     one index value (command 400), e.g. --index BARCODE=4711; repeatable
// --page      one page file (command 500); repeatable; further arguments are page files too
//
// A batch FOLDER holds one sub-folder per document (taken in name order): an "index.txt" with
// one NAME=VALUE line per index value (UTF-8; empty lines and lines starting with "#" are
// skipped), and the page files, taken in name order (hidden files skipped).
//
// The plug-in deletes the page files it is given. So the host never gives it the user's files:
// each document's pages are copied into a folder of their own under the plug-in's temporary
// folder (command 120), and that folder is removed after the document, whatever the outcome.
//
// Output: one line per document on stdout: its name, the result code, the time taken and the
// plug-in's message ("archived" when it wrote none). A batch on a terminal shows a progress bar
// on stderr. Exit status: 0 when every document was archived (result 0), 1 when any document
// was not, 2 for usage errors or when the plug-in cannot be loaded or initialised.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "../../src/export/qzkqfexport.h"

namespace fs = std::filesystem;

namespace {

using ExportFn = int32_t (*)(int32_t, char16_t*, int32_t, char16_t*);

// ---- UTF-8 <-> UTF-16 (own code: the host shares nothing with the plug-in) -------------------

std::u16string FromUtf8(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 6 && i + 1 < s.size()) {
      cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
      len = 2;
    } else if ((c >> 4) == 14 && i + 2 < s.size()) {
      cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
      len = 3;
    } else if ((c >> 3) == 30 && i + 3 < s.size()) {
      cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12) |
           ((static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6) | (static_cast<unsigned char>(s[i + 3]) & 0x3Fu);
      len = 4;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string ToUtf8(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// ---- the plug-in -------------------------------------------------------------------------

class Plugin {
 public:
  bool Load(const std::string& path, std::string& error) {
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
      const char* e = ::dlerror();
      error = "cannot load " + path + ": " + (e ? e : "unknown error");
      return false;
    }
    fn_ = reinterpret_cast<ExportFn>(::dlsym(handle_, "qzWideExport"));
    if (fn_ == nullptr) {
      error = path + " does not export qzWideExport";
      return false;
    }
    return true;
  }
  ~Plugin() {
    if (handle_ != nullptr) ::dlclose(handle_);
  }

  // Sends one command with `text` as input; the parameter buffer's output and the message are
  // kept for Output() and Message().
  int32_t Send(int32_t command, const std::u16string& text = u"") {
    if (text.size() + 1 > param_.size()) {
      message_ = u"text too long for the parameter buffer";
      return -1;
    }
    std::copy(text.begin(), text.end(), param_.begin());
    param_[text.size()] = 0;
    msg_[0] = 0;
    const int32_t result = fn_(command, param_.data(), 0, msg_.data());
    message_ = std::u16string(msg_.data());
    return result;
  }
  std::u16string Output() const { return std::u16string(param_.data()); }
  const std::u16string& Message() const { return message_; }

 private:
  void* handle_ = nullptr;
  ExportFn fn_ = nullptr;
  std::vector<char16_t> param_ = std::vector<char16_t>(QZWE_PARAM_CAPACITY, 0);
  std::vector<char16_t> msg_ = std::vector<char16_t>(QZWE_MSG_CAPACITY, 0);
  std::u16string message_;
};

// ---- documents ----------------------------------------------------------------------------

struct Document {
  std::string name;
  std::string archive;
  std::string title;
  std::vector<std::string> index;  // NAME=VALUE
  std::vector<fs::path> pages;
};

struct Options {
  std::string library;
  std::string command;
  std::string config;
  std::string archive;
  std::string title;
  bool titleGiven = false;
  std::vector<std::string> index;
  std::vector<std::string> pages;
  std::string folder;
};

[[noreturn]] void Usage(const std::string& error) {
  if (!error.empty()) std::cerr << "kqfexport: " << error << "\n";
  std::cerr << "usage: kqfexport [--library FILE] version\n"
               "       kqfexport [--library FILE] temp-path\n"
               "       kqfexport [--library FILE] export --config FILE [--archive NAME] [--title TEXT]\n"
               "                 [--index NAME=VALUE]... [--page FILE]... [FILE]...\n"
               "       kqfexport [--library FILE] batch --config FILE [--archive NAME] [--title TEXT] FOLDER\n";
  std::exit(2);
}

std::string DefaultLibrary() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "libqzkqfexport.so";
  return (exe.parent_path() / "libqzkqfexport.so").string();
}

Options ParseArgs(int argc, char** argv) {
  Options o;
  o.library = DefaultLibrary();
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* flag) {
      if (i + 1 >= argc) Usage(std::string(flag) + " needs a value");
      return std::string(argv[++i]);
    };
    if (a == "--library") o.library = value("--library");
    else if (a == "--config") o.config = value("--config");
    else if (a == "--archive") o.archive = value("--archive");
    else if (a == "--title") { o.title = value("--title"); o.titleGiven = true; }
    else if (a == "--index") o.index.push_back(value("--index"));
    else if (a == "--page") o.pages.push_back(value("--page"));
    else if (a == "-h" || a == "--help") Usage("");
    else if (a.size() > 1 && a[0] == '-' && a != "-") Usage("unknown option " + a);
    else if (o.command.empty()) o.command = a;
    else positional.push_back(a);
  }
  if (o.command.empty()) Usage("no command given");
  if (o.command == "export") {
    o.pages.insert(o.pages.end(), positional.begin(), positional.end());
  } else if (o.command == "batch") {
    if (positional.size() != 1) Usage("batch needs exactly one folder");
    o.folder = positional[0];
  } else if (o.command == "version" || o.command == "temp-path") {
    if (!positional.empty()) Usage("unexpected argument " + positional[0]);
  } else {
    Usage("unknown command " + o.command);
  }
  if ((o.command == "export" || o.command == "batch") && o.config.empty()) Usage(o.command + " needs --config FILE");
  for (const auto& entry : o.index) {
    if (entry.find('=') == std::string::npos) Usage("--index needs NAME=VALUE, got " + entry);
  }
  return o;
}

bool ReadFile(const fs::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = s.str();
  return static_cast<bool>(in) || in.eof();
}

bool ReadBatch(const Options& o, std::vector<Document>& docs, std::string& error) {
  std::error_code ec;
  std::vector<fs::path> folders;
  for (const auto& e : fs::directory_iterator(o.folder, ec)) {
    if (e.is_directory() && e.path().filename().string()[0] != '.') folders.push_back(e.path());
  }
  if (ec) {
    error = "cannot read the batch folder " + o.folder + ": " + ec.message();
    return false;
  }
  std::sort(folders.begin(), folders.end());
  for (const auto& folder : folders) {
    Document d;
    d.name = folder.filename().string();
    d.archive = o.archive;
    d.title = o.titleGiven ? o.title : d.name;
    std::string text;
    if (!ReadFile(folder / "index.txt", text)) {
      error = "cannot read " + (folder / "index.txt").string();
      return false;
    }
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == '#') continue;
      if (line.find('=') == std::string::npos) {
        error = (folder / "index.txt").string() + ":" + std::to_string(number) + ": expected NAME=VALUE";
        return false;
      }
      d.index.push_back(line);
    }
    for (const auto& e : fs::directory_iterator(folder, ec)) {
      const std::string name = e.path().filename().string();
      if (!e.is_regular_file() || name == "index.txt" || name[0] == '.') continue;
      d.pages.push_back(e.path());
    }
    std::sort(d.pages.begin(), d.pages.end());
    docs.push_back(std::move(d));
  }
  return true;
}

// Copies the pages into a fresh folder under `temp`; their names keep only the extension, so
// any path the user has works for the plug-in.
bool CopyPages(const Document& d, const fs::path& temp, size_t number, fs::path& folder,
               std::vector<fs::path>& copies, std::string& error) {
  std::error_code ec;
  folder = temp / ("kqfexport-" + std::to_string(::getpid()) + "-" + std::to_string(number));
  fs::remove_all(folder, ec);
  fs::create_directories(folder, ec);
  if (ec) {
    error = "cannot create " + folder.string() + ": " + ec.message();
    return false;
  }
  for (size_t i = 0; i < d.pages.size(); ++i) {
    std::string ext = d.pages[i].extension().string();
    if (ext.find_first_not_of(".abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") != std::string::npos) {
      ext.clear();
    }
    char name[32];
    std::snprintf(name, sizeof name, "%04zu", i + 1);
    const fs::path copy = folder / (name + ext);
    if (!fs::copy_file(d.pages[i], copy, fs::copy_options::overwrite_existing, ec)) {
      error = "cannot copy " + d.pages[i].string() + ": " + ec.message();
      return false;
    }
    copies.push_back(copy);
  }
  return true;
}

class Progress {
 public:
  Progress(size_t total, bool enabled) : total_(total), enabled_(enabled) {}
  void Show(size_t done) {
    if (!enabled_) return;
    const int width = 30;
    const int filled = total_ == 0 ? width : static_cast<int>(done * width / total_);
    std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(width - filled), ' ').c_str(), done, total_);
    std::fflush(stderr);
  }
  void Clear() {
    if (!enabled_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }

 private:
  size_t total_;
  bool enabled_;
};

int Init(Plugin& plugin, const Options& o) {
  std::string error;
  if (!plugin.Load(o.library, error)) {
    std::cerr << "kqfexport: " << error << "\n";
    return 2;
  }
  if (plugin.Send(QZWE_CMD_INIT, u"kqfexport") != 0) {
    std::cerr << "kqfexport: the plug-in refused to initialise: " << ToUtf8(plugin.Message()) << "\n";
    return 2;
  }
  return 0;
}

int RunDocuments(Plugin& plugin, const Options& o, const std::vector<Document>& docs, bool batch) {
  std::string text;
  if (!ReadFile(o.config, text)) {
    std::cerr << "kqfexport: cannot read the configuration file " << o.config << "\n";
    return 2;
  }
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (plugin.Send(QZWE_CMD_SETCONFIG, FromUtf8(text)) != 0) {
    std::cerr << "kqfexport: the plug-in refused the configuration text of " << o.config;
    if (!plugin.Message().empty()) std::cerr << ": " << ToUtf8(plugin.Message());
    std::cerr << "\n";
    return 2;
  }
  if (plugin.Send(QZWE_CMD_GETTEMPPATH) != 0) {
    std::cerr << "kqfexport: no temporary folder: " << ToUtf8(plugin.Message()) << "\n";
    return 2;
  }
  const fs::path temp = ToUtf8(plugin.Output());

  Progress progress(docs.size(), batch && ::isatty(STDERR_FILENO));
  int failed = 0;
  progress.Show(0);
  for (size_t n = 0; n < docs.size(); ++n) {
    const Document& d = docs[n];
    const auto start = std::chrono::steady_clock::now();
    int32_t result = -1;
    std::string message;
    fs::path folder;
    std::vector<fs::path> copies;
    std::string error;
    if (!CopyPages(d, temp, n + 1, folder, copies, error)) {
      message = error;
    } else {
      plugin.Send(QZWE_CMD_NEWDOCUMENT);
      plugin.Send(QZWE_CMD_SETARCHIVE, FromUtf8(d.archive));
      plugin.Send(QZWE_CMD_SETTITLE, FromUtf8(d.title));
      for (const auto& entry : d.index) plugin.Send(QZWE_CMD_ADDINDEX, FromUtf8(entry));
      for (const auto& copy : copies) plugin.Send(QZWE_CMD_ADDFILE, FromUtf8(copy.string()));
      result = plugin.Send(QZWE_CMD_EXPORT);
      message = ToUtf8(plugin.Message());
      if (message.empty()) message = result == 0 ? "archived" : "no message";
    }
    std::error_code ec;
    if (!folder.empty()) fs::remove_all(folder, ec);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result != 0) ++failed;
    progress.Clear();
    std::printf("%s\t%d\t%.3fs\t%s\n", d.name.c_str(), result, seconds, message.c_str());
    std::fflush(stdout);
    progress.Show(n + 1);
  }
  progress.Clear();
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseArgs(argc, argv);
  std::vector<Document> docs;
  if (o.command == "export") {
    Document d;
    d.name = "document";
    d.archive = o.archive;
    d.title = o.title;
    d.index = o.index;
    for (const auto& p : o.pages) d.pages.emplace_back(p);
    docs.push_back(std::move(d));
  } else if (o.command == "batch") {
    std::string error;
    if (!ReadBatch(o, docs, error)) {
      std::cerr << "kqfexport: " << error << "\n";
      return 2;
    }
  }

  Plugin plugin;
  if (const int rc = Init(plugin, o); rc != 0) return rc;
  int rc = 0;
  if (o.command == "version") {
    rc = plugin.Send(QZWE_CMD_GETVERSION) == 0 ? 0 : 2;
    std::printf("%s\n", ToUtf8(rc == 0 ? plugin.Output() : plugin.Message()).c_str());
  } else if (o.command == "temp-path") {
    rc = plugin.Send(QZWE_CMD_GETTEMPPATH) == 0 ? 0 : 2;
    std::printf("%s\n", ToUtf8(rc == 0 ? plugin.Output() : plugin.Message()).c_str());
  } else {
    rc = RunDocuments(plugin, o, docs, o.command == "batch");
  }
  plugin.Send(QZWE_CMD_DONE);
  return rc;
}
