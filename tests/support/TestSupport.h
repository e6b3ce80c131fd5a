// Small helpers the tests share: running a child process or python3 and reading what it wrote, the
// independent Python oracles in tests/peers, temporary folders, environment variables set for a
// scope, reading and writing a whole file, random bytes.
//
//   qztest::TempDir dir("qzfiles");                      // removed with everything in it
//   qztest::ScopedEnv env("TMPDIR", dir.Path());         // restored when env goes
//   auto r = qztest::RunProcess({"flock", "-n", file, "true"});
//   std::string out = qztest::RunPython("print(1)");     // "1\n"
//   for (const auto& row : qztest::RunOracle("math_oracle.py", {"roundto"})) ...
#pragma once

#include <nlohmann/json.hpp>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qztest {

struct ProcessResult {
  int ExitCode = -1;
  std::string Out;  // stdout
  std::string Err;  // stderr
};

// Runs a program (argv[0] looked up in PATH) with the given stdin text and waits for it.
// Extra environment entries ("NAME=value") are added to the inherited environment.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = {},
                         const std::vector<std::string>& extraEnv = {});

// Pointers to the texts, ending in a null pointer, as execv() takes them. The texts must outlive
// the result.
std::vector<char*> CStrings(std::vector<std::string>& items);

// Runs `/usr/bin/python3 -c script args...` with the given standard input and returns its
// standard output (bytes as written); raises std::runtime_error with python's error output when it
// fails.
std::string RunPython(const std::string& script, const std::vector<std::string>& args = {},
                      const std::string& input = {});

// Runs the oracle tests/peers/<script> with python3 and the arguments; returns one JSON value per
// output line. A failing run is reported as a test failure (with python's error output).
std::vector<nlohmann::json> RunOracle(const std::string& script, const std::vector<std::string>& args);

// A fresh temporary folder, removed with everything in it when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "qztest");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Sets (or, with no value, removes) an environment variable for the life of the object; the
// previous state comes back afterwards.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ScopedEnv(std::string name, const char* value)  // nullptr: removed
      : ScopedEnv(std::move(name), value ? std::optional<std::string>(value) : std::nullopt) {}
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// The UTF-16 text of a UTF-8 string: arguments for the system's text functions.
std::u16string W(const std::string& utf8);

// Whether anything stands at `path` (a symbolic link itself, not followed).
bool Exists(const std::string& path);

// The whole file as bytes (empty when it cannot be read).
std::string ReadFile(const std::string& path);
// Writes the bytes as the whole file (created or replaced).
void WriteFile(const std::string& path, const std::string& bytes);

// The bytes as lower-case hexadecimal digits, and back (how bytes travel to and from the oracles).
std::string LowerHex(std::string_view bytes);
std::string FromHex(std::string_view hex);

// "ClassName: message" of the library exception fn() raises, or "no exception". Other
// exceptions pass on.
std::string ExceptionText(const std::function<void()>& fn);

// `n` random bytes from the generator; with `nonZero`, none of them is 0.
std::string RandomBytes(std::mt19937_64& rng, std::size_t n, bool nonZero = false);

}  // namespace qztest
