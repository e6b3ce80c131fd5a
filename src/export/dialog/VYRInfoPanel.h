// TVYRInfoPanel: the 64-pixel header strip of the plug-in dialogs: a 48 x 48 picture at the left,
// a bold title, a grey subject line and a colour gradient. The strip keeps its properties and
// paints itself onto a raster canvas; the Qt widget that shows it (InfoPanelWidget) asks it to
// paint and repaints whenever OnChange fires.
#pragma once

#include <functional>

#include "Graphics.h"
#include "Text.h"
#include "qzVCLTools.h"

namespace VYRInfoPanel {
enum class TqzTypes { UserExit, Exportservice, Conversion, Recognition, Plugin, Plugin_Custom, Custom };
}

class TVYRInfoPanel {
 public:
  TVYRInfoPanel();

  const UnicodeString& Title() const { return FTitle; }
  void SetTitle(const UnicodeString& Value);
  const UnicodeString& Subject() const { return FSubject; }
  void SetSubject(const UnicodeString& Value);
  const platform::FontSpec& Font() const { return FFont; }
  void SetFont(const platform::FontSpec& Value);
  TColor StartColor() const { return FStartColor; }
  void SetStartColor(TColor Value);
  TColor EndeColor() const { return FEndeColor; }
  void SetEndeColor(TColor Value);
  TGradientOrientation GradientOrientation() const { return FGradOrient; }
  void SetGradientOrientation(TGradientOrientation Value);
  // Reading the type has no side effect.
  VYRInfoPanel::TqzTypes PanelType() const { return FTypes; }
  void SetPanelType(VYRInfoPanel::TqzTypes Value);
  const TCanvas& Picture() const { return FPicture; }
  void SetPicture(const TCanvas& Value);
  bool Scroll() const { return FScroll; }
  void SetScroll(bool Value) { FScroll = Value; }

  int Height() const { return FHeight; }
  // The two stops of the last painted gradient.
  const TGradRow& LastGradient() const { return iGrad; }
  // The picture a panel type shows (the custom picture for Custom).
  const TCanvas& PictureFor(VYRInfoPanel::TqzTypes Type) const;

  // Paints the whole strip over (0, 0, canvas width, canvas height).
  void Paint(TCanvas& Canvas);

  // Called after every change that needs a repaint.
  std::function<void()> OnChange;
  // Where the subject of a standard panel type comes from; GetModuleDescription by default.
  std::function<UnicodeString()> DescriptionSource;

 private:
  void Changed() {
    if (OnChange) OnChange();
  }

  TColor FStartColor = clWhite;
  TColor FEndeColor = RGB(239, 239, 239);
  TGradientOrientation FGradOrient = goLeft2Right;
  VYRInfoPanel::TqzTypes FTypes = VYRInfoPanel::TqzTypes::Custom;
  UnicodeString FTitle = u"Title";
  UnicodeString FSubject = u"Subject";
  TCanvas FPicture;
  bool FScroll = false;
  bool FStart = false;  // the subject has not yet been refreshed from the version strings
  bool FSet = false;    // the panel type is one with a standard title
  TGradRow iGrad;
  platform::FontSpec FFont;
  int FHeight = 64;
  TCanvas ImageUser, ImageExport, ImageConvert, ImagePlugin, ImageReco;
};
