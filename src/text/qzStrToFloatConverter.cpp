#include "qzStrToFloatConverter.h"

#include <charconv>
#include <limits>
#include <string>

#include "Exceptions.h"
#include "SysUtils.h"

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsThousandSeparator(char16_t c) {
  return c == 0 || c == u',' || c == u'.' || c == u' ' || c == u'\'' || c == u'\u2019';
}

UnicodeString RemoveAll(const UnicodeString& s, char16_t c) {
  UnicodeString out;
  out.reserve(s.size());
  for (char16_t ch : s)
    if (ch != c) out += ch;
  return out;
}

// The parts of a decimal number text: sign, digits before and after the decimal sign.
struct DecimalParts {
  bool negative = false;
  std::string whole;
  std::string fraction;
};

// Splits a cleaned number text (optional "-", digits, at most one decimal sign) into its parts.
bool SplitCleaned(const UnicodeString& text, char16_t decimalSeparator, DecimalParts& parts) {
  size_t i = 0;
  if (i < text.size() && text[i] == u'-') {
    parts.negative = true;
    ++i;
  }
  bool inFraction = false;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsDigit(c)) {
      (inFraction ? parts.fraction : parts.whole) += static_cast<char>(c);
    } else if (decimalSeparator != 0 && c == decimalSeparator && !inFraction) {
      inFraction = true;
    } else {
      return false;
    }
  }
  return !(parts.whole.empty() && parts.fraction.empty());
}

}  // namespace

bool TqzStrToFloatConverter::TryParseFloat(std::u16string_view Text, char16_t DecimalSeparator, double& Value,
                                           bool AllowLeadingBlanks) {
  size_t i = 0;
  const size_t n = Text.size();
  if (AllowLeadingBlanks)
    while (i < n && Text[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (Text[i] == u'+' || Text[i] == u'-')) {
    negative = Text[i] == u'-';
    ++i;
  }
  std::string whole, fraction, exponent;
  while (i < n && IsDigit(Text[i])) whole += static_cast<char>(Text[i++]);
  if (i < n && Text[i] == DecimalSeparator && DecimalSeparator != 0) {
    ++i;
    while (i < n && IsDigit(Text[i])) fraction += static_cast<char>(Text[i++]);
  }
  if (whole.empty() && fraction.empty()) return false;
  bool exponentNegative = false;
  if (i < n && (Text[i] == u'e' || Text[i] == u'E')) {
    ++i;
    if (i < n && (Text[i] == u'+' || Text[i] == u'-')) {
      exponentNegative = Text[i] == u'-';
      ++i;
    }
    while (i < n && IsDigit(Text[i])) exponent += static_cast<char>(Text[i++]);
    if (exponent.empty()) return false;
  }
  if (i != n) return false;

  std::string ascii = (whole.empty() ? "0" : whole) + "." + (fraction.empty() ? "0" : fraction);
  if (!exponent.empty()) ascii += (exponentNegative ? "e-" : "e") + exponent;
  double v = 0;
  const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v);
  if (ec == std::errc::result_out_of_range) {
    // Overflow fails; underflow reads as zero. Decide by the decimal magnitude of the text.
    int64_t exp = 0;
    for (char c : exponent) {
      exp = exp * 10 + (c - '0');
      if (exp > 100000000) break;
    }
    if (exponentNegative) exp = -exp;
    int64_t magnitude = 0;
    const size_t firstWhole = whole.find_first_not_of('0');
    if (firstWhole != std::string::npos) {
      magnitude = static_cast<int64_t>(whole.size() - 1 - firstWhole) + exp;
    } else {
      const size_t firstFraction = fraction.find_first_not_of('0');
      magnitude = (firstFraction == std::string::npos ? 0 : -static_cast<int64_t>(firstFraction + 1)) + exp;
    }
    if (magnitude > 0) return false;
    v = 0;
  } else if (ec != std::errc() || end != ascii.data() + ascii.size()) {
    return false;
  }
  Value = negative ? -v : v;
  return true;
}

TqzStrToFloatConverter::TqzSeparationArray TqzStrToFloatConverter::GetSeparationArray(std::u16string_view Text) {
  TqzSeparationArray list;
  const size_t n = Text.size();
  for (size_t k = n; k-- > 0;)
    if (!IsDigit(Text[k])) list.push_back({Text[k], static_cast<int32_t>(n - 1 - k)});
  return list;
}

UnicodeString TqzStrToFloatConverter::ReplaceImprecisionChars(std::u16string_view Text) {
  UnicodeString out(Text);
  for (char16_t& c : out) {
    switch (c) {
      case u'|': case u'!': case u'i': case u'I': c = u'1'; break;
      case u'o': case u'O': c = u'0'; break;
      case u's': case u'S': c = u'5'; break;
      default: break;
    }
  }
  return out;
}

bool TqzStrToFloatConverter::NormalizeFloatString(UnicodeString& FloatStr, bool ReplaceImprecisions,
                                                  char16_t& DecimalSeparator, char16_t& ThousandSeparator,
                                                  UnicodeString& Message) {
  DecimalSeparator = 0;
  ThousandSeparator = 0;
  Message.clear();
  UnicodeString text = platform::Trim(FloatStr);
  bool negative = false;
  // Every exit puts a removed minus sign back in front.
  auto finish = [&](bool accepted, std::u16string_view message) {
    FloatStr = negative ? u"-" + text : text;
    if (!accepted) Message = UnicodeString(message);
    return accepted;
  };
  if (text.empty()) return finish(false, u"FloatStr is empty");

  if (text.front() == u'-') {
    negative = true;
    text.erase(0, 1);
  } else if (text.back() == u'-') {
    negative = true;
    text.pop_back();
  } else if (text.front() == u'+') {
    text.erase(0, 1);
  } else if (text.back() == u'+') {
    text.pop_back();
  }
  text = platform::Trim(text);

  if (ReplaceImprecisions) text = ReplaceImprecisionChars(text);

  const int32_t L = static_cast<int32_t>(text.size());
  const TqzSeparationArray list = GetSeparationArray(text);
  char16_t D = 0, T = 0;
  if (!list.empty()) {
    int32_t d0 = 0;
    bool same = false, keep = false;
    int s = 0;
    const size_t last = list.size() - 1;
    for (size_t i = 0; i < list.size(); ++i) {
      const char16_t c = list[i].Char;
      const int32_t d = list[i].Distance;
      if (i == 0) {
        if (d == 0) return finish(false, u"Separation char is on the far right");
        d0 = d;
        D = c;
        if (d == 3) s = 1;
        if (d == L - 1) text.insert(0, 1, u'0');
      } else {
        if (i == 1) {
          T = c;
          if (c == D) {
            same = true;
            if (s == 1) s = 2;
          }
        } else if (i != last && c != T) {
          return finish(false, u"Thousand separator differs from previous thousand separator");
        }
        if (i == last) {
          if (c != T) {
            if (same)
              D = c;
            else
              return finish(false, u"Thousand separator differs from previous thousand separator");
          } else if (same) {
            if (s >= 2)
              s = 3;
            else
              keep = true;
          }
          if (d == L - 1) {
            if (same)
              text.insert(0, 1, u'0');
            else
              return finish(false, u"Separation char is on the far left");
          }
        }
      }
      if (!(d < L) || (d - d0) % 4 != 0) return finish(false, u"Distance between separators invalid");
    }

    if (s == 3) {
      // Alike separators with three digits after the last one: a whole number.
      text = RemoveAll(text, T);
      D = 0;
    } else if (keep) {
      // Alike separators, the last one closer than three digits to the end: the decimal sign.
      const size_t lastPos = text.rfind(T);
      text = RemoveAll(text.substr(0, lastPos), T) + text.substr(lastPos);
    } else if (T != 0) {
      text = RemoveAll(text, T);
    }
  }

  if (!IsThousandSeparator(T))
    return finish(false, u"Invalid thousand separator: " + UnicodeString(1, T) + u" in FloatStr");
  if (D != 0 && D != u',' && D != u'.')
    return finish(false, u"Invalid decimal separator: " + UnicodeString(1, D) + u" in FloatStr");
  DecimalSeparator = D;
  ThousandSeparator = T;
  return finish(true, u"");
}

bool TqzStrToFloatConverter::CheckFloatString(std::u16string_view FloatStr, bool ReplaceImprecisions) {
  UnicodeString text(FloatStr), message;
  char16_t d = 0, t = 0;
  return NormalizeFloatString(text, ReplaceImprecisions, d, t, message);
}

double TqzStrToFloatConverter::StrToFloat(std::u16string_view FloatStr, double Default, bool RaiseException,
                                          bool ReplaceImprecisions) {
  UnicodeString text(FloatStr), message;
  char16_t d = 0, t = 0;
  if (!NormalizeFloatString(text, ReplaceImprecisions, d, t, message)) {
    if (RaiseException) throw EConvertError(message);
    return Default;
  }
  double value = 0;
  if (!TryParseFloat(text, d == 0 ? u'.' : d, value, false)) {
    if (RaiseException) throw EConvertError(u"Failed to convert String To Extended");
    return Default;
  }
  return value;
}

int64_t TqzStrToFloatConverter::StrToCurrency(std::u16string_view CurrencyStr, int64_t Default, bool RaiseException,
                                              bool ReplaceImprecisions) {
  UnicodeString text(CurrencyStr), message;
  char16_t d = 0, t = 0;
  if (!NormalizeFloatString(text, ReplaceImprecisions, d, t, message)) {
    if (RaiseException) throw EConvertError(message);
    return Default;
  }
  auto fail = [&]() -> int64_t {
    if (RaiseException) throw EConvertError(u"Failed to convert String To Currency");
    return Default;
  };
  DecimalParts parts;
  if (!SplitCleaned(text, d, parts)) return fail();
  // Whole part times 10000 plus four decimals, the fifth decimal rounding half away from zero.
  constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  uint64_t scaled = 0;
  for (char c : parts.whole) {
    if (scaled > (kLimit - static_cast<uint64_t>(c - '0')) / 10) return fail();
    scaled = scaled * 10 + static_cast<uint64_t>(c - '0');
  }
  std::string fraction = parts.fraction;
  fraction.resize(std::max<size_t>(fraction.size(), 5), '0');
  for (int k = 0; k < 4; ++k) {
    if (scaled > (kLimit - static_cast<uint64_t>(fraction[k] - '0')) / 10) return fail();
    scaled = scaled * 10 + static_cast<uint64_t>(fraction[k] - '0');
  }
  if (fraction[4] >= '5') {
    if (scaled == kLimit) return fail();
    ++scaled;
  }
  return parts.negative ? -static_cast<int64_t>(scaled) : static_cast<int64_t>(scaled);
}
