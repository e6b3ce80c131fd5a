// The object hash list: ownership, lookups, the nearest key and the sort orders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FormatSettings.h"
#include "qzSortableStringLists.h"

namespace {

// An object that counts how many of its kind are alive, so leaks and double frees show (ASan
// catches the use of a freed one).
struct Counted : TObject {
  static inline int alive = 0;
  Counted() { ++alive; }
  ~Counted() override { --alive; }
};

std::vector<std::u16string> Keys(const TqzObjectHashList& list) {
  std::vector<std::u16string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
  return out;
}

TEST(TqzObjectHashList, OwnershipTable) {
  struct Step {
    const char* what;
    bool owning;
    int aliveAfter;  // objects still alive after the steps and before the list goes
    int aliveAtEnd;  // after the list is destroyed
  };
  // Each row runs one scenario; the caller deletes at the end what it still owns.
  const Step rows[] = {
      {"put-replace", true, 1, 0},      {"put-replace", false, 2, 2},
      {"put-same", true, 1, 0},         {"put-same", false, 1, 1},
      {"put-duplicate", true, 2, 0},    {"remove", true, 0, 0},
      {"remove", false, 1, 1},          {"clear", true, 0, 0},
      {"clear", false, 2, 2},           {"destroy", true, 2, 0},
  };
  for (const auto& row : rows) {
    Counted::alive = 0;
    std::vector<Counted*> mine;
    const std::string what = row.what;
    {
      TqzObjectHashList list(row.owning);
      auto* a = new Counted;
      auto* b = new Counted;
      if (!row.owning) mine = {a, b};
      if (what == "put-replace") {
        list.Put(u"de", a, false);
        list.Put(u"de", b, true);
        EXPECT_EQ(list.Count(), 1);
        EXPECT_EQ(list.Get(u"DE"), b);
        EXPECT_EQ(list.ClearEntries(), 1);
        if (row.owning) {
          EXPECT_EQ(Counted::alive, 0);
        }
        list.Put(u"x", row.owning ? new Counted : a, false);
      } else if (what == "put-same") {
        list.Put(u"de", a, false);
        list.Put(u"de", a, true);  // the stored object itself: stays alive
        EXPECT_EQ(list.Count(), 1);
        EXPECT_EQ(list.Get(u"de"), a);
        if (row.owning) delete b;
        else { delete b; mine = {a}; }
      } else if (what == "put-duplicate") {
        list.Put(u"de", a, false);
        list.Put(u"de", b, false);
        EXPECT_EQ(list.Count(), 2);
        EXPECT_EQ(list.Get(u"de"), a);
      } else if (what == "remove") {
        list.Put(u"de", a, false);
        list.Put(u"en", nullptr, false);
        TObject* back = list.Remove(u"DE");
        EXPECT_EQ(back, row.owning ? nullptr : a);
        EXPECT_EQ(list.Remove(u"missing"), nullptr);
        EXPECT_EQ(list.Remove(u"en"), nullptr);
        EXPECT_EQ(list.Count(), 0);
        if (row.owning) delete b;
        else { delete b; mine = {a}; }
      } else if (what == "clear") {
        list.Put(u"a", a, false);
        list.Put(u"b", b, false);
        EXPECT_EQ(list.ClearEntries(), 2);
        EXPECT_EQ(list.Count(), 0);
      } else if (what == "destroy") {
        list.Put(u"a", a, false);
        list.Put(u"b", b, false);
      }
      EXPECT_EQ(Counted::alive, row.aliveAfter) << what << " owning " << row.owning;
    }
    EXPECT_EQ(Counted::alive, row.aliveAtEnd) << what << " owning " << row.owning;
    for (Counted* c : mine) delete c;
  }
}

TEST(TqzObjectHashList, LookupsIgnoreCase) {
  TqzObjectHashList list;
  TObject one;
  list.Put(u"de", &one, false);
  list.Put(u"en", nullptr, false);
  EXPECT_EQ(list.Get(u"DE"), &one);
  EXPECT_TRUE(list.Contains(u"De"));
  EXPECT_TRUE(list.Contains(u"en"));
  EXPECT_FALSE(list.Contains(u"fr"));
  EXPECT_TRUE(list.IsValueNotNil(u"de"));
  EXPECT_FALSE(list.IsValueNotNil(u"en"));
  EXPECT_FALSE(list.IsValueNotNil(u"fr"));
}

TEST(TqzObjectHashList, NearestKeyByAccuracy) {
  TqzObjectHashList list;
  TObject meier, maier;
  list.Put(u"Meier", &meier, false);
  list.Put(u"Maier", &maier, false);
  double d = -1;
  EXPECT_EQ(list.GetFirstAboutDistance(u"Mayer", false, false, 60, d), &meier);
  EXPECT_DOUBLE_EQ(d, 60);
  EXPECT_EQ(list.GetFirstAboutDistance(u"Mayer", false, false, 61, d), &maier);
  EXPECT_DOUBLE_EQ(d, 80);
  EXPECT_EQ(list.GetFirstAboutDistance(u"Mayer", false, false, 90, d), nullptr);
  EXPECT_DOUBLE_EQ(d, 80);  // the accuracy of the last entry
  EXPECT_EQ(list.GetFirstAboutDistance(u" maier ", true, true, 100, d), &maier);
  EXPECT_EQ(list.GetFirstAboutDistance(u" maier ", false, false, 100, d), nullptr);

  TqzObjectHashList empty;
  d = 42;
  EXPECT_EQ(empty.GetFirstAboutDistance(u"x", false, false, 0, d), nullptr);
  EXPECT_DOUBLE_EQ(d, 42);
}

TEST(TqzObjectHashList, SortOrders) {
  platform::TFormatSettings fs = platform::InvariantFormatSettings();
  fs.DecimalSeparator = u',';
  fs.DateSeparator = u'.';
  fs.ShortDateFormat = u"dd.mm.yyyy";
  const platform::TFormatSettings saved = platform::GetFormatSettings();
  platform::SetFormatSettings(fs);
  struct Case {
    TSORT_TYPE type;
    std::vector<std::u16string> keys, expected;
  };
  const Case cases[] = {
      {NUMBER, {u"10", u"9", u"100"}, {u"9", u"10", u"100"}},
      {NUMBER, {u"x", u"2,5", u"b", u"-1", u"2"}, {u"-1", u"2", u"2,5", u"x", u"b"}},
      {ALPHA_NUM, {u"b", u"B", u"a"}, {u"B", u"a", u"b"}},
      {ALPHA_NUM_TRIM, {u" b", u"a ", u"\tc"}, {u"a ", u" b", u"\tc"}},
      {ALPHA_NUM_UPPER, {u"b", u"a", u"B", u"A"}, {u"a", u"A", u"b", u"B"}},  // equal ones keep their order
      {ALPHA_NUM_DESC, {u"b", u"B", u"a"}, {u"b", u"a", u"B"}},
      {ALPHA_NUM_TRIM_UPPER_DESC, {u" a", u"B", u"c "}, {u"c ", u"B", u" a"}},
      {DATE, {u"03.01.2020", u"kein Datum", u"01.02.2019", u"31.12.2019"},
       {u"01.02.2019", u"31.12.2019", u"03.01.2020", u"kein Datum"}},
  };
  for (const auto& c : cases) {
    TqzObjectHashList list;
    for (const auto& k : c.keys) list.Add(k);
    EXPECT_TRUE(list.SortW(c.type));
    EXPECT_EQ(Keys(list), c.expected) << "sort type " << c.type;
  }
  TqzObjectHashList list;
  EXPECT_FALSE(list.SortW(static_cast<TSORT_TYPE>(7)));
  platform::SetFormatSettings(saved);
}

}  // namespace
