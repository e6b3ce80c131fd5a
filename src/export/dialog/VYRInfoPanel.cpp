#include "VYRInfoPanel.h"

#include "InfoPanelPictures.h"
#include "SysUtils.h"

namespace {

using PanelKind = VYRInfoPanel::TqzTypes;

constexpr platform::Rgb kBlack{0, 0, 0};
constexpr platform::Rgb kGrey{128, 128, 128};

TCanvas LoadPicture(std::u16string_view name) {
  TCanvas picture;
  const uint8_t* data = nullptr;
  size_t size = 0;
  if (FindJpegResource(name, data, size)) platform::DecodeJpeg(data, size, picture);
  return picture;
}

}  // namespace

TVYRInfoPanel::TVYRInfoPanel()
    : ImageUser(LoadPicture(u"USEREXIT")),
      ImageExport(LoadPicture(u"EXPORTSERVICE")),
      ImageConvert(LoadPicture(u"CONVERSION")),
      ImagePlugin(LoadPicture(u"PLUGIN")),
      ImageReco(LoadPicture(u"RECOGNITION")) {
  FFont.Name = u"Tahoma";
  FFont.SizePt = 8;
  FFont.Color = kBlack;
  DescriptionSource = [] { return GetModuleDescription(); };
}

void TVYRInfoPanel::SetTitle(const UnicodeString& Value) {
  FFont.Color = kBlack;
  FTitle = Value;
  Changed();
}

void TVYRInfoPanel::SetSubject(const UnicodeString& Value) {
  FFont.Color = kGrey;
  FSubject = Value;
  Changed();
}

void TVYRInfoPanel::SetFont(const platform::FontSpec& Value) {
  FFont = Value;
  Changed();
}

void TVYRInfoPanel::SetStartColor(TColor Value) {
  FStartColor = Value;
  Changed();
}

void TVYRInfoPanel::SetEndeColor(TColor Value) {
  FEndeColor = Value;
  Changed();
}

void TVYRInfoPanel::SetGradientOrientation(TGradientOrientation Value) {
  FGradOrient = Value;
  Changed();
}

void TVYRInfoPanel::SetPicture(const TCanvas& Value) {
  FPicture = Value;
  Changed();
}

void TVYRInfoPanel::SetPanelType(PanelKind Value) {
  FTypes = Value;
  if (Value == PanelKind::Custom) {
    FSet = false;
  } else {
    FSet = true;
    const char16_t* title = nullptr;
    switch (Value) {
      case PanelKind::UserExit: title = u"Configure userexit"; break;
      case PanelKind::Exportservice: title = u"Configure exportservice"; break;
      case PanelKind::Conversion: title = u"Configure conversion engine"; break;
      case PanelKind::Plugin: title = u"Configure plugin engine"; break;
      case PanelKind::Recognition: title = u"Configure recognition engine"; break;
      default: break;
    }
    if (title) {
      FTitle = title;
      FSubject = DescriptionSource ? DescriptionSource() : UnicodeString(u"Unknown");
      FStart = true;
    } else {
      // Plugin_Custom keeps the caller's title and subject.
      FSet = false;
    }
  }
  Changed();
}

const TCanvas& TVYRInfoPanel::PictureFor(PanelKind Type) const {
  switch (Type) {
    case PanelKind::UserExit: return ImageUser;
    case PanelKind::Exportservice: return ImageExport;
    case PanelKind::Conversion: return ImageConvert;
    case PanelKind::Recognition: return ImageReco;
    case PanelKind::Plugin:
    case PanelKind::Plugin_Custom: return ImagePlugin;
    default: return FPicture;
  }
}

void TVYRInfoPanel::Paint(TCanvas& Canvas) {
  const int W = Canvas.Width(), H = Canvas.Height();
  if (FSet && FStart) {
    FStart = false;
    FSubject = DescriptionSource ? DescriptionSource() : UnicodeString(u"Unknown");
    if (platform::Trim(FSubject).rfind(u"#####", 0) == 0) FSubject = u"#####";
  }
  Canvas.FillRect(TDrawRect{0, 0, W, H}, platform::Rgb{255, 255, 255});
  iGrad = TGradRow{FStartColor, FEndeColor};
  DrawGradientRow(Canvas, TDrawRect{64, 0, W, H}, iGrad, FGradOrient, false);
  Canvas.DrawFocusRect(TDrawRect{0, 0, W, H});

  platform::FontSpec title = FFont, subject = FFont;
  title.Color = kBlack;
  title.Bold = true;
  subject.Color = kGrey;
  int tw = 0, th = 0, sw = 0, sh = 0;
  Canvas.TextSize(title, FTitle, tw, th);
  Canvas.TextSize(subject, FSubject, sw, sh);
  Canvas.DrawText(TDrawRect{72, 16, W, 16 + th}, title, FTitle, platform::TextAlign::Left, false);
  Canvas.DrawText(TDrawRect{72, 32, W, 32 + sh}, subject, FSubject, platform::TextAlign::Left, false);

  Canvas.DrawFocusRect(TDrawRect{8, 8, 56, 56});
  Canvas.Draw(8, 8, PictureFor(FTypes));
  Canvas.FrameRect(TDrawRect{8, 8, 56, 56}, ToRgb(FStartColor));
}
