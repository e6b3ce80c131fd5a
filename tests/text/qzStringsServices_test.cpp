// String services: identifiers, the compressed text form (checked both ways against Python's
// zlib through tests/peers/services_oracle.py), placeholders under a fixed clock and fixed format
// settings, script-literal escaping, quoted-printable decoding (checked against Python's quopri)
// and HTML to visible text against a small corpus.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "FormatSettings.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "qzStrings.h"
#include "qzTools.h"

namespace {

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string U8(std::u16string_view s) { return platform::WideToUtf8(s); }

// A zlib stream of arbitrary content, made by zlib's own one-call compressor.
std::string ZlibOf(const std::string& content) {
  uLongf len = compressBound(content.size());
  std::string out(len, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &len, reinterpret_cast<const Bytef*>(content.data()),
                      content.size(), 9),
            Z_OK);
  out.resize(len);
  return out;
}

std::string Count(int32_t n) {
  const uint32_t u = static_cast<uint32_t>(n);
  return std::string{static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
                     static_cast<char>(u >> 24)};
}

// --- Identifiers -----------------------------------------------------------------------------

TEST(StringsServicesIdentifiers, GuidTextAndIdentifierForms) {
  const std::regex guid("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
  const std::regex id("[0-9A-F]{32}");
  const AnsiString g1 = TqzStrings::CreateGuidStr(), g2 = TqzStrings::CreateGuidStr();
  EXPECT_TRUE(std::regex_match(g1, guid)) << g1;
  EXPECT_NE(g1, g2);
  const TIdType i1 = TqzStrings::CreateId(), i2 = TqzStrings::CreateId();
  EXPECT_TRUE(std::regex_match(i1.str(), id)) << i1.str();
  EXPECT_NE(i1, i2);
}

// --- Compressed text form --------------------------------------------------------------------

std::vector<std::string> CompressSamples() {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  std::string big;
  for (int i = 0; i < 50000; ++i) big += "line " + std::to_string(i % 977) + "\r\n";
  std::string noise;
  uint32_t x = 12345;
  for (int i = 0; i < 100000; ++i) {
    x = x * 1103515245u + 12345u;
    noise.push_back(static_cast<char>(x >> 24));
  }
  return {"", "a", all, "Gr\xfc\xdf" "e \x80uro", big, noise};
}

TEST(StringsServicesCompressed, PythonZlibReadsOurStreams) {
  const auto samples = CompressSamples();
  const std::string path = testing::TempDir() + "qz_services_streams.hex";
  {
    std::ofstream f(path);
    for (const auto& s : samples) f << Hex(TqzStrings::CompressString(s)) << "\n";
  }
  const auto rows = qztest::RunOracle("services_oracle.py", {"inflate", path});
  std::remove(path.c_str());
  ASSERT_EQ(rows.size(), samples.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE("sample " + std::to_string(i));
    ASSERT_FALSE(rows[i].contains("error")) << rows[i].dump();
    EXPECT_EQ(rows[i]["header"], "78da");
    EXPECT_EQ(rows[i]["count"].get<int64_t>(), static_cast<int64_t>(samples[i].size()));
    EXPECT_EQ(rows[i]["data"].get<std::string>(), Hex(samples[i]));
  }
}

TEST(StringsServicesCompressed, WeReadPythonsStreams) {
  const auto rows = qztest::RunOracle("services_oracle.py", {"compress", "7"});
  ASSERT_GE(rows.size(), 50u);
  for (const auto& row : rows) {
    SCOPED_TRACE(row["how"].get<std::string>());
    const std::string stream = Unhex(row["stream"]);
    EXPECT_EQ(Hex(TqzStrings::DecompressString(stream)), row["data"].get<std::string>());
  }
}

TEST(StringsServicesCompressed, RoundTripAndTrailingContentIgnored) {
  for (const auto& s : CompressSamples()) EXPECT_EQ(TqzStrings::DecompressString(TqzStrings::CompressString(s)), s);
  // Bytes after the declared count are not part of the text.
  EXPECT_EQ(TqzStrings::DecompressString(ZlibOf(Count(3) + "abcdef")), "abc");
}

TEST(StringsServicesCompressed, RefusesBrokenAndHostileValues) {
  const std::string good = TqzStrings::CompressString("hello world, hello world");
  std::string badCheck = good;
  badCheck.back() = static_cast<char>(badCheck.back() ^ 0x55);
  std::string badBlock = good;
  badBlock[5] = static_cast<char>(badBlock[5] ^ 0xFF);
  const std::string zeros(2 << 20, '\0');
  struct Case {
    const char* name;
    std::string input;
    size_t maxSize;
  };
  const std::vector<Case> cases = {
      {"empty input", "", TqzStrings::DefaultMaxDecompressedSize},
      {"not zlib at all", "plain text, not a stream", TqzStrings::DefaultMaxDecompressedSize},
      {"raw deflate without header", good.substr(2), TqzStrings::DefaultMaxDecompressedSize},
      {"checksum damaged", badCheck, TqzStrings::DefaultMaxDecompressedSize},
      {"block damaged", badBlock, TqzStrings::DefaultMaxDecompressedSize},
      {"trailer cut off", good.substr(0, good.size() - 4), TqzStrings::DefaultMaxDecompressedSize},
      {"stream cut in half", good.substr(0, good.size() / 2), TqzStrings::DefaultMaxDecompressedSize},
      {"content shorter than its count", ZlibOf("\x02\x00"), TqzStrings::DefaultMaxDecompressedSize},
      {"fewer bytes than counted", ZlibOf(Count(10) + "abc"), TqzStrings::DefaultMaxDecompressedSize},
      {"negative count", ZlibOf(Count(-1) + "abc"), TqzStrings::DefaultMaxDecompressedSize},
      {"count above the default cap", ZlibOf(Count(0x7FFFFFFF) + "abc"), TqzStrings::DefaultMaxDecompressedSize},
      {"count above a given cap", ZlibOf(Count(1000) + std::string(1000, 'x')), 999},
      // A huge count with a tiny stream and no cap at all: fails on the missing bytes without
      // first allocating what the count asks for.
      {"huge count, tiny stream, no cap", ZlibOf(Count(0x7FFFFFFF) + "abc"), SIZE_MAX},
      {"trailing content beyond the cap", ZlibOf(Count(1) + zeros), size_t(1) << 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(TqzStrings::DecompressString(c.input, c.maxSize), EZlibError);
  }
  // The cap itself is allowed.
  EXPECT_EQ(TqzStrings::DecompressString(ZlibOf(Count(1000) + std::string(1000, 'x')), 1000), std::string(1000, 'x'));
}

// --- Placeholders ----------------------------------------------------------------------------

class PlaceHolders : public testing::Test {
 protected:
  void SetUp() override {
    savedSettings_ = platform::GetFormatSettings();
    platform::SetFormatSettings(platform::InvariantFormatSettings());
    // Tuesday, 5 March 2024, 14:07:09.045 local time.
    const auto t = platform::FromLocalDateTime(platform::EncodeDate(2024, 3, 5) + platform::EncodeTime(14, 7, 9, 45));
    platform::SetClock([t] { return t; });
  }
  void TearDown() override {
    platform::ResetClock();
    platform::SetFormatSettings(savedSettings_);
  }

 private:
  platform::TFormatSettings savedSettings_;
};

TEST_F(PlaceHolders, TableUnderFixedClockAndInvariantSettings) {
  struct Row {
    const char16_t* text;
    const char16_t* expected;
  };
  const Row rows[] = {
      {u"log_%dayname.txt", u"log_Tuesday.txt"},
      {u"%timestamp", u"20240305140709045"},
      {u"%TIMESTAMP|%time", u"20240305140709045|14:07:09"},
      {u"%date|%DATE|%shortdate", u"03/05/2024|03/05/2024|03/05/2024"},
      {u"%Date", u"5ate"},  // mixed case: only "%D" (the day) is recognised
      {u"%Year", u"%Year"},
      {u"%longdate", u"Tuesday, March 5, 2024"},
      {u"%shorttime|%longtime", u"14:07|14:07:09"},
      {u"%day %month %year %hour:%minute", u"Tuesday March 2024 14:07"},
      {u"%dddddd|%ddddd|%dddd|%ddd|%dd|%d", u"Tuesday, March 5, 2024|03/05/2024|Tuesday|Tue|05|5"},
      {u"%mmmm|%mmm|%mm|%m", u"March|Mar|03|3"},
      {u"%yyyy-%yy %hh.%nn.%ss.%zzz", u"2024-24 14.07.09.045"},
      {u"Q%quarter", u"Q1"},
      {u"%user|%username|%USER", u"alice|alice|alice"},
      {u"%host|%computer|%computername|%HOST", u"srv01|srv01|srv01|srv01"},
      {u"no placeholders, 100% sure", u"no placeholders, 100% sure"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(U8(TqzStrings::CheckDefaultPlaceHolders(row.text, u"alice", u"srv01")), U8(row.expected))
        << U8(row.text);
  }
}

TEST_F(PlaceHolders, InsertedValuesAreSeenByLaterPlaceholdersButNeverRescanned) {
  // A user name holding a later placeholder is expanded again; one holding its own placeholder
  // is inserted once and left alone.
  EXPECT_EQ(U8(TqzStrings::CheckDefaultPlaceHolders(u"%user", u"%host", u"srv01")), "srv01");
  EXPECT_EQ(U8(TqzStrings::CheckDefaultPlaceHolders(u"%user", u"%user", u"srv01")), "%user");
}

TEST_F(PlaceHolders, LocaleSettingsAndSystemNames) {
  platform::SetFormatSettings(platform::FormatSettingsForLocale("de_DE"));
  EXPECT_EQ(U8(TqzStrings::CheckDefaultPlaceHolders(u"%dayname %month", u"a", u"b")), "Dienstag März");
  EXPECT_EQ(U8(TqzStrings::CheckDefaultPlaceHolders(u"%date", u"a", u"b")), "05.03.2024");

  // Empty names come from the system; the principal and the DNS name always do.
  EXPECT_EQ(TqzStrings::CheckDefaultPlaceHolders(u"%user|%username", u"", u""),
            TqzTools::GetUserName() + u"|" + TqzTools::GetUserName());
  EXPECT_EQ(TqzStrings::CheckDefaultPlaceHolders(u"%computer", u"", u""), TqzTools::GetComputerName());
  EXPECT_EQ(TqzStrings::CheckDefaultPlaceHolders(u"%hostdnsfullqualified|%userprincipal", u"alice", u"srv01"),
            TqzTools::GetComputerNameEx(3) + u"|" + TqzTools::GetUserNameEx(8));

  const std::string ids = U8(TqzStrings::CheckDefaultPlaceHolders(u"%id %guid", u"a", u"b"));
  EXPECT_TRUE(std::regex_match(ids, std::regex("[0-9A-F]{32} \\{[0-9A-F-]{36}\\}"))) << ids;
}

// --- Script literals -------------------------------------------------------------------------

TEST(StringsServicesScript, EscapesTheTableAndNothingElse) {
  struct Row {
    std::u16string in;
    std::u16string out;
  };
  const Row rows[] = {
      {u"plain text 123 {}[]'", u"plain text 123 {}[]'"},
      {u"say \"hi\"", u"say \\\"hi\\\""},
      {u"a/b\\c", u"a\\/b\\\\c"},
      {u"\b\t\n\f\r", u"\\b\\t\\n\\f\\r"},
      {std::u16string(u"\0\x01\x0B\x1F", 4), u"\\u0000\\u0001\\u000B\\u001F"},
      {u"\x7F", u"\x7F"},
      {u"caf\u00E9 \u20AC", u"caf\\u00E9 \\u20AC"},
      {u"\U0001F600", u"\\uD83D\\uDE00"},
      {u"", u""},
  };
  for (const auto& row : rows) EXPECT_EQ(U8(TqzStrings::StringToJScriptString(row.in)), U8(row.out)) << U8(row.in);
}

// --- Quoted-printable ------------------------------------------------------------------------

TEST(StringsServicesQuotedPrintable, DecodesWhatPythonsQuopriEncodes) {
  const auto rows = qztest::RunOracle("services_oracle.py", {"quopri", "3"});
  ASSERT_GE(rows.size(), 80u);
  int simple = 0;
  for (const auto& row : rows) {
    const std::string qp = Unhex(row["qp"]);
    const std::string raw = row["raw"];
    EXPECT_EQ(Hex(TqzStrings::ReplaceQuotedPrintable(qp)), raw) << qp;
    if (row["simple"].get<bool>()) {
      ++simple;
      EXPECT_EQ(Hex(TqzStrings::ReplaceQuotedPrintableSimple(qp)), raw) << qp;
    }
  }
  EXPECT_GE(simple, 20);
}

TEST(StringsServicesQuotedPrintable, EdgeCases) {
  struct Row {
    std::string in;
    std::string full;    // ReplaceQuotedPrintable
    std::string simple;  // ReplaceQuotedPrintableSimple
  };
  const Row rows[] = {
      {"a=3Db=\r\nc", "a=bc", "a=bc"},
      {"x=ZZy", "xy", "x=ZZy"},
      {"end=", "end", "end="},
      {"ab=4", "ab\x04", "ab=4"},
      {"x=4Zy", "xy", "x=4Zy"},
      {"=e4=C3=a9", "\xe4\xc3\xa9", "\xe4\xc3\xa9"},
      {"a=\nb=\rc", "abc", "a=\nb=\rc"},
      // A removal that brings a new soft line break together removes that one as well.
      {"x==\r\n\r\ny", "xy", "xy"},
      {"a=20b=2cc=2E", "a b,c.", "abc."},
      {"=E4", "\xe4", "\xe4"},
      {"=FD=dd=Ed", "\xfd\xdd\xed", "=FD=dd=Ed"},
      {"a=3D=\r\nb", "a=b", "a=b"},
      {"=3D80", "=80", "\x80"},
      {"=41=7e=7F", "A~\x7f", "=41~\x7f"},
      {"", "", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Hex(TqzStrings::ReplaceQuotedPrintable(row.in)), Hex(row.full)) << row.in;
    EXPECT_EQ(Hex(TqzStrings::ReplaceQuotedPrintableSimple(row.in)), Hex(row.simple)) << row.in;
  }
}

TEST(StringsServicesQuotedPrintable, DeeplyNestedSoftBreaksCollapseCompletely) {
  // Each removal brings the next soft line break together, 20000 deep.
  const size_t n = 20000;
  const std::string text = "<" + std::string(n, '=') + [&] {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += "\r\n";
    return s;
  }() + ">";
  EXPECT_EQ(TqzStrings::ReplaceQuotedPrintable(text), "<>");
  EXPECT_EQ(TqzStrings::ReplaceQuotedPrintableSimple(text), "<>");
}

// --- HTML to text ----------------------------------------------------------------------------

TEST(StringsServicesHtml, Corpus) {
  struct Row {
    const char* name;
    std::u16string html;
    std::u16string text;
  };
  const Row rows[] = {
      {"inline markup", u"<p>Hello <b>World</b>!</p>", u"Hello World!"},
      {"head, script and style are not shown",
       u"<html><head><title>T</title><style>p{color:red}</style><script>var x=1;</script></head>"
       u"<body><p>A</p><script>document.write('no')</script><p>B</p></body></html>",
       u"A\r\n\r\nB"},
      {"line breaks", u"a<br>b<br><br>c<br>", u"a\r\nb\r\n\r\nc"},
      {"blocks", u"<div>one</div><div>two<div>three</div></div>four", u"one\r\ntwo\r\nthree\r\nfour"},
      {"headings and paragraphs", u"<h1>Title</h1>text<p>para</p>", u"Title\r\n\r\ntext\r\n\r\npara"},
      {"list items", u"<ul><li>one</li><li>two <i>2</i></li></ul><ol><li>three</ol>", u"one\r\ntwo 2\r\nthree"},
      {"table", u"<table><tr><th>Name</th><th>Qty</th></tr><tr><td>Apple</td><td> 3 </td></tr></table>",
       u"Name\tQty\r\nApple\t3"},
      {"empty cell keeps its column", u"<table><tr><td>a</td><td></td><td>c</td></tr></table>", u"a\t\tc"},
      {"white space collapses", u"  <div>  lots   of\n\t space  </div> ", u"lots of space"},
      {"blanks between inline elements", u"<span>a</span><span>b</span> <span>c</span>\n<em>d</em>", u"ab c d"},
      {"entities", u"Fish &amp; Chips &lt;3 &eacute;t&eacute; &#x20AC;5&nbsp;x &#128512;",
       u"Fish & Chips <3 \u00E9t\u00E9 \u20AC5\u00A0x \U0001F600"},
      {"preformatted", u"<p>before</p><pre>line1\n  indented\n</pre>after", u"before\r\n\r\nline1\r\n  indented\r\nafter"},
      {"hidden elements",
       u"<div hidden>secret</div><span style='color:red; DISPLAY : None'>x</span>shown"
       u"<noscript>ns</noscript><template>t</template><select><option>o</option></select>",
       u"shown"},
      {"display:none only as a whole declaration", u"<span style='xdisplay:none'>seen</span>", u"seen"},
      {"comments", u"a<!-- c -->b", u"ab"},
      {"broken markup", u"<p>unclosed <b>bold <i>both</p>next", u"unclosed bold both\r\n\r\nnext"},
      {"fragment without html or body", u"just text", u"just text"},
      {"full document",
       u"<!DOCTYPE html>\n<html lang='de'>\n<head><meta charset='utf-8'><title>T</title>\n"
       u"<link rel='stylesheet' href='x.css'></head>\n<body class='x'>\n<p>Text</p>\nmore\n</body>\n</html>\n",
       u"Text\r\n\r\nmore"},
      {"text before the first block", u"intro<div>block</div>", u"intro\r\nblock"},
      {"content after the end of the document", u"<html><body><p>in</p></body></html>after <b>bold</b>",
       u"in\r\n\r\nafter bold"},
      {"line break after a preformatted start tag",
       u"<pre>\nline1\n\n</pre><textarea>\r\n t</textarea><listing>\n\nl</listing>",
       u"line1\r\n\r\n t\r\n\r\nl"},
      {"charset named inside is ignored", u"<meta charset='iso-8859-1'><p>Gr\u00FC\u00DFe \u20AC</p>",
       u"Gr\u00FC\u00DFe \u20AC"},
      {"empty text", u"", u""},
      {"no body content", u"<html><head><title>x</title></head></html>", u""},
      {"horizontal rule", u"above<hr>below", u"above\r\nbelow"},
      {"NUL in the text is dropped", std::u16string(u"a\0b\0", 4), u"ab"},
      {"leading byte-order mark", u"\uFEFF<p>first</p><p>second</p>", u"first\r\n\r\nsecond"},
      {"byte-order mark before a document", u"\uFEFF<!DOCTYPE html><html><body><div>x</div></body></html>", u"x"},
      {"byte-order mark before text", u"\uFEFFplain", u"plain"},
  };
  for (const auto& row : rows) EXPECT_EQ(U8(TqzStrings::HtmlToText(row.html)), U8(row.text)) << row.name;
}

TEST(StringsServicesHtml, DeepNestingAndLargeDocuments) {
  std::u16string deep;
  for (int i = 0; i < 50000; ++i) deep += u"<div><span>";
  deep += u"core";
  EXPECT_NE(U8(TqzStrings::HtmlToText(deep)).find("core"), std::string::npos);

  std::u16string big = u"<table>";
  for (int i = 0; i < 20000; ++i) big += u"<tr><td>r" + platform::IntToStr(i) + u"</td><td>v</td></tr>";
  big += u"</table>";
  const UnicodeString text = TqzStrings::HtmlToText(big);
  EXPECT_EQ(text.substr(0, 12), u"r0\tv\r\nr1\tv\r\n");
  EXPECT_EQ(text.substr(text.size() - 8), u"r19999\tv");
}

}  // namespace
