#include "qzMath.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>
#include <vector>

#include "qzToolsEvo2.h"
#include "Exceptions.h"

namespace {

constexpr double kTwoPow63 = 9223372036854775808.0;  // 2^63, exact in a double

// 10^n for n = 0..37 in single precision, as the platform computes its rounding factors.
constexpr float kPow10Single[38] = {
    1e0f,  1e1f,  1e2f,  1e3f,  1e4f,  1e5f,  1e6f,  1e7f,  1e8f,  1e9f,  1e10f, 1e11f, 1e12f,
    1e13f, 1e14f, 1e15f, 1e16f, 1e17f, 1e18f, 1e19f, 1e20f, 1e21f, 1e22f, 1e23f, 1e24f, 1e25f,
    1e26f, 1e27f, 1e28f, 1e29f, 1e30f, 1e31f, 1e32f, 1e33f, 1e34f, 1e35f, 1e36f, 1e37f};

// The nearest integer with a half going to the even neighbour, independent of the thread's
// rounding mode.
double RoundHalfEven(double v) {
  if (!std::isfinite(v)) return v;
  double r = std::floor(v);
  double diff = v - r;  // exact: v and floor(v) share the exponent range
  if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
  return r;
}

// A whole-number double as a 64-bit integer: NaN gives 0, out of range saturates.
int64_t SaturateToInt64(double r) {
  if (std::isnan(r)) return 0;
  if (r >= kTwoPow63) return std::numeric_limits<int64_t>::max();
  if (r < -kTwoPow63) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(r);
}

int FenvMode(TFPURoundingMode mode) {
  switch (mode) {
    case rmDown: return FE_DOWNWARD;
    case rmUp: return FE_UPWARD;
    case rmTruncate: return FE_TOWARDZERO;
    case rmNearest:
    default: return FE_TONEAREST;
  }
}

// Kept out of line so that its arithmetic runs between the rounding-mode switches of RoundToExt.
[[gnu::noinline]] double RoundToImpl(double X, int digit) {
  int n = digit < 0 ? -digit : digit;
  if (n > 37) n = 37;
  const double f = static_cast<double>(kPow10Single[n]);
  const double scaled = X >= 0 ? X * f + 0.5 : X * f - 0.5;
  // NaN fails both comparisons; an infinite or huge value has no digits left to round.
  if (!(scaled >= -kTwoPow63 && scaled < kTwoPow63)) return X;
  return static_cast<double>(static_cast<int64_t>(scaled)) / f;
}

bool IsAsciiUpper(char16_t c) { return c >= u'A' && c <= u'Z'; }

bool OneOf(char16_t c, std::u16string_view set) { return c != 0 && set.find(c) != std::u16string_view::npos; }

// The code of T[i] in the Cologne table (0 for vowels and H).
char16_t CologneCode(const UnicodeString& t, size_t i) {
  const char16_t c = t[i];
  const char16_t prev = i > 0 ? t[i - 1] : 0;
  const char16_t next = i + 1 < t.size() ? t[i + 1] : 0;
  switch (c) {
    case u'A': case u'E': case u'I': case u'J': case u'O': case u'U': case u'Y': case u'H':
      return u'0';
    case u'B':
      return u'1';
    case u'P':
      return next == u'H' ? u'3' : u'1';
    case u'D': case u'T':
      return OneOf(next, u"CSZ") ? u'8' : u'2';
    case u'F': case u'V': case u'W':
      return u'3';
    case u'G': case u'K': case u'Q':
      return u'4';
    case u'C':
      if (OneOf(prev, u"SZ")) return u'8';
      if (i == 0) return OneOf(next, u"AHKLOQRUX") ? u'4' : u'8';
      return OneOf(next, u"AHKOQUX") ? u'4' : u'8';
    case u'X':
      return OneOf(prev, u"CKQ") ? u'8' : u'4';
    case u'L':
      return u'5';
    case u'M': case u'N':
      return u'6';
    case u'R':
      return u'7';
    case u'S': case u'Z':
      return u'8';
    default:
      return u'0';
  }
}

constexpr char16_t kPatternSeparators[] = u"-_.,;:/\\&+*";

const UnicodeString& SelftestOutcome() {
  static const UnicodeString outcome = [] {
    try {
      return TqzMath::Selftest() ? UnicodeString() : UnicodeString(u"TqzMath.Selftest failed!");
    } catch (...) {
      return UnicodeString(u"TqzMath.Selftest failed!");
    }
  }();
  return outcome;
}

// Runs the self test when the library is loaded; the outcome is kept for the entry points.
[[maybe_unused]] const bool g_selftestRunAtLoad = (SelftestOutcome(), true);

}  // namespace

int64_t TqzMath::RoundExt(double X, TFPURoundingMode RoundMode) {
  double r;
  switch (RoundMode) {
    case rmDown: r = std::floor(X); break;
    case rmUp: r = std::ceil(X); break;
    case rmTruncate: r = std::trunc(X); break;
    case rmNearest:
    default: r = RoundHalfEven(X); break;
  }
  return SaturateToInt64(r);
}

double TqzMath::RoundToExt(double X, TFPURoundingMode RoundMode, int32_t Digit) {
  const auto digit = static_cast<TRoundToRange>(static_cast<uint8_t>(Digit & 0xFF));
  const int saved = std::fegetround();
  volatile double in = X;
  std::fesetround(FenvMode(RoundMode));
  asm volatile("" ::: "memory");
  volatile double out = RoundToImpl(in, digit);
  asm volatile("" ::: "memory");
  std::fesetround(saved);
  return out;
}

double TqzMath::RoundTo(double X, TRoundToRange Digit) { return RoundToImpl(X, Digit); }

int32_t TqzMath::MmToTwips(double mm) {
  const double r = RoundHalfEven(mm / 10 * 1440 / 2.54);
  if (std::isnan(r)) return 0;
  if (r >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (r <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

double TqzMath::TwipsToMm(uint32_t Twips) { return static_cast<double>(Twips) * 25.4 / 1440; }

uint16_t TqzMath::GetNumLength(int64_t Number) {
  uint64_t u = Number < 0 ? 0 - static_cast<uint64_t>(Number) : static_cast<uint64_t>(Number);
  uint16_t digits = 1;
  while (u >= 10) {
    u /= 10;
    ++digits;
  }
  return digits;
}

double TqzMath::GetDamerauLevenshteinDistance(std::u16string_view Source1, std::u16string_view Source2) {
  if (Source1.empty()) return static_cast<double>(Source2.size());
  if (Source2.empty()) return static_cast<double>(Source1.size());
  // Two rows of the (len1 + 1) x (len2 + 1) table suffice: row i only reads row i - 1.
  const size_t n2 = Source2.size();
  std::vector<size_t> prev(n2 + 1), cur(n2 + 1);
  for (size_t j = 0; j <= n2; ++j) prev[j] = j;
  for (size_t i = 1; i <= Source1.size(); ++i) {
    cur[0] = i;
    for (size_t j = 1; j <= n2; ++j) {
      const size_t cost = Source1[i - 1] == Source2[j - 1] ? 0 : 1;
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
    }
    std::swap(prev, cur);
  }
  return static_cast<double>(prev[n2]);
}

double TqzMath::GetDamerauLevenshteinAccuracy(std::u16string_view Source1, std::u16string_view Source2) {
  if (Source1.empty() && Source2.empty()) return 100;
  if (Source1.empty() || Source2.empty()) return 0;
  const double distance = GetDamerauLevenshteinDistance(Source1, Source2);
  const double shorter = static_cast<double>(std::min(Source1.size(), Source2.size()));
  const double accuracy = 100 - distance / shorter * 100;
  return accuracy < 0 ? 0 : accuracy;
}

bool TqzMath::DamerauLevenshteinSelftest() {
  return GetDamerauLevenshteinDistance(u"ABCDEXX", u"EDCBAY") == 6;
}

UnicodeString TqzMath::GetColognePhoneticsEquivalent(std::u16string_view Source) {
  // Upper-case a-z only, spell the German upper-case umlauts and ß out, keep A-Z.
  UnicodeString t;
  t.reserve(Source.size() + 4);
  for (char16_t c : Source) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    switch (c) {
      case u'\u00C4': t += u"AE"; break;
      case u'\u00D6': t += u"OE"; break;
      case u'\u00DC': t += u"UE"; break;
      case u'\u00DF': t += u'S'; break;
      default:
        if (IsAsciiUpper(c)) t += c;
        break;
    }
  }
  UnicodeString code;
  for (size_t i = 0; i < t.size(); ++i) {
    const char16_t digit = CologneCode(t, i);
    if (digit == u'0') continue;                       // zeros go first ...
    if (!code.empty() && code.back() == digit) continue;  // ... then runs merge
    code += digit;
  }
  return code;
}

double TqzMath::GetColognePhoneticsCompareAccuracy(std::u16string_view Source1, std::u16string_view Source2,
                                                   std::u16string_view PES1) {
  const UnicodeString code1 = PES1.empty() ? GetColognePhoneticsEquivalent(Source1) : UnicodeString(PES1);
  const UnicodeString code2 = GetColognePhoneticsEquivalent(Source2);
  return GetDamerauLevenshteinAccuracy(code1, code2);
}

bool TqzMath::ColognePhoneticsSelftest() {
  return GetColognePhoneticsEquivalent(u"CABCDEFGHIJKLMNOPQRSTUVWXYZSCSZCAACPHDCDSDZCXCKCQ") ==
         u"4182345614782348384";
}

UnicodeString TqzMath::ReplacePatternSeparators(std::u16string_view Text) {
  UnicodeString out(Text);
  for (char16_t& c : out)
    if (std::u16string_view(kPatternSeparators).find(c) != std::u16string_view::npos) c = u' ';
  return out;
}

double TqzMath::GetPatternMatchingAccuracy(std::u16string_view Find, std::u16string_view Source) {
  try {
    if (Find.empty()) return Source.empty() ? 100 : 0;
    const double step = 100.0 / static_cast<double>(Find.size());
    const UnicodeString findUp = UpperCaseStr(Find);
    const UnicodeString findLow = LowerCaseStr(Find);
    const UnicodeString findSep = ReplacePatternSeparators(Find);
    const UnicodeString sourceSep = ReplacePatternSeparators(Source);
    const size_t n = std::min(Find.size(), Source.size());
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
      if (Source[i] == Find[i])
        sum += step;
      else if ((i < findUp.size() && Source[i] == findUp[i]) || (i < findLow.size() && Source[i] == findLow[i]) ||
               sourceSep[i] == findSep[i])
        sum += step / 2;
    }
    return sum;
  } catch (...) {
    return 0;
  }
}

bool TqzMath::PointInRect(const TRect& Rect, const TPoint& P) {
  return Rect.Left <= P.X && P.X <= Rect.Right && Rect.Top <= P.Y && P.Y <= Rect.Bottom;
}

bool TqzMath::Selftest() {
  if (!DamerauLevenshteinSelftest()) return false;
  if (!ColognePhoneticsSelftest()) return false;
  if (MmToTwips(10) != 567) return false;
  if (RoundHalfEven(TwipsToMm(567)) != 10) return false;
  return true;
}

const UnicodeString& TqzMath::SelftestError() { return SelftestOutcome(); }

void TqzMath::CheckSelftest() {
  if (!SelftestError().empty()) throw Exception(SelftestError());
}
