// TqzStrings family: padding, positions, cutting, splitting and counting.
#pragma once

#include <cstdint>

#include "StringList.h"
#include "Text.h"
#include "qzAnsiStringList.h"

// Which end of a text an operation looks at.
enum TSEARCH_TYPE { FIRST_POS, LAST_POS, EACH_POS };

class TqzStringsPadding {
 public:
  TqzStringsPadding() = delete;

  // Zero padding: at most 61 zeros are added; a negative number keeps its sign after the zeros.
  static AnsiString FillIntNull(int64_t Nr, int32_t Max);
  static UnicodeString FillIntNullW(int64_t Nr, int32_t Max);
  static AnsiString FillStrNull(const AnsiString& Str, int32_t Max);
  static UnicodeString FillStrNullW(const UnicodeString& Str, int32_t Max);
  // Blank padding, without an upper bound.
  static AnsiString FillBlankFront(const AnsiString& Str, int32_t L);
  static UnicodeString FillBlankFront(const UnicodeString& Str, int32_t L);
  static AnsiString FillBlankBack(const AnsiString& Str, int32_t L);
  static UnicodeString FillBlankBack(const UnicodeString& Str, int32_t L);
  // The text from its first character that is not "0"; all-zero and empty texts unchanged.
  static AnsiString ClearLeadingZeros(const AnsiString& Str);
  static UnicodeString ClearLeadingZerosW(const UnicodeString& Str);

  static AnsiString ShowPluralS(int32_t Count);
  static AnsiString Sps(int32_t Count);
  static UnicodeString ShowPluralSW(int32_t Count);
  static UnicodeString SpsW(int32_t Count);
  static AnsiString ShowPluralStr(int32_t Count, const AnsiString& Str);
  static UnicodeString ShowPluralStrW(int32_t Count, const UnicodeString& Str);

  // Position of the last character equal to the one-character text Z; -1 when none.
  static int32_t RightPosL(const AnsiString& Z, const AnsiString& Text);
  static int32_t RightPosWL(const UnicodeString& Z, const UnicodeString& Text);
  // The same occurrence counted from the right end (the last character is 1); -1 when none.
  static int32_t RightPos(const AnsiString& Z, const AnsiString& Text);
  static int32_t RightPosW(const UnicodeString& Z, const UnicodeString& Text);
  // Start of the last occurrence of SubStr in S; 0 when none.
  static int32_t LastPos(const AnsiString& SubStr, const AnsiString& S);
  // Position of the first item that occurs and is not preceded by the next item; 0 / -1.
  static int32_t OptPos(const TAnsiStrings& SubStr, const AnsiString& S);
  // Position in CheckStr of the first delimiter-terminated part of Source found there; -1.
  static int32_t PartPos(const UnicodeString& Source, const UnicodeString& CheckStr, const UnicodeString& Delimiter);
  // The trimmed text between F and the following L.
  static AnsiString GetBetween(const AnsiString& Str, const AnsiString& F, const AnsiString& L);
  // As GetBetween, but up to the last occurrence of the one-character text L.
  static UnicodeString GetBetweenW(const UnicodeString& Str, const UnicodeString& F, const UnicodeString& L);

  // Str followed by Suffix unless it already ends with it; Str when either is empty.
  static AnsiString CheckStringSuffix(const AnsiString& Str, const AnsiString& Suffix);
  static UnicodeString CheckStringSuffixW(const UnicodeString& Str, const UnicodeString& Suffix);
  static UnicodeString Add(const UnicodeString& Content, const UnicodeString& AddString, int32_t Pos);
  static UnicodeString FillEachPosition(const UnicodeString& Content, const UnicodeString& Element,
                                        int32_t LetterCount, int32_t Times, bool FromBehind);
  static UnicodeString GetReplacerStringForReplaceEachElement(const UnicodeString& Content,
                                                              const UnicodeString& ReplaceSign);

  // Splitting: appends every piece before an occurrence of SplitAt (empty pieces included; the
  // last piece too); the list is not cleared. False only when filling the list raised.
  static bool SplitString(const AnsiString& Source, const AnsiString& SplitAt, TStrings& List);
  static bool SplitString(const AnsiString& Source, const AnsiString& SplitAt, TAnsiStrings& List);
  static bool SplitStringW(const UnicodeString& Source, const UnicodeString& SplitAt, TStrings& List);
  static bool SplitFirstString(const AnsiString& Source, const AnsiString& SplitAt, AnsiString& Left, AnsiString& Right);
  static bool SplitFirstStringW(const UnicodeString& Source, const UnicodeString& SplitAt, UnicodeString& Left,
                                UnicodeString& Right);
  static bool SplitAfterLastNumber(const UnicodeString& Content, UnicodeString& StringBefore,
                                   UnicodeString& StringBehind, bool AllowTypicleTypeSeparators, int32_t TypeId);
  static bool SplitBeforeFirstNumber(const UnicodeString& Content, UnicodeString& StringBefore,
                                     UnicodeString& StringBehind);
  static UnicodeString DeleteFlagWhenBeginOrEnd(const UnicodeString& Content, const UnicodeString& Flag,
                                                TSEARCH_TYPE Pos_id);
  static AnsiString DeleteFlagWhenBeginOrEndA(const AnsiString& Content, const AnsiString& Flag, TSEARCH_TYPE Pos_id);

  static int32_t GetWordCount(const UnicodeString& Content);
  static int32_t GetWordCountAfter(const UnicodeString& Content, const UnicodeString& SearchElement,
                                   int32_t DefaultValue);
  static int32_t GetIncludedElementCountW(const UnicodeString& Content, const TStrings& SearchElements);
  static bool BeginWithOneOfElements(const UnicodeString& Content, const TStrings& BeginStrings, bool IgnoreCase,
                                     bool TrimBefore);
  static bool EndsWithOneOfElements(const UnicodeString& Content, const TStrings& EndStrings, bool IgnoreCase,
                                    bool TrimBefore);
};
