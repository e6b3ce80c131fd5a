// XML document helpers: attributes with defaults, nodes by path, node values, safe XML text.
#include <gtest/gtest.h>

#include <string>

#include "CodePage.h"
#include "Exceptions.h"
#include "TestSupport.h"
#include "qzXMLTools.h"

using platform::XmlDocument;
using platform::XmlNode;

namespace {
std::string N(const UnicodeString& w) { return platform::WideToUtf8(w); }
}  // namespace

TEST(XMLDocumentToolsTests, GetAttribute) {
  XmlDocument doc;
  doc.LoadFromBytes("<r a=\"x\" empty=\"\"/>");
  const XmlNode r = doc.DocumentElement();
  EXPECT_EQ(TqzIXMLDocumentTools::GetAttribute(r, u"a", u"d"), u"x");
  EXPECT_EQ(TqzIXMLDocumentTools::GetAttribute(r, u"empty", u"d"), u"");
  EXPECT_EQ(TqzIXMLDocumentTools::GetAttribute(r, u"missing", u"d"), u"d");
  EXPECT_EQ(TqzIXMLDocumentTools::GetAttribute(r, u"A", u"d"), u"d");  // case-sensitive
}

// The three forms of GetNode reach and create the same elements.
TEST(XMLDocumentToolsTests, GetNodeCreatesAndFinds) {
  XmlDocument doc;
  XmlNode b = TqzIXMLDocumentTools::GetNode(doc, UnicodeString(u"a/b"));
  EXPECT_EQ(b.Name(), u"b");
  EXPECT_EQ(doc.DocumentElement().Name(), u"a");
  EXPECT_EQ(TqzIXMLDocumentTools::GetNode(doc, std::vector<UnicodeString>{u"a", u"b"}), b);
  TStringList path;
  path.Add(u"a");
  path.Add(u"b");
  EXPECT_EQ(TqzIXMLDocumentTools::GetNode(doc, path), b);
  EXPECT_EQ(doc.DocumentElement().ChildCount(), 1u);

  // An existing 'b' is entered, the missing 'c' appended as its last child.
  doc.LoadFromBytes("<a><x/><b><y/></b><b/></a>");
  XmlNode c = TqzIXMLDocumentTools::GetNode(doc, UnicodeString(u"a/b/c"));
  EXPECT_EQ(c.Parent(), doc.DocumentElement().ChildElement(u"b"));
  EXPECT_FALSE(c.NextSibling());
  EXPECT_EQ(doc.SaveToBytes().substr(doc.SaveToBytes().find('\n') + 1), "<a><x/><b><y/><c/></b><b/></a>");

  EXPECT_FALSE(TqzIXMLDocumentTools::GetNode(doc, UnicodeString()));
  // Errors of the model pass on: a second root, an empty part.
  EXPECT_THROW(TqzIXMLDocumentTools::GetNode(doc, UnicodeString(u"other/x")), EXmlError);
  EXPECT_THROW(TqzIXMLDocumentTools::GetNode(doc, UnicodeString(u"a//x")), EXmlError);
}

TEST(XMLDocumentToolsTests, GetNodeValue) {
  XmlDocument doc;
  doc.LoadFromBytes(
      "<r><v>x</v><e/><n><i>y</i></n><l>a\nb</l><w>a\r\nb</w><d><![CDATA[c\nd]]></d><c><!--k-->t</c></r>");
  const XmlNode r = doc.DocumentElement();
  auto value = [&](const char16_t* name) { return TqzIXMLDocumentTools::GetNodeValue(r.ChildElement(name)); };
  EXPECT_EQ(value(u"v"), Variant::FromOleStr(u"x"));
  EXPECT_TRUE(value(u"e").IsNull());
  EXPECT_TRUE(value(u"n").IsNull());
  EXPECT_EQ(value(u"l"), Variant::FromOleStr(u"a\r\nb"));
  EXPECT_EQ(value(u"w"), Variant::FromOleStr(u"a\r\nb"));  // the reader made it LF; CR LF comes back
  EXPECT_EQ(value(u"d"), Variant::FromOleStr(u"c\r\nd"));
  EXPECT_TRUE(value(u"c").IsNull());  // a comment first
  // A text node itself has its own value.
  EXPECT_EQ(TqzIXMLDocumentTools::GetNodeValue(r.ChildElement(u"v").FirstChild()), Variant::FromOleStr(u"x"));
}

TEST(XMLToolsTests, PrepareStringVectors) {
  struct Case {
    std::u16string data;
    bool notation;
    bool encode;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"a\u0001b", false, false, u"a b"},
      {u"a\u0001b", false, true, u"a&#x0001;b"},
      {u"a\u0001b", true, true, u"a&amp;#x0001;b"},
      {u"abc\u0002\u001F", false, false, u"abc  "},
      {u"abc\u0002\u001F", false, true, u"abc&#x0002;&#x001F;"},
      {u"a<b&c", true, false, u"a&lt;b&amp;c"},
      {u"\"'<>&", true, false, u"&quot;&apos;&lt;&gt;&amp;"},
      {u"\t\n\r", true, true, u"\t\n\r"},
      {u"", true, true, u""},
      {u"\uFFFE\uFFFF\uFFFD\uE000\uD7FF", false, true, u"&#xFFFE;&#xFFFF;\uFFFD\uE000\uD7FF"},
      // Code points above U+FFFF stay; a lone half of a pair is replaced.
      {u"x\U0001F600y\U0010FFFF", true, true, u"x\U0001F600y\U0010FFFF"},
      {std::u16string{u'a', char16_t(0xD83D)}, false, true, u"a&#xD83D;"},
      {std::u16string{char16_t(0xDE00), char16_t(0xD83D), u'b'}, false, false, u"  b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(N(c.expected));
    EXPECT_EQ(TqzXMLTools::PrepareString(c.data, c.notation, c.encode), c.expected);
  }
}
