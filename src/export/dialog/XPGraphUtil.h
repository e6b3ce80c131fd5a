// Gradient fills of the owner-drawn tab control: plain bands in four directions, two mirrored
// ones from the centre, the framed "XP" look, picture tiling, and colour shading. Every routine
// draws on a raster canvas and is clipped by it.
#pragma once

#include "Graphics.h"

enum TFillDirection {
  fdTopToBottom,
  fdBottomToTop,
  fdLeftToRight,
  fdRightToLeft,
  fdVerticalFromCenter,
  fdHorizFromCenter,
  fdXP
};

// The colour (system colours resolved) with red, green and blue each reduced by Amount and kept
// within 0..255; a negative amount lightens.
TColor ShadeColor(TColor Color, int Amount);
// Colours bands, first colour at the top or left, for the four plain directions. Channels are
// rounded with halves away from zero; the rest of the extent that the bands leave gets C2
// (top to bottom, left to right) or C1 (the two others).
void FillGradientBands(TCanvas& Canvas, const TDrawRect& R, TColor C1, TColor C2, TFillDirection Direction, int Colors);
// The framed look of fdXP (margin 6, shade 30).
void FillXPStyle(TCanvas& Canvas, const TDrawRect& R, TColor C1, TColor C2, int Colors);
// Dispatch by direction.
void FillGradient(TCanvas& Canvas, const TDrawRect& R, TColor C1, TColor C2, TFillDirection Direction, int Colors);
// Tiles the bitmap over R, clipped to R; an empty bitmap paints nothing.
void TileBitmap(TCanvas& Canvas, const TDrawRect& R, const TCanvas& Bitmap);

inline int Max(int a, int b) { return a > b ? a : b; }
inline int Min(int a, int b) { return a < b ? a : b; }
inline int RectWidth(const TDrawRect& R) { return R.right - R.left; }
inline int RectHeight(const TDrawRect& R) { return R.bottom - R.top; }
