// Windows command-line splitting, checked against Microsoft's documented examples and against
// python3's subprocess.list2cmdline (which quotes by the same C runtime rules), and the unit-name
// check that keeps service names to one harmless argument.
#include "Process.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "CodePage.h"
#include "TestSupport.h"

using namespace platform;

namespace {

std::vector<std::string> Split(const std::string& line, bool withProgram) {
  std::vector<std::string> out;
  for (const UnicodeString& a : SplitCommandLine(Utf8ToWide(line), withProgram)) out.push_back(WideToUtf8(a));
  return out;
}

using Args = std::vector<std::string>;

TEST(CommandLineTest, ArgumentsFollowTheCRuntimeRules) {
  struct Case {
    const char* line;
    Args args;
  } cases[] = {
      // The examples of Microsoft's "Parsing C++ command-line arguments".
      {R"("a b c" d e)", {"a b c", "d", "e"}},
      {R"("ab\"c" "\\" d)", {"ab\"c", "\\", "d"}},
      {R"(a\\\b d"e f"g h)", {"a\\\\\\b", "de fg", "h"}},
      {R"(a\\\"b c d)", {"a\\\"b", "c", "d"}},
      {R"(a\\\\"b c" d e)", {"a\\\\b c", "d", "e"}},
      {R"(a"b"" c d)", {"ab\" c d"}},
      // Blanks and tabs separate; runs of them count once; leading and trailing ones vanish.
      {"  one\t\ttwo   three  ", {"one", "two", "three"}},
      {"", {}},
      {"   ", {}},
      // Empty quoted arguments stay; a quote ends an argument only together with a blank.
      {R"("" x "")", {"", "x", ""}},
      {R"(pre"quoted part"post next)", {"prequoted partpost", "next"}},
      // Backslashes are literal unless a quote follows.
      {R"(C:\Program Files\x C:\dir\)", {"C:\\Program", "Files\\x", "C:\\dir\\"}},
      {R"("C:\dir\\" tail)", {"C:\\dir\\", "tail"}},
      // An unterminated quoted part runs to the end.
      {R"(a "b c)", {"a", "b c"}},
      // Characters a shell would act on are plain text here.
      {R"(a;b & c | d $HOME `x` 'e f')", {"a;b", "&", "c", "|", "d", "$HOME", "`x`", "'e", "f'"}},
      {"\xC3\xA4 \"\xE2\x82\xAC x\"", {"\xC3\xA4", "\xE2\x82\xAC x"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Split(c.line, false), c.args) << c.line;
}

TEST(CommandLineTest, ProgramNameTakesQuotesButNoEscapes) {
  struct Case {
    const char* line;
    Args args;
  } cases[] = {
      {R"("C:\Program Files\app.exe" -x "y z")", {"C:\\Program Files\\app.exe", "-x", "y z"}},
      {R"(C:\dir\\app.exe a)", {"C:\\dir\\\\app.exe", "a"}},
      {R"(C:\dir\"quoted part"\app a)", {"C:\\dir\\quoted part\\app", "a"}},
      {R"(  /usr/bin/prog)", {"/usr/bin/prog"}},
      {R"("unterminated name)", {"unterminated name"}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Split(c.line, true), c.args) << c.line;
}

// python's list2cmdline quotes an argument vector for the C runtime; splitting its line must
// give the vector back, for texts full of quotes, backslashes and blanks.
TEST(CommandLineTest, InvertsPythonsList2cmdline) {
  std::mt19937 rng(18);
  const std::string alphabet = "ab \\\"\t\\\"x";
  std::vector<Args> vectors;
  for (int i = 0; i < 300; ++i) {
    Args v;
    const int n = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < n; ++k) {
      std::string a;
      const int len = static_cast<int>(rng() % 9);
      for (int j = 0; j < len; ++j) a.push_back(alphabet[rng() % alphabet.size()]);
      v.push_back(a);
    }
    vectors.push_back(v);
  }
  nlohmann::json input = vectors;
  const std::string out = qztest::RunPython(
      "import json, subprocess, sys\n"
      "for v in json.load(sys.stdin): print(json.dumps(subprocess.list2cmdline(v)))\n",
      {}, input.dump());
  size_t start = 0;
  for (const Args& v : vectors) {
    const size_t end = out.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = nlohmann::json::parse(out.substr(start, end - start)).get<std::string>();
    start = end + 1;
    EXPECT_EQ(Split(line, false), v) << line;
  }
}

TEST(UnitNameTest, OnlySystemdUnitCharactersPass) {
  for (const char* ok : {"ssh", "ssh.service", "getty@tty1.service", "dev-disk-by\\x2duuid.device", "a:b_c-d.e"})
    EXPECT_TRUE(IsValidUnitName(ok)) << ok;
  for (const char* bad : {"", "a b", "x\";reboot", "x&y", "x;y", "x|y", "$(id)", "`id`", "-H", "--now", ".hidden",
                          "a/b", "a'b", "a\nb", "\xC3\xA4"})
    EXPECT_FALSE(IsValidUnitName(bad)) << bad;
  EXPECT_TRUE(IsValidUnitName(std::string(255, 'a')));
  EXPECT_FALSE(IsValidUnitName(std::string(256, 'a')));
}

TEST(RunProgramTest, CollectsOutputExitCodeAndStopsAtTheTimeOut) {
  RunResult r = RunProgram({"/bin/sh", "-c", "printf 'a\\nb'; exit 7"}, 10000);
  EXPECT_TRUE(r.Started);
  EXPECT_TRUE(r.Finished);
  EXPECT_EQ(r.ExitCode, 7);
  EXPECT_EQ(r.Out, "a\nb");

  // Output over the cap is dropped, not waited on.
  r = RunProgram({"/usr/bin/python3", "-c", "import sys; sys.stdout.write('x' * 300000)"}, 20000, true, 1000);
  EXPECT_TRUE(r.Finished);
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Out, std::string(1000, 'x'));

  // A program that left a child holding the pipe still counts as finished when it ends.
  r = RunProgram({"/bin/sh", "-c", "sleep 5 & echo started"}, 4000);
  EXPECT_TRUE(r.Finished);
  EXPECT_EQ(r.Out, "started\n");

  r = RunProgram({"/bin/sleep", "10"}, 200);
  EXPECT_TRUE(r.Started);
  EXPECT_FALSE(r.Finished);

  r = RunProgram({"/nonexistent/program"}, 1000);
  EXPECT_FALSE(r.Started);
}

}  // namespace
