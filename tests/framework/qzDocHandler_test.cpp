// The document container and the archive client's document operations, against the
// independent Python oracle.
#include "qzDocHandler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ArchiveOracle.h"
#include "CodePage.h"
#include "DbFixtures.h"
#include "qzVeroruvUdizive.h"

namespace {

using qztest::ArchiveOracle;
namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

UnicodeString W(const std::string& utf8) { return platform::Utf8ToWide(utf8); }

// ---- container -----------------------------------------------------------------------------------

TEST(Document, NewDocumentHasAnIdentifier) {
  TqzDocument a, b;
  EXPECT_EQ(a.Id.size(), 32u);
  EXPECT_EQ(a.Id.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_NE(a.Id, b.Id);
  EXPECT_EQ(a.BlobCount(), 0);
  EXPECT_EQ(a.FieldCount(), 0);
}

TEST(Document, AddBlobFillsFreeSlotsAndDerivesNames) {
  qztest::TempDir dir("qzdoc");
  const std::string onDisk = dir.Path() + "/page1.tif";
  WriteFile(onDisk, std::string(1234, 'x'));
  TqzDocument doc;
  ASSERT_TRUE(doc.AddBlob(u"C:\\in\\scan 01.pdf", u"", "abc", qzDO_Database));
  ASSERT_TRUE(doc.AddBlob(W(onDisk), u"", "", qzDO_FileSystem));
  ASSERT_TRUE(doc.AddBlob(u"/missing/file", u"given", "", qzDO_TempData));
  ASSERT_EQ(doc.BlobCount(), 3);

  struct Expect {
    UnicodeString name, ext, mime;
    uint32_t size;
    TqzDataOrigin origin;
  };
  const std::vector<Expect> expected = {
      {u"scan 01", u".PDF", u"APPLICATION/PDF", 3, qzDO_Database},  // size of Data, whatever the file
      {u"page1", u".TIF", u"IMAGE/TIFF", 1234, qzDO_FileSystem},    // size of the file on disk
      {u"given", u"", u"APPLICATION/OCTET-STREAM", 0, qzDO_TempData},
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_TRUE(doc.Blobs[i].Active);
    EXPECT_EQ(doc.Blobs[i].Name, expected[i].name) << i;
    EXPECT_EQ(doc.Blobs[i].Extension, expected[i].ext) << i;
    EXPECT_EQ(doc.Blobs[i].MimeType, expected[i].mime) << i;
    EXPECT_EQ(doc.Blobs[i].Size, expected[i].size) << i;
    EXPECT_EQ(doc.Blobs[i].Origin, expected[i].origin) << i;
  }
  // An inactive entry is the next slot; DocType and Attributes of the slot are kept.
  doc.Blobs[1].Active = false;
  doc.Blobs[1].DocType = u"INVOICE";
  ASSERT_TRUE(doc.AddBlob(u"x.PNG", u"", "12", qzDO_Conversion));
  EXPECT_EQ(doc.BlobCount(), 3);
  EXPECT_TRUE(doc.Blobs[1].Active);
  EXPECT_EQ(doc.Blobs[1].Name, u"x");
  EXPECT_EQ(doc.Blobs[1].Extension, u".PNG");
  EXPECT_EQ(doc.Blobs[1].DocType, u"INVOICE");
}

TEST(Document, FieldsAreFoundCaseSensitively) {
  TqzDocument doc;
  ASSERT_TRUE(doc.AddField(u"Invoice", u"R-4711 ä"));
  ASSERT_TRUE(doc.AddField(u"Invoice", u"second"));
  EXPECT_EQ(doc.GetField(u"Invoice"), u"R-4711 ä");
  EXPECT_EQ(doc.GetField(u"invoice"), u"");
  EXPECT_EQ(doc.FieldCount(), 2);
  EXPECT_EQ(doc.Fields[0].VarType, 0);
}

TEST(Document, PlainFileNames) {
  for (const char* ok : {"0001.tif", "scan 01.pdf", "a.b.c", "ÄÖ.txt"}) EXPECT_TRUE(TqzDocument::IsPlainFileName(ok)) << ok;
  for (const char* bad : {"", ".", "..", "../evil.tif", "a/b", "a\\b", "C:x", "a<b", "a>b", "x\ty", "..hidden"})
    EXPECT_FALSE(TqzDocument::IsPlainFileName(bad)) << bad;
}

// ---- ArchiveDocument -------------------------------------------------------------------------------

struct ArchiveFixture : ::testing::Test {
  qztest::TempDir dir{"qzdoc"};
  std::string Path(const std::string& name) const { return dir.Path() + "/" + name; }
  std::unique_ptr<TqzVeroruvUdizive> Client(const ArchiveOracle& oracle) {
    auto client = std::make_unique<TqzVeroruvUdizive>(W(dir.Path() + "/temp/"));
    client->Server = "127.0.0.1";
    client->Port = oracle.Port();
    client->ResWait = 5000;
    return client;
  }
};

TEST_F(ArchiveFixture, ArchiveDocumentSendsFieldsAndActiveBlobs) {
  WriteFile(Path("page1.TIF"), std::string("II*\0<>=", 7));
  struct Case {
    const char* name;
    int blobs;  // 0, 1 (a file), 2 (an inactive one and one from Data)
    const char* linkDocId;
  };
  const std::vector<Case> cases = {{"no blobs", 0, ""}, {"one file", 1, "LINK1"}, {"inactive skipped", 2, ""}};
  for (const auto& c : cases) {
    ArchiveOracle oracle;
    oracle.Start();
    auto client = Client(oracle);
    TqzDocument doc;
    doc.Subject = u"Rechnung März";
    doc.AddField(u"Customer", u"4711");
    if (c.blobs >= 1) doc.AddBlob(W(Path("page1.TIF")), u"", "", qzDO_FileSystem);
    if (c.blobs >= 2) {
      doc.Blobs[0].Active = false;  // a free slot: not part of the document
      doc.Blobs.push_back(doc.Blobs[0]);
      doc.Blobs[1].Active = true;
      doc.Blobs[1].FileName = u"/nowhere/memo.txt";
      doc.Blobs[1].Data = "from memory";
    }
    AnsiString docId = "stale";
    ASSERT_TRUE(client->ArchiveDocument(doc, "box7", c.linkDocId, "FIELD", true, "stamp", "scheme", false, docId,
                                        false))
        << c.name << ": " << platform::WideToUtf8(client->Message);
    EXPECT_EQ(docId.size(), 32u) << c.name;
    EXPECT_EQ(client->Message, u"document stored");

    std::vector<std::string> expected = {"ARCHIVE=box7", "CREATEPDF=True", "CONVERSIONSCHEME=scheme", "STAMP=stamp",
                                         "INDEX=False", "TITLE=Rechnung M\xe4rz"};
    if (*c.linkDocId) {
      expected.push_back("LINKDOCID=LINK1");
      expected.push_back("LINKFIELD=FIELD");
    }
    expected.push_back("IDXCustomer=4711");
    if (c.blobs == 1) expected.push_back(std::string("obj(tif)=II*\0<>=", 16));
    if (c.blobs == 2) expected.push_back("obj(txt)=from memory");
    const auto seen = oracle.WaitForRequests(1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Type, "CREATEDOCEXT");
    EXPECT_EQ(seen[0].Items, expected) << c.name;
  }
}

TEST_F(ArchiveFixture, ArchiveDocumentFailures) {
  struct Case {
    const char* name;
    std::string fault;
    bool missingFile, byRef;
    std::string message;
    size_t requests;
  };
  const std::string missing = Path("gone.pdf");
  const std::vector<Case> cases = {
      {"missing blob file", "none", true, false,
       "veroruvudizive processing exception (blob file cannot be read (" + missing + "))", 0},
      {"by reference", "none", false, true, "veroruvudizive processing exception (function not supported (byref))", 0},
      {"server error", "error", false, false,
       "veroruvudizive processing exception (veroruvudizive server returned an error (archive refused))", 1},
      {"no answer", "close", false, false,
       "veroruvudizive processing exception (veroruvudizive server connection failed ())", 1},
  };
  WriteFile(Path("ok.pdf"), "%PDF");
  for (const auto& c : cases) {
    ArchiveOracle oracle;
    oracle.Start(c.fault);
    auto client = Client(oracle);
    TqzDocument doc;
    doc.AddBlob(W(Path("ok.pdf")), u"", "", qzDO_FileSystem);
    if (c.missingFile) doc.AddBlob(W(missing), u"", "", qzDO_FileSystem);
    AnsiString docId = "stale";
    EXPECT_FALSE(client->ArchiveDocument(doc, "box7", "", "", false, "", "", true, docId, c.byRef)) << c.name;
    EXPECT_EQ(docId, "") << c.name;
    EXPECT_EQ(platform::WideToUtf8(client->Message), c.message) << c.name;
    EXPECT_EQ(oracle.WaitForRequests(c.requests, c.requests ? 5000 : 300).size(), c.requests) << c.name;
  }
}

// ---- GetDocument -------------------------------------------------------------------------------

TEST_F(ArchiveFixture, GetDocumentFetchesFieldsAndFiles) {
  ArchiveOracle oracle;
  oracle.Start();
  auto client = Client(oracle);
  std::unique_ptr<TqzDocument> doc;
  ASSERT_TRUE(client->GetDocument("UNKNOWN", "user1", "st", true, "REP", false, "sch", true, doc))
      << platform::WideToUtf8(client->Message);
  ASSERT_TRUE(doc);  // created for the caller
  EXPECT_EQ(doc->Id, "UNKNOWN");
  EXPECT_EQ(doc->GetField(u"Customer"), u"4711");  // from IDXCustomer, the server's case kept
  EXPECT_EQ(doc->GetField(u"Title"), u"Sample");
  ASSERT_EQ(doc->BlobCount(), 2);
  const std::string temp = dir.Path() + "/temp/";
  EXPECT_EQ(platform::WideToUtf8(doc->Blobs[0].FileName), temp + "0001.tif");
  EXPECT_EQ(doc->Blobs[0].Name, u"0001");
  EXPECT_EQ(doc->Blobs[0].Origin, qzDO_FileSystem);
  EXPECT_EQ(ReadFile(temp + "0002.pdf"), "%PDF-1.4 sample\n%%EOF\n");

  const auto seen = oracle.WaitForRequests(3);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].Type, "GETDOCEXT");
  EXPECT_EQ(seen[0].Items, (std::vector<std::string>{"DocId=UNKNOWN", "CreatePDF=False", "ConversionScheme=sch",
                                                    "TechNames=True", "Stamp=st", "User=user1", "SAPDOC=True",
                                                    "SAPCONTREP=REP"}));
  EXPECT_EQ(seen[1].Type, "GETBLOB");
  EXPECT_EQ(seen[1].Items, std::vector<std::string>{"0001.tif"});
  EXPECT_EQ(ReadFile(temp + "0001.tif"), seen[1].Answer);
}

TEST_F(ArchiveFixture, ArchiveThenGetRoundTrip) {
  ArchiveOracle oracle;
  oracle.Start();
  auto client = Client(oracle);
  const std::string payload = std::string("\0\x01<>=binary\xff", 12);
  TqzDocument doc;
  doc.AddField(u"Kunde", u"Müller");
  doc.AddBlob(u"scan.tif", u"", payload, qzDO_Database);
  AnsiString docId;
  ASSERT_TRUE(client->ArchiveDocument(doc, "box", "", "", false, "", "", true, docId, false));

  TqzDocument fetched;
  fetched.Subject = u"kept";
  fetched.AddField(u"old", u"gone");
  ASSERT_TRUE(client->GetDocument(docId, "", "", false, "", false, "", false, fetched));
  EXPECT_EQ(fetched.Subject, u"kept");
  EXPECT_EQ(fetched.Id, docId);
  ASSERT_EQ(fetched.FieldCount(), 1);
  EXPECT_EQ(fetched.GetField(u"Kunde"), u"Müller");
  ASSERT_EQ(fetched.BlobCount(), 1);
  EXPECT_EQ(ReadFile(platform::WideToUtf8(fetched.Blobs[0].FileName)), payload);
  EXPECT_EQ(fetched.Blobs[0].Extension, u".TIF");
}

TEST_F(ArchiveFixture, GetDocumentRefusesHostileNamesAndCleansUp) {
  struct Case {
    std::string fault, badname, message;
  };
  const std::string temp = dir.Path() + "/temp/";
  const std::vector<Case> cases = {
      {"badname", "../evil.tif", "veroruvudizive processing exception (invalid blob file name (../evil.tif))"},
      {"badname", "sub/evil.tif", "veroruvudizive processing exception (invalid blob file name (sub/evil.tif))"},
      {"badname", "..", "veroruvudizive processing exception (invalid blob file name (..))"},
      {"badname", "C:evil", "veroruvudizive processing exception (invalid blob file name (C:evil))"},
      {"badname", "a\rb", "veroruvudizive processing exception (invalid blob file name (a?b))"},
      {"error", "", "veroruvudizive processing exception (veroruvudizive server returned an error (archive refused))"},
  };
  for (const auto& c : cases) {
    ArchiveOracle oracle;
    oracle.Start(c.fault, {"--badname", c.badname.empty() ? "x" : c.badname});
    auto client = Client(oracle);
    std::unique_ptr<TqzDocument> doc;
    EXPECT_FALSE(client->GetDocument("ANY", "", "", false, "", false, "", false, doc)) << c.badname;
    EXPECT_EQ(platform::WideToUtf8(client->Message), c.message);
    EXPECT_FALSE(fs::exists(dir.Path() + "/evil.tif"));
    EXPECT_FALSE(fs::exists(temp + "sub"));
    EXPECT_TRUE(fs::is_empty(temp)) << c.fault;  // nothing fetched stays behind
  }
}

// ---- Query -------------------------------------------------------------------------------------

TEST_F(ArchiveFixture, QuerySplitsHeaderAndRows) {
  ArchiveOracle oracle;
  oracle.Start();
  auto client = Client(oracle);
  TqzHitlist hits;
  hits.Rows.resize(5);
  ASSERT_TRUE(client->Query("invoice", "assq", 25, "view", hits)) << platform::WideToUtf8(client->Message);
  EXPECT_EQ(client->Message, u"2 hits");
  ASSERT_EQ(hits.Header.size(), 3u);  // three titles without a trailing ";"
  EXPECT_EQ(hits.Header[0].Name, u"DocId");
  EXPECT_EQ(hits.Header[2].Name, u"Kunde ä");
  ASSERT_EQ(hits.Rows.size(), 2u);
  EXPECT_EQ(hits.Rows[0].Columns, (std::vector<UnicodeString>{u"A1", u"First", u"Müller"}));
  EXPECT_EQ(hits.Rows[1].Columns, (std::vector<UnicodeString>{u"B2", u"", u"x;y"}));
  const auto seen = oracle.WaitForRequests(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Type, "QUERYEXT");
  EXPECT_EQ(seen[0].Items, (std::vector<std::string>{"MAXHITS=25", "VIEWALIAS=view", "FULLTEXT=invoice", "ASSQ=assq"}));

  // A failed query leaves an empty hit list.
  oracle.Stop();
  EXPECT_FALSE(client->Query("x", "", 1, "", hits));
  EXPECT_TRUE(hits.Header.empty());
  EXPECT_TRUE(hits.Rows.empty());
}

}  // namespace
