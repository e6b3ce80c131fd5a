// The XML document model: building, name and root checks, text and CDATA, attributes, and
// loading and saving in UTF-8 and UTF-16, checked against xmllint, iconv and python's parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CodePage.h"
#include "Exceptions.h"
#include "TestSupport.h"
#include "XmlDocument.h"

using platform::XmlDocument;
using platform::XmlEncoding;
using platform::XmlNode;
using platform::XmlNodeKind;

namespace {

std::string N(const UnicodeString& w) { return platform::WideToUtf8(w); }

// xmllint's verdict on a file: exit code 0 means well-formed.
qztest::ProcessResult Lint(const std::string& path) { return qztest::RunProcess({"xmllint", "--noout", path}); }

// A document with every node kind the model writes, characters above U+FFFF included.
void BuildSample(XmlDocument& doc) {
  XmlNode root = doc.Node().AppendElement(u"Settings");
  root.SetAttribute(u"Version", u"2.0");
  root.SetAttribute(u"Quote", u"a\"b'<c>&d\te\nf\r");
  root.AppendElement(u"Text").SetText(u"x < y & z > w \U0001F600 \u00e4");
  root.AppendElement(u"Data").AppendCData(u"<raw & text>");
  XmlNode mixed = root.AppendElement(u"Mixed");
  mixed.AppendText(u"one");
  mixed.AppendElement(u"Inner").SetText(u"two");
  root.AppendElement(u"Empty");
}

void CheckSample(XmlDocument& doc) {
  const XmlNode root = doc.DocumentElement();
  ASSERT_TRUE(root);
  EXPECT_EQ(root.Name(), u"Settings");
  EXPECT_EQ(root.Attribute(u"Quote").value_or(u"?"), u"a\"b'<c>&d\te\nf\r");
  EXPECT_EQ(root.ChildElement(u"Text").Text(), u"x < y & z > w \U0001F600 \u00e4");
  const XmlNode data = root.ChildElement(u"Data");
  EXPECT_EQ(data.FirstChild().Kind(), XmlNodeKind::CData);
  EXPECT_EQ(data.Text(), u"<raw & text>");
  const XmlNode mixed = root.ChildElement(u"Mixed");
  EXPECT_EQ(mixed.Text(), u"one");
  EXPECT_EQ(mixed.ChildElement(u"Inner").Text(), u"two");
  EXPECT_FALSE(root.ChildElement(u"Empty").HasChildNodes());
  EXPECT_EQ(root.ChildCount(), 4u);
}

}  // namespace

// Saved in every encoding, the sample is well-formed for xmllint, carries the right byte-order
// mark, converts with iconv to the UTF-8 text, and loads back unchanged.
TEST(XmlDocumentTests, SaveAndLoadEveryEncoding) {
  qztest::TempDir dir("xmldoc");
  XmlDocument doc;
  BuildSample(doc);
  const std::string utf8 = doc.SaveToBytes(XmlEncoding::Utf8);
  EXPECT_EQ(utf8.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << utf8;

  struct Case {
    XmlEncoding encoding;
    std::string bom;
    const char* iconvName;
  };
  const Case cases[] = {
      {XmlEncoding::Utf8, "", "UTF-8"},
      {XmlEncoding::Utf16LE, "\xFF\xFE", "UTF-16LE"},
      {XmlEncoding::Utf16BE, "\xFE\xFF", "UTF-16BE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.iconvName);
    const std::string path = dir.Path() + "/doc.xml";
    doc.SaveToFile(platform::Utf8ToWide(path), c.encoding);
    const std::string bytes = qztest::ReadFile(path);
    EXPECT_EQ(bytes.substr(0, c.bom.size()), c.bom);
    const auto lint = Lint(path);
    EXPECT_EQ(lint.ExitCode, 0) << lint.Err;
    const auto conv = qztest::RunProcess({"iconv", "-f", c.iconvName, "-t", "UTF-8", path});
    ASSERT_EQ(conv.ExitCode, 0) << conv.Err;
    std::string converted = conv.Out;
    if (converted.rfind("\xEF\xBB\xBF", 0) == 0) converted.erase(0, 3);
    if (c.encoding == XmlEncoding::Utf8) {
      EXPECT_EQ(converted, utf8);
    } else {
      std::string expected = utf8;
      expected.replace(expected.find("UTF-8"), 5, "UTF-16");
      EXPECT_EQ(converted, expected);
    }
    XmlDocument back;
    back.LoadFromFile(platform::Utf8ToWide(path));
    CheckSample(back);
  }
}

// Texts written by another tool load: python writes the sample in several encodings.
TEST(XmlDocumentTests, LoadsTextsOfOtherWriters) {
  const std::string out = qztest::RunPython(
      "import sys\n"
      "t = '<r a=\"\\u00e4\">caf\\u00e9 \\U0001F600<![CDATA[<x>]]><!-- c --><?pi d?></r>'\n"
      "for enc, decl in (('utf-8', 'UTF-8'), ('utf-16', 'UTF-16'), ('utf-16-be', 'UTF-16'),\n"
      "                  ('cp1252', 'windows-1252'), ('latin-1', 'ISO-8859-1')):\n"
      "    s = '<?xml version=\"1.0\" encoding=\"%s\"?>' % decl + t\n"
      "    if enc in ('cp1252', 'latin-1'): s = s.replace(' \\U0001F600', '')\n"
      "    sys.stdout.write(s.encode(enc).hex() + '\\n')\n");
  std::vector<std::string> docs;
  size_t start = 0;
  for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) {
    std::string bytes;
    for (size_t i = start; i + 1 < nl; i += 2) bytes.push_back(static_cast<char>(std::stoi(out.substr(i, 2), nullptr, 16)));
    docs.push_back(bytes);
  }
  ASSERT_EQ(docs.size(), 5u);
  for (size_t i = 0; i < docs.size(); ++i) {
    SCOPED_TRACE(i);
    XmlDocument doc;
    doc.LoadFromBytes(docs[i]);
    const XmlNode r = doc.DocumentElement();
    EXPECT_EQ(r.Attribute(u"a").value_or(u""), u"\u00e4");
    XmlNode c = r.FirstChild();
    EXPECT_EQ(c.Kind(), XmlNodeKind::Text);
    EXPECT_EQ(c.Value(), i < 3 ? u"caf\u00e9 \U0001F600" : u"caf\u00e9");
    c = c.NextSibling();
    EXPECT_EQ(c.Kind(), XmlNodeKind::CData);
    EXPECT_EQ(c.Value(), u"<x>");
    EXPECT_EQ(c.NextSibling().Kind(), XmlNodeKind::Comment);
    EXPECT_EQ(c.NextSibling().NextSibling().Kind(), XmlNodeKind::ProcessingInstruction);
  }
}

// Malformed texts are refused with the reason and where the parser stopped; line ends read as LF.
TEST(XmlDocumentTests, ParseErrorsAndLineEnds) {
  struct Case {
    std::string text;
    std::string messagePart;
  };
  const Case cases[] = {
      {"<a><b></a>", "line 1"},
      {"<a>\n\n<b x=1/></a>", "line 3"},
      {"", "No document element"},
      {"<!-- only a comment -->", "No document element"},
      {"<a/><b/>", "more than one root element"},
      {"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><a/>", "unsupported encoding"},
      {"<a", "line 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    XmlDocument doc;
    try {
      doc.LoadFromBytes(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const EXmlError& e) {
      EXPECT_NE(N(e.Message).find(c.messagePart), std::string::npos) << N(e.Message);
    }
    EXPECT_FALSE(doc.DocumentElement());
  }
  // Elements nest at most MaxElementDepth levels.
  auto nested = [](int levels) {
    std::string t;
    for (int i = 0; i < levels; ++i) t += "<e>";
    t += "x";
    for (int i = 0; i < levels; ++i) t += "</e>";
    return t;
  };
  {
    XmlDocument deep;
    EXPECT_NO_THROW(deep.LoadFromBytes(nested(XmlDocument::DefaultMaxElementDepth)));
    EXPECT_THROW(deep.LoadFromBytes(nested(XmlDocument::DefaultMaxElementDepth + 1)), EXmlError);
    EXPECT_THROW(deep.LoadFromBytes(nested(200000)), EXmlError);
    deep.MaxElementDepth = 3;
    EXPECT_NO_THROW(deep.LoadFromBytes("<a><b><c/><c>t</c></b><b/></a>"));
    EXPECT_THROW(deep.LoadFromBytes("<a><b/><b><c><d/></c></b></a>"), EXmlError);
  }
  XmlDocument doc;
  doc.LoadFromBytes("<a>x\r\ny\rz</a>");
  EXPECT_EQ(doc.DocumentElement().Text(), u"x\ny\nz");
  // White space between elements is no node.
  doc.LoadFromBytes("<a>\n  <b/>\n</a>");
  EXPECT_EQ(doc.DocumentElement().ChildCount(), 1u);
}

// Element and attribute names must be XML names; the document holds one element; a text goes
// only where a single text node (or nothing) stands.
TEST(XmlDocumentTests, ModelRefusals) {
  struct NameCase {
    std::u16string name;
    bool valid;
  };
  const NameCase names[] = {
      {u"a", true},        {u"_1", true},       {u"a-b.c", true},     {u"ns:x", true},
      {u"\u00e4\u00df", true}, {u"\U00010000x", true}, {u"1a", false},   {u"", false},
      {u"a b", false},     {u"-a", false},      {u".a", false},       {u"a?", false},
      {u"a/b", false},     {std::u16string(1, char16_t(0xD800)), false},
  };
  for (const NameCase& c : names) {
    SCOPED_TRACE(N(c.name));
    EXPECT_EQ(platform::IsXmlName(c.name), c.valid);
    XmlDocument doc;
    XmlNode root = doc.Node().AppendElement(u"r");
    if (c.valid) {
      EXPECT_NO_THROW(root.AppendElement(c.name));
      EXPECT_NO_THROW(root.SetAttribute(c.name, u"v"));
    } else {
      EXPECT_THROW(root.AppendElement(c.name), EXmlError);
      EXPECT_THROW(root.SetAttribute(c.name, u"v"), EXmlError);
    }
  }

  XmlDocument doc;
  XmlNode root = doc.Node().AppendElement(u"r");
  EXPECT_THROW(doc.Node().AppendElement(u"second"), EXmlError);
  XmlNode e = root.AppendElement(u"e");
  e.SetText(u"one");
  e.SetText(u"two");  // replaces the single text
  EXPECT_EQ(e.Text(), u"two");
  e.AppendElement(u"child");
  EXPECT_THROW(e.SetText(u"three"), EXmlError);
  EXPECT_THROW(root.AppendElement(u"z").SetText(UnicodeString(u"a\0b", 3)), EXmlError);
  EXPECT_THROW(root.AppendElement(u"c").AppendCData(u"]]>"), EXmlError);
  // Attributes: replaced in place, order kept, removed.
  root.SetAttribute(u"x", u"1");
  root.SetAttribute(u"y", u"2");
  root.SetAttribute(u"x", u"3");
  const auto attrs = root.Attributes();
  ASSERT_EQ(attrs.size(), 2u);
  EXPECT_EQ(attrs[0].Name, u"x");
  EXPECT_EQ(attrs[0].Value, u"3");
  EXPECT_TRUE(root.RemoveAttribute(u"x"));
  EXPECT_FALSE(root.HasAttribute(u"x"));
  EXPECT_FALSE(root.Attribute(u"X"));  // names compare exactly
}

// Strings: a UTF-16 text loads as given, and SaveToString declares the encoding it was asked for.
TEST(XmlDocumentTests, StringForms) {
  XmlDocument doc;
  doc.LoadFromString(u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\U0001F600</a>");
  EXPECT_EQ(doc.DocumentElement().Text(), u"\U0001F600");
  doc.SetDeclaration(u"1.0", u"UTF-16");
  EXPECT_EQ(doc.SaveToString(), u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<a>\U0001F600</a>");
}
