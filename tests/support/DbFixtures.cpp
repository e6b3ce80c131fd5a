#include "DbFixtures.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "CodePage.h"

extern char** environ;

namespace qztest {

namespace fs = std::filesystem;

namespace {

std::string Join(const std::vector<std::string>& argv) {
  std::string s;
  for (const auto& a : argv) {
    if (!s.empty()) s += ' ';
    s += a;
  }
  return s;
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

// An ODBC driver registered under one of the names, else the first library file that exists.
std::string FindDriver(const std::vector<std::string>& names,
                       const std::vector<std::string>& libraries) {
  for (const auto& name : names) {
    ProcessResult r = RunProcess({"odbcinst", "-q", "-d", "-n", name});
    if (r.ExitCode == 0 && r.Out.find("Driver") != std::string::npos) return "{" + name + "}";
  }
  for (const auto& dir : {"/usr/lib/x86_64-linux-gnu/odbc/", "/usr/lib/aarch64-linux-gnu/odbc/",
                          "/usr/lib/odbc/", "/usr/local/lib/"}) {
    for (const auto& lib : libraries) {
      std::string path = std::string(dir) + lib;
      if (FileExists(path)) return path;
    }
  }
  throw std::runtime_error("no ODBC driver found for " + names.front());
}

// A loopback TCP port that nobody listens on right now.
int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot bind a loopback port");
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

bool SocketAccepts(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// Server settings shared by the template installation and every server start.
const std::vector<std::string>& ServerOptions() {
  static const std::vector<std::string> options = {
      "--lower-case-table-names=1",         "--character-set-server=utf8mb4",
      "--collation-server=utf8mb4_unicode_ci", "--innodb-buffer-pool-size=32M",
      "--innodb-log-file-size=8M",          "--skip-log-bin",
      "--skip-name-resolve",                "--performance-schema=OFF",
      "--innodb-flush-log-at-trx-commit=2", "--max-connections=64"};
  return options;
}

// The data folder of a freshly installed server, made once per user and server version and
// reused by every later test process (installing takes seconds, copying a blink).
std::string TemplateDataDir() {
  ProcessResult version = RunProcess({"mariadbd", "--version"});
  if (version.ExitCode != 0) throw std::runtime_error("mariadbd not found: " + version.Err);
  std::string key = std::to_string(std::hash<std::string>{}(Join(ServerOptions()) + version.Out));
  std::string base = "/tmp/qz-mariadb-template-" + std::to_string(::geteuid()) + "-" + key;

  int lock = ::open((base + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  if (lock < 0) throw std::runtime_error("cannot create " + base + ".lock");
  ::flock(lock, LOCK_EX);
  struct Unlock {
    int fd;
    ~Unlock() {
      ::flock(fd, LOCK_UN);
      ::close(fd);
    }
  } unlock{lock};

  if (FileExists(base + "/.qz-ready")) return base;

  std::string work = base + ".tmp";
  std::error_code ec;
  fs::remove_all(work, ec);
  fs::remove_all(base, ec);
  fs::create_directories(work);
  std::vector<std::string> argv = {"mariadb-install-db", "--no-defaults", "--datadir=" + work,
                                   "--auth-root-authentication-method=normal", "--skip-test-db"};
  if (::geteuid() == 0) argv.push_back("--user=root");
  for (const auto& o : ServerOptions()) argv.push_back(o);
  ProcessResult r = RunProcess(argv);
  if (r.ExitCode != 0) {
    throw std::runtime_error("mariadb-install-db failed (" + std::to_string(r.ExitCode) +
                             "): " + r.Out + r.Err);
  }
  std::ofstream(work + "/.qz-ready") << version.Out;
  fs::rename(work, base);
  return base;
}

}  // namespace

std::vector<std::vector<std::string>> SplitRows(const std::string& output) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> cols;
    size_t start = 0;
    for (;;) {
      size_t tab = line.find('\t', start);
      cols.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows.push_back(std::move(cols));
  }
  return rows;
}

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string SqliteOdbcDriver() {
  static const std::string driver =
      FindDriver({"SQLite3"}, {"libsqlite3odbc.so", "libsqlite3odbc-0.9998.so"});
  return driver;
}

std::string MariaDbOdbcDriver() {
  static const std::string driver =
      FindDriver({"MariaDB Unicode", "MariaDB ODBC 3.1 Driver", "MariaDB"}, {"libmaodbc.so"});
  return driver;
}

// ---------------------------------------------------------------------------------------------
// SqliteDb

SqliteDb::SqliteDb() : dir_("qzsqlite"), path_(dir_.Path() + "/test.db") {}

std::string SqliteDb::ConnectionStringUtf8() const {
  return "Driver=" + SqliteOdbcDriver() + ";Database=" + path_ + ";";
}

UnicodeString SqliteDb::ConnectionString() const {
  return platform::Utf8ToWide(ConnectionStringUtf8());
}

std::string SqliteDb::Exec(const std::string& sql) const {
  ProcessResult r = RunProcess(
      {"sqlite3", "-batch", "-bail", "-noheader", "-separator", "\t", "-nullvalue", "NULL", path_},
      sql + "\n");
  if (r.ExitCode != 0 || !r.Err.empty()) {
    throw std::runtime_error("sqlite3 failed (" + std::to_string(r.ExitCode) + "): " + r.Err +
                             " for: " + sql);
  }
  return r.Out;
}

// ---------------------------------------------------------------------------------------------
// MariaDbServer

MariaDbServer& MariaDbServer::Shared() {
  static std::unique_ptr<MariaDbServer> server(new MariaDbServer());
  return *server;
}

MariaDbServer::MariaDbServer() : dir_("qzmariadb") {
  password_ = "Qz-pw" + std::to_string(::getpid()) + "x7";
  socket_ = dir_.Path() + "/mysqld.sock";
  Start();
}

MariaDbServer::~MariaDbServer() { Stop(); }

void MariaDbServer::Start() {
  const std::string templ = TemplateDataDir();
  const std::string data = dir_.Path() + "/data";
  const std::string tmp = dir_.Path() + "/tmp";
  const std::string log = dir_.Path() + "/server.log";
  std::string lastError;
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::error_code ec;
    fs::remove_all(data, ec);
    fs::create_directories(tmp);
    fs::copy(templ, data, fs::copy_options::recursive);
    port_ = FreePort();
    bool died = false;
    const bool up = Spawn(died);
    if (up) {
      std::string sql =
          "DELETE FROM mysql.global_priv WHERE User = '';\nFLUSH PRIVILEGES;\n"
          "CREATE USER '" + user_ + "'@'%' IDENTIFIED BY '" + password_ + "';\n" +
          "CREATE USER '" + user_ + "'@'localhost' IDENTIFIED BY '" + password_ + "';\n" +
          "GRANT ALL PRIVILEGES ON *.* TO '" + user_ + "'@'%' WITH GRANT OPTION;\n" +
          "GRANT ALL PRIVILEGES ON *.* TO '" + user_ + "'@'localhost' WITH GRANT OPTION;\n";
      ProcessResult r =
          RunProcess({"mariadb", "--no-defaults", "--socket=" + socket_, "-uroot", "--batch"}, sql);
      if (r.ExitCode != 0) {
        Stop();
        throw std::runtime_error("cannot create the test user: " + r.Err);
      }
      return;
    }
    lastError = ReadFile(log);
    if (!died) Stop();
    // A port taken between the probe and the server's bind: try another one.
  }
  throw std::runtime_error("mariadbd did not start: " + lastError);
}

bool MariaDbServer::Spawn(bool& died) {
  const std::string data = dir_.Path() + "/data";
  const std::string tmp = dir_.Path() + "/tmp";
  const std::string log = dir_.Path() + "/server.log";
  std::vector<std::string> args = {"mariadbd",
                                   "--no-defaults",
                                   "--datadir=" + data,
                                   "--socket=" + socket_,
                                   "--port=" + std::to_string(port_),
                                   "--bind-address=127.0.0.1",
                                   "--pid-file=" + dir_.Path() + "/mysqld.pid",
                                   "--log-error=" + log,
                                   "--tmpdir=" + tmp};
  if (::geteuid() == 0) args.push_back("--user=root");
  for (const auto& o : ServerOptions()) args.push_back(o);
  std::vector<char*> cargs = CStrings(args);

  pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // The server goes down with the test process, even when that one crashes.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    ::execvp(cargs[0], cargs.data());
    ::_exit(127);
  }

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  died = false;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      died = true;
      pid_ = -1;
      return false;
    }
    if (SocketAccepts(socket_)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void MariaDbServer::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

void MariaDbServer::Restart() {
  if (pid_ > 0) return;
  for (int attempt = 0; attempt < 50; ++attempt) {
    bool died = false;
    if (Spawn(died)) return;
    if (!died) Stop();
    // The killed server's port may still be held for a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  throw std::runtime_error("mariadbd did not start again: " + ReadFile(dir_.Path() + "/server.log"));
}

void MariaDbServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
}

std::string MariaDbServer::CreateDatabase() {
  std::string name = "qzt_" + std::to_string(++nextDatabase_);
  Exec("", "CREATE DATABASE " + name + " CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci");
  return name;
}

std::string MariaDbServer::ConnectionStringUtf8(const std::string& database) const {
  std::string s = "Driver=" + MariaDbOdbcDriver() + ";Server=127.0.0.1;Port=" +
                  std::to_string(port_) + ";Uid=" + user_ + ";Pwd=" + password_ + ";";
  if (!database.empty()) s += "Database=" + database + ";";
  return s;
}

UnicodeString MariaDbServer::ConnectionString(const std::string& database) const {
  return platform::Utf8ToWide(ConnectionStringUtf8(database));
}

std::string MariaDbServer::Exec(const std::string& database, const std::string& sql) const {
  std::vector<std::string> argv = {"mariadb",
                                   "--no-defaults",
                                   "--protocol=TCP",
                                   "--host=127.0.0.1",
                                   "--port=" + std::to_string(port_),
                                   "--user=" + user_,
                                   "--default-character-set=utf8mb4",
                                   "--batch",
                                   "--raw",
                                   "--skip-column-names"};
  if (!database.empty()) argv.push_back("--database=" + database);
  ProcessResult r = RunProcess(argv, sql + ";\n", {"MYSQL_PWD=" + password_});
  if (r.ExitCode != 0) {
    throw std::runtime_error("mariadb failed (" + std::to_string(r.ExitCode) + "): " + r.Err +
                             " for: " + sql);
  }
  return r.Out;
}

}  // namespace qztest
