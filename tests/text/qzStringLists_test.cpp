// Name/value list operations (TqzStringLists).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CodePage.h"
#include "StringList.h"
#include "qzStringLists.h"

namespace {

using L = TqzStringLists;

void Fill(TStrings& list, const std::vector<std::u16string>& items) {
  list.Clear();
  for (const auto& item : items) list.Add(item);
}

std::vector<std::u16string> Items(const TStrings& list) {
  std::vector<std::u16string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
  return out;
}

struct ReplaceCase {
  std::vector<std::u16string> items;
  std::u16string search, replace;
  bool ignoreCase, wholeWord;
  std::u16string element;
  std::vector<std::u16string> expected;
};

TEST(TqzStringLists, ReplaceByIndexAndByName) {
  const ReplaceCase cases[] = {
      {{u"a=1", u"b=12"}, u"1", u"X", false, false, u"VALUE", {u"a=X", u"b=X2"}},
      {{u"a=1", u"b=12"}, u"a", u"z", false, false, u"NAMES", {u"z=1", u"b=12"}},
      {{u"a=1", u"b=12"}, u"1", u"X", false, true, u"VALUE", {u"a=X", u"b=X2"}},
      {{u"A=x", u"b=AA"}, u"a", u"c", true, false, u"NAMES_AND_VALUES", {u"c=x", u"b=cc"}},
      {{u"A=x", u"b=AA"}, u"a", u"c", false, false, u"NAMES_AND_VALUES", {u"A=x", u"b=AA"}},
      {{u"key=old", u"other=old value"}, u"old", u"new", false, true, u"VALUE", {u"key=new", u"other=new value"}},
      {{u"a=b"}, u"a=b", u"c", false, true, u"NAMES_AND_VALUES", {u"c"}},
      // A whole value replaced by the empty text deletes the item; the item after it is still
      // examined and the walk ends at the end of the list.
      {{u"a=1", u"b=1", u"c=2", u"d=1"}, u"1", u"", false, true, u"VALUE", {u"c=2"}},
      // Items without "=" or with empty values are left alone when nothing matches.
      {{u"plain", u"e=", u"a=1"}, u"1", u"2", false, false, u"VALUE", {u"plain", u"e=", u"a=2"}},
  };
  for (const auto& c : cases) {
    for (bool byName : {false, true}) {
      TStringList list;
      Fill(list, c.items);
      TStrings& result = byName ? L::ReplaceInWideStringList(list, c.search, c.replace, c.ignoreCase, c.wholeWord, c.element)
                                : L::ReplaceInStringList(list, c.search, c.replace, c.ignoreCase, c.wholeWord, c.element);
      EXPECT_EQ(&result, &list);
      EXPECT_EQ(Items(list), c.expected) << platform::WideToUtf8(c.search) << " by name " << byName;
    }
  }
}

TEST(TqzStringLists, ByNameReadsTheFirstItemOfThatName) {
  TStringList list;
  Fill(list, {u"k=1", u"k=2"});
  // By index each item's own value is read; by name both read (and write) the first one.
  L::ReplaceInStringList(list, u"2", u"X", false, false, u"VALUE");
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"k=1", u"k=X"}));
  Fill(list, {u"k=1", u"k=2"});
  L::ReplaceInWideStringList(list, u"1", u"X", false, false, u"VALUE");
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"k=X", u"k=2"}));
}

struct DeleteCase {
  std::vector<std::u16string> items;
  std::u16string search;
  bool ignoreCase, wholeWord;
  std::u16string element;
  std::vector<std::u16string> expected;
};

TEST(TqzStringLists, DeleteWhenEqualsRemovesTheItemsThatMatched) {
  const DeleteCase cases[] = {
      {{u"x1=a", u"y=x", u"x=b"}, u"x", false, false, u"NAMES", {u"y=x"}},
      {{u"x1=a", u"y=x", u"x=b"}, u"x", false, false, u"VALUE", {u"x1=a", u"x=b"}},
      {{u"A=1", u"b=2"}, u"a", true, false, u"NAMES", {u"b=2"}},
      {{u"A=1", u"b=2"}, u"a", false, false, u"NAMES", {u"A=1", u"b=2"}},
      {{u"a=", u"b=1"}, u"", false, true, u"VALUE", {u"b=1"}},  // WholeWord adds the empty value
      {{u"a=", u"b=1"}, u"", false, false, u"VALUE", {u"a=", u"b=1"}},
      // The item that matched goes, not an earlier item equal to it ignoring case.
      {{u"K=v", u"k=V"}, u"k=V", false, true, u"NAMES_AND_VALUES", {u"K=v"}},
      {{u"a", u"abc", u"b"}, u"a", false, false, u"NAMES_AND_VALUES", {u"b"}},
  };
  for (const auto& c : cases) {
    TStringList list;
    Fill(list, c.items);
    L::DeleteWhenEqualsInStringList(list, c.search, c.ignoreCase, c.wholeWord, c.element);
    EXPECT_EQ(Items(list), c.expected) << platform::WideToUtf8(c.search);
    Fill(list, c.items);
    L::DeleteWhenEqualsInWideStringList(list, c.search, c.ignoreCase, c.wholeWord, c.element);
    EXPECT_EQ(Items(list), c.expected) << platform::WideToUtf8(c.search) << " (by name)";
  }
}

TEST(TqzStringLists, DeleteWhenNotEqualsKeepsTheItemsThatMatchOneSearchText) {
  const DeleteCase cases[] = {
      {{u"x=apple", u"y=berry", u"z=cherry", u"w=fig"}, u"a,b", false, false, u"VALUE", {u"x=apple", u"y=berry"}},
      {{u"x=apple", u"y=berry"}, u"", false, false, u"VALUE", {}},
      {{u"x=Apple", u"y=berry", u"z=fig"}, u"a,B", true, false, u"VALUE", {u"x=Apple", u"y=berry"}},
      {{u"x=Apple", u"X=apple"}, u"A", false, false, u"VALUE", {u"x=Apple"}},
      {{u"one=1", u"two=2"}, u"\"tw\",o", false, false, u"NAMES", {u"one=1", u"two=2"}},
  };
  for (const auto& c : cases) {
    TStringList list;
    Fill(list, c.items);
    L::DeleteWhenNotEqualsInStringList(list, c.search, c.ignoreCase, c.wholeWord, c.element);
    EXPECT_EQ(Items(list), c.expected) << platform::WideToUtf8(c.search);
  }
}

TEST(TqzStringLists, LookupsJoiningAndEmptyLines) {
  TStringList list;
  Fill(list, {u"a=1", u"b=2", u"c=1", u"plain"});
  EXPECT_EQ(L::FindValueInStringList(u"1", list, false, false, false), 0);
  EXPECT_EQ(L::FindValueInStringList(u"1", list, false, false, true), 2);
  EXPECT_EQ(L::FindValueInStringList(u"", list, false, false, false), 3);  // no "=": empty value
  EXPECT_EQ(L::FindValueInStringList(u" 2 ", list, true, false, false), 1);
  EXPECT_EQ(L::FindValueInStringList(u"9", list, false, false, false), -1);

  Fill(list, {u"x", u"y", u"z"});
  EXPECT_EQ(L::AddValues(list, 0, 1, true), u"x\r\ny");
  EXPECT_EQ(L::AddValues(list, 0, 1, false), u"xy");
  EXPECT_EQ(L::AddValues(list, 2, 5, true), u"z");
  EXPECT_EQ(L::AddValues(list, 2, 1, true), u"");
  EXPECT_EQ(L::AddValues(list, -3, 0, true), u"x");
  EXPECT_EQ(L::GetCompleteContentWithoutCRLFAtEnd(list), u"xyz");

  Fill(list, {u"", u"a", u" \t", u"\x01", u"b", u"  "});
  L::RemoveEmptyLines(list);
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"a", u"b"}));

  TStringList objects;
  TObject one, two;
  objects.AddObject(u"key", &one);
  objects.AddObject(u"key=1", &two);
  EXPECT_EQ(L::GetObjectByNameFromStringList(u"KEY", objects), &one);
  EXPECT_EQ(L::GetObjectByNameFromStringList(u"key=1", objects), &two);
  EXPECT_EQ(L::GetObjectByNameFromStringList(u"other", objects), nullptr);
}

}  // namespace
