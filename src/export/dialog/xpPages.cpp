#include "xpPages.h"

#include <algorithm>

// --- TxpTabSheet -----------------------------------------------------------------------------

TxpTabSheet::TxpTabSheet(const UnicodeString& caption) : Caption(caption) {}
TxpTabSheet::~TxpTabSheet() = default;

void TxpTabSheet::Changed() {
  if (OnChange) OnChange();
  if (FPageControl) FPageControl->Changed();
}

void TxpTabSheet::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  Changed();
}

void TxpTabSheet::SetGradientStartColor(TColor Value) {
  if (Value == FGradientStartColor) return;
  FGradientStartColor = Value;
  Changed();
}

void TxpTabSheet::SetGradientEndColor(TColor Value) {
  if (Value == FGradientEndColor) return;
  FGradientEndColor = Value;
  Changed();
}

void TxpTabSheet::SetGradientFillDir(TFillDirection Value) {
  if (Value == FGradientFillDir) return;
  FGradientFillDir = Value;
  Changed();
}

void TxpTabSheet::SetImageIndex(int Value) {
  if (Value < -1) Value = -1;
  if (Value == FImageIndex) return;
  FImageIndex = Value;
  if (FPageControl) {
    for (int i = 0; i < FPageControl->PageCount(); ++i) {
      if (&FPageControl->Page(i) == this) FPageControl->FTabImages[static_cast<size_t>(i)] = Value;
    }
    FPageControl->Changed();
  }
}

void TxpTabSheet::SetBGImage(const TCanvas& Value) {
  FBGImage = Value;
  if (FBGImage.Empty() && (FBGStyle == bgsTileImage || FBGStyle == bgsStrechImage)) FBGStyle = bgsNone;
  Changed();
}

void TxpTabSheet::SetBGStyle(TxpTabBGStyle Value) {
  if (Value == FBGStyle) return;
  FBGStyle = Value;
  Changed();
}

void TxpTabSheet::PaintBackground(TCanvas& Canvas, const TDrawRect& Client) const {
  switch (FBGStyle) {
    case bgsGradient:
      FillGradient(Canvas, Client, FGradientStartColor, FGradientEndColor, FGradientFillDir, 60);
      return;
    case bgsTileImage:
      if (!FBGImage.Empty()) {
        TileBitmap(Canvas, Client, FBGImage);
        return;
      }
      break;
    case bgsStrechImage:
      if (!FBGImage.Empty()) {
        Canvas.StretchDraw(Client, FBGImage);
        return;
      }
      break;
    default:
      break;
  }
  Canvas.FillRect(Client, ToRgb(FColor));
}

// --- TxpPageControl --------------------------------------------------------------------------

TxpPageControl::TxpPageControl() = default;

TxpPageControl::~TxpPageControl() {
  if (FImageList) FImageList->OnChange = nullptr;
}

void TxpPageControl::Changed() {
  if (OnChange) OnChange();
}

TxpTabSheet& TxpPageControl::AddPage(const UnicodeString& Caption) {
  FPages.push_back(std::make_unique<TxpTabSheet>(Caption));
  TxpTabSheet& page = *FPages.back();
  page.FPageControl = this;
  FTabImages.push_back(page.FImageIndex);
  if (FImageList) page.FImageIndex = PageCount() - 1;
  if (FActivePage < 0) FActivePage = 0;
  UpdateGlyphs();
  Changed();
  return page;
}

void TxpPageControl::SetActivePageIndex(int Index) {
  if (Index < 0 || Index >= PageCount() || Index == FActivePage) return;
  FActivePage = Index;
  Changed();
}

void TxpPageControl::SetImageList(TImageList* Value) {
  if (FImageList && FImageList != Value) FImageList->OnChange = nullptr;
  FImageList = Value;
  if (FImageList) {
    for (int i = 0; i < PageCount(); ++i) FPages[static_cast<size_t>(i)]->FImageIndex = i;
    FImageList->OnChange = [this] {
      UpdateGlyphs();
      Changed();
    };
  } else {
    for (auto& page : FPages) page->FImageIndex = -1;
    std::fill(FTabImages.begin(), FTabImages.end(), -1);
  }
  UpdateGlyphs();
  Changed();
}

void TxpPageControl::SetOwnerDraw(bool Value) {
  if (Value == FOwnerDraw) return;
  FOwnerDraw = Value;
  Changed();
}

void TxpPageControl::SetTabTextAlignment(platform::TextAlign Value) {
  if (Value == FTabTextAlignment) return;
  FTabTextAlignment = Value;
  Changed();
}

void TxpPageControl::SetStyle(TxpPageControlStyle Value) {
  if (Value == FStyle) return;
  FStyle = Value;
  Changed();
}

void TxpPageControl::SetTabPosition(TxpTabPosition Value) {
  if (Value == FTabPosition) return;
  FTabPosition = Value;
  Changed();
}

void TxpPageControl::SetTabHeight(int Value) {
  Value = std::max(Value, 1);
  if (Value == FTabHeight) return;
  FTabHeight = Value;
  Changed();
}

void TxpPageControl::UpdateGlyphs() {
  if (!FImageList) return;
  for (int i = 0; i < PageCount(); ++i) {
    int glyph = i;
    if (OnGlyphMap) OnGlyphMap(*this, i, glyph);
    FTabImages[static_cast<size_t>(i)] = glyph;
  }
}

int TxpPageControl::TabImageIndex(int PageIndex) const {
  if (PageIndex < 0 || PageIndex >= PageCount()) return -1;
  return FTabImages[static_cast<size_t>(PageIndex)];
}

void TxpPageControl::Layout(const TCanvas& Measure, int Width, int Height) {
  FWidth = Width;
  FHeight = Height;
  FTabRects.clear();
  FTabPages.clear();
  int x = 2;
  const int top = FTabPosition == tpTop ? 2 : Height - 2 - FTabHeight;
  for (int i = 0; i < PageCount(); ++i) {
    const TxpTabSheet& page = *FPages[static_cast<size_t>(i)];
    if (!page.TabVisible) continue;
    int w = 0, h = 0;
    Measure.TextSize(page.Font, page.Caption, w, h);
    w += 12;
    if (FImageList) w += FImageList->Width + 6;
    w = std::max(w, 40);
    FTabRects.push_back(TDrawRect{x, top, x + w, top + FTabHeight});
    FTabPages.push_back(i);
    x += w;
  }
}

TDrawRect TxpPageControl::TabRect(int VisibleIndex) const {
  if (VisibleIndex < 0 || VisibleIndex >= static_cast<int>(FTabRects.size())) return TDrawRect{};
  return FTabRects[static_cast<size_t>(VisibleIndex)];
}

TDrawRect TxpPageControl::DisplayRect() const {
  // The platform's display rectangle lies 4 pixels inside the frame and 4 below (or above) the
  // tab row; enlarged by 3 on every side and one more at the top.
  const int row = 2 + FTabHeight;
  TDrawRect r = FTabPosition == tpTop ? TDrawRect{4, row + 4, FWidth - 4, FHeight - 4}
                                  : TDrawRect{4, 4, FWidth - 4, FHeight - row - 4};
  r.left -= 3;
  r.top -= 4;
  r.right += 3;
  r.bottom += 3;
  return r;
}

int TxpPageControl::TabAt(int X, int Y) const {
  for (size_t v = 0; v < FTabRects.size(); ++v) {
    const TDrawRect& r = FTabRects[v];
    if (X >= r.left && X < r.right && Y >= r.top && Y < r.bottom) return FTabPages[v];
  }
  return -1;
}

int TxpPageControl::TabIndex() const {
  for (size_t v = 0; v < FTabPages.size(); ++v)
    if (FTabPages[v] == FActivePage) return static_cast<int>(v);
  return -1;
}

void TxpPageControl::Paint(TCanvas& Canvas) {
  Canvas.FillRect(TDrawRect{0, 0, Canvas.Width(), Canvas.Height()}, ToRgb(FBGColor));
  const int selected = TabIndex();
  for (size_t v = 0; v < FTabRects.size(); ++v) {
    const int page = FTabPages[v];
    const TDrawRect rect = FTabRects[v];
    if (FOwnerDraw && OnDrawItem) {
      OnDrawItem(*this, page, Canvas, rect, 0);
    } else if (FTabPosition == tpTop) {
      PaintTopTab(Canvas, page, rect, static_cast<int>(v) == selected);
    } else {
      PaintBottomTab(Canvas, page, rect, static_cast<int>(v) == selected);
    }
  }
}

void TxpPageControl::PaintTopTab(TCanvas& Canvas, int PageIndex, TDrawRect T, bool Selected) {
  T.top -= 2;
  T.left -= 1;
  T.right -= 1;
  const TxpTabSheet& page = *FPages[static_cast<size_t>(PageIndex)];
  TColor fill;
  if (Selected) fill = RGB(63, 109, 186);
  else if (page.TabColor() != clNone) fill = page.TabColor();
  else fill = ShadeColor(FBGColor, 15);
  Canvas.FillRect(TDrawRect{T.left, T.top - 1, T.right - 2, T.bottom}, ToRgb(fill));
  DrawTabContent(PageIndex, Canvas, T, Selected);
}

void TxpPageControl::PaintBottomTab(TCanvas& Canvas, int PageIndex, TDrawRect T, bool Selected) {
  TColor c = FPages[static_cast<size_t>(PageIndex)]->Color();
  T.bottom -= 2;
  if (Selected) {
    T.bottom += 1;
    T.left -= 2;
    T.right += 1;
  } else {
    T.right -= 1;
    T.top += 1;
    c = ShadeColor(c, 5);
  }
  T.bottom += 1;
  const platform::Rgb brush = ToRgb(c), pen = ToRgb(FBorderColor);
  Canvas.Rectangle(TDrawRect{T.left, T.top, T.right, T.bottom - 6}, pen, brush);
  Canvas.RoundRect(TDrawRect{T.left, T.top + 6, T.right, T.bottom}, 6, 6, pen, brush);
  Canvas.FillRect(TDrawRect{T.left + 1, T.top + 6, T.right - 1, T.bottom - 3}, brush);
  if (Selected) {
    Canvas.Rectangle(TDrawRect{T.left + 1, T.top - 1, T.right - 1, T.top + 2}, brush, brush);
  } else {
    Canvas.DrawLine(T.right - 2, T.top + 2, T.right - 2, T.bottom - 2, ToRgb(ShadeColor(c, 20)));
    Canvas.DrawLine(T.right - 3, T.top + 4, T.right - 3, T.bottom - 3, ToRgb(ShadeColor(c, 10)));
    Canvas.DrawLine(T.left + 2, T.bottom - 2, T.right - 2, T.bottom - 2, ToRgb(ShadeColor(c, 20)));
    Canvas.DrawLine(T.left + 3, T.bottom - 3, T.right - 3, T.bottom - 3, ToRgb(ShadeColor(c, 10)));
  }
  DrawTabContent(PageIndex, Canvas, T, false);
}

void TxpPageControl::DrawTabContent(int PageIndex, TCanvas& Canvas, const TDrawRect& ARect, bool Selected) {
  const TxpTabSheet& page = *FPages[static_cast<size_t>(PageIndex)];
  TDrawRect text{ARect.left + 2, ARect.top + 2, ARect.right - 2, ARect.bottom - 2};
  if (FImageList) text.left += FImageList->Width + 6;
  else text.left -= 1;
  platform::FontSpec font = page.Font;
  font.Color = platform::Rgb{255, 255, 255};
  Canvas.DrawText(text, font, page.Caption, FTabTextAlignment, true);
  if (!Selected) font.Color = page.Font.Color;
  Canvas.DrawText(text, font, page.Caption, FTabTextAlignment, true);
  if (FImageList) {
    const int image = TabImageIndex(PageIndex);
    if (image >= 0 && image < static_cast<int>(FImageList->Images.size())) {
      Canvas.Draw(ARect.left + 4, (ARect.top + ARect.bottom - FImageList->Height) / 2 + 1,
                  FImageList->Images[static_cast<size_t>(image)]);
    }
  }
}
