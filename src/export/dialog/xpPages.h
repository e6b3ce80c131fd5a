// TxpPageControl and TxpTabSheet: the owner-painted tab control of the configuration dialog. The
// control keeps its pages, lays out their tabs, paints tabs and page backgrounds onto a raster
// canvas and reports changes through OnChange; the Qt widget that shows it (PageControlWidget)
// forwards clicks and paints what this class draws.
//
// Tab layout (the part the platform's tab control did): tabs sit in one row 2 pixels from the
// edge, from x = 2, each as wide as its caption plus 6 pixels at either side (and the image plus
// 6 with an image list), at least 40; the page area is the display rectangle enlarged by 3
// pixels on every side and one more at the top, so it starts right below (or ends right above)
// the tab row.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "Graphics.h"
#include "Text.h"
#include "XPGraphUtil.h"

enum TxpPageControlStyle { pcsXP, pcsKESTA };
enum TxpTabPosition { tpTop, tpBottom };
enum TxpTabBGStyle { bgsNone, bgsGradient, bgsTileImage, bgsStrechImage };

// Images shown on tabs, all of one size.
struct TImageList {
  int Width = 16, Height = 16;
  std::vector<TCanvas> Images;
  // Called when the list changes (see NotifyChange).
  std::function<void()> OnChange;
  void NotifyChange() {
    if (OnChange) OnChange();
  }
};

class TxpPageControl;

class TxpTabSheet {
 public:
  explicit TxpTabSheet(const UnicodeString& Caption = {});
  ~TxpTabSheet();

  UnicodeString Caption;
  bool TabVisible = true;
  platform::FontSpec Font;

  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  TColor TabColor() const { return FTabColor; }
  void SetTabColor(TColor Value) { FTabColor = Value; }
  TColor GradientStartColor() const { return FGradientStartColor; }
  void SetGradientStartColor(TColor Value);
  TColor GradientEndColor() const { return FGradientEndColor; }
  void SetGradientEndColor(TColor Value);
  TFillDirection GradientFillDir() const { return FGradientFillDir; }
  void SetGradientFillDir(TFillDirection Value);
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int Value);
  bool ShowTabHint() const { return FShowTabHint; }
  void SetShowTabHint(bool Value) { FShowTabHint = Value; }
  const UnicodeString& TabHint() const { return FTabHint; }
  void SetTabHint(const UnicodeString& Value) { FTabHint = Value; }
  const TCanvas& BGImage() const { return FBGImage; }
  void SetBGImage(const TCanvas& Value);
  TxpTabBGStyle BGStyle() const { return FBGStyle; }
  void SetBGStyle(TxpTabBGStyle Value);

  TxpPageControl* PageControl() const { return FPageControl; }
  // The page background over its client area (0, 0, width, height), by BGStyle.
  void PaintBackground(TCanvas& Canvas, const TDrawRect& Client) const;

  // Called after a change that needs a repaint of the page.
  std::function<void()> OnChange;

 private:
  friend class TxpPageControl;
  void Changed();

  TxpPageControl* FPageControl = nullptr;
  TColor FColor = clWhite;
  TColor FTabColor = clNone;
  TColor FGradientStartColor = clWhite;
  TColor FGradientEndColor = clSilver;
  TFillDirection FGradientFillDir = fdTopToBottom;
  int FImageIndex = -1;
  bool FShowTabHint = false;
  UnicodeString FTabHint;
  TCanvas FBGImage;
  TxpTabBGStyle FBGStyle = bgsNone;
};

class TxpPageControl {
 public:
  using TDrawItemEvent = std::function<void(TxpPageControl& Control, int Index, TCanvas& ACanvas, const TDrawRect& ARect,
                                            int State)>;
  using TGlyphMapEvent = std::function<void(TxpPageControl& Control, int PageIndex, int& GlyphIndex)>;

  TxpPageControl();
  virtual ~TxpPageControl();

  // Pages, owned by the control, in page order.
  TxpTabSheet& AddPage(const UnicodeString& Caption);
  int PageCount() const { return static_cast<int>(FPages.size()); }
  TxpTabSheet& Page(int Index) { return *FPages.at(static_cast<size_t>(Index)); }
  int ActivePageIndex() const { return FActivePage; }
  void SetActivePageIndex(int Index);

  TImageList* ImageList() const { return FImageList; }
  void SetImageList(TImageList* Value);
  TDrawItemEvent OnDrawItem;
  TGlyphMapEvent OnGlyphMap;
  bool OwnerDraw() const { return FOwnerDraw; }
  void SetOwnerDraw(bool Value);
  TColor BackgroundColor() const { return FBGColor; }
  void SetBackgroundColor(TColor Value) { FBGColor = Value; }
  platform::TextAlign TabTextAlignment() const { return FTabTextAlignment; }
  void SetTabTextAlignment(platform::TextAlign Value);
  TxpPageControlStyle Style() const { return FStyle; }
  void SetStyle(TxpPageControlStyle Value);
  TColor BorderColor() const { return FBorderColor; }
  void SetBorderColor(TColor Value) { FBorderColor = Value; }
  TxpTabPosition TabPosition() const { return FTabPosition; }
  void SetTabPosition(TxpTabPosition Value);
  int TabHeight() const { return FTabHeight; }
  void SetTabHeight(int Value);

  // Lays the tabs out for a control of Width × Height; `Measure` measures the captions (its text
  // renderer; without one every caption counts as 0 pixels wide).
  void Layout(const TCanvas& Measure, int Width, int Height);
  // The rectangle of visible tab v (after Layout); an empty rectangle for an unknown v.
  TDrawRect TabRect(int VisibleIndex) const;
  // The page area (the display rectangle, adjusted so the pages cover the control's border).
  TDrawRect DisplayRect() const;
  // The page index of the tab under (x, y), -1 for none.
  int TabAt(int X, int Y) const;
  // The visible index of the active page's tab (the tab control's selection), -1 for none.
  int TabIndex() const;
  // The image index a page's tab shows (-1 none).
  int TabImageIndex(int PageIndex) const;

  // Paints the tab row and the background around the pages over the whole canvas.
  void Paint(TCanvas& Canvas);

  virtual void DrawTabContent(int PageIndex, TCanvas& Canvas, const TDrawRect& ARect, bool Selected);
  virtual void UpdateGlyphs();

  // Called after a change that needs a new layout and a repaint.
  std::function<void()> OnChange;

 private:
  friend class TxpTabSheet;
  void Changed();
  void PaintTopTab(TCanvas& Canvas, int PageIndex, TDrawRect T, bool Selected);
  void PaintBottomTab(TCanvas& Canvas, int PageIndex, TDrawRect T, bool Selected);

  std::vector<std::unique_ptr<TxpTabSheet>> FPages;
  std::vector<int> FTabImages;   // per page
  std::vector<TDrawRect> FTabRects;  // per visible tab
  std::vector<int> FTabPages;    // page index per visible tab
  int FActivePage = -1;
  int FWidth = 0, FHeight = 0;
  TImageList* FImageList = nullptr;
  TColor FBGColor = clBtnFace;
  TColor FBorderColor = clSilver;
  bool FOwnerDraw = false;
  TxpPageControlStyle FStyle = pcsKESTA;
  TxpTabPosition FTabPosition = tpTop;
  platform::TextAlign FTabTextAlignment = platform::TextAlign::Center;
  int FTabHeight = 22;
};
