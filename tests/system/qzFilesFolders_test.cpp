// TqzFiles: existence, listings on a generated tree (compared with find), deleting folders and
// the freedesktop trash (compared with what "gio trash" writes).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CodePage.h"
#include "StringList.h"
#include "TestSupport.h"
#include "qzFiles.h"

namespace {

using platform::Utf8ToWide;
using platform::WideToUtf8;
using qztest::WriteFile;

using qztest::W;

using qztest::Exists;

std::vector<std::string> Items(const TStrings& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(WideToUtf8(list.Get(i)));
  return out;
}

// find's lines, each with "/" appended, sorted.
std::vector<std::string> Find(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"find"};
  argv.insert(argv.end(), args.begin(), args.end());
  const auto r = qztest::RunProcess(argv);
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  std::vector<std::string> lines;
  std::istringstream in(r.Out);
  for (std::string line; std::getline(in, line);) lines.push_back(line + "/");
  std::sort(lines.begin(), lines.end());
  return lines;
}

// A tree with plain and hidden folders, files, an umlaut name and a link to a folder outside.
class Tree : public ::testing::Test {
 protected:
  void SetUp() override {
    root = tmp.Path() + "/root/";
    ::mkdir(root.c_str(), 0755);
    for (const char* d : {"a", "a/b", "a/b/c", "a/skipme", "a/skipme/deep", "b", "b/x", ".hidden", ".hidden/in",
                          "\xc3\xa4rger", "a/.dot"})
      ::mkdir((root + d).c_str(), 0755);
    ::mkdir((tmp.Path() + "/outside").c_str(), 0755);
    ::mkdir((tmp.Path() + "/outside/inner").c_str(), 0755);
    WriteFile(tmp.Path() + "/outside/keep.txt", "keep");
    ::symlink((tmp.Path() + "/outside").c_str(), (root + "a/link").c_str());
    WriteFile(root + "a/file.txt", "f");
    WriteFile(root + "a/.hidden.txt", "h");
    WriteFile(root + "b/x/y.pdf", "y");
  }
  qztest::TempDir tmp;
  std::string root;
};

TEST_F(Tree, FileExists) {
  struct Row {
    std::string path;
    bool exists;
  };
  const Row rows[] = {
      {root + "a/file.txt", true},   {root + "a/*.txt", true},     {root + "a/f?le.*", true},
      {root + "a/.hidden.txt", false},  // hidden counts as absent
      {root + "a/.*", false},           // a mask that finds only hidden entries
      {root + "a/b", false},            // a folder
      {root + "a/link", false},         // a link to a folder
      {root + "a/*.pdf", false},     {root + "nowhere/*", false},  {"", false},
  };
  for (const Row& r : rows) EXPECT_EQ(TqzFiles::FileExists(W(r.path)), r.exists) << r.path;
}

TEST_F(Tree, GetPathListIsDepthFirstAndMatchesFind) {
  TStringList list;
  list.Add(u"kept from before");
  EXPECT_TRUE(TqzFiles::GetPathList(W(root + "*.pdf"), list, true, true));
  std::vector<std::string> got = Items(list);
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[0], "kept from before");
  EXPECT_EQ(got[1], root);
  got.erase(got.begin(), got.begin() + 2);
  // Every path comes after its parent.
  for (size_t i = 0; i < got.size(); ++i) {
    const std::string parent = got[i].substr(0, got[i].rfind('/', got[i].size() - 2) + 1);
    if (parent == root) continue;
    const auto at = std::find(got.begin(), got.end(), parent);
    ASSERT_NE(at, got.end()) << got[i];
    EXPECT_LT(at - got.begin(), static_cast<long>(i)) << got[i];
  }
  // The same folders as find's real, non-hidden folders: the link is neither listed nor entered.
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, Find({root, "-mindepth", "1", "-name", ".*", "-prune", "-o", "-type", "d", "-print"}));
  // Flat, without the root.
  TStringList flat;
  TqzFiles::GetPathList(W(root), flat, false, false);
  EXPECT_EQ(Items(flat), (std::vector<std::string>{root + "a/", root + "b/", root + "\xc3\xa4rger/"}));
  TStringList names;
  TqzFiles::GetFlatPathList(W(root + "a"), names);
  EXPECT_EQ(Items(names), (std::vector<std::string>{"b", "skipme"}));
}

TEST_F(Tree, GetSubDirsListsLevelByLevelAndSkipsIgnoredPaths) {
  TStringList ignore;
  ignore.Add(u"SKIPME");
  TStringList list;
  EXPECT_TRUE(TqzFiles::GetSubDirs(W(root), list, &ignore, true, true));
  const std::vector<std::string> expected = {root,           root + "a/",     root + "b/", root + "\xc3\xa4rger/",
                                             root + "a/b/", root + "a/b/c/", root + "b/x/"};
  EXPECT_EQ(Items(list), expected);
  std::vector<std::string> sorted = Items(list);
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::string> found =
      Find({tmp.Path() + "/root", "(", "-name", ".*", "-o", "-iname", "*skipme*", ")", "-prune", "-o", "-type", "d", "-print"});
  EXPECT_EQ(sorted, found);
  // The root itself ignored: nothing at all.
  TStringList none;
  ignore.Add(u"ROOT");
  EXPECT_FALSE(TqzFiles::GetSubDirs(W(root), none, &ignore, true, true));
  EXPECT_EQ(none.Count(), 0);
  // Without recursion and root; no ignore list.
  TStringList one;
  EXPECT_TRUE(TqzFiles::GetSubDirs(W(root + "b/"), one, nullptr, false, false));
  EXPECT_EQ(Items(one), (std::vector<std::string>{root + "b/x/"}));
}

TEST_F(Tree, DeletePathRemovesFoldersOnlyAndNeverEntersLinks) {
  // A tree of empty folders goes entirely, children first.
  ::mkdir((tmp.Path() + "/t").c_str(), 0755);
  ::mkdir((tmp.Path() + "/t/a").c_str(), 0755);
  ::mkdir((tmp.Path() + "/t/a/b").c_str(), 0755);
  EXPECT_TRUE(TqzFiles::DeletePath(W(tmp.Path() + "/t/"), true));
  EXPECT_FALSE(Exists(tmp.Path() + "/t"));
  // A file keeps its folder and the folders above it.
  ::mkdir((tmp.Path() + "/t").c_str(), 0755);
  ::mkdir((tmp.Path() + "/t/a").c_str(), 0755);
  ::mkdir((tmp.Path() + "/t/a/b").c_str(), 0755);
  WriteFile(tmp.Path() + "/t/a/f.txt", "");
  EXPECT_FALSE(TqzFiles::DeletePath(W(tmp.Path() + "/t/x.txt"), true));
  EXPECT_FALSE(Exists(tmp.Path() + "/t/a/b"));
  EXPECT_TRUE(Exists(tmp.Path() + "/t/a/f.txt"));
  // Without recursion only an empty folder goes.
  EXPECT_FALSE(TqzFiles::DeletePath(W(tmp.Path() + "/t/"), false));
  // The tree with a link to an outside folder: the link goes, the outside stays whole.
  EXPECT_FALSE(TqzFiles::DeletePath(W(root), true));  // files remain in it
  EXPECT_FALSE(Exists(root + "a/link"));
  EXPECT_FALSE(Exists(root + "a/b"));
  EXPECT_TRUE(Exists(root + "a/file.txt"));
  EXPECT_TRUE(Exists(tmp.Path() + "/outside/inner"));
  EXPECT_TRUE(Exists(tmp.Path() + "/outside/keep.txt"));
}

TEST_F(Tree, EmptyFolders) {
  struct Row {
    std::string path;
    bool empty;
  };
  ::mkdir((root + "empty").c_str(), 0755);
  const Row rows[] = {{root + "empty", true}, {root + "empty/", true}, {root + "a/b/c", true},
                      {root + "a/skipme", false}, {root + ".hidden", false},  // a hidden entry counts
                      {root + "a/file.txt", false}, {root + "missing", false}};
  for (const Row& r : rows) EXPECT_EQ(TqzFiles::DirectoryIsEmpty(W(r.path)), r.empty) << r.path;
  EXPECT_TRUE(TqzFiles::DeleteDirectoryIsEmpty(W(root + "empty")));
  EXPECT_FALSE(Exists(root + "empty"));
  EXPECT_FALSE(TqzFiles::DeleteDirectoryIsEmpty(W(root + "a")));
  EXPECT_FALSE(TqzFiles::DeleteDirectoryIsEmpty(W(root + "a/file.txt")));
  EXPECT_TRUE(Exists(root + "a"));
}

// ---- Trash -------------------------------------------------------------------------------------

std::string TrashInfo(const std::string& trash, const std::string& name) {
  return qztest::ReadFile(trash + "/info/" + name + ".trashinfo");
}

TEST(qzFilesTrash, ItemAndInfoAsTheDesktopWritesThem) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path();
  const std::string name = "f \xc3\xbc.txt";  // a blank and an umlaut: escaped in the info file
  ::mkdir((t + "/one").c_str(), 0755);
  ::mkdir((t + "/two").c_str(), 0755);
  ::mkdir((t + "/folder").c_str(), 0755);
  WriteFile(t + "/one/" + name, "first");
  WriteFile(t + "/two/" + name, "second");
  WriteFile(t + "/folder/in.txt", "in");
  {
    qztest::ScopedEnv data("XDG_DATA_HOME", t + "/mine");
    EXPECT_TRUE(TqzFiles::MoveFileToRecycleBin(W(t + "/one/" + name)));
    EXPECT_TRUE(TqzFiles::MoveFileToRecycleBin(W(t + "/two/" + name)));
    EXPECT_TRUE(TqzFiles::MoveFileToRecycleBin(W(t + "/folder/")));
    EXPECT_FALSE(TqzFiles::MoveFileToRecycleBin(W(t + "/missing")));
  }
  const std::string trash = t + "/mine/Trash";
  EXPECT_FALSE(Exists(t + "/one/" + name));
  EXPECT_EQ(qztest::ReadFile(trash + "/files/" + name), "first");
  EXPECT_EQ(qztest::ReadFile(trash + "/files/f \xc3\xbc.2.txt"), "second");
  EXPECT_EQ(qztest::ReadFile(trash + "/files/folder/in.txt"), "in");
  const std::regex info("\\[Trash Info\\]\nPath=(.*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
  std::smatch m;
  const std::string first = TrashInfo(trash, name);
  ASSERT_TRUE(std::regex_match(first, m, info)) << first;
  EXPECT_EQ(m[1].str(), t + "/one/f%20%C3%BC.txt");
  const std::string folderInfo = TrashInfo(trash, "folder");
  ASSERT_TRUE(std::regex_match(folderInfo, m, info)) << folderInfo;
  EXPECT_EQ(m[1].str(), t + "/folder");

  // The desktop's own trash (GLib's gio) writes the same item names and path lines.
  if (::access("/usr/bin/gio", X_OK) != 0) GTEST_SKIP() << "gio is not installed";
  WriteFile(t + "/one/" + name, "first");
  WriteFile(t + "/two/" + name, "second");
  for (const char* dir : {"/one/", "/two/"}) {
    const auto r = qztest::RunProcess({"gio", "trash", t + dir + name}, "", {"XDG_DATA_HOME=" + t + "/gio"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
  }
  const std::string gioTrash = t + "/gio/Trash";
  for (const std::string& n : {name, std::string("f \xc3\xbc.2.txt")}) {
    EXPECT_TRUE(Exists(gioTrash + "/files/" + n)) << n;
    const std::string ours = TrashInfo(trash, n), theirs = TrashInfo(gioTrash, n);
    EXPECT_EQ(ours.substr(0, ours.find("DeletionDate")), theirs.substr(0, theirs.find("DeletionDate")));
  }
}

}  // namespace
