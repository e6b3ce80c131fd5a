// The dictionary with a default lookup and key renaming.
#include <gtest/gtest.h>

#include "Variant.h"
#include "qzGenerics.h"

namespace {

TEST(TqzDictionary, GetValueAnswersTheStoredValueOrTheDefault) {
  TqzDictionary<UnicodeString, int> d(100);
  EXPECT_EQ(d.GetValue(u"X", 5), 5);
  d.Add(u"X", 7);
  EXPECT_EQ(d.GetValue(u"X", 5), 7);
  EXPECT_EQ(d.GetValue(u"x", 5), 5);  // keys are compared exactly
  EXPECT_THROW(d.Add(u"X", 8), EListError);
  EXPECT_EQ(d.Items(u"X"), 7);
  d.AddOrSetValue(u"X", 9);
  EXPECT_EQ(d.Items(u"X"), 9);
  EXPECT_THROW(d.Items(u"missing"), EListError);
  EXPECT_EQ(d.Count(), 1);
}

TEST(TqzDictionary, RenameKeyMovesTheValueAndRefusesAnExistingKey) {
  TqzDictionary<UnicodeString, UnicodeString> d;
  d.Add(u"A", u"one");
  d.Add(u"C", u"three");
  d.RenameKey(u"A", u"B");
  EXPECT_FALSE(d.ContainsKey(u"A"));
  EXPECT_EQ(d.Items(u"B"), u"one");

  // To a key that exists: raises, and both entries stay as they were.
  EXPECT_THROW(d.RenameKey(u"B", u"C"), EListError);
  EXPECT_EQ(d.Items(u"B"), u"one");
  EXPECT_EQ(d.Items(u"C"), u"three");
  EXPECT_EQ(d.Count(), 2);

  // An absent key gives the new key with the empty value; renaming to itself keeps the value.
  d.RenameKey(u"nothing", u"D");
  EXPECT_TRUE(d.ContainsKey(u"D"));
  EXPECT_EQ(d.Items(u"D"), u"");
  d.RenameKey(u"C", u"C");
  EXPECT_EQ(d.Items(u"C"), u"three");
  EXPECT_EQ(d.Count(), 3);
}

TEST(TqzDictionary, HoldsVariants) {
  TqzDictionary<UnicodeString, Variant> query(100);
  EXPECT_TRUE(query.GetValue(u"id", Variant(UnicodeString(u"none"))) == Variant(UnicodeString(u"none")));
  query.AddOrSetValue(u"id", Variant(UnicodeString(u"7")));
  Variant v;
  ASSERT_TRUE(query.TryGetValue(u"id", v));
  EXPECT_TRUE(v == Variant(UnicodeString(u"7")));
  const auto pair = query.ExtractPair(u"id");
  EXPECT_EQ(pair.first, u"id");
  EXPECT_EQ(query.Count(), 0);
}

}  // namespace
