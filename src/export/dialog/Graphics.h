// Colours as the dialog's controls keep them: a TColor is 0x00BBGGRR for a plain colour, a system
// colour is 0x80000000 plus the index of the display element, and clNone marks "no colour".
// ColorToRGB resolves system colours to the classic light theme's values.
#pragma once

#include <algorithm>
#include <cstdint>

#include "RasterCanvas.h"

using TColor = int32_t;

constexpr TColor RGB(int r, int g, int b) {
  return static_cast<TColor>((static_cast<uint32_t>(b & 0xFF) << 16) | (static_cast<uint32_t>(g & 0xFF) << 8) |
                             static_cast<uint32_t>(r & 0xFF));
}
constexpr int GetRValue(TColor c) { return static_cast<int>(static_cast<uint32_t>(c) & 0xFF); }
constexpr int GetGValue(TColor c) { return static_cast<int>((static_cast<uint32_t>(c) >> 8) & 0xFF); }
constexpr int GetBValue(TColor c) { return static_cast<int>((static_cast<uint32_t>(c) >> 16) & 0xFF); }

constexpr TColor clBlack = RGB(0, 0, 0);
constexpr TColor clWhite = RGB(255, 255, 255);
constexpr TColor clSilver = RGB(192, 192, 192);
constexpr TColor clGray = RGB(128, 128, 128);
constexpr TColor clRed = RGB(255, 0, 0);
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clBtnText = clSystemColor | 18;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;
constexpr TColor clGrayText = clSystemColor | 17;

// A system colour resolved to its value; clNone and plain colours keep their low 24 bits.
constexpr TColor ColorToRGB(TColor c) {
  if ((static_cast<uint32_t>(c) & 0xFF000000u) == 0x80000000u) {
    switch (static_cast<uint32_t>(c) & 0xFF) {
      case 5: return RGB(255, 255, 255);    // window
      case 8: return RGB(0, 0, 0);          // window text
      case 13: return RGB(0, 120, 215);     // highlight
      case 14: return RGB(255, 255, 255);   // highlight text
      case 15: return RGB(240, 240, 240);   // button face
      case 17: return RGB(109, 109, 109);   // grey text
      case 18: return RGB(0, 0, 0);         // button text
      default: return RGB(192, 192, 192);
    }
  }
  return static_cast<TColor>(static_cast<uint32_t>(c) & 0x00FFFFFFu);
}

inline platform::Rgb ToRgb(TColor c) {
  const TColor v = ColorToRGB(c);
  return platform::Rgb{static_cast<uint8_t>(GetRValue(v)), static_cast<uint8_t>(GetGValue(v)),
                       static_cast<uint8_t>(GetBValue(v))};
}
inline TColor FromRgb(platform::Rgb c) { return RGB(c.r, c.g, c.b); }

using TDrawRect = platform::Rect;
using TCanvas = platform::RasterCanvas;
