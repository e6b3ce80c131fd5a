// The archive-server stand-in (tools/archive-server) as built: started on a free loopback port,
// a document is archived to it with the client's document operations, fetched back with its
// index fields and files (GETDOCEXT, then GETBLOB per file), found by a query, and the server is
// stopped with SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "CodePage.h"
#include "DbFixtures.h"
#include "qzDocHandler.h"
#include "qzVeroruvUdizive.h"

extern char** environ;

namespace {

using qztest::ReadFile;

// The built server as a child process; its first output line names the port it listens on.
class StandIn {
 public:
  explicit StandIn(const std::string& store) {
    const std::string binary = std::string(QZ_BINARY_DIR) + "/archive-server";
    if (::access(binary.c_str(), X_OK) != 0) throw std::runtime_error(binary + " is not built");
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {binary, "--port", "0", "--store", store, "--bind", "127.0.0.1"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
      ::close(out[0]);
      throw std::runtime_error("cannot start " + binary);
    }
    std::unique_ptr<FILE, int (*)(FILE*)> stream(::fdopen(out[0], "r"), &::fclose);
    char line[64] = {};
    if (!stream || std::fgets(line, sizeof line, stream.get()) == nullptr || std::sscanf(line, "PORT %d", &port_) != 1)
      throw std::runtime_error("the server did not report its port");
  }
  ~StandIn() {
    if (pid_ > 0) Stop();
  }
  int Port() const { return port_; }
  // SIGTERM; the exit status (0 for an orderly end).
  int Stop() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

TEST(ArchiveServerStandIn, ArchiveFetchQueryAndStop) {
  qztest::TempDir dir("qzstandin");
  StandIn server(dir.Path() + "/store");

  // A document with two fields and two files: one on disk (bytes that look like framing), one
  // held in memory.
  const std::string page = std::string("II*\0<GETBLOB>=\xff\r\n", 17) + std::string(300000, 'x');
  const std::string pagePath = dir.Path() + "/page1.tif";
  std::ofstream(pagePath, std::ios::binary) << page;
  const std::string pdf = "%PDF-1.4 <</Type /Catalog>>";
  TqzDocument doc;
  doc.Subject = u"Rechnung M\u00E4rz";
  ASSERT_TRUE(doc.AddField(u"Customer", u"4711"));
  ASSERT_TRUE(doc.AddField(u"Name", u"M\u00FCller"));
  ASSERT_TRUE(doc.AddBlob(platform::Utf8ToWide(pagePath), u"", "", qzDO_FileSystem));
  ASSERT_TRUE(doc.AddBlob(u"/nowhere/scan.pdf", u"", pdf, qzDO_TempData));

  TqzVeroruvUdizive client(platform::Utf8ToWide(dir.Path() + "/fetched/"));
  client.Server = "127.0.0.1";
  client.Port = server.Port();
  AnsiString docId;
  ASSERT_TRUE(client.ArchiveDocument(doc, "box7", "", "", false, "", "", true, docId, false)) << platform::WideToUtf8(client.Message);
  EXPECT_EQ(docId.size(), 32u);
  EXPECT_EQ(docId.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(client.Message, u"document stored");

  std::unique_ptr<TqzDocument> fetched;
  ASSERT_TRUE(client.GetDocument(docId, "tester", "", false, "", true, fetched)) << platform::WideToUtf8(client.Message);
  ASSERT_TRUE(fetched);
  EXPECT_EQ(fetched->Id, docId);
  EXPECT_EQ(fetched->GetField(u"Customer"), u"4711");
  EXPECT_EQ(fetched->GetField(u"Name"), u"M\u00FCller");
  ASSERT_EQ(fetched->BlobCount(), 2);
  EXPECT_EQ(fetched->Blobs[0].Extension, u".TIF");
  EXPECT_EQ(fetched->Blobs[1].Extension, u".PDF");
  EXPECT_EQ(ReadFile(platform::WideToUtf8(fetched->Blobs[0].FileName)), page);
  EXPECT_EQ(ReadFile(platform::WideToUtf8(fetched->Blobs[1].FileName)), pdf);
  EXPECT_EQ(fetched->Blobs[0].Size, page.size());
  for (const auto& blob : fetched->Blobs)
    EXPECT_EQ(std::filesystem::path(platform::WideToUtf8(blob.FileName)).parent_path(),
              std::filesystem::path(dir.Path() + "/fetched"));

  TqzHitlist hits;
  ASSERT_TRUE(client.Query("4711", "", 10, "", hits)) << platform::WideToUtf8(client.Message);
  ASSERT_EQ(hits.Rows.size(), 1u);
  ASSERT_FALSE(hits.Rows[0].Columns.empty());
  EXPECT_EQ(hits.Rows[0].Columns[0], platform::AnsiToWide(docId));

  // An unknown document is the server's error, wrapped once by the processing error.
  std::unique_ptr<TqzDocument> none;
  EXPECT_FALSE(client.GetDocument("0123456789ABCDEF0123456789ABCDEF", "", "", false, "", false, none));
  EXPECT_EQ(client.Message,
            u"veroruvudizive processing exception (veroruvudizive server returned an error (document not found))");

  EXPECT_EQ(server.Stop(), 0);
  // Stopped means no longer listening.
  TqzVeroruvUdizive late(platform::Utf8ToWide(dir.Path() + "/fetched/"));
  late.Server = "127.0.0.1";
  late.Port = client.Port;
  AnsiString typ;
  TComResExt answer;
  EXPECT_FALSE(late.AskServer("<ALIVE><></ALIVE>", typ, answer));
}

}  // namespace
