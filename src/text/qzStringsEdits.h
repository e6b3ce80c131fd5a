// TqzStrings family: template, rule and list edits.
#pragma once

#include <cstdint>
#include <vector>

#include "StringList.h"
#include "Text.h"
#include "qzStringsPadding.h"

// Where AppendW puts its texts: in front, or at the end.
enum TAPPEND_TYPE { REPLACE_FIRST, REPLACE_LAST };

class TqzStringsEdits {
 public:
  TqzStringsEdits() = delete;

  // The placeholder that search-string templates hold.
  static constexpr const char16_t* kSearchStringPlaceholder = u"%SEARCH_STRING%";

  // First occurrence of SearchString at or after FromPos (up to ToPos) that does not stand inside
  // one of the filled templates; 0 for none. Templates without the placeholder take no part.
  static int32_t PosIgnoreTemplateW(const UnicodeString& Content, const UnicodeString& SearchString, int32_t FromPos,
                                    int32_t ToPos, const std::vector<AnsiString>& ExclutionTemplates, bool IgnoreCase);
  static bool ContainsBetweenIgnoreTemplates(const UnicodeString& Content, const UnicodeString& SearchString,
                                             int32_t FromPos, int32_t ToPos,
                                             const std::vector<AnsiString>& ExclutionTemplates, bool IgnoreCase);
  // Replaces SearchText only inside the filled rule templates; the template Pos1RuleId only at
  // the start of the text.
  static UnicodeString RuleReplace(const UnicodeString& Content, const UnicodeString& SearchText,
                                   const UnicodeString& ReplaceText, const std::vector<AnsiString>& RuleTemplates,
                                   int32_t Pos1RuleId);
  // Replaces every occurrence except the first, the last, or both. An empty SearchText leaves
  // Content unchanged.
  static UnicodeString ReplaceWithoutPos(const UnicodeString& Content, const UnicodeString& SearchText,
                                         const UnicodeString& ReplaceText, TSEARCH_TYPE Pos_id);
  // After each AfterElement, the first following Source becomes Destination.
  static UnicodeString ReplaceAfterElement(const UnicodeString& Content, const UnicodeString& AfterElement,
                                           const UnicodeString& Source, const UnicodeString& Destination);
  static int32_t GetLengthIgnoreLetters(const UnicodeString& Content, const UnicodeString& CommaSeparatedLetters,
                                        bool TrimBefore);
  // Pairwise replacement by two comma lists; raises when their counts differ.
  static AnsiString ReplaceEachElement(const AnsiString& Content, const AnsiString& ComaSeperatedListSource,
                                       const AnsiString& ComaSeperatedListDestination, bool IgnoreCase);
  static UnicodeString ReplaceEachElementW(const UnicodeString& Content, const UnicodeString& ComaSeperatedListSource,
                                           const UnicodeString& ComaSeperatedListDestination, bool IgnoreCase);
  static UnicodeString ReplaceEachElementWEx(const UnicodeString& Content, const TStrings& AEqualsBList,
                                             bool IgnoreCase);
  static UnicodeString ReplaceElementWhenInQuotationMarks(const UnicodeString& Content, char16_t SearchForReplace,
                                                          char16_t ReplaceIn);
  // "%ALL%" for FromString or ToString stands for any text.
  static UnicodeString RemoveBlankBetween(const UnicodeString& Content, const UnicodeString& FromString,
                                          const UnicodeString& ToString);
  // Replaces the CountChars characters in front of the hit; Content unchanged when not found.
  static UnicodeString ReplaceCharsBeforeString(const UnicodeString& Content, const UnicodeString& SearchString,
                                                const UnicodeString& ReplaceString, int32_t FromPos, int32_t CountChars,
                                                bool IgnoreCase);
  static UnicodeString RemoveCharsBeforeString(const UnicodeString& Content, const UnicodeString& SearchString,
                                               int32_t FromPos, int32_t CountChars, bool IgnoreCase);
  static UnicodeString AddWhenNotBeginOrEnd(const UnicodeString& Content, const UnicodeString& Flag,
                                            TSEARCH_TYPE Pos_id);
  static UnicodeString AppendW(const UnicodeString& Content, const UnicodeString& AppendAllwaysText,
                               const UnicodeString& AppendOnRule, bool Rule, TAPPEND_TYPE AppendType);
  static bool IsNotValid(const UnicodeString& Content, const TStrings& NotAllowedStrings, bool TrimBefore,
                         bool IgnoreCase);
  static UnicodeString ClearIfNotValid(const UnicodeString& Content, const TStrings& NotAllowedStrings,
                                       bool TrimBefore, bool IgnoreCase);
  static UnicodeString ClearIfNotValid(const UnicodeString& Content, const UnicodeString& AllowedStringsAsCSVString,
                                       const UnicodeString& Seperator, bool TrimBefore, bool IgnoreCase);
};
