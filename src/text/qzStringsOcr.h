// TqzStrings family: repairing and reading text that character recognition produced.
#pragma once

#include <cstdint>

#include "StringList.h"
#include "Text.h"
#include "qzStringsPadding.h"

class TqzStringsOcr {
 public:
  TqzStringsOcr() = delete;

  // Reduces an 8-bit (Windows-1252) text to the letters a-z, A-Z, äöüÄÖÜß, digits and single
  // blanks: other characters become blanks; every run of four equal characters other than digits
  // becomes one (five give two, eight give two; "10000" stays); characters standing alone between
  // blanks are dropped (taken code by code in ascending order, and of two equal ones that share a
  // blank only the first in each pass); blank runs become one blank; the result is trimmed.
  // One pass over the text.
  static AnsiString PrepareOCRText(const AnsiString& Str);
  // Trims Content and moves a minus sign read at either end of it to the start (FIRST_POS) or
  // the end (LAST_POS); EACH_POS leaves it. False (Content only trimmed) when a minus stands
  // inside.
  static bool StandardizeMinusInNumeric(UnicodeString& Content, TSEARCH_TYPE Position);
  // "." or ",": the decimal sign the numbers of Content use more often (a single separator with
  // two decimals counts double). With ReplaceO the letter "O", with Replacel the letter "l" may
  // stand for 0 and 1. A tie or no number gives ",". WithoutMinusValues has no effect.
  static UnicodeString GetDezimalSign(const UnicodeString& Content, bool ReplaceO, bool Replacel,
                                      bool WithoutMinusValues);
  // Runs of more than two single characters separated by blanks ("R E C H N U N G"), also at
  // the end of the text: each run itself, or with SearchWords the first search word that is
  // similar enough (Damerau-Levenshtein accuracy >= 100 - 300 / its length, at least 50; empty
  // search words are skipped).
  static TStrings& FindSpacedWritingWords(const UnicodeString& Content, const TStrings* SearchWords,
                                          TStrings& FoundWords);
  // The short forms of a word: its prefixes from MinLength characters up (longest first), their
  // spellings without accents and umlauts, and the word's consonants, each followed by "." with
  // UsePointAtEnd.
  static TStrings& GetAbbreviationList(const UnicodeString& Content, int32_t MinLength, bool UsePointAtEnd,
                                       TStrings& ResultList);
};
