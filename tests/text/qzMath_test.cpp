// Math helpers and string similarity, checked against tables of known values and against the
// independent reference in tests/peers/math_oracle.py (Python's decimal module, a textbook
// edit distance, a separately written phonetic coder).
#include "qzMath.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CodePage.h"
#include "Exceptions.h"
#include "TestSupport.h"

namespace {

double ParseDouble(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

UnicodeString W(const std::string& utf8) { return platform::Utf8ToWide(utf8); }

// ---------------------------------------------------------------------------------- rounding

TEST(TqzMathRounding, RoundExtFollowsTheMode) {
  struct Case {
    double x;
    TFPURoundingMode mode;
    int64_t expected;
  } cases[] = {
      {2.5, rmNearest, 2},   {3.5, rmNearest, 4},   {-2.5, rmNearest, -2}, {2.5, rmUp, 3},
      {-2.5, rmDown, -3},    {-2.7, rmTruncate, -2}, {2.7, rmTruncate, 2},  {-2.2, rmUp, -2},
      {2.2, rmDown, 2},      {0.49999999999999994, rmNearest, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(TqzMath::RoundExt(c.x, c.mode), c.expected) << c.x << " mode " << c.mode;
}

TEST(TqzMathRounding, RoundExtGivesDefinedResultsOutOfRange) {
  constexpr auto kMax = std::numeric_limits<int64_t>::max();
  constexpr auto kMin = std::numeric_limits<int64_t>::min();
  EXPECT_EQ(TqzMath::RoundExt(1e300, rmNearest), kMax);
  EXPECT_EQ(TqzMath::RoundExt(-1e300, rmTruncate), kMin);
  EXPECT_EQ(TqzMath::RoundExt(std::numeric_limits<double>::infinity(), rmUp), kMax);
  EXPECT_EQ(TqzMath::RoundExt(std::numeric_limits<double>::quiet_NaN(), rmDown), 0);
  EXPECT_EQ(TqzMath::RoundExt(-9223372036854775808.0, rmNearest), kMin);
}

TEST(TqzMathRounding, RoundExtLeavesTheThreadModeAlone) {
  std::fesetround(FE_UPWARD);
  TqzMath::RoundExt(2.5, rmDown);
  TqzMath::RoundToExt(2.5, rmTruncate, 0);
  EXPECT_EQ(std::fegetround(), FE_UPWARD);
  std::fesetround(FE_TONEAREST);
}

TEST(TqzMathRounding, RoundToSendsHalvesAwayFromZero) {
  struct Case {
    double x;
    int digit;
    double expected;
  } cases[] = {
      {2.5, 0, 3},       {-2.5, 0, -3},      {1.25, 1, 1.3},    {1.25, -1, 1.3},    {-1.25, 1, -1.3},
      {0.125, 2, 0.13},  {0.125, -2, 0.13},  {-0.125, 2, -0.13}, {1234.5678, 2, 1234.57}, {0.4, 0, 0},
      {-0.0001, 2, 0},   {7, 37, 7},
  };
  for (const auto& c : cases)
    EXPECT_DOUBLE_EQ(TqzMath::RoundTo(c.x, static_cast<TRoundToRange>(c.digit)), c.expected)
        << c.x << " digit " << c.digit;
}

TEST(TqzMathRounding, RoundToKeepsValuesBeyondTheIntegerRange) {
  EXPECT_EQ(TqzMath::RoundTo(1e300, 2), 1e300);
  EXPECT_EQ(TqzMath::RoundTo(-5e18, 1), -5e18);
  EXPECT_EQ(TqzMath::RoundTo(std::numeric_limits<double>::infinity(), 0), std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(TqzMath::RoundTo(std::numeric_limits<double>::quiet_NaN(), 3)));
}

TEST(TqzMathRounding, RoundToExtUsesTheLowByteOfDigit) {
  EXPECT_DOUBLE_EQ(TqzMath::RoundToExt(1.25, rmNearest, 0x101), 1.3);  // low byte 1
  EXPECT_DOUBLE_EQ(TqzMath::RoundToExt(1.25, rmTruncate, -1), 1.3);    // sign ignored
  EXPECT_DOUBLE_EQ(TqzMath::RoundToExt(2.5, rmDown, 0), 3);            // halves still go away
}

TEST(TqzMathRounding, RoundToMatchesDecimalHalfUp) {
  const auto rows = qztest::RunOracle("math_oracle.py", {"roundto"});
  ASSERT_GT(rows.size(), 1000u);
  for (const auto& r : rows) {
    const double x = ParseDouble(r["x"]);
    const int digits = r["digits"];
    EXPECT_EQ(TqzMath::RoundTo(x, static_cast<TRoundToRange>(digits)), ParseDouble(r["result"]))
        << r["x"] << " to " << digits;
  }
}

TEST(TqzMathRounding, RoundExtMatchesDecimalModes) {
  const auto rows = qztest::RunOracle("math_oracle.py", {"roundext"});
  ASSERT_GT(rows.size(), 100u);
  for (const auto& r : rows) {
    const double x = ParseDouble(r["x"]);
    EXPECT_EQ(TqzMath::RoundExt(x, rmNearest), r["nearest"].get<int64_t>()) << r["x"];
    EXPECT_EQ(TqzMath::RoundExt(x, rmDown), r["down"].get<int64_t>()) << r["x"];
    EXPECT_EQ(TqzMath::RoundExt(x, rmUp), r["up"].get<int64_t>()) << r["x"];
    EXPECT_EQ(TqzMath::RoundExt(x, rmTruncate), r["truncate"].get<int64_t>()) << r["x"];
  }
}

// ---------------------------------------------------------------------------------- units, digits

TEST(TqzMathUnits, MillimetresAndTwips) {
  EXPECT_EQ(TqzMath::MmToTwips(10), 567);
  EXPECT_EQ(TqzMath::MmToTwips(25.4), 1440);
  EXPECT_EQ(TqzMath::MmToTwips(0), 0);
  EXPECT_EQ(TqzMath::MmToTwips(-10), -567);
  EXPECT_EQ(TqzMath::MmToTwips(1e300), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(TqzMath::MmToTwips(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_DOUBLE_EQ(TqzMath::TwipsToMm(1440), 25.4);
  EXPECT_DOUBLE_EQ(TqzMath::TwipsToMm(567), 10.00125);
  EXPECT_DOUBLE_EQ(TqzMath::TwipsToMm(0xFFFFFFFFu), 4294967295.0 * 25.4 / 1440);
}

TEST(TqzMathUnits, GetNumLength) {
  struct Case {
    int64_t n;
    uint16_t digits;
  } cases[] = {{0, 1}, {9, 1}, {10, 2}, {-10, 2}, {-999, 3}, {1000000, 7},
               {std::numeric_limits<int64_t>::max(), 19}, {std::numeric_limits<int64_t>::min(), 19}};
  for (const auto& c : cases) EXPECT_EQ(TqzMath::GetNumLength(c.n), c.digits) << c.n;
}

// ---------------------------------------------------------------------------------- similarity

TEST(TqzMathSimilarity, DistanceTable) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    double distance;
    double accuracy;
  } cases[] = {
      {u"", u"abc", 3, 0},          {u"abc", u"", 3, 0},        {u"", u"", 0, 100},
      {u"a", u"A", 1, 0},           {u"AB", u"BA", 2, 0},       {u"ABCDEXX", u"EDCBAY", 6, 0},
      {u"abc", u"abd", 1, 100 - 100.0 / 3}, {u"Meier", u"Mayer", 2, 60}, {u"haus", u"maus", 1, 75},
      {u"abc", u"abcdef", 3, 0},    {u"", u"x", 1, 0},          {u"x", u"", 1, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TqzMath::GetDamerauLevenshteinDistance(c.a, c.b), c.distance);
    EXPECT_NEAR(TqzMath::GetDamerauLevenshteinAccuracy(c.a, c.b), c.accuracy, 1e-9);
  }
}

TEST(TqzMathSimilarity, DistanceMatchesTextbookReference) {
  const auto rows = qztest::RunOracle("math_oracle.py", {"distance"});
  ASSERT_GT(rows.size(), 100u);
  for (const auto& r : rows) {
    const UnicodeString a = W(r["a"]), b = W(r["b"]);
    EXPECT_EQ(TqzMath::GetDamerauLevenshteinDistance(a, b), r["distance"].get<double>()) << r.dump();
    EXPECT_NEAR(TqzMath::GetDamerauLevenshteinAccuracy(a, b), r["accuracy"].get<double>(), 1e-9) << r.dump();
  }
}

TEST(TqzMathSimilarity, CologneCodeTable) {
  struct Case {
    const char16_t* word;
    const char16_t* code;
  } cases[] = {
      {u"", u""},          {u"BAB", u"1"},        {u"AXE", u"4"},       {u"M\u00fcller", u"657"},
      {u"MUELLER", u"657"}, {u"M\u00dcLLER", u"657"}, {u"Meyer", u"67"},   {u"Wikipedia", u"3412"},
      {u"XAVER", u"437"},  {u"SCHULZ", u"858"},   {u"PHILIPP", u"351"}, {u"CA", u"4"},
      {u"CE", u"8"},       {u"D-S", u"8"},        {u"123 !", u""},
      {u"CABCDEFGHIJKLMNOPQRSTUVWXYZSCSZCAACPHDCDSDZCXCKCQ", u"4182345614782348384"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TqzMath::GetColognePhoneticsEquivalent(c.word), UnicodeString(c.code))
        << platform::WideToUtf8(c.word);
}

TEST(TqzMathSimilarity, CologneCodeMatchesReference) {
  const auto rows = qztest::RunOracle("math_oracle.py", {"cologne"});
  ASSERT_GT(rows.size(), 100u);
  for (const auto& r : rows)
    EXPECT_EQ(platform::WideToUtf8(TqzMath::GetColognePhoneticsEquivalent(W(r["word"]))),
              r["code"].get<std::string>())
        << r.dump();
}

TEST(TqzMathSimilarity, PhoneticAccuracy) {
  EXPECT_EQ(TqzMath::GetColognePhoneticsCompareAccuracy(u"Meier", u"Mayer"), 100);
  EXPECT_EQ(TqzMath::GetColognePhoneticsCompareAccuracy(u"M\u00fcller", u"Mueller"), 100);
  // "Schmidt" 862, "Schneider" 8627: one insertion over the shorter length 3.
  EXPECT_NEAR(TqzMath::GetColognePhoneticsCompareAccuracy(u"Schmidt", u"Schneider"), 100 - 100.0 / 3, 1e-9);
  // A precomputed code of the first text replaces the text.
  EXPECT_EQ(TqzMath::GetColognePhoneticsCompareAccuracy(u"ignored", u"Mayer", u"67"), 100);
  EXPECT_EQ(TqzMath::GetColognePhoneticsCompareAccuracy(u"", u""), 100);
  EXPECT_EQ(TqzMath::GetColognePhoneticsCompareAccuracy(u"", u"Mayer"), 0);
}

TEST(TqzMathSimilarity, PatternAccuracyTable) {
  struct Case {
    const char16_t* find;
    const char16_t* source;
    double accuracy;
  } cases[] = {
      {u"", u"", 100},          {u"", u"x", 0},            {u"ab", u"", 0},
      {u"abc", u"abc", 100},    {u"abc", u"ABC", 50},      {u"abc", u"ab", 200.0 / 3},
      {u"abc", u"abcxyz", 100}, {u"a-b", u"a_b", 250.0 / 3}, {u"a b", u"a-b", 250.0 / 3},
      {u"ABC", u"abc", 50},     {u"\u00e4b", u"\u00c4b", 75}, {u"abcd", u"xbzd", 50},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(TqzMath::GetPatternMatchingAccuracy(c.find, c.source), c.accuracy, 1e-9)
        << platform::WideToUtf8(c.find) << " / " << platform::WideToUtf8(c.source);
}

// ---------------------------------------------------------------------------------- geometry, self test

TEST(TqzMathGeometry, PointInRectCountsAllEdges) {
  const TRect r{0, 0, 10, 10};
  EXPECT_TRUE(TqzMath::PointInRect(r, {0, 0}));
  EXPECT_TRUE(TqzMath::PointInRect(r, {10, 10}));
  EXPECT_TRUE(TqzMath::PointInRect(r, {0, 10}));
  EXPECT_FALSE(TqzMath::PointInRect(r, {11, 5}));
  EXPECT_FALSE(TqzMath::PointInRect(r, {5, -1}));
  EXPECT_FALSE(TqzMath::PointInRect(r, {-1, 5}));
  EXPECT_FALSE(TqzMath::PointInRect(r, {5, 11}));
}

TEST(TqzMathSelftest, PassesAtLoad) {
  EXPECT_TRUE(TqzMath::DamerauLevenshteinSelftest());
  EXPECT_TRUE(TqzMath::ColognePhoneticsSelftest());
  EXPECT_TRUE(TqzMath::Selftest());
  EXPECT_EQ(TqzMath::SelftestError(), UnicodeString());
  EXPECT_NO_THROW(TqzMath::CheckSelftest());
}

}  // namespace
