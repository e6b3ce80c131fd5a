// `kqfexport configure` on a real X server (Xvfb): the dialog opens on the file's text, keys typed
// through XTest (tests/export/dialog/x11_keys.py) edit it and press Ok or Cancel, and the file is
// rewritten (a new file renamed over it) only on Ok. Without a display the tool says why and
// leaves the file alone.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "ChildProcess.h"
#include "CodePage.h"
#include "TestSupport.h"
#include "TextFile.h"
#include "qzExportConfig.h"
#include "qzExportService.h"
#include "qzkqfexport.h"

namespace {

const std::string kTool = std::string(QZ_BINARY_DIR) + "/kqfexport";
const std::string kKeys = std::string(QZ_SOURCE_DIR) + "/tests/export/dialog/x11_keys.py";

// The configuration text in the layout a person writes: one tag per line.
const char* const kConfig =
    "<CONFIG>\n<DOCSERVER=archive.local>\n<DOCSERVERPORT=4470>\n<KQFTABLENAME=ZDMNNCI>\n"
    "<ASSIGN=BPUV00;ZDME01;IDX1;True;Source;False;False;0;False>\n</CONFIG>\n";

// What the dialog writes on Ok for a text it opened on (an empty add-on row is never written).
std::string Written(const std::string& text) {
  TExportModule module;
  std::vector<char16_t> p, m(QZWE_MSG_CAPACITY, 0);
  const UnicodeString wide = platform::Utf8ToWide(text);
  p.assign(wide.begin(), wide.end());
  p.push_back(0);
  EXPECT_EQ(module.Execute(QZWE_CMD_INIT, nullptr, 0, m.data()), 0);
  EXPECT_EQ(module.Execute(QZWE_CMD_SETCONFIG, p.data(), 0, m.data()), 0);
  std::vector<TAddonSelectRow> addon;
  for (const auto& row : module.AddonSelectTable)
    if (!row[0].empty() || !row[1].empty()) addon.push_back(row);
  return TExportConfigText::Write(module.Config, module.AssignTable, addon) + "\n";
}

class ConfigureOnX : public ::testing::Test {
 protected:
  void SetUp() override {
    xvfb_ = std::make_unique<qztest::ChildProcess>(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"},
        dir_.Path() + "/xvfb");
    display_ = ":" + xvfb_->WaitForOutput("", 20000);
  }
  // Runs the tool on `file` while the keys are typed into the dialog; its exit code.
  int Configure(const std::string& file, const std::vector<std::string>& keys, std::string& out) {
    // Qt, D-Bus and fontconfig keep caches for the life of the process that the leak checker
    // would report at exit; leaks of our own code are still reported. The checker does not scan
    // thread-local storage here: Qt's and D-Bus's threads are still ending when it runs, and
    // walking their dynamic TLS then crashes the checker itself (about every second run).
    const std::string suppressions = dir_.Path() + "/lsan.supp";
    qztest::WriteFile(suppressions, "leak:libfontconfig\nleak:libdbus\nleak:libQt6\nleak:libglib\nleak:libxcb\nleak:libX11\n");
    qztest::ScopedEnv lsan("LSAN_OPTIONS", "suppressions=" + suppressions + ":use_tls=0");
    qztest::ChildProcess tool({kTool, "configure", "--config", file}, dir_.Path() + "/tool",
                              {"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb"});
    std::vector<std::string> args = {"python3", kKeys, "Exportservice"};
    args.insert(args.end(), keys.begin(), keys.end());
    const auto typed = qztest::RunProcess(args, "", {"DISPLAY=" + display_});
    EXPECT_EQ(typed.ExitCode, 0) << typed.Err << tool.Err();
    const int rc = tool.Wait(30000);
    out = tool.Out() + tool.Err();
    return rc;
  }

  qztest::TempDir dir_{"qzconfigure"};
  std::unique_ptr<qztest::ChildProcess> xvfb_;
  std::string display_;
};

TEST_F(ConfigureOnX, OkWritesTheEditedTextCancelLeavesTheFile) {
  const std::string file = dir_.Path() + "/config.txt";
  qztest::WriteFile(file, kConfig);
  ::chmod(file.c_str(), 0640);
  std::string out;

  // Escape cancels: the file stays as it was.
  ASSERT_EQ(Configure(file, {"Escape"}, out), 0) << out;
  EXPECT_NE(out.find("unchanged"), std::string::npos) << out;
  EXPECT_EQ(qztest::ReadFile(file), kConfig);

  // The first field (the barcode table) has the focus: End, "q", then Return presses Ok.
  ASSERT_EQ(Configure(file, {"End", "q", "Return"}, out), 0) << out;
  EXPECT_NE(out.find("saved"), std::string::npos) << out;
  std::string edited = kConfig;
  edited.replace(edited.find("ZDMNNCI"), 7, "ZDMNNCIq");
  EXPECT_EQ(qztest::ReadFile(file), Written(edited));
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(Configure, WithoutADisplayTheFileStaysAndTheToolSaysWhy) {
  qztest::TempDir dir("qzconfigure");
  const std::string file = dir.Path() + "/config.txt";
  qztest::WriteFile(file, kConfig);
  qztest::ScopedEnv noDisplay("DISPLAY", nullptr), noWayland("WAYLAND_DISPLAY", nullptr),
      noPlatform("QT_QPA_PLATFORM", nullptr);
  const auto run = qztest::RunProcess({kTool, "configure", "--config", file});
  EXPECT_EQ(run.ExitCode, 2);
  EXPECT_NE(run.Err.find("no display"), std::string::npos) << run.Err;
  EXPECT_EQ(qztest::ReadFile(file), kConfig);
}

}  // namespace
