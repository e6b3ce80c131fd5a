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
};
