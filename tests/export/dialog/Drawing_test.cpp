// The dialog's drawing routines on the raster canvas, pixel by pixel against the Python oracle
// tests/peers/gradient_oracle.py (written apart from the code), plus the fixed values that the
// routines must give and the clipping that keeps every routine inside the canvas.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "RasterCanvas.h"
#include "TestSupport.h"
#include "XPGraphUtil.h"
#include "qzVCLTools.h"

namespace {

using platform::Rgb;
using nlohmann::json;

json C(TColor c) { return json::array({GetRValue(c), GetGValue(c), GetBValue(c)}); }

// The canvas as the oracle writes it: rows of [r, g, b].
json Pixels(const TCanvas& canvas) {
  json rows = json::array();
  for (int y = 0; y < canvas.Height(); ++y) {
    json row = json::array();
    for (int x = 0; x < canvas.Width(); ++x) {
      const Rgb p = canvas.Pixel(x, y);
      row.push_back(json::array({p.r, p.g, p.b}));
    }
    rows.push_back(row);
  }
  return rows;
}

struct Case {
  const char* name;
  json oracle;                         // the case as the oracle takes it
  std::function<void(TCanvas&)> draw;  // the same on our canvas
};

constexpr TColor kFill = RGB(7, 8, 9);

json Base(const char* op, int w, int h, TDrawRect r) {
  return json{{"op", op}, {"w", w}, {"h", h}, {"fill", C(kFill)}, {"rect", {r.left, r.top, r.right, r.bottom}}};
}

void RunCases(const std::vector<Case>& cases) {
  std::vector<std::string> args;
  for (const Case& c : cases) args.push_back(c.oracle.dump());
  const auto expected = qztest::RunOracle("gradient_oracle.py", args);
  ASSERT_EQ(expected.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const json& o = cases[i].oracle;
    TCanvas canvas(o["w"].get<int>(), o["h"].get<int>(), ToRgb(kFill));
    cases[i].draw(canvas);
    EXPECT_EQ(Pixels(canvas), expected[i]) << cases[i].name;
  }
}

const char* OrientName(TGradientOrientation o) {
  return o == goLeft2Right ? "lr" : (o == goTop2Bottom ? "tb" : "radial");
}

TEST(DrawGradient, MatchesOracleInEveryOrientationWithClipping) {
  struct G {
    const char* name;
    int w, h;
    TDrawRect r;
    TColor c1, c2;
    TGradientOrientation o;
    bool reverse;
  };
  const G table[] = {
      {"strip white to 239, last line on the right edge", 12, 3, {0, 0, 10, 3}, clWhite, RGB(239, 239, 239), goLeft2Right, false},
      {"last line falls outside the canvas", 10, 2, {0, 0, 10, 2}, clWhite, RGB(239, 239, 239), goLeft2Right, false},
      {"top to bottom, reversed, three channels", 5, 9, {1, 1, 4, 8}, RGB(10, 200, 30), RGB(250, 0, 131), goTop2Bottom, true},
      {"rectangle partly left of and above the canvas", 6, 6, {-3, -2, 4, 5}, RGB(0, 0, 0), RGB(255, 100, 51), goLeft2Right, false},
      {"empty width draws nothing", 4, 4, {2, 0, 2, 4}, clWhite, clBlack, goLeft2Right, false},
      {"radial disc, borders included", 11, 9, {0, 0, 10, 8}, RGB(255, 0, 0), RGB(0, 0, 255), goRadInner2Outer, false},
      {"radial reaching outside the canvas", 5, 5, {-2, -2, 8, 8}, clWhite, clBlack, goRadInner2Outer, true},
  };
  std::vector<Case> cases;
  for (const G& g : table) {
    json o = Base("gradient", g.w, g.h, g.r);
    o["c1"] = C(g.c1);
    o["c2"] = C(g.c2);
    o["orient"] = OrientName(g.o);
    o["reverse"] = g.reverse;
    cases.push_back({g.name, o, [g](TCanvas& cv) { DrawGradient(cv, g.r, g.c1, g.c2, g.o, g.reverse); }});
  }
  RunCases(cases);
}

TEST(DrawGradient, StripValuesRoundHalfToEven) {
  TCanvas canvas(11, 1, Rgb{0, 0, 0});
  DrawGradient(canvas, TDrawRect{0, 0, 10, 1}, clWhite, RGB(239, 239, 239), goLeft2Right, false);
  const int expected[] = {255, 253, 252, 250, 249, 247, 245, 244, 242, 241, 239};
  for (int x = 0; x < 11; ++x) EXPECT_EQ(canvas.Pixel(x, 0), (Rgb{uint8_t(expected[x]), uint8_t(expected[x]), uint8_t(expected[x])})) << x;
}

TEST(DrawGradientRow, SegmentsMatchOracle) {
  struct R {
    const char* name;
    int w, h;
    TDrawRect r;
    TGradRow stops;
    TGradientOrientation o;
    bool reverse;
  };
  const R table[] = {
      {"three stops over 100 pixels: two segments of 50", 101, 2, {0, 0, 100, 2}, {clWhite, clBlack, RGB(0, 0, 255)}, goLeft2Right, false},
      {"reversed stops, top to bottom, uneven extent", 3, 12, {0, 1, 3, 11}, {RGB(1, 2, 3), RGB(90, 80, 70), RGB(200, 0, 9), RGB(5, 5, 5)}, goTop2Bottom, true},
      {"one stop paints nothing", 6, 2, {0, 0, 6, 2}, {clWhite}, goLeft2Right, false},
      {"radial paints nothing", 6, 6, {0, 0, 6, 6}, {clWhite, clBlack}, goRadInner2Outer, false},
  };
  std::vector<Case> cases;
  for (const R& g : table) {
    json o = Base("row", g.w, g.h, g.r);
    json stops = json::array();
    for (TColor c : g.stops) stops.push_back(C(c));
    o["stops"] = stops;
    o["orient"] = OrientName(g.o);
    o["reverse"] = g.reverse;
    cases.push_back({g.name, o, [g](TCanvas& cv) { DrawGradientRow(cv, g.r, g.stops, g.o, g.reverse); }});
  }
  RunCases(cases);
}

TEST(FillGradient, BandsAndCentreDirectionsMatchOracle) {
  struct B {
    const char* name;
    int w, h;
    TDrawRect r;
    TColor c1, c2;
    TFillDirection d;
    const char* dir;
    int colors;
  };
  const B table[] = {
      {"0 to 5 in 3 colours: 0, 3, 5 (halves away from zero)", 2, 3, {0, 0, 2, 3}, RGB(0, 0, 0), RGB(5, 5, 5), fdTopToBottom, "tb", 3},
      {"10 pixels, 60 colours: 10 bands", 2, 10, {0, 0, 2, 10}, RGB(0, 10, 200), RGB(255, 0, 100), fdTopToBottom, "tb", 60},
      {"25 pixels, 2 colours: 12 + 12 + one row of C2", 2, 25, {0, 0, 2, 25}, RGB(20, 40, 60), RGB(220, 140, 0), fdTopToBottom, "tb", 2},
      {"bottom to top with a rest of C1", 2, 23, {0, 0, 2, 23}, RGB(200, 0, 0), RGB(0, 0, 200), fdBottomToTop, "bt", 5},
      {"left to right, negative deltas", 17, 2, {0, 0, 17, 2}, RGB(255, 128, 3), RGB(0, 129, 0), fdLeftToRight, "lr", 4},
      {"right to left inside a larger canvas", 20, 5, {3, 1, 18, 4}, RGB(9, 99, 199), RGB(199, 99, 9), fdRightToLeft, "rl", 6},
      {"fewer than two colours fill with C1", 4, 4, {0, 0, 4, 4}, RGB(1, 2, 3), RGB(4, 5, 6), fdTopToBottom, "tb", 1},
      {"vertical from the centre", 2, 21, {0, 0, 2, 21}, RGB(255, 255, 255), RGB(0, 64, 128), fdVerticalFromCenter, "vc", 60},
      {"horizontal from the centre", 15, 2, {0, 0, 15, 2}, RGB(10, 20, 30), RGB(250, 240, 230), fdHorizFromCenter, "hc", 4},
      {"rectangle beyond the canvas", 6, 6, {-5, 2, 40, 30}, RGB(0, 0, 0), RGB(255, 255, 255), fdLeftToRight, "lr", 60},
  };
  std::vector<Case> cases;
  for (const B& g : table) {
    json o = Base("bands", g.w, g.h, g.r);
    o["c1"] = C(g.c1);
    o["c2"] = C(g.c2);
    o["dir"] = g.dir;
    o["colors"] = g.colors;
    cases.push_back({g.name, o, [g](TCanvas& cv) { FillGradient(cv, g.r, g.c1, g.c2, g.d, g.colors); }});
  }
  RunCases(cases);
}

TEST(FillGradient, CentreDirectionHasC1AtBothEdgesAndC2InTheMiddle) {
  TCanvas canvas(1, 40);
  FillGradient(canvas, TDrawRect{0, 0, 1, 40}, RGB(10, 10, 10), RGB(200, 200, 200), fdVerticalFromCenter, 60);
  EXPECT_EQ(canvas.Pixel(0, 0), (Rgb{10, 10, 10}));
  EXPECT_EQ(canvas.Pixel(0, 39), (Rgb{10, 10, 10}));
  EXPECT_EQ(canvas.Pixel(0, 19), (Rgb{200, 200, 200}));
  EXPECT_EQ(canvas.Pixel(0, 20), (Rgb{200, 200, 200}));
}

TEST(ShadeColor, DarkensAndLightensWithinRange) {
  struct S {
    TColor c;
    int amount;
  };
  const S table[] = {{RGB(10, 200, 250), 15}, {RGB(10, 200, 250), -30}, {RGB(0, 0, 0), -300}, {RGB(3, 128, 255), 300},
                     {RGB(17, 34, 51), 0}};
  std::vector<std::string> args;
  for (const S& s : table) args.push_back(json{{"op", "shade"}, {"c", C(s.c)}, {"amount", s.amount}}.dump());
  const auto expected = qztest::RunOracle("gradient_oracle.py", args);
  ASSERT_EQ(expected.size(), std::size(table));
  for (size_t i = 0; i < std::size(table); ++i)
    EXPECT_EQ(C(ShadeColor(table[i].c, table[i].amount)), expected[i]) << i;
  EXPECT_EQ(ShadeColor(RGB(10, 200, 250), 15), RGB(0, 185, 235));
  EXPECT_EQ(ShadeColor(RGB(10, 200, 250), -30), RGB(40, 230, 255));
  // System colours are resolved first: button face is (240, 240, 240).
  EXPECT_EQ(ShadeColor(clBtnFace, 15), RGB(225, 225, 225));
}

// The XP look over the whole canvas reads the pixel row below the rectangle and the column right
// of the margin; with the rectangle flush with the canvas those reads fall outside it and must be
// skipped, not made (the sanitizers watch the buffer).
TEST(FillXPStyle, StaysInsideTheCanvasAndDrawsItsFrame) {
  for (const TDrawRect r : {TDrawRect{0, 0, 30, 20}, TDrawRect{2, 3, 25, 18}, TDrawRect{-4, -4, 12, 9}, TDrawRect{0, 0, 7, 7}}) {
    TCanvas canvas(30, 20, ToRgb(kFill));
    FillGradient(canvas, r, RGB(200, 210, 220), RGB(60, 70, 80), fdXP, 60);
    if (r.left >= 0 && r.top >= 0 && r.right <= 30 && r.bottom <= 20 && r.Width() > 14) {
      // The one-pixel top line ends in C1; the body starts with C2 at its top row.
      EXPECT_EQ(canvas.Pixel(r.right - 2, r.top), (Rgb{200, 210, 220}));
      EXPECT_EQ(canvas.Pixel(r.right - 1, r.top + 6), (Rgb{60, 70, 80}));
      // Nothing outside the rectangle but the row below it, which the margin blend reaches.
      if (r.left > 0) {
        EXPECT_EQ(canvas.Pixel(r.left - 1, r.top + 2), ToRgb(kFill));
      }
      if (r.top > 0) {
        EXPECT_EQ(canvas.Pixel(r.left + 2, r.top - 1), ToRgb(kFill));
      }
    }
  }
}

TEST(TileBitmap, RepeatsThePictureClippedToTheRectangle) {
  TCanvas tile(3, 2);
  const Rgb a{1, 2, 3}, b{200, 100, 50};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) tile.SetPixel(x, y, (x + y) % 2 ? a : b);
  TCanvas canvas(12, 9, ToRgb(kFill));
  TileBitmap(canvas, TDrawRect{1, 1, 9, 8}, tile);
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 12; ++x) {
      const bool inside = x >= 1 && x < 9 && y >= 1 && y < 8;
      const Rgb want = inside ? tile.Pixel((x - 1) % 3, (y - 1) % 2) : ToRgb(kFill);
      EXPECT_EQ(canvas.Pixel(x, y), want) << x << "," << y;
    }
  }
  EXPECT_EQ(canvas.ClipRect(), (TDrawRect{0, 0, 12, 9}));  // the clip comes back

  TCanvas untouched(4, 4, ToRgb(kFill));
  TileBitmap(untouched, TDrawRect{0, 0, 4, 4}, TCanvas());
  EXPECT_EQ(untouched.Pixel(2, 2), ToRgb(kFill));
  // A huge rectangle costs only the copies that reach the canvas.
  TileBitmap(untouched, TDrawRect{-2000000000, -2000000000, 2000000000, 2000000000}, tile);
  EXPECT_EQ(untouched.Pixel(0, 0), tile.Pixel(2, 0));
}

TEST(RasterCanvas, FocusRectangleInvertsEveryOtherPixelAndUndoesItself) {
  TCanvas canvas(6, 5, Rgb{10, 20, 30});
  canvas.DrawFocusRect(TDrawRect{0, 0, 6, 5});
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) {
      const bool edge = x == 0 || y == 0 || x == 5 || y == 4;
      const bool inverted = edge && (x + y) % 2 == 0;
      EXPECT_EQ(canvas.Pixel(x, y), inverted ? (Rgb{245, 235, 225}) : (Rgb{10, 20, 30})) << x << "," << y;
    }
  }
  canvas.DrawFocusRect(TDrawRect{0, 0, 6, 5});
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(canvas.Pixel(x, y), (Rgb{10, 20, 30}));
}

TEST(RasterCanvas, RefusesDamagedJpeg) {
  TCanvas picture;
  const std::string garbage = "\xff\xd8\xff\xe0 not really a jpeg";
  EXPECT_FALSE(platform::DecodeJpeg(reinterpret_cast<const uint8_t*>(garbage.data()), garbage.size(), picture));
  EXPECT_TRUE(picture.Empty());
  EXPECT_FALSE(platform::DecodeJpeg(nullptr, 0, picture));
}

}  // namespace
