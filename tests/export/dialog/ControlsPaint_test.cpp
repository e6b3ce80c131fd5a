// The header strip and the owner-drawn tab control, painted onto the raster canvas without a
// toolkit: a recording text renderer stands in for the fonts, every pixel the controls draw
// themselves is checked.
#include <gtest/gtest.h>

#include <vector>

#include "PeFixtures.h"
#include "RasterCanvas.h"
#include "TestSupport.h"
#include "VYRInfoPanel.h"
#include "XPGraphUtil.h"
#include "CodePage.h"
#include "qzVersionTools.h"
#include "xpPages.h"

namespace {

using platform::Rgb;

// Measures 6 pixels per character and 13 per line; remembers every text drawn.
struct RecordingRenderer : platform::TextRenderer {
  struct Call {
    platform::Rect box;
    platform::FontSpec font;
    std::u16string text;
    platform::TextAlign align;
    bool ellipsis;
  };
  std::vector<Call> calls;
  void Measure(const platform::FontSpec&, const std::u16string& text, int& w, int& h) override {
    w = static_cast<int>(text.size()) * 6;
    h = 13;
  }
  void Draw(platform::RasterCanvas&, const platform::Rect& box, const platform::FontSpec& font, const std::u16string& text,
            platform::TextAlign align, bool ellipsis) override {
    calls.push_back({box, font, text, align, ellipsis});
  }
};

TEST(InfoPanel, ExportserviceStripPixelsAndTexts) {
  TVYRInfoPanel panel;
  panel.SetPanelType(VYRInfoPanel::TqzTypes::Exportservice);
  TCanvas canvas(833, 64, Rgb{1, 2, 3});
  RecordingRenderer text;
  canvas.SetTextRenderer(&text);
  panel.Paint(canvas);

  EXPECT_EQ(canvas.Pixel(64, 30), (Rgb{255, 255, 255}));
  EXPECT_EQ(canvas.Pixel(832, 33), (Rgb{239, 239, 239}));  // the focus rectangle leaves odd x + y alone
  EXPECT_EQ(canvas.Pixel(832, 32), (Rgb{16, 16, 16}));     // and inverts even ones
  EXPECT_EQ(canvas.Pixel(448, 30), (Rgb{247, 247, 247}));  // 255 - 16 * 384 / 769 = 247.01
  EXPECT_EQ(canvas.Pixel(40, 60), (Rgb{255, 255, 255}));   // left of the gradient: white
  EXPECT_EQ(panel.LastGradient(), (TGradRow{clWhite, RGB(239, 239, 239)}));
  // The picture at (8, 8) inside a frame in the start colour.
  const TCanvas& picture = panel.PictureFor(VYRInfoPanel::TqzTypes::Exportservice);
  ASSERT_EQ(picture.Width(), 48);
  ASSERT_EQ(picture.Height(), 48);
  EXPECT_EQ(canvas.Pixel(30, 31), picture.Pixel(22, 23));
  for (int i = 8; i < 56; ++i) {
    EXPECT_EQ(canvas.Pixel(i, 8), (Rgb{255, 255, 255}));
    EXPECT_EQ(canvas.Pixel(55, i), (Rgb{255, 255, 255}));
  }

  ASSERT_EQ(text.calls.size(), 2u);
  EXPECT_EQ(text.calls[0].text, u"Configure exportservice");
  EXPECT_EQ(text.calls[0].box, (platform::Rect{72, 16, 833, 29}));
  EXPECT_EQ(text.calls[0].font.Color, (Rgb{0, 0, 0}));
  EXPECT_EQ(text.calls[1].text, TqzLibraryVersion::FileInfo().FileDescription);
  EXPECT_EQ(text.calls[1].box, (platform::Rect{72, 32, 833, 45}));
  EXPECT_EQ(text.calls[1].font.Color, (Rgb{128, 128, 128}));
}

TEST(InfoPanel, PanelTypesTitlesAndSubjects) {
  struct T {
    VYRInfoPanel::TqzTypes type;
    const char16_t* title;
  };
  const T table[] = {{VYRInfoPanel::TqzTypes::UserExit, u"Configure userexit"},
                     {VYRInfoPanel::TqzTypes::Exportservice, u"Configure exportservice"},
                     {VYRInfoPanel::TqzTypes::Conversion, u"Configure conversion engine"},
                     {VYRInfoPanel::TqzTypes::Plugin, u"Configure plugin engine"},
                     {VYRInfoPanel::TqzTypes::Recognition, u"Configure recognition engine"},
                     {VYRInfoPanel::TqzTypes::Plugin_Custom, u"Mine"},
                     {VYRInfoPanel::TqzTypes::Custom, u"Mine"}};
  for (const T& t : table) {
    TVYRInfoPanel panel;
    panel.DescriptionSource = [] { return UnicodeString(u"  ####### built by hand"); };
    panel.SetTitle(u"Mine");
    panel.SetSubject(u"Own subject");
    panel.SetPanelType(t.type);
    EXPECT_EQ(panel.Title(), t.title);
    TCanvas canvas(200, 64);
    panel.Paint(canvas);
    const bool standard = t.type != VYRInfoPanel::TqzTypes::Custom && t.type != VYRInfoPanel::TqzTypes::Plugin_Custom;
    // A description beginning with five "#" shows as exactly "#####".
    EXPECT_EQ(panel.Subject(), standard ? u"#####" : u"Own subject");
    EXPECT_EQ(panel.PanelType(), t.type);
  }
  // Reading the panel type changes nothing.
  TVYRInfoPanel panel;
  panel.SetPanelType(VYRInfoPanel::TqzTypes::Conversion);
  panel.SetEndeColor(clRed);
  panel.SetGradientOrientation(goTop2Bottom);
  EXPECT_EQ(panel.PanelType(), VYRInfoPanel::TqzTypes::Conversion);
  EXPECT_EQ(panel.EndeColor(), clRed);
  EXPECT_EQ(panel.GradientOrientation(), goTop2Bottom);
}

TEST(InfoPanel, RadialOrientationShowsNoGradient) {
  TVYRInfoPanel panel;
  panel.SetGradientOrientation(goRadInner2Outer);
  panel.SetEndeColor(RGB(0, 0, 0));
  TCanvas canvas(300, 64, Rgb{9, 9, 9});
  panel.Paint(canvas);
  for (int x = 64; x < 299; x += 7) EXPECT_EQ(canvas.Pixel(x, 31), (Rgb{255, 255, 255})) << x;
}

struct Tabs {
  TxpPageControl control;
  RecordingRenderer text;
  TCanvas canvas{300, 120};
  Tabs() {
    control.SetBackgroundColor(RGB(230, 230, 230));
    control.AddPage(u"Basics");
    control.AddPage(u"Addon database").SetTabColor(RGB(10, 120, 30));
    control.AddPage(u"Info").Font.Color = Rgb{0, 0, 200};
    canvas.SetTextRenderer(&text);
  }
  void Paint() {
    control.Layout(canvas, canvas.Width(), canvas.Height());
    text.calls.clear();
    control.Paint(canvas);
  }
};

TEST(PageControl, TopTabsColoursTextsAndPageArea) {
  Tabs t;
  t.Paint();
  // Tabs from x = 2: caption width + 12, at least 40.
  EXPECT_EQ(t.control.TabRect(0), (TDrawRect{2, 2, 50, 24}));
  EXPECT_EQ(t.control.TabRect(1), (TDrawRect{50, 2, 146, 24}));
  EXPECT_EQ(t.control.TabRect(2), (TDrawRect{146, 2, 186, 24}));
  EXPECT_EQ(t.control.DisplayRect(), (TDrawRect{1, 24, 299, 119}));
  EXPECT_EQ(t.control.TabAt(60, 10), 1);
  EXPECT_EQ(t.control.TabAt(250, 10), -1);
  // Selected: blue from one pixel left of the tab to three left of its right edge, up to the top.
  EXPECT_EQ(t.canvas.Pixel(1, 0), (Rgb{63, 109, 186}));
  EXPECT_EQ(t.canvas.Pixel(46, 23), (Rgb{63, 109, 186}));
  EXPECT_EQ(t.canvas.Pixel(47, 10), (Rgb{230, 230, 230}));
  EXPECT_EQ(t.canvas.Pixel(52, 10), (Rgb{10, 120, 30}));       // its own tab colour
  EXPECT_EQ(t.canvas.Pixel(150, 10), (Rgb{215, 215, 215}));    // none: the background shaded by 15
  EXPECT_EQ(t.canvas.Pixel(200, 10), (Rgb{230, 230, 230}));    // background
  // Each caption twice, first in white; selected stays white, the others take their font colour.
  ASSERT_EQ(t.text.calls.size(), 6u);
  EXPECT_EQ(t.text.calls[0].font.Color, (Rgb{255, 255, 255}));
  EXPECT_EQ(t.text.calls[1].font.Color, (Rgb{255, 255, 255}));
  EXPECT_EQ(t.text.calls[5].font.Color, (Rgb{0, 0, 200}));
  EXPECT_EQ(t.text.calls[0].box, (TDrawRect{2, 2, 47, 22}));  // T (1, 0, 49, 24) less 2, the left edge one further out
  EXPECT_EQ(t.text.calls[0].align, platform::TextAlign::Center);
  EXPECT_TRUE(t.text.calls[0].ellipsis);

  // Another page selected: the blue moves; Style does not change the look.
  t.control.SetActivePageIndex(2);
  t.control.SetStyle(pcsKESTA);
  t.Paint();
  EXPECT_EQ(t.canvas.Pixel(150, 10), (Rgb{63, 109, 186}));
  EXPECT_EQ(t.canvas.Pixel(10, 10), (Rgb{215, 215, 215}));
}

TEST(PageControl, BottomTabsShadeTheirPageColour) {
  Tabs t;
  t.control.SetTabPosition(tpBottom);
  t.control.SetBorderColor(RGB(192, 192, 192));
  t.control.Page(1).SetColor(RGB(100, 150, 200));
  t.Paint();
  const TDrawRect r = t.control.TabRect(1);  // unselected: (50, 96, 146, 118)
  EXPECT_EQ(r, (TDrawRect{50, 96, 146, 118}));
  // T: right 145, top 97, bottom 117; colour shaded by 5; shading lines by 20 and 10.
  EXPECT_EQ(t.canvas.Pixel(143, 105), (Rgb{75, 125, 175}));   // x = right - 2
  EXPECT_EQ(t.canvas.Pixel(142, 105), (Rgb{85, 135, 185}));   // x = right - 3
  EXPECT_EQ(t.canvas.Pixel(100, 115), (Rgb{75, 125, 175}));   // y = bottom - 2
  EXPECT_EQ(t.canvas.Pixel(100, 100), (Rgb{95, 145, 195}));   // body
  EXPECT_EQ(t.canvas.Pixel(50, 100), (Rgb{192, 192, 192}));   // border
  // Bottom captions always take the font colour at the second pass.
  EXPECT_EQ(t.text.calls[1].font.Color, (Rgb{0, 0, 0}));
  EXPECT_EQ(t.control.DisplayRect(), (TDrawRect{1, 0, 299, 95}));
}

TEST(PageControl, OwnerDrawGlyphsAndSheetProperties) {
  Tabs t;
  std::vector<std::pair<int, TDrawRect>> drawn;
  t.control.OnDrawItem = [&](TxpPageControl&, int index, TCanvas&, const TDrawRect& rect, int state) {
    EXPECT_EQ(state, 0);
    drawn.emplace_back(index, rect);
  };
  t.control.SetOwnerDraw(true);
  t.control.Page(1).TabVisible = false;
  t.Paint();
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_EQ(drawn[1].first, 2);
  EXPECT_EQ(drawn[1].second, t.control.TabRect(1));
  EXPECT_TRUE(t.text.calls.empty());

  TImageList images;
  images.Width = images.Height = 4;
  for (uint8_t v : {10, 20, 30}) images.Images.emplace_back(4, 4, Rgb{v, v, v});
  t.control.OnGlyphMap = [](TxpPageControl&, int page, int& glyph) { glyph = 2 - page; };
  t.control.SetImageList(&images);
  EXPECT_EQ(t.control.Page(2).ImageIndex(), 2);
  EXPECT_EQ(t.control.TabImageIndex(0), 2);
  t.control.SetOwnerDraw(false);
  t.control.Page(1).TabVisible = true;
  t.Paint();
  const TDrawRect r0 = t.control.TabRect(0);
  EXPECT_EQ(t.canvas.Pixel(r0.left + 4, (r0.top + r0.bottom - 4) / 2 + 1), (Rgb{30, 30, 30}));
  t.control.SetImageList(nullptr);
  EXPECT_EQ(t.control.Page(0).ImageIndex(), -1);

  TxpTabSheet& sheet = t.control.Page(0);
  sheet.SetImageIndex(-5);
  EXPECT_EQ(sheet.ImageIndex(), -1);
  sheet.SetBGStyle(bgsTileImage);
  sheet.SetBGImage(TCanvas());
  EXPECT_EQ(sheet.BGStyle(), bgsNone);
  EXPECT_EQ(sheet.GradientEndColor(), clSilver);
  EXPECT_EQ(sheet.TabColor(), clNone);
}

TEST(PageControl, PageBackgrounds) {
  TxpPageControl control;
  TxpTabSheet& sheet = control.AddPage(u"P");
  const TDrawRect client{0, 0, 20, 30};
  TCanvas got(20, 30), want(20, 30);
  sheet.SetColor(RGB(239, 239, 239));
  sheet.PaintBackground(got, client);
  EXPECT_EQ(got.Pixel(19, 29), (Rgb{239, 239, 239}));

  sheet.SetGradientFillDir(fdVerticalFromCenter);
  sheet.SetBGStyle(bgsGradient);
  sheet.PaintBackground(got, client);
  FillGradient(want, client, clWhite, clSilver, fdVerticalFromCenter, 60);
  for (int y = 0; y < 30; ++y) EXPECT_EQ(got.Pixel(5, y), want.Pixel(5, y)) << y;

  TCanvas picture(2, 2, Rgb{5, 6, 7});
  picture.SetPixel(1, 1, Rgb{50, 60, 70});
  sheet.SetBGImage(picture);
  sheet.SetBGStyle(bgsTileImage);
  sheet.PaintBackground(got, client);
  EXPECT_EQ(got.Pixel(3, 3), (Rgb{50, 60, 70}));
  EXPECT_EQ(got.Pixel(4, 3), (Rgb{5, 6, 7}));
  sheet.SetBGStyle(bgsStrechImage);
  sheet.PaintBackground(got, client);
  EXPECT_EQ(got.Pixel(0, 0), (Rgb{5, 6, 7}));
  EXPECT_EQ(got.Pixel(19, 29), (Rgb{50, 60, 70}));
}

// The version strings the strip's subject comes from, read from PE images built with the LLVM
// tools: the first translation's table, values trimmed, missing ones empty.
TEST(VersionStrings, FirstTranslationTrimmedAndUnknownWithoutResource) {
  if (const std::string missing = qztest::PeToolsMissing(); !missing.empty()) GTEST_SKIP() << missing;
  qztest::TempDir dir("qzvcl");
  qztest::PeFixtureOptions options;
  options.Strings = {{"CompanyName", " Kesta "}, {"FileDescription", "Probe\u00e4 library"}, {"Comment", "a note"}};
  const std::string with = qztest::BuildPeFixture(dir.Path(), "with.dll", options);
  TFileInfo info;
  ASSERT_TRUE(GetFileVersionStrings(platform::Utf8ToWide(with), info));
  EXPECT_EQ(info.CompanyName, u"Kesta");
  EXPECT_EQ(info.FileDescription, u"Probe\u00e4 library");
  EXPECT_EQ(info.Comment, u"a note");
  EXPECT_EQ(info.ProductName, u"");

  options.WithVersionResource = false;
  const std::string without = qztest::BuildPeFixture(dir.Path(), "without.dll", options);
  EXPECT_FALSE(GetFileVersionStrings(platform::Utf8ToWide(without), info));
  EXPECT_EQ(info.CompanyName, u"Unknown");
  EXPECT_EQ(info.Comment, u"Unknown");
  EXPECT_FALSE(GetFileVersionStrings(u"/nonexistent/file.dll", info));
  // This library's own file answers from the version record compiled in.
  EXPECT_EQ(GetModuleDescription(), TqzLibraryVersion::FileInfo().FileDescription);
}

}  // namespace
