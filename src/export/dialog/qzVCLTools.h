// The dialog's drawing and version tools: the two gradient painters of the header strip and the
// reader of a file's version strings.
#pragma once

#include <vector>

#include "Graphics.h"
#include "Text.h"
#include "qzTypes.h"

enum TGradientOrientation { goLeft2Right, goTop2Bottom, goRadInner2Outer };

// The stops of a gradient.
using TGradRow = std::vector<TColor>;

// The ten version strings of a file (CompanyName ... ProductVersion, Comment).
using TFileInfo = TqzFileInfo;

// Reads the version strings of the file's first translation (each trimmed; a missing one
// empty). True when the version resource was read; a file without one gives "Unknown" in every
// field and false; any other failure gives false. This library's own file answers from the
// version record compiled in.
bool GetFileVersionStrings(const UnicodeString& FileName, TFileInfo& Info);
// The FileDescription of this library's own file, "Unknown" when it cannot be read.
UnicodeString GetModuleDescription();

// One-pixel lines across R from C1 to C2 at every offset 0..n inclusive (n the width or height),
// channels rounded half to even; the radial orientation fills the disc of radius
// min(width, height) div 2 around (left + r, top + r). Clipped to the canvas.
void DrawGradient(TCanvas& Canvas, const TDrawRect& R, TColor C1, TColor C2, TGradientOrientation Orientation,
                  bool Reverse);
// Equal segments of extent div (stops - 1) pixels from the left or top edge, each a DrawGradient
// from one stop to the next; nothing for the radial orientation or fewer than two stops.
void DrawGradientRow(TCanvas& Canvas, const TDrawRect& R, const TGradRow& Stops, TGradientOrientation Orientation,
                     bool Reverse);
