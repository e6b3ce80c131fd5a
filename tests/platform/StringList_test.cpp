// The platform string list over both text types: text forms, name/value access, sorting with
// duplicates, moves, ownership of objects, events, the hashed lookup and files.
#include "StringList.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <unistd.h>

namespace {

// Collation depends on the locale: pin it before the first comparison of this process.
const bool kLocaleSet = [] {
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(icu::Locale("de_DE"), status);
  return U_SUCCESS(status);
}();

template <class S>
S T(std::string_view ascii) {
  if constexpr (std::is_same_v<S, UnicodeString>)
    return platform::ToU16(ascii);
  else
    return AnsiString(ascii);
}

template <class S>
std::vector<S> Items(const TStringsT<S>& list) {
  std::vector<S> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
  return out;
}

template <class S>
std::vector<S> Vec(std::initializer_list<const char*> items) {
  std::vector<S> out;
  for (const char* s : items) out.push_back(T<S>(s));
  return out;
}

template <class S>
void Fill(TStringsT<S>& list, std::initializer_list<const char*> items) {
  for (const char* s : items) list.Add(T<S>(s));
}

std::string Utf8(const UnicodeString& s) { return platform::WideToUtf8(s); }

// Counts live instances so tests can see what an owning list freed.
struct Counted : TObject {
  static inline int live = 0;
  int id;
  explicit Counted(int i = 0) : id(i) { ++live; }
  ~Counted() override { --live; }
};

template <class S>
class StringListTyped : public ::testing::Test {};
using TextTypes = ::testing::Types<UnicodeString, AnsiString>;
TYPED_TEST_SUITE(StringListTyped, TextTypes);

// ---------------------------------------------------------------------------------------------
// Text forms

TYPED_TEST(StringListTyped, TextWriteSplitsAtEveryKindOfLineBreak) {
  using S = TypeParam;
  struct Case {
    std::string text;
    std::vector<std::string> items;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"a\r\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\rc", {"a", "b", "c"}},
      {"a\n\rb", {"a", "", "b"}},  // LF then CR: two breaks
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"\r\n", {""}},
      {"a\r\r\n", {"a", ""}},
      {std::string("x\0y\nz", 5), {std::string("x\0y", 3), "z"}},  // a zero character is data
  };
  for (const Case& c : cases) {
    TStringListT<S> list;
    list.Add(T<S>("old"));
    list.SetText(S(c.text.begin(), c.text.end()));
    std::vector<S> expected;
    for (const auto& s : c.items) expected.push_back(S(s.begin(), s.end()));
    EXPECT_EQ(Items(list), expected) << "text: " << c.text;
  }
}

TYPED_TEST(StringListTyped, TextReadEndsEveryItemWithCrLf) {
  using S = TypeParam;
  TStringListT<S> list;
  EXPECT_EQ(list.Text(), S());
  Fill(list, {"a", "", "b"});
  EXPECT_EQ(list.Text(), T<S>("a\r\n\r\nb\r\n"));
  // The zero-terminated forms agree with the property.
  auto copy = list.GetText();
  EXPECT_EQ(S(copy.get()), list.Text());
  TStringListT<S> other;
  other.SetText(copy.get());
  EXPECT_EQ(Items(other), Items(list));
}

TYPED_TEST(StringListTyped, CommaTextReadsItemsAsThePlatformDoes) {
  using S = TypeParam;
  struct Case {
    const char* text;
    std::vector<std::string> items;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"a b,c", {"a", "b", "c"}},          // a blank ends an unquoted item
      {"a,", {"a", ""}},                   // a delimiter at the end adds an empty item
      {",a", {"", "a"}},
      {",", {"", ""}},
      {"\"\"", {""}},
      {"\"a \"\"q\"\" b\",c", {"a \"q\" b", "c"}},
      {"  a ,  b  ", {"a", "b"}},          // blanks around items are skipped
      {"a,,b", {"a", "", "b"}},
      {"\"a,b\"", {"a,b"}},
      {"\"unclosed \"\"x", {"unclosed \"x"}},  // an unclosed quoted item takes the rest
      {"\"a\"b,c", {"a", "b", "c"}},
      {"a\tb\x01" "c", {"a", "b", "c"}},   // control characters separate like blanks
  };
  for (const Case& c : cases) {
    TStringListT<S> list;
    list.SetCommaText(T<S>(c.text));
    std::vector<S> expected;
    for (const auto& s : c.items) expected.push_back(S(s.begin(), s.end()));
    EXPECT_EQ(Items(list), expected) << "text: " << c.text;
  }
}

TYPED_TEST(StringListTyped, DelimitedTextQuotesOnlyWhatNeedsIt) {
  using S = TypeParam;
  struct Case {
    std::vector<std::string> items;
    char delimiter, quote;
    bool strict;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{}, ',', '"', false, ""},
      {{""}, ',', '"', false, "\"\""},
      {{"", ""}, ',', '"', false, ","},
      {{"a", "b c", "d"}, ',', '"', false, "a,\"b c\",d"},
      {{"x\"y", "p,q"}, ',', '"', false, "\"x\"\"y\",\"p,q\""},
      {{"a;b", "c d"}, ';', '\'', false, "'a;b';'c d'"},
      {{"it's"}, ';', '\'', false, "'it''s'"},
      {{"b c", "x;y"}, ';', '"', true, "b c;\"x;y\""},  // strict: blanks need no quotes
      {{"tab\there"}, ',', '"', false, "\"tab\there\""},
  };
  for (const Case& c : cases) {
    TStringListT<S> list;
    list.SetDelimiter(typename S::value_type(c.delimiter));
    list.SetQuoteChar(typename S::value_type(c.quote));
    list.SetStrictDelimiter(c.strict);
    for (const auto& s : c.items) list.Add(S(s.begin(), s.end()));
    EXPECT_EQ(list.DelimitedText(), S(c.text.begin(), c.text.end())) << c.text;
  }
}

TYPED_TEST(StringListTyped, StrictDelimiterSeparatesOnlyAtTheDelimiter) {
  using S = TypeParam;
  TStringListT<S> list;
  list.SetDelimiter(typename S::value_type(';'));
  list.SetStrictDelimiter(true);
  list.SetDelimitedText(T<S>(" a b ;\"c;d\"; e"));
  EXPECT_EQ(Items(list), Vec<S>({" a b ", "c;d", " e"}));
  // CommaText is never strict and leaves the list's delimiter settings as they were.
  EXPECT_EQ(list.CommaText(), T<S>("\" a b \",c;d,\" e\""));
  EXPECT_EQ(list.Delimiter(), typename S::value_type(';'));
  EXPECT_TRUE(list.StrictDelimiter());
}

// Random items from characters that matter to the delimited forms survive a write and a read.
TYPED_TEST(StringListTyped, DelimitedFormsRoundTripRandomItems) {
  using S = TypeParam;
  using C = typename S::value_type;
  const std::vector<C> alphabet = {C('a'), C('Z'), C(' '), C('"'), C('\''), C(','), C(';'),
                                   C('\t'), C('\r'), C('\n'), C(0), C(1), C('='), C(0xE4)};
  std::mt19937 rng(12345);
  struct Setting {
    C delimiter, quote;
    bool strict, comma;
  };
  const std::vector<Setting> settings = {
      {C(','), C('"'), false, true}, {C(';'), C('\''), false, false}, {C(';'), C('"'), true, false},
      {C('|'), C('"'), false, false}};
  for (const Setting& st : settings) {
    for (int round = 0; round < 300; ++round) {
      TStringListT<S> list;
      list.SetDelimiter(st.delimiter);
      list.SetQuoteChar(st.quote);
      list.SetStrictDelimiter(st.strict);
      const int n = static_cast<int>(rng() % 5);
      for (int i = 0; i < n; ++i) {
        S item;
        const int len = static_cast<int>(rng() % 6);
        for (int k = 0; k < len; ++k) item += alphabet[rng() % alphabet.size()];
        list.Add(item);
      }
      // Without strictness a text cannot say whether the whole list is one empty item or
      // nothing; the platform writes "" for the one empty item, which reads back as one.
      TStringListT<S> back;
      back.SetDelimiter(st.delimiter);
      back.SetQuoteChar(st.quote);
      back.SetStrictDelimiter(st.strict);
      if (st.comma)
        back.SetCommaText(list.CommaText());
      else
        back.SetDelimitedText(list.DelimitedText());
      if (st.strict) {
        // Strict reading keeps blanks, so only the empty list is ambiguous (it reads as none).
        if (list.Count() == 0) {
          EXPECT_EQ(back.Count(), 0);
          continue;
        }
      }
      EXPECT_EQ(Items(back), Items(list)) << "round " << round;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Names and values

TYPED_TEST(StringListTyped, NamesValuesAndValueFromIndex) {
  using S = TypeParam;
  TStringListT<S> list;
  Fill(list, {"key=1", "abc", "=empty name", "x==y", "Key=2", "n="});
  struct Case {
    int index;
    const char* name;
    const char* valueFromIndex;
  };
  const std::vector<Case> cases = {
      {0, "key", "1"}, {1, "", ""}, {2, "", "empty name"}, {3, "x", "=y"}, {4, "Key", "2"}, {5, "n", ""}};
  for (const Case& c : cases) {
    EXPECT_EQ(list.Names(c.index), T<S>(c.name)) << c.index;
    EXPECT_EQ(list.ValueFromIndex(c.index), T<S>(c.valueFromIndex)) << c.index;
  }
  EXPECT_EQ(list.ValueFromIndex(-1), S());
  // The first item with the name wins; names ignore case by default.
  EXPECT_EQ(list.Values(T<S>("KEY")), T<S>("1"));
  EXPECT_EQ(list.IndexOfName(T<S>("KEY")), 0);
  EXPECT_EQ(list.Values(T<S>("x")), T<S>("=y"));
  EXPECT_EQ(list.Values(T<S>("abc")), S());  // an item without separator has no name
  EXPECT_EQ(list.IndexOfName(T<S>("abc")), -1);
  EXPECT_EQ(list.Values(T<S>("missing")), S());
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.Values(T<S>("Key")), T<S>("2"));
  EXPECT_EQ(list.IndexOfName(T<S>("KEY")), -1);
}

TYPED_TEST(StringListTyped, SettingValuesReplacesAppendsAndDeletes) {
  using S = TypeParam;
  TStringListT<S> list;
  Fill(list, {"a=1", "b=2"});
  list.SetValue(T<S>("A"), T<S>("9"));  // replaced in place, written with the given name
  list.SetValue(T<S>("c"), T<S>("3"));  // appended
  list.SetValue(T<S>("b"), S());        // deleted
  list.SetValue(T<S>("zz"), S());       // nothing to delete
  EXPECT_EQ(Items(list), Vec<S>({"A=9", "c=3"}));
  list.SetValueFromIndex(0, T<S>("x"));
  list.SetValueFromIndex(-1, T<S>("new"));
  EXPECT_EQ(Items(list), Vec<S>({"A=x", "c=3", "=new"}));
  list.SetValueFromIndex(1, S());
  EXPECT_EQ(Items(list), Vec<S>({"A=x", "=new"}));
  list.SetNameValueSeparator(typename S::value_type(':'));
  list.Add(T<S>("k:v=w"));
  EXPECT_EQ(list.Values(T<S>("k")), T<S>("v=w"));
}

TYPED_TEST(StringListTyped, SettingAValueOnASortedListChangesNothingAndRaises) {
  using S = TypeParam;
  TStringListT<S> list;
  list.SetSorted(true);
  Fill(list, {"b=2", "a=1"});
  EXPECT_THROW(list.SetValue(T<S>("c"), T<S>("3")), EStringListError);
  EXPECT_THROW(list.SetValue(T<S>("a"), T<S>("3")), EStringListError);
  EXPECT_THROW(list.SetValueFromIndex(-1, T<S>("3")), EStringListError);
  EXPECT_EQ(Items(list), Vec<S>({"a=1", "b=2"}));
  list.SetValue(T<S>("a"), S());  // deleting is allowed
  EXPECT_EQ(Items(list), Vec<S>({"b=2"}));
}

// ---------------------------------------------------------------------------------------------
// Sorting, duplicates and searching

TYPED_TEST(StringListTyped, SortedAddFollowsTheDuplicatesRule) {
  using S = TypeParam;
  struct Case {
    TDuplicates dup;
    std::vector<std::string> items;  // after adding b, a, c, then "B" with object
    int result;                      // index AddObject("B") returns; -1 = raises
    bool objectStored;
  };
  const std::vector<Case> cases = {
      {dupIgnore, {"a", "b", "c"}, 1, false},
      {dupAccept, {"a", "B", "b", "c"}, 1, true},  // goes before the equal ones
      {dupError, {"a", "b", "c"}, -1, false},
  };
  for (const Case& c : cases) {
    TStringListT<S> list;
    list.SetSorted(true);
    list.SetDuplicates(c.dup);
    Fill(list, {"b", "a", "c"});
    Counted obj;
    if (c.result < 0) {
      try {
        list.AddObject(T<S>("B"), &obj);
        ADD_FAILURE() << "no error";
      } catch (const EStringListError& e) {
        EXPECT_EQ(e.Message, u"In der Stringliste sind Duplikate nicht erlaubt");
      }
    } else {
      EXPECT_EQ(list.AddObject(T<S>("B"), &obj), c.result);
    }
    std::vector<S> expected;
    for (const auto& s : c.items) expected.push_back(S(s.begin(), s.end()));
    EXPECT_EQ(Items(list), expected);
    EXPECT_EQ(list.IndexOfObject(&obj) >= 0, c.objectStored);
  }
}

TYPED_TEST(StringListTyped, FindGivesPositionOrInsertionPoint) {
  using S = TypeParam;
  TStringListT<S> list;
  list.SetSorted(true);
  list.SetDuplicates(dupAccept);
  Fill(list, {"b", "d", "d", "D", "d", "f"});
  struct Case {
    const char* value;
    bool found;
    int index;
  };
  const std::vector<Case> cases = {{"a", false, 0}, {"b", true, 0}, {"c", false, 1}, {"D", true, 1},
                                   {"e", false, 5}, {"f", true, 5}, {"g", false, 6}};
  for (const Case& c : cases) {
    int index = -7;
    EXPECT_EQ(list.Find(T<S>(c.value), index), c.found) << c.value;
    EXPECT_EQ(index, c.index) << c.value;
  }
  EXPECT_EQ(list.IndexOf(T<S>("d")), 1);  // the first of the equal run
  EXPECT_EQ(list.IndexOf(T<S>("x")), -1);
}

TYPED_TEST(StringListTyped, SortedFlagSortsOnceAndCaseSensitivityResorts) {
  using S = TypeParam;
  TStringListT<S> list;
  Fill(list, {"b", "B", "a", "C", "c", "A"});
  int changes = 0;
  list.OnChange = [&](TObject*) { ++changes; };
  list.SetSorted(true);
  EXPECT_EQ(changes, 1);
  // Equal strings keep their order (the sort is stable).
  EXPECT_EQ(Items(list), Vec<S>({"a", "A", "b", "B", "C", "c"}));
  list.Sort();  // a sorted list is not sorted again
  EXPECT_EQ(changes, 1);
  list.SetCaseSensitive(true);
  EXPECT_EQ(changes, 2);
  for (int i = 1; i < list.Count(); ++i) EXPECT_LT(list.CompareItems(list[i - 1], list[i]), 0);
  int index = -1;
  EXPECT_TRUE(list.Find(T<S>("B"), index));
  EXPECT_EQ(list[index], T<S>("B"));
  list.SetSorted(false);
  list.Add(T<S>("0"));
  EXPECT_EQ(list[list.Count() - 1], T<S>("0"));
}

TYPED_TEST(StringListTyped, SortMatchesStableSortWithTheComparison) {
  using S = TypeParam;
  using C = typename S::value_type;
  const std::vector<C> alphabet = {C('a'), C('A'), C('b'), C('B'), C('1'), C(' '), C('-'),
                                   C(0xE4), C(0xC4), C(0xDF), C('s'), C('z')};
  std::mt19937 rng(777);
  for (bool caseSensitive : {false, true}) {
    for (int round = 0; round < 60; ++round) {
      TStringListT<S> list;
      list.SetCaseSensitive(caseSensitive);
      const int n = static_cast<int>(rng() % 40);
      std::vector<std::pair<S, int>> expected;
      for (int i = 0; i < n; ++i) {
        S item;
        const int len = static_cast<int>(rng() % 4);
        for (int k = 0; k < len; ++k) item += alphabet[rng() % alphabet.size()];
        list.AddObject(item, reinterpret_cast<TObject*>(static_cast<intptr_t>(i + 1)));
        expected.emplace_back(item, i + 1);
      }
      std::stable_sort(expected.begin(), expected.end(), [&](const auto& x, const auto& y) {
        return list.CompareItems(x.first, y.first) < 0;
      });
      list.Sort();
      ASSERT_EQ(list.Count(), n);
      for (int i = 0; i < n; ++i) {
        EXPECT_EQ(list[i], expected[static_cast<size_t>(i)].first);
        EXPECT_EQ(reinterpret_cast<intptr_t>(list.Objects(i)), expected[static_cast<size_t>(i)].second);
      }
    }
  }
}

TYPED_TEST(StringListTyped, CustomSortWithAnInconsistentComparisonKeepsEveryItem) {
  using S = TypeParam;
  std::mt19937 rng(4242);
  TStringListT<S> list(true);  // owning: a lost or doubled item would leak or double free
  for (int i = 0; i < 200; ++i) list.AddObject(T<S>(std::to_string(i)), new Counted(i));
  list.CustomSort([&](TStringListT<S>&, int, int) { return static_cast<int>(rng() % 3) - 1; });
  std::vector<int> ids;
  for (int i = 0; i < list.Count(); ++i) {
    const auto* obj = static_cast<const Counted*>(list.Objects(i));
    EXPECT_EQ(list[i], T<S>(std::to_string(obj->id)));  // strings and objects stay paired
    ids.push_back(obj->id);
  }
  std::sort(ids.begin(), ids.end());
  for (int i = 0; i < 200; ++i) EXPECT_EQ(ids[static_cast<size_t>(i)], i);
  // A comparison by index sees the list as it was before the sort.
  TStringListT<S> byLength;
  Fill(byLength, {"ccc", "a", "bb", "dddd", ""});
  byLength.CustomSort([](TStringListT<S>& l, int a, int b) {
    return static_cast<int>(l[a].size()) - static_cast<int>(l[b].size());
  });
  EXPECT_EQ(Items(byLength), Vec<S>({"", "a", "bb", "ccc", "dddd"}));
}

// ---------------------------------------------------------------------------------------------
// Moving, exchanging and errors

TYPED_TEST(StringListTyped, MoveAndExchangeCarryTheObjects) {
  using S = TypeParam;
  TStringListT<S> list;
  Counted o0, o1, o2, o3;
  list.AddObject(T<S>("0"), &o0);
  list.AddObject(T<S>("1"), &o1);
  list.AddObject(T<S>("2"), &o2);
  list.AddObject(T<S>("3"), &o3);
  list.Move(0, 2);
  EXPECT_EQ(Items(list), Vec<S>({"1", "2", "0", "3"}));
  EXPECT_EQ(list.Objects(2), &o0);
  list.Move(3, 0);
  EXPECT_EQ(Items(list), Vec<S>({"3", "1", "2", "0"}));
  EXPECT_EQ(list.Objects(0), &o3);
  list.Exchange(0, 3);
  EXPECT_EQ(Items(list), Vec<S>({"0", "1", "2", "3"}));
  EXPECT_EQ(list.Objects(0), &o0);
  EXPECT_EQ(list.Objects(3), &o3);
}

TYPED_TEST(StringListTyped, MoveOnASortedListLosesNothing) {
  using S = TypeParam;
  const int before = Counted::live;
  TStringListT<S> list(true);
  list.SetSorted(true);
  list.AddObject(T<S>("a"), new Counted);
  list.AddObject(T<S>("b"), new Counted);
  list.AddObject(T<S>("c"), new Counted);
  EXPECT_THROW(list.Move(0, 2), EStringListError);
  EXPECT_EQ(Items(list), Vec<S>({"a", "b", "c"}));
  EXPECT_EQ(Counted::live, before + 3);
  // Exchange is allowed and may break the order.
  list.Exchange(0, 2);
  EXPECT_EQ(Items(list), Vec<S>({"c", "b", "a"}));
  EXPECT_EQ(Counted::live, before + 3);
}

TYPED_TEST(StringListTyped, ErrorsCarryThePlatformTexts) {
  using S = TypeParam;
  TStringListT<S> list;
  Fill(list, {"a", "b", "c"});
  TStringListT<S> sorted;
  sorted.SetSorted(true);
  Fill(sorted, {"a"});
  const char16_t* kIndex = u"Listenindex \u00fcberschreitet das Maximum (";
  const UnicodeString kSorted = u"Operation f\u00fcr sortierte Listen nicht zul\u00e4ssig";
  struct Case {
    const char* what;
    std::function<void()> op;
    UnicodeString message;
  };
  const std::vector<Case> cases = {
      {"Get", [&] { list.Get(3); }, UnicodeString(kIndex) + u"3)"},
      {"Get negative", [&] { list.Get(-1); }, UnicodeString(kIndex) + u"-1)"},
      {"GetObject", [&] { list.GetObject(5); }, UnicodeString(kIndex) + u"5)"},
      {"Put", [&] { list.Put(3, S()); }, UnicodeString(kIndex) + u"3)"},
      {"PutObject", [&] { list.PutObject(-2, nullptr); }, UnicodeString(kIndex) + u"-2)"},
      {"Delete", [&] { list.Delete(3); }, UnicodeString(kIndex) + u"3)"},
      {"Exchange first", [&] { list.Exchange(7, 9); }, UnicodeString(kIndex) + u"7)"},
      {"Exchange second", [&] { list.Exchange(0, 9); }, UnicodeString(kIndex) + u"9)"},
      {"Insert", [&] { list.Insert(4, S()); }, UnicodeString(kIndex) + u"4)"},
      {"Move", [&] { list.Move(0, 3); }, UnicodeString(kIndex) + u"3)"},
      {"Capacity", [&] { list.SetCapacity(2); }, UnicodeString(kIndex) + u"2)"},
      {"sorted Insert", [&] { sorted.Insert(0, S()); }, kSorted},
      {"sorted Insert bad index", [&] { sorted.Insert(9, S()); }, kSorted},  // checked first
      {"sorted Put", [&] { sorted.Put(0, S()); }, kSorted},
  };
  for (const Case& c : cases) {
    try {
      c.op();
      ADD_FAILURE() << c.what << ": no error";
    } catch (const EStringListError& e) {
      EXPECT_EQ(Utf8(e.Message), Utf8(c.message)) << c.what;
      EXPECT_STREQ(e.ClassName(), "EStringListError");
    }
  }
  EXPECT_EQ(Items(list), Vec<S>({"a", "b", "c"}));
  EXPECT_EQ(Items(sorted), Vec<S>({"a"}));
  list.Insert(3, T<S>("d"));  // Count itself is a valid insertion point
  EXPECT_EQ(list[3], T<S>("d"));
}

// ---------------------------------------------------------------------------------------------
// Objects, events, capacity, assignment

TYPED_TEST(StringListTyped, AnOwningListFreesExactlyTheObjectsItDrops) {
  using S = TypeParam;
  Counted::live = 0;
  {
    TStringListT<S> list(true);
    for (int i = 0; i < 6; ++i) list.AddObject(T<S>(std::to_string(i)), new Counted(i));
    list.Delete(0);
    EXPECT_EQ(Counted::live, 5);
    list.Put(0, T<S>("x"));  // replacing the string keeps the object
    EXPECT_EQ(Counted::live, 5);
    auto* taken = static_cast<Counted*>(list.Objects(0));
    list.PutObject(0, nullptr);  // taking an object back out does not free it
    list.Delete(0);
    EXPECT_EQ(Counted::live, 5);
    delete taken;
    EXPECT_EQ(Counted::live, 4);
    list.Move(0, 2);
    list.Exchange(0, 1);
    list.SetSorted(true);
    EXPECT_EQ(Counted::live, 4);
    Counted* extra = new Counted(99);
    list.SetDuplicates(dupIgnore);
    list.AddObject(list[0], extra);  // not stored: stays the caller's
    EXPECT_EQ(list.IndexOfObject(extra), -1);
    delete extra;
    list.Clear();
    EXPECT_EQ(Counted::live, 0);
    list.AddObject(T<S>("z"), new Counted);
  }
  EXPECT_EQ(Counted::live, 0);  // the destructor freed the rest
  {
    TStringListT<S> notOwning;
    Counted kept;
    notOwning.AddObject(T<S>("k"), &kept);
    notOwning.Clear();
    EXPECT_EQ(Counted::live, 1);
  }
}

TYPED_TEST(StringListTyped, EventsFireAroundChangesAndOncePerBracket) {
  using S = TypeParam;
  TStringListT<S> list;
  std::string log;
  list.OnChanging = [&](TObject* sender) {
    EXPECT_EQ(sender, &list);
    log += '(';
  };
  list.OnChange = [&](TObject*) { log += ')'; };
  list.Clear();
  EXPECT_EQ(log, "");  // an empty list does not change
  list.Add(T<S>("a"));
  list.Delete(0);
  EXPECT_EQ(log, "()()");
  log.clear();
  list.BeginUpdate();
  list.BeginUpdate();
  Fill(list, {"x", "y", "z"});
  list.EndUpdate();
  EXPECT_EQ(log, "(");
  list.EndUpdate();
  EXPECT_EQ(log, "()");
  log.clear();
  list.SetText(T<S>("p\r\nq"));
  list.SetCommaText(T<S>("1,2,3"));
  EXPECT_EQ(log, "()()");
  log.clear();
  {
    auto* doomed = new TStringListT<S>;
    doomed->Add(T<S>("a"));
    doomed->OnChanging = [&](TObject*) { log += '('; };
    doomed->OnChange = [&](TObject*) { log += ')'; };
    delete doomed;  // destruction fires nothing
  }
  EXPECT_EQ(log, "");
}

TYPED_TEST(StringListTyped, CapacityGrowsByTheClassicSteps) {
  using S = TypeParam;
  TStringListT<S> list;
  std::vector<int> seen;
  for (int i = 0; i < 120; ++i) {
    list.Add(S());
    if (seen.empty() || seen.back() != list.Capacity()) seen.push_back(list.Capacity());
  }
  EXPECT_EQ(seen, (std::vector<int>{4, 8, 12, 28, 44, 60, 76, 95, 118, 147}));
  list.Delete(0);
  EXPECT_EQ(list.Capacity(), 147);
  list.SetCapacity(500);
  EXPECT_EQ(list.Capacity(), 500);
  EXPECT_EQ(list.Count(), 119);
  list.Clear();
  EXPECT_EQ(list.Capacity(), 0);
}

TYPED_TEST(StringListTyped, AssignCopiesItemsAndSeparatorsButNotSorting) {
  using S = TypeParam;
  using C = typename S::value_type;
  TStringListT<S> source;
  source.SetSorted(true);
  source.SetDelimiter(C(';'));
  source.SetQuoteChar(C('\''));
  source.SetNameValueSeparator(C(':'));
  Counted obj;
  source.AddObject(T<S>("b:2"), &obj);
  source.Add(T<S>("a:1"));
  TStringListT<S> target;
  Fill(target, {"old"});
  target.Assign(source);
  EXPECT_EQ(Items(target), Vec<S>({"a:1", "b:2"}));
  EXPECT_EQ(target.Objects(1), &obj);
  EXPECT_FALSE(target.Sorted());
  EXPECT_EQ(target.Delimiter(), C(';'));
  EXPECT_EQ(target.QuoteChar(), C('\''));
  EXPECT_EQ(target.Values(T<S>("b")), T<S>("2"));
  EXPECT_TRUE(target.Equals(source));
  target.Assign(target);  // assigning a list to itself keeps it
  EXPECT_EQ(target.Count(), 2);
  target.AddStrings(target);
  EXPECT_EQ(Items(target), Vec<S>({"a:1", "b:2", "a:1", "b:2"}));
  EXPECT_FALSE(target.Equals(source));
  TStringListT<S> upper;
  Fill(upper, {"A:1", "B:2"});
  EXPECT_FALSE(upper.Equals(source));  // byte for byte, case counts
}

// ---------------------------------------------------------------------------------------------
// Hashed lookup

TYPED_TEST(StringListTyped, HashedLookupAgreesWithTheLinearListThroughChanges) {
  using S = TypeParam;
  using C = typename S::value_type;
  const std::vector<C> alphabet = {C('a'), C('A'), C('b'), C('='), C(0xE4), C(0xC4), C(':')};
  std::mt19937 rng(99);
  THashedStringListT<S> hashed;
  TStringListT<S> plain;
  auto randomText = [&] {
    S s;
    const int len = static_cast<int>(rng() % 4);
    for (int k = 0; k < len; ++k) s += alphabet[rng() % alphabet.size()];
    return s;
  };
  for (int step = 0; step < 3000; ++step) {
    const int op = static_cast<int>(rng() % 10);
    const int n = plain.Count();
    if (op < 4 || n == 0) {
      const S s = randomText();
      hashed.Add(s);
      plain.Add(s);
    } else if (op == 4) {
      const int i = static_cast<int>(rng() % static_cast<unsigned>(n));
      hashed.Delete(i);
      plain.Delete(i);
    } else if (op == 5) {
      const int i = static_cast<int>(rng() % static_cast<unsigned>(n));
      const S s = randomText();
      hashed.Put(i, s);
      plain.Put(i, s);
    } else if (op == 6) {
      const int i = static_cast<int>(rng() % static_cast<unsigned>(n));
      const int j = static_cast<int>(rng() % static_cast<unsigned>(n));
      hashed.Exchange(i, j);
      plain.Exchange(i, j);
    } else if (op == 7 && rng() % 20 == 0) {
      const bool cs = !plain.CaseSensitive();
      hashed.SetCaseSensitive(cs);
      plain.SetCaseSensitive(cs);
    } else if (op == 8 && rng() % 20 == 0) {
      const C sep = plain.NameValueSeparator() == C('=') ? C(':') : C('=');
      hashed.SetNameValueSeparator(sep);
      plain.SetNameValueSeparator(sep);
    } else if (op == 9 && rng() % 50 == 0) {
      hashed.Clear();
      plain.Clear();
    }
    const S probe = randomText();
    ASSERT_EQ(hashed.IndexOf(probe), plain.IndexOf(probe)) << "step " << step;
    ASSERT_EQ(hashed.IndexOfName(probe), plain.IndexOfName(probe)) << "step " << step;
  }
}

// ---------------------------------------------------------------------------------------------
// Files and streams

class StringListFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qz_stringlist_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  UnicodeString Path(const char* name) const { return platform::Utf8ToWide((dir_ / name).string()); }
  static void WriteBytes(const UnicodeString& path, const std::string& bytes) {
    std::ofstream(platform::WideToUtf8(path), std::ios::binary) << bytes;
  }
  static std::string ReadBytes(const UnicodeString& path) {
    std::ifstream in(platform::WideToUtf8(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::filesystem::path dir_;
};

TEST_F(StringListFiles, UnicodeListReadsByteOrderMarksAndOtherwiseWindows1252) {
  // "Grüße €" in each encoding (bytes written out by hand from the code charts).
  struct Case {
    std::string bytes;
    TTextEncoding encoding;
  };
  const std::vector<Case> cases = {
      {"\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\r\nx", TTextEncoding::Utf8},
      {std::string("\xFF\xFEG\0r\0\xFC\0\xDF\0e\0 \0\xAC\x20\r\0\n\0x\0", 22), TTextEncoding::Utf16LE},
      {std::string("\xFE\xFF\0G\0r\0\xFC\0\xDF\0e\0 \x20\xAC\0\r\0\n\0x", 22), TTextEncoding::Utf16BE},
      {"Gr\xFC\xDF" "e \x80\r\nx", TTextEncoding::Ansi},
  };
  for (const Case& c : cases) {
    const UnicodeString file = Path("in.txt");
    WriteBytes(file, c.bytes);
    TStringList list;
    list.LoadFromFile(file);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0], u"Gr\u00fc\u00dfe \u20ac");
    EXPECT_EQ(list[1], u"x");
    EXPECT_EQ(list.Encoding(), c.encoding);
    // Saving again writes the encoding it read, with its mark, each line ended by CR LF.
    const UnicodeString out = Path("out.txt");
    list.SaveToFile(out);
    std::string expected = c.bytes;
    if (c.encoding == TTextEncoding::Utf16LE)
      expected += std::string("\r\0\n\0", 4);
    else if (c.encoding == TTextEncoding::Utf16BE)
      expected += std::string("\0\r\0\n", 4);
    else
      expected += "\r\n";
    EXPECT_EQ(ReadBytes(out), expected);
  }
}

TEST_F(StringListFiles, ExplicitEncodingsAndMissingFiles) {
  TStringList list;
  list.Add(u"\u20ac\u4e2d");
  std::ostringstream utf8;
  list.SaveToStream(utf8, TTextEncoding::Utf8);
  EXPECT_EQ(utf8.str(), "\xEF\xBB\xBF\xE2\x82\xAC\xE4\xB8\xAD\r\n");
  std::ostringstream ansi;
  list.SaveToStream(ansi);  // Windows-1252: what it cannot hold becomes "?"
  EXPECT_EQ(ansi.str(), "\x80?\r\n");
  try {
    list.LoadFromFile(Path("missing.txt"));
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_NE(Utf8(e.Message).find("missing.txt"), std::string::npos);
  }
  EXPECT_EQ(list.Count(), 1);  // a failed load leaves the list as it was
  EXPECT_THROW(list.SaveToFile(Path("no/such/dir/x.txt")), EInOutError);
}

}  // namespace
