// Stand-ins for system programs (systemctl, loginctl, xdg-open, zenity, ...) that the code under
// test starts by name: small python3 scripts put in a private folder that the test puts first
// in PATH (or alone in it, so that the real program can never be reached). Each records its
// arguments, one JSON array per call, in <folder>/<name>.calls.
//
//   qztest::TempDir dir("fake");
//   qztest::FakePrograms fakes(dir.Path() + "/bin");
//   fakes.Add("xdg-open", "sys.exit(0)");
//   qztest::ScopedEnv path("PATH", fakes.Folder());            // only the fakes
//   ... fakes.Calls("xdg-open") ...                            // [["http://x"]]
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace qztest {

class FakePrograms {
 public:
  explicit FakePrograms(std::string folder) : folder_(std::move(folder)) { ::mkdir(folder_.c_str(), 0700); }
  const std::string& Folder() const { return folder_; }

  // Writes the program: `body` is python3 run after the call was recorded, with `sys`, `os`
  // and `json` imported, `args` the arguments and `here` the folder.
  void Add(const std::string& name, const std::string& body) const {
    const std::string path = folder_ + "/" + name;
    WriteFile(path,
              "#!/usr/bin/python3\n"
              "import json, os, sys\n"
              "here = os.path.dirname(os.path.abspath(__file__))\n"
              "args = sys.argv[1:]\n"
              "with open(os.path.join(here, '" + name + ".calls'), 'a') as f:\n"
              "    f.write(json.dumps(args) + '\\n')\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
  }

  // The argument vectors of every call so far.
  std::vector<std::vector<std::string>> Calls(const std::string& name) const {
    std::vector<std::vector<std::string>> calls;
    const std::string text = ReadFile(folder_ + "/" + name + ".calls");
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      if (end > start) calls.push_back(nlohmann::json::parse(text.substr(start, end - start)).get<std::vector<std::string>>());
      start = end + 1;
    }
    return calls;
  }

  void ClearCalls(const std::string& name) const { ::unlink((folder_ + "/" + name + ".calls").c_str()); }

 private:
  std::string folder_;
};

}  // namespace qztest
