// TqzStrings family: search and replace.
//
// Prefix, suffix, containment and equality tests with optional trimming and case folding,
// emptiness and length tests, an ordinal comparison, position searches, occurrence counts,
// sub-texts by position and by delimiters, replace-all for UTF-16 and 8-bit texts, and the
// conversion between 8-bit texts and byte arrays.
//
// Shared rules:
//  - Positions and lengths count code units (UTF-16 units or bytes); positions start at 1.
//  - Copy(S, Index, Count): an Index below 1 counts as 1 without reducing Count; an Index beyond
//    the end or a negative Count gives the empty text; Count is cut to what remains.
//  - Trimming removes the characters of codes 0 to 32 at both ends.
//  - A search finds the first position at or after its start (a start below 1 counts as 1);
//    0 when there is none, when the searched text is empty or the start lies beyond the end.
//    Matching compares code units exactly; every search runs in linear time.
//  - Case folding of UTF-16 texts is UpperCaseStr (one unit at a time, length-preserving).
//    BeginWithA, EndsWithA and EqualsAnsi fold 8-bit texts through Windows-1252 the same way;
//    PosA and ReplaceA fold only the ASCII letters a to z.
//  - Replace-all scans left to right; occurrences never overlap and an inserted replacement is
//    never searched again.
//  - Results that are 32-bit positions or differences saturate instead of overflowing.
#pragma once

#include <cstdint>
#include <vector>

#include "StringList.h"
#include "Text.h"

// The result of TqzStrings::GetBetweenW.
struct TBetweenSearchResult {
  UnicodeString ResultString;
  int32_t BeginPos = 0;
  int32_t EndPos = 0;
};

// A dynamic array of bytes.
using TbyteArray = std::vector<uint8_t>;

class TqzStringsSearch {
 public:
  TqzStringsSearch() = delete;

  // --- Tests -----------------------------------------------------------------------------------

  // Content starts with BeginString (both trimmed first with TrimBefore, both folded with
  // IgnoreCase). An empty BeginString gives false.
  static bool BeginWith(const UnicodeString& Content, const UnicodeString& BeginString,
                        bool IgnoreCase, bool TrimBefore);
  static bool BeginWithA(const AnsiString& Content, const AnsiString& BeginString, bool IgnoreCase,
                         bool TrimBefore);
  // Content ends with EndString; false when EndString is empty or longer than Content.
  static bool EndsWith(const UnicodeString& Content, const UnicodeString& EndString,
                       bool IgnoreCase);
  // Content ends with at least one entry of the list (tried in list order).
  static bool EndsWith(const UnicodeString& Content, const TStrings& EndString, bool IgnoreCase);
  static bool EndsWithA(const AnsiString& Content, const AnsiString& EndString, bool IgnoreCase);
  // SearchString occurs in Content; an empty SearchString gives false.
  static bool Contains(const UnicodeString& Content, const UnicodeString& SearchString,
                       bool IgnoreCase);
  // Contains, for the part of Content that SubStringW(Content, FromPos, ToPos, false, false)
  // takes: from FromPos up to but not including ToPos.
  static bool ContainsBetween(const UnicodeString& Content, const UnicodeString& SearchString,
                              int32_t FromPos, int32_t ToPos, bool IgnoreCase);
  static bool EqualsW(const UnicodeString& String1, const UnicodeString& String2, bool TrimBefore,
                      bool IgnoreCase);
  static bool EqualsAnsi(const AnsiString& String1, const AnsiString& String2, bool TrimBefore,
                         bool IgnoreCase);
  static bool IsEmptyW(const UnicodeString& Content, bool UseTrim);
  static bool IsEmptyA(const AnsiString& Content, bool UseTrim);
  static bool IsNotEmptyW(const UnicodeString& Content, bool UseTrim);
  static bool IsNotEmptyA(const AnsiString& Content, bool UseTrim);
  // The length of Content (trimmed with TrimBefore) is greater / smaller than Count.
  static bool IsLengthBiggerAsW(const UnicodeString& Content, int32_t Count, bool TrimBefore);
  static bool IsLenghtSmallerAsW(const UnicodeString& Content, int32_t Count, bool TrimBefore);

  // --- Comparison ------------------------------------------------------------------------------

  // Ordinal comparison after optional trimming (UseTrim) and folding (UseUpper): the difference
  // of the first differing code units, else the difference of the lengths; negated with UseDESC.
  static int32_t StrCompW(const UnicodeString& Value1, const UnicodeString& Value2, bool UseTrim,
                          bool UseUpper, bool UseDESC);

  // --- Positions (0 for none) ------------------------------------------------------------------

  // First occurrence at or after FromPos (below 1 counts as 1).
  static int32_t PosW(const UnicodeString& Content, const UnicodeString& SearchString,
                      int32_t FromPos, bool IgnoreCase);
  static int32_t PosA(const AnsiString& Content, const AnsiString& SearchString, int32_t FromPos,
                      bool IgnoreCase);
  // The last occurrence; overlapping occurrences count ("aaa", "aa" gives 2).
  static int32_t GetLastPosW(const UnicodeString& Content, const UnicodeString& SearchString,
                             bool IgnoreCase);
  // Number of occurrences, overlapping ones included; 0 for an empty Find.
  static int32_t GetStrCount(const AnsiString& Text, const AnsiString& Find);
  static int32_t GetStrCountW(const UnicodeString& Text, const UnicodeString& Find);
  // The same count; with IgnoreCase both texts are lower-cased first and Text is replaced by its
  // lower-case form.
  static int32_t GetStrCountExW(UnicodeString& Text, const UnicodeString& Find, bool IgnoreCase);

  // --- Sub-texts -------------------------------------------------------------------------------

  // The rest of Content from From (Content trimmed first with TrimBefore, the result trimmed
  // with TrimAfter).
  static UnicodeString SubStringW(const UnicodeString& Content, int32_t From, bool TrimBefore,
                                  bool TrimAfter);
  // From FromPos up to but not including ToPos.
  static UnicodeString SubStringW(const UnicodeString& Content, int32_t FromPos, int32_t ToPos,
                                  bool TrimBefore, bool TrimAfter);
  static AnsiString SubStringA(const AnsiString& Content, int32_t From, bool TrimBefore,
                               bool TrimAfter);
  static AnsiString SubStringA(const AnsiString& Content, int32_t FromPos, int32_t ToPos,
                               bool TrimBefore, bool TrimAfter);
  // The CountChars characters before the first occurrence of SearchString at or after FromPos
  // (by the Copy rule, the first CountChars characters when fewer precede it); empty when absent.
  static UnicodeString GetCharsBeforeString(const UnicodeString& Content,
                                            const UnicodeString& SearchString, int32_t FromPos,
                                            int32_t CountChars, bool IgnoreCase);
  // The trimmed text between StartLetter (searched from PosBeginSearchStartLetter) and the next
  // StopLetter (searched from PosBeginSearchEndLetter, moved behind the start letter when it
  // lies before it). Positions that are not found or not searched are 0.
  static TBetweenSearchResult GetBetweenW(const UnicodeString& Content,
                                          const UnicodeString& StartLetter,
                                          const UnicodeString& StopLetter,
                                          int32_t PosBeginSearchStartLetter,
                                          int32_t PosBeginSearchEndLetter);
  // The last Count words (all for Count <= 0), separated by single blanks. Words are separated
  // by characters of codes 0 to 32; a word starting with a double quote runs to the closing
  // quote ("" inside stands for one quote; the quotes are dropped).
  static UnicodeString GetLastWords(const UnicodeString& Content, int32_t Count);
  // The trimmed text after the last Separator (the whole text trimmed when there is none). With
  // IgnoreWhenItsLastPosition a separator that ends the text is ignored.
  static UnicodeString GetLastElement(const UnicodeString& Content, const UnicodeString& Separator,
                                      bool IgnoreWhenItsLastPosition);

  // --- Replace-all -----------------------------------------------------------------------------

  // Case-sensitive replace-all. Nothing is replaced when SearchText or Content is empty, or when
  // SearchText and ReplaceText are equal apart from letter case.
  static UnicodeString ReplaceW(const UnicodeString& Content, const UnicodeString& SearchText,
                                const UnicodeString& ReplaceText);
  // Without IgnoreCase the form above; with it every occurrence found ignoring case is replaced.
  static UnicodeString ReplaceW(const UnicodeString& Content, const UnicodeString& SearchText,
                                const UnicodeString& ReplaceText, bool IgnoreCase);
  // Without IgnoreCase FastReplaceA; with it every occurrence found ignoring the case of the
  // ASCII letters is replaced.
  static AnsiString ReplaceA(const AnsiString& Content, const AnsiString& SearchText,
                             const AnsiString& ReplaceText, bool IgnoreCase);
  // Byte-level replace-all. When ToStr does not contain FromStr the passes are repeated until
  // FromStr no longer occurs ("aa" -> "a" turns "aaaa" into "a"), else one pass is made.
  // A pair equal apart from ASCII case gets one case-sensitive pass. Each repeated pass costs
  // only the work around the previous pass's replacements, so the whole runs in time linear in
  // the number of replacements. Pairs that keep the length run until FromStr is gone ("ab" ->
  // "ba" leaves no "ab"; a safety net stops them after length + kFastReplaceMaxPasses passes).
  // Repetition is bounded for pairs that grow the text: at most kFastReplaceMaxPasses passes,
  // and no pass that would take the text beyond 4 x its original length + 1 MiB.
  static AnsiString FastReplaceA(const AnsiString& SourceStr, const AnsiString& FromStr,
                                 const AnsiString& ToStr);
  static constexpr int kFastReplaceMaxPasses = 1024;
  // Every run of blanks (U+0020) becomes one blank.
  static UnicodeString RemoveMoreThenOneBlanks(const UnicodeString& Content);

  // --- Byte arrays -----------------------------------------------------------------------------

  static TbyteArray StringToByteArray(const AnsiString& S);
  static AnsiString ByteArrayToString(const TbyteArray& A);
};
