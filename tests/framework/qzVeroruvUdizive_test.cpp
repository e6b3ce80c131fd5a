// The archive-server client: framing, parsing, completion test, exchanges against the
// independent Python oracle (every fault switch), the raw file request and failover.
#include "qzVeroruvUdizive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "ArchiveOracle.h"
#include "CodePage.h"
#include "DbFixtures.h"
#include "Exceptions.h"
#include "Socket.h"
#include "qzBase64.h"
#include "qzComProtocol.h"
#include "qzStrings.h"

namespace {

using qztest::ArchiveOracle;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

// ---- framing: golden vectors computed with Python's base64 and zlib ----------------------------

struct FrameCase {
  std::string type;
  bool encode, compress;
  std::vector<std::string> items;
  std::string expected;
};

TEST(ArchiveFraming, MatchesGoldenVectors) {
  const std::vector<FrameCase> cases = {
      {"GETDOCEXT", true, false, {"DocId=4711", "CreatePDF=False", "User="},
       "<GETDOCEXT><enc=mime><comp=false><RG9jSWQ9NDcxMQ==><Q3JlYXRlUERGPUZhbHNl><VXNlcj0=></GETDOCEXT>"},
      {"CREATEDOCEXT", true, false, {"Archive=box7", std::string("obj(tif)=II*\0\xff<>=", 17)},
       "<CREATEDOCEXT><enc=mime><comp=false><QXJjaGl2ZT1ib3g3><b2JqKHRpZik9SUkqAP88Pj0=></CREATEDOCEXT>"},
      {"EMPTY", true, false, {}, "<EMPTY><enc=mime><comp=false></EMPTY>"},
      {"PLAIN", false, false, {"a=b", "c="}, "<PLAIN><enc=none><comp=false><a=b><c=></PLAIN>"},
      // Compression implies encoding.
      {"ZIP", false, true, {"Title=Hallo"}, "<ZIP><enc=mime><comp=true><eNrjZmBgCMksyUm19UjMyckHABmGBDs=></ZIP>"},
      {"ZIP", true, true, {""}, "<ZIP><enc=mime><comp=true><eNpjYGBgAAAABAAB></ZIP>"},
  };
  for (const auto& c : cases) {
    TComRes items(c.items.begin(), c.items.end());
    const AnsiString request = TqzVeroruvUdizive::BuiltComString(c.type, c.encode, c.compress, items);
    EXPECT_EQ(request, c.expected) << c.type;
    // The caller's list now holds the encoded items: the tokens between the option tags.
    std::string body;
    for (const auto& item : items) body += "<" + item + ">";
    EXPECT_NE(request.find(body), std::string::npos) << c.type;
  }
}

TEST(ArchiveFraming, BuildingTwiceEncodesTwice) {
  TComRes items = {"Result=OK"};
  TqzVeroruvUdizive::BuiltComString("X", true, false, items);
  EXPECT_EQ(items[0], "UmVzdWx0PU9L");
  TqzVeroruvUdizive::BuiltComString("X", true, false, items);
  EXPECT_EQ(items[0], "VW1WemRXeDBQVTlM");
}

TEST(ArchiveFraming, ObjectItems) {
  qztest::TempDir dir("qzarch");
  const std::string tif = dir.Path() + "/scan.page1.TIF";
  const std::string bare = dir.Path() + "/noext";
  WriteFile(tif, std::string("II*\0<>=", 7));
  WriteFile(bare, "x");
  TComRes items;
  ASSERT_TRUE(TqzVeroruvUdizive::AddObjectComParam(tif, items));
  ASSERT_TRUE(TqzVeroruvUdizive::AddObjectComParam(bare, items));
  EXPECT_FALSE(TqzVeroruvUdizive::AddObjectComParam(dir.Path() + "/missing.pdf", items));
  EXPECT_FALSE(TqzVeroruvUdizive::AddObjectComParam(dir.Path(), items));  // a folder is no file
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], std::string("obj(tif)=II*\0<>=", 16));
  EXPECT_EQ(items[1], "obj()=x");
  // The extension is taken only when no separator or ":" follows the last dot.
  ASSERT_TRUE(TqzVeroruvUdizive::AddObjectContentComParam("C:\\in.box\\scan", "abc", items));
  ASSERT_TRUE(TqzVeroruvUdizive::AddObjectContentComParam("/in.box/scan", "", items));
  ASSERT_TRUE(TqzVeroruvUdizive::AddObjectContentComParam("a.PDF", "%PDF", items));
  EXPECT_EQ(items[2], "obj()=abc");
  EXPECT_EQ(items[3], "obj()=");
  EXPECT_EQ(items[4], "obj(pdf)=%PDF");
}

// ---- build -> parse round trip over random binary items ----------------------------------------

TEST(ArchiveFraming, RandomItemsSurviveBuildAndParse) {
  std::mt19937 rng(20240601);
  const std::string special = std::string("<>=\0\r\n", 6);
  TqzVeroruvUdizive client(u"/tmp/");
  for (int round = 0; round < 40; ++round) {
    const bool compress = round % 2 == 1;
    std::vector<std::pair<std::string, std::string>> expected;
    TComRes items;
    const int count = static_cast<int>(rng() % 6);
    for (int i = 0; i < count; ++i) {
      std::string name = "N" + std::to_string(i);
      std::string value;
      const size_t len = rng() % 3 == 0 ? 0 : rng() % 300;  // empty values too
      for (size_t k = 0; k < len; ++k)
        value.push_back(rng() % 4 == 0 ? special[rng() % special.size()] : static_cast<char>(rng() % 256));
      expected.emplace_back(name, value);
      TqzVeroruvUdizive::AddComParam(name, value, items);
    }
    const AnsiString request = TqzVeroruvUdizive::BuiltComString("RESULT", true, compress, items);
    AnsiString typ;
    TComResExt parsed;
    ASSERT_TRUE(client.ParseComAnswer(request, typ, parsed));
    EXPECT_EQ(typ, "RESULT");
    ASSERT_EQ(parsed.size(), expected.size());
    for (size_t i = 0; i < parsed.size(); ++i) {
      EXPECT_EQ(parsed[i].OrgParam, expected[i].first);
      EXPECT_EQ(parsed[i].Param, expected[i].first);
      EXPECT_EQ(parsed[i].Value, expected[i].second) << "round " << round << " item " << i;
      EXPECT_FALSE(parsed[i].B64Encoded);
    }
  }
}

// Items are encoded in place piece by piece: sizes around the piece size (48 KiB) and several
// pieces long, read from a file (room for the encoded form) and given as text (no room), must
// give the one-line Base64 of the whole item, in the list and in the request.
TEST(ArchiveFraming, LargeItemsEncodeLikeTheCodec) {
  qztest::TempDir dir("qzarchbig");
  std::mt19937 rng(7);
  const size_t piece = size_t(3) << 14;
  for (size_t size : {size_t(1), piece - 7, piece - 6, piece - 5, piece + 1, 3 * piece + 2, size_t(700001)}) {
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    const std::string file = dir.Path() + "/page.tif";
    WriteFile(file, data);
    TComRes items;
    ASSERT_TRUE(TqzVeroruvUdizive::AddObjectComParam(file, items));
    TqzVeroruvUdizive::AddComParam("Data", data, items);
    const AnsiString request = TqzVeroruvUdizive::BuiltComString("CREATEDOCEXT", true, false, items);
    const AnsiString first = TqzBase64::StrToBase64("obj(tif)=" + data);
    const AnsiString second = TqzBase64::StrToBase64("Data=" + data);
    EXPECT_EQ(items[0], first) << size;
    EXPECT_EQ(items[1], second) << size;
    EXPECT_EQ(request, "<CREATEDOCEXT><enc=mime><comp=false><" + first + "><" + second + "></CREATEDOCEXT>") << size;
  }
}

// Without an installation the default folder for fetched files is the user's temporary folder,
// created when missing.
TEST(ArchiveClient, DefaultTempPathIsTheInstallationsTemporaryFolder) {
  qztest::TempDir dir("qzarchtmp");
  const std::string tmp = dir.Path() + "/user-temp";
  const char* oldTmp = std::getenv("TMPDIR");
  const std::string savedTmp = oldTmp ? oldTmp : "";
  const char* oldReg = std::getenv("KESTA_REGISTRY_DIR");
  const std::string savedReg = oldReg ? oldReg : "";
  ::setenv("TMPDIR", tmp.c_str(), 1);
  ::setenv("KESTA_REGISTRY_DIR", dir.Path().c_str(), 1);
  ::unsetenv("KESTASYS");
  {
    TqzVeroruvUdizive client;
    EXPECT_EQ(client.TempPath, platform::Utf8ToWide(tmp + "/"));
    EXPECT_TRUE(client.Message.empty());
    EXPECT_TRUE(std::filesystem::is_directory(tmp));
  }
  if (oldTmp) ::setenv("TMPDIR", savedTmp.c_str(), 1); else ::unsetenv("TMPDIR");
  if (oldReg) ::setenv("KESTA_REGISTRY_DIR", savedReg.c_str(), 1); else ::unsetenv("KESTA_REGISTRY_DIR");
}

// ---- parser ----------------------------------------------------------------------------------

struct ParseCase {
  const char* name;
  std::string answer;
  bool ok;
  std::string typ;
  std::vector<std::tuple<std::string, std::string, std::string>> items;  // Param, OrgParam, Value
};

TEST(ArchiveParser, Table) {
  const std::vector<ParseCase> cases = {
      {"basic", "<RESULT><enc=mime><comp=false><UmVzdWx0PU9L></RESULT>", true, "RESULT", {{"RESULT", "Result", "OK"}}},
      {"closing tag in other case", "<Result></RESULT>", true, "RESULT", {}},
      {"no equals keeps the raw token", "<R><enc=mime><bm9lcXVhbHM=><UmVzdWx0PU9L></R>", true, "R",
       {{"", "", "bm9lcXVhbHM="}, {"RESULT", "Result", "OK"}}},
      {"enc value upper case decodes", "<R><ENC=MIME><UmVzdWx0PU9L></R>", true, "R", {{"RESULT", "Result", "OK"}}},
      {"comp with a yes-word decompresses", "<R><enc=mime><comp=ja><eNrjZGBgCEotLs0psfX3BgAR+wNg></R>", true, "R",
       {{"RESULT", "Result", "OK"}}},
      {"options after the items", "<R><UmVzdWx0PU9L><comp=no><enc=mime></R>", true, "R", {{"RESULT", "Result", "OK"}}},
      {"third option stays an item", "<R><enc=none><comp=false><enc=mime><a=b></R>", true, "R",
       {{"ENC", "enc", "mime"}, {"A", "a", "b"}}},
      {"no enc: nothing decoded", "<R><UmVzdWx0PU9L><Title=x></R>", true, "R",
       {{"", "", "UmVzdWx0PU9L"}, {"TITLE", "Title", "x"}}},
      {"value keeps further equals", "<R><a=b=c></R>", true, "R", {{"A", "a", "b=c"}}},
      {"text outside tags ignored", "junk><R> x <a=1> y </R> tail", true, "R", {{"A", "a", "1"}}},
      {"empty tokens dropped", "<ALIVE><></ALIVE>", true, "ALIVE", {}},
      {"one token", "<RESULT>", false, "", {}},
      {"no tokens", "plain text", false, "", {}},
      {"mismatched closing tag", "<RESULT><a=1></RESULTX>", false, "", {}},
      {"closing tag missing", "<RESULT><a=1>", false, "", {}},
  };
  TqzVeroruvUdizive client(u"/tmp/");
  for (const auto& c : cases) {
    AnsiString typ = "untouched";
    TComResExt items = {TComPart{"OLD", "old", "v", false}};
    EXPECT_EQ(client.ParseComAnswer(c.answer, typ, items), c.ok) << c.name;
    if (!c.ok) {
      EXPECT_EQ(typ, "untouched") << c.name;
      EXPECT_EQ(items.size(), 1u) << c.name;
      continue;
    }
    EXPECT_EQ(typ, c.typ) << c.name;
    ASSERT_EQ(items.size(), c.items.size()) << c.name;
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].Param, std::get<0>(c.items[i])) << c.name;
      EXPECT_EQ(items[i].OrgParam, std::get<1>(c.items[i])) << c.name;
      EXPECT_EQ(items[i].Value, std::get<2>(c.items[i])) << c.name;
    }
  }
}

TEST(ArchiveParser, BadCompressedItemsRaise) {
  TqzVeroruvUdizive client(u"/tmp/");
  AnsiString typ;
  TComResExt items;
  // Not a zlib stream.
  EXPECT_THROW(client.ParseComAnswer("<R><enc=mime><comp=true><bm90IHpsaWIgYXQgYWxs></R>", typ, items), EZlibError);
  // A stream that declares 1 GiB but holds one byte: refused by the cap before any allocation.
  client.MaxDecompressedSize = 1 << 20;
  EXPECT_THROW(client.ParseComAnswer("<R><enc=mime><comp=true><eNpjYGBwqAAAAP0AuQ==></R>", typ, items), EZlibError);
  EXPECT_TRUE(items.empty());
}

// Many compressed items that each stay under the item cap cannot inflate past the answer cap
// together, and an item may not declare more than its compressed size can hold.
TEST(ArchiveParser, CompressedItemsShareTheAnswerCap) {
  TqzVeroruvUdizive client(u"/tmp/");
  client.MaxAnswerSize = 4 << 20;
  const AnsiString item = "Fill=" + std::string((1 << 20) - 5, '\0');  // inflates to 1 MiB
  auto answer = [&](int count) {
    TComRes items(static_cast<size_t>(count), item);
    return TqzVeroruvUdizive::BuiltComString("RESULT", true, true, items);
  };
  AnsiString typ;
  TComResExt items;
  ASSERT_TRUE(client.ParseComAnswer(answer(3), typ, items));
  EXPECT_EQ(items.size(), 3u);
  ASSERT_LT(answer(12).size(), 100000u);  // a small answer ...
  try {
    client.ParseComAnswer(answer(12), typ, items);  // ... that would inflate to 12 MiB
    FAIL() << "no error";
  } catch (const EZlibError& e) {
    EXPECT_NE(std::string(e.what()).find("exceeds the limit"), std::string::npos) << e.what();
  }
  // A stream of a few bytes that declares 100 MiB: refused by its size before inflating.
  const AnsiString header = std::string("\x00\x00\x40\x06", 4);  // 0x06400000 = 100 MiB, little-endian
  client.MaxAnswerSize = 512 << 20;
  // zlib's raw form of the 4 header bytes as a stored block: declares 100 MiB, holds nothing else.
  std::string stored = std::string("\x78\x01\x00\x04\x00\xfb\xff", 7) + header;
  try {
    client.ParseComAnswer("<R><enc=mime><comp=true><" + TqzBase64::StrToBase64(stored) + "></R>", typ, items);
    FAIL() << "no error";
  } catch (const EZlibError& e) {
    EXPECT_NE(std::string(e.what()).find("declared length exceeds the limit"), std::string::npos) << e.what();
  }
}

// The tokenizer against the rule written out plainly (search from the start of the rest for "<",
// then for ">"), on texts with many ">" before a "<", stray "<", and text after the last ">".
TEST(ArchiveParser, TokenizerFollowsTheRule) {
  auto reference = [](std::string rest) {
    std::vector<std::string> tokens;
    while (rest.find('>') != std::string::npos) {
      const size_t lt = rest.find('<');
      if (lt != std::string::npos) rest.erase(0, lt + 1);
      const size_t gt = rest.find('>');
      if (gt == std::string::npos) break;
      if (gt > 0) tokens.push_back(rest.substr(0, gt));
      rest.erase(0, gt + 1);
    }
    return tokens;
  };
  std::mt19937 rng(11);
  const char alphabet[] = "<>a=/";
  std::vector<std::string> texts = {"", ">>>>", "<<<<", "a>b<c>d>e", "<A><b<c>>x>", std::string(5000, '>') + "<R></R>",
                                    "<R></R>tail>", "<<a>", "><><><"};
  for (int i = 0; i < 300; ++i) {
    std::string t;
    const size_t len = rng() % 40;
    for (size_t k = 0; k < len; ++k) t.push_back(alphabet[rng() % 5]);
    texts.push_back(t);
  }
  for (const std::string& text : texts) {
    std::vector<std::string> got;
    for (const TqzComToken& t : TqzComProtocol::Tokenize(text)) got.push_back(text.substr(t.Offset, t.Length));
    EXPECT_EQ(got, reference(text)) << text;
  }
}

TEST(ArchiveParser, Lookups) {
  TqzVeroruvUdizive client(u"/tmp/");
  AnsiString typ;
  TComResExt items;
  ASSERT_TRUE(client.ParseComAnswer("<RESULT><enc=mime><bm9lcXVhbHM=><UmVzdWx0PU9L><RG9jSWQ9QUJD></RESULT>", typ, items));
  EXPECT_EQ(TqzVeroruvUdizive::GetComParam(items, "result"), "OK");
  EXPECT_EQ(TqzVeroruvUdizive::GetComParam(items, "DocId"), "ABC");
  EXPECT_EQ(TqzVeroruvUdizive::GetComParam(items, "Missing"), "");
  EXPECT_EQ(TqzVeroruvUdizive::GetComParamExt(items, "Missing", "dflt"), "dflt");
  EXPECT_EQ(TqzVeroruvUdizive::GetFreeComParam(items), 0);
  EXPECT_TRUE(TqzVeroruvUdizive::ComParamExists(items, "docid"));
  // Items built by a caller with lower-case names: GetComParam misses them, ComParamExists finds them.
  TComResExt own = {TComPart{"title", "title", "VGl0bGU9eA==", true}};
  EXPECT_TRUE(TqzVeroruvUdizive::ComParamExists(own, "TITLE"));
  EXPECT_EQ(TqzVeroruvUdizive::GetComParam(own, "title"), "");
  own[0].Param = "TITLE";
  EXPECT_EQ(TqzVeroruvUdizive::GetComParam(own, "title"), "Title=x");  // B64Encoded: decoded on reading
  EXPECT_EQ(TqzVeroruvUdizive::GetFreeComParam(own), -1);
  const TComRes req = {"Archive=box7", "noname", "Ti=x"};
  EXPECT_TRUE(TqzVeroruvUdizive::ComListParamExists(req, "ARCHIVE"));
  EXPECT_TRUE(TqzVeroruvUdizive::ComListParamExists(req, "ti"));
  EXPECT_FALSE(TqzVeroruvUdizive::ComListParamExists(req, "noname"));
}

TEST(ArchiveParser, CompletionTest) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"<RESULT><a></RESULT>", true},
      {"<RESULT></RESULT>", true},
      {"<RESULT><a></result>", false},  // case-sensitive
      {"<RESULT><a></RESULT", false},
      {"<RESULT><a>", false},
      {"RESULT></RESULT>", false},  // the name is taken from the second byte: "ESULT"
      {"no tags", false},
      {"<>", false},
      {"", false},
  };
  for (const auto& [text, complete] : cases)
    EXPECT_EQ(TqzComProtocol::IsAnswerComplete(text), complete) << text;
}

TEST(ArchiveParser, AddressRule) {
  EXPECT_TRUE(TqzComProtocol::UseNumericAddress("10.1.2.3"));
  EXPECT_TRUE(TqzComProtocol::UseNumericAddress("127.0.0.1"));
  EXPECT_FALSE(TqzComProtocol::UseNumericAddress("0.1.2.3"));
  EXPECT_FALSE(TqzComProtocol::UseNumericAddress("localhost"));
  EXPECT_FALSE(TqzComProtocol::UseNumericAddress("10foo.example"));
  // Digits as the first label only mean "try numeric first"; the connect falls back to the name.
  EXPECT_TRUE(TqzComProtocol::UseNumericAddress("123.invalid"));
  platform::TcpSocket s;
  try {
    s.Connect("123.invalid", 1, 1000, true);
    FAIL() << "connected to an unresolvable name";
  } catch (const ESocketError& e) {
    EXPECT_NE(std::string(e.what()).find("resolve"), std::string::npos) << e.what();
  }
}

// ---- exchanges against the oracle, one row per fault switch ----------------------------------------

struct FaultCase {
  std::string fault;
  bool result;
  enum Items { Answer, Emptied, Kept } items;  // comres afterwards
};

TEST(ArchiveExchange, EveryFaultSwitch) {
  const std::vector<FaultCase> cases = {
      {"none", true, FaultCase::Answer},
      {"drip", true, FaultCase::Answer},
      {"lowerclose", true, FaultCase::Answer},  // read until the close, then parsed
      {"error", true, FaultCase::Answer},       // a well-formed answer whose Result is ERROR
      {"close", false, FaultCase::Kept},        // an empty answer is an error of the exchange
      {"reset", false, FaultCase::Kept},
      {"stall", false, FaultCase::Kept},        // the wait runs out, nothing arrived
      {"oversize", false, FaultCase::Kept},     // over the answer cap
      {"noend", false, FaultCase::Emptied},     // does not end with ">": plain failure
  };
  for (const auto& c : cases) {
    ArchiveOracle oracle;
    oracle.Start(c.fault, {"--oversize", "300000"});
    TqzVeroruvUdizive client(u"/tmp/");
    client.Server = "127.0.0.1";
    client.Port = oracle.Port();
    client.ResWait = 500;
    client.MaxAnswerSize = 100000;
    TComRes items;
    client.AddComParam("Archive", "box7", items);
    client.AddObjectContentComParam("page.TIF", std::string("II*\0<>", 6), items);
    const AnsiString quest = client.BuiltComString("CREATEDOCEXT", true, false, items);
    AnsiString typ;
    TComResExt answer = {TComPart{"OLD", "Old", "x", false}};
    EXPECT_EQ(client.AskServer(quest, typ, answer), c.result) << c.fault;
    switch (c.items) {
      case FaultCase::Answer:
        EXPECT_EQ(typ, "RESULT") << c.fault;
        EXPECT_EQ(TqzVeroruvUdizive::GetComParam(answer, "Result"), c.fault == "error" ? "ERROR" : "OK") << c.fault;
        break;
      case FaultCase::Emptied:
        EXPECT_TRUE(answer.empty()) << c.fault;
        break;
      case FaultCase::Kept:
        ASSERT_EQ(answer.size(), 1u) << c.fault;
        EXPECT_EQ(answer[0].Param, "OLD") << c.fault;
        break;
    }
    // The oracle saw the request exactly as built.
    auto seen = oracle.WaitForRequests(1);
    ASSERT_EQ(seen.size(), 1u) << c.fault;
    EXPECT_EQ(seen[0].Type, "CREATEDOCEXT");
    EXPECT_EQ(seen[0].Enc, "mime");
    EXPECT_EQ(seen[0].Comp, "false");
    EXPECT_EQ(seen[0].Items, (std::vector<std::string>{"Archive=box7", std::string("obj(tif)=II*\0<>", 15)}));
  }
}

TEST(ArchiveExchange, NoServerListening) {
  TqzVeroruvUdizive client(u"/tmp/");
  client.Server = "127.0.0.1";
  client.Port = platform::FindFreeLoopbackPort();
  AnsiString typ;
  TComResExt answer;
  EXPECT_FALSE(client.AskServer("<ALIVE><></ALIVE>", typ, answer));
}

TEST(ArchiveExchange, HostNameResolved) {
  ArchiveOracle oracle;
  oracle.Start();
  TqzVeroruvUdizive client(u"/tmp/");
  client.Server = "localhost";
  client.Port = oracle.Port();
  AnsiString typ;
  TComResExt answer;
  EXPECT_TRUE(client.AskServer("<ALIVE><></ALIVE>", typ, answer));
  EXPECT_EQ(TqzVeroruvUdizive::GetComParam(answer, "RESULT"), "OK");
}

// ---- raw file request ----------------------------------------------------------------------------

TEST(ArchiveExchange, RequestServerFile) {
  struct Case {
    std::string fault;
    bool result;
  };
  // An orderly close after no bytes at all is an empty file; only a time-out fails.
  const std::vector<Case> cases = {{"none", true}, {"drip", true}, {"emptyblob", true}, {"stall", false}};
  for (const auto& c : cases) {
    ArchiveOracle oracle;
    oracle.Start(c.fault);
    qztest::TempDir dir("qzblob");
    const std::string target = dir.Path() + "/0001.tif";
    WriteFile(target, "previous content");
    bool ok;
    if (c.fault == "stall") {
      // The same path with a short wait: half a file and silence is no file.
      ok = TqzComProtocol::RequestFile("127.0.0.1", oracle.Port(), "<GETBLOB><0001.tif></GETBLOB>", target,
                                       1 << 20, 300);
    } else {
      TqzVeroruvUdizive client(u"/tmp/");
      client.Server = "127.0.0.1";
      client.Port = oracle.Port();
      ok = client.RequestServerFile("<GETBLOB><0001.tif></GETBLOB>", platform::Utf8ToWide(target));
    }
    EXPECT_EQ(ok, c.result) << c.fault;
    const auto seen = oracle.WaitForRequests(1);
    ASSERT_EQ(seen.size(), 1u);
    if (c.fault == "emptyblob") {
      EXPECT_TRUE(ok);
      EXPECT_EQ(ReadFile(target), "");
    } else if (c.result) {
      EXPECT_EQ(ReadFile(target), seen[0].Answer) << c.fault;
      EXPECT_EQ(ReadFile(target), std::string("II*\0sample tiff page\0\xff<>=", 25));
    } else {
      EXPECT_EQ(ReadFile(target), "previous content") << c.fault;  // not replaced by a partial file
    }
    EXPECT_FALSE(std::filesystem::exists(target + ".part")) << c.fault;
  }
}

TEST(ArchiveExchange, RequestServerFileRespectsSizeCap) {
  ArchiveOracle oracle;
  oracle.Start();
  qztest::TempDir dir("qzblob");
  TqzVeroruvUdizive client(u"/tmp/");
  client.Server = "127.0.0.1";
  client.Port = oracle.Port();
  client.MaxFileSize = 10;
  EXPECT_FALSE(client.RequestServerFile("<GETBLOB><0001.tif></GETBLOB>", platform::Utf8ToWide(dir.Path() + "/f")));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/f"));
}

// ---- failover ------------------------------------------------------------------------------------

// Oracles by role; entries refer to them by role name.
struct FailoverCase {
  const char* name;
  std::vector<std::pair<std::string, bool>> entries;  // role ("good", "close", "noend", "dead"), Active
  bool rotate;
  int32_t actId;
  bool result;
  int32_t serverId;
  int32_t actIdAfter;
  std::vector<bool> activeAfter;
  std::vector<size_t> requestsPerEntry;  // requests each entry's oracle saw (probes included)
};

TEST(ArchiveFailover, Table) {
  const std::vector<FailoverCase> cases = {
      {"rotate wraps to the first entry", {{"good", true}, {"good", true}, {"good", true}}, true, 2,
       true, 0, 0, {true, true, true}, {1, 0, 0}},
      {"standby after inactive entries", {{"good", false}, {"good", false}, {"good", true}}, false, 0,
       true, 2, 2, {false, false, true}, {0, 0, 1}},
      {"rotate moves on", {{"good", true}, {"good", true}, {"good", true}}, true, 0,
       true, 1, 1, {true, true, true}, {0, 1, 0}},
      {"error marks inactive, next entry answers", {{"close", true}, {"good", true}}, false, 0,
       true, 1, 1, {false, true}, {1, 1}},
      {"dead entry marked inactive", {{"dead", true}, {"good", true}}, false, 0,
       true, 1, 1, {false, true}, {0, 1}},
      {"failures without error: one pass, then stop", {{"noend", true}, {"noend", true}}, false, 0,
       false, -1, 1, {true, true}, {1, 1}},
      {"no entry active: every entry probed", {{"good", false}, {"dead", false}, {"good", false}}, false, 1,
       false, 0, 0, {true, false, true}, {1, 0, 1}},
      {"all fail with errors, then probed", {{"close", true}, {"dead", true}}, true, 0,
       false, 0, 0, {false, false}, {2, 0}},
  };
  for (const auto& c : cases) {
    std::vector<std::unique_ptr<ArchiveOracle>> oracles;
    TqzServerList list;
    list.Rotate = c.rotate;
    list.ActId = c.actId;
    for (const auto& [role, active] : c.entries) {
      auto o = std::make_unique<ArchiveOracle>();
      int port;
      if (role == "dead") {
        port = platform::FindFreeLoopbackPort();
      } else {
        o->Start(role);
        port = o->Port();
      }
      oracles.push_back(std::move(o));
      list.Server.push_back(TqzServer{active, "127.0.0.1", port});
    }
    TqzVeroruvUdizive client(u"/tmp/");
    client.ResWait = 2000;
    AnsiString typ;
    TComResExt answer;
    int32_t serverId = 99;
    EXPECT_EQ(client.AskServer(list, "<GETDOCEXT><enc=mime><comp=false></GETDOCEXT>", typ, answer, serverId), c.result)
        << c.name;
    EXPECT_EQ(serverId, c.serverId) << c.name;
    EXPECT_EQ(list.ActId, c.actIdAfter) << c.name;
    for (size_t i = 0; i < list.Server.size(); ++i) {
      EXPECT_EQ(list.Server[i].Active, c.activeAfter[i]) << c.name << " entry " << i;
      const size_t seen = oracles[i]->Port() ? oracles[i]->WaitForRequests(c.requestsPerEntry[i], 1000).size() : 0;
      EXPECT_EQ(seen, c.requestsPerEntry[i]) << c.name << " entry " << i;
    }
    if (c.result) EXPECT_EQ(TqzVeroruvUdizive::GetComParam(answer, "Result"), "OK") << c.name;
    else EXPECT_TRUE(answer.empty()) << c.name;
  }
}

TEST(ArchiveFailover, ProbesSendTheLivenessRequest) {
  ArchiveOracle oracle;
  oracle.Start();
  TqzServerList list;
  list.Server = {TqzServer{false, "127.0.0.1", oracle.Port()}};
  TqzVeroruvUdizive client(u"/tmp/");
  AnsiString typ;
  TComResExt answer;
  int32_t id = 5;
  EXPECT_FALSE(client.AskServer(list, "<X></X>", typ, answer, id));
  EXPECT_EQ(id, 0);
  EXPECT_TRUE(list.Server[0].Active);
  auto seen = oracle.WaitForRequests(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Type, "ALIVE");
  // The next call uses the entry the probe revived.
  EXPECT_TRUE(client.AskServer(list, "<X></X>", typ, answer, id));
  EXPECT_EQ(id, 0);
  TqzServerList empty;
  EXPECT_FALSE(client.AskServer(empty, "<X></X>", typ, answer, id));
  EXPECT_EQ(id, -1);
}

}  // namespace
