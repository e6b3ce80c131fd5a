// Reads numbers whose thousands separator and decimal sign are not known in advance, such as
// amounts typed by users or recognised from documents: "1.234.567,89", "1,234,567.89",
// "1 234,5", "12,5", "1'234'567".
//
// The analysis (`NormalizeFloatString`) looks at the positions of all characters that are not
// digits, counted from the right end of the text, decides which one is the decimal sign (',' or
// '.') and which one the thousands separator (',', '.', blank, apostrophe U+0027 or right single
// quotation mark U+2019, or none), rejects texts whose separators do not form groups of three
// digits, and yields the cleaned text (digits, at most one decimal sign, an optional leading
// minus). A sign may stand at either end ("-5", "5-", "+5", "5+").
//
// Rules of the walk over the separators, from the rightmost one leftwards:
//   - the rightmost one is the decimal sign candidate; a text ending in a separator is rejected;
//   - every separator between the rightmost and the leftmost one must equal the second one from
//     the right (the thousands separator);
//   - the leftmost one may differ only when the two rightmost ones are alike, and then it is
//     the decimal sign ("1,234.567.890" reads 1.23456789);
//   - the distance of every separator from the rightmost one is a multiple of 4;
//   - two or more alike separators with three digits after the last one are all thousands
//     separators ("1.234.567"); alike separators with a shorter last group end in a decimal
//     sign ("1.234.5" reads 1234.5); a single separator is the decimal sign ("1,234" reads
//     1.234);
//   - a separator at the very start gets a "0" in front (",5" reads 0.5) when it is the decimal
//     sign, otherwise the text is rejected.
// The rejection messages are those raised with `RaiseException`: "FloatStr is empty",
// "Separation char is on the far right", "Separation char is on the far left",
// "Thousand separator differs from previous thousand separator", "Distance between separators
// invalid", "Invalid thousand separator: X in FloatStr", "Invalid decimal separator: X in FloatStr".
//
// With `ReplaceImprecisions` characters that text recognition confuses with digits are read as
// digits first: | ! i I as 1, o O as 0, s S as 5.
//
// Currency values are 64-bit integers holding the amount times 10000 (four decimals), the form
// `Variant::FromCurrencyScaled` takes.
//
// A class of static operations only; stateless, any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "Text.h"

class TqzStrToFloatConverter {
 public:
  TqzStrToFloatConverter() = delete;

  // One character of the text that is not a digit, with its distance from the right end
  // (0 for the last character).
  struct TqzSeparationItem {
    char16_t Char = 0;
    int32_t Distance = 0;
  };
  // The non-digit characters of a text, from the right end to the left.
  using TqzSeparationArray = std::vector<TqzSeparationItem>;

  // The number of the text; `Default` when the analysis rejects it or the cleaned text does not
  // parse, or with `RaiseException` an EConvertError with the analysis's message (or "Failed to
  // convert String To Extended").
  static double StrToFloat(std::u16string_view FloatStr, double Default = 0, bool RaiseException = false,
                           bool ReplaceImprecisions = false);

  // The same for a currency amount (times 10000, rounded half away from zero to 4 decimals);
  // the parse failure message is "Failed to convert String To Currency". Amounts beyond the
  // 64-bit range fail as parse failures.
  static int64_t StrToCurrency(std::u16string_view CurrencyStr, int64_t Default = 0, bool RaiseException = false,
                               bool ReplaceImprecisions = false);

  // Whether the analysis accepts the text (the final parse is not tried).
  static bool CheckFloatString(std::u16string_view FloatStr, bool ReplaceImprecisions = false);

  // The analysis. On success FloatStr holds the cleaned text, DecimalSeparator the decimal sign
  // (0 for a whole number) and ThousandSeparator the thousands separator (0 when none); on
  // rejection it returns false with the reason in Message.
  static bool NormalizeFloatString(UnicodeString& FloatStr, bool ReplaceImprecisions, char16_t& DecimalSeparator,
                                   char16_t& ThousandSeparator, UnicodeString& Message);

  // The separation list of a text.
  static TqzSeparationArray GetSeparationArray(std::u16string_view Text);

  // The text with the look-alike characters replaced by digits.
  static UnicodeString ReplaceImprecisionChars(std::u16string_view Text);

  // Strict decimal float reader shared by the library's conversions: optional leading blanks
  // (code 32) when AllowLeadingBlanks, an optional sign, digits with at most one
  // DecimalSeparator (at least one digit in all), an optional exponent "E"/"e" with optional
  // sign and digits; nothing may follow. Overflow fails; underflow gives zero.
  static bool TryParseFloat(std::u16string_view Text, char16_t DecimalSeparator, double& Value,
                            bool AllowLeadingBlanks = true);
};
