// TqzFiles: path texts, system folders and free names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "CodePage.h"
#include "Exceptions.h"
#include "StringList.h"
#include "TestSupport.h"
#include "qzFiles.h"
#include "qzToolsIdentity.h"

namespace {

using platform::Utf8ToWide;
using platform::WideToUtf8;
using qztest::WriteFile;

using qztest::W;

using qztest::Exists;

TEST(qzFilesPaths, NameTexts) {
  struct Row {
    const char16_t* in;
    const char16_t* erased;     // ErasePathExt
    const char16_t* extention;  // GetFileExtention
  };
  const Row rows[] = {
      {u"  /data/ ", u"/data", u"  /data/ "},
      {u"/data", u"/data", u"/data"},
      {u"C:\\data\\", u"C:\\data", u"C:\\data\\"},
      {u"/a/archive.tar.gz", u"/a/archive.tar.gz", u".gz"},
      {u"/dir.d/file", u"/dir.d/file", u".d/file"},  // from the last "." of the whole path
      {u"", u"", u""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(WideToUtf8(r.in));
    EXPECT_EQ(TqzFiles::ErasePathExt(r.in), r.erased);
    EXPECT_EQ(TqzFiles::GetFileExtention(r.in), r.extention);
  }
  struct ExtRow {
    const char16_t* in;
    bool lower;
    const char16_t* out;
  };
  const ExtRow exts[] = {{u" PDF", true, u".pdf"}, {u" PDF", false, u".PDF"}, {u".Tif", true, u".tif"},
                         {u"", true, u""},         {u"  ", true, u""},       {u"\u00c4X", true, u".\u00e4x"}};
  for (const ExtRow& r : exts) EXPECT_EQ(TqzFiles::CheckFileExtension(r.in, r.lower), r.out) << WideToUtf8(r.in);
}

TEST(qzFilesPaths, EqualsFileNameMatchesTheNamesAsMasks) {
  struct Row {
    const char16_t* name;
    const char16_t* mask;
    bool match;
  };
  const Row rows[] = {
      {u"/in/Scan1.PDF", u"/other/*.pdf", true},  // folders ignored, case ignored
      {u"scan1.pdf", u"scan?.pdf", true},
      {u"scan12.pdf", u"scan?.pdf", false},
      {u"a.pdf.pdf", u"*.pdf", true},             // a run may hold the suffix itself
      {u"classes", u"*s", true},
      {u"report.txt", u"*.*", true},
      {u"README", u"*.*", true},                 // every name
      {u"a.tiff", u"*.tif", false},
      {u"  a.tif ", u" *.TIF", true},            // both trimmed
      {u"\u00e4rger.txt", u"\u00c4*.TXT", true},
      {u"x\U0001F600y", u"x?y", true},           // one character, even beyond 16 bits
  };
  for (const Row& r : rows)
    EXPECT_EQ(TqzFiles::EqualsFileName(r.name, r.mask), r.match) << WideToUtf8(r.name) << " ~ " << WideToUtf8(r.mask);
}

TEST(qzFilesPaths, ConvertToFileNameRemovesBadCharactersAndKeepsTheFileSystemsLimit) {
  const UnicodeString longName(300, u'n');
  const UnicodeString umlauts(200, u'\u00e4');  // two bytes each in UTF-8
  struct Row {
    UnicodeString in;
    UnicodeString out;
  };
  const Row rows[] = {
      {u"a:b?c.txt", u"abc.txt"},
      {u"x\"*/<>|\\\x7f\ty\u00e9.pdf", u"xy\u00e9.pdf"},
      {u"x\u20ACy", u"x\u20ACy"},  // characters above 255 stay
      {u"", u""},
      {longName + u".pdf", longName.substr(0, 251) + u".pdf"},
      {umlauts + u".pdf", umlauts.substr(0, 125) + u".pdf"},  // 250 + 4 bytes: never half a character
      {u"." + longName, u"_." + longName.substr(0, 253)},      // no name part: "_"
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(WideToUtf8(r.in).substr(0, 40));
    const UnicodeString got = TqzFiles::ConvertToFileName(r.in);
    EXPECT_EQ(got, r.out);
    EXPECT_LE(WideToUtf8(got).size(), 255u);
  }
  // The result is accepted by the file system as a name.
  qztest::TempDir tmp;
  for (const UnicodeString& in : {longName + u".pdf", umlauts + u".pdf", u"." + longName}) {
    const std::string path = tmp.Path() + "/" + WideToUtf8(TqzFiles::ConvertToFileName(in));
    WriteFile(path, "x");
    EXPECT_TRUE(Exists(path));
  }
}

TEST(qzFilesPaths, ShortPath) {
  struct Row {
    const char16_t* path;
    int32_t max;
    const char16_t* out;
  };
  const Row rows[] = {
      {u"C:\\Program Files\\Vendor\\App\\data\\file.txt", 30, u"C:\\Program Files\\...\\file.txt"},
      {u"/opt/Program Files/Vendor/App/data/file.txt", 31, u"/opt/.../file.txt"},
      {u"/opt/Program Files/Vendor/App/data/file.txt", 32, u"/opt/Program Files/.../file.txt"},
      {u"/short/file.txt", 30, u"/short/file.txt"},
      {u"/a/b/c/a-very-long-file-name.txt", 10, u".../a-very-long-file-name.txt"},
      {u"no-separator-at-all.txt", 5, u".../no-separator-at-all.txt"},
  };
  for (const Row& r : rows) EXPECT_EQ(TqzFiles::ShortPath(r.path, r.max), r.out) << WideToUtf8(r.path);
}

TEST(qzFilesPaths, ShortDosPathAndPlaceholders) {
  qztest::TempDir tmp;
  WriteFile(tmp.Path() + "/Long File Name.text", "x");
  EXPECT_EQ(TqzFiles::GetShortDOSPath(W(tmp.Path() + "/Long File Name.text")), W(tmp.Path() + "/Long File Name.text"));
  try {
    TqzFiles::GetShortDOSPath(W(tmp.Path() + "/missing"));
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, W("unable to determine short path name from " + tmp.Path() + "/missing"));
  }
  EXPECT_EQ(TqzFiles::BuildPathStr(u"/out/%user/%host", true, u"anna", u"box"), u"/out/anna/box/");
  EXPECT_EQ(TqzFiles::BuildPathStr(u"/out/%USER", false, u"anna", u"box"), u"/out/anna");
}

TEST(qzFilesPaths, SystemFoldersFollowTheXdgTable) {
  qztest::TempDir tmp;
  qztest::ScopedEnv home("HOME", tmp.Path());
  qztest::ScopedEnv data("XDG_DATA_HOME", tmp.Path() + "/data");
  EXPECT_EQ(TqzFiles::GetUserTempPath(), W(tmp.Path() + "/data/Temp/"));
  EXPECT_EQ(TqzFiles::GetSpecialFolder(CSIDL_PROFILE), W(tmp.Path()));
  EXPECT_EQ(TqzFiles::GetSpecialFolder(CSIDL_LOCAL_APPDATA), W(tmp.Path() + "/data"));
  EXPECT_EQ(TqzFiles::GetSpecialFolder(CSIDL_WINDOWS), u"/");
  EXPECT_EQ(TqzFiles::GetSpecialFolder(0x7777), u"");
  EXPECT_EQ(TqzFiles::GetWinPath(true), u"/");
  EXPECT_EQ(TqzFiles::GetWinPath(false), u"/");
}

// ---- Free names --------------------------------------------------------------------------------

TEST(qzFilesFreeNames, GetFreeFileName) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path() + "/";
  WriteFile(t + "a.txt", "");
  WriteFile(t + "a-2.txt", "");
  WriteFile(t + "b", "");
  WriteFile(t + ".h.txt", "");     // hidden: still takes its name
  WriteFile(t + ".h-2.txt", "");
  ::mkdir((t + "dir.d").c_str(), 0755);  // a folder takes its name too
  ::symlink((t + "nowhere").c_str(), (t + "link.txt").c_str());  // so does a dangling link
  WriteFile(t + "r-000001.pdf", "");
  struct Row {
    std::string dest;
    uint32_t maxRetry;
    bool alwaysId, zeros;
    std::string expected;
  };
  const Row rows[] = {
      {"free.txt", 99999999, false, false, "free.txt"},
      {"a.txt", 99999999, false, false, "a-3.txt"},
      {"b", 99999999, false, false, "b-2"},
      {".h.txt", 99999999, false, false, ".h-3.txt"},
      {"dir.d", 99999999, false, false, "dir-2.d"},
      {"link.txt", 99999999, false, false, "link-2.txt"},
      {"free.txt", 99999999, true, false, "free-1.txt"},
      {"r.pdf", 99999999, true, true, "r-000002.pdf"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.dest);
    EXPECT_EQ(TqzFiles::GetFreeFileName(W(t + r.dest), r.maxRetry, u"-", r.alwaysId, r.zeros), W(t + r.expected));
  }
  // Every numbered name up to MaxRetry taken: a time stamp (yyyymmddhhnnsszzz) instead.
  WriteFile(t + "a-3.txt", "");
  const std::string stamped = WideToUtf8(TqzFiles::GetFreeFileName(W(t + "a.txt"), 3));
  EXPECT_TRUE(std::regex_match(stamped, std::regex(".*/a-20[0-9]{15}\\.txt"))) << stamped;
  EXPECT_FALSE(Exists(stamped));
  // MaxRetry 0 or 1 tries only the first name.
  EXPECT_TRUE(std::regex_match(WideToUtf8(TqzFiles::GetFreeFileName(W(t + "a.txt"), 1)), std::regex(".*/a-[0-9]{17}\\.txt")));
  EXPECT_EQ(TqzFiles::GetFreeFileName(W(t + "new.txt"), 0), W(t + "new.txt"));
}

TEST(qzFilesFreeNames, DetermineNewFilename) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path() + "/";
  WriteFile(t + "Document.pdf", "");
  struct Row {
    std::vector<const char16_t*> files;
    const char16_t* valid;
    int32_t maxName, maxFinal;
    std::string expected;
  };
  const Row rows[] = {
      {{u"/in/Scan  1.tif", u"/in/note.txt"}, u"tif", 20, 100, "Scan 1.pdf"},
      {{u"/in/note.txt"}, u"tif", 20, 100, "Document-2.pdf"},  // none taken; Document.pdf exists
      {{u"/in/a.TIF", u"/in/b.pdf", u"/in/c.txt"}, u" pdf, .TIF", 20, 100, "a, b.pdf"},
      {{u"/in/a.tif", u"/in/b.txt"}, u"*", 20, 100, "a, b.pdf"},
      {{u"/in/long-name-one.tif", u"/in/long-name-two.tif"}, u"tif", 4, 100, "long..., long....pdf"},
      {{u"/in/abcdef.tif", u"/in/ghijkl.tif"}, u"tif", 20, 5, "abcde....pdf"},
      {{u"/in/abc.tif", u"/in/def.tif"}, u"tif", 20, 3, "abc....pdf"},  // "...." folded to "..."
      // Whole items only: "F" is no extension of "PDF", and a name without one is never taken.
      {{u"/in/x.f", u"/in/noext"}, u"pdf", 20, 100, "Document-2.pdf"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.expected);
    TStringList list;
    for (const char16_t* f : r.files) list.Add(f);
    EXPECT_EQ(TqzFiles::DetermineNewFilename(W(t + "target.xyz"), list, r.valid, u"PDF", r.maxName, r.maxFinal),
              W(t + r.expected));
  }
}

TEST(qzFilesFreeNames, CreateUniqueFilenameReservesItsResult) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path();
  std::set<UnicodeString> seen;
  for (int i = 0; i < 20; ++i) {
    const UnicodeString name = TqzFiles::CreateUniqueFilename(W(t), u"pdf");
    const std::string path = WideToUtf8(name);
    EXPECT_TRUE(std::regex_match(path, std::regex(".*/~[0-9A-F]{4}000\\.pdf"))) << path;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;  // reserved: an empty file of that name
    EXPECT_EQ(st.st_size, 0);
    EXPECT_TRUE(seen.insert(name).second);
  }
  // Nothing else is left behind.
  const auto listing = qztest::RunProcess({"find", t, "-mindepth", "1"});
  EXPECT_EQ(std::count(listing.Out.begin(), listing.Out.end(), '\n'), 20);
  try {
    TqzFiles::CreateUniqueFilename(W(t + "/missing/"), u"pdf");
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, u"No such file or directory");
  }
}

}  // namespace
