// The 8-bit string list: the behaviour its users rely on, bytes kept exactly, and its own
// operations (toTStrings, streams, the abstract base).
#include "qzAnsiStringList.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace {

const bool kLocaleSet = [] {
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(icu::Locale("de_DE"), status);
  return U_SUCCESS(status);
}();

std::vector<AnsiString> Items(const TAnsiStrings& list) {
  std::vector<AnsiString> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
  return out;
}

std::string Utf8(const UnicodeString& s) { return platform::WideToUtf8(s); }

// How the archive and com-string clients use it: default list, Add while cutting an answer,
// read with Count/Strings, Delete, free.
TEST(AnsiStringList, DefaultListAsTheProtocolClientsUseIt) {
  TAnsiStringList list;
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_FALSE(list.Sorted());
  EXPECT_EQ(list.Duplicates(), dupIgnore);
  EXPECT_FALSE(list.CaseSensitive());
  EXPECT_FALSE(list.OwnsObjects());
  EXPECT_EQ(list.Delimiter(), ',');
  EXPECT_EQ(list.QuoteChar(), '"');
  EXPECT_EQ(list.NameValueSeparator(), '=');
  for (const char* token : {"<RESULT>", "OK", "</RESULT>", "OK"}) list.Add(token);  // duplicates kept
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Strings(1), "OK");
  list.Delete(0);
  list.Delete(list.Count() - 1);
  EXPECT_EQ(Items(list), (std::vector<AnsiString>{"OK", "</RESULT>"}));
  for (int i = 0; i < 13; ++i) list.Add("x");
  list.Clear();
  TAnsiStringList fresh;
  for (int i = 0; i < 13; ++i) fresh.Add("x");
  EXPECT_EQ(fresh.Capacity(), 28);
}

TEST(AnsiStringList, ErrorTextsNameTheOffendingIndex) {
  TAnsiStringList list;
  for (const char* s : {"a", "b", "c", "d", "e"}) list.Add(s);
  try {
    list.Delete(5);
    FAIL() << "no error";
  } catch (const EStringListError& e) {
    EXPECT_EQ(Utf8(e.Message), "Listenindex \xC3\xBC" "berschreitet das Maximum (5)");
  }
  list.SetSorted(true);
  try {
    list.Insert(0, "z");
    FAIL() << "no error";
  } catch (const EStringListError& e) {
    EXPECT_EQ(Utf8(e.Message), "Operation f\xC3\xBCr sortierte Listen nicht zul\xC3\xA4ssig");
  }
  EXPECT_EQ(list.Count(), 5);
}

// Every byte value except the line breaks survives the line text, the comma text and a file
// unchanged: nothing goes through a code page.
TEST(AnsiStringList, BytesStayExactlyAsTheyAre) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    if (b != '\r' && b != '\n') all += static_cast<char>(b);
  TAnsiStringList list;
  list.Add(all);
  list.Add(std::string("\x80\x81\x8D\x8F\x90\x9D\xFF"));  // includes the bytes cp1252 leaves undefined
  list.Add("");

  TAnsiStringList byText;
  byText.SetText(list.Text());
  EXPECT_EQ(Items(byText), Items(list));

  TAnsiStringList byComma;
  byComma.SetCommaText(list.CommaText());
  EXPECT_EQ(Items(byComma), Items(list));

  const auto dir = std::filesystem::temp_directory_path() / ("qz_ansilist_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "bytes.txt").string();
  list.SaveToFile(file);
  std::ifstream in(file, std::ios::binary);
  const std::string onDisk((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(onDisk, all + "\r\n\x80\x81\x8D\x8F\x90\x9D\xFF\r\n\r\n");  // no byte-order mark
  TAnsiStringList loaded;
  loaded.LoadFromFile(file);
  EXPECT_EQ(Items(loaded), Items(list));
  std::filesystem::remove_all(dir);
}

TEST(AnsiStringList, StreamsReadFromTheCurrentPositionAndWriteAtIt) {
  std::istringstream in("HEADERa\r\nb\nc");
  in.seekg(6);
  TAnsiStringList list;
  list.Add("old");
  int changes = 0;
  list.OnChange = [&](TObject*) { ++changes; };
  list.LoadFromStream(in);
  EXPECT_EQ(Items(list), (std::vector<AnsiString>{"a", "b", "c"}));
  EXPECT_EQ(changes, 1);  // one update bracket
  std::ostringstream out;
  out << "pre:";
  list.SaveToStream(out);
  EXPECT_EQ(out.str(), "pre:a\r\nb\r\nc\r\n");
}

TEST(AnsiStringList, CommaTextUsesCommaWhateverTheDelimiter) {
  TAnsiStringList list;
  list.SetDelimiter(';');
  list.Add("a");
  list.Add("b;c");
  list.Add("d e");
  EXPECT_EQ(list.CommaText(), "a,b;c,\"d e\"");
  EXPECT_EQ(list.Delimiter(), ';');  // reading leaves the delimiter in place
  EXPECT_EQ(list.DelimitedText(), "a;\"b;c\";\"d e\"");
  list.SetCommaText("x,y");
  EXPECT_EQ(list.Delimiter(), ',');  // writing leaves it at ","
  EXPECT_EQ(Items(list), (std::vector<AnsiString>{"x", "y"}));
}

TEST(AnsiStringList, NamesAndValuesOfByteTexts) {
  TAnsiStringList list;
  list.Add("key=1");
  list.Add("abc");
  list.Add("\xC4nderung=ja");  // "Änderung"
  EXPECT_EQ(list.Values("KEY"), "1");
  EXPECT_EQ(list.Values("\xE4nderung"), "ja");  // case ignored beyond ASCII too
  EXPECT_EQ(list.Values("none"), "");
  // An item without a separator has no value (not its text minus the first character).
  EXPECT_EQ(list.ValueFromIndex(1), "");
  list.SetValue("key", "");
  EXPECT_EQ(Items(list), (std::vector<AnsiString>{"abc", "\xC4nderung=ja"}));
}

TEST(AnsiStringList, ComparisonsFollowTheLocaleOverWindows1252) {
  TAnsiStringList list;
  for (const char* s : {"b", "\xE4", "a", "B", "\xC4" "b", "z"}) list.Add(s);  // ä, Äb
  EXPECT_EQ(list.IndexOf("\xC4"), 1);  // Ä finds ä when case is ignored
  list.SetSorted(true);
  // German collation puts ä beside a, not after z as the byte values would.
  EXPECT_EQ(Items(list), (std::vector<AnsiString>{"a", "\xE4", "\xC4" "b", "b", "B", "z"}));
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("\xC4"), -1);
  EXPECT_EQ(list.IndexOf("B"), list.Count() - 2);
}

TEST(AnsiStringList, ToTStringsWidensThroughWindows1252) {
  TAnsiStringList list;
  TObject marker;
  list.AddObject("\x80 \xE4", &marker);
  list.Add("\x81");
  TStringList wide;
  wide.Add(u"first");
  EXPECT_EQ(list.toTStrings(wide), 3);
  EXPECT_EQ(wide[1], u"\u20ac \u00e4");
  EXPECT_EQ(wide[2], u"\u0081");
  EXPECT_EQ(wide.Objects(1), nullptr);  // objects are not copied
}

// The abstract base builds every operation on the few that a subclass provides.
class VectorStrings : public TAnsiStrings {
 public:
  int Count() const override { return static_cast<int>(items_.size()); }
  AnsiString Get(int i) const override { return items_.at(static_cast<size_t>(i)); }
  void Clear() override { items_.clear(); }
  void Delete(int i) override { items_.erase(items_.begin() + i); }
  void Insert(int i, const AnsiString& s) override {
    if (i < 0 || i > Count()) platform::RaiseListError(platform::SListIndexError, i);
    items_.insert(items_.begin() + i, s);
  }

 private:
  std::vector<AnsiString> items_;
};

TEST(AnsiStrings, BaseOperationsWorkThroughTheAbstractOnes) {
  VectorStrings list;
  list.SetCommaText("b,A,c");
  EXPECT_EQ(list.IndexOf("a"), 1);  // the base always ignores case
  EXPECT_EQ(list.Capacity(), 3);    // the base's capacity is its count
  list.Put(0, "B=1");
  list.Exchange(0, 2);
  EXPECT_EQ(Items(list), (std::vector<AnsiString>{"c", "A", "B=1"}));
  list.Move(0, 2);
  EXPECT_EQ(Items(list), (std::vector<AnsiString>{"A", "B=1", "c"}));
  // A move the subclass refuses puts the item back where it was.
  EXPECT_THROW(list.Move(0, 7), EStringListError);
  EXPECT_EQ(Items(list), (std::vector<AnsiString>{"A", "B=1", "c"}));
  EXPECT_EQ(list.Values("b"), "1");
  EXPECT_EQ(list.Objects(0), nullptr);
  EXPECT_EQ(list.Text(), "A\r\nB=1\r\nc\r\n");
}

}  // namespace
