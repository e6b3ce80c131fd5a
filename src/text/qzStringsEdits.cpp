#include "qzStringsEdits.h"

#include <algorithm>

#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzStrings.h"
#include "qzToolsEvo2.h"

namespace {

UnicodeString FillTemplate(const UnicodeString& templ, const UnicodeString& text) {
  return TqzStrings::ReplaceW(templ, TqzStringsEdits::kSearchStringPlaceholder, text);
}

[[noreturn]] void CountMismatch(int source, int destination) {
  throw Exception(u"the two given listStrings has diverent counts... (" + platform::IntToStr(source) + u"/" +
                  platform::IntToStr(destination) + u")");
}

}  // namespace

// With IgnoreCase the texts are folded once up front rather than on every search. Each filled
// template remembers its first occurrence at or after the current start; the start only moves
// forward, so that occurrence stays valid until the start passes it, and the whole search reads
// the text a bounded number of times.
int32_t TqzStringsEdits::PosIgnoreTemplateW(const UnicodeString& Content, const UnicodeString& SearchString,
                                            int32_t FromPos, int32_t ToPos,
                                            const std::vector<AnsiString>& ExclutionTemplates, bool IgnoreCase) {
  if (Content.empty() || SearchString.empty()) return 0;
  const UnicodeString content = IgnoreCase ? UpperCaseStr(Content) : Content;
  const UnicodeString search = IgnoreCase ? UpperCaseStr(SearchString) : SearchString;
  struct Filled {
    UnicodeString text;
    int64_t offset;
    int32_t next = -1;  // first occurrence at or after the start it was sought from; 0 none, -1 not sought
  };
  std::vector<Filled> filled;
  for (const AnsiString& t8 : ExclutionTemplates) {
    const UnicodeString templ = platform::AnsiToWide(t8);
    const auto at = templ.find(kSearchStringPlaceholder);
    if (at == UnicodeString::npos) continue;
    const UnicodeString text = FillTemplate(templ, SearchString);
    filled.push_back(Filled{IgnoreCase ? UpperCaseStr(text) : text, static_cast<int64_t>(at)});
  }
  int64_t from = FromPos;
  while (from < static_cast<int64_t>(ToPos) - static_cast<int64_t>(SearchString.size())) {
    const int32_t p = TqzStrings::PosW(content, search, static_cast<int32_t>(from), false);
    if (p == 0 || p > ToPos) return 0;
    bool excluded = false;
    for (Filled& t : filled) {
      if (t.next < 0 || (t.next > 0 && t.next < from)) {
        t.next = TqzStrings::PosW(content, t.text, static_cast<int32_t>(from), false);
      }
      if (t.next > 0 && t.next == p - t.offset) {
        excluded = true;
        break;
      }
    }
    if (!excluded) return p;
    from = static_cast<int64_t>(p) + static_cast<int64_t>(SearchString.size());
  }
  return 0;
}

bool TqzStringsEdits::ContainsBetweenIgnoreTemplates(const UnicodeString& Content, const UnicodeString& SearchString,
                                                     int32_t FromPos, int32_t ToPos,
                                                     const std::vector<AnsiString>& ExclutionTemplates,
                                                     bool IgnoreCase) {
  return PosIgnoreTemplateW(Content, SearchString, FromPos, ToPos, ExclutionTemplates, IgnoreCase) != 0;
}

UnicodeString TqzStringsEdits::RuleReplace(const UnicodeString& Content, const UnicodeString& SearchText,
                                           const UnicodeString& ReplaceText,
                                           const std::vector<AnsiString>& RuleTemplates, int32_t Pos1RuleId) {
  UnicodeString text = Content;
  if (SearchText.empty()) return text;
  for (size_t i = 0; i < RuleTemplates.size(); ++i) {
    const UnicodeString templ = platform::AnsiToWide(RuleTemplates[i]);
    if (templ.find(kSearchStringPlaceholder) == UnicodeString::npos) continue;
    const UnicodeString f = FillTemplate(templ, SearchText);
    const UnicodeString r = FillTemplate(templ, ReplaceText);
    const int32_t p = TqzStrings::PosW(text, f, 1, false);
    if (static_cast<int32_t>(i) != Pos1RuleId) {
      if (p > 0) text = TqzStrings::ReplaceW(text, f, r);
    } else if (p == 1) {
      text = ReplaceText + text.substr(SearchText.size());
    }
    if (TqzStrings::PosW(text, SearchText, 1, false) == 0) break;
  }
  return text;
}

UnicodeString TqzStringsEdits::ReplaceWithoutPos(const UnicodeString& Content, const UnicodeString& SearchText,
                                                 const UnicodeString& ReplaceText, TSEARCH_TYPE Pos_id) {
  // An empty search text is never found, so the text comes back unchanged (not erased).
  if (Content.empty() || SearchText.empty()) return Content;
  TStringList pieces;
  TqzStrings::SplitStringW(Content, SearchText, pieces);
  const int n = pieces.Count() - 1;  // occurrences
  if (n <= 0) return Content;
  UnicodeString out = pieces.Get(0);
  for (int k = 1; k <= n; ++k) {
    const bool kept = ((Pos_id == FIRST_POS || Pos_id == EACH_POS) && k == 1) ||
                      ((Pos_id == LAST_POS || Pos_id == EACH_POS) && k == n);
    out += kept ? SearchText : ReplaceText;
    out += pieces.Get(k);
  }
  return out;
}

// One walk over Content: after each AfterElement the first Source that follows is replaced, and
// the search for the next AfterElement goes on after that Source.
UnicodeString TqzStringsEdits::ReplaceAfterElement(const UnicodeString& Content, const UnicodeString& AfterElement,
                                                   const UnicodeString& Source, const UnicodeString& Destination) {
  if (AfterElement.empty()) return Content;
  UnicodeString result;
  size_t pos = 0;
  while (true) {
    const size_t element = Content.find(AfterElement, pos);
    if (element == UnicodeString::npos) break;
    const size_t source = Source.empty() ? UnicodeString::npos : Content.find(Source, element + AfterElement.size());
    if (source == UnicodeString::npos) break;
    result.append(Content, pos, source - pos);
    result += Destination;
    pos = source + Source.size();
  }
  result.append(Content, pos, UnicodeString::npos);
  return result;
}

int32_t TqzStringsEdits::GetLengthIgnoreLetters(const UnicodeString& Content,
                                                const UnicodeString& CommaSeparatedLetters, bool TrimBefore) {
  // Every element of the comma list is removed (replaced by an empty element, case-sensitive).
  UnicodeString text = TrimBefore ? platform::Trim(Content) : Content;
  TStringList letters;
  letters.SetCommaText(CommaSeparatedLetters);
  for (int i = 0; i < letters.Count(); ++i) text = TqzStrings::ReplaceW(text, letters.Get(i), u"", false);
  return static_cast<int32_t>(text.size());
}

AnsiString TqzStringsEdits::ReplaceEachElement(const AnsiString& Content, const AnsiString& ComaSeperatedListSource,
                                               const AnsiString& ComaSeperatedListDestination, bool IgnoreCase) {
  TAnsiStringList source, destination;
  source.SetCommaText(ComaSeperatedListSource);
  destination.SetCommaText(ComaSeperatedListDestination);
  if (source.Count() != destination.Count()) CountMismatch(source.Count(), destination.Count());
  AnsiString text = Content;
  for (int i = 0; i < source.Count(); ++i) text = TqzStrings::ReplaceA(text, source.Get(i), destination.Get(i), IgnoreCase);
  return text;
}

UnicodeString TqzStringsEdits::ReplaceEachElementW(const UnicodeString& Content,
                                                   const UnicodeString& ComaSeperatedListSource,
                                                   const UnicodeString& ComaSeperatedListDestination,
                                                   bool IgnoreCase) {
  TStringList source, destination;
  source.SetCommaText(ComaSeperatedListSource);
  destination.SetCommaText(ComaSeperatedListDestination);
  if (source.Count() != destination.Count()) CountMismatch(source.Count(), destination.Count());
  UnicodeString text = Content;
  for (int i = 0; i < source.Count(); ++i) text = TqzStrings::ReplaceW(text, source.Get(i), destination.Get(i), IgnoreCase);
  return text;
}

UnicodeString TqzStringsEdits::ReplaceEachElementWEx(const UnicodeString& Content, const TStrings& AEqualsBList,
                                                     bool IgnoreCase) {
  UnicodeString text = Content;
  for (int i = 0; i < AEqualsBList.Count(); ++i) {
    const UnicodeString entry = AEqualsBList.Get(i);
    const auto eq = entry.find(u'=');
    if (eq == UnicodeString::npos) continue;
    text = TqzStrings::ReplaceW(text, entry.substr(0, eq), entry.substr(eq + 1), IgnoreCase);
  }
  return text;
}

UnicodeString TqzStringsEdits::ReplaceElementWhenInQuotationMarks(const UnicodeString& Content,
                                                                  char16_t SearchForReplace, char16_t ReplaceIn) {
  UnicodeString out = Content;
  bool inside = false;
  for (auto& c : out) {
    if (c == u'"') {
      inside = !inside;
    } else if (inside && c == SearchForReplace) {
      c = ReplaceIn;
    }
  }
  return out;
}

UnicodeString TqzStringsEdits::RemoveBlankBetween(const UnicodeString& Content, const UnicodeString& FromString,
                                                  const UnicodeString& ToString) {
  const UnicodeString all = u"%ALL%";
  if (FromString != all && ToString == all) return TqzStrings::ReplaceW(Content, FromString + u" ", FromString);
  if (FromString == all && ToString != all) return TqzStrings::ReplaceW(Content, u" " + ToString, ToString);
  return TqzStrings::ReplaceW(Content, FromString + u" " + ToString, FromString + ToString);
}

UnicodeString TqzStringsEdits::ReplaceCharsBeforeString(const UnicodeString& Content, const UnicodeString& SearchString,
                                                        const UnicodeString& ReplaceString, int32_t FromPos,
                                                        int32_t CountChars, bool IgnoreCase) {
  const int32_t p = TqzStrings::PosW(Content, SearchString, FromPos, IgnoreCase);
  if (p <= 0) return Content;
  const int64_t keep = std::max<int64_t>(0, static_cast<int64_t>(p) - std::max<int64_t>(CountChars, 0) - 1);
  return Content.substr(0, static_cast<size_t>(keep)) + ReplaceString + Content.substr(static_cast<size_t>(p - 1));
}

UnicodeString TqzStringsEdits::RemoveCharsBeforeString(const UnicodeString& Content, const UnicodeString& SearchString,
                                                       int32_t FromPos, int32_t CountChars, bool IgnoreCase) {
  return ReplaceCharsBeforeString(Content, SearchString, u"", FromPos, CountChars, IgnoreCase);
}

UnicodeString TqzStringsEdits::AddWhenNotBeginOrEnd(const UnicodeString& Content, const UnicodeString& Flag,
                                                    TSEARCH_TYPE Pos_id) {
  if (Flag.empty()) return Content;
  UnicodeString out = Content;
  if ((Pos_id == FIRST_POS || Pos_id == EACH_POS) && !TqzStrings::BeginWith(out, Flag, false, true)) out = Flag + out;
  if ((Pos_id == LAST_POS || Pos_id == EACH_POS) && !TqzStrings::EndsWith(out, Flag, false)) out += Flag;
  return out;
}

UnicodeString TqzStringsEdits::AppendW(const UnicodeString& Content, const UnicodeString& AppendAllwaysText,
                                       const UnicodeString& AppendOnRule, bool Rule, TAPPEND_TYPE AppendType) {
  if (AppendType == REPLACE_LAST) return Content + AppendAllwaysText + (Rule ? AppendOnRule : UnicodeString());
  return (Rule ? AppendOnRule : UnicodeString()) + AppendAllwaysText + Content;
}

bool TqzStringsEdits::IsNotValid(const UnicodeString& Content, const TStrings& NotAllowedStrings, bool TrimBefore,
                                 bool IgnoreCase) {
  for (int i = 0; i < NotAllowedStrings.Count(); ++i) {
    if (TqzStrings::EqualsW(Content, NotAllowedStrings.Get(i), TrimBefore, IgnoreCase)) return true;
  }
  return false;
}

UnicodeString TqzStringsEdits::ClearIfNotValid(const UnicodeString& Content, const TStrings& NotAllowedStrings,
                                               bool TrimBefore, bool IgnoreCase) {
  return IsNotValid(Content, NotAllowedStrings, TrimBefore, IgnoreCase) ? UnicodeString() : Content;
}

UnicodeString TqzStringsEdits::ClearIfNotValid(const UnicodeString& Content,
                                               const UnicodeString& AllowedStringsAsCSVString,
                                               const UnicodeString& Seperator, bool TrimBefore, bool IgnoreCase) {
  TStringList list;
  if (!TqzStrings::SplitStringW(AllowedStringsAsCSVString, Seperator, list)) return Content;
  return ClearIfNotValid(Content, list, TrimBefore, IgnoreCase);
}
