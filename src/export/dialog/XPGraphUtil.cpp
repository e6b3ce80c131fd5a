#include "XPGraphUtil.h"

#include <algorithm>
#include <cmath>

namespace {

int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// first + i * delta / steps, halves away from zero (std::round).
int Step(int first, int delta, int i, int steps) {
  return static_cast<int>(std::lround(first + static_cast<double>(i) * delta / steps));
}

}  // namespace

TColor ShadeColor(TColor Color, int Amount) {
  const TColor c = ColorToRGB(Color);
  return RGB(Clamp255(GetRValue(c) - Amount), Clamp255(GetGValue(c) - Amount), Clamp255(GetBValue(c) - Amount));
}

void FillGradientBands(TCanvas& Canvas, const TDrawRect& R, TColor C1, TColor C2, TFillDirection Direction, int Colors) {
  if (R.Empty()) return;
  if (Colors < 2) {
    Canvas.FillRect(R, ToRgb(C1));
    return;
  }
  const bool reversed = Direction == fdBottomToTop || Direction == fdRightToLeft;
  const bool vertical = Direction == fdTopToBottom || Direction == fdBottomToTop;
  const TColor first = ColorToRGB(reversed ? C2 : C1), last = ColorToRGB(reversed ? C1 : C2);
  const int extent = vertical ? R.Height() : R.Width();
  const int n = Max(Min(Colors, extent), 2);
  const int band = extent / n;
  auto bandRect = [&](int offset, int thickness) {
    return vertical ? TDrawRect{R.left, R.top + offset, R.right, R.top + offset + thickness}
                    : TDrawRect{R.left + offset, R.top, R.left + offset + thickness, R.bottom};
  };
  if (band > 0) {
    const int dr = GetRValue(last) - GetRValue(first), dg = GetGValue(last) - GetGValue(first),
              db = GetBValue(last) - GetBValue(first);
    for (int i = 0; i < n; ++i) {
      const TColor c = RGB(Step(GetRValue(first), dr, i, n - 1), Step(GetGValue(first), dg, i, n - 1),
                           Step(GetBValue(first), db, i, n - 1));
      Canvas.FillRect(bandRect(i * band, band), ToRgb(c));
    }
  }
  const int rest = extent % n;
  if (rest > 0) Canvas.FillRect(bandRect(extent - rest, rest), ToRgb(reversed ? C1 : C2));
}

namespace {

// Step 4 of the XP look: each one-pixel row of the left margin blends from the pixel left of it
// to the pixel right of it. Rows whose end pixels lie outside the canvas are left alone.
void BlendLeftMargin(TCanvas& Canvas, const TDrawRect& R, int margin) {
  for (int y = R.top + margin; y <= R.bottom; ++y) {
    platform::Rgb from, to;
    if (!Canvas.ReadPixel(R.left, y, from) || !Canvas.ReadPixel(R.left + margin + 1, y, to)) continue;
    FillGradientBands(Canvas, TDrawRect{R.left + 1, y, R.left + margin, y + 1}, FromRgb(from), FromRgb(to), fdLeftToRight,
                      8);
  }
}

}  // namespace

void FillXPStyle(TCanvas& Canvas, const TDrawRect& R, TColor C1, TColor C2, int Colors) {
  const int margin = 6, shade = 30;
  Canvas.FrameRect(R, ToRgb(C2));
  FillGradientBands(Canvas, TDrawRect{R.left + margin, R.top + margin, R.right, R.bottom - margin}, C2, C1, fdTopToBottom,
                    Colors);
  FillGradientBands(Canvas, TDrawRect{R.left + margin, R.bottom - margin, R.right, R.bottom}, C1, C2, fdTopToBottom, Colors);
  BlendLeftMargin(Canvas, R, margin);
  const TColor light = ShadeColor(C1, -shade);
  FillGradientBands(Canvas, TDrawRect{R.left + margin, R.top, R.right, R.top + 1}, light, C1, fdTopToBottom, 8);
  FillGradientBands(Canvas, TDrawRect{R.left + margin, R.top + 1, R.right, R.top + margin}, C1, C2, fdTopToBottom, 8);
  FillGradientBands(Canvas, TDrawRect{R.left, R.top + margin, R.left + 1, R.bottom}, light, C1, fdLeftToRight, 8);
  BlendLeftMargin(Canvas, R, margin);
  for (int i = 0; i <= margin; ++i) {
    platform::Rgb c;
    if (!Canvas.ReadPixel(R.left + i, R.top + margin + 1, c)) continue;
    Canvas.DrawLine(R.left + i, R.top + margin, R.left + i, R.top + i, c);
    Canvas.DrawLine(R.left + i, R.top + i, R.left + margin, R.top + i, c);
  }
}

void FillGradient(TCanvas& Canvas, const TDrawRect& R, TColor C1, TColor C2, TFillDirection Direction, int Colors) {
  switch (Direction) {
    case fdVerticalFromCenter: {
      const int half = R.Height() / 2;
      FillGradientBands(Canvas, TDrawRect{R.left, R.top, R.right, R.top + half}, C1, C2, fdTopToBottom, Colors);
      FillGradientBands(Canvas, TDrawRect{R.left, R.top + half, R.right, R.bottom}, C1, C2, fdBottomToTop, Colors);
      break;
    }
    case fdHorizFromCenter: {
      const int half = R.Width() / 2;
      FillGradientBands(Canvas, TDrawRect{R.left, R.top, R.left + half, R.bottom}, C1, C2, fdLeftToRight, Colors);
      FillGradientBands(Canvas, TDrawRect{R.left + half, R.top, R.right, R.bottom}, C1, C2, fdRightToLeft, Colors);
      break;
    }
    case fdXP:
      FillXPStyle(Canvas, R, C1, C2, Colors);
      break;
    default:
      FillGradientBands(Canvas, R, C1, C2, Direction, Colors);
      break;
  }
}

void TileBitmap(TCanvas& Canvas, const TDrawRect& R, const TCanvas& Bitmap) {
  if (Bitmap.Width() <= 0 || Bitmap.Height() <= 0) return;
  const TDrawRect saved = Canvas.ClipRect();
  Canvas.SetClipRect(TDrawRect{Max(R.left, saved.left), Max(R.top, saved.top), Min(R.right, saved.right),
                           Min(R.bottom, saved.bottom)});
  const int w = Bitmap.Width(), h = Bitmap.Height();
  const TDrawRect clip = Canvas.ClipRect();
  // Only the copies that reach the clip rectangle are drawn, so a huge R costs no time.
  const int64_t cols = (static_cast<int64_t>(R.right) - R.left) / w, rows = (static_cast<int64_t>(R.bottom) - R.top) / h;
  const int64_t c0 = std::max<int64_t>(0, (static_cast<int64_t>(clip.left) - R.left) / w);
  const int64_t r0 = std::max<int64_t>(0, (static_cast<int64_t>(clip.top) - R.top) / h);
  const int64_t c1 = std::min<int64_t>(cols, (static_cast<int64_t>(clip.right) - R.left) / w);
  const int64_t r1 = std::min<int64_t>(rows, (static_cast<int64_t>(clip.bottom) - R.top) / h);
  for (int64_t c = c0; c <= c1; ++c)
    for (int64_t r = r0; r <= r1; ++r)
      Canvas.Draw(static_cast<int>(R.left + c * w), static_cast<int>(R.top + r * h), Bitmap);
  Canvas.SetClipRect(saved);
}
