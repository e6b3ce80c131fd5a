// TqzFiles zip archives against real tools: archives written here pass "unzip -t" and Python's
// zipfile (names, CRC, content); archives made by zip (store, deflate) and by Python (bzip2) are
// read; hostile names, links in the target and zip bombs are refused with nothing written
// outside the target folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "CodePage.h"
#include "Exceptions.h"
#include "StringList.h"
#include "TestSupport.h"
#include "Zip.h"
#include "qzFiles.h"

namespace {

using platform::Utf8ToWide;
using platform::WideToUtf8;
using qztest::ReadFile;
using qztest::WriteFile;

using qztest::W;

std::vector<std::string> Items(const TStrings& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(WideToUtf8(list.Get(i)));
  return out;
}

std::string Listing(const std::string& dir) { return qztest::RunProcess({"find", dir}).Out; }

// Python: every item as "name crc-ok size" and the content of each, after zipfile's own test.
std::string PythonView(const std::string& zipPath) {
  return qztest::RunPython(
      "import sys,zipfile,zlib\n"
      "z=zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None\n"
      "for i in z.infolist():\n"
      "  d=z.read(i)\n"
      "  print(i.filename, zlib.crc32(d)==i.CRC, len(d), i.compress_type)\n",
      {zipPath});
}

// Writes an archive with Python: items given as name=content pairs, in the given method.
void PythonZip(const std::string& zipPath, const std::string& method, const std::vector<std::pair<std::string, std::string>>& items) {
  std::vector<std::string> args = {zipPath, method};
  for (const auto& [name, content] : items) {
    args.push_back(name);
    args.push_back(content);
  }
  qztest::RunPython(
      "import sys,zipfile\n"
      "m={'store':zipfile.ZIP_STORED,'deflate':zipfile.ZIP_DEFLATED,'bzip2':zipfile.ZIP_BZIP2}[sys.argv[2]]\n"
      "with zipfile.ZipFile(sys.argv[1],'w',m) as z:\n"
      "  a=sys.argv[3:]\n"
      "  for n,c in zip(a[0::2],a[1::2]):\n"
      "    z.writestr(zipfile.ZipInfo(n) if n.endswith('/') else n, c.encode() if not c.startswith('zeros:') else bytes(int(c[6:])), compress_type=m)\n",
      args);
}

TEST(qzFilesZip, WrittenArchivesPassUnzipAndPython) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path() + "/";
  std::mt19937_64 rng(7);
  const std::string binary = qztest::RandomBytes(rng, 200000);
  WriteFile(t + "a.txt", "alpha");
  WriteFile(t + "b.bin", binary);
  WriteFile(t + "\xc3\xbc.txt", "umlaut");
  const std::string zip = t + "out.zip";
  EXPECT_TRUE(TqzFiles::AddFileToZip(W(t + "a.txt"), W(zip)));
  EXPECT_TRUE(TqzFiles::AddFileToZip(W(t + "gone/data.xml"), W(zip), "<x/>"));  // from memory
  EXPECT_TRUE(TqzFiles::AddFileToZip(W(t + "a.txt"), W(zip), "replaced"));     // same name: replaced
  TStringList files;
  files.Add(W(t + "b.bin"));
  files.Add(W(t + "\xc3\xbc.txt"));
  EXPECT_TRUE(TqzFiles::AddFilesToZip(files, W(zip)));
  const auto test = qztest::RunProcess({"unzip", "-t", zip});
  EXPECT_EQ(test.ExitCode, 0) << test.Out << test.Err;
  EXPECT_EQ(PythonView(zip), "a.txt True 8 8\ndata.xml True 4 8\nb.bin True 200000 8\n\xc3\xbc.txt True 6 8\n");
  EXPECT_EQ(qztest::RunProcess({"unzip", "-p", zip, "b.bin"}).Out, binary);

  // Failures leave the archive as it was.
  const std::string before = ReadFile(zip);
  EXPECT_FALSE(TqzFiles::AddFileToZip(W(t + "missing.txt"), W(zip)));
  EXPECT_FALSE(TqzFiles::AddFileToZip(W(t + "missing.txt"), W(zip), " \t "));
  TStringList withMissing;
  withMissing.Add(W(t + "a.txt"));
  withMissing.Add(W(t + "missing.txt"));
  EXPECT_FALSE(TqzFiles::AddFilesToZip(withMissing, W(zip)));
  EXPECT_EQ(ReadFile(zip), before);
}

TEST(qzFilesZip, ReadsArchivesOfZipAndPython) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path() + "/";
  ::mkdir((t + "src").c_str(), 0755);
  ::mkdir((t + "src/sub").c_str(), 0755);
  WriteFile(t + "src/sub/a.txt", "in the sub-folder");
  WriteFile(t + "src/top.txt", std::string(50000, 't'));
  struct Archive {
    std::string name;
    std::vector<std::string> make;  // a command, or empty for Python's bzip2
    bool firstIsFile;               // else the first item is the folder "sub/"
  };
  const Archive archives[] = {{"store.zip", {"zip", "-0", "-r", t + "store.zip", "sub/a.txt", "top.txt"}, true},
                              {"deflate.zip", {"zip", "-9", "-r", t + "deflate.zip", "sub", "top.txt"}, false},
                              {"bzip2.zip", {}, false}};
  for (const Archive& a : archives) {
    SCOPED_TRACE(a.name);
    if (a.make.empty()) {
      PythonZip(t + a.name, "bzip2", {{"sub/", ""}, {"sub/a.txt", "in the sub-folder"}, {"top.txt", std::string(50000, 't')}});
    } else {
      const std::string cmd = "cd " + t + "src && " + [&] {
        std::string s;
        for (const auto& part : a.make) s += "'" + part + "' ";
        return s;
      }();
      ASSERT_EQ(qztest::RunProcess({"sh", "-c", cmd}).ExitCode, 0);
    }
    const std::string out = t + "out-" + a.name + "/";
    ::mkdir(out.c_str(), 0755);
    ::mkdir((out + "sub").c_str(), 0755);
    WriteFile(out + "sub/a.txt", "was here");  // never overwritten: the next free name instead
    WriteFile(out + "top.txt", "hidden twin");
    ::rename((out + "top.txt").c_str(), (out + ".top.txt").c_str());
    std::unique_ptr<TStringList> content;
    ASSERT_TRUE(TqzFiles::GetFilesFromZip(W(t + a.name), W(out), content));
    ASSERT_TRUE(content);
    EXPECT_EQ(Items(*content), (std::vector<std::string>{out + "sub/a-2.txt", out + "top.txt"}));
    EXPECT_EQ(ReadFile(out + "sub/a.txt"), "was here");
    EXPECT_EQ(ReadFile(out + "sub/a-2.txt"), "in the sub-folder");
    EXPECT_EQ(ReadFile(out + "top.txt"), std::string(50000, 't'));
    // The first item alone, replacing an existing file; a folder item is no file to extract.
    WriteFile(t + "first.txt", "old");
    EXPECT_EQ(TqzFiles::GetFileFromZip(W(t + "first.txt"), W(t + a.name)), a.firstIsFile);
    EXPECT_EQ(ReadFile(t + "first.txt"), a.firstIsFile ? "in the sub-folder" : "old");
  }
  // Into a folder that does not exist yet, with a caller's list that is cleared first.
  TStringList list;
  list.Add(u"stale");
  EXPECT_TRUE(TqzFiles::GetFilesFromZip(W(t + "deflate.zip"), W(t + "new/deeper"), list));
  EXPECT_EQ(Items(list), (std::vector<std::string>{t + "new/deeper/sub/a.txt", t + "new/deeper/top.txt"}));
  // Not an archive.
  WriteFile(t + "plain.zip", "no zip");
  EXPECT_FALSE(TqzFiles::GetFilesFromZip(W(t + "plain.zip"), W(t + "x"), list));
  EXPECT_FALSE(TqzFiles::GetFileFromZip(W(t + "y.txt"), W(t + "plain.zip")));
  EXPECT_FALSE(TqzFiles::GetFileFromZip(W(t + "y.txt"), W(t + "missing.zip")));
}

TEST(qzFilesZip, HostileNamesAndLinksAreRefused) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path() + "/";
  ::mkdir((t + "outside").c_str(), 0755);
  const std::string names[] = {"../evil.txt", "/tmp/evil-absolute.txt", "C:evil.txt", "c:/evil.txt",
                               "sub/../../evil.txt", "sub\\..\\..\\evil.txt", "link/evil.txt"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string target = t + "target/";
    qztest::RunProcess({"rm", "-rf", target});
    ::mkdir(target.c_str(), 0755);
    ::symlink((t + "outside").c_str(), (target + "link").c_str());
    const std::string zip = t + "hostile.zip";
    PythonZip(zip, "deflate", {{"fine.txt", "fine"}, {name, "evil"}});
    const std::string before = Listing(tmp.Path());
    TStringList list;
    EXPECT_FALSE(TqzFiles::GetFilesFromZip(W(zip), W(target), list));
    // The harmless item before it stays and stays listed; nothing else was written anywhere.
    EXPECT_EQ(Items(list), (std::vector<std::string>{target + "fine.txt"}));
    ::unlink((target + "fine.txt").c_str());
    EXPECT_EQ(Listing(tmp.Path()), before);
    EXPECT_EQ(::access("/tmp/evil-absolute.txt", F_OK), -1);
  }
}

TEST(qzFilesZip, BombsAndUnreadableMethodsFailCleanly) {
  qztest::TempDir tmp;
  const std::string t = tmp.Path() + "/";
  // 30 MB of zeros deflate to a few dozen KB: far beyond the ratio an honest item reaches.
  PythonZip(t + "bomb.zip", "deflate", {{"zeros.bin", "zeros:30000000"}});
  TStringList list;
  EXPECT_FALSE(TqzFiles::GetFilesFromZip(W(t + "bomb.zip"), W(t + "out"), list));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(Listing(t + "out"), t + "out\n");  // the partial file is gone
  {
    platform::ZipArchive zip(t + "bomb.zip", platform::ZipArchive::Mode::Read);
    uint64_t total = 0;
    try {
      zip.Read(0, [](const char*, size_t) {}, total);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_NE(WideToUtf8(e.Message).find("expands more than 100 times"), std::string::npos) << WideToUtf8(e.Message);
    }
  }
  // The size caps, with the ratio check off.
  const platform::ZipLimits saved = platform::GetZipLimits();
  platform::ZipLimits small = saved;
  small.MaxRatio = 0;
  small.MaxItemSize = 10000000;
  platform::SetZipLimits(small);
  EXPECT_FALSE(TqzFiles::GetFilesFromZip(W(t + "bomb.zip"), W(t + "out"), list));
  small.MaxItemSize = saved.MaxItemSize;
  small.MaxTotalSize = 1000;
  platform::SetZipLimits(small);
  PythonZip(t + "two.zip", "store", {{"a", std::string(600, 'a')}, {"b", std::string(600, 'b')}});
  EXPECT_FALSE(TqzFiles::GetFilesFromZip(W(t + "two.zip"), W(t + "out2"), list));
  EXPECT_EQ(Items(list), (std::vector<std::string>{t + "out2/a"}));
  platform::SetZipLimits(saved);
  EXPECT_EQ(Listing(t + "out"), t + "out\n");

  // An item in a method libzip cannot read (PPMd, 98: patched into a stored archive).
  PythonZip(t + "ppmd.zip", "store", {{"a.txt", "abc"}});
  qztest::RunPython(
      "import sys,struct\n"
      "b=bytearray(open(sys.argv[1],'rb').read())\n"
      "b[8:10]=struct.pack('<H',98)\n"
      "c=b.find(b'PK\\x01\\x02'); b[c+10:c+12]=struct.pack('<H',98)\n"
      "open(sys.argv[1],'wb').write(b)\n",
      {t + "ppmd.zip"});
  platform::ZipArchive zip(t + "ppmd.zip", platform::ZipArchive::Mode::Read);
  uint64_t total = 0;
  try {
    zip.Read(0, [](const char*, size_t) {}, total);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_NE(WideToUtf8(e.Message).find("compression method PPMd (98) is not supported"), std::string::npos)
        << WideToUtf8(e.Message);
  }
  EXPECT_FALSE(TqzFiles::GetFileFromZip(W(t + "ppmd.txt"), W(t + "ppmd.zip")));
  EXPECT_EQ(::access((t + "ppmd.txt").c_str(), F_OK), -1);
}

}  // namespace
