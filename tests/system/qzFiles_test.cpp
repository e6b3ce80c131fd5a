// TqzFiles: paths, folders, the temporary folder, sizes, whole-file loading, the retrying delete
// and MIME types, against real files in a temporary folder.
#include "qzFiles.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <vector>
#include <string>

#include "CodePage.h"
#include "Registry.h"
#include "StringList.h"
#include "TestSupport.h"

namespace {

using platform::Utf8ToWide;
using platform::WideToUtf8;

using qztest::W;

using qztest::WriteFile;

bool IsDir(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

using qztest::Exists;

using qztest::ScopedEnv;

// ---- Paths and names ---------------------------------------------------------------------------

TEST(qzFilesPaths, CheckPathExtAndPureFileName) {
  struct Row {
    const char16_t* in;
    const char16_t* checked;
    const char16_t* pure;
  };
  const Row rows[] = {
      {u"  /data ", u"/data/", u"data "},  // the name is taken as written
      {u"", u"", u""},
      {u" \t ", u"", u" \t "},
      {u"/data/", u"/data/", u""},
      {u"C:\\data\\", u"C:\\data\\", u""},  // a trailing backslash ends a folder too
      {u"/a/archive.tar.gz", u"/a/archive.tar.gz/", u"archive.tar"},
      {u"/home/u/.profile", u"/home/u/.profile/", u""},
      {u"C:\\dir.d\\README", u"C:\\dir.d\\README/", u"README"},  // a dot in a folder is no extension
      {u"/dir.d/file", u"/dir.d/file/", u"file"},
      {u"name.", u"name./", u"name"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(WideToUtf8(r.in));
    EXPECT_EQ(TqzFiles::CheckPathExt(r.in), r.checked);
    EXPECT_EQ(TqzFiles::ExtractPureFileName(r.in), r.pure);
  }
}

TEST(qzFilesFolders, PathExistsTestsTheFolderPart) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path();
  ::mkdir((t + "/data").c_str(), 0755);
  WriteFile(t + "/data/file.txt", "x");
  struct Row {
    std::string path;
    bool exists;
  };
  const Row rows[] = {
      {t + "/data/file.txt", true},         // folder part t/data/
      {t + "/data/", true},
      {t + "/data", true},                  // tests t/, not t/data
      {t + "/nothing/file.txt", false},
      {t + "/data/file.txt/", false},       // a file is no folder
      {t + "\\data\\missing.txt", true},   // backslashes separate as well
      {"file.txt", false},                  // no folder part
      {"", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.path);
    EXPECT_EQ(TqzFiles::PathExists(W(r.path)), r.exists);
  }
}

TEST(qzFilesFolders, CreatePathMakesEveryLevelAndReportsTheDeepest) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path();
  // Every missing level of the folder part; the file name is not made.
  EXPECT_TRUE(TqzFiles::CreatePath(W(t + "/a/b/c/file.txt"), true));
  EXPECT_TRUE(IsDir(t + "/a/b/c"));
  EXPECT_FALSE(Exists(t + "/a/b/c/file.txt"));
  // With the existence check an existing folder is success; without it, the deepest level
  // already existing gives false and nothing changes.
  EXPECT_TRUE(TqzFiles::CreatePath(W(t + "/a/b/c/"), true));
  EXPECT_FALSE(TqzFiles::CreatePath(W(t + "/a/b/c/"), false));
  EXPECT_TRUE(TqzFiles::CreatePath(W(t + "/a/b/new/"), false));
  EXPECT_TRUE(IsDir(t + "/a/b/new"));
  // Backslashes are folder separators on disk too.
  EXPECT_TRUE(TqzFiles::CreatePath(W(t + "\\x\\y\\"), true));
  EXPECT_TRUE(IsDir(t + "/x/y"));
  // A level that is a file blocks the tree: false, no exception.
  WriteFile(t + "/plain", "");
  EXPECT_FALSE(TqzFiles::CreatePath(W(t + "/plain/sub/"), true));
  EXPECT_FALSE(TqzFiles::CreatePath(u"", true));
}

TEST(qzFilesFolders, TempPathFollowsTmpdir) {
  struct Row {
    const char* tmpdir;
    const char16_t* expected;
  };
  const Row rows[] = {{"/var/tmp/qz", u"/var/tmp/qz/"}, {"/var/tmp/qz/", u"/var/tmp/qz/"}, {"  ", u"/tmp/"},
                      {nullptr, u"/tmp/"}};
  for (const Row& r : rows) {
    ScopedEnv env("TMPDIR", r.tmpdir);
    EXPECT_EQ(TqzFiles::GetTempPath(), r.expected) << (r.tmpdir ? r.tmpdir : "(unset)");
  }
}

// ---- Sizes -------------------------------------------------------------------------------------

TEST(qzFilesSizes, SizeOfTheFirstEntryFound) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path();
  WriteFile(t + "/b.txt", std::string(300, 'b'));
  WriteFile(t + "/a.txt", std::string(5000000, 'a'));  // more than fits one read call's small buffers
  WriteFile(t + "/noext", "123");
  ::mkdir((t + "/folder.txt").c_str(), 0755);
  struct Row {
    std::string name;
    int64_t size;
  };
  const Row rows[] = {
      {t + "/b.txt", 300},   {t + "/*.txt", 5000000},  // first in name order: a.txt
      {t + "/b?txt", 300},   {t + "/*.*", 5000000},    // "*.*" is every name
      {t + "/noe*", 3},      {t + "/folder.txt", 0},   // a folder has no size
      {t + "/missing", 0},   {t + "/*.pdf", 0},
      {"", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(TqzFiles::GetSizeOfFile(W(r.name)), r.size);
  }
}

// ---- File contents -----------------------------------------------------------------------------

TEST(qzFilesLoad, WholeFilesAndPrefixes) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path();
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  WriteFile(t + "/bytes", all);
  WriteFile(t + "/empty", "");
  WriteFile(t + "/four", "abcd");
  WriteFile(t + "/hundred", std::string(100, 'h'));

  AnsiString data = "old";
  EXPECT_TRUE(TqzFiles::LoadFileToString(W(t + "/bytes"), data));
  EXPECT_EQ(data, all);  // every byte value, zero included
  EXPECT_TRUE(TqzFiles::LoadFileToString(W(t + "/empty"), data));
  EXPECT_EQ(data, "");

  struct Row {
    std::string file;
    int32_t max;
    bool ok;
    std::string data;
  };
  const Row rows[] = {{"four", 10, true, "abcd"},
                      {"hundred", 10, true, std::string(10, 'h')},
                      {"hundred", 0, true, ""},
                      {"hundred", -1, false, "keep"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.file + " " + std::to_string(r.max));
    AnsiString d = "keep";
    EXPECT_EQ(TqzFiles::LoadFileToString(W(t + "/" + r.file), d, r.max), r.ok);
    EXPECT_EQ(d, r.data);
  }
}

TEST(qzFilesLoad, FailuresLeaveTheDataAlone) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path();
  WriteFile(t + "/file", "content");
  ::mkdir((t + "/dir").c_str(), 0755);
  ASSERT_EQ(::mkfifo((t + "/fifo").c_str(), 0600), 0);
  struct Row {
    std::string name;
    uint16_t mode;
  };
  const Row rows[] = {
      {t + "/missing", TqzFiles::fmOpenRead | TqzFiles::fmShareDenyWrite},
      {t + "/dir", TqzFiles::fmOpenRead},
      {t + "/fifo", TqzFiles::fmOpenRead},                                  // refused, no wait for a writer
      {t + "/file", TqzFiles::fmOpenWrite | TqzFiles::fmShareDenyNone},    // cannot read
      {"", TqzFiles::fmOpenRead},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    AnsiString d = "untouched";
    EXPECT_FALSE(TqzFiles::LoadFileToString(W(r.name), d, r.mode));
    EXPECT_EQ(d, "untouched");
  }
  AnsiString d;
  EXPECT_TRUE(TqzFiles::LoadFileToString(W(t + "/file"), d, static_cast<uint16_t>(TqzFiles::fmOpenReadWrite)));
  EXPECT_EQ(d, "content");
}

// ---- Deleting ----------------------------------------------------------------------------------

TEST(qzFilesDelete, ForceDeleteFile) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path();
  WriteFile(t + "/readonly.txt", "x");
  ::chmod((t + "/readonly.txt").c_str(), 0444);
  WriteFile(t + "/.hidden", "x");
  ::mkdir((t + "/folder").c_str(), 0755);
  ASSERT_EQ(::symlink((t + "/nowhere").c_str(), (t + "/dangling").c_str()), 0);

  EXPECT_TRUE(TqzFiles::ForceDeleteFile(W(t + "/readonly.txt")));
  EXPECT_FALSE(Exists(t + "/readonly.txt"));
  EXPECT_TRUE(TqzFiles::ForceDeleteFile(W(t + "/.hidden")));
  EXPECT_FALSE(Exists(t + "/.hidden"));
  EXPECT_TRUE(TqzFiles::ForceDeleteFile(W(t + "/dangling")));  // the link, not its target
  EXPECT_FALSE(Exists(t + "/dangling"));
  EXPECT_TRUE(TqzFiles::ForceDeleteFile(W(t + "/never-there")));
  // A folder is no file: nothing of that name is a file afterwards, and the folder stays.
  EXPECT_TRUE(TqzFiles::ForceDeleteFile(W(t + "/folder")));
  EXPECT_TRUE(IsDir(t + "/folder"));
}

// A file in a folder the caller may not write cannot be deleted: false after the ten attempts,
// the file still there. Run as an unprivileged user (a child process drops to "nobody" when
// the test runs as root, since root may delete anything).
TEST(qzFilesDelete, ForceDeleteFileReportsAFileItCannotDelete) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path();
  ::chmod(t.c_str(), 0755);
  ::mkdir((t + "/locked").c_str(), 0755);
  WriteFile(t + "/locked/f.txt", "x");
  ::chmod((t + "/locked").c_str(), 0555);
  ::mkdir((t + "/sealed").c_str(), 0700);  // not even searchable for others
  WriteFile(t + "/sealed/g.txt", "x");
  const bool root = ::geteuid() == 0;
  if (!root) ::chmod((t + "/sealed").c_str(), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::geteuid() == 0) {
      const passwd* nobody = ::getpwnam("nobody");
      if (!nobody || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(3);
    }
    const auto start = std::chrono::steady_clock::now();
    // A file that cannot even be looked at is not "gone" either.
    const bool result = TqzFiles::ForceDeleteFile(W(t + "/locked/f.txt")) ||
                        TqzFiles::ForceDeleteFile(W(t + "/sealed/g.txt"));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    ::_exit(result ? 1 : (ms.count() >= 900 ? 0 : 2));  // ten attempts with pauses between
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::chmod((t + "/locked").c_str(), 0755);
  ::chmod((t + "/sealed").c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reported success, 2: gave up too early, 3: could not drop rights";
  EXPECT_TRUE(Exists(t + "/locked/f.txt"));
  EXPECT_TRUE(Exists(t + "/sealed/g.txt"));
}

// ---- MIME types --------------------------------------------------------------------------------

TEST(qzFilesMime, TableThenRegistryThenDefault) {
  qztest::TempDir reg;
  ScopedEnv env("KESTA_REGISTRY_DIR", reg.Path().c_str());
  WriteFile(reg.Path() + "/HKCR.reg",
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\.xyz]\r\n\"Content Type\"=\"application/x-xyz\"\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\.pdf]\r\n\"Content Type\"=\"application/x-not-used\"\r\n");
  struct Row {
    const char16_t* name;
    const char16_t* type;
  };
  const Row rows[] = {
      {u"scan.PDF", u"application/pdf"},            // extension lower-cased; the table wins
      {u"archive.zip", u"application/zip"},         // the first of two rows
      {u"mail.msg", u"application/vnd.ms-outlook"},
      {u"data.cdf", u"application/x-cdf"},
      {u"README", u"application/octet-stream"},     // no extension: the first row, not Default
      {u"/dir.d/file", u"application/octet-stream"},
      {u"C:\\a.b\\file", u"application/octet-stream"},
      {u"file.*", u"application/octet-stream"},
      {u"page.TIFF", u"image/tiff"},
      {u"doc.docx", u"application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {u"x.odt", u"application/vnd.oasis.opendocument.text"},  // the last row
      {u"x.xyz", u"application/x-xyz"},             // from the classes root
      {u"x.unknownext", u"text/x-default"},         // the caller's default
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(WideToUtf8(r.name));
    EXPECT_EQ(TqzFiles::GetMIMEType(r.name, u"text/x-default"), r.type);
  }
}

TEST(qzFilesMime, ExtensionFromTypeThenRegistry) {
  qztest::TempDir reg;
  ScopedEnv env("KESTA_REGISTRY_DIR", reg.Path().c_str());
  WriteFile(reg.Path() + "/HKLM.reg",
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\kesta\\System\\ContentTypes]\r\n"
            "\"application/x-kesta\"=\"kqf\"\r\n\"application/octet-stream\"=\"bin\"\r\n");
  struct Row {
    const char16_t* type;
    const char16_t* ext;
  };
  const Row rows[] = {
      {u"Image/JPEG", u"jpg"},                      // the first row of the type, lower-cased
      {u"application/x-msg", u"msg"},
      {u"application/x-zip-compressed", u"zip"},
      {u"application/x-netcdf", u"cdf"},
      {u"application/octet-stream", u"bin"},        // row 0 has no extension: the registry's
      {u"APPLICATION/X-KESTA", u"kqf"},
      {u"application/x-unknown", u""},
  };
  for (const Row& r : rows) EXPECT_EQ(TqzFiles::GetExtensionFromMimeType(r.type), r.ext) << WideToUtf8(r.type);
}

// The common types agree with the system's MIME table (/etc/mime.types).
TEST(qzFilesMime, CommonTypesAgreeWithTheSystemTable) {
  std::ifstream in("/etc/mime.types");
  if (!in) GTEST_SKIP() << "/etc/mime.types is not installed";
  std::map<std::string, std::string> system;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string type, ext;
    words >> type;
    while (words >> ext) system.emplace(ext, type);
  }
  for (const char* ext : {"pdf", "png", "gif", "jpg", "jpeg", "tif", "tiff", "bmp", "svg", "txt", "html", "htm", "css",
                          "rtf", "doc", "docx", "xls", "xlsx", "ppt", "pptx", "odt", "xps", "ps", "eml", "zip", "tar",
                          "mp3", "wav", "avi", "mpeg", "mov"}) {
    SCOPED_TRACE(ext);
    ASSERT_TRUE(system.count(ext));
    EXPECT_EQ(WideToUtf8(TqzFiles::GetMIMEType(W(std::string("file.") + ext), u"")), system[ext]);
    EXPECT_EQ(WideToUtf8(TqzFiles::GetExtensionFromMimeType(W(system[ext]))).empty(), false);
  }
}

// ---- File-type lists ---------------------------------------------------------------------------

TEST(qzFilesTypes, ExistenceByMasks) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path() + "/";
  WriteFile(t + "scan.tif", "");
  WriteFile(t + ".hidden.pdf", "");
  struct Row {
    std::vector<std::string> masks;
    bool exists;
  };
  const Row rows[] = {{{"*.pdf", "*.tif"}, true}, {{"*.pdf"}, true},  // any entry, hidden too
                      {{"*.doc"}, false},          {{}, false}};
  for (const Row& r : rows) {
    TStringList full, names;
    for (const std::string& m : r.masks) {
      full.Add(W(t + m));
      names.Add(W(m));
    }
    EXPECT_EQ(TqzFiles::FileTypeExists(full), r.exists);
    EXPECT_EQ(TqzFiles::FileTypeExists(W(t), names), r.exists);
  }
}

TEST(qzFilesTypes, ListsOfTypes) {
  TStringList allowed;
  for (const char16_t* e : {u"pdf", u"tif", u"tiff"}) allowed.Add(e);
  struct Row {
    const char16_t* path;
    bool result;
    std::vector<std::string> paths;
  };
  const Row rows[] = {
      {u"/in/scan.*", true, {"/in/scan.pdf", "/in/scan.tif", "/in/scan.tiff"}},
      {u"/in/scan.t*", true, {"/in/scan.tif", "/in/scan.tiff"}},
      {u"/in/scan.PDF", true, {"/in/scan.pdf"}},
      {u"/in/scan.doc", false, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(WideToUtf8(r.path));
    TStringList out;
    EXPECT_EQ(TqzFiles::GetFilePathesWithTypesInList(r.path, allowed, out, true), r.result);
    std::vector<std::string> got;
    for (int i = 0; i < out.Count(); ++i) got.push_back(WideToUtf8(out.Get(i)));
    EXPECT_EQ(got, r.paths);
  }
  TStringList paths, types;
  for (const char16_t* p : {u"/a/x.pdf", u"/a/y.tif", u"/a/z.pdf", u"/a.d/noext"}) paths.Add(p);
  types.SetSorted(true);
  EXPECT_EQ(TqzFiles::GetFileTypesFromPathList(paths, types), 3);
  EXPECT_EQ(types.Get(0), u".d/noext");
  EXPECT_EQ(types.Get(1), u".pdf");
  TStringList valid, taken;
  for (const char16_t* e : {u".pdf", u"pdf", u" .PDF "}) valid.Add(e);
  EXPECT_TRUE(TqzFiles::GetValidFileTypesInList(u"a.PDF", valid, taken, false));
  EXPECT_EQ(taken.Count(), 2);  // ".pdf" and " .PDF ", not "pdf"
  TStringList all;
  EXPECT_TRUE(TqzFiles::GetValidFileTypesInList(u"*", valid, all, true));
  EXPECT_EQ(all.Count(), 3);
  TStringList none;
  EXPECT_FALSE(TqzFiles::GetValidFileTypesInList(u"*", valid, none, false));
}

}  // namespace
