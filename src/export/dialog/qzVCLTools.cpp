#include "qzVCLTools.h"

#include <algorithm>
#include <cfenv>
#include <cmath>

#include "CodePage.h"
#include "Module.h"
#include "qzVersionTools.h"

bool GetFileVersionStrings(const UnicodeString& FileName, TFileInfo& Info) {
  try {
    return ReadFileVersionInfo(FileName, Info);
  } catch (...) {
    return false;
  }
}

UnicodeString GetModuleDescription() {
  TFileInfo info;
  const std::string own = platform::ThisModuleFileName();
  if (own.empty() || !GetFileVersionStrings(platform::Utf8ToWide(own), info)) return u"Unknown";
  return info.FileDescription;
}

namespace {

// c1 + d * num / den, rounded to the nearest integer with halves to even.
int Blend(int c1, int d, double num, double den) {
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const int v = static_cast<int>(std::nearbyint(c1 + d * num / den));
  std::fesetround(saved);
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}

struct Channels {
  int r, g, b, dr, dg, db;
  Channels(TColor c1, TColor c2) {
    c1 = ColorToRGB(c1);
    c2 = ColorToRGB(c2);
    r = GetRValue(c1);
    g = GetGValue(c1);
    b = GetBValue(c1);
    dr = GetRValue(c2) - r;
    dg = GetGValue(c2) - g;
    db = GetBValue(c2) - b;
  }
  platform::Rgb At(double num, double den) const {
    return platform::Rgb{static_cast<uint8_t>(Blend(r, dr, num, den)), static_cast<uint8_t>(Blend(g, dg, num, den)),
                         static_cast<uint8_t>(Blend(b, db, num, den))};
  }
};

}  // namespace

void DrawGradient(TCanvas& Canvas, const TDrawRect& R, TColor C1, TColor C2, TGradientOrientation Orientation,
                  bool Reverse) {
  if (Reverse) std::swap(C1, C2);
  const Channels ch(C1, C2);
  if (Orientation == goLeft2Right || Orientation == goTop2Bottom) {
    const bool across = Orientation == goLeft2Right;
    const int n = across ? R.Width() : R.Height();
    if (n == 0) return;
    // Offsets 0..n inclusive (the last line lies on the right or bottom edge); only those that
    // fall inside the canvas's clip are visited, so a huge rectangle costs no time.
    const TDrawRect clip = Canvas.ClipRect();
    const int64_t origin = across ? R.left : R.top;
    const int64_t first = std::max<int64_t>(0, (across ? clip.left : clip.top) - origin);
    const int64_t last = std::min<int64_t>(n, (across ? clip.right : clip.bottom) - 1 - origin);
    for (int64_t w = first; w <= last; ++w) {
      const platform::Rgb c = ch.At(static_cast<double>(w), n);
      const int at = static_cast<int>(origin + w);
      Canvas.FillRect(across ? TDrawRect{at, R.top, at + 1, R.bottom} : TDrawRect{R.left, at, R.right, at + 1}, c);
    }
    return;
  }
  const int r = std::min(R.Width(), R.Height()) / 2;
  if (r <= 0) return;
  const int cx = R.left + r, cy = R.top + r;
  const TDrawRect clip = Canvas.ClipRect();
  for (int y = std::max(R.top, clip.top); y <= R.bottom && y < clip.bottom; ++y) {
    for (int x = std::max(R.left, clip.left); x <= R.right && x < clip.right; ++x) {
      const double d = std::hypot(static_cast<double>(x - cx), static_cast<double>(y - cy));
      if (d < r) Canvas.SetPixel(x, y, ch.At(d, r));
    }
  }
}

void DrawGradientRow(TCanvas& Canvas, const TDrawRect& R, const TGradRow& Stops, TGradientOrientation Orientation,
                     bool Reverse) {
  if (Orientation == goRadInner2Outer || Stops.size() < 2) return;
  TGradRow stops = Stops;
  if (Reverse) std::reverse(stops.begin(), stops.end());
  const int segments = static_cast<int>(stops.size()) - 1;
  const bool across = Orientation == goLeft2Right;
  const int seg = (across ? R.Width() : R.Height()) / segments;
  for (int i = 0; i < segments; ++i) {
    const TDrawRect part = across ? TDrawRect{R.left + i * seg, R.top, R.left + (i + 1) * seg, R.bottom}
                              : TDrawRect{R.left, R.top + i * seg, R.right, R.top + (i + 1) * seg};
    DrawGradient(Canvas, part, stops[static_cast<size_t>(i)], stops[static_cast<size_t>(i) + 1], Orientation, false);
  }
}
