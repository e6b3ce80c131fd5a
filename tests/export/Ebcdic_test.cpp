// The EBCDIC converter against python3's cp273 (German EBCDIC) codec. Wherever cp273 gives a
// printable ASCII character or a German national character, the converter agrees with it except
// at three EBCDIC bytes, 0x59, 0xB5 and 0xBB, where it keeps its own entries.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "CodePage.h"
#include "Ebcdic.h"
#include "TestSupport.h"

namespace {

std::string Cp273Table() {
  return qztest::RunPython(
      "import sys; sys.stdout.buffer.write(bytes(range(256)).decode(\"cp273\").encode(\"latin-1\", \"replace\"))");
}

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}

TEST(Ebcdic, EbcdicToAsciiIsCp273ExceptThreeBytes) {
  const std::string cp273 = Cp273Table();
  ASSERT_EQ(cp273.size(), 256u);
  const std::string ours = TEbcdic::EbcdicToAscii(AllBytes());
  std::set<int> differing;
  const std::string national = "\xc4\xd6\xdc\xe4\xf6\xfc\xdf\xa7";
  for (int e = 0; e < 256; ++e) {
    const auto c = static_cast<unsigned char>(cp273[e]);
    const bool comparable = (c >= 0x20 && c < 0x7f && c != '?') || national.find(static_cast<char>(c)) != std::string::npos;
    if (comparable && ours[e] != cp273[e]) differing.insert(e);
  }
  EXPECT_EQ(differing, (std::set<int>{0x59, 0xB5, 0xBB}));
}

TEST(Ebcdic, TableProperties) {
  const std::string a2e = TEbcdic::AsciiToEbcdic(AllBytes());
  EXPECT_EQ(std::set<char>(a2e.begin(), a2e.end()).size(), 256u);  // a permutation
  const std::string e2a = TEbcdic::EbcdicToAscii(AllBytes());
  std::set<unsigned char> reached(e2a.begin(), e2a.end());
  for (unsigned char missing : {0x40, 0x7C, 0x7E, 0xA1, 0xB2, 0xEF}) EXPECT_EQ(reached.count(missing), 0u);
  EXPECT_EQ(reached.size(), 250u);
  // Away from the national characters the two directions are inverse.
  const std::set<int> national = {0x43, 0x4A, 0x5A, 0x63, 0x6A, 0x7C, 0xA1, 0xC0, 0xD0, 0xDC, 0xE0, 0xEC, 0xFC};
  for (int a = 0; a < 256; ++a) {
    const auto e = static_cast<unsigned char>(a2e[a]);
    if (!national.count(e)) {
      EXPECT_EQ(static_cast<unsigned char>(e2a[e]), a);
    }
  }
}

struct Case {
  TEbcdicConvert direction;
  UnicodeString source;
  UnicodeString expected;
};

TEST(Ebcdic, ExecuteBothDirections) {
  const Case cases[] = {
      {cvEbcdicASCII, u"\u00c1\u00c2\u00c3", u"ABC"},
      {cvEbcdicASCII, u"\u004a\u00d0\u0040", u"\u00c4\u00fc "},
      {cvEbcdicASCII, u"\u00f0\u00f0\u00f4\u00f2\u0040\u0040", u"0042  "},
      {cvEbcdicASCII, u"", u""},
      {cvASCIIEbcdic, u"ABC ", u"\u00c1\u00c2\u00c3\u0040"},
      {cvASCIIEbcdic, u"\u20ac", u"\u006f"},  // no byte holds it: translated as "?"
  };
  for (const auto& c : cases) {
    TEbcdic conv;
    conv.SetConversation(c.direction);
    if (c.direction == cvEbcdicASCII) {
      conv.SetEBCDIC(c.source);
      EXPECT_TRUE(conv.Execute());
      EXPECT_EQ(conv.ASCII(), c.expected);
      EXPECT_EQ(conv.EBCDIC(), c.source);
    } else {
      conv.SetASCII(c.source);
      EXPECT_TRUE(conv.Execute());
      EXPECT_EQ(conv.EBCDIC(), c.expected);
    }
  }
}

TEST(Ebcdic, LongSourcesConvertWhole) {
  // No fixed work area: a source far above 6000 bytes converts completely.
  TEbcdic conv;
  conv.SetConversation(cvEbcdicASCII);
  conv.SetEBCDIC(UnicodeString(100000, u'\u00c1'));
  conv.Execute();
  EXPECT_EQ(conv.ASCII(), UnicodeString(100000, u'A'));
}

}  // namespace
