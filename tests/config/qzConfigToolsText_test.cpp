// The XML configuration text: the example document, build then parse for every writer option,
// compressed values and the change-protection hash checked with python's zlib and md5sum, the
// format versions of the reader, failures, and files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CodePage.h"
#include "Exceptions.h"
#include "FormatSettings.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "qzConfigTools.h"

namespace {

std::string N(const UnicodeString& w) { return platform::WideToUtf8(w); }

class ConfigTextTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetFormatSettings(platform::InvariantFormatSettings()); }
  void TearDown() override { platform::ResetFormatSettings(); }
  qztest::TempDir dir_{"cfgtext"};

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.Path() + "/" + name;
    qztest::WriteFile(path, bytes);
    return path;
  }
};

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}

// One part of the round-trip list and what each kind of text gives back.
struct Row {
  std::u16string param;
  Variant value;
  bool binary;
  Variant typedBack;           // typed, uncompressed
  std::u16string untypedText;  // untyped, uncompressed (always a UTF-16 text)
};

std::vector<Row> RoundTripRows(bool flatOnly) {
  const TDateTime when = platform::EncodeDate(2026, 12, 11) + (10 * 3600 + 20 * 60 + 30) / 86400.0;
  const std::u16string text = u"alpha \U0001F600 <&>\"' \u00e4\r\nline2\ttab";
  std::vector<Row> rows = {
      {u"Server", Variant(UnicodeString(text)), false, Variant(UnicodeString(text)), text},
      {u"Empty", Variant(UnicodeString()), false, Variant(UnicodeString()), u""},
      {u"Ansi", Variant::FromAnsi("caf\xE9"), false, Variant(UnicodeString(u"caf\u00e9")), u"caf\u00e9"},
      {u"Retries", Variant(3), false, Variant(int64_t(3)), u"3"},
      {u"Big", Variant(int64_t(-9007199254740993LL)), false, Variant(int64_t(-9007199254740993LL)),
       u"-9007199254740993"},
      {u"Ratio", Variant(2.5), false, Variant(2.5), u"2.5"},
      {u"Flag", Variant(true), false, Variant(true), u"true"},
      {u"When", Variant::FromDate(when), false, Variant::FromDate(when), VarToStr(Variant::FromDate(when))},
      {u"Logo", Variant::FromAnsi("abc"), true, Variant(), u""},
      {u"Blob", Variant::FromAnsi(AllBytes()), true, Variant(), u""},
      {u"NoBytes", Variant::FromAnsi(""), true, Variant(), u""},
      {u"my key:1", Variant(u"spaced"), false, Variant(u"spaced"), u"spaced"},
      {u"xmlThing", Variant(u"x"), false, Variant(u"x"), u"x"},
      {u"2nd", Variant(u"digit"), false, Variant(u"digit"), u"digit"},
      {u"Spaces", Variant(u" \t "), false, Variant(u" \t "), u" \t "},
  };
  if (!flatOnly) {
    const std::vector<Row> nested = {
        {u"1st/Mode", Variant(true), false, Variant(true), u"true"},
        {u"a b/x", Variant(u"1"), false, Variant(u"1"), u"1"},
        {u"a_b/y", Variant(u"2"), false, Variant(u"2"), u"2"},
        {u"grp", Variant(u"g"), false, Variant(u"g"), u"g"},
        {u"grp/sub/deep", Variant(7), false, Variant(int64_t(7)), u"7"},
        {u"grp/sub/deep2", Variant::FromAnsi("\x01\x02"), true, Variant(), u""},
        {u"hold", Variant(UnicodeString()), false, Variant(UnicodeString()), u""},
        {u"hold/in", Variant(u"v"), false, Variant(u"v"), u"v"},
        {u"ws", Variant(u"  "), false, Variant(u"  "), u"  "},
        {u"ws/in", Variant(u"i"), false, Variant(u"i"), u"i"},
        {u"dup/x", Variant(u"first"), false, Variant(u"first"), u"first"},
        {u"dup/x", Variant(u"second"), false, Variant(u"second"), u"second"},
        {u"Stra\u00dfe/\u00c4rger \U0001F600", Variant(u"u"), false, Variant(u"u"), u"u"},
    };
    rows.insert(rows.end(), nested.begin(), nested.end());
  }
  return rows;
}

}  // namespace

// The example list written typed and uncompressed: well-formed for xmllint, laid out as
// documented, and its values read back by python's own parser and by ours.
TEST_F(ConfigTextTest, ExampleDocument) {
  TqzConfigTools tools;
  tools.AddConfigParam(u"Server", Variant(u"alpha"), false, false);
  tools.AddConfigParam(u"Retries", Variant(3), false, false);
  tools.AddConfigParam(u"1st/Mode", Variant(true), false, false);
  tools.AddConfigParam(u"Logo", Variant::FromAnsi("abc"), true, false);
  const AnsiString text = tools.BuiltConfigString(u"Settings", false, true, false);
  EXPECT_EQ(text,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<Settings FormatVersion=\"2.0\" Compressed=\"false\" Encoding=\"none\">"
            "<Server Type=\"UCS4STR\">alpha</Server><Retries Type=\"INT\">3</Retries>"
            "<_1st Name=\"1st\"><Mode Type=\"BOOLEAN\">True</Mode></_1st>"
            "<Logo Type=\"BINARY\">YWJj</Logo></Settings>");
  const std::string path = Write("example.xml", text);
  const auto lint = qztest::RunProcess({"xmllint", "--noout", path});
  EXPECT_EQ(lint.ExitCode, 0) << lint.Err;
  const std::string py = qztest::RunPython(
      "import sys, base64, xml.etree.ElementTree as ET\n"
      "r = ET.parse(sys.argv[1]).getroot()\n"
      "print(r.tag, r.get('FormatVersion'), r.get('Compressed'), r.get('Encoding'))\n"
      "for e in r.iter():\n"
      "    if e is r: continue\n"
      "    t = e.text or ''\n"
      "    if e.get('Type') == 'BINARY': t = base64.b64decode(t).decode()\n"
      "    print(e.tag, e.get('Name'), e.get('Type'), t)\n",
      {path});
  EXPECT_EQ(py,
            "Settings 2.0 false none\n"
            "Server None UCS4STR alpha\n"
            "Retries None INT 3\n"
            "_1st 1st None \n"
            "Mode None BOOLEAN True\n"
            "Logo None BINARY abc\n");

  TqzConfigTools back;
  UnicodeString root;
  ASSERT_TRUE(back.ParseConfigString(text, root, true)) << N(back.Message);
  back.RootNodeName = root;
  EXPECT_EQ(root, u"Settings");
  ASSERT_EQ(back.GetListSize(), 4);  // the enclosing '1st' makes no part
  EXPECT_EQ(back.GetConfigParam(u"server"), Variant(u"alpha"));
  EXPECT_EQ(back.GetConfigParam(u"Retries"), Variant(int64_t(3)));
  EXPECT_EQ(back.GetConfigParam(u"1st/Mode"), Variant(true));
  EXPECT_EQ(back.GetConfigParam(u"Logo"), Variant::FromAnsi("abc"));
  EXPECT_TRUE(back.ConfigList[back.GetConfigParamListId(u"Logo")].Binary);

  // Names in attributes: the nested part is refused, the flat ones become "Field" elements.
  EXPECT_THROW(tools.BuiltConfigString(u"Settings", false, true, true), Exception);
  EXPECT_EQ(tools.Message, u"node paths and nodenamebyattribute is not supported");
  tools.DeleteConfigParam(u"1st/Mode");
  const AnsiString byAttr = tools.BuiltConfigString(u"Settings", false, false, true);
  EXPECT_TRUE(tools.Message.empty());
  EXPECT_NE(byAttr.find("<Field Name=\"Server\">alpha</Field><Field Name=\"Retries\">3</Field>"
                        "<Field Name=\"Logo\" Type=\"BINARY\">YWJj</Field>"),
            std::string::npos)
      << byAttr;
}

// Build then parse gives the list back for every combination of the writer's options.
TEST_F(ConfigTextTest, RoundTripEveryOption) {
  for (int mask = 0; mask < 16; ++mask) {
    const bool compress = mask & 1, typed = mask & 2, byAttr = mask & 4, protect = mask & 8;
    SCOPED_TRACE(::testing::Message() << "compress " << compress << " typed " << typed << " byAttr " << byAttr
                                      << " protect " << protect);
    const std::vector<Row> rows = RoundTripRows(byAttr);
    TqzConfigTools tools;
    tools.ChangeProtection = protect;
    for (const Row& r : rows) {
      const int id = tools.AddConfigParam(r.param, r.value, r.binary, false);
      ASSERT_GE(id, 0);
      if (r.param == u"Server" || r.param == u"hold") {
        tools.AddAttribute(id, u"unit", Variant(u"m<s>&\"' \U0001F600"));
        tools.AddAttribute(id, u"count", Variant(5));
        tools.AddAttribute(id, u"on", Variant(false));
      }
    }
    const AnsiString text = tools.BuiltConfigString(u"qzConfig", compress, typed, byAttr);
    const auto lint = qztest::RunProcess({"xmllint", "--noout", "-"}, text);
    EXPECT_EQ(lint.ExitCode, 0) << lint.Err;

    TqzConfigTools back;
    back.ChangeProtection = protect;
    UnicodeString root;
    ASSERT_TRUE(back.ParseConfigString(text, root, false)) << N(back.Message) << "\n" << text;
    EXPECT_EQ(root, u"qzConfig");
    ASSERT_EQ(back.GetListSize(), static_cast<int>(rows.size())) << text;
    for (size_t i = 0; i < rows.size(); ++i) {
      const Row& r = rows[i];
      const TqzConfigPart& p = back.ConfigList[static_cast<int>(i)];
      SCOPED_TRACE(N(r.param));
      EXPECT_EQ(p.Param, r.param);
      EXPECT_EQ(p.SORTL, TqzConfigTools::ConfigKey(r.param));
      EXPECT_EQ(p.Binary, r.binary);
      if (r.binary) {
        EXPECT_EQ(p.Value, r.value);
      } else if (compress) {
        EXPECT_EQ(p.Value, Variant::FromOleStr(VarToStr(r.value)));
      } else if (typed) {
        EXPECT_EQ(p.Value, r.typedBack);
      } else {
        EXPECT_TRUE(p.Value.IsString());
        EXPECT_EQ(VarToStr(p.Value), r.untypedText);
      }
      if (r.param == u"Server" || r.param == u"hold") {
        ASSERT_EQ(p.Attributes.size(), 3u);
        EXPECT_EQ(p.Attributes[0].Name, u"unit");
        EXPECT_EQ(p.Attributes[0].Value, Variant(u"m<s>&\"' \U0001F600"));
        EXPECT_EQ(p.Attributes[1].Value, Variant(u"5"));
        EXPECT_EQ(p.Attributes[2].Value, Variant(u"false"));
      } else {
        EXPECT_TRUE(p.Attributes.empty());
      }
    }
  }
}

// A compressed text decoded independently: every element's text is Base64 of a zlib stream of a
// 4-byte little-endian count and the bytes.
TEST_F(ConfigTextTest, CompressedValuesDecodeWithPython) {
  TqzConfigTools tools;
  tools.AddConfigParam(u"Server", Variant(u"alpha \U0001F600"), false, false);
  tools.AddConfigParam(u"Retries", Variant(3), false, false);
  tools.AddConfigParam(u"Blob", Variant::FromAnsi(AllBytes() + AllBytes()), true, false);
  const AnsiString text = tools.BuiltConfigString(u"Settings", true, true, false);
  EXPECT_NE(text.find("Compressed=\"true\" Encoding=\"Base64\""), std::string::npos);
  const std::string out = qztest::RunPython(
      "import sys, zlib, base64, struct, xml.etree.ElementTree as ET\n"
      "r = ET.fromstring(sys.stdin.buffer.read())\n"
      "for e in r:\n"
      "    raw = zlib.decompress(base64.b64decode(e.text))\n"
      "    n = struct.unpack('<i', raw[:4])[0]\n"
      "    assert len(raw) == 4 + n\n"
      "    lines = e.text.replace('\\r', '').split('\\n')\n"
      "    assert all(len(l) <= 76 for l in lines)\n"
      "    print(e.tag, e.get('Type'), raw[4:].hex())\n",
      {}, text);
  const std::string blobHex = [] {
    std::string h;
    for (int k = 0; k < 2; ++k)
      for (int i = 0; i < 256; ++i) {
        char b[3];
        snprintf(b, sizeof b, "%02x", i);
        h += b;
      }
    return h;
  }();
  EXPECT_EQ(out, "Server UCS4STR 616c70686120f09f9880\nRetries INT 33\nBlob BINARY " + blobHex + "\n");

  // A value that declares more bytes than allowed is refused before anything is allocated.
  const std::string bomb = qztest::RunPython(
      "import sys, zlib, base64, struct\n"
      "sys.stdout.write(base64.b64encode(zlib.compress(struct.pack('<i', 5000) + b'x' * 5000)).decode())\n");
  TqzConfigTools back;
  back.MaxValueSize = 4096;
  const std::string doc = "<R Compressed=\"yes\"><v>" + bomb + "</v></R>";
  EXPECT_FALSE(back.ParseConfigString(doc));
  EXPECT_FALSE(back.Message.empty());
  back.MaxValueSize = 5000;
  ASSERT_TRUE(back.ParseConfigString(doc)) << N(back.Message);
  EXPECT_EQ(VarToStr(back.GetConfigParam(u"v")), UnicodeString(5000, u'x'));
}

// The hash: MD5 over each part's path, value text and attributes, then the salt, recomputed
// with md5sum; any change to the text fails the check.
TEST_F(ConfigTextTest, ChangeProtection) {
  TqzConfigTools tools;
  tools.ChangeProtection = true;
  tools.AddConfigParam(u"a", Variant(u"x\u00e4"), false, false);
  tools.AddAttribute(0, u"k", Variant(u"v"));
  tools.AddConfigParam(u"n", Variant(12), false, false);
  const AnsiString text = tools.BuiltConfigString(u"Cfg", false, true, false);
  const std::string salt = "7919" "104729" "31" "65537" "2147483647" "97" "2026" "1299709" "8191";
  const auto md5 = qztest::RunProcess({"md5sum"}, "ax\xC3\xA4kv" "n12" + salt);
  ASSERT_EQ(md5.ExitCode, 0);
  std::string expected = md5.Out.substr(0, 32);
  for (char& c : expected) c = static_cast<char>(toupper(c));
  EXPECT_NE(text.find(" Hash=\"" + expected + "\""), std::string::npos) << text;

  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = text;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  std::string lower = expected;
  for (char& c : lower) c = static_cast<char>(tolower(c));
  struct Case {
    std::string name;
    std::string text;
    bool ok;
  };
  const std::vector<Case> cases = {
      {"as written", text, true},
      {"hash longer than 32 characters", replaced(expected, expected + "ZZ"), true},
      {"value changed", replaced(">12<", ">13<"), false},
      {"attribute changed", replaced("k=\"v\"", "k=\"w\""), false},
      {"hash dropped", replaced(" Hash=\"" + expected + "\"", ""), false},
      {"hash in lower case", replaced(expected, lower), false},
      {"hash with a blank", replaced(expected, " " + expected), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TqzConfigTools back;
    back.ChangeProtection = true;
    EXPECT_EQ(back.ParseConfigString(c.text), c.ok);
    if (!c.ok) {
      EXPECT_EQ(back.Message, u"change protection hash mismatch");
      EXPECT_EQ(back.GetListSize(), 2);  // the parts read are kept
      UnicodeString root;
      EXPECT_THROW(back.ParseConfigString(c.text, root, true), Exception);
    }
    TqzConfigTools unprotected;
    EXPECT_TRUE(unprotected.ParseConfigString(c.text));
  }
}

// The part names, attributes and compression the reader takes from each format version.
TEST_F(ConfigTextTest, FormatVersions) {
  struct Case {
    std::string version;  // empty: no FormatVersion attribute
    std::vector<std::string> params;
    bool extras;
  };
  const Case cases[] = {
      {"1.0", {"item", "plain"}, false},        {"1.2", {"item", "plain"}, false},
      {"1.3", {"item", "plain"}, true},         {"1.4", {"Item", "plain"}, true},
      {"1.5", {"Item", "plain"}, true},         {"1.6", {"Group/Item", "plain"}, true},
      {"2.0", {"Group/Item", "plain"}, true},   {"2.1", {"Group/Item", "plain"}, true},
      {"9.9", {"Group/Item", "plain"}, true},   {"", {"Group/Item", "plain"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    const std::string attr = c.version.empty() ? "" : " FormatVersion=\"" + c.version + "\"";
    const std::string text = "<?xml version=\"1.0\"?>\n<R" + attr +
                             "><!-- note --><grp Name=\"Group\"><item Name=\"Item\" Type=\"INT\" extra=\"e\">5</item>"
                             "</grp>text<plain>p<?pi x?></plain></R>";
    TqzConfigTools tools;
    ASSERT_TRUE(tools.ParseConfigString(text)) << N(tools.Message);
    std::vector<std::string> params;
    for (const TqzConfigPart& p : tools.ConfigList) params.push_back(N(p.Param));
    EXPECT_EQ(params, c.params);
    EXPECT_EQ(tools.ConfigList[0].Value, Variant(int64_t(5)));
    EXPECT_EQ(tools.ConfigList[0].Attributes.size(), c.extras ? 1u : 0u);
    EXPECT_EQ(tools.ConfigList[1].Value, Variant(u"p"));
  }
  EXPECT_EQ(TqzConfigTools::GetConfigFormatVersion(u"1.8"), qzFV_18);
  EXPECT_EQ(TqzConfigTools::GetConfigFormatVersion(u"2.0 "), qzFV_Unknown);

  // "Compressed" is a yes-word.
  const std::string packed = qztest::RunPython(
      "import sys, zlib, base64, struct\n"
      "sys.stdout.write(base64.b64encode(zlib.compress(struct.pack('<i', 2) + b'ok')).decode())\n");
  for (const char* word : {"true", "yes", "1", "TRUE"}) {
    TqzConfigTools tools;
    ASSERT_TRUE(tools.ParseConfigString("<R Compressed=\"" + std::string(word) + "\"><v>" + packed + "</v></R>"))
        << word << N(tools.Message);
    EXPECT_EQ(tools.GetConfigParam(u"v"), Variant::FromOleStr(u"ok")) << word;
  }
  for (const char* word : {"false", "no", "0", ""}) {
    TqzConfigTools tools;
    ASSERT_TRUE(tools.ParseConfigString("<R Compressed=\"" + std::string(word) + "\"><v>" + packed + "</v></R>"));
    EXPECT_EQ(tools.GetConfigParam(u"v"), Variant(platform::Utf8ToWide(packed))) << word;
  }
}

// Texts the reader refuses or takes as empty, and lists the writer refuses.
TEST_F(ConfigTextTest, Failures) {
  TqzConfigTools tools;
  UnicodeString root = u"kept";
  for (const char* blank : {"", "  \r\n\t "}) {
    tools.AddConfigParam(u"old", Variant(1), false, false);
    EXPECT_TRUE(tools.ParseConfigString(tools.ConfigList, blank, root, true));
    EXPECT_EQ(tools.GetListSize(), 0);
    EXPECT_EQ(root, u"kept");
  }
  struct Bad {
    std::string text;
    std::string messagePart;
  };
  const Bad bad[] = {
      {"<R><a></R>", "line 1"},
      {"<R Compressed=\"true\"><a>!!notbase64zlib!!</a></R>", ""},
      {"<R Compressed=\"true\"><a>eJwLycgsVgCi3MSiVIWS1OISAGJ3B6c=</a></R>", ""},  // zlib without the count
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.text);
    EXPECT_FALSE(tools.ParseConfigString(b.text));
    EXPECT_NE(N(tools.Message).find(b.messagePart), std::string::npos) << N(tools.Message);
    EXPECT_FALSE(tools.Message.empty());
    UnicodeString r;
    EXPECT_THROW(tools.ParseConfigString(tools.ConfigList, b.text, r, true), Exception);
  }

  // A small text cannot expand without bound: long enclosing names repeated in every path, or
  // many compressed values, stop at MaxParsedSize.
  {
    std::string longName(2000, 'n');
    std::string text = "<R><g Name=\"" + longName + "\">";
    for (int i = 0; i < 300; ++i) text += "<v/>";
    text += "</g></R>";
    TqzConfigTools t;
    t.MaxParsedSize = 1 << 20;
    EXPECT_FALSE(t.ParseConfigString(text));
    EXPECT_NE(N(t.Message).find("expands beyond"), std::string::npos) << N(t.Message);
    t.MaxParsedSize = 4 << 20;
    EXPECT_TRUE(t.ParseConfigString(text)) << N(t.Message);
    EXPECT_EQ(t.GetListSize(), 300);

    const std::string packed = qztest::RunPython(
        "import sys, zlib, base64, struct\n"
        "sys.stdout.write(base64.b64encode(zlib.compress(struct.pack('<i', 100000) + b'z' * 100000)).decode())\n");
    std::string many = "<R Compressed=\"true\">";
    for (int i = 0; i < 20; ++i) many += "<v>" + packed + "</v>";
    many += "</R>";
    t.MaxParsedSize = 1000000;
    EXPECT_FALSE(t.ParseConfigString(many));
    t.MaxParsedSize = 3000000;
    EXPECT_TRUE(t.ParseConfigString(many)) << N(t.Message);
  }

  struct BuildCase {
    std::vector<std::u16string> params;
    std::string messagePart;
  };
  const BuildCase builds[] = {
      {{u"a?b"}, "not a valid element name"},
      {{u"x/a/b", u"x/a"}, "single text node"},
  };
  for (const BuildCase& c : builds) {
    TqzConfigTools t;
    for (const auto& p : c.params) t.AddConfigParam(p, Variant(u"v"), false, false);
    EXPECT_THROW(t.BuiltConfigString(u"R", false, false, false), EXmlError);
    EXPECT_NE(N(t.Message).find(c.messagePart), std::string::npos) << N(t.Message);
  }
  {
    // Paths nested deeper than the reader accepts are not written.
    TqzConfigTools t;
    UnicodeString deep;
    for (int i = 0; i < 300; ++i) deep += u"n/";
    t.AddConfigParam(deep + u"leaf", Variant(u"v"), false, false);
    EXPECT_THROW(t.BuiltConfigString(u"R", false, false, false), EXmlError);
    // An element named by blanks alone makes no part.
    EXPECT_TRUE(t.ParseConfigString("<R><x Name=\" \">1</x><y>2</y></R>"));
    EXPECT_EQ(t.GetListSize(), 1);
    EXPECT_EQ(t.GetConfigParam(u"y"), Variant(u"2"));
  }
  // The other order builds: the value first, then the element below it.
  TqzConfigTools ok;
  ok.AddConfigParam(u"x/a", Variant(u"v"), false, false);
  ok.AddConfigParam(u"x/a/b", Variant(u"w"), false, false);
  EXPECT_NO_THROW(ok.BuiltConfigString(u"R", false, false, false));

  // Line ends and characters XML cannot hold.
  TqzConfigTools t;
  t.AddConfigParam(u"lf", Variant(u"a\nb"), false, false);
  t.AddConfigParam(u"ctl", Variant(u"a\u0001b"), false, false);
  t.AddConfigParam(u"empty", Variant(), false, false);
  TqzConfigTools back;
  ASSERT_TRUE(back.ParseConfigString(t.BuiltConfigString(u"R", false, false, false)));
  EXPECT_EQ(back.GetConfigParam(u"lf"), Variant(u"a\r\nb"));
  EXPECT_EQ(back.GetConfigParam(u"ctl"), Variant(u"a b"));
  EXPECT_EQ(VarToStr(back.GetConfigParam(u"empty")), u"");
  // An empty list gives the root with its three attributes and reads back empty.
  TqzConfigTools none;
  const AnsiString empty = none.BuiltConfigString(u"X", false, false, false);
  EXPECT_EQ(empty.substr(empty.find('\n') + 1), "<X FormatVersion=\"2.0\" Compressed=\"false\" Encoding=\"none\"/>");
  UnicodeString r;
  EXPECT_TRUE(none.ParseConfigString(empty, r, false));
  EXPECT_EQ(r, u"X");
  EXPECT_EQ(none.ConfigList.Length(), 0);
}

// Saving and loading through files, a UTF-16 text converted by iconv included.
TEST_F(ConfigTextTest, SaveAndLoadFiles) {
  TqzConfigTools tools;
  tools.AddConfigParam(u"grp/Name", Variant(u"\u00e4 \U0001F600"), false, false);
  tools.AddConfigParam(u"Count", Variant(42), false, false);
  const std::string path = dir_.Path() + "/config.xml";
  ASSERT_TRUE(tools.SaveConfig(platform::Utf8ToWide(path), u"qzNodes", true, true));
  const auto lint = qztest::RunProcess({"xmllint", "--noout", path});
  EXPECT_EQ(lint.ExitCode, 0) << lint.Err;

  TqzConfigTools back;
  ASSERT_TRUE(back.LoadConfig(platform::Utf8ToWide(path))) << N(back.Message);
  EXPECT_EQ(back.RootNodeName, u"qzNodes");
  EXPECT_EQ(back.GetConfigParam(u"grp/name"), Variant::FromOleStr(u"\u00e4 \U0001F600"));
  EXPECT_EQ(back.GetConfigParam(u"count"), Variant::FromOleStr(u"42"));

  // The same text as UTF-16 with a byte-order mark.
  tools.SaveConfig(platform::Utf8ToWide(path), u"qzNodes", false, true);
  std::string utf8 = qztest::ReadFile(path);
  utf8.replace(utf8.find("UTF-8"), 5, "UTF-16");
  const auto conv = qztest::RunProcess({"iconv", "-f", "UTF-8", "-t", "UTF-16"}, utf8);
  ASSERT_EQ(conv.ExitCode, 0);
  const std::string path16 = Write("config16.xml", conv.Out);
  const auto lint16 = qztest::RunProcess({"xmllint", "--noout", path16});
  EXPECT_EQ(lint16.ExitCode, 0) << lint16.Err;
  ASSERT_TRUE(back.LoadConfig(platform::Utf8ToWide(path16))) << N(back.Message);
  EXPECT_EQ(back.GetConfigParam(u"grp/name"), Variant(u"\u00e4 \U0001F600"));
  EXPECT_EQ(back.GetConfigParam(u"count"), Variant(int64_t(42)));

  EXPECT_FALSE(back.LoadConfig(platform::Utf8ToWide(dir_.Path() + "/missing.xml")));
  EXPECT_FALSE(tools.SaveConfig(platform::Utf8ToWide(dir_.Path() + "/no/such/dir/c.xml"), u"R", false, false));
  EXPECT_EQ(qztest::ReadFile(path), utf8.replace(utf8.find("UTF-16"), 6, "UTF-8"));  // untouched
}
