// The built plug-in as its hosts see it: its dynamic symbol table (nm), one export driven by an
// independent Python ctypes host that shares none of our headers, and the kqfexport host tool
// on a batch folder. SQLite and the Python archive oracle stand behind the plug-in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "ExportRunCases.h"

namespace fs = std::filesystem;

namespace {

const std::string kLibrary = std::string(QZ_BINARY_DIR) + "/libqzkqfexport.so";
const std::string kTool = std::string(QZ_BINARY_DIR) + "/kqfexport";

// A sanitizer build of the plug-in needs the sanitizer runtimes loaded first in a host that was
// not built with them (python3): the same ones this test process runs with.
std::vector<std::string> SanitizerEnvironment() {
#ifdef __SANITIZE_ADDRESS__
  // libasan must come first.
  std::ifstream maps("/proc/self/maps");
  std::string line, asan, ubsan;
  while (std::getline(maps, line)) {
    const auto slash = line.find('/');
    if (slash == std::string::npos) continue;
    const std::string path = line.substr(slash);
    if (path.find("/libasan.so") != std::string::npos) asan = path;
    if (path.find("/libubsan.so") != std::string::npos) ubsan = path;
  }
  const std::string preload = asan + (ubsan.empty() ? "" : ":" + ubsan);
  return {"LD_PRELOAD=" + preload, "ASAN_OPTIONS=detect_leaks=0"};
#else
  return {};
#endif
}

struct HostSetup {
  exportrun::SqliteBackend db;
  std::string kqf = db.NewDatabase(), link = db.NewDatabase(), addon = db.NewDatabase();
  qztest::ArchiveOracle oracle;
  qztest::TempDir dir{"qzhost"};
  std::string configFile = dir.Path() + "/config.txt";

  HostSetup() {
    exportrun::CreateTables(db, kqf, link, addon);
    oracle.Start("none");
    std::ofstream(configFile) << exportrun::BaseConfig(db, kqf, link, addon, oracle.Port()) << "</CONFIG>\n";
  }
  std::string Page(const std::string& name, const std::string& content) {
    const std::string path = dir.Path() + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string Status(int key) {
    return db.Exec(kqf, "SELECT ZDMADT || ' ' || ZDMSTS FROM ZDMNNCI WHERE ZDMKEY = " + std::to_string(key) + ";");
  }
};

TEST(PluginSymbols, ExportsOnlyTheEntry) {
  const auto nm = qztest::RunProcess({"nm", "-D", "--defined-only", kLibrary});
  ASSERT_EQ(nm.ExitCode, 0) << nm.Err;
  std::vector<std::string> names;
  for (const auto& row : qztest::SplitRows(nm.Out)) {
    std::istringstream fields(row.at(0));
    std::string address, kind, name;
    fields >> address >> kind >> name;
    names.push_back(kind + " " + name);
  }
  EXPECT_EQ(names, std::vector<std::string>{"T qzWideExport"});
}

// Runs the ctypes host on one document (Barcode 4711, two pages); the answers by command.
std::map<int, std::pair<int, std::string>> RunCtypesHost(HostSetup& s, const std::vector<std::string>& pages,
                                                         const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {"python3", std::string(QZ_SOURCE_DIR) + "/tests/export/ctypes_host.py",
                                   "--library", kLibrary, "--config", s.configFile, "--archive", "ARC1", "--title",
                                   "Rechnung M\xc3\xa4rz", "--index", "Barcode=4711"};
  for (const auto& page : pages) {
    args.push_back("--page");
    args.push_back(page);
  }
  args.insert(args.end(), extra.begin(), extra.end());
  // No display for the host: command 800 then answers with the text in force instead of opening
  // the dialog and waiting for a user.
  qztest::ScopedEnv noDisplay("DISPLAY", nullptr), noWayland("WAYLAND_DISPLAY", nullptr),
      noPlatform("QT_QPA_PLATFORM", nullptr);
  const auto run = qztest::RunProcess(args, "", SanitizerEnvironment());
  EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
  std::map<int, std::pair<int, std::string>> answers;
  for (const auto& row : qztest::SplitRows(run.Out)) {
    std::istringstream line(row.at(0));
    int command = 0, result = 0;
    line >> command >> result;
    std::string text;
    std::getline(line, text);
    answers[command] = {result, text.empty() ? text : text.substr(1)};
  }
  return answers;
}

TEST(CtypesHost, ExportsOneDocument) {
  HostSetup s;
  const std::string page1 = s.Page("scan 1.tif", "first page"), page2 = s.Page("scan 2.tif", "second page");
  auto answers = RunCtypesHost(s, {page1, page2});
  EXPECT_EQ(answers[100].first, 0);
  EXPECT_EQ(answers[105].first, 0);
  EXPECT_GT(answers[105].second.size(), 2u);
  EXPECT_EQ(answers[110].first, 0);
  EXPECT_EQ(answers[120].first, 0);
  EXPECT_EQ(answers[120].second.back(), '"');
  EXPECT_EQ(answers[550], std::make_pair(0, std::string("\"True\"")));
  EXPECT_EQ(answers[600], std::make_pair(0, std::string("\"\"")));
  EXPECT_EQ(answers[850].first, 0);
  EXPECT_EQ(answers[850].second.substr(0, 9), "\"<CONFIG>");
  EXPECT_EQ(answers[900].first, 0);

  const auto requests = s.oracle.WaitForRequests(1);
  ASSERT_EQ(requests.size(), 1u);
  std::vector<std::string> expected = exportrun::Head("IDXBarcode=4711", exportrun::Record1Items());
  expected.push_back("obj(tif)=first page");
  expected.push_back("obj(tif)=second page");
  EXPECT_EQ(requests[0].Items, expected);
  EXPECT_NE(s.Status(1).find("\xc3\xb0"), std::string::npos);
  EXPECT_FALSE(fs::exists(page1));  // the plug-in deletes the pages it was given
  EXPECT_FALSE(fs::exists(page2));
}

// A host that never clears its buffers: both are full of 0xA5 bytes before every command, and only
// the commands that pass a text terminate one. The commands that do not read Param work as usual.
TEST(CtypesHost, UninitialisedBuffersOfCommandsWithoutInput) {
  HostSetup s;
  const std::string page1 = s.Page("scan 1.tif", "first page"), page2 = s.Page("scan 2.tif", "second page");
  auto answers = RunCtypesHost(s, {page1, page2}, {"--uninitialised"});
  for (const int command : {100, 105, 110, 120, 130, 200, 300, 400, 500, 550, 600, 800, 850, 900}) {
    EXPECT_EQ(answers[command].first, 0) << command << " " << answers[command].second;
  }
  EXPECT_GT(answers[105].second.size(), 2u);
  EXPECT_EQ(answers[550].second, "\"True\"");
  EXPECT_EQ(answers[600].second, "null");  // archived: no message written
  EXPECT_EQ(answers[800].second.substr(0, 9), "\"<CONFIG>");
  EXPECT_EQ(answers[800].second, answers[850].second);

  const auto requests = s.oracle.WaitForRequests(1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Items.size(), 10u);
  EXPECT_NE(s.Status(1).find("\xc3\xb0"), std::string::npos);
  EXPECT_FALSE(fs::exists(page1));
  EXPECT_FALSE(fs::exists(page2));
}

// The host tool: a batch of two documents; the user's page files stay, the copies go, the exit
// status reports the failed document.
TEST(KqfexportTool, BatchKeepsTheOriginals) {
  HostSetup s;
  const std::string batch = s.dir.Path() + "/batch";
  fs::create_directories(batch + "/a-good");
  fs::create_directories(batch + "/b-unknown");
  std::ofstream(batch + "/a-good/index.txt") << "# the stapling\nBarcode=4711\n\n";
  std::ofstream(batch + "/a-good/02.tif") << "second";
  std::ofstream(batch + "/a-good/01 \xc3\xa4.tif") << "first";
  std::ofstream(batch + "/b-unknown/index.txt") << "Barcode=0000\r\n";
  std::ofstream(batch + "/b-unknown/page.tif") << "x";

  const std::string temp = s.dir.Path() + "/tmp";
  fs::create_directories(temp);
  const auto run = qztest::RunProcess({kTool, "--library", kLibrary, "batch", "--config", s.configFile, "--archive",
                                       "ARC1", "--title", "Rechnung M\xc3\xa4rz", batch},
                                      "", {"TMPDIR=" + temp});
  EXPECT_EQ(run.ExitCode, 1) << run.Out << run.Err;
  const auto lines = qztest::SplitRows(run.Out);
  ASSERT_EQ(lines.size(), 2u) << run.Out;
  EXPECT_EQ(lines[0][0], "a-good");
  EXPECT_EQ(lines[0][1], "0");
  EXPECT_EQ(lines[0][3], "archived");
  EXPECT_EQ(lines[1][0], "b-unknown");
  EXPECT_EQ(lines[1][1], "-2");
  EXPECT_EQ(lines[1][3], "0000 - Es wurde kein offener Barcode gefunden");

  const auto requests = s.oracle.WaitForRequests(1);
  ASSERT_EQ(requests.size(), 1u);
  std::vector<std::string> expected = exportrun::Head("IDXBarcode=4711", exportrun::Record1Items());
  expected.push_back("obj(tif)=first");
  expected.push_back("obj(tif)=second");
  EXPECT_EQ(requests[0].Items, expected);
  EXPECT_TRUE(fs::exists(batch + "/done/a-good/01 \xc3\xa4.tif"));  // archived: moved to done/
  EXPECT_TRUE(fs::exists(batch + "/b-unknown/page.tif"));

  // The copies lived in the plug-in's temporary folder and are gone.
  const auto tempPath = qztest::RunProcess({kTool, "--library", kLibrary, "temp-path"}, "", {"TMPDIR=" + temp});
  ASSERT_EQ(tempPath.ExitCode, 0) << tempPath.Err;
  const std::string folder = tempPath.Out.substr(0, tempPath.Out.size() - 1);
  ASSERT_TRUE(fs::is_directory(folder)) << folder;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    EXPECT_EQ(e.path().filename().string().rfind("kqfexport-", 0), std::string::npos) << e.path();
  }
}

TEST(KqfexportTool, UsageErrors) {
  EXPECT_EQ(qztest::RunProcess({kTool, "export", "x.tif"}).ExitCode, 2);  // no --config
  EXPECT_EQ(qztest::RunProcess({kTool, "--library", "/nonexistent.so", "version"}).ExitCode, 2);
  EXPECT_EQ(qztest::RunProcess({kTool, "frobnicate"}).ExitCode, 2);
}

}  // namespace
