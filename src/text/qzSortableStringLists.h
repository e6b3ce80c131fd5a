// TqzObjectHashList: a hashed string list mapping texts to objects (keys compared ignoring case),
// optionally owning them, with a nearest-key lookup by edit-distance accuracy and seven sort
// orders (TSORT_TYPE).
//
//   TqzObjectHashList words(true);                      // owns its objects
//   words.Put(u"de", new TStringList, true);            // replaces (and frees) an earlier "de"
//   auto* list = static_cast<TStringList*>(words.Get(u"DE"));
//
// Ownership: an owning list frees an entry's object when the entry is removed, cleared or the
// list destroyed. Remove on an owning list frees the object and answers null, so no caller is
// left holding a freed object; on a list that does not own, it answers the object. Put with
// DestroyInstance of the very object already stored under that key keeps it alive.
//
// Sorting: the list's stable merge sort with the selected comparison. NUMBER and DATE place the
// texts that do not parse after all those that do (in their former order), so both are strict
// weak orders.
#pragma once

#include <cstdint>

#include "StringList.h"
#include "Text.h"

enum TSORT_TYPE { NUMBER, ALPHA_NUM, ALPHA_NUM_TRIM, ALPHA_NUM_UPPER, ALPHA_NUM_DESC, ALPHA_NUM_TRIM_UPPER_DESC, DATE };

class TqzObjectHashList : public THashedStringList {
 public:
  TqzObjectHashList() = default;
  explicit TqzObjectHashList(bool AOwnObjects) : THashedStringList(AOwnObjects) {}
  ~TqzObjectHashList() override = default;

  using THashedStringList::Get;
  using THashedStringList::Put;

  bool OwnObjects() const { return OwnsObjects(); }
  void SetOwnObjects(bool Value) { SetOwnsObjects(Value); }

  // With DestroyInstance, Remove(Key) first; then always adds (Key, Value) at the end, so without
  // it a second entry with the same key can arise.
  void Put(const UnicodeString& Key, TObject* Value, bool DestroyInstance);
  // The object of the first entry with that key; null when absent.
  TObject* Get(const UnicodeString& Key) const;
  // Deletes the first entry with that key. Not owning: its object; owning: the object is freed
  // and the answer is null. Null when absent.
  TObject* Remove(const UnicodeString& Key);
  bool Contains(const UnicodeString& Key) const { return IndexOf(Key) >= 0; }
  bool IsValueNotNil(const UnicodeString& Key) const { return Get(Key) != nullptr; }
  // Removes every entry from the last to the first, freeing owned objects; answers how many
  // entries there were.
  int32_t ClearEntries();

  // The object of the first entry whose key is at least MaxDistance per cent accurate
  // (Damerau-Levenshtein accuracy) to Key, both trimmed with TrimBefore and with ASCII letters
  // upper-cased with IgnoreCase. RealDistance receives the accuracy of the entry that qualified,
  // else of the last entry (unchanged for an empty list).
  TObject* GetFirstAboutDistance(const UnicodeString& Key, bool TrimBefore, bool IgnoreCase, double MaxDistance,
                                 double& RealDistance) const;

  // Sorts by the selected comparison; false for a value outside TSORT_TYPE.
  bool SortW(TSORT_TYPE SortType);

  // The comparisons (< 0: Index1 first).
  static int CompareNumber(TStringList& List, int Index1, int Index2);
  static int CompareAlphaNum(TStringList& List, int Index1, int Index2);
  static int CompareAlphaNumTrim(TStringList& List, int Index1, int Index2);
  static int CompareAlphaNumUpper(TStringList& List, int Index1, int Index2);
  static int CompareAlphaNumDesc(TStringList& List, int Index1, int Index2);
  static int CompareAlphaNumTrimUpperDesc(TStringList& List, int Index1, int Index2);
  static int CompareDate(TStringList& List, int Index1, int Index2);
};
