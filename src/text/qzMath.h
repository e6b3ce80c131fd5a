// Numeric helpers and measures of how alike two texts are.
//
// `TqzMath` is a class of static operations only: rounding under a chosen rounding mode or to a
// number of decimals, millimetres <-> twips, the digit count of an integer, the edit distance of
// two texts with a percentage accuracy derived from it, the Cologne phonetic code of German
// words and names with an accuracy over two such codes, a position-by-position pattern accuracy,
// and a point-in-rectangle test that counts all four edges as inside.
//
// Texts are UTF-16; lengths and positions count UTF-16 code units and two characters are equal
// when their code units are equal (case counts) unless an operation says otherwise.
// Accuracies are doubles on a scale of 0 to 100 (per cent).
//
// Load-time self test
// -------------------
// The unit runs `Selftest` once when the library is loaded (a static initialiser in qzMath.cpp).
// A failure never escapes the initialiser (that would abort the host process): it is recorded,
// and `TqzMath::SelftestError()` returns "TqzMath.Selftest failed!" from then on (the empty
// text when the test passed). The library's entry points query it on their first use and
// report the text as their failure; `TqzMath::CheckSelftest()` raises it as an `Exception`.
//
// Values outside the ranges that the operations are meant for give defined results, never
// undefined behaviour; each operation's comment names them.
#pragma once

#include <cstdint>

#include "Text.h"
#include "qzTypes.h"  // TRect

// The rounding modes of the floating-point unit, in the platform's order.
enum TFPURoundingMode : uint8_t { rmNearest, rmDown, rmUp, rmTruncate };

// A number of decimals, -37 to 37, held in one byte.
using TRoundToRange = int8_t;

// A point on a page or screen.
struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
};

class TqzMath {
 public:
  TqzMath() = delete;

  // ---- Rounding -------------------------------------------------------------------------------

  // X converted to a 64-bit integer under RoundMode: rmNearest to the nearest integer with a half
  // going to the even neighbour, rmDown toward minus infinity, rmUp toward plus infinity,
  // rmTruncate toward zero. The calling thread's rounding mode is left as it was.
  // Out of range: NaN gives 0; values beyond the 64-bit range give INT64_MAX or INT64_MIN.
  static int64_t RoundExt(double X, TFPURoundingMode RoundMode);

  // RoundTo of X and the low byte of Digit (read as a signed byte), evaluated with the
  // floating-point unit set to RoundMode (which only decides how the multiplication and the
  // addition round in their last bit); the thread's mode is restored afterwards.
  static double RoundToExt(double X, TFPURoundingMode RoundMode, int32_t Digit);

  // X rounded to |Digit| decimals, halves away from zero: Trunc(X * f + 0.5) / f for X >= 0 and
  // Trunc(X * f - 0.5) / f for X < 0, where f = 10^|Digit| in single precision. The sign of
  // Digit is ignored (2 and -2 both round to two decimals); |Digit| above 37 counts as 37.
  // When X * f +- 0.5 lies outside the 64-bit range, X has no digits left to round at that
  // scale and is returned unchanged; NaN and infinities come back unchanged as well.
  static double RoundTo(double X, TRoundToRange Digit);

  // ---- Units ----------------------------------------------------------------------------------

  // The nearest integer (a half to the even neighbour) to mm / 10 * 1440 / 2.54: 10 mm give 567.
  // NaN gives 0; values beyond the 32-bit range give INT32_MAX or INT32_MIN.
  static int32_t MmToTwips(double mm);
  // Twips * 25.4 / 1440: 1440 twips give 25.4 mm.
  static double TwipsToMm(uint32_t Twips);

  // ---- Digit count ----------------------------------------------------------------------------

  // The number of decimal digits of |Number|; 1 for 0; 19 for the most negative 64-bit value.
  static uint16_t GetNumLength(int64_t Number);

  // ---- Edit distance --------------------------------------------------------------------------

  // The Levenshtein distance of the two texts (insertions, deletions and substitutions of single
  // code units, each costing 1). A swap of two neighbours is no operation of its own: "AB"
  // against "BA" is 2. The result is a whole number held in a double.
  static double GetDamerauLevenshteinDistance(std::u16string_view Source1, std::u16string_view Source2);

  // 100 - distance / (length of the shorter text) * 100, at least 0. Both texts empty give 100,
  // exactly one empty gives 0.
  static double GetDamerauLevenshteinAccuracy(std::u16string_view Source1, std::u16string_view Source2);

  // True when the distance of "ABCDEXX" and "EDCBAY" is 6.
  static bool DamerauLevenshteinSelftest();

  // ---- Cologne phonetics ----------------------------------------------------------------------

  // The Cologne phonetic code of Source: the digits 1 to 8, the empty text when Source has no
  // letter A-Z (after upper-casing a-z and spelling Ä, Ö, Ü, ß as AE, OE, UE, S). Unlike the
  // published rules, X not after C, K or Q codes as 4, and the zeros are removed before runs of
  // equal digits are merged ("BAB" gives "1").
  static UnicodeString GetColognePhoneticsEquivalent(std::u16string_view Source);

  // GetDamerauLevenshteinAccuracy of the codes of Source1 and Source2; PES1, when not empty, is
  // taken as the code of Source1 (computed once by a caller that compares one text to many).
  static double GetColognePhoneticsCompareAccuracy(std::u16string_view Source1, std::u16string_view Source2,
                                                   std::u16string_view PES1 = {});

  // True when the code of the test text is the expected one.
  static bool ColognePhoneticsSelftest();

  // ---- Pattern accuracy -----------------------------------------------------------------------

  // Position-by-position likeness of Source to Find, 0 to 100: each position up to the shorter
  // length adds 100 / length(Find) when the characters are equal, half of that when they are
  // equal ignoring case (Find upper- or lower-cased with the locale's rules) or when both are
  // pattern separators (- _ . , ; : / \ & + * and blank count as one class). An empty Find gives
  // 100 against an empty Source, else 0. Never raises: a failure inside gives 0.
  static double GetPatternMatchingAccuracy(std::u16string_view Find, std::u16string_view Source);

  // The text with each of the separators - _ . , ; : / \ & + * replaced by a blank.
  static UnicodeString ReplacePatternSeparators(std::u16string_view Text);

  // ---- Geometry -------------------------------------------------------------------------------

  // True when Left <= X <= Right and Top <= Y <= Bottom: all four edges count as inside.
  static bool PointInRect(const TRect& Rect, const TPoint& P);

  // ---- Self tests -----------------------------------------------------------------------------

  // Runs, stopping at the first failure: the distance self test, the phonetic self test, the
  // check MmToTwips(10) = 567 and the check that TwipsToMm(567) rounds (half to even) to 10.
  static bool Selftest();

  // The outcome of the load-time self test: the empty text when it passed, else
  // "TqzMath.Selftest failed!". The test runs once, at the latest on the first call.
  static const UnicodeString& SelftestError();

  // Raises Exception("TqzMath.Selftest failed!") when the load-time self test failed.
  static void CheckSelftest();
};
