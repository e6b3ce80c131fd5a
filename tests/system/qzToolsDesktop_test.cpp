// The desktop family away from a display: the HTML clipboard text (built independently by
// python3), passwords (character classes and a chi-square test), desktop entries (checked by
// desktop-file-validate and read back through GLib, which launches them), file types in the
// registry stand-in, the diagnostic log, and the zenity dialogs through a stand-in.
#include "qzToolsDesktop.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "FakePrograms.h"
#include "FormatSettings.h"
#include "Module.h"
#include "Registry.h"
#include "TestSupport.h"
#include "qzTools.h"

using namespace platform;
using qztest::FakePrograms;
using qztest::ReadFile;
using qztest::ScopedEnv;
using qztest::TempDir;

namespace {

using qztest::W;

// ---- The HTML clipboard text ---------------------------------------------------------------------

std::string PythonClipboardHtml(const std::string& htmlUtf8) {
  return qztest::RunPython(
      "import sys\n"
      "html = sys.stdin.buffer.read()\n"
      "head = b'Version:0.9\\r\\nStartHTML:-1\\r\\nEndHTML:-1\\r\\nStartFragment:000081\\r\\nEndFragment:'\n"
      "total = len(head) + 8 + len(html) + 2\n"
      "sys.stdout.buffer.write(head + b'%06d\\r\\n' % total + html + b'\\r\\n')\n",
      {}, htmlUtf8);
}

TEST(ClipboardHtmlTest, HeaderCountsTheBytesOfTheUtf8Text) {
  const std::vector<UnicodeString> cases = {
      u"<b>x</b>", u"", u"<p>\u00e4\u00f6\u00fc \u20ac</p>", u"<i>\U0001F600 \U00010348</i>",
      UnicodeString(5000, u'\u4e2d'),
  };
  for (const UnicodeString& html : cases) {
    const std::optional<AnsiString> text = BuildClipboardHtml(html);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, PythonClipboardHtml(WideToUtf8(html))) << WideToUtf8(html).substr(0, 40);
    EXPECT_EQ(text->substr(81, text->size() - 83), WideToUtf8(html));  // the fragment starts at byte 81
  }
  const AnsiString bold = *BuildClipboardHtml(u"<b>x</b>");
  EXPECT_EQ(bold.substr(61, 20), "EndFragment:000091\r\n");
  EXPECT_EQ(bold.size(), 91u);
  EXPECT_EQ(BuildClipboardHtml(u"\u00e4")->size(), 85u);  // 81 + 2 + CR LF
  EXPECT_EQ(BuildClipboardHtml(u"\U0001F600")->size(), 87u);  // one 4-byte sequence, not two 3-byte ones
}

TEST(ClipboardHtmlTest, TextsTheSixDigitsCannotCountAreRefused) {
  const size_t fits = 999999 - 83;
  const std::optional<AnsiString> largest = BuildClipboardHtml(UnicodeString(fits, u'a'));
  ASSERT_TRUE(largest);
  EXPECT_EQ(largest->size(), 999999u);
  EXPECT_EQ(largest->substr(61, 20), "EndFragment:999999\r\n");
  EXPECT_FALSE(BuildClipboardHtml(UnicodeString(fits + 1, u'a')));
  EXPECT_FALSE(TqzTools::CopyHTMLToClipBoard(u"x", UnicodeString(fits + 1, u'a')));
}

TEST(ClipboardHtmlTest, NoDisplayIsAClipboardError) {
  ScopedEnv display("DISPLAY", nullptr);
  EXPECT_THROW(TqzTools::CopyHTMLToClipBoard(u"x", u"<b>x</b>"), Exception);
  EXPECT_FALSE(TqzTools::TakeScreenShot(u"/tmp/qz-never.jpg", false, 80));
  EXPECT_FALSE(TqzTools::RemoteCloseApplication(u"any"));
}

// ---- Passwords -----------------------------------------------------------------------------------

TEST(PasswordTest, CharactersComeFromTheirClasses) {
  const std::string plain = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  const std::string special = "!%#$+?*";
  for (int len : {1, 12, 64}) {
    const AnsiString p = TqzTools::GeneratePassword(len, false);
    EXPECT_EQ(p.size(), static_cast<size_t>(len));
    EXPECT_EQ(p.find_first_not_of(plain), std::string::npos) << p;
    EXPECT_EQ(TqzTools::GeneratePassword(len, true).find_first_not_of(plain + special), std::string::npos);
  }
  EXPECT_EQ(TqzTools::GeneratePassword(0, true), "");
  EXPECT_EQ(TqzTools::GeneratePassword(-5, false), "");
  EXPECT_NE(TqzTools::GeneratePassword(32, true), TqzTools::GeneratePassword(32, true));
}

// A class is drawn evenly, then a character of it: digit d has 1/3 * 1/10, a letter 1/3 * 1/26
// (with HighSec 1/4 each class). Over 100,000 characters the chi-square statistic must stay
// below the 0.999 quantile (Wilson-Hilferty), which a fair generator fails one time in 1000.
TEST(PasswordTest, DistributionPassesAChiSquareTest) {
  const std::vector<std::string> classes = {"0123456789", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz",
                                            "!%#$+?*"};
  for (bool high : {false, true}) {
    const int n = 100000;
    const AnsiString p = TqzTools::GeneratePassword(n, high);
    ASSERT_EQ(p.size(), static_cast<size_t>(n));
    std::map<char, int> counts;
    for (char c : p) ++counts[c];
    const size_t classCount = high ? 4 : 3;
    double chi = 0;
    int cells = 0;
    for (size_t k = 0; k < classCount; ++k) {
      for (char c : classes[k]) {
        const double expected = n / static_cast<double>(classCount) / static_cast<double>(classes[k].size());
        const double d = counts[c] - expected;
        chi += d * d / expected;
        ++cells;
      }
    }
    const double df = cells - 1, z = 3.0902;
    const double limit = df * std::pow(1 - 2 / (9 * df) + z * std::sqrt(2 / (9 * df)), 3);
    EXPECT_LT(chi, limit) << "HighSec " << high;
    EXPECT_EQ(static_cast<int>(counts.size()), cells) << "HighSec " << high;
  }
}

// ---- Desktop entries -------------------------------------------------------------------------

// The Exec line as GLib reads and splits it before it launches an entry, and the other keys.
nlohmann::json ReadEntry(const std::string& path) {
  return nlohmann::json::parse(qztest::RunPython(
      "import json, sys\n"
      "from gi.repository import GLib\n"
      "k = GLib.KeyFile()\n"
      "k.load_from_file(sys.argv[1], GLib.KeyFileFlags.NONE)\n"
      "g = 'Desktop Entry'\n"
      "out = {key: k.get_string(g, key) for key in k.get_keys(g)[0]}\n"
      "if 'Exec' in out: out['argv'] = GLib.shell_parse_argv(out['Exec'])[1]\n"
      "print(json.dumps(out))\n",
      {path}));
}

class LinkFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qztest::RunProcess({"which", "desktop-file-validate"}).ExitCode != 0)
      GTEST_SKIP() << "needs desktop-file-validate (scripts/install-deps)";
    if (qztest::RunProcess({"/usr/bin/python3", "-c", "from gi.repository import GLib"}).ExitCode != 0)
      GTEST_SKIP() << "needs python3-gi (scripts/install-deps)";
  }
  void ExpectValid(const std::string& path) {
    const qztest::ProcessResult r = qztest::RunProcess({"desktop-file-validate", path});
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_EQ(r.Out.find("error"), std::string::npos) << r.Out;
  }
  TempDir dir_{"qzlink"};
};

TEST_F(LinkFileTest, ProgramsBecomeApplicationEntriesThatLaunchWithTheirArguments) {
  const std::string folder = dir_.Path() + "/My Tools";
  ::mkdir(folder.c_str(), 0700);
  const std::string program = folder + "/run $it.sh";
  qztest::WriteFile(program, "#!/bin/true\n");
  ::chmod(program.c_str(), 0755);
  const std::string link = dir_.Path() + "/Archive Tool.desktop";
  const UnicodeString params = u"--name \"a b\" 100% c:\\dir\\ back\\\"quote `x` $HOME";
  ASSERT_TRUE(TqzTools::CreateLinkFile(W(program), params, u"Archive tool\nsecond line", W(link), u"/usr/share/icons/x.png", 3));
  ExpectValid(link);
  const nlohmann::json entry = ReadEntry(link);
  EXPECT_EQ(entry["Type"], "Application");
  EXPECT_EQ(entry["Name"], "Archive Tool");
  EXPECT_EQ(entry["Comment"], "Archive tool\nsecond line");
  EXPECT_EQ(entry["Path"], folder);
  EXPECT_EQ(entry["Icon"], "/usr/share/icons/x.png");
  // GLib expands %% to % when it launches; everything else arrives as split by the Windows rules.
  EXPECT_EQ(entry["argv"], nlohmann::json({program, "--name", "a b", "100%%", "c:\\dir\\", "back\"quote", "`x`", "$HOME"}));
  struct stat st {};
  ASSERT_EQ(::stat(link.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
}

TEST_F(LinkFileTest, DocumentsFoldersAndUrlsBecomeLinkEntries) {
  const std::string doc = dir_.Path() + "/report #1.pdf";
  qztest::WriteFile(doc, "%PDF");
  const std::string uri = qztest::RunPython("import pathlib, sys; print(pathlib.Path(sys.argv[1]).as_uri(), end='')", {doc});
  struct Case {
    std::string target;
    std::string url;
  } cases[] = {{doc, uri}, {"https://example.org/a?b=1", "https://example.org/a?b=1"}};
  for (const Case& c : cases) {
    const std::string link = dir_.Path() + "/link.desktop";
    ASSERT_TRUE(TqzTools::CreateLinkFile(W(c.target), u"", u"", W(link), u"", -1)) << c.target;
    ExpectValid(link);
    const nlohmann::json entry = ReadEntry(link);
    EXPECT_EQ(entry["Type"], "Link");
    EXPECT_EQ(entry["URL"], c.url);
    EXPECT_EQ(entry["Name"], "link");
    EXPECT_FALSE(entry.contains("Comment"));
  }
}

TEST_F(LinkFileTest, AnExistingLinkIsReplacedByNameOnly) {
  const std::string link = dir_.Path() + "/tool.desktop";
  const std::string sibling = dir_.Path() + "/tool2.desktop";
  qztest::WriteFile(link, "old");
  qztest::WriteFile(sibling, "keep");
  ASSERT_TRUE(TqzTools::CreateLinkFile(u"/usr/bin/true", u"", u"", W(link), u"", -1));
  ExpectValid(link);
  EXPECT_EQ(ReadFile(sibling), "keep");
  // A name that is a pattern deletes nothing else.
  const std::string pattern = dir_.Path() + "/tool*.desktop";
  ASSERT_TRUE(TqzTools::CreateLinkFile(u"/usr/bin/true", u"", u"", W(pattern), u"", -1));
  EXPECT_EQ(ReadFile(sibling), "keep");
  EXPECT_TRUE(std::filesystem::exists(link));
  // A link that points elsewhere is replaced itself; its target stays.
  const std::string target = dir_.Path() + "/target.txt";
  qztest::WriteFile(target, "target");
  const std::string symlink = dir_.Path() + "/sym.desktop";
  ASSERT_EQ(::symlink(target.c_str(), symlink.c_str()), 0);
  ASSERT_TRUE(TqzTools::CreateLinkFile(u"/usr/bin/true", u"", u"", W(symlink), u"", -1));
  EXPECT_EQ(ReadFile(target), "target");
  ExpectValid(symlink);
  // A folder of the link's name, a missing folder and a target with a line break fail.
  const std::string folder = dir_.Path() + "/folder.desktop";
  ::mkdir(folder.c_str(), 0700);
  EXPECT_FALSE(TqzTools::CreateLinkFile(u"/usr/bin/true", u"", u"", W(folder), u"", -1));
  EXPECT_FALSE(TqzTools::CreateLinkFile(u"/usr/bin/true", u"", u"", W(dir_.Path() + "/none/x.desktop"), u"", -1));
  EXPECT_FALSE(TqzTools::CreateLinkFile(u"/usr/bin/true\nExec=evil", u"", u"", W(link), u"", -1));
}

// ---- File types ------------------------------------------------------------------------------------

UnicodeString RegString(const RegKey& root, const UnicodeString& path, const UnicodeString& name) {
  const RegKey* key = Registry::Find(root, path);
  if (!key) return u"<no key>";
  const RegValue* v = key->FindValue(name);
  if (!v) return u"<no value>";
  EXPECT_EQ(v->Type, REG_SZ);
  UnicodeString text;
  for (size_t i = 0; i + 1 < v->Data.size(); i += 2) text.push_back(static_cast<char16_t>(v->Data[i] | v->Data[i + 1] << 8));
  if (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

TEST(RegisterFileTypeTest, WritesTheClassesKeys) {
  TempDir dir("qzreg");
  ScopedEnv reg("KESTA_REGISTRY_DIR", dir.Path());
  ASSERT_TRUE(TqzTools::RegisterFileType(u"/opt/kesta/viewer", u"Kesta document", u"abc", u"/opt/kesta/abc.png", -1, false));
  auto root = Registry::Read(RootKey::ClassesRoot);
  EXPECT_EQ(RegString(*root, u".abc", u""), u"abc_file");
  EXPECT_EQ(RegString(*root, u"abc_file", u""), u"Kesta document");
  EXPECT_EQ(RegString(*root, u"abc_file\\DefaultIcon", u""), u"/opt/kesta/abc.png");
  EXPECT_EQ(RegString(*root, u"abc_file\\shell\\open\\command", u""), u"\"/opt/kesta/viewer\"\"%1\"");
  EXPECT_EQ(Registry::Find(*root, u".abc\\shellnew"), nullptr);

  ASSERT_TRUE(TqzTools::RegisterFileType(u"/opt/x", u"X file", u"xyz", u"/opt/x.ico", 2, true));
  root = Registry::Read(RootKey::ClassesRoot);
  EXPECT_EQ(RegString(*root, u"xyz_file\\DefaultIcon", u""), u"/opt/x.ico,2");
  EXPECT_EQ(RegString(*root, u".xyz\\shellnew", u"FileName"), u"unnamed.xyz");
  EXPECT_EQ(RegString(*root, u".xyz\\shellnew", u"NullFile"), u"");
  EXPECT_EQ(RegString(*root, u".abc", u""), u"abc_file");  // the earlier type stays
  // The hive file is what regedit would import.
  const std::string text = ReadFile(dir.Path() + "/HKCR.reg");
  EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\xyz_file\\shell\\open\\command]\n@=\"\\\"/opt/x\\\"\\\"%1\\\"\"\n"),
            std::string::npos)
      << text;
  EXPECT_FALSE(TqzTools::RegisterFileType(u"/opt/x", u"X", u"", u"", -1, false));
  EXPECT_FALSE(TqzTools::RegisterFileType(u"/opt/x", u"X", u"a\\b", u"", -1, false));
}

// ---- The diagnostic log --------------------------------------------------------------------------

TEST(QdlTest, AppendsOneStampedLinePerCall) {
  TempDir dir("qzqdl");
  ScopedEnv tz("TZ", "UTC");
  ::tzset();
  // 09.12.2026 13:05:07.042 UTC
  platform::SetClock([] { return std::chrono::system_clock::time_point(std::chrono::milliseconds(1796821507042LL)); });
  const TFormatSettings saved = GetFormatSettings();
  TFormatSettings settings = InvariantFormatSettings();
  SetFormatSettings(settings);
  const std::string log = dir.Path() + "/diag.log";
  EXPECT_TRUE(TqzTools::qdl(Variant(u"hello"), W(log)));
  EXPECT_TRUE(TqzTools::qdl(Variant(int32_t(42)), W(log)));
  settings.TimeSeparator = u'.';
  SetFormatSettings(settings);
  EXPECT_TRUE(TqzTools::qdl(Variant(u"gr\u00fc\u00dfe"), W(log)));
  EXPECT_EQ(ReadFile(log),
            "[09.12.2026 13:05:07-042] hello\r\n"
            "[09.12.2026 13:05:07-042] 42\r\n"
            "[09.12.2026 13.05.07-042] gr\xFC\xDF" "e\r\n");
  EXPECT_FALSE(TqzTools::qdl(Variant(u"x"), W(dir.Path() + "/missing/diag.log")));

  // Without a file name the log is qdl.log beside the running program.
  const std::string exe = ProcessExecutableName();
  const std::string beside = exe.substr(0, exe.rfind('/') + 1) + "qdl.log";
  const std::string before = ReadFile(beside);
  EXPECT_TRUE(TqzTools::qdl(Variant(u"beside")));
  EXPECT_EQ(ReadFile(beside), before + "[09.12.2026 13.05.07-042] beside\r\n");
  if (before.empty()) ::unlink(beside.c_str());
  SetFormatSettings(saved);
  platform::ResetClock();
}

// ---- Dialogs and the neutral answers ---------------------------------------------------------

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes_.Add("zenity",
               "if '--forms' in args:\n"
               "    answer = os.environ.get('QZ_FORM')\n"
               "    if answer is None: sys.exit(1)\n"
               "    sys.stdout.write(answer + '\\n')\n"
               "sys.exit(int(os.environ.get('QZ_EXIT', '0')))\n");
  }
  TempDir dir_{"qzdialog"};
  FakePrograms fakes_{dir_.Path() + "/bin"};
  ScopedEnv path_{"PATH", fakes_.Folder()};
  ScopedEnv display_{"DISPLAY", ":96"};
};

TEST_F(DialogTest, ShowMessageShowsTheTextAsIs) {
  EXPECT_TRUE(TqzTools::ShowMessage(Variant(u"<b>Tom & Jerry</b> 100%")));
  EXPECT_TRUE(TqzTools::ShowMessage(Variant(int32_t(7))));
  {
    ScopedEnv closed("QZ_EXIT", "1");  // closed by the window's close button
    EXPECT_TRUE(TqzTools::ShowMessage(Variant(u"x")));
  }
  {
    ScopedEnv failed("QZ_EXIT", "255");
    EXPECT_FALSE(TqzTools::ShowMessage(Variant(u"x")));
  }
  const auto calls = fakes_.Calls("zenity");
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0][0], "--info");
  EXPECT_EQ(calls[0][1], "--no-markup");
  EXPECT_EQ(calls[0][3], "--text=<b>Tom & Jerry</b> 100%");
  EXPECT_EQ(calls[1][3], "--text=7");
  ScopedEnv noDisplay("DISPLAY", nullptr);
  ScopedEnv noWayland("WAYLAND_DISPLAY", nullptr);
  EXPECT_FALSE(TqzTools::ShowMessage(Variant(u"x")));
  EXPECT_EQ(fakes_.Calls("zenity").size(), 4u);
}

TEST_F(DialogTest, PromptForCredentialsReturnsWhatTheUserConfirmed) {
  UnicodeString user = u"old", password = u"secret";
  {
    ScopedEnv form("QZ_FORM", "m\xC3\xBCller\x1fp|w d\x1f" "x");
    EXPECT_TRUE(TqzTools::PromptForCredentials(u"Log on", u"Archive server", user, password));
  }
  EXPECT_EQ(user, u"m\u00fcller");
  EXPECT_EQ(password, u"p|w d\x1f" u"x");
  const auto calls = fakes_.Calls("zenity");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0][1], "--title=Log on");
  EXPECT_EQ(calls[0][2], "--text=Archive server");

  // Cancelled: the names stay, cut to the buffers' sizes.
  user = UnicodeString(2000, u'u');
  password = UnicodeString(600, u'p');
  EXPECT_FALSE(TqzTools::PromptForCredentials(u"c", u"m", user, password));
  EXPECT_EQ(user, UnicodeString(1023, u'u'));
  EXPECT_EQ(password, UnicodeString(511, u'p'));
  {
    ScopedEnv form("QZ_FORM", std::string(3000, 'n') + "\x1f" + std::string(900, 'q'));
    EXPECT_TRUE(TqzTools::PromptForCredentials(u"c", u"m", user, password));
  }
  EXPECT_EQ(user, UnicodeString(1023, u'n'));
  EXPECT_EQ(password, UnicodeString(511, u'q'));

  ScopedEnv noDisplay("DISPLAY", nullptr);
  ScopedEnv noWayland("WAYLAND_DISPLAY", nullptr);
  user = u"keep";
  EXPECT_FALSE(TqzTools::PromptForCredentials(u"c", u"m", user, password));
  EXPECT_EQ(user, u"keep");
}

TEST(NeutralAnswersTest, WhatLinuxHasNoCounterpartForAnswersNeutrally) {
  EXPECT_FALSE(TqzTools::PushApplicationToFront());
  EXPECT_EQ(TqzTools::ClearKeyboardBuffer(), 0);
  ScopedEnv path("PATH", "/nonexistent");
  ScopedEnv display("DISPLAY", ":95");
  EXPECT_FALSE(TqzTools::ShowMessage(Variant(u"no zenity")));
}

}  // namespace
