// Configuration lists: keys, adding with the multi and replace rules, lookups with typed
// defaults, deletion, attributes, sublists and child names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CodePage.h"
#include "TestSupport.h"
#include "qzConfigTools.h"

namespace {

std::string N(const UnicodeString& w) { return platform::WideToUtf8(w); }

std::vector<std::string> Params(const TqzConfigList& list) {
  std::vector<std::string> out;
  for (const TqzConfigPart& p : list) {
    if (p.Active) out.push_back(N(p.Param));
  }
  return out;
}

std::vector<std::string> Items(const TStrings& list) {
  std::vector<std::string> v;
  for (int i = 0; i < list.Count(); ++i) v.push_back(N(list[i]));
  return v;
}

using Strs = std::vector<std::string>;

}  // namespace

// How a path becomes the part's Param and key.
TEST(ConfigListTests, PathsAndKeys) {
  struct Case {
    std::u16string path;
    std::u16string param;
    std::u16string key;
  };
  const Case cases[] = {
      {u" /My Server:1/2nd ", u"My Server:1/2nd", u"MY_SERVER_1/_2ND"},
      {u"/x", u"x", u"X"},
      {u"\t\u00A0/ a\u3000", u"a", u"A"},
      {u"xmlData", u"xmlData", u"_XMLDATA"},
      {u"1a", u"1a", u"_1A"},
      {u"a//b/", u"a//b/", u"A/B"},
      {u"//a", u"/a", u"A"},
      {u"Stra\u00dfe/\u00e4", u"Stra\u00dfe/\u00e4", u"STRA\u00dfE/\u00c4"},
      {u"\U0001F600 x", u"\U0001F600 x", u"\U0001F600_X"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(N(c.path));
    TqzConfigTools tools;
    const int id = tools.AddConfigParam(c.path, Variant(1), false, false);
    ASSERT_EQ(id, 0);
    EXPECT_EQ(tools.ConfigList[id].Param, c.param);
    EXPECT_EQ(tools.ConfigList[id].SORTL, c.key);
    EXPECT_EQ(TqzConfigTools::ConfigKey(c.path), c.key);
  }
  // Paths that name the same part.
  TqzConfigTools tools;
  tools.AddConfigParam(u"my key", Variant(1), false, false);
  for (const char16_t* same : {u"MY_KEY", u"My:Key", u"/my key ", u"my_KEY"}) {
    EXPECT_TRUE(tools.ConfigParamExists(UnicodeString(same))) << N(same);
  }
  EXPECT_FALSE(tools.ConfigParamExists(UnicodeString(u"mykey")));
  tools.AddConfigParam(u"xmlA", Variant(2), false, false);
  EXPECT_EQ(tools.GetConfigParamListId(u"_xmlA"), 1);
  EXPECT_TRUE(tools.ConfigParamExists(TqzPathArray{u"my", u"", u" key"}) == false);
  EXPECT_EQ(TqzConfigTools::GetPathString({u"a", u"", u" b "}, false), u"/a/b");
  EXPECT_EQ(TqzConfigTools::GetPathString({u"a", u"", u" b "}, true), u"a/b");
  for (const char16_t* bad : {u"", u" ", u"/", u"\t/ "}) {
    EXPECT_EQ(tools.AddConfigParam(bad, Variant(1), false, false), -1) << N(bad);
  }
}

// Adding twice: a second part with AllowMultiParams; the first part replaced otherwise.
TEST(ConfigListTests, AddWithMultiAndReplaceRules) {
  struct Case {
    bool multi;
    bool replace;
    int secondId;
    int parts;
  };
  const Case cases[] = {{true, false, 1, 2}, {false, false, 0, 1}, {true, true, 0, 1}, {false, true, 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.multi << c.replace);
    TqzConfigTools tools;
    tools.AllowMultiParams = c.multi;
    ASSERT_EQ(tools.AddConfigParam(u"a", Variant(1), false, c.replace), 0);
    ASSERT_TRUE(tools.AddAttribute(0, u"kept", Variant(u"yes")));
    EXPECT_EQ(tools.AddConfigParam(u"A", Variant(2), false, c.replace), c.secondId);
    EXPECT_EQ(tools.GetListSize(), c.parts);
    EXPECT_EQ(tools.GetConfigParam(u"a"), Variant(c.parts == 1 ? 2 : 1));
    EXPECT_EQ(tools.GetAttribute(u"a", u"kept", Variant(u"no"), false), Variant(u"yes"));
  }
  TqzConfigTools tools;
  tools.AddConfigParam(u"first", Variant(1), false, false);
  EXPECT_EQ(tools.ConfigList.Length(), 100);
  EXPECT_EQ(tools.GetListSize(), 1);
  // The open-array form and the caller's-list form.
  EXPECT_EQ(tools.AddConfigParam(TqzPathArray{u"grp", u" x "}, Variant(3), false, false), 1);
  EXPECT_EQ(tools.ConfigList[1].Param, u"grp/x");
  TqzConfigList own;
  EXPECT_EQ(tools.AddConfigParam(own, u"a", Variant(1), false), 0);
  EXPECT_EQ(tools.AddConfigParam(own, u"a", Variant(2), false), 1);  // never replaces
  EXPECT_EQ(tools.AddConfigParam(own, u" ", Variant(2), false), -1);
  EXPECT_EQ(TqzConfigTools::GetConfigParam(own, TqzPathArray{u"a"}, Variant()), Variant(1));
}

// Empty values against typed defaults.
TEST(ConfigListTests, GetConfigParamDefaults) {
  TqzConfigTools tools;
  tools.AddConfigParam(u"n", Variant(u""), false, false);
  tools.AddConfigParam(u"v", Variant(u"7"), false, false);
  tools.AddConfigParam(u"e", Variant(), false, false);
  struct Case {
    const char16_t* param;
    Variant def;
    Variant expected;
  };
  const Case cases[] = {
      {u"n", Variant(5), Variant(5)},
      {u"n", Variant(2.5), Variant(2.5)},
      {u"n", Variant(true), Variant(true)},
      {u"n", Variant::FromDate(45000.0), Variant::FromDate(45000.0)},
      {u"n", Variant::FromInteger(varByte, 9), Variant::FromInteger(varByte, 9)},
      {u"n", Variant(u"text"), Variant(u"")},
      {u"n", Variant::FromInteger(varShortInt, 4), Variant(u"")},
      {u"e", Variant(u"text"), Variant()},
      {u"v", Variant(5), Variant(u"7")},
      {u"missing", Variant(u"d"), Variant(u"d")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(N(c.param) + " " + std::to_string(c.def.VarType()));
    EXPECT_EQ(tools.GetConfigParam(c.param, c.def), c.expected);
  }
  EXPECT_EQ(tools.GetConfigParam(u"missing"), Variant(UnicodeString()));
  EXPECT_EQ(tools.GetConfigParam(TqzPathArray{u"v"}, Variant(0)), Variant(u"7"));
}

// Deleting every part of a key or only the first; freed slots are reused, clean.
TEST(ConfigListTests, DeleteAndReuseSlots) {
  for (bool multi : {true, false}) {
    SCOPED_TRACE(multi);
    TqzConfigTools tools;
    for (int i = 0; i < 3; ++i) {
      tools.AddConfigParam(u"k", Variant(i), false, false);
      tools.AddAttribute(i, u"A", Variant(i));
    }
    tools.AddConfigParam(u"other", Variant(9), false, false);
    tools.AllowMultiParams = multi;
    EXPECT_TRUE(tools.DeleteConfigParam(u"K"));
    EXPECT_EQ(tools.GetListSize(), multi ? 1 : 3);
    EXPECT_EQ(tools.GetEmptyConfigParam(), 0);
    EXPECT_EQ(tools.GetConfigParamListId(u"k"), multi ? -1 : 1);
    const int id = tools.AddConfigParam(u"new", Variant(1), false, false);
    EXPECT_EQ(id, 0);
    EXPECT_TRUE(tools.ConfigList[id].Attributes.empty());
    EXPECT_FALSE(tools.DeleteConfigParam(TqzPathArray{u"absent"}));
  }
  // InitList keeps entries and adds free ones; ClearConfig empties.
  TqzConfigTools tools;
  tools.AddConfigParam(u"a", Variant(1), false, false);
  tools.InitList(3);
  EXPECT_EQ(tools.ConfigList.Length(), 3);
  EXPECT_EQ(tools.GetConfigParam(u"a"), Variant(1));
  tools.InitList(0);
  EXPECT_FALSE(tools.ConfigParamExists(UnicodeString(u"a")));
  EXPECT_EQ(tools.AddConfigParam(u"b", Variant(1), false, false), 0);
  EXPECT_TRUE(tools.ClearConfig());
  EXPECT_EQ(tools.ConfigList.Length(), 0);
}

TEST(ConfigListTests, Attributes) {
  TqzConfigTools tools;
  const int id = tools.AddConfigParam(u"p", Variant(1), false, false);
  EXPECT_FALSE(tools.AddAttribute(id, u"name", Variant(u"x")));
  EXPECT_FALSE(tools.AddAttribute(id, u"Type", Variant(u"x")));
  tools.AllowNameAttribute = true;
  EXPECT_TRUE(tools.AddAttribute(id, u"Name", Variant(u"x")));
  EXPECT_FALSE(tools.AddAttribute(id, u"TYPE", Variant(u"x")));
  EXPECT_TRUE(tools.AddAttribute(id, u"A", Variant(u"")));
  EXPECT_TRUE(tools.AddAttribute(id, u"A", Variant(u"second")));  // kept as it was
  EXPECT_EQ(tools.ConfigList[id].Attributes.size(), 2u);
  tools.ConfigList.Attributes(id).push_back({u"A", Variant(u"x")});
  EXPECT_EQ(tools.GetAttribute(id, u"A", Variant(u"d"), false), Variant(u"x"));
  EXPECT_EQ(tools.GetAttribute(id, u"A", Variant(u"d"), true), Variant(u""));
  EXPECT_EQ(tools.GetAttribute(id, u"a", Variant(u"d"), true), Variant(u"d"));
  EXPECT_EQ(tools.GetAttribute(u"absent", u"A", Variant(u"d"), true), Variant(u"d"));
  // A free slot may be given attributes; a part later added there starts without them.
  TqzConfigTools slots;
  slots.InitList(2);
  EXPECT_TRUE(slots.AddAttribute(0, u"A", Variant(1)));
  EXPECT_EQ(slots.AddConfigParam(u"p", Variant(1), false, false), 0);
  EXPECT_TRUE(slots.ConfigList[0].Attributes.empty());
  // Indexes outside the list are refused, never written.
  for (int bad : {-1, tools.ConfigList.Length(), 1 << 20}) {
    EXPECT_FALSE(tools.AddAttribute(bad, u"B", Variant(1))) << bad;
    EXPECT_EQ(tools.GetAttribute(bad, u"A", Variant(u"d"), true), Variant(u"d"));
  }
}

// Sublists and child names select whole names below the path.
TEST(ConfigListTests, SublistsAndChildNames) {
  TqzConfigTools tools;
  for (const char16_t* p : {u"a/x", u"a/y/z", u"b", u"a/y/w", u"ab/q", u"a", u"_1a/k"}) {
    const int id = tools.AddConfigParam(p, Variant(UnicodeString(p)), false, false);
    tools.AddAttribute(id, u"src", Variant(UnicodeString(p)));
  }
  struct Case {
    std::u16string path;
    bool keep;
    Strs params;
  };
  const Case cases[] = {
      {u"a", false, {"x", "y/z", "y/w"}},
      {u"a", true, {"a/x", "a/y/z", "a/y/w"}},
      {u"A/Y", false, {"z", "w"}},
      {u"1a", false, {"k"}},
      {u"", false, {"a/x", "a/y/z", "b", "a/y/w", "ab/q", "a", "_1a/k"}},
      {u"a/x", false, {}},
      {u"none", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(N(c.path));
    TqzConfigList sub;
    EXPECT_TRUE(tools.GetConfigList(c.path, sub, c.keep));
    EXPECT_EQ(Params(sub), c.params);
    for (const TqzConfigPart& part : sub) {
      EXPECT_EQ(part.SORTL, TqzConfigTools::ConfigKey(part.Param));
      EXPECT_EQ(part.Value, part.Attributes.at(0).Value);  // value and attributes copied
    }
  }
  TStringList names;
  tools.GetNodeElements(u"a", names, false);
  EXPECT_EQ(Items(names), (Strs{"x", "y"}));
  TStringList full;
  tools.GetNodeElements(u"/a ", full, true);
  EXPECT_EQ(Items(full), (Strs{"a/x", "a/y"}));
  EXPECT_EQ(Items(*tools.GetNodeElements(TqzPathArray{})), (Strs{"a", "ab", "b", "_1a"}));
  TStringList viaArray;
  tools.GetNodeElements(TqzPathArray{u"a", u"y"}, viaArray);
  EXPECT_EQ(Items(viaArray), (Strs{"w", "z"}));
}

// A file's bytes become a new binary part; nothing changes when the file cannot be read.
TEST(ConfigListTests, AddBlobConfigParam) {
  qztest::TempDir dir("cfgblob");
  std::string bytes;
  for (int i = 0; i < 512; ++i) bytes.push_back(static_cast<char>(i * 7));
  const std::string path = dir.Path() + "/logo.bin";
  qztest::WriteFile(path, bytes);
  TqzConfigTools tools;
  tools.AllowMultiParams = false;
  tools.AddConfigParam(u"logo", Variant(u"old"), false, false);
  EXPECT_TRUE(tools.AddBlobConfigParam(u" /Logo", path));  // a new part, never a replacement
  EXPECT_EQ(tools.GetListSize(), 2);
  const TqzConfigPart& part = tools.ConfigList[1];
  EXPECT_EQ(part.Param, u"Logo");
  EXPECT_TRUE(part.Binary);
  EXPECT_EQ(part.Value, Variant::FromAnsi(bytes));
  EXPECT_FALSE(tools.AddBlobConfigParam(u"other", dir.Path() + "/missing.bin"));
  EXPECT_FALSE(tools.AddBlobConfigParam(u" / ", path));
  EXPECT_EQ(tools.GetListSize(), 2);
}
