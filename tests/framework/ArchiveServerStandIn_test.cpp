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
#include <thread>
#include <tuple>

#include "CodePage.h"
#include "ArchiveOracle.h"
#include "DbFixtures.h"
#include "Socket.h"
#include "qzBase64.h"
#include "qzComProtocol.h"
#include "qzDocHandler.h"
#include "qzVeroruvUdizive.h"

extern char** environ;

namespace {

using qztest::ReadFile;

using StandIn = qztest::ArchiveStandIn;

// Reads the stand-in's answer until it closes the connection and parses it into `items`.
::testing::AssertionResult ReadAnswer(platform::TcpSocket& s, std::vector<TqzComItem>& items) {
  std::string answer;
  char buf[4096];
  while (s.WaitReadable(10000)) {
    const size_t n = s.Read(buf, sizeof buf);
    if (n == 0) break;
    answer.append(buf, n);
  }
  AnsiString typ;
  if (TqzComProtocol::ParseAnswer(answer, true, typ, items)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no answer to parse: " << answer;
}

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

namespace {

const std::string kServer = std::string(QZ_BINARY_DIR) + "/archive-server";

// Numbers are read strictly, --store is required, --help goes to stdout.
TEST(ArchiveServerStandIn, CommandLine) {
  qztest::TempDir dir("qzstandincli");
  const std::string store = dir.Path() + "/store";
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string err;  // part of stderr
  };
  const std::vector<Case> cases = {
      {{"--port", "99999", "--store", store}, 2, "invalid port \"99999\""},
      {{"--port", "abc", "--store", store}, 2, "invalid port"},
      {{"--port", "5000x", "--store", store}, 2, "invalid port"},
      {{"--port", "-5", "--store", store}, 2, "invalid port"},
      {{"--port", "", "--store", store}, 2, "invalid port"},
      {{"--port", " 80", "--store", store}, 2, "invalid port"},
      {{"--max-request", "12Q", "--store", store}, 2, "invalid size"},
      {{"--max-request", "-1", "--store", store}, 2, "invalid size"},
      {{"--max-request", "0", "--store", store}, 2, "invalid size"},
      {{"--max-request", "K", "--store", store}, 2, "invalid size"},
      {{"--max-request", "99999999999999999999", "--store", store}, 2, "invalid size"},
      {{"--max-request", "17179869184G", "--store", store}, 2, "invalid size"},  // overflows 64 bits
      {{"--port", "0"}, 2, "--store DIR is required"},
      {{"--store"}, 2, "needs a value"},
      {{"--colour", "red", "--store", store}, 2, "unknown option --colour"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {"timeout", "20", kServer};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const auto r = qztest::RunProcess(argv);
    EXPECT_EQ(r.ExitCode, c.exitCode) << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "");
    EXPECT_NE(r.Err.find(c.err), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("usage: archive-server"), std::string::npos);
    EXPECT_EQ(r.Out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(store));  // nothing started

  const auto help = qztest::RunProcess({"timeout", "20", kServer, "--help"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_EQ(help.Out.rfind("usage: archive-server --store DIR", 0), 0u) << help.Out;
  EXPECT_NE(help.Out.find("--max-request SIZE"), std::string::npos);
  EXPECT_EQ(help.Err, "");
}

// The request cap with a unit: 4K takes a document of 2 KiB and refuses one of 5 KiB; 1M takes
// the larger one.
TEST(ArchiveServerStandIn, RequestCapWithUnits) {
  qztest::TempDir dir("qzstandincap");
  for (const auto& [cap, size, stored] : std::vector<std::tuple<std::string, size_t, bool>>{
           {"4K", 2048, true}, {"4k", 5120, false}, {"1M", 5120, true}, {"4096", 5120, false}}) {
    const std::string store = dir.Path() + "/store-" + cap + "-" + std::to_string(size);
    StandIn server(store, {"--max-request", cap});
    TqzDocument doc;
    const std::string data(size, 'x');
    ASSERT_TRUE(doc.AddBlob(u"page.tif", u"", data, qzDO_TempData));
    TqzVeroruvUdizive client(platform::Utf8ToWide(dir.Path() + "/temp/"));
    client.Server = "127.0.0.1";
    client.Port = server.Port();
    AnsiString docId;
    EXPECT_EQ(client.ArchiveDocument(doc, "box7", "", "", false, "", "", true, docId, false), stored) << cap;
    if (!stored) {
      EXPECT_EQ(client.Message,
                u"veroruvudizive processing exception (veroruvudizive server returned an error (request too large))");
    }
    server.Stop();
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(store)) ++entries;
    EXPECT_EQ(entries, stored ? 1u : 0u) << cap;
  }
}

// A document is stored only when its closing tag arrives: a request that ends early (also in the
// middle of a large object item that is already being written) leaves nothing in the store.
TEST(ArchiveServerStandIn, IncompleteRequestStoresNothing) {
  qztest::TempDir dir("qzstandinpart");
  const std::string store = dir.Path() + "/store";
  StandIn server(store);
  const std::string item = TqzBase64::StrToBase64("obj(tif)=" + std::string(300000, 'p'));
  for (size_t cut : {size_t(40), size_t(100000), item.size()}) {
    const std::string request = "<CREATEDOCEXT><enc=mime><comp=false><" + TqzBase64::StrToBase64("Archive=box7") +
                                "><" + item.substr(0, cut) + (cut == item.size() ? ">" : "");
    platform::TcpSocket s;
    s.Connect("127.0.0.1", server.Port());
    ASSERT_EQ(s.Write(request.data(), request.size(), 5000), request.size());
    s.ShutdownWrite();
    std::vector<TqzComItem> items;
    ASSERT_TRUE(ReadAnswer(s, items));
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items[0].Value, "ERROR") << cut;
  }
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_TRUE(std::filesystem::is_empty(store));
}

}  // namespace

namespace {

// A stored document that holds an empty file is fetched whole: the empty file arrives empty.
TEST(ArchiveServerStandIn, EmptyFileRoundTrip) {
  qztest::TempDir dir("qzstandinempty");
  StandIn server(dir.Path() + "/store");
  const std::string empty = dir.Path() + "/empty.tif";
  std::ofstream(empty, std::ios::binary).close();
  TqzDocument doc;
  ASSERT_TRUE(doc.AddBlob(platform::Utf8ToWide(empty), u"", "", qzDO_FileSystem));
  ASSERT_TRUE(doc.AddBlob(u"note.txt", u"", "text", qzDO_TempData));
  TqzVeroruvUdizive client(platform::Utf8ToWide(dir.Path() + "/fetched/"));
  client.Server = "127.0.0.1";
  client.Port = server.Port();
  AnsiString docId;
  ASSERT_TRUE(client.ArchiveDocument(doc, "box7", "", "", false, "", "", true, docId, false));
  std::unique_ptr<TqzDocument> fetched;
  ASSERT_TRUE(client.GetDocument(docId, "", "", false, "", false, fetched)) << platform::WideToUtf8(client.Message);
  ASSERT_EQ(fetched->BlobCount(), 2);
  EXPECT_EQ(ReadFile(platform::WideToUtf8(fetched->Blobs[0].FileName)), "");
  EXPECT_EQ(fetched->Blobs[0].Size, 0u);
  EXPECT_EQ(ReadFile(platform::WideToUtf8(fetched->Blobs[1].FileName)), "text");
}

}  // namespace

namespace {

// Object items are decoded piece by piece as they arrive, straight from the received bytes; the
// stored file is the reader's result over the whole item whatever the pieces: one-line Base64
// with and without padding, Base64 cut into CR LF lines, and symbols outside the alphabet. The
// request is sent in pieces of odd sizes with pauses (so the server reads it in as many pieces),
// and once cut between the two padding symbols.
TEST(ArchiveServerStandIn, StreamedItemsDecodeAsTheReaderDoes) {
  qztest::TempDir dir("qzstandinstream");
  const std::string store = dir.Path() + "/store";
  StandIn server(store);
  std::string page(300001, '\0');  // with the 9 bytes of its name: the text ends with "=="
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<char>((i * 7919) >> 5);
  const std::string plain = "obj(tif)=" + page;
  std::string noisy = TqzBase64::StrToBase64(plain);
  for (size_t at : {size_t(70000), size_t(140001), size_t(200003)}) noisy.insert(at, " \x80!");
  struct Case {
    const char* name;
    std::string item;
    size_t piece;
  };
  const std::vector<Case> cases = {
      {"one line, two padding symbols", TqzBase64::StrToBase64(plain), 7919},
      {"one padding symbol", TqzBase64::StrToBase64(plain + "a"), 4099},
      {"no padding", TqzBase64::StrToBase64(plain + "ab"), 65536},
      {"lines", TqzBase64::StrToBase64(plain, true), 6007},
      {"symbols outside the alphabet", noisy, 5003},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string expected = TqzBase64::Base64ToStr(c.item).substr(9);
    const std::string request = "<CREATEDOCEXT><enc=mime><comp=false><" + TqzBase64::StrToBase64("Archive=box7") + "><" +
                                c.item + "></CREATEDOCEXT>";
    platform::TcpSocket s;
    s.Connect("127.0.0.1", server.Port());
    const size_t itemEnd = request.size() - 16;  // the ">" after the item
    for (size_t done = 0; done < request.size();) {
      size_t n = std::min(c.piece, request.size() - done);
      if (done < itemEnd - 1 && done + n > itemEnd - 1) n = itemEnd - 1 - done;  // a cut before the last symbol
      ASSERT_EQ(s.Write(request.data() + done, n, 5000), n);
      done += n;
      std::this_thread::sleep_for(std::chrono::milliseconds(done == itemEnd - 1 ? 20 : 1));
    }
    std::vector<TqzComItem> items;
    ASSERT_TRUE(ReadAnswer(s, items));
    ASSERT_GE(items.size(), 2u);
    ASSERT_EQ(items[0].Value, "OK");
    const std::string docId = items[1].Value;
    EXPECT_TRUE(ReadFile(store + "/" + docId + "/" + docId + "_0001.tif") == expected);
  }
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
