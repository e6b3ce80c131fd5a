#include "qzStringLists.h"

#include <vector>

#include "SysUtils.h"
#include "qzStringsSearch.h"

namespace {

// One update bracket around a series of deletes.
class Updating {
 public:
  explicit Updating(TStrings& list) : list_(list) { list_.BeginUpdate(); }
  ~Updating() { list_.EndUpdate(); }
  Updating(const Updating&) = delete;
  Updating& operator=(const Updating&) = delete;

 private:
  TStrings& list_;
};

enum class Part { Name, Value, Whole };

Part PartOf(const UnicodeString& element) {
  if (element == u"NAMES") return Part::Name;
  if (element == u"VALUE") return Part::Value;
  return Part::Whole;
}

UnicodeString ReadValue(const TStrings& list, int i, bool byName) {
  return byName ? list.Values(list.Names(i)) : list.ValueFromIndex(i);
}

void WriteValue(TStrings& list, int i, bool byName, const UnicodeString& value) {
  if (byName)
    list.SetValue(list.Names(i), value);
  else
    list.SetValueFromIndex(i, value);
}

UnicodeString ExaminedPart(const TStrings& list, int i, Part part, bool byName) {
  switch (part) {
    case Part::Name:
      return list.Names(i);
    case Part::Value:
      return ReadValue(list, i, byName);
    case Part::Whole:
      break;
  }
  return list.Get(i);
}

bool PartMatches(const UnicodeString& part, const UnicodeString& search, bool ignoreCase, bool wholeWord) {
  if (wholeWord && TqzStringsSearch::EqualsW(part, search, false, ignoreCase)) return true;
  return TqzStringsSearch::Contains(part, search, ignoreCase);
}

void WritePart(TStrings& list, int i, Part part, bool byName, const UnicodeString& text) {
  switch (part) {
    case Part::Name:
      list.Put(i, text + u"=" + ReadValue(list, i, byName));
      return;
    case Part::Value:
      WriteValue(list, i, byName, text);
      return;
    case Part::Whole:
      list.Put(i, text);
      return;
  }
}

TStrings& Replace(TStrings& list, const UnicodeString& search, const UnicodeString& replacement, bool ignoreCase,
                  bool wholeWord, const UnicodeString& element, bool byName) {
  const Part part = PartOf(element);
  // Items appended by a write (a value written by a name that no item has) are not walked; an
  // item deleted by a write (an empty value) moves the next one to the same index.
  int end = list.Count();
  int i = 0;
  while (i < end && i < list.Count()) {
    const int before = list.Count();
    const UnicodeString current = ExaminedPart(list, i, part, byName);
    if (wholeWord && TqzStringsSearch::EqualsW(current, search, false, ignoreCase)) {
      WritePart(list, i, part, byName, replacement);
    } else {
      const UnicodeString replaced = TqzStringsSearch::ReplaceW(current, search, replacement, ignoreCase);
      if (replaced != current) WritePart(list, i, part, byName, replaced);
    }
    const int after = list.Count();
    if (after < before)
      end -= before - after;
    else
      ++i;
  }
  return list;
}

TStrings& DeleteMatching(TStrings& list, const UnicodeString& search, bool ignoreCase, bool wholeWord,
                         const UnicodeString& element, bool byName) {
  const Part part = PartOf(element);
  const int n = list.Count();
  std::vector<char> hit(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    hit[static_cast<size_t>(i)] = PartMatches(ExaminedPart(list, i, part, byName), search, ignoreCase, wholeWord);
  Updating guard(list);
  for (int i = n - 1; i >= 0; --i)
    if (hit[static_cast<size_t>(i)]) list.Delete(i);
  return list;
}

}  // namespace

TObject* TqzStringLists::GetObjectByNameFromStringList(const UnicodeString& Key, const TStrings& StringList) {
  const int i = StringList.IndexOf(Key);
  return i < 0 ? nullptr : StringList.GetObject(i);
}

int32_t TqzStringLists::FindValueInStringList(const UnicodeString& SearchString, const TStrings& StringList,
                                              bool TrimBefore, bool IgnoreCase, bool Inverse) {
  const int n = StringList.Count();
  for (int k = 0; k < n; ++k) {
    const int i = Inverse ? n - 1 - k : k;
    if (TqzStringsSearch::EqualsW(SearchString, StringList.ValueFromIndex(i), TrimBefore, IgnoreCase)) return i;
  }
  return -1;
}

TStrings& TqzStringLists::ReplaceInWideStringList(TStrings& StringList, const UnicodeString& SearchFlag,
                                                  const UnicodeString& ReplaceFlag, bool IgnoreCase, bool WholeWord,
                                                  const UnicodeString& StringListElement) {
  return Replace(StringList, SearchFlag, ReplaceFlag, IgnoreCase, WholeWord, StringListElement, true);
}

TStrings& TqzStringLists::ReplaceInStringList(TStrings& StringList, const UnicodeString& SearchFlag,
                                              const UnicodeString& ReplaceFlag, bool IgnoreCase, bool WholeWord,
                                              const UnicodeString& StringListElement) {
  return Replace(StringList, SearchFlag, ReplaceFlag, IgnoreCase, WholeWord, StringListElement, false);
}

TStrings& TqzStringLists::DeleteWhenEqualsInStringList(TStrings& StringList, const UnicodeString& SearchFlag,
                                                       bool IgnoreCase, bool WholeWord,
                                                       const UnicodeString& StringListElement) {
  return DeleteMatching(StringList, SearchFlag, IgnoreCase, WholeWord, StringListElement, false);
}

TStrings& TqzStringLists::DeleteWhenEqualsInWideStringList(TStrings& StringList, const UnicodeString& SearchFlag,
                                                           bool IgnoreCase, bool WholeWord,
                                                           const UnicodeString& StringListElement) {
  return DeleteMatching(StringList, SearchFlag, IgnoreCase, WholeWord, StringListElement, true);
}

TStrings& TqzStringLists::DeleteWhenNotEqualsInStringList(TStrings& StringList,
                                                          const UnicodeString& SearchFlagCommaSeparated,
                                                          bool IgnoreCase, bool WholeWord,
                                                          const UnicodeString& StringListElement) {
  TStringList searches;
  searches.SetCommaText(SearchFlagCommaSeparated);
  const Part part = PartOf(StringListElement);
  const int n = StringList.Count();
  std::vector<char> keep(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const UnicodeString current = ExaminedPart(StringList, i, part, false);
    for (int k = 0; k < searches.Count() && !keep[static_cast<size_t>(i)]; ++k)
      keep[static_cast<size_t>(i)] = PartMatches(current, searches[k], IgnoreCase, WholeWord);
  }
  Updating guard(StringList);
  for (int i = n - 1; i >= 0; --i)
    if (!keep[static_cast<size_t>(i)]) StringList.Delete(i);
  return StringList;
}

UnicodeString TqzStringLists::AddValues(const TStrings& List, int32_t BeginIndex, int32_t EndIndex, bool WithCRLF) {
  const int first = BeginIndex < 0 ? 0 : BeginIndex;
  const int last = EndIndex >= List.Count() ? List.Count() - 1 : EndIndex;
  UnicodeString out;
  for (int i = first; i <= last; ++i) {
    if (WithCRLF && i > first) out += u"\r\n";
    out += List.Get(i);
  }
  return out;
}

UnicodeString TqzStringLists::GetCompleteContentWithoutCRLFAtEnd(const TStrings& StringList) {
  return AddValues(StringList, 0, StringList.Count() - 1, false);
}

void TqzStringLists::RemoveEmptyLines(TStrings& Strings) {
  Updating guard(Strings);
  for (int i = Strings.Count() - 1; i >= 0; --i)
    if (TqzStringsSearch::IsEmptyW(Strings.Get(i), true)) Strings.Delete(i);
}
