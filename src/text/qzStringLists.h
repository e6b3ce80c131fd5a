// TqzStringLists: searching, rewriting and pruning UTF-16 string lists of name=value items.
//
// An item's name is its text before the first "=", its value the text after it (an item without
// "=" has an empty name and value). StringListElement selects the part of each item that the
// replace and delete operations examine: "NAMES" the name, "VALUE" the value, any other text
// (callers pass "NAMES_AND_VALUES") the whole item.
//
// The operations named "...WideStringList" read an item's value by its name (the value of the
// first item with that name) and write it by name; the others read and write it by index.
//
// A part matches a search text when it contains it (Contains, ignoring case with IgnoreCase), and
// with WholeWord also when it equals it (EqualsW, no trimming).
//
// Lists are changed in place and never owned. The walks examine every item once and never run
// past the end, also when a rewrite deletes an item (an empty value written in "VALUE" mode);
// deletes remove exactly the items that matched, by index. An item is only written back when
// the replacement changed its part, so items that do not match are never touched.
#pragma once

#include <cstdint>

#include "StringList.h"
#include "Text.h"

class TqzStringLists {
 public:
  TqzStringLists() = delete;

  // The object of the item that the list's IndexOf(Key) finds (a whole-item match); null when none.
  static TObject* GetObjectByNameFromStringList(const UnicodeString& Key, const TStrings& StringList);
  // Index of the first (with Inverse the last) item whose value (by index) equals SearchString
  // under EqualsW(SearchString, value, TrimBefore, IgnoreCase); -1 when none.
  static int32_t FindValueInStringList(const UnicodeString& SearchString, const TStrings& StringList,
                                       bool TrimBefore, bool IgnoreCase, bool Inverse);

  // Replaces SearchFlag by ReplaceFlag in the examined part of every item: with WholeWord a part
  // equal to SearchFlag is replaced whole, otherwise every occurrence (ReplaceW with IgnoreCase).
  static TStrings& ReplaceInWideStringList(TStrings& StringList, const UnicodeString& SearchFlag,
                                           const UnicodeString& ReplaceFlag, bool IgnoreCase, bool WholeWord,
                                           const UnicodeString& StringListElement);
  static TStrings& ReplaceInStringList(TStrings& StringList, const UnicodeString& SearchFlag,
                                       const UnicodeString& ReplaceFlag, bool IgnoreCase, bool WholeWord,
                                       const UnicodeString& StringListElement);

  // Deletes the items whose examined part matches SearchFlag.
  static TStrings& DeleteWhenEqualsInStringList(TStrings& StringList, const UnicodeString& SearchFlag,
                                                bool IgnoreCase, bool WholeWord,
                                                const UnicodeString& StringListElement);
  static TStrings& DeleteWhenEqualsInWideStringList(TStrings& StringList, const UnicodeString& SearchFlag,
                                                    bool IgnoreCase, bool WholeWord,
                                                    const UnicodeString& StringListElement);
  // Keeps only the items whose examined part matches one of the texts of the comma text
  // SearchFlagCommaSeparated; an empty search list deletes every item.
  static TStrings& DeleteWhenNotEqualsInStringList(TStrings& StringList,
                                                   const UnicodeString& SearchFlagCommaSeparated,
                                                   bool IgnoreCase, bool WholeWord,
                                                   const UnicodeString& StringListElement);

  // The items from BeginIndex to EndIndex (inclusive, within the list) concatenated, with
  // WithCRLF separated by CR LF (none at the end). An empty range gives the empty text.
  static UnicodeString AddValues(const TStrings& List, int32_t BeginIndex, int32_t EndIndex, bool WithCRLF);
  // All items concatenated without separators.
  static UnicodeString GetCompleteContentWithoutCRLFAtEnd(const TStrings& StringList);
  // Deletes every item that is empty after trimming.
  static void RemoveEmptyLines(TStrings& Strings);
};
