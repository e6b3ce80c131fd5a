// TqzFiles: saving whole files (replace and append, digest check), merging, blank files and
// loading from files larger than one string holds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "CodePage.h"
#include "StringList.h"
#include "TestSupport.h"
#include "qzFiles.h"

namespace {

using platform::Utf8ToWide;
using qztest::ReadFile;
using qztest::WriteFile;

using qztest::W;

std::string PythonMd5(const std::string& bytes) {
  return qztest::RunPython("import hashlib,sys;sys.stdout.write(hashlib.md5(sys.stdin.buffer.read()).hexdigest())", {},
                           bytes);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

TEST(qzFilesSave, ReplaceAppendAndDigestCheck) {
  qztest::TempDir tmp;
  const std::string f = tmp.Path() + "/f.bin";
  std::string binary;
  for (int i = 0; i < 512; ++i) binary.push_back(static_cast<char>(i * 7));
  struct Row {
    const char* what;
    const char* before;  // nullptr: no file
    std::string data;
    bool append, check;
    std::string md5;  // "ok": the digest of the expected file, "ok-lower": the same in lower case
    bool result;
    std::string after;
  };
  const Row rows[] = {
      {"new file", nullptr, binary, false, false, "", true, binary},
      {"replaced", "old content", "new", false, false, "", true, "new"},
      {"emptied", "old content", "", false, false, "", true, ""},
      {"append to missing", nullptr, "abc", true, false, "", true, "abc"},
      {"append", "abc", "def", true, true, "ok", true, "abcdef"},       // digest of the whole file
      {"digest case", "abc", "def", true, true, "ok-lower", false, "abcdef"},  // written all the same
      {"digest wrong", nullptr, "x", false, true, "00000000000000000000000000000000", false, "x"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ::unlink(f.c_str());
    if (r.before) WriteFile(f, r.before);
    std::string md5 = r.md5;
    if (md5 == "ok") md5 = Upper(PythonMd5(r.after));
    if (md5 == "ok-lower") md5 = PythonMd5(r.after);
    EXPECT_EQ(TqzFiles::SaveStringToFile(W(f), r.data, r.append, r.check, md5), r.result);
    EXPECT_EQ(ReadFile(f), r.after);
  }
  // The old file's permissions stay; no temporary file is left beside it.
  ::chmod(f.c_str(), 0640);
  EXPECT_TRUE(TqzFiles::SaveStringToFile(W(f), "again"));
  struct stat st {};
  ASSERT_EQ(::stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  const auto listing = qztest::RunProcess({"ls", "-A", tmp.Path()});
  EXPECT_EQ(listing.Out, "f.bin\n");
  // A link is written at its target and stays a link.
  ::symlink(f.c_str(), (tmp.Path() + "/link").c_str());
  EXPECT_TRUE(TqzFiles::SaveStringToFile(W(tmp.Path() + "/link"), "through the link"));
  EXPECT_EQ(ReadFile(f), "through the link");
  ASSERT_EQ(::lstat((tmp.Path() + "/link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_FALSE(TqzFiles::SaveStringToFile(W(tmp.Path() + "/missing/f"), "x"));
}

// A write that fails half-way (the file size limit of the process) never destroys the old
// content.
TEST(qzFilesSave, AFailedWriteKeepsThePreviousFile) {
  qztest::TempDir tmp;
  const std::string f = tmp.Path() + "/keep.txt";
  WriteFile(f, "previous content");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1000, 1000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const bool saved = TqzFiles::SaveStringToFile(W(f), std::string(5000, 'x'));
    ::_exit(saved ? 1 : 0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was reported as success";
  EXPECT_EQ(ReadFile(f), "previous content");
  EXPECT_EQ(qztest::RunProcess({"ls", "-A", tmp.Path()}).Out, "keep.txt\n");
}

TEST(qzFilesMerge, AppendsTheFirstFileToTheSecond) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path() + "/";
  struct Row {
    const char* first;   // nullptr: missing
    const char* second;  // nullptr: missing
    bool result;
    std::string after;   // the second file afterwards ("-": missing)
  };
  const Row rows[] = {
      {"one", "two", true, "twoone"},
      {"", "two", true, "two"},
      {nullptr, "two", false, "two"},
      {"one", nullptr, false, "-"},
  };
  for (const Row& r : rows) {
    ::unlink((t + "1").c_str());
    ::unlink((t + "2").c_str());
    if (r.first) WriteFile(t + "1", r.first);
    if (r.second) WriteFile(t + "2", r.second);
    EXPECT_EQ(TqzFiles::MergeFiles(W(t + "1"), W(t + "2")), r.result);
    EXPECT_EQ(::access((t + "2").c_str(), F_OK) == 0 ? ReadFile(t + "2") : "-", r.after);
    if (r.first) {
      EXPECT_EQ(ReadFile(t + "1"), r.first);
    }
  }
  // A file merged into itself doubles once.
  WriteFile(t + "self", "ab");
  EXPECT_TRUE(TqzFiles::MergeFiles(W(t + "self"), W(t + "self")));
  EXPECT_EQ(ReadFile(t + "self"), "abab");
}

TEST(qzFilesBlank, CreatesOnlyWhereNothingIsThere) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path() + "/";
  WriteFile(t + "full", "content");
  WriteFile(t + ".hidden", "content");
  ::mkdir((t + "dir").c_str(), 0755);
  struct Row {
    std::string name;
    bool result;
  };
  const Row rows[] = {{"new", true}, {"full", false}, {".hidden", false}, {"dir", false}, {"missing/x", false}};
  for (const Row& r : rows) EXPECT_EQ(TqzFiles::CreateBlankFile(W(t + r.name)), r.result) << r.name;
  EXPECT_EQ(ReadFile(t + "new"), "");
  EXPECT_EQ(ReadFile(t + "full"), "content");
  EXPECT_EQ(ReadFile(t + ".hidden"), "content");
}

// A sparse file beyond 2 GiB: refused whole before anything is allocated, yet its first bytes
// load with a MaxSize.
TEST(qzFilesLoad, LargeFilesAreRefusedCleanly) {
  qztest::TempDir tmp;
  const std::string f = tmp.Path() + "/big";
  const int fd = ::open(f.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, "head", 4, 0), 4);
  ASSERT_EQ(::ftruncate(fd, (int64_t{3} << 30)), 0);
  ::close(fd);
  AnsiString data = "before";
  EXPECT_FALSE(TqzFiles::LoadFileToString(W(f), data));
  EXPECT_EQ(data, "before");
  EXPECT_TRUE(TqzFiles::LoadFileToString(W(f), data, int32_t{10}));
  EXPECT_EQ(data, std::string("head") + std::string(6, '\0'));
}

}  // namespace
