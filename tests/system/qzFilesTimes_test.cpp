// TqzFiles times, ages, sizes, locks and the wipe against stat, touch, find, df, Python's fcntl
// (open-file-description locks) and strace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "StringList.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "qzFiles.h"

namespace {

using platform::Utf8ToWide;
using platform::WideToUtf8;
using qztest::ReadFile;
using qztest::WriteFile;

using qztest::W;

using qztest::Exists;

// Seconds since the epoch of a local day number.
double Epoch(TDateTime local) {
  return std::chrono::duration<double>(platform::FromLocalDateTime(local).time_since_epoch()).count();
}

std::vector<std::string> StatFields(const std::string& path, const std::string& format) {
  std::istringstream in(qztest::RunProcess({"stat", "-c", format, path}).Out);
  std::vector<std::string> fields;
  for (std::string f; in >> f;) fields.push_back(f);
  return fields;
}

void Touch(const std::string& path, const std::string& when) {
  ASSERT_EQ(qztest::RunProcess({"touch", "-d", when, path}).ExitCode, 0);
}

TEST(qzFilesTimes, ReadAgainstStat) {
  qztest::TempDir tmp;
  const std::string f = tmp.Path() + "/f.txt";
  WriteFile(f, "12345");
  Touch(f, "2020-01-02 03:04:05.678");
  ASSERT_EQ(qztest::RunProcess({"touch", "-a", "-d", "2019-05-06 07:08:09", f}).ExitCode, 0);
  const std::vector<std::string> st = StatFields(f, "%W %.3Y %X %s %U");
  ASSERT_EQ(st.size(), 5u);
  EXPECT_NEAR(Epoch(TqzFiles::GetFileChangeDate(W(f))), std::stod(st[1]), 0.002);
  EXPECT_NEAR(Epoch(TqzFiles::GetFileChangeDate(W(tmp.Path() + "/*.txt"))), std::stod(st[1]), 0.002);
  if (st[0] != "0" && st[0] != "-") {  // the file system keeps a birth time
    EXPECT_NEAR(Epoch(TqzFiles::GetCreationTimeOfFile(W(f))), std::stod(st[0]), 1.0);
  }
  EXPECT_NEAR(Epoch(TqzFiles::GetFileCreationDate(W(f))), Epoch(TqzFiles::GetCreationTimeOfFile(W(f))), 0.002);
  // The file date: even seconds, milliseconds dropped.
  EXPECT_NEAR(Epoch(TqzFiles::GetFileDateTime(W(f))), std::floor(std::stod(st[1])) - 1, 0.002);
  EXPECT_EQ(TqzFiles::GetSizeOfFile(W(f)), std::stoll(st[3]));
  UnicodeString domain = u"keep", user = u"keep";
  EXPECT_TRUE(TqzFiles::GetFileOwner(W(f), domain, user));
  EXPECT_EQ(WideToUtf8(user), st[4]);
  EXPECT_FALSE(domain.empty());

  // Missing files.
  const UnicodeString missing = W(tmp.Path() + "/missing");
  try {
    TqzFiles::GetFileChangeDate(missing);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, u"FileTime Convert Error");
  }
  EXPECT_THROW(TqzFiles::GetFileCreationDate(missing), Exception);
  EXPECT_EQ(TqzFiles::GetCreationTimeOfFile(missing), 0);
  EXPECT_EQ(TqzFiles::GetFileDateTime(missing), 0);
  EXPECT_EQ(TqzFiles::GetFileAgeInMinutes(missing), 0);
  EXPECT_FALSE(TqzFiles::GetFileOwner(missing, domain, user));
  EXPECT_EQ(WideToUtf8(user), st[4]);
}

TEST(qzFilesTimes, SetAgainstStat) {
  qztest::TempDir tmp;
  const std::string f = tmp.Path() + "/f.txt";
  WriteFile(f, "x");
  const TDateTime when = platform::EncodeDate(2022, 7, 8) + platform::EncodeTime(9, 10, 11, 123);
  EXPECT_TRUE(TqzFiles::SetFileLastWriteDate(W(f), when));
  EXPECT_NEAR(std::stod(StatFields(f, "%.3Y")[0]), Epoch(when), 0.002);
  EXPECT_TRUE(TqzFiles::SetFileLastAccessDate(W(f), when - 1));
  EXPECT_NEAR(std::stod(StatFields(f, "%.3X")[0]), Epoch(when - 1), 0.002);
  EXPECT_FALSE(TqzFiles::SetFileCreationDate(W(f), when));  // Linux cannot set a birth time
  EXPECT_FALSE(TqzFiles::SetFileLastWriteDate(W(tmp.Path() + "/missing"), when));
  // The file date: rounded down to even seconds.
  EXPECT_TRUE(TqzFiles::SetFileDate(W(f), when));
  EXPECT_EQ(StatFields(f, "%.3Y")[0], StatFields(f, "%Y")[0] + ".000");
  EXPECT_NEAR(Epoch(TqzFiles::GetFileDateTime(W(f))), Epoch(when) - 1.123, 0.002);
  EXPECT_NEAR(Epoch(TqzFiles::GetFileChangeDate(W(f))), Epoch(when) - 1.123, 0.002);
  EXPECT_TRUE(TqzFiles::TouchFile(W(f)));
  EXPECT_LE(TqzFiles::GetFileAgeInMinutes(W(f)), 1);
  // Copying dates.
  const std::string g = tmp.Path() + "/g.txt";
  WriteFile(g, "y");
  Touch(g, "2000-01-01");
  EXPECT_TRUE(TqzFiles::CopyFileAllDateAttribute(W(f), W(g)));
  EXPECT_EQ(StatFields(g, "%Y"), StatFields(f, "%Y"));
  EXPECT_FALSE(TqzFiles::CopyFileAllDateAttribute(W(tmp.Path() + "/missing"), W(g)));
  EXPECT_TRUE(TqzFiles::CopyFileDateAttribute(W(f), W(tmp.Path() + "/missing")));  // true all the same
}

TEST(qzFilesTimes, AgesAndListsAgainstFind) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path() + "/";
  struct File {
    const char* name;
    const char* when;
  };
  const File files[] = {{"now.txt", "now"},           {"min5.txt", "5 minutes ago"}, {"min90.txt", "90 minutes ago"},
                        {"days3.txt", "3 days ago"},  {".hidden.txt", "5 minutes ago"}, {"other.pdf", "5 minutes ago"},
                        {"sec90.txt", "90 seconds ago"}};
  for (const File& f : files) {
    WriteFile(t + f.name, f.name);
    Touch(t + f.name, f.when);
  }
  ::mkdir((t + "folder.txt").c_str(), 0755);
  const int64_t age = TqzFiles::GetFileAgeInMinutes(W(t + "sec90.txt"));
  EXPECT_TRUE(age == 1 || age == 2) << age;  // two-second file date, halves to even
  EXPECT_EQ(TqzFiles::GetFileAgeInMinutes(W(t + "days3.txt")), 3 * 1440);

  auto listed = [](const TStrings& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(WideToUtf8(list.Get(i)));
    return out;
  };
  auto find = [&](const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {"find", tmp.Path(), "-maxdepth", "1", "-type", "f", "-name", "*.txt"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    std::istringstream in(qztest::RunProcess(argv).Out);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    std::sort(out.begin(), out.end());
    return out;
  };
  struct Row {
    uint32_t minutes;
    TFileAge dir;
    std::vector<std::string> findArgs;
  };
  const Row rows[] = {{30, faYounger, {"-mmin", "-30"}}, {30, faOlder, {"-mmin", "+30"}}, {0, faOlder, {}},
                      {60 * 24, faOlder, {"-mmin", "+1440"}}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.minutes);
    TStringList list;
    EXPECT_EQ(TqzFiles::GetFileListByFileAgeInMinutes(W(t + "*.txt"), r.minutes, list, r.dir), find(r.findArgs).size());
    EXPECT_EQ(listed(list), find(r.findArgs));  // sorted; hidden files count with every attribute
  }
  TStringList plain, limited, between, byDate, days;
  EXPECT_EQ(TqzFiles::GetFileListByFileAgeInMinutes(W(t + "*.txt"), 0, plain, faYounger, TqzFiles::faReadOnly), 0u);
  EXPECT_EQ(TqzFiles::GetFileListByFileAgeInMinutes(W(t + "*.txt"), 0, limited, faYounger, TqzFiles::faAnyFile, 2), 2u);
  EXPECT_EQ(limited.Count(), 2);
  EXPECT_EQ(TqzFiles::GetFileListByFileAgeBetweenInMinutes(W(t + "*.txt"), 3, 100, between), 3u);  // 5, 5 hidden, 90
  EXPECT_EQ(listed(between), (std::vector<std::string>{t + ".hidden.txt", t + "min5.txt", t + "min90.txt"}));
  const TDateTime now = platform::Now();
  EXPECT_EQ(TqzFiles::GetFileListByFileAgeBetweenDate(W(t + "*.txt"), now - 2, now, byDate), 5u);
  TStringList shortExt;
  WriteFile(t + "long.txtx", "");
  EXPECT_EQ(TqzFiles::GetFileListByFileAgeBetweenDate(W(t + "*.txt"), now - 10, now + 1, shortExt), 6u);
  EXPECT_EQ(TqzFiles::GetFileListByFileAgeInDays(W(t + "*.txt"), 5, days, faYounger), 6u);
}

TEST(qzFilesSizes, SizesTextsAndFreeSpace) {
  qztest::TempDir tmp;
  const std::string big = tmp.Path() + "/big.bin";
  const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, int64_t{5} << 30), 0);  // sparse: 5 GiB without the disk space
  ::close(fd);
  EXPECT_EQ(TqzFiles::GetFileSize(W(big)), int64_t{5} << 30);
  EXPECT_EQ(TqzFiles::GetFileSizeEx(W(big)), int64_t{5} << 30);
  EXPECT_EQ(TqzFiles::GetSizeOfFile(W(tmp.Path() + "/*.bin")), int64_t{5} << 30);
  EXPECT_EQ(std::to_string(TqzFiles::GetFileSize(W(big))), StatFields(big, "%s")[0]);
  EXPECT_EQ(TqzFiles::GetFileSize(W(tmp.Path() + "/missing")), 0);
  EXPECT_EQ(TqzFiles::GetFileSizeEx(W(tmp.Path() + "/missing")), -1);
  WriteFile(tmp.Path() + "/.h", "abc");
  EXPECT_EQ(TqzFiles::GetFileSize(W(tmp.Path() + "/.h")), 0);  // hidden: no file
  EXPECT_EQ(TqzFiles::GetFileSizeEx(W(tmp.Path() + "/.h")), 3);

  struct Row {
    int64_t bytes;
    const char *kb, *mb, *gb;
    const char16_t* text;
  };
  const Row rows[] = {
      {0, "0.00", "0.00", "0.00", u"0 Bytes"},
      {1, "0.00", "0.00", "0.00", u"1 Byte"},
      {1536, "1.50", "0.00", "0.00", u"1 KB 512 Bytes"},
      {1048576, "1024.00", "1.00", "0.00", u"1 MB 0 KB 0 Bytes"},
      {(int64_t{5} << 30) + 1, "5242880.00", "5120.00", "5.00", u"5 GB 0 MB 0 KB 1 Byte"},
      {(int64_t{2} << 40) + (int64_t{3} << 20), "2147486720.00", "2097155.00", "2048.00", u"2 TB 0 GB 3 MB 0 KB 0 Bytes"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.bytes);
    EXPECT_EQ(TqzFiles::ByteToKb(r.bytes), r.kb);
    EXPECT_EQ(TqzFiles::ByteToMb(r.bytes), r.mb);
    EXPECT_EQ(TqzFiles::ByteToGb(r.bytes), r.gb);
    EXPECT_EQ(TqzFiles::ByteToStr(r.bytes), r.text);
  }

  // Free space as df reports it (the figure moves a little while other programs write).
  const std::string df = qztest::RunProcess({"df", "-B1", "--output=avail", tmp.Path()}).Out;
  const int64_t avail = std::stoll(df.substr(df.find('\n') + 1));
  const int64_t ours = TqzFiles::GetFreeDiskSpace(W(tmp.Path()), false);
  EXPECT_NEAR(static_cast<double>(ours), static_cast<double>(avail), 512.0 * 1048576);
  EXPECT_NEAR(static_cast<double>(TqzFiles::GetFreeDiskSpace(W(tmp.Path() + "/not/yet/there"), true)),
              static_cast<double>(avail / 1048576), 512.0);
  EXPECT_EQ(TqzFiles::GetFreeDiskSpace(u"", false), -1);
  EXPECT_EQ(TqzFiles::GetFreeDiskSpace(u"  ", true), -1);
}

// Python's fcntl takes and tests open-file-description locks from another process.
TEST(qzFilesLocks, AgainstPythonOfdLocks) {
  qztest::TempDir tmp;
  const std::string f = tmp.Path() + "/locked.dat";
  WriteFile(f, "data");
  const std::string tryLock =
      "import fcntl,os,struct,sys\n"
      "fd=os.open(sys.argv[1],os.O_RDWR)\n"
      "try:\n"
      "  fcntl.fcntl(fd,fcntl.F_OFD_SETLK,struct.pack('hhqqi',fcntl.F_WRLCK,0,0,0,0)); print('free')\n"
      "except OSError: print('busy')\n";
  EXPECT_FALSE(TqzFiles::FileIsInUse(W(f)));
  const TqzFiles::LockHandle lock = TqzFiles::CreateFileLock(W(f));
  ASSERT_NE(lock, TqzFiles::InvalidLock);
  EXPECT_EQ(qztest::RunPython(tryLock, {f}), "busy\n");
  EXPECT_TRUE(TqzFiles::FileIsInUse(W(f)));
  EXPECT_EQ(TqzFiles::CreateFileLock(W(f)), TqzFiles::InvalidLock);  // a second lock is refused
  EXPECT_TRUE(TqzFiles::ReleaseFileLock(lock));
  EXPECT_FALSE(TqzFiles::ReleaseFileLock(lock));
  EXPECT_EQ(qztest::RunPython(tryLock, {f}), "free\n");
  EXPECT_FALSE(TqzFiles::FileIsInUse(W(f)));
  // A lock held by another process.
  FILE* holder = ::popen(("/usr/bin/python3 -c \"import fcntl,os,struct,sys,time\n"
                          "fd=os.open('" + f + "',os.O_RDWR)\n"
                          "fcntl.fcntl(fd,fcntl.F_OFD_SETLK,struct.pack('hhqqi',fcntl.F_WRLCK,0,0,0,0))\n"
                          "print('locked',flush=True); time.sleep(3)\"").c_str(), "r");
  ASSERT_NE(holder, nullptr);
  char line[32] = {};
  ASSERT_NE(std::fgets(line, sizeof line, holder), nullptr);
  EXPECT_STREQ(line, "locked\n");
  EXPECT_TRUE(TqzFiles::FileIsInUse(W(f)));
  EXPECT_EQ(TqzFiles::CreateFileLock(W(f)), TqzFiles::InvalidLock);
  ::pclose(holder);
  EXPECT_FALSE(TqzFiles::FileIsInUse(W(f)));
  EXPECT_FALSE(TqzFiles::FileIsInUse(W(tmp.Path() + "/missing")));
  EXPECT_EQ(TqzFiles::CreateFileLock(W(tmp.Path() + "/missing")), TqzFiles::InvalidLock);
}

// ---- Deleting by mask and the wipe -------------------------------------------------------------

TEST(qzFilesDeleteByMask, AgesExecutablesAndLinks) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path() + "/";
  ::mkdir((t + "in").c_str(), 0755);
  ::mkdir((t + "in/sub").c_str(), 0755);
  ::mkdir((t + "outside").c_str(), 0755);
  WriteFile(t + "outside/keep.txt", "keep");
  for (const char* name : {"in/old.txt", "in/old.dll", "in/old.EXE", "in/.old.txt", "in/sub/old.txt"}) {
    WriteFile(t + name, "x");
    Touch(t + name, "2 hours ago");
  }
  WriteFile(t + "in/new.txt", "x");
  ::symlink((t + "outside").c_str(), (t + "in/link").c_str());
  ::symlink((t + "outside/keep.txt").c_str(), (t + "in/filelink.txt").c_str());
  Touch(t + "outside/keep.txt", "2 hours ago");
  EXPECT_EQ(TqzFiles::DeleteFile32(W(t + "in/*.*"), 60, false, true), 2);  // old.txt and the file link
  for (const char* kept : {"in/old.dll", "in/old.EXE", "in/.old.txt", "in/new.txt", "in/sub/old.txt", "outside/keep.txt"})
    EXPECT_TRUE(Exists(t + kept)) << kept;
  EXPECT_FALSE(Exists(t + "in/old.txt"));
  EXPECT_FALSE(Exists(t + "in/filelink.txt"));
  EXPECT_EQ(TqzFiles::DeleteFile32(W(t + "in/*.*"), 0, true, false), 4);  // dll, EXE, new, sub/old
  EXPECT_TRUE(Exists(t + "in/.old.txt"));
  EXPECT_TRUE(Exists(t + "outside/keep.txt"));
}

// Runs in a child under strace (see WipeUnderStrace): wipes the file named by QZ_WIPE_FILE.
TEST(WipeChild, DISABLED_Wipe) {
  const char* file = std::getenv("QZ_WIPE_FILE");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(TqzFiles::WipeFile(W(file), 0, 2));
}

TEST(qzFilesWipe, EveryPassReachesTheDiskBeforeTheDelete) {
  if (::access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
  qztest::TempDir tmp;
  const std::string f = tmp.Path() + "/secret.bin";
  WriteFile(f, std::string(100000, 'S'));
  char self[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
  const auto r = qztest::RunProcess({"strace", "-f", "-e", "trace=pwrite64,fdatasync,rename,renameat2,unlink,ftruncate",
                                     "-e", "signal=none", "-E", "ASAN_OPTIONS=detect_leaks=0", "-o", tmp.Path() + "/trace", self,
                                     "--gtest_also_run_disabled_tests", "--gtest_filter=WipeChild.DISABLED_Wipe"},
                                    "", {"QZ_WIPE_FILE=" + f, "ASAN_OPTIONS=detect_leaks=0"});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_FALSE(Exists(f));
  // The calls on the file, in order: 7 passes of two blocks each flushed, two renames in the
  // file's folder, truncation, flush, delete.
  std::istringstream trace(ReadFile(tmp.Path() + "/trace"));
  std::string calls;
  std::vector<std::string> patterns;
  const std::regex pwrite(R"(pwrite64\(\d+, "(\\[0-7]{1,3}|\\x[0-9a-f]{2}|.)[^"]*"\.*, (\d+), (\d+)\) = (\d+))");
  for (std::string line; std::getline(trace, line);) {
    std::smatch m;
    if (std::regex_search(line, m, pwrite)) {
      calls += "w" + m[2].str() + "@" + m[3].str() + " ";
      patterns.push_back(m[1].str());
    } else if (line.find("fdatasync(") != std::string::npos) {
      calls += "s ";
    } else if (line.find("renameat2(") != std::string::npos || line.find("rename(") != std::string::npos) {
      EXPECT_NE(line.find(tmp.Path() + "/{"), std::string::npos) << line;  // a GUID name in the same folder
      calls += "r ";
    } else if (line.find("ftruncate(") != std::string::npos) {
      calls += "t ";
    } else if (line.find("unlink(\"" + tmp.Path()) != std::string::npos) {
      calls += "u ";
    }
  }
  std::string pass = "w65536@0 w34464@65536 s ";
  std::string expected;
  for (int i = 0; i < 7; ++i) expected += pass;
  expected += "r r t s u ";
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(patterns, (std::vector<std::string>{"\\0", "\\0", "\\377", "\\377", "\\0", "\\0", "\\377", "\\377", "\\0",
                                                "\\0", "\\377", "\\377", "\\366", "\\366"}));
}

TEST(qzFilesWipe, ResultsAndTheTree) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path() + "/";
  WriteFile(t + "empty", "");
  EXPECT_TRUE(TqzFiles::WipeFile(W(t + "empty"), 0, 0));
  EXPECT_FALSE(Exists(t + "empty"));
  EXPECT_FALSE(TqzFiles::WipeFile(W(t + "missing"), 0, 0));
  WriteFile(t + "target", "keep");
  ::symlink((t + "target").c_str(), (t + "link").c_str());
  EXPECT_FALSE(TqzFiles::WipeFile(W(t + "link"), 0, 0));  // never through a link
  EXPECT_EQ(ReadFile(t + "target"), "keep");
  WriteFile(t + "letters", std::string(70000, 'x'));
  EXPECT_TRUE(TqzFiles::WipeFile(W(t + "letters"), 9, 1));
  EXPECT_FALSE(Exists(t + "letters"));

  for (const char* d : {"tree", "tree/sub", "tree/.hid", "outside"}) ::mkdir((t + d).c_str(), 0755);
  for (const char* f : {"tree/a.dat", "tree/sub/b.dat", "tree/.hid/c.dat", "tree/keep.txt", "outside/d.dat"})
    WriteFile(t + f, "secret");
  ::symlink((t + "outside").c_str(), (t + "tree/link").c_str());
  ::symlink((t + "outside/d.dat").c_str(), (t + "tree/e.dat").c_str());
  TqzFiles::SecureDeleteFiles(W(t + "tree"), u"*.dat", true, 1, 0);
  for (const char* gone : {"tree/a.dat", "tree/sub/b.dat", "tree/.hid/c.dat"}) EXPECT_FALSE(Exists(t + gone)) << gone;
  EXPECT_EQ(ReadFile(t + "outside/d.dat"), "secret");
  EXPECT_TRUE(Exists(t + "tree/keep.txt"));
  EXPECT_TRUE(Exists(t + "tree/sub"));
  TqzFiles::SecureDeleteFiles(u"", u"*", true, 1, 0);  // nothing to do
}

}  // namespace
