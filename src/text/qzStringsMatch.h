// TqzStrings family: matching. Wildcard comparison, comparison within an edit-distance accuracy,
// the check of a search text's occurrences against search-string templates, and regular
// expressions.
//
// Wildcards (EqualsExW): a many-character sign M stands for any run of characters (also none), a
// one-character sign O for exactly one character (a surrogate pair counts as one character).
// The match backtracks, so every way of placing the runs is tried: "*.pdf" matches "a.pdf.pdf",
// "*s" matches "classes". It keeps only the position after the last M it met, so its time is at
// most text length x pattern length, and masks such as "*.pdf" cost about one pass over the text. With
// TrimBefore both texts are trimmed (codes 0 to 32 at both ends) first; with IgnoreCase
// characters are compared through UpperCaseStr (one UTF-16 unit at a time). A sign may be longer
// than one character: it is recognised in the pattern as written (case-sensitively), at the first
// place it starts, M before O.
//
// Regular expressions: PCRE2 over UTF-16 (see Regex.h): case-sensitive, "." also matches line
// breaks, greedy quantifiers, "^" and "$" only at the ends of the input. Invalid patterns raise
// ERegExError naming the pattern and the engine's message; a pattern that exceeds the engine's
// match or depth limit on an input raises ERegExError instead of running on.
#pragma once

#include <cstdint>

#include "StringList.h"
#include "Text.h"
#include "qzAnsiStringList.h"
#include "qzStringsPadding.h"

class TqzStringsMatch {
 public:
  TqzStringsMatch() = delete;

  // --- Wildcards -------------------------------------------------------------------------------

  // M is in use when MoreVariableCharSign is not empty; O when OneVariableCharSign is not empty
  // and differs from MoreVariableCharSign. Neither in use: plain EqualsW (no trimming beyond
  // TrimBefore). An empty pattern matches only an empty text.
  static bool EqualsExW(const UnicodeString& String1, const UnicodeString& StringWithReplacer,
                        bool TrimBefore, bool IgnoreCase, const UnicodeString& MoreVariableCharSign,
                        const UnicodeString& OneVariableCharSign);
  // Form A for sign literals (u"*", u"?"), which would otherwise convert to the Booleans of the
  // form below.
  static bool EqualsExW(const UnicodeString& String1, const UnicodeString& StringWithReplacer,
                        bool TrimBefore, bool IgnoreCase, const char16_t* MoreVariableCharSign,
                        const char16_t* OneVariableCharSign) {
    return EqualsExW(String1, StringWithReplacer, TrimBefore, IgnoreCase,
                     UnicodeString(MoreVariableCharSign ? MoreVariableCharSign : u""),
                     UnicodeString(OneVariableCharSign ? OneVariableCharSign : u""));
  }
  // "*" as M when UseStar, "_" as O when UseUnderline.
  static bool EqualsExW(const UnicodeString& String1, const UnicodeString& StringWithReplacer,
                        bool TrimBefore, bool IgnoreCase, bool UseStar, bool UseUnderline);
  // The same; Percent is 100 for a match and 0 otherwise.
  static bool EqualsExW(const UnicodeString& String1, const UnicodeString& StringWithReplacer,
                        bool TrimBefore, bool IgnoreCase, bool UseStar, bool UseUnderline,
                        int32_t& Percent);

  // Percent = the Damerau-Levenshtein accuracy (0..100) of the two texts, trimmed with
  // TrimBefore and upper-cased with IgnoreCase; true when Percent >= MaxDistance (the least
  // accuracy in per cent).
  static bool EqualsWithDistanceW(const UnicodeString& String1, const UnicodeString& String2,
                                  bool TrimBefore, bool IgnoreCase, double MaxDistance,
                                  double& Percent);

  // --- Search-string templates ----------------------------------------------------------------

  // The number (1-based) of the first occurrence of SearchText in Content that no template
  // covers; 0 when all are covered or there is none. An occurrence is covered when a template,
  // filled by replacing "%SEARCH_STRING%" with SearchText, stands in Content so that its
  // placeholder falls exactly on the occurrence.
  static int32_t CheckSearchStringWithStringTemplates(const UnicodeString& Content, const UnicodeString& SearchText,
                                                      const TStrings& TemplateList);
  // Whether the first (FIRST_POS), the last (LAST_POS) or every (EACH_POS) occurrence of
  // SearchText in Content stands inside Pre + SearchText + Post (Pre directly before, Post
  // directly after). True when SearchText does not occur (or is empty).
  static bool CheckStringTemplate(const UnicodeString& Content, const UnicodeString& Pre,
                                  const UnicodeString& SearchText, const UnicodeString& Post,
                                  TSEARCH_TYPE SearchType);

  // --- Regular expressions ----------------------------------------------------------------------

  // True when Pattern has a match in Content whose text is not empty after trimming.
  static bool CheckRegularExpressionOnStr(const UnicodeString& Pattern, const UnicodeString& Content);
  // True (Percent 100) when the first match of StringWithPattern in String1 exists and is not
  // empty; false and Percent 0 otherwise. Not anchored: "b" matches within "abc".
  static bool EqualsRegExW(const UnicodeString& String1, const UnicodeString& StringWithPattern, int32_t& Percent);
  // Appends the text of every match that is not empty after trimming (untrimmed, in order).
  // The 8-bit form reads expression and input through the ANSI code page.
  static TAnsiStrings& GetAllRegExResults(const AnsiString& Content, const AnsiString& RegEx,
                                          TAnsiStrings& Results);
  static TStrings& GetAllRegExResults(const UnicodeString& Content, const UnicodeString& RegEx, TStrings& Results);
  // The first non-blank match of the first entry of RegExPhases (from StartIndex, a negative one
  // counting as 0; entries blank after trimming skipped) that has one; FoundIndex its index, or
  // -1 and the empty text when none has.
  static UnicodeString GetFirstRegExResultAndIndexFromList(const UnicodeString& Content, const TStrings& RegExPhases,
                                                           int32_t StartIndex, int32_t& FoundIndex);
  static UnicodeString GetFirstRegExResultAndIndexFromList(const UnicodeString& Content, const TStrings& RegExPhases,
                                                           int32_t& FoundIndex);
  // The part of every match of SearchFragment that its ElementNo-th parenthesised group matched:
  // the matches are appended to Results, then every entry of Results loses the match of the
  // groups before ElementNo at its start and of the groups after it at its end. The groups are
  // the "(...)" runs of up to 50 characters without "(" in SearchFragment; ElementNo beyond
  // them raises Exception "elementNo not found...". FromCharNumber and ToCharNumber are unused.
  static TStrings& GetFromRegularExpressionEx(const UnicodeString& SearchFragment, const UnicodeString& Content,
                                              int32_t ElementNo, int32_t FromCharNumber, int32_t ToCharNumber,
                                              TStrings& Results);
  static TStrings& GetFromRegularExpressionEx(const AnsiString& SearchFragment, const AnsiString& Content,
                                              int32_t ElementNo, int32_t FromCharNumber, int32_t ToCharNumber,
                                              TStrings& Results);
};
