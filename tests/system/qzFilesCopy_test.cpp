// TqzFiles copies, moves and the one-way mirror: one table per family of (target state, exist
// mode) -> (result, files afterwards), and the mirror compared with rsync -a --delete.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "CodePage.h"
#include "Exceptions.h"
#include "StringList.h"
#include "TestSupport.h"
#include "qzFiles.h"
#include "qzToolsEvo2.h"

namespace {

using platform::Utf8ToWide;
using platform::WideToUtf8;
using qztest::ReadFile;
using qztest::WriteFile;

using qztest::W;

using qztest::Exists;

// "-" for a missing file, else its content.
std::string State(const std::string& path) { return Exists(path) ? ReadFile(path) : "-"; }

struct stat Stat(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st;
}

enum Target { None, Same, Different };
const char* const kModeNames[] = {"IF_SAME_DO_NOTHING", "OVERWRITE", "UNIQE_FILENAME", "IF_NOT_SAME_USE_UNIQUE_FILE_NAME"};

class Copies : public ::testing::Test {
 protected:
  void Prepare(Target target) {
    qztest::RunProcess({"rm", "-rf", t + "src", t + "dst"});
    ::mkdir((t + "src").c_str(), 0755);
    ::mkdir((t + "dst").c_str(), 0755);
    WriteFile(src, "source");
    ::chmod(src.c_str(), 0640);
    qztest::RunProcess({"touch", "-d", "2021-03-04 05:06:07", src});
    if (target != None) WriteFile(dst, target == Same ? "source" : "other");
  }
  qztest::TempDir tmp;
  std::string t = tmp.Path() + "/";
  std::string src = t + "src/x.txt", dst = t + "dst/x.txt", dst2 = t + "dst/x-2.txt";
};

TEST_F(Copies, CopyFile32ByExistMode) {
  struct Row {
    Target target;
    TqzEXISTS_MODE mode;
    bool result;
    std::string after, after2;  // dst/x.txt and dst/x-2.txt
  };
  const Row rows[] = {
      {None, IF_SAME_DO_NOTHING, false, "-", "-"},         {Same, IF_SAME_DO_NOTHING, true, "source", "-"},
      {Different, IF_SAME_DO_NOTHING, false, "other", "-"}, {None, OVERWRITE, true, "source", "-"},
      {Different, OVERWRITE, true, "source", "-"},         {None, UNIQE_FILENAME, true, "source", "-"},
      {Same, UNIQE_FILENAME, true, "source", "source"},    {Different, UNIQE_FILENAME, true, "other", "source"},
      {None, IF_NOT_SAME_USE_UNIQUE_FILE_NAME, true, "source", "-"},
      {Same, IF_NOT_SAME_USE_UNIQUE_FILE_NAME, true, "source", "-"},
      {Different, IF_NOT_SAME_USE_UNIQUE_FILE_NAME, true, "other", "source"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(kModeNames[r.mode]) + " target " + std::to_string(r.target));
    Prepare(r.target);
    EXPECT_EQ(TqzFiles::CopyFile32(W(src), W(dst), r.mode), r.result);
    EXPECT_EQ(State(dst), r.after);
    EXPECT_EQ(State(dst2), r.after2);
    EXPECT_EQ(State(src), "source");
  }
  // The plain copy fails on any existing entry and carries mode and times; flags 0 replace.
  Prepare(None);
  EXPECT_TRUE(TqzFiles::CopyFile32(W(src), W(dst)));
  EXPECT_EQ(Stat(dst).st_mode & 07777, 0640u);
  EXPECT_EQ(Stat(dst).st_mtim.tv_sec, Stat(src).st_mtim.tv_sec);
  WriteFile(t + "dst/.hidden", "h");
  EXPECT_FALSE(TqzFiles::CopyFile32(W(src), W(t + "dst/.hidden")));
  EXPECT_EQ(ReadFile(t + "dst/.hidden"), "h");
  EXPECT_TRUE(TqzFiles::CopyFile32(W(src), W(t + "dst/.hidden"), uint32_t{0}));
  EXPECT_EQ(ReadFile(t + "dst/.hidden"), "source");
  EXPECT_FALSE(TqzFiles::CopyFile32(W(t + "src/missing"), W(t + "dst/m"), uint32_t{0}));
  EXPECT_FALSE(Exists(t + "dst/m"));
  EXPECT_EQ(qztest::RunProcess({"ls", "-A", t + "dst"}).Out, ".hidden\nx.txt\n");  // nothing half-made
}

TEST_F(Copies, StreamCopyFileByExistMode) {
  struct Row {
    Target target;
    TqzEXISTS_MODE mode;
    std::string after, after2;
  };
  const Row rows[] = {
      {None, IF_SAME_DO_NOTHING, "source", "-"},      {Same, IF_SAME_DO_NOTHING, "source", "-"},
      {Different, IF_SAME_DO_NOTHING, "source", "-"},  {Same, OVERWRITE, "source", "-"},
      {Different, OVERWRITE, "source", "-"},          {None, UNIQE_FILENAME, "source", "-"},
      {Same, UNIQE_FILENAME, "source", "source"},     {Different, UNIQE_FILENAME, "other", "source"},
      {None, IF_NOT_SAME_USE_UNIQUE_FILE_NAME, "source", "-"},
      {Same, IF_NOT_SAME_USE_UNIQUE_FILE_NAME, "source", "source"},
      {Different, IF_NOT_SAME_USE_UNIQUE_FILE_NAME, "other", "source"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(kModeNames[r.mode]) + " target " + std::to_string(r.target));
    Prepare(r.target);
    const struct stat before = Stat(dst);
    EXPECT_TRUE(TqzFiles::StreamCopyFile(W(src), W(dst), r.mode));
    EXPECT_EQ(State(dst), r.after);
    EXPECT_EQ(State(dst2), r.after2);
    if (r.target == Same && r.mode == IF_SAME_DO_NOTHING) {
      EXPECT_EQ(Stat(dst).st_ino, before.st_ino);  // untouched
    }
  }
  // A missing source: false where the comparison finds it missing, the copy's error otherwise.
  Prepare(Same);
  WriteFile(t + "dst/missing.txt", "x");
  EXPECT_FALSE(TqzFiles::StreamCopyFile(W(t + "src/missing.txt"), W(t + "dst/missing.txt"), IF_SAME_DO_NOTHING));
  EXPECT_THROW(TqzFiles::StreamCopyFile(W(t + "src/missing.txt"), W(t + "dst/new.txt"), OVERWRITE), EInOutError);
  // Equal names count: the same content under another name is no "same" file.
  Prepare(None);
  WriteFile(t + "dst/y.txt", "source");
  EXPECT_TRUE(TqzFiles::StreamCopyFile(W(src), W(t + "dst/y.txt"), UNIQE_FILENAME));
  EXPECT_EQ(State(t + "dst/y-2.txt"), "source");
}

TEST_F(Copies, ForceMoveFile32ByExistMode) {
  struct Row {
    Target target;
    TqzEXISTS_MODE mode;
    std::string result;  // relative to dst/
    bool sourceLeft;
    std::string after, after2;
  };
  const Row rows[] = {
      {None, IF_SAME_DO_NOTHING, "x.txt", false, "source", "-"},
      {Same, IF_SAME_DO_NOTHING, "", true, "source", "-"},
      {Different, IF_SAME_DO_NOTHING, "x-2.txt", false, "other", "source"},
      {None, OVERWRITE, "x.txt", false, "source", "-"},
      {Different, OVERWRITE, "x.txt", false, "source", "-"},  // replaced
      {Different, UNIQE_FILENAME, "x-2.txt", false, "other", "source"},
      {Same, IF_NOT_SAME_USE_UNIQUE_FILE_NAME, "x.txt", false, "source", "-"},  // source deleted
      {Different, IF_NOT_SAME_USE_UNIQUE_FILE_NAME, "x-2.txt", false, "other", "source"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(kModeNames[r.mode]) + " target " + std::to_string(r.target));
    Prepare(r.target);
    const time_t written = Stat(src).st_mtim.tv_sec;
    const UnicodeString got = TqzFiles::ForceMoveFile32(W(src), W(dst), r.mode);
    EXPECT_EQ(WideToUtf8(got), r.result.empty() ? "" : t + "dst/" + r.result);
    EXPECT_EQ(Exists(src), r.sourceLeft);
    EXPECT_EQ(State(dst), r.after);
    EXPECT_EQ(State(dst2), r.after2);
    if (!r.result.empty() && !(r.target == Same && r.mode == IF_NOT_SAME_USE_UNIQUE_FILE_NAME)) {
      EXPECT_EQ(Stat(t + "dst/" + r.result).st_mtim.tv_sec, written);
    }
  }
  // A missing source raises; a failed move is reported as failed.
  Prepare(None);
  EXPECT_THROW(TqzFiles::ForceMoveFile32(W(t + "src/missing"), W(dst), UNIQE_FILENAME), Exception);
  EXPECT_EQ(TqzFiles::ForceMoveFile32(W(src), W(t + "nowhere/x.txt"), OVERWRITE), u"");
  EXPECT_TRUE(Exists(src));
  // The two-path forms.
  Prepare(Different);
  ::chmod(src.c_str(), 0440);
  EXPECT_TRUE(TqzFiles::ForceMoveFile32(W(src), W(dst)));
  EXPECT_EQ(State(dst2), "source");
  EXPECT_NE(Stat(dst2).st_mode & S_IWUSR, 0u);  // no longer read-only
  Prepare(Different);
  EXPECT_FALSE(TqzFiles::MoveFile32(W(src), W(dst)));  // the plain move never replaces
  EXPECT_EQ(State(dst), "other");
  EXPECT_EQ(WideToUtf8(TqzFiles::MoveAndGetFileWithUniqueFileName(W(src), W(dst))), dst2);
  Prepare(Same);
  EXPECT_TRUE(TqzFiles::CopyFileWithUniqueFileName(W(src), W(dst)));
  EXPECT_TRUE(TqzFiles::MoveFileWithUniqueFileName(W(src), W(dst)));
  EXPECT_EQ(State(t + "dst/x-3.txt"), "source");
  EXPECT_FALSE(TqzFiles::MoveFileWithUniqueFileName(W(src), W(dst)));  // nothing left to move
}

TEST_F(Copies, CompareFile) {
  Prepare(Same);
  WriteFile(t + "dst/X.TXT", "source");
  WriteFile(t + "dst/other.txt", "other");
  EXPECT_TRUE(TqzFiles::CompareFile(W(src), W(dst)));
  EXPECT_FALSE(TqzFiles::CompareFile(W(src), W(t + "dst/other.txt")));
  EXPECT_TRUE(TqzFiles::CompareFile(W(src), W(t + "dst/X.TXT"), true, true, true));  // names case ignored
  EXPECT_FALSE(TqzFiles::CompareFile(W(src), W(t + "dst/other.txt"), true, true, true));
  EXPECT_THROW(TqzFiles::CompareFile(W(src), W(t + "dst/missing")), Exception);
  EXPECT_THROW(TqzFiles::CompareFile(W(t + "dst"), W(t + "src")), Exception);  // folders cannot be read
  try {
    TqzFiles::CompareFile(W(t + "missing/x.txt"), W(dst), true, false, true);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, u"File 1 not exists");
  }
  try {
    TqzFiles::CompareFile(W(src), W(t + "missing/x.txt"), true, true, true);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, u"File 2 not exists");
  }
}

TEST_F(Copies, TreesAndKeptPaths) {
  Prepare(None);
  for (const char* d : {"src/a", "src/a/b", "src/.h"}) ::mkdir((t + d).c_str(), 0755);
  WriteFile(t + "src/a/one.pdf", "1");
  WriteFile(t + "src/a/b/two.pdf", "2");
  WriteFile(t + "src/a/b/.three.pdf", "3");
  WriteFile(t + "src/a/b/skip.txt", "s");
  EXPECT_EQ(TqzFiles::CopyFile32(W(t + "src/*.pdf"), W(t + "copy/"), true), 2);
  EXPECT_EQ(State(t + "copy/a/b/two.pdf"), "2");
  EXPECT_FALSE(Exists(t + "copy/a/b/skip.txt"));
  EXPECT_FALSE(Exists(t + "copy/a/b/.three.pdf"));
  EXPECT_EQ(TqzFiles::CopyFile32(W(t + "src/*.pdf"), W(t + "copy/"), false), 0);  // no pdf in the root
  // Moving with hidden files and removing the emptied source folders, the root included.
  ::unlink((t + "src/a/b/skip.txt").c_str());
  ::unlink(src.c_str());
  ::rmdir((t + "src/.h").c_str());
  EXPECT_EQ(TqzFiles::MoveFile32(W(t + "src/*.pdf"), W(t + "moved/"), true, true, true), 3);
  EXPECT_EQ(State(t + "moved/a/b/.three.pdf"), "3");
  EXPECT_FALSE(Exists(t + "src"));

  // Paths rebuilt below a new root.
  Prepare(None);
  ::mkdir((t + "src/a").c_str(), 0755);
  WriteFile(t + "src/a/f.txt", "f");
  const std::string rebuilt = t + "backup" + t + "src/a/f.txt";
  EXPECT_TRUE(TqzFiles::CopyFileKeepingPath32(W(t + "src/a/f.txt"), W(t + "backup/"), true, UNIQE_FILENAME));
  EXPECT_EQ(State(rebuilt), "f");
  EXPECT_TRUE(TqzFiles::StreamCopyFileKeepingPath(W(t + "src/a/f.txt"), W(t + "backup"), true, UNIQE_FILENAME));
  EXPECT_EQ(State(t + "backup" + t + "src/a/f-2.txt"), "f");
  EXPECT_FALSE(TqzFiles::CopyFileKeepingPath32(W(t + "src/../src/a/f.txt"), W(t + "backup/"), true, OVERWRITE));
  EXPECT_FALSE(TqzFiles::StreamCopyFileKeepingPath(W(t + "src/a/../../../f.txt"), W(t + "b2/"), true, OVERWRITE));
  EXPECT_FALSE(Exists(t + "b2"));
  const std::string deep(300, 'd');
  try {
    TqzFiles::CopyFileKeepingPath32(W(t + "src/a/f.txt"), W(t + deep + "/"), true, OVERWRITE);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, u"destination path to long");
  }
  EXPECT_FALSE(TqzFiles::CopyFileKeepingPath32(W(t + "src/a/f.txt"), W(t + deep + "/"), false, OVERWRITE));
}

// ---- The one-way mirror ------------------------------------------------------------------------

class Mirror : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"src", "src/a", "src/a/deep", "src/b", "src/tmp", "src/.hid"}) ::mkdir((t + d).c_str(), 0755);
    for (int i = 0; i < 5; ++i) {
      WriteFile(t + "src/f" + std::to_string(i) + ".txt", "root " + std::to_string(i));
      WriteFile(t + "src/a/deep/g" + std::to_string(i) + ".bin", std::string(1000 + i, static_cast<char>('a' + i)));
    }
    WriteFile(t + "src/b/\xc3\xa4.txt", "umlaut");
    WriteFile(t + "src/tmp/scratch.txt", "scratch");
  }
  std::string Diff(const std::string& a, const std::string& b) {
    return qztest::RunProcess({"diff", "-rq", "--exclude=.*", a, b}).Out;
  }
  qztest::TempDir tmp;
  std::string t = tmp.Path() + "/";
};

TEST_F(Mirror, MatchesRsyncAndCopiesNothingTheSecondTime) {
  EXPECT_EQ(TqzFiles::SyncCopyFile32(W(t + "src/*.*"), W(t + "dst"), true, false, true, nullptr), 12);
  EXPECT_EQ(Diff(t + "src", t + "dst"), "");
  EXPECT_EQ(TqzFiles::SyncCopyFile32(W(t + "src/*.*"), W(t + "dst"), true, false, true, nullptr), 0);
  // Changes: a file removed, a folder removed, a file changed (another date), a stray target file.
  ::unlink((t + "src/f0.txt").c_str());
  qztest::RunProcess({"rm", "-rf", t + "src/b"});
  WriteFile(t + "src/f1.txt", "changed");
  qztest::RunProcess({"touch", "-d", "2001-01-01", t + "src/f1.txt"});
  WriteFile(t + "dst/a/stray.txt", "stray");
  EXPECT_EQ(TqzFiles::SyncCopyFile32(W(t + "src/*.*"), W(t + "dst"), true, false, true, nullptr), 1);
  EXPECT_EQ(Diff(t + "src", t + "dst"), "");
  // rsync -a --delete of the same tree gives the same target.
  const auto rsync = qztest::RunProcess({"rsync", "-a", "--delete", "--exclude=.*", t + "src/", t + "rs/"});
  ASSERT_EQ(rsync.ExitCode, 0) << rsync.Err;
  EXPECT_EQ(Diff(t + "rs", t + "dst"), "");
  // With OverWrite every file is copied again.
  EXPECT_EQ(TqzFiles::SyncCopyFile32(W(t + "src/*.*"), W(t + "dst"), true, true, false, nullptr), 10);
}

TEST_F(Mirror, AnUnreachableSourceChangesNothing) {
  EXPECT_EQ(TqzFiles::SyncCopyFile32(W(t + "src/*.*"), W(t + "dst"), true, false, false, nullptr), 12);
  const std::string before = qztest::RunProcess({"find", t + "dst"}).Out;
  EXPECT_EQ(TqzFiles::SyncCopyFile32(W(t + "gone/*.*"), W(t + "dst"), true, false, false, nullptr), -1);
  EXPECT_THROW(TqzFiles::SyncCopyFile32(W(t + "gone/*.*"), W(t + "dst"), true, false, true, nullptr), Exception);
  WriteFile(t + "plainfile", "");
  EXPECT_EQ(TqzFiles::SyncCopyFile32(W(t + "plainfile/*.*"), W(t + "dst"), true, false, false, nullptr), -1);
  EXPECT_EQ(qztest::RunProcess({"find", t + "dst"}).Out, before);
}

TEST_F(Mirror, ExclusionsAndMasks) {
  TStringList exclusions;
  exclusions.Add(W(t + "src/TMP/"));
  const UnicodeString lower = W(t + "src/TMP/");
  EXPECT_EQ(TqzFiles::SyncCopyFile32(W(t + "src/*.txt"), W(t + "dst/"), true, false, true, &exclusions), 6);
  EXPECT_EQ(exclusions.Get(0), UpperCaseStr(lower));  // the caller's entries are upper-cased
  EXPECT_FALSE(Exists(t + "dst/tmp/scratch.txt"));
  EXPECT_FALSE(Exists(t + "dst/a/deep/g0.bin"));
  // Files in the excluded folder's target that the source folder does not hold still go.
  WriteFile(t + "dst/tmp/old.txt", "old");
  EXPECT_EQ(TqzFiles::SyncCopyFile32(W(t + "src/*.txt"), W(t + "dst/"), true, false, true, &exclusions), 0);
  EXPECT_FALSE(Exists(t + "dst/tmp/old.txt"));
  // Without sub-folders only the root is mirrored.
  EXPECT_EQ(TqzFiles::SyncCopyFile32(W(t + "src/*.txt"), W(t + "flat/"), false, false, true, nullptr), 5);
  EXPECT_FALSE(Exists(t + "flat/a"));
}

}  // namespace
