// Version resources of PE files built at test time (x86, x64, ARM64), checked against
// llvm-readobj and python3-pefile; this library's own compiled-in version; version texts.
#include "qzVersionTools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "BuildVersion.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "PeFile.h"
#include "PeFixtures.h"
#include "TestSupport.h"
#include "qzRegistry.h"
#include "qzToolsVersion.h"

using namespace platform;

namespace {

// pefile's view of a file: fixed file and product version words, then "name=value" per string of
// the first string table, one per line.
const char* kPefileDump = R"PY(
import sys, pefile
pe = pefile.PE(sys.argv[1])
f = pe.VS_FIXEDFILEINFO[0]
print('%08x %08x %08x %08x' % (f.FileVersionMS, f.FileVersionLS, f.ProductVersionMS, f.ProductVersionLS))
for fi in pe.FileInfo:
  for e in fi:
    if hasattr(e, 'StringTable'):
      for st in e.StringTable[:1]:
        for k, v in st.entries.items():
          print(k.decode('utf-8') + '=' + v.decode('utf-8'))
)PY";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class PeVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string missing = qztest::PeToolsMissing();
    if (!missing.empty()) GTEST_SKIP() << "PE tools missing (scripts/install-deps installs them): " << missing;
    char tmpl[] = "/tmp/qzpe-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  static qztest::PeFixtureOptions FixtureOptions(const std::string& machine) {
    qztest::PeFixtureOptions s;
    s.Machine = machine;
    s.Strings = {{"CompanyName", "Acme GmbH"},    {"FileDescription", "Scanner – Modul"},
                 {"FileVersion", "2.1.0.7\\0"},   {"InternalName", "  padded  "},
                 {"LegalCopyright", "© 2024 Acme"}, {"ProductName", "Acme Capture"},
                 {"ProductVersion", "2.1 beta"},   {"Comment", "Grüße"}};
    return s;
  }
  std::string dir_;
};

TEST_F(PeVersionTest, ReadsTheVersionResourceOfEveryMachineType) {
  struct Case {
    const char* machine;
    bool x64;
  };
  for (const Case& c : {Case{"x86", false}, Case{"x64", true}, Case{"arm64", true}}) {
    SCOPED_TRACE(c.machine);
    std::string file = qztest::BuildPeFixture(dir_, std::string("v_") + c.machine + ".dll", FixtureOptions(c.machine));
    UnicodeString wfile = Utf8ToWide(file);

    // Our reader finds the same bytes as llvm-readobj.
    auto block = ReadVersionResource(file);
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(*block, qztest::ReadobjVersionResource(file));

    uint16_t a, b, r, d;
    ASSERT_TRUE(TqzVersionTools::GetInternalFileVersion(wfile, a, b, r, d));
    EXPECT_EQ(TqzVersionTools::GetInternalFileVersionStr(wfile), "2.1.0.7");
    EXPECT_EQ(TqzVersionTools::GetBuild(wfile), 7);
    EXPECT_EQ(TqzToolsVersion::GetProgramVersion(wfile), u"2.1 beta (build 2.1.0.7)");

    // The strings as pefile reads them (trimmed by us, missing names empty).
    TqzFileInfo info;
    ASSERT_TRUE(TqzToolsVersion::GetFileInfo(wfile, info));
    std::string oracle = qztest::RunPython(kPefileDump, {file});
    EXPECT_NE(oracle.find("CompanyName=" + WideToUtf8(info.CompanyName) + "\n"), std::string::npos) << oracle;
    EXPECT_NE(oracle.find("FileDescription=" + WideToUtf8(info.FileDescription) + "\n"), std::string::npos) << oracle;
    EXPECT_NE(oracle.find("Comment=" + WideToUtf8(info.Comment) + "\n"), std::string::npos) << oracle;
    EXPECT_EQ(info.FileDescription, u"Scanner – Modul");
    EXPECT_EQ(info.LegalCopyright, u"© 2024 Acme");
    EXPECT_EQ(info.FileVersion, u"2.1.0.7");
    EXPECT_EQ(info.InternalName, u"padded");
    EXPECT_EQ(info.LegalTrademarks, u"");
    EXPECT_EQ(info.OriginalFilename, u"");

    EXPECT_EQ(TqzToolsVersion::IsExecutablex64(wfile), c.x64);
    EXPECT_EQ(TqzToolsVersion::GetExecutableCPUPlatform(wfile), c.x64 ? qzCPU_x64 : qzCPU_x86);
  }
}

TEST_F(PeVersionTest, RewritesInPlaceAndPefileReadsTheResult) {
  for (const char* machine : {"x86", "x64"}) {
    SCOPED_TRACE(machine);
    std::string file = qztest::BuildPeFixture(dir_, std::string("w_") + machine + ".dll", FixtureOptions(machine));
    UnicodeString wfile = Utf8ToWide(file);
    const size_t size = ReadAll(file).size();

    ASSERT_TRUE(TqzVersionTools::ChangeInternalFileVersion(wfile, 3, 4, 5, 65535));
    std::string dump = qztest::RunPython(kPefileDump, {file});
    EXPECT_EQ(dump.substr(0, 35), "00030004 0005ffff 00030004 0005ffff");
    EXPECT_NE(dump.find("ProductVersion=2.1 beta\n"), std::string::npos);  // strings untouched

    // A string change keeps the numeric version and the file's layout.
    ASSERT_TRUE(TqzVersionTools::ChangeFileVersionInformation(wfile, u"companyname", u"Zeta AG"));
    dump = qztest::RunPython(kPefileDump, {file});
    EXPECT_EQ(dump.substr(0, 35), "00030004 0005ffff 00030004 0005ffff");
    EXPECT_NE(dump.find("CompanyName=Zeta AG\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("ProductName=Acme Capture\n"), std::string::npos) << dump;
    EXPECT_EQ(ReadAll(file).size(), size);
    TqzFileInfo info;
    ASSERT_TRUE(TqzToolsVersion::GetFileInfo(wfile, info));
    EXPECT_EQ(info.CompanyName, u"Zeta AG");

    // Exactly full is fine; one character more is refused and leaves the file as it was.
    const std::string before = ReadAll(file);
    EXPECT_FALSE(TqzVersionTools::ChangeFileVersionInformation(wfile, u"CompanyName", u"0123456789"));
    EXPECT_EQ(ReadAll(file), before);
    EXPECT_TRUE(TqzVersionTools::ChangeFileVersionInformation(wfile, u"CompanyName", u"012345678"));
    // A name the resource does not hold changes nothing.
    const std::string before2 = ReadAll(file);
    EXPECT_FALSE(TqzVersionTools::ChangeFileVersionInformation(wfile, u"PrivateBuild", u"x"));
    EXPECT_EQ(ReadAll(file), before2);
  }
}

TEST_F(PeVersionTest, FileInfoRewriteSetsEveryExistingStringOrNothing) {
  std::string file = qztest::BuildPeFixture(dir_, "info.dll", FixtureOptions("x64"));
  UnicodeString wfile = Utf8ToWide(file);
  TqzFileInfo info;
  ASSERT_TRUE(TqzToolsVersion::GetFileInfo(wfile, info));

  TqzFileInfo changed = info;
  changed.CompanyName = u"Beta";
  changed.Comment = u"";               // clears the value
  changed.LegalTrademarks = u"absent";  // not in the resource: not added
  changed.ProductVersion = u"2.2";
  ASSERT_TRUE(TqzVersionTools::ChangeFileVersionInformation(wfile, changed));
  TqzFileInfo back;
  ASSERT_TRUE(TqzToolsVersion::GetFileInfo(wfile, back));
  EXPECT_EQ(back.CompanyName, u"Beta");
  EXPECT_EQ(back.Comment, u"");
  EXPECT_EQ(back.LegalTrademarks, u"");
  EXPECT_EQ(back.ProductVersion, u"2.2");
  EXPECT_EQ(back.ProductName, u"Acme Capture");
  EXPECT_EQ(TqzVersionTools::GetInternalFileVersionStr(wfile), "2.1.0.7");

  const std::string before = ReadAll(file);
  changed.ProductName = u"A product name far longer than the space it has";
  EXPECT_FALSE(TqzVersionTools::ChangeFileVersionInformation(wfile, changed));
  EXPECT_EQ(ReadAll(file), before);
}

TEST_F(PeVersionTest, FileInfoRewriteFillsEveryLanguageTableCuttingOnlyShorterOnes) {
  // A second language whose texts are shorter than the first's: the first table (the one read
  // back) takes the values whole, the second takes what fits of each.
  qztest::PeFixtureOptions options = FixtureOptions("x64");
  options.MoreTables = {{0x0409, 1252, {{"CompanyName", "Acme"}, {"ProductName", "AC"}, {"ProductVersion", "2.1"}}}};
  std::string file = qztest::BuildPeFixture(dir_, "two.dll", options);
  UnicodeString wfile = Utf8ToWide(file);
  TqzFileInfo info;
  ASSERT_TRUE(TqzToolsVersion::GetFileInfo(wfile, info));
  info.CompanyName = u"Zeta AG";
  info.ProductVersion = u"2.2 beta";
  ASSERT_TRUE(TqzVersionTools::ChangeFileVersionInformation(wfile, info));
  ASSERT_TRUE(TqzVersionTools::ChangeFileVersionInformation(wfile, u"ProductName", u"Acme Capture"));

  // Every table as python3-pefile reads it.
  const char* dumpTables = R"PY(
import sys, pefile
pe = pefile.PE(sys.argv[1])
for fi in pe.FileInfo:
  for e in fi:
    if hasattr(e, 'StringTable'):
      for st in e.StringTable:
        for k, v in st.entries.items():
          print(st.LangID.decode() + ':' + k.decode('utf-8') + '=' + v.decode('utf-8'))
)PY";
  std::string dump = qztest::RunPython(dumpTables, {file});
  for (const char* line : {"040704E4:CompanyName=Zeta AG\n", "040704E4:ProductVersion=2.2 beta\n",
                           "040704E4:ProductName=Acme Capture\n", "040904E4:CompanyName=Zeta\n",
                           "040904E4:ProductVersion=2.2\n", "040904E4:ProductName=Ac\n"})
    EXPECT_NE(dump.find(line), std::string::npos) << line << dump;
  TqzFileInfo back;
  ASSERT_TRUE(TqzToolsVersion::GetFileInfo(wfile, back));
  EXPECT_EQ(back.CompanyName, u"Zeta AG");
  EXPECT_EQ(back.ProductVersion, u"2.2 beta");
}

TEST_F(PeVersionTest, FilesWithoutAVersionResource) {
  qztest::PeFixtureOptions options = FixtureOptions("x64");
  options.WithVersionResource = false;
  std::string file = qztest::BuildPeFixture(dir_, "none.dll", options);
  std::string text = dir_ + "/text.txt";
  std::ofstream(text) << std::string(100, 'x');
  for (const std::string& f : {file, text, dir_ + "/missing.dll"}) {
    SCOPED_TRACE(f);
    UnicodeString w = Utf8ToWide(f);
    TqzFileInfo info;
    info.CompanyName = u"set";
    EXPECT_FALSE(TqzToolsVersion::GetFileInfo(w, info));
    EXPECT_EQ(info.CompanyName, u"Unknown");
    EXPECT_EQ(info.Comment, u"Unknown");
    EXPECT_EQ(TqzVersionTools::GetInternalFileVersionStr(w), "Unknown");
    EXPECT_EQ(TqzVersionTools::GetBuild(w), 0);
    EXPECT_EQ(TqzToolsVersion::GetProgramVersion(w), u"Unknown");
    EXPECT_EQ(TqzToolsVersion::GetFileBuild(w), u"Unknown");
    EXPECT_FALSE(TqzVersionTools::ChangeInternalFileVersion(w, 1, 2, 3, 4));
    EXPECT_FALSE(TqzVersionTools::ChangeFileVersionInformation(w, u"CompanyName", u"x"));
  }
  // A resource without translation: nothing to read the strings from.
  options = FixtureOptions("x64");
  options.WithTranslation = false;
  std::string noTr = qztest::BuildPeFixture(dir_, "notr.dll", options);
  TqzFileInfo info;
  EXPECT_FALSE(TqzToolsVersion::GetFileInfo(Utf8ToWide(noTr), info));
  EXPECT_EQ(TqzVersionTools::GetInternalFileVersionStr(Utf8ToWide(noTr)), "2.1.0.7");
}

TEST(LibraryVersionTest, ThisLibraryAnswersFromItsCompiledInRecord) {
  std::string expectedBuild = std::to_string(QZ_VERSION_MAJOR) + "." + std::to_string(QZ_VERSION_MINOR) + "." +
                              std::to_string(QZ_VERSION_REVISION + 0) + "." + std::to_string(QZ_VERSION_BUILD + 0);
  EXPECT_EQ(WideToUtf8(TqzToolsVersion::GetProgramVersion()),
            std::string(QZ_VERSION_TEXT) + " (build " + expectedBuild + ")");
  UnicodeString self = TqzToolsVersion::GetModuleFileName();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(TqzVersionTools::GetInternalFileVersionStr(self), expectedBuild);
  EXPECT_EQ(TqzToolsVersion::GetProgramVersion(self), TqzToolsVersion::GetProgramVersion());
  EXPECT_NE(TqzToolsVersion::GetProgramDescription(), u"Unknown");
  EXPECT_NE(TqzToolsVersion::GetProgramCopyright(), u"Unknown");
  EXPECT_EQ(TqzToolsVersion::GetProgramCopyrightString(), TqzToolsVersion::GetProgramCopyright());
  EXPECT_NE(TqzToolsVersion::GetProgramProductString(), u"Unknown");
  // The ELF module is recognised, and matches the bitness of this build.
  EXPECT_EQ(TqzToolsVersion::GetExecutableCPUPlatform(self), sizeof(void*) == 8 ? qzCPU_x64 : qzCPU_x86);
  EXPECT_THROW(TqzToolsVersion::GetResource(u"LOGO", u"RCDATA"), Exception);
}

TEST(ExecutableHeaderTest, NonExecutablesAreRefused) {
  char tmpl[] = "/tmp/qzexe-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
  std::ofstream(dir + "/text") << std::string(400, 'a');
  std::ofstream(dir + "/short") << "MZ";
  std::string mzOnly(400, '\0');
  mzOnly[0] = 'M';
  mzOnly[1] = 'Z';
  std::ofstream(dir + "/mz", std::ios::binary) << mzOnly;  // header offset 0
  try {
    TqzToolsVersion::IsExecutablex64(Utf8ToWide(dir + "/text"));
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, u"Invalid executable");
  }
  EXPECT_THROW(TqzToolsVersion::IsExecutablex64(Utf8ToWide(dir + "/mz")), Exception);
  EXPECT_THROW(TqzToolsVersion::IsExecutablex64(Utf8ToWide(dir + "/short")), EInOutError);
  EXPECT_THROW(TqzToolsVersion::IsExecutablex64(Utf8ToWide(dir + "/nothing")), EInOutError);
  for (const char* f : {"/text", "/short", "/mz", "/nothing"})
    EXPECT_EQ(TqzToolsVersion::GetExecutableCPUPlatform(Utf8ToWide(dir + f)), qzCPU_Unknown) << f;
  std::filesystem::remove_all(dir);
}

TEST(VersionTextTest, ParsingValidityAndComparison) {
  struct Parse {
    const char16_t* text;
    TqzVersion expected;
  };
  for (const Parse& p : {Parse{u"3", {3, 0, 0, 0}}, Parse{u"1..2", {1, 0, 2, 0}}, Parse{u"a.b", {0, 0, 0, 0}},
                         Parse{u"1.2.3.4.5", {1, 2, 3, 4}}, Parse{u"", {0, 0, 0, 0}},
                         Parse{u"10.20.30.40", {10, 20, 30, 40}}}) {
    SCOPED_TRACE(WideToUtf8(p.text));
    EXPECT_EQ(TqzVersionTools::GetVersionFromStr(p.text), p.expected);
  }
  EXPECT_EQ(TqzVersionTools::GetVersionStr({1, 10, 0, 7}), u"1.10.0.7");
  EXPECT_EQ(TqzVersionTools::InitVersion(), (TqzVersion{0, 0, 0, 0}));

  struct Valid {
    const char16_t* text;
    bool valid;
  };
  for (const Valid& v : {Valid{u"7", true}, Valid{u"1.2.3.4.5", true}, Valid{u"", true}, Valid{u"1.x", false},
                         Valid{u"1.-2", false}, Valid{u"1.2.3.x", false}, Valid{u"1.2.3.4.x", true}}) {
    SCOPED_TRACE(WideToUtf8(v.text));
    EXPECT_EQ(TqzVersionTools::IsValidVersionString(v.text), v.valid);
  }
  EXPECT_FALSE(TqzVersionTools::IsValidVersion(TqzVersion{0, 0, 0, 0}));
  EXPECT_FALSE(TqzVersionTools::IsValidVersion(TqzVersion{99999, 99999, 99999, 99999}));
  EXPECT_TRUE(TqzVersionTools::IsValidVersion(TqzVersion{0, 0, 0, 1}));
  EXPECT_TRUE(TqzVersionTools::IsValidVersion(u"0.0.0.1"));
  EXPECT_FALSE(TqzVersionTools::IsValidVersion(u"x"));

  struct Cmp {
    const char16_t *test, *ref;
    TqzVersionComparison expected;
  };
  for (const Cmp& c : {Cmp{u"1.10.0.0", u"1.9.0.0", qzVC_Newer}, Cmp{u"1.9", u"1.10", qzVC_Older},
                       Cmp{u"2.0.0.1", u"2.0.0.1", qzVC_Identical}, Cmp{u"0.0.0.0", u"1.0", qzVC_Unknown},
                       Cmp{u"1.0", u"", qzVC_Unknown}}) {
    SCOPED_TRACE(WideToUtf8(c.test) + " vs " + WideToUtf8(c.ref));
    EXPECT_EQ(TqzVersionTools::CompareVersions(c.test, c.ref), c.expected);
  }

  struct ToolsCmp {
    const char16_t *a, *b;
    int32_t expected;
  };
  for (const ToolsCmp& c : {ToolsCmp{u"1,2", u"1.2", 0}, ToolsCmp{u"1. 2", u"1.2", 0}, ToolsCmp{u"1.2.0", u"1.2", 1},
                            ToolsCmp{u"1.9", u"1.10", 2}, ToolsCmp{u"2", u"10", 2}, ToolsCmp{u"10.0", u"9.9", 1}}) {
    SCOPED_TRACE(WideToUtf8(c.a) + " vs " + WideToUtf8(c.b));
    EXPECT_EQ(TqzToolsVersion::CompareVersions(c.a, c.b), c.expected);
  }
}

TEST(OSPlatformTest, FollowsTheBuildLabInTheRegistry) {
  char tmpl[] = "/tmp/qzosp-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  ::setenv("KESTA_REGISTRY_DIR", tmpl, 1);
  EXPECT_EQ(TqzToolsVersion::GetOSPlatform(), qzOSP_Unknown);  // value missing
  EXPECT_EQ(TqzToolsVersion::GetOSPlatformFromApplicationEnvironment(), qzOSP_Unknown);
  struct Case {
    const char16_t* lab;
    TqzOSPlatform expected;
  };
  for (const Case& c : {Case{u"19041.1.AMD64FRE.vb_release.191206-1406", qzOSP_Win64},
                        Case{u"7601.24545.x86fre.win7sp1_ldr_escrow.200102-1707", qzOSP_Win32},
                        Case{u"9600.amd64fre.x86", qzOSP_Win64}, Case{u"arm64fre", qzOSP_Unknown}}) {
    SCOPED_TRACE(WideToUtf8(c.lab));
    ASSERT_TRUE(TqzRegistry::SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                      u"BuildLabEx", Variant(c.lab), false));
    EXPECT_EQ(TqzToolsVersion::GetOSPlatform(), c.expected);
  }
  // 64-bit system, this 64-bit test program: Win64.
  ASSERT_TRUE(TqzRegistry::SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                    u"BuildLabEx", Variant(u"x.amd64fre"), false));
  EXPECT_EQ(TqzToolsVersion::GetOSPlatformFromApplicationEnvironment(),
            sizeof(void*) == 8 ? qzOSP_Win64 : qzOSP_Win32);
  EXPECT_EQ(TqzToolsVersion::GetWindowsVersion(), qzWV_Unknown);
  ::unsetenv("KESTA_REGISTRY_DIR");
  std::filesystem::remove_all(tmpl);
}

}  // namespace
