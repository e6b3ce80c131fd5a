// Case conversion, tagged text and parameter helpers.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CodePage.h"
#include "StringList.h"
#include "TestSupport.h"
#include "qzToolsEvo2.h"

namespace {

std::string N(const UnicodeString& w) { return platform::WideToUtf8(w); }

std::vector<std::string> Items(const TStrings& list) {
  std::vector<std::string> v;
  for (int i = 0; i < list.Count(); ++i) v.push_back(N(list[i]));
  return v;
}

using Strs = std::vector<std::string>;

// --- Case conversion -----------------------------------------------------------------------------

// Every BMP unit against python3: where str.upper()/str.lower() keep one character, the mapping
// must agree; where python's full mapping expands (ß -> SS), the unit keeps its length here.
// Units unassigned in python's Unicode version are left out (the ICU data may be newer).
TEST(CaseConversionTests, EveryUnitAgainstPython) {
  const std::string out = qztest::RunPython(
      "import sys, unicodedata\n"
      "w = sys.stdout.write\n"
      "for c in range(0x10000):\n"
      "    ch = chr(c)\n"
      "    if unicodedata.category(ch) == 'Cn':\n"
      "        w('-\\n'); continue\n"
      "    u = ch.upper(); l = ch.lower()\n"
      "    w('%x %x\\n' % (ord(u) if len(u) == 1 else 0x110000, ord(l) if len(l) == 1 else 0x110000))\n");
  std::istringstream in(out);
  UnicodeString all;
  for (int c = 0; c < 0x10000; ++c) all.push_back(static_cast<char16_t>(c));
  const UnicodeString upperAll = UpperCaseStr(all);
  const UnicodeString lowerAll = LowerCaseStr(all);
  ASSERT_EQ(upperAll.size(), all.size());
  ASSERT_EQ(lowerAll.size(), all.size());

  int compared = 0;
  int mismatches = 0;
  std::string line;
  for (int c = 0; c < 0x10000; ++c) {
    ASSERT_TRUE(std::getline(in, line)) << "python output ends at " << c;
    const UnicodeString one(1, static_cast<char16_t>(c));
    const UnicodeString up = UpperCaseStr(one);
    const UnicodeString low = LowerCaseStr(one);
    ASSERT_EQ(up.size(), 1u);
    ASSERT_EQ(low.size(), 1u);
    EXPECT_EQ(int(up[0]), int(upperAll[c]));  // mapping a whole text = mapping each unit
    EXPECT_EQ(int(low[0]), int(lowerAll[c]));
    if (line == "-") continue;
    unsigned long pu = 0, pl = 0;
    std::istringstream(line) >> std::hex >> pu >> pl;
    if (pu <= 0xFFFF) {
      ++compared;
      if (up[0] != pu && ++mismatches <= 10) ADD_FAILURE() << std::hex << "upper of U+" << c << ": " << int(up[0]) << " expected " << pu;
    }
    if (pl <= 0xFFFF) {
      ++compared;
      if (low[0] != pl && ++mismatches <= 10) ADD_FAILURE() << std::hex << "lower of U+" << c << ": " << int(low[0]) << " expected " << pl;
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(compared, 100000);
}

TEST(CaseConversionTests, Samples) {
  EXPECT_EQ(UpperCaseStr(u"äbc1"), u"ÄBC1");
  EXPECT_EQ(UpperCaseStr(u"straße"), u"STRAßE");
  EXPECT_EQ(LowerCaseStr(u"STRAßE ÄÖÜ"), u"straße äöü");
  EXPECT_EQ(UpperCaseStr(u""), u"");
  const UnicodeString pair = u"\U0001D400x";  // surrogate halves stay as they are
  EXPECT_EQ(UpperCaseStr(pair), u"\U0001D400X");
  // The ASCII folding of StringToBool leaves accented letters alone.
  EXPECT_FALSE(StringToBool(platform::WideToAnsi(u"jä")));
}

// --- 8-bit helpers -------------------------------------------------------------------------------

TEST(ToolsHelperTests, StrToIntDefEx) {
  struct Case {
    std::string text;
    int64_t expected;
  };
  const Case cases[] = {
      {"", 0},        {"abc", -1},     {"1%0", 10},   {"$1F", 31},    {"50%", 50},
      {" 7", 7},      {"7 ", -1},      {"+12", 12},   {"-12", -12},   {"0x10", 16},
      {"X10", 16},    {"-$10", -16},   {"%", -1},     {"-", -1},      {"$", -1},
      {"0x", -1},     {"1.5", -1},     {"\t7", -1},   {"007", 7},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", -1},
      {"99999999999999999999", -1},
      {"$FFFFFFFFFFFFFFFF", -1},  // a 64-bit pattern
      {"$7FFFFFFFFFFFFFFF", INT64_MAX},
      {"$10000000000000000", -1},  // 17 digits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(StrToIntDefEx(c.text, -1, 0), c.expected);
  }
  EXPECT_EQ(StrToIntDefEx("", 5, 9), 9);
  EXPECT_EQ(StrToIntDefEx("z", 5, 9), 5);
}

TEST(ToolsHelperTests, BooleanTexts) {
  EXPECT_EQ(BoolToString(true), "True");
  EXPECT_EQ(BoolToString(false), "False");
  for (const char* yes : {"JA", "yes", "Ok", "1", "x", "true", "WAHR", "richtig", "korrekt", "right", "yap",
                          "oui", "correct", "jau", "yo", "jo", "yep", "yepp", "yapp", "yup"})
    EXPECT_TRUE(StringToBool(yes)) << yes;
  for (const char* no : {"Y", " yes", "yes ", "", "no", "0", "false", "nein", "JAA"})
    EXPECT_FALSE(StringToBool(no)) << no;
}

TEST(ToolsHelperTests, PaddingAndSuffixes) {
  EXPECT_EQ(ZeroPadLeft("7", 3), "007");
  EXPECT_EQ(ZeroPadLeft("1234", 3), "1234");
  EXPECT_EQ(ZeroPadLeft("", 100), std::string(61, '0'));
  EXPECT_EQ(ZeroPadLeft("5", INT32_MIN), "5");
  EXPECT_EQ(PadRight("ab", 4), "ab  ");
  EXPECT_EQ(PadRight("abcde", 4), "abcde");
  EXPECT_EQ(PadRight("ab", -3), "ab");
  EXPECT_EQ(EnsureSuffix("", ";"), "");
  EXPECT_EQ(EnsureSuffix("a", ";"), "a;");
  EXPECT_EQ(EnsureSuffix("a;", ";"), "a;");
  EXPECT_EQ(EnsureSuffix("b", "abc"), "babc");
  EXPECT_EQ(IncludeBackslash("  /tmp/x "), "/tmp/x/");
  EXPECT_EQ(IncludeBackslash("/tmp/x/"), "/tmp/x/");
  EXPECT_EQ(IncludeBackslash("C:\\data\\"), "C:\\data\\");
  EXPECT_EQ(IncludeBackslash(" \t"), "");
}

TEST(ToolsHelperTests, ReplaceDoubleQuotes) {
  TStringList lines;
  lines.Add(u"SELECT * FROM T WHERE A = \"x\"");
  lines.Add(u"no quotes");
  lines.Add(u"\"\"");
  EXPECT_TRUE(ReplaceDoubleQuotes(lines));
  EXPECT_EQ(Items(lines), (Strs{"SELECT * FROM T WHERE A = 'x'", "no quotes", "''"}));
  TStringList empty;
  EXPECT_TRUE(ReplaceDoubleQuotes(empty));
}

TEST(ToolsHelperTests, ExtractBetween) {
  struct Case {
    std::string text, open, close, expected;
  };
  const Case cases[] = {
      {"a>b<c>d", "<", ">", "c"},
      {"<abc", "<", ">", ""},
      {"x<  v  >", "<", ">", "v"},
      {"abc>", "<", ">", ""},
      {"a<b", "<", "", "b"},         // empty closing delimiter: the rest after the opening one
      {" ab ", "<", "", "ab"},       // ... the whole text when the opening one is missing
      {"xy[ab", "[[", "", "y[ab"},   // ... from the position given by the delimiter's length
      {"a>>b<c>>", "<", ">", "c"},
      {"<a><b>", "<", ">", "a"},
      {"a>b<c", "<", ">", ""},       // no closing delimiter after the opening one
      {"[[x]]", "[[", "]]", "x"},
      {"]]x[[y]]", "[[", "]]", "y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " " + c.open + " " + c.close);
    EXPECT_EQ(ExtractBetween(c.text, c.open, c.close), c.expected);
  }
}

TEST(ToolsHelperTests, ParseTagList) {
  struct Case {
    std::string text;
    bool ok;
    std::string tag;
    Strs items;
  };
  const Case cases[] = {
      {"<CONFIG><A=1><B=2></CONFIG>", true, "CONFIG", {"A=1", "B=2"}},
      {"<CONFIG>\r\n<A=1>\r\n<B=2>\r\n</CONFIG>\r\n", true, "CONFIG", {"A=1", "B=2"}},
      {"junk <CONFIG> x <A=1>y<B=2></CONFIG> tail", true, "CONFIG", {"A=1", "B=2"}},
      {"<config><A=1></CONFIG>", true, "CONFIG", {"A=1"}},
      {"<CONFIG></CONFIG>", true, "CONFIG", {}},
      {"<CONFIG><A=1></OTHER>", false, "", {"CONFIG", "A=1", "/OTHER"}},
      {"<CONFIG>", false, "", {"CONFIG"}},
      {"no tags", false, "", {}},
      {"", false, "", {}},
      {"<R><A=x<y></R>", true, "R", {"A=x<y"}},
      {"<R><A=x>y></R>", true, "R", {"A=x"}},
      {"<R><  A = 1  ><></R>", true, "R", {"A = 1", ""}},
      {"<R><A=1></R", false, "", {"R", "A=1"}},       // an unclosed last tag is not read
      {"<R>>x<", false, "", {"R", ""}},               // a ">" remains before the last "<"
      {"<R>x<", false, "", {"R"}},                    // no ">" remains: the loop ends
      {"<r><k=\xe4></R>", true, "R", {"k=\xc3\xa4"}},  // Windows-1252 in, UTF-16 items out
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TStringList items;
    items.Add(u"stale");
    AnsiString tag = "unchanged";
    EXPECT_EQ(ParseTagList(c.text, tag, items), c.ok);
    EXPECT_EQ(tag, c.ok ? c.tag : "unchanged");
    EXPECT_EQ(Items(items), c.items);
  }
}

TEST(ToolsHelperTests, ConfigStringParameters) {
  EXPECT_EQ(GetConfigStringParameter(u"a=1;b=2;a=3", u"A", u"d"), u"1");
  EXPECT_EQ(GetConfigStringParameter(u"a=1;b=2;a=3", u"c", u"d"), u"d");
  EXPECT_EQ(GetConfigStringParameter(u"", u"a", u"d"), u"d");
  EXPECT_EQ(GetConfigStringParameter(u"Server=abc; Port =10;", u"port", u"d"), u"d");
  EXPECT_EQ(GetConfigStringParameter(u"Server=abc; Port=1 0 ;", u"PORT", u"d"), u"1 0");
  EXPECT_EQ(GetConfigStringParameter(u"k=a=b;", u"k", u"d"), u"a=b");
  EXPECT_EQ(GetConfigStringParameter(u"novalue;k=1", u"", u"d"), u"novalue");
  EXPECT_EQ(GetConfigStringParameter(u"k=Ω€", u"K", u"d"), u"Ω€");  // nothing lost on the way
  EXPECT_EQ(TqzToolsParams::GetConfigStringParameter(u"x=1", u"X", u""), u"1");

  std::unique_ptr<TStringList> values;
  EXPECT_TRUE(GetConfigStringParameters(u"a=1;b=2;a=3", u"a", values));
  ASSERT_TRUE(values);
  EXPECT_EQ(Items(*values), (Strs{"1", "3"}));
  EXPECT_TRUE(TqzToolsParams::GetConfigStringParameters(u"a=1;b=2;a=3", u"", values));
  EXPECT_EQ(Items(*values), (Strs{"1", "3", "1", "2", "3"}));  // appended, not cleared
  EXPECT_TRUE(GetConfigStringParameters(u"", u"", values));
  EXPECT_EQ(values->Count(), 5);
}

TEST(ToolsHelperTests, XmlTables) {
  EXPECT_EQ(XmlCharRangeTable[0].Low, 0x20u);
  EXPECT_EQ(XmlCharRangeTable[5].High, 0x10FFFFu);
  EXPECT_EQ(XmlEntityTable[0].Replacement, u"&amp;");
  EXPECT_EQ(XmlEntityTable[4].Character, u"'");
}

TEST(ToolsHelperTests, PrepareXMLStringW) {
  const UnicodeString data = u"a\u0001<b>&";
  EXPECT_EQ(TqzToolsParams::PrepareXMLStringW(data, true), u"a &lt;b&gt;&amp;");
  EXPECT_EQ(TqzToolsParams::PrepareXMLStringW(data, false), u"a <b>&");
  // A character above U+FFFF (a valid surrogate pair) is allowed in XML and stays; a lone
  // surrogate half is replaced.
  EXPECT_EQ(TqzToolsParams::PrepareXMLStringW(u"\U0001F600", false), u"\U0001F600");
  EXPECT_EQ(TqzToolsParams::PrepareXMLStringW(UnicodeString{u'a', char16_t(0xD83D), u'b', char16_t(0xDE00)}, false),
            u"a b ");
  EXPECT_EQ(TqzToolsParams::PrepareXMLStringW(u"\"'\t\r\n\uFFFE\uFFFF\uFFFD", true),
            u"&quot;&apos;\t\r\n  \uFFFD");
}

// Random texts, escaped and wrapped in an element, must parse with python's XML parser and give
// back the text with every character XML forbids turned into a blank.
TEST(ToolsHelperTests, PrepareXMLStringWParsesAsXml) {
  std::mt19937 rng(7);
  std::u16string pool = u"ab &<>\"'\t\r\n\u0001\u001F\u00e4\u20ac\uFFFE\uFFFF\uE000";
  pool += char16_t(0xD800);  // lone surrogate halves
  pool += char16_t(0xDC00);
  std::ostringstream script;
  script << "import sys, xml.dom.minidom\n"
            "for line in sys.stdin.buffer.read().split(b'\\0')[:-1]:\n"
            "    d = xml.dom.minidom.parseString(b'<a t=\"' + line + b'\">' + line + b'</a>')\n"
            "    e = d.documentElement\n"
            "    t = ''.join(n.data for n in e.childNodes)\n"
            "    sys.stdout.write(t.encode('utf-16-le').hex() + ' ' + e.getAttribute('t').encode('utf-16-le').hex() + '\\n')\n";
  std::vector<UnicodeString> expected;
  std::string input;
  for (int i = 0; i < 300; ++i) {
    UnicodeString s(std::uniform_int_distribution<int>(0, 12)(rng), u' ');
    for (auto& c : s) c = pool[std::uniform_int_distribution<size_t>(0, pool.size() - 1)(rng)];
    UnicodeString plain = s;
    for (size_t k = 0; k < plain.size(); ++k) {
      const char16_t c = plain[k];
      if (c >= 0xD800 && c <= 0xDBFF && k + 1 < plain.size() && plain[k + 1] >= 0xDC00 && plain[k + 1] <= 0xDFFF) {
        ++k;  // a valid pair stays
        continue;
      }
      const bool ok = c == 9 || c == 10 || c == 13 || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD);
      if (!ok) plain[k] = u' ';
    }
    expected.push_back(plain);
    input += N(TqzToolsParams::PrepareXMLStringW(s, true));
    input.push_back('\0');
  }
  const std::string result = qztest::RunPython(script.str(), {}, input);

  auto fromHex = [](const std::string& hex) {
    UnicodeString s;
    for (size_t i = 0; i + 4 <= hex.size(); i += 4)
      s.push_back(static_cast<char16_t>(std::stoi(hex.substr(i, 2), nullptr, 16) |
                                        (std::stoi(hex.substr(i + 2, 2), nullptr, 16) << 8)));
    return s;
  };
  // Line ends in XML text become LF; in attribute values every blank, tab and line end becomes a
  // blank (after CR LF became one LF).
  auto lineEnds = [](const UnicodeString& v) {
    UnicodeString r;
    for (size_t k = 0; k < v.size(); ++k) {
      if (v[k] == u'\r') {
        r.push_back(u'\n');
        if (k + 1 < v.size() && v[k + 1] == u'\n') ++k;
      } else {
        r.push_back(v[k]);
      }
    }
    return r;
  };
  std::istringstream lines(result);
  std::string line;
  size_t i = 0;
  for (; std::getline(lines, line); ++i) {
    ASSERT_LT(i, expected.size());
    const size_t sp = line.find(' ');
    ASSERT_NE(sp, std::string::npos);
    const UnicodeString text = lineEnds(expected[i]);
    UnicodeString attr = text;
    for (auto& c : attr)
      if (c == u'\t' || c == u'\n') c = u' ';
    EXPECT_EQ(fromHex(line.substr(0, sp)), text) << "case " << i;
    EXPECT_EQ(fromHex(line.substr(sp + 1)), attr) << "case " << i;
  }
  EXPECT_EQ(i, expected.size());
}

// --- Start parameters ----------------------------------------------------------------------------

// The checks run in a child process started with known arguments.
TEST(StartParamChild, ReadsArguments) {
  if (!std::getenv("QZ_START_PARAM_CHILD")) GTEST_SKIP() << "runs inside StartParamTests only";
  const Variant five = TqzToolsParams::GetStartParam(u"Debug", Variant(int32_t(0)), "--", varNull);
  EXPECT_EQ(five.VarType(), varInt64);
  EXPECT_EQ(five.AsInt64(), 5);
  const Variant path = TqzToolsParams::GetStartParam(u"path", Variant(UnicodeString(u"x")), "--", varNull);
  EXPECT_EQ(path.VarType(), varUString);
  EXPECT_EQ(path.AsString(), u"a b");
  EXPECT_EQ(TqzToolsParams::GetStartParam(u"missing", Variant(UnicodeString(u"dflt")), "--", varNull).AsString(),
            u"dflt");
  EXPECT_EQ(TqzToolsParams::GetStartParam(u"flag", Variant(false), "--", varBoolean).AsBool(), true);
  EXPECT_EQ(TqzToolsParams::GetStartParam(u"bad", Variant(int32_t(3)), "--", varInteger).AsInt64(), -1);
  const Variant empty = TqzToolsParams::GetStartParam(u"empty", Variant(), "--", varNull);
  EXPECT_TRUE(empty.IsNull());
  const Variant ratio = TqzToolsParams::GetStartParam(u"ratio", Variant(0.0), "--", varNull);
  EXPECT_DOUBLE_EQ(ratio.AsDouble(), 2.5);
  const Variant when = TqzToolsParams::GetStartParam(u"when", Variant(), "--", varDate);
  EXPECT_EQ(when.VarType(), varDate);
  EXPECT_DOUBLE_EQ(when.AsDouble(), platform::EncodeDate(2024, 2, 29) + platform::EncodeTime(13, 45, 10, 0));
  // The name is upper-cased, the prefix compared as given: a lower-case prefix never matches.
  EXPECT_EQ(TqzToolsParams::GetStartParam(u"DEBUG", Variant(int32_t(7)), "-x", varNull).AsInt64(), 7);
  EXPECT_EQ(TqzToolsParams::GetStartParam(u"debug", Variant(int32_t(7)), "-X", varNull).AsInt64(), 9);
  // The first matching argument wins; umlauts are upper-cased the locale-aware way.
  EXPECT_EQ(TqzToolsParams::GetStartParam(u"größe", Variant(UnicodeString()), "--", varUString).AsString(), u"L");
}

TEST(StartParamTests, ReadsTheProcessArguments) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("QZ_START_PARAM_CHILD", "1", 1);
    execl("/proc/self/exe", "child", "--gtest_filter=StartParamChild.*", "--DEBUG=5", "--path=a b",
          "--Flag=ja", "--bad=xyz", "--empty=", "--ratio=2,5", "--when=2024-02-29 13:45:10",
          "-xdebug=9", "--GRÖßE=L", "--größe=M", "positional", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
