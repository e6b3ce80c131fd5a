// The com-string client: its own parse mode and lookups, and its exchanges against the
// independent Python oracle (parsed, raw, failover with its fixed probe limits).
#include "qzComTools.h"

#include <gtest/gtest.h>

#include <chrono>

#include "ArchiveOracle.h"
#include "Socket.h"

namespace {

using qzComTools::TComPart;
using qzComTools::TComRes;
using qzComTools::TComResExt;
using qzComTools::TServer;
using qzComTools::TServerList;
using qztest::ArchiveOracle;

TEST(ComTools, ParseKeepsTokensWhenNotParsingValues) {
  const AnsiString answer = "<RESULT><enc=mime><comp=false><UmVzdWx0PU9L><bm9lcXVhbHM=></result>";
  AnsiString typ;
  TComResExt items;
  ASSERT_TRUE(TqzComTools::ParseComAnswer(answer, typ, items, false));
  EXPECT_EQ(typ, "RESULT");
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"0", "enc=mime"}, {"1", "comp=false"}, {"2", "UmVzdWx0PU9L"}, {"3", "bm9lcXVhbHM="}};
  ASSERT_EQ(items.size(), expected.size());
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].Param, expected[i].first);
    EXPECT_EQ(items[i].OrgParam, "");
    EXPECT_EQ(items[i].Value, expected[i].second);
  }
  // With values parsed: the same as the archive client.
  ASSERT_TRUE(TqzComTools::ParseComAnswer(answer, typ, items, true));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Param, "RESULT");
  EXPECT_EQ(items[0].Value, "OK");
  EXPECT_EQ(TqzComTools::GetFreeComParam(items), 1);
  // Failures leave the outputs untouched, in either mode.
  for (bool mode : {false, true}) {
    typ = "keep";
    EXPECT_FALSE(TqzComTools::ParseComAnswer("<RESULT><a=b></OTHER>", typ, items, mode));
    EXPECT_FALSE(TqzComTools::ParseComAnswer("<RESULT>", typ, items, mode));
    EXPECT_EQ(typ, "keep");
    EXPECT_EQ(items.size(), 2u);
  }
}

TEST(ComTools, Lookups) {
  struct TypeCase {
    std::string text, type;
  };
  for (const auto& c : std::vector<TypeCase>{{"  < queryext >rest", "QUERYEXT"},
                                              {"<RESULT><a=b></RESULT>", "RESULT"},
                                              {"no tags", ""},
                                              {"x>y", "X"},  // no "<": nothing is dropped
                                              {"<\t\x01 open", ""}})
    EXPECT_EQ(TqzComTools::GetComType(c.text), c.type) << c.text;

  const TComResExt answer = {{"RESULT", "Result", "OK"}, {"DATA", "Data", "hello world!"}, {"DATA", "Data", "2nd"}};
  EXPECT_EQ(TqzComTools::GetComParamId(answer, "data"), 1);
  EXPECT_EQ(TqzComTools::GetComParamId(answer, "nope"), -1);
  EXPECT_EQ(TqzComTools::GetComParamSize(answer, "Data"), 12u);
  EXPECT_EQ(TqzComTools::GetComParamSize(answer, "nope"), 0u);
  EXPECT_EQ(TqzComTools::GetComParam(answer, "result"), "OK");
  EXPECT_EQ(TqzComTools::GetComParamExt(answer, "nope", "dflt"), "dflt");
  EXPECT_TRUE(TqzComTools::ComParamExists({{"lower", "lower", "x"}}, "LOWER"));
  EXPECT_EQ(TqzComTools::GetFreeComParam(answer), -1);

  const TComRes request = {"ARCHIVE=box7", "Title=x", "EMPTY=", "NONAME"};
  EXPECT_EQ(TqzComTools::GetComListParamExt(request, "archive", "dflt"), "box7");
  EXPECT_EQ(TqzComTools::GetComListParamExt(request, "title", "dflt"), "dflt");  // not written upper-case
  EXPECT_EQ(TqzComTools::GetComListParamExt(request, "empty", "dflt"), "");
  EXPECT_EQ(TqzComTools::GetComListParamExt(request, "NONAME", "dflt"), "dflt");
}

TEST(ComTools, ExchangesAgainstTheOracle) {
  struct Case {
    std::string fault;
    bool parsed;    // AskServer with parsing
    bool emptied;   // comres emptied afterwards (else the answer, or kept after an error)
  };
  const std::vector<Case> cases = {
      {"none", true, false},
      {"lowerclose", true, false},
      {"close", false, true},    // an empty answer is a plain failure here
      {"noend", false, true},
      {"reset", false, false},   // a raised error keeps what comres held
  };
  for (const auto& c : cases) {
    ArchiveOracle oracle;
    oracle.Start(c.fault);
    TComRes items;
    TqzComTools::AddComParam("DocId", "4711", items);
    const AnsiString quest = TqzComTools::BuiltComString("GETDOCEXT", true, false, items);

    AnsiString typ;
    TComResExt answer = {{"OLD", "Old", "x"}};
    EXPECT_EQ(TqzComTools::AskServer(u"127.0.0.1", oracle.Port(), 3000, 3000, quest, typ, answer), c.parsed) << c.fault;
    if (c.parsed) {
      EXPECT_EQ(TqzComTools::GetComParam(answer, "RESULT"), "OK") << c.fault;
      EXPECT_EQ(TqzComTools::GetComParam(answer, "IDXCUSTOMER"), "4711") << c.fault;
    } else if (c.emptied) {
      EXPECT_TRUE(answer.empty()) << c.fault;
    } else {
      ASSERT_EQ(answer.size(), 1u) << c.fault;
    }

    // The raw exchange hands back exactly the bytes the oracle sent.
    AnsiString text = "stale";
    const bool raw = TqzComTools::AskServer(u"localhost", oracle.Port(), 3000, 3000, quest, text);
    const auto seen = oracle.WaitForRequests(2);
    ASSERT_EQ(seen.size(), 2u) << c.fault;
    EXPECT_EQ(seen[1].Items, std::vector<std::string>{"DocId=4711"});
    EXPECT_EQ(text, seen[1].Answer) << c.fault;
    EXPECT_EQ(raw, !text.empty() && text.back() == '>') << c.fault;
  }
}

TEST(ComTools, FailoverTreatsEmptyAnswersAsPlainFailures) {
  ArchiveOracle closer, good;
  closer.Start("close");
  good.Start("none");
  TServerList list;
  list.Server = {TServer{true, u"127.0.0.1", closer.Port()}, TServer{true, u"127.0.0.1", good.Port()}};
  AnsiString typ;
  TComResExt answer;
  int32_t id = -7;
  EXPECT_TRUE(TqzComTools::AskServer(list, 2000, 2000, "<ALIVE><></ALIVE>", typ, answer, id));
  EXPECT_EQ(id, 1);
  EXPECT_EQ(list.ActId, 1);
  EXPECT_TRUE(list.Server[0].Active);  // not marked inactive by an empty answer
  EXPECT_EQ(TqzComTools::GetComParam(answer, "RESULT"), "OK");

  // A dead entry raises an error and is marked inactive.
  list.Server[0].Port = platform::FindFreeLoopbackPort();
  list.ActId = 1;
  list.Rotate = true;  // starts at entry 0 (1 + 1 wraps)
  EXPECT_TRUE(TqzComTools::AskServer(list, 2000, 2000, "<ALIVE><></ALIVE>", typ, answer, id));
  EXPECT_EQ(id, 1);
  EXPECT_FALSE(list.Server[0].Active);
}

TEST(ComTools, ProbeUsesItsOwnLimits) {
  // An inactive list is probed with 2000 ms / 5000 ms whatever the caller passed: a stalling
  // server ends the call after the probe's receive limit, not after the caller's ten minutes.
  ArchiveOracle staller;
  staller.Start("stall");
  TServerList list;
  list.Server = {TServer{false, u"127.0.0.1", staller.Port()}};
  AnsiString typ;
  TComResExt answer;
  int32_t id = -1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(TqzComTools::AskServer(list, 600000, 600000, "<X></X>", typ, answer, id));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(id, 0);
  EXPECT_FALSE(list.Server[0].Active);
  EXPECT_GE(elapsed, std::chrono::milliseconds(4900));
  EXPECT_LT(elapsed, std::chrono::seconds(60));
  const auto seen = staller.WaitForRequests(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Type, "ALIVE");
}

}  // namespace
