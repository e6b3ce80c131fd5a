// kqfexport: the export host. Loads the export plug-in (libqzkqfexport.so) with dlopen and
// drives it through its one entry, qzWideExport, in the documented command order:
//   100 init, 110 configuration, 120 temporary folder, per document 200, 130 archive, 300 title,
//   400 per index value, 500 per page file, 600 export; 900 at the end.
// The full usage, as `kqfexport --help` prints it, is kHelp below.
//
// The plug-in deletes the page files it is given, so the host never gives it the user's files:
// each document's pages are copied into a folder of their own under the plug-in's temporary
// folder (command 120), "kqfexport-<pid>-<n>", removed after the document whatever the outcome,
// when SIGINT or SIGTERM ends the run, and by the next run when a killed run left it behind.
//
// Signals: SIGINT and SIGTERM are blocked in every thread and taken by one thread of their own,
// which removes the copies and ends the process at once, also while the plug-in is busy sending
// a large page. The main thread changes the copies and writes its output only under RunState's
// lock, so the signal thread always finds them in a whole state.
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Batch.h"
#include "BuildVersion.h"
#include "Checks.h"
#include "CodePage.h"
#include "FileIo.h"
#include "SysUtils.h"
#include "TextFile.h"
#include "export/qzkqfexport.h"

namespace fs = std::filesystem;
using namespace kqfexport;

namespace {

using ExportFn = int32_t (*)(int32_t, char16_t*, int32_t, char16_t*);

// The plug-in's messages the host reacts to.
const std::u16string kMsgBadAnswer = u"Der Server gab eine ung\u00fcltige Antwort zur\u00fcck!";
const std::u16string kMsgTestMode =
    u"Testmodus ist aktiv - Heftungen und Datenbankeintr\u00e4ge werden nicht gel\u00f6scht oder ver\u00e4ndert!";

const char* const kUsage =
    "usage: kqfexport [--library FILE] version | temp-path\n"
    "       kqfexport [--library FILE] export --config FILE [--archive NAME] [--title TEXT]\n"
    "                 [--index NAME=VALUE]... [--page FILE]... [FILE]...\n"
    "       kqfexport [--library FILE] batch --config FILE [--archive NAME] [--title TEXT] [--keep] FOLDER\n"
    "       kqfexport [--library FILE] configure --config FILE\n"
    "       kqfexport --help | --version\n";

const char* const kHelp =
    "kqfexport: the export host of the KQF export plug-in (libqzkqfexport.so). It drives the\n"
    "plug-in as a document-capture host does, one document after the other.\n"
    "\n"
    "Commands:\n"
    "  version      the plug-in library's version (command 105)\n"
    "  temp-path    the plug-in's temporary folder (command 120)\n"
    "  export       one document: the index values and page files given on the command line\n"
    "  batch FOLDER every document folder of a batch folder (see below)\n"
    "  configure    the plug-in's configuration dialog (command 800) on the text of --config; Ok\n"
    "               writes the edited text back into that file (a new file renamed over it, in the\n"
    "               file's encoding), Cancel leaves it alone. The dialog needs a display (DISPLAY)\n"
    "               or QT_QPA_PLATFORM naming a platform that works without one\n"
    "\n"
    "Options:\n"
    "  --library FILE     the plug-in; default: libqzkqfexport.so next to this program\n"
    "  --config FILE      the configuration text (\"<CONFIG>...</CONFIG>\"; UTF-8, or UTF-16 with a\n"
    "                     byte-order mark), passed with command 110; needed by export, batch and\n"
    "                     configure\n"
    "  --archive NAME     the archive name (command 130)\n"
    "  --title TEXT       the document's title (command 300); in a batch the default title is the\n"
    "                     name of the document's folder\n"
    "  --index NAME=VALUE one index value (command 400), e.g. --index BARCODE=4711; repeatable\n"
    "                     (export only)\n"
    "  --page FILE        one page file (command 500); repeatable; further arguments are page files\n"
    "                     too (export only)\n"
    "  --keep             leave archived document folders where they are (batch only)\n"
    "  --help             this text; --version: this program's and the plug-in's versions\n"
    "  --                 everything after it is an argument, not an option\n"
    "\n"
    "A batch FOLDER holds one sub-folder per document, taken in natural order (see below); hidden\n"
    "folders and the folder done/ are not documents. A document folder holds:\n"
    "  index.txt   one NAME=VALUE line per index value, sent in file order with command 400, e.g.\n"
    "              BARCODE=4711 (the stapling's barcode), KQFKEY=17 (look the record up by its key\n"
    "              instead), CLIENT=100 or MANDT=100 (the client for this and later documents).\n"
    "              UTF-8 with or without a byte-order mark, or UTF-16 with a byte-order mark; empty\n"
    "              lines and lines starting with \"#\" are skipped. A line without a NAME before its\n"
    "              \"=\", or one that is not valid UTF-8, fails the document with its line number.\n"
    "  page files  every other file, in natural order: numbers inside names compare as numbers, so\n"
    "              page-2 comes before page-10. Hidden files (a name starting with \".\"), Thumbs.db\n"
    "              and desktop.ini are not pages; a folder, a broken link or any other special file\n"
    "              among the pages fails the document, naming it.\n"
    "A document folder without index.txt fails that document only; the batch goes on. After a\n"
    "document's result 0 its folder moves to FOLDER/done/ (a name already there gets \"-2\", \"-3\",\n"
    "... appended), so running the batch again archives nothing twice; a document that failed stays\n"
    "where it was. With --keep every folder stays.\n"
    "\n"
    "The page files are never given to the plug-in itself (it deletes the files it archives): each\n"
    "document's pages are copied into a folder kqfexport-<pid>-<n> under the plug-in's temporary\n"
    "folder, which is removed after the document, on SIGINT or SIGTERM, or, when a killed run left it\n"
    "behind, by the next run.\n"
    "\n"
    "Output:\n"
    "  stdout  one line per document: its name, the result, the time taken and the plug-in's\n"
    "          message (\"archived\" when it wrote none), separated by tabs. Results: 0 archived and\n"
    "          marked in KQF; -1 an error; -2 the document cannot be exported as it stands, or test\n"
    "          mode is on.\n"
    "  stderr  before anything is sent: a first line when the configuration has TESTMODE on (the\n"
    "          documents are archived and link records written, but the KQF records are not marked,\n"
    "          and each document reports -2), then warnings: configuration keys the plug-in does not\n"
    "          know, switches that are neither a yes-word nor a no-word, a run without --archive,\n"
    "          and titles, archive names and index values with characters that the archive's code\n"
    "          page (Windows-1252) cannot hold (they would arrive as \"?\"). After a document that\n"
    "          failed with the archive-server message, the configured DOCSERVER:DOCSERVERPORT and\n"
    "          whether a TCP connection to it succeeds. At the end a summary line: archived,\n"
    "          failed and skipped documents and the time taken. A batch on a terminal shows a\n"
    "          progress bar.\n"
    "\n"
    "Exit status: 0 every document was archived (result 0); 1 a document was not (also an empty\n"
    "batch, or an archived folder that could not be moved to done/); 2 a usage error, or the\n"
    "configuration or the plug-in could not be loaded or initialised. SIGINT and SIGTERM end the\n"
    "run after removing the page copies; the process then ends by that signal.\n";

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

// ---- the command line ----------------------------------------------------------------------

struct Options {
  std::string library;
  std::string command;
  std::string config;
  std::string archive;
  bool archiveGiven = false;
  std::string title;
  bool titleGiven = false;
  bool keep = false;
  std::vector<std::string> index;
  std::vector<std::string> pages;
  std::string folder;
};

[[noreturn]] void UsageError(const std::string& error) {
  std::cerr << "kqfexport: " << error << "\n" << kUsage << "Run 'kqfexport --help' for the full usage.\n";
  std::exit(2);
}

std::string DefaultLibrary() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "libqzkqfexport.so";
  return (exe.parent_path() / "libqzkqfexport.so").string();
}

int ShowVersion(const std::string& library);

Options ParseArgs(int argc, char** argv) {
  Options o;
  std::vector<std::string> positional;
  std::vector<std::string> given;  // options given, to tell which command they go with
  bool libraryGiven = false, configGiven = false;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (!options || a == "-" || a.empty() || a[0] != '-') {
      if (o.command.empty()) o.command = a;
      else positional.push_back(a);
      continue;
    }
    if (a == "--") {
      options = false;
      continue;
    }
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs("\n", stdout);
      std::fputs(kHelp, stdout);
      std::exit(0);
    }
    auto value = [&]() {
      if (i + 1 >= argc || (argv[i + 1][0] == '-' && argv[i + 1][1] == '-')) UsageError(a + " needs a value");
      return std::string(argv[++i]);
    };
    auto once = [&](bool& seen) {
      if (seen) UsageError(a + " is given twice");
      seen = true;
    };
    if (a == "--version") {
      o.command = "--version";
    } else if (a == "--library") {
      once(libraryGiven);
      o.library = value();
    } else if (a == "--config") {
      once(configGiven);
      o.config = value();
    } else if (a == "--archive") {
      once(o.archiveGiven);
      o.archive = value();
    } else if (a == "--title") {
      once(o.titleGiven);
      o.title = value();
    } else if (a == "--index") {
      const std::string entry = value();
      const size_t eq = entry.find('=');
      if (eq == std::string::npos || entry.find_first_not_of(' ') >= eq) UsageError("--index needs NAME=VALUE, got " + entry);
      o.index.push_back(entry);
    } else if (a == "--page") {
      o.pages.push_back(value());
    } else if (a == "--keep") {
      if (o.keep) UsageError("--keep is given twice");
      o.keep = true;
    } else {
      UsageError("unknown option " + a);
    }
    if (a != "--version") given.push_back(a);
  }
  if (!libraryGiven) o.library = DefaultLibrary();
  if (o.command == "--version") {
    if (!positional.empty()) UsageError("unexpected argument " + positional[0]);
    std::exit(ShowVersion(o.library));
  }
  if (o.command.empty()) UsageError("no command given");

  // Which options each command takes.
  std::vector<std::string> allowed = {"--library"};
  if (o.command == "export") {
    allowed = {"--library", "--config", "--archive", "--title", "--index", "--page"};
    o.pages.insert(o.pages.end(), positional.begin(), positional.end());
  } else if (o.command == "batch") {
    allowed = {"--library", "--config", "--archive", "--title", "--keep"};
    if (positional.size() != 1) UsageError("batch needs exactly one folder");
    o.folder = positional[0];
  } else if (o.command == "configure") {
    allowed = {"--library", "--config"};
    if (!positional.empty()) UsageError("unexpected argument " + positional[0]);
  } else if (o.command == "version" || o.command == "temp-path") {
    if (!positional.empty()) UsageError("unexpected argument " + positional[0]);
  } else {
    UsageError("unknown command " + o.command);
  }
  for (const auto& option : given) {
    if (std::find(allowed.begin(), allowed.end(), option) == allowed.end())
      UsageError(option + " does not go with " + o.command);
  }
  if ((o.command == "export" || o.command == "batch" || o.command == "configure") && !configGiven) UsageError(o.command + " needs --config FILE");
  return o;
}

// ---- the run's shared state (main thread and signal thread) ----------------------------------

class Progress {
 public:
  void Enable(size_t total) {
    total_ = total;
    enabled_ = true;
  }
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
  size_t total_ = 0;
  bool enabled_ = false;
};

struct RunState {
  std::mutex lock;  // guards everything below and every line written while documents run
  fs::path copies;  // the copy folder of the document in progress; empty when there is none
  std::string inPlugin;  // the document the plug-in is working on; empty when none
  Progress progress;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  size_t total = 0, archived = 0, testArchived = 0, failed = 0;
};

RunState g_run;

// Removes a run's folder of page copies; false when it is still there after a few attempts. The
// plug-in may be deleting files in it at the same moment, so an attempt that trips over a
// vanished file is repeated.
bool RemoveCopies(const fs::path& folder) {
  if (folder.empty()) return true;
  std::error_code ec;
  for (int attempt = 0; attempt < 5; ++attempt) {
    fs::remove_all(folder, ec);
    if (!ec) return true;
    std::error_code exists;
    if (!fs::exists(folder, exists) && !exists) return true;
  }
  return false;
}

// The summary line; called with g_run.lock held.
void PrintSummary() {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - g_run.start).count();
  const size_t done = g_run.archived + g_run.testArchived + g_run.failed;
  std::fprintf(stderr, "kqfexport: %zu archived, ", g_run.archived);
  if (g_run.testArchived > 0) std::fprintf(stderr, "%zu archived in test mode (KQF not marked), ", g_run.testArchived);
  std::fprintf(stderr, "%zu failed, %zu skipped in %.2f s\n", g_run.failed, g_run.total - done, seconds);
  std::fflush(stderr);
}

void HandleSignals(sigset_t set) {
  int sig = 0;
  while (::sigwait(&set, &sig) != 0) {
  }
  // Taken for good: the main thread writes nothing and touches no copy from here on.
  g_run.lock.lock();
  const bool removed = RemoveCopies(g_run.copies);
  g_run.progress.Clear();
  std::fflush(stdout);
  if (removed)
    std::fprintf(stderr, "kqfexport: interrupted by %s; the page copies are removed\n",
                 sig == SIGINT ? "SIGINT" : "SIGTERM");
  else
    std::fprintf(stderr, "kqfexport: interrupted by %s; the page copies in %s could not be removed\n",
                 sig == SIGINT ? "SIGINT" : "SIGTERM", g_run.copies.c_str());
  if (!g_run.inPlugin.empty()) {
    std::fprintf(stderr,
                 "kqfexport: %s was being exported: whether it reached the archive is not known; check it before "
                 "running it again\n",
                 g_run.inPlugin.c_str());
  }
  PrintSummary();
  // End the way the signal would have ended the process.
  ::signal(sig, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  ::raise(sig);
  ::_exit(128 + sig);
}

// Blocks SIGINT and SIGTERM in this thread and in every thread started after it (the plug-in's
// included), and hands them to a thread of their own.
void TakeSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(HandleSignals, set).detach();
}

// ---- page copies ---------------------------------------------------------------------------

// Copies one file in pieces; every change on disk is made under the run's lock, so that an
// interruption finds no copy half made by a step it cannot see.
bool CopyPage(const fs::path& from, const fs::path& to, std::string& error) {
  platform::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.ok()) {
    error = "cannot read " + from.string() + ": " + std::strerror(errno);
    return false;
  }
  int outFd = -1;
  {
    std::lock_guard<std::mutex> guard(g_run.lock);
    outFd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  }
  platform::UniqueFd out(outFd);
  if (!out.ok()) {
    error = "cannot create " + to.string() + ": " + std::strerror(errno);
    return false;
  }
  std::vector<char> buffer(size_t(1) << 20);
  for (;;) {
    const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = "cannot read " + from.string() + ": " + std::strerror(errno);
      return false;
    }
    std::lock_guard<std::mutex> guard(g_run.lock);
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out.get(), buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        error = "cannot write " + to.string() + ": " + std::strerror(errno);
        return false;
      }
      done += w;
    }
  }
}

// Copies the pages into a fresh folder under `temp`; their names keep only the extension, so
// any path the user has works for the plug-in, and the numbers keep the order.
bool CopyPages(const Document& d, const fs::path& temp, size_t number, std::vector<fs::path>& copies,
               std::string& error) {
  const fs::path folder = temp / ("kqfexport-" + std::to_string(::getpid()) + "-" + std::to_string(number));
  {
    std::lock_guard<std::mutex> guard(g_run.lock);
    std::error_code ec;
    fs::remove_all(folder, ec);
    g_run.copies = folder;
    if (!fs::create_directories(folder, ec)) {
      error = "cannot create " + folder.string() + ": " + (ec ? ec.message() : "it exists");
      return false;
    }
  }
  for (size_t i = 0; i < d.pages.size(); ++i) {
    std::string ext = d.pages[i].extension().string();
    if (ext.find_first_not_of(".abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") != std::string::npos) {
      ext.clear();
    }
    char name[32];
    std::snprintf(name, sizeof name, "%04zu", i + 1);
    const fs::path copy = folder / (name + ext);
    if (!CopyPage(d.pages[i], copy, error)) return false;
    copies.push_back(copy);
  }
  return true;
}

// Removes the copies that runs which no longer exist left in the temporary folder.
void RemoveStaleCopies(const fs::path& temp) {
  std::error_code ec;
  fs::directory_iterator it(temp, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("kqfexport-", 0) != 0) continue;
    const size_t digits = name.find_first_not_of("0123456789", 10);
    if (digits == 10 || digits == std::string::npos || name[digits] != '-' || digits - 10 > 9) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name.substr(10, digits - 10)));
    if (pid <= 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
    if (RemoveCopies(it->path()))
      std::fprintf(stderr, "kqfexport: removed page copies left by an ended run: %s\n", it->path().c_str());
    else
      std::fprintf(stderr, "kqfexport: cannot remove page copies left by an ended run: %s\n", it->path().c_str());
  }
}

// ---- the run -------------------------------------------------------------------------------

std::string Utf8(const std::u16string& s) { return platform::WideToUtf8(s); }

int Init(Plugin& plugin, const Options& o) {
  std::string error;
  if (!plugin.Load(o.library, error)) {
    std::cerr << "kqfexport: " << error << "\n";
    return 2;
  }
  if (plugin.Send(QZWE_CMD_INIT, u"kqfexport") != 0) {
    std::cerr << "kqfexport: the plug-in refused to initialise: " << Utf8(plugin.Message()) << "\n";
    return 2;
  }
  return 0;
}

int ShowVersion(const std::string& library) {
  std::printf("kqfexport %s\n", QZ_VERSION_TEXT);
  Plugin plugin;
  Options o;
  o.library = library;
  if (Init(plugin, o) != 0) return 2;
  const int32_t rc = plugin.Send(QZWE_CMD_GETVERSION);
  if (rc == 0) {
    std::printf("%s %s (%s)\n", fs::path(library).filename().c_str(), Utf8(plugin.Output()).c_str(), library.c_str());
  }
  else std::cerr << "kqfexport: the plug-in gave no version: " << Utf8(plugin.Message()) << "\n";
  plugin.Send(QZWE_CMD_DONE);
  return rc == 0 ? 0 : 2;
}

// The configuration text as the plug-in gets it: decoded, without a byte-order mark and without
// line ends at its end.
bool ReadConfig(const std::string& path, std::u16string& text) {
  std::string bytes, error;
  if (!ReadBytes(path, bytes, error)) {
    std::cerr << "kqfexport: cannot read the configuration file: " << error << "\n";
    return false;
  }
  text = platform::DecodeTextFileBytes(bytes);
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ')) text.pop_back();
  return true;
}

void Warn(const std::string& text) { std::cerr << "kqfexport: warning: " << text << "\n"; }

void WarnCodePage(const std::string& where, const std::string& what, const std::u16string& text) {
  const std::string lost = CharactersLostInCodePage(text);
  if (lost.empty()) return;
  Warn(where + what + " \"" + Utf8(text) + "\" has characters that the archive's code page (Windows-1252) cannot hold: " +
       lost + " (they would arrive as \"?\")");
}

// Runs one document through the plug-in: the result and the message for its output line.
int32_t ExportDocument(Plugin& plugin, const Document& d, const fs::path& temp, size_t number, std::string& message) {
  if (!d.error.empty()) {
    message = d.error;
    return -1;
  }
  std::vector<fs::path> copies;
  std::string error;
  if (!CopyPages(d, temp, number, copies, error)) {
    message = error;
    return -1;
  }
  {
    std::lock_guard<std::mutex> guard(g_run.lock);
    g_run.inPlugin = d.name;
  }
  int32_t result = 0;
  auto send = [&](int32_t command, const std::u16string& text) {
    if (result == 0 && plugin.Send(command, text) != 0) {
      result = -1;
      message = "the plug-in refused command " + std::to_string(command) + ": " + Utf8(plugin.Message());
    }
  };
  send(QZWE_CMD_NEWDOCUMENT, u"");
  send(QZWE_CMD_SETARCHIVE, d.archive);
  send(QZWE_CMD_SETTITLE, d.title);
  for (const auto& entry : d.index) send(QZWE_CMD_ADDINDEX, entry);
  for (const auto& copy : copies) send(QZWE_CMD_ADDFILE, platform::Utf8ToWide(copy.string()));
  if (result == 0) {
    result = plugin.Send(QZWE_CMD_EXPORT);
    message = Utf8(plugin.Message());
    if (message.empty()) message = result == 0 ? "archived" : "no message";
  }
  return result;
}

// `configure`: the dialog of command 800 on the file's text. The plug-in answers with the text in
// force on Cancel and with the dialog's new text on Ok, so a text that differs is written back, in
// the file's encoding (UTF-16 with its byte-order mark stays so), by a new file renamed over the
// old one; the same text leaves the file untouched. A message from 800 means the dialog could not
// be shown.
int RunConfigure(const Options& o) {
  std::string bytes, error;
  if (!ReadBytes(o.config, bytes, error)) {
    std::cerr << "kqfexport: cannot read the configuration file: " << error << "\n";
    return 2;
  }
  const bool utf16le = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
  const bool utf16be = bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF';
  std::u16string config;
  if (!ReadConfig(o.config, config)) return 2;
  Plugin plugin;
  if (const int rc = Init(plugin, o); rc != 0) return rc;
  if (plugin.Send(QZWE_CMD_SETCONFIG, config) != 0) {
    std::cerr << "kqfexport: the plug-in refused the configuration text of " << o.config;
    if (!plugin.Message().empty()) std::cerr << ": " << Utf8(plugin.Message());
    std::cerr << "\n";
    return 2;
  }
  const int32_t rc = plugin.Send(QZWE_CMD_CONFIGURE);
  const std::u16string text = plugin.Output(), message = plugin.Message();
  plugin.Send(QZWE_CMD_DONE);
  if (rc != 0 || !message.empty()) {
    std::cerr << "kqfexport: " << (message.empty() ? std::string("command 800 failed") : Utf8(message)) << "\n";
    return 2;
  }
  if (text == config) {
    std::printf("%s unchanged\n", o.config.c_str());
    return 0;
  }
  std::string out;
  if (utf16le || utf16be) out = (utf16le ? "\xFF\xFE" : "\xFE\xFF") + platform::WideToUtf16Bytes(text, utf16be);
  else out = Utf8(text) + "\n";
  struct stat st {};
  const mode_t mode = ::stat(o.config.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  if (const int err = platform::ReplaceFileContent(o.config, out, mode, true); err != 0) {
    std::cerr << "kqfexport: cannot write " << o.config << ": " << std::strerror(err) << "\n";
    return 2;
  }
  std::printf("%s saved\n", o.config.c_str());
  return 0;
}

int RunDocuments(Plugin& plugin, const Options& o, const std::u16string& config, const ConfigCheck& check,
                 const std::vector<Document>& docs) {
  {
    std::lock_guard<std::mutex> guard(g_run.lock);
    g_run.total = docs.size();
  }
  if (plugin.Send(QZWE_CMD_SETCONFIG, config) != 0) {
    std::cerr << "kqfexport: the plug-in refused the configuration text of " << o.config;
    if (!plugin.Message().empty()) std::cerr << ": " << Utf8(plugin.Message());
    else if (!check.validTagList) std::cerr << ": it must begin with <CONFIG> and end with </CONFIG>";
    std::cerr << "\n";
    return 2;
  }
  if (plugin.Send(QZWE_CMD_GETTEMPPATH) != 0) {
    std::cerr << "kqfexport: no temporary folder: " << Utf8(plugin.Message()) << "\n";
    return 2;
  }
  const fs::path temp = Utf8(plugin.Output());
  RemoveStaleCopies(temp);

  const bool batch = o.command == "batch";
  {
    std::lock_guard<std::mutex> guard(g_run.lock);
    if (batch && ::isatty(STDERR_FILENO)) g_run.progress.Enable(docs.size());
    g_run.progress.Show(0);
  }
  bool moveFailed = false;
  for (size_t n = 0; n < docs.size(); ++n) {
    const Document& d = docs[n];
    const auto start = std::chrono::steady_clock::now();
    std::string message;
    const int32_t result = ExportDocument(plugin, d, temp, n + 1, message);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool badAnswer = platform::Utf8ToWide(message) == kMsgBadAnswer;
    const std::string server = badAnswer ? DescribeServerConnection(check.docServer, check.docServerPort) : "";

    std::lock_guard<std::mutex> guard(g_run.lock);
    g_run.inPlugin.clear();
    RemoveCopies(g_run.copies);
    g_run.copies.clear();
    std::string moveError;
    if (result == 0 && batch && !o.keep && MoveToDone(d.folder, moveError).empty()) moveFailed = true;
    if (result == 0) ++g_run.archived;
    else if (result == -2 && platform::Utf8ToWide(message) == kMsgTestMode) ++g_run.testArchived;
    else ++g_run.failed;
    g_run.progress.Clear();
    std::printf("%s\t%d\t%.3fs\t%s\n", d.name.c_str(), result, seconds, message.c_str());
    std::fflush(stdout);
    if (!moveError.empty()) {
      std::fprintf(stderr, "kqfexport: %s was archived, but %s; take it out of the batch before running it again\n",
                   d.name.c_str(), moveError.c_str());
    }
    if (badAnswer) std::fprintf(stderr, "kqfexport: %s: %s\n", d.name.c_str(), server.c_str());
    g_run.progress.Show(n + 1);
  }
  std::lock_guard<std::mutex> guard(g_run.lock);
  g_run.progress.Clear();
  PrintSummary();
  return g_run.archived == docs.size() && !moveFailed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseArgs(argc, argv);
  // Before any thread exists, so that every thread (the plug-in's too) leaves them to one.
  TakeSignals();

  if (o.command == "version" || o.command == "temp-path") {
    Plugin plugin;
    if (const int rc = Init(plugin, o); rc != 0) return rc;
    const int rc = plugin.Send(o.command == "version" ? QZWE_CMD_GETVERSION : QZWE_CMD_GETTEMPPATH) == 0 ? 0 : 2;
    std::printf("%s\n", Utf8(rc == 0 ? plugin.Output() : plugin.Message()).c_str());
    plugin.Send(QZWE_CMD_DONE);
    return rc;
  }

  if (o.command == "configure") return RunConfigure(o);

  std::u16string config;
  if (!ReadConfig(o.config, config)) return 2;
  const ConfigCheck check = CheckConfigText(config);
  const std::u16string archive = platform::Utf8ToWide(o.archive);

  std::vector<Document> docs;
  if (o.command == "export") {
    Document d;
    d.name = "document";
    d.title = platform::Utf8ToWide(o.title);
    for (const auto& entry : o.index) d.index.push_back(platform::Utf8ToWide(entry));
    for (const auto& p : o.pages) d.pages.emplace_back(p);
    docs.push_back(std::move(d));
  } else {
    std::vector<fs::path> folders;
    std::string error;
    if (!ListDocumentFolders(o.folder, folders, error)) {
      std::cerr << "kqfexport: " << error << "\n";
      return 2;
    }
    if (folders.empty()) {
      std::cerr << "kqfexport: the batch folder " << o.folder << " holds no document folders";
      std::error_code ec;
      if (fs::is_directory(fs::path(o.folder) / kDoneFolder, ec)) std::cerr << " (archived ones are in done/)";
      std::cerr << "; nothing to export\n";
      return 1;
    }
    for (const auto& folder : folders) {
      Document d = ReadDocumentFolder(folder);
      d.title = o.titleGiven ? platform::Utf8ToWide(o.title) : platform::Utf8ToWide(d.name);
      docs.push_back(std::move(d));
    }
  }
  for (auto& d : docs) d.archive = archive;

  // Before anything is sent: what the run will do and what may go wrong.
  if (check.testMode) {
    std::cerr << "kqfexport: test mode is on (TESTMODE): documents are archived and link records written, but the "
                 "KQF records are not marked as archived; each document reports -2 with the test-mode message and "
                 "stays in the batch\n";
  }
  for (const auto& w : check.warnings) Warn(w);
  if (!o.archiveGiven || o.archive.empty()) Warn("no --archive given: the documents go out with an empty archive name");
  WarnCodePage("", "the archive name", archive);
  for (const auto& d : docs) {
    if (!d.error.empty()) continue;
    const std::string where = d.name + ": ";
    WarnCodePage(where, "the title", d.title);
    for (const auto& entry : d.index) WarnCodePage(where, "the index value", entry);
  }

  Plugin plugin;
  if (const int rc = Init(plugin, o); rc != 0) return rc;
  const int rc = RunDocuments(plugin, o, config, check, docs);
  plugin.Send(QZWE_CMD_DONE);
  return rc;
}
