// Our own raster canvas: an RGB buffer (3 bytes per pixel, rows top to bottom) with the handful
// of drawing primitives the dialog's painters need, all clipped to the canvas and to an optional
// clip rectangle, so no routine can touch memory outside the buffer whatever coordinates it is
// given. The Qt side shows a canvas by wrapping its buffer in a QImage (Format_RGB888).
//
// Rectangles follow the platform convention the painters were written for: left and top are
// inside, right and bottom are one past the last column and row. Lines drawn with DrawLine leave
// out their end point, as LineTo does.
//
// Text is not rasterised here: the canvas hands it to a TextRenderer (the Qt side draws with the
// platform's fonts straight into the buffer); without one, text is measured as empty and drawing
// it paints nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  // Extents computed without overflow, saturated to the int range.
  int Width() const { return Saturate(static_cast<int64_t>(right) - left); }
  int Height() const { return Saturate(static_cast<int64_t>(bottom) - top); }
  static int Saturate(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : static_cast<int>(v));
  }
  bool Empty() const { return right <= left || bottom <= top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// What a text is drawn with.
struct FontSpec {
  std::u16string Name = u"Tahoma";
  int SizePt = 8;
  bool Bold = false;
  Rgb Color{0, 0, 0};
  friend bool operator==(const FontSpec&, const FontSpec&) = default;
};

enum class TextAlign { Left, Center, Right };

class RasterCanvas;

class TextRenderer {
 public:
  virtual ~TextRenderer() = default;
  // Width and height of one line of text in pixels.
  virtual void Measure(const FontSpec& font, const std::u16string& text, int& width, int& height) = 0;
  // Draws one line of text into `box` (clipped to it and to the canvas), vertically centred,
  // aligned horizontally as asked, with "..." at the end when `ellipsis` is set and the text is
  // wider than the box.
  virtual void Draw(RasterCanvas& canvas, const Rect& box, const FontSpec& font, const std::u16string& text,
                    TextAlign align, bool ellipsis) = 0;
};

class RasterCanvas {
 public:
  RasterCanvas() = default;
  RasterCanvas(int width, int height, Rgb fill = Rgb{255, 255, 255});

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ <= 0 || height_ <= 0; }
  // The buffer: Height() rows of Stride() bytes, 3 bytes (R, G, B) per pixel.
  uint8_t* Bits() { return pixels_.data(); }
  const uint8_t* Bits() const { return pixels_.data(); }
  int Stride() const { return width_ * 3; }
  void Resize(int width, int height, Rgb fill = Rgb{255, 255, 255});

  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  // The pixel at (x, y); false (and `out` untouched) outside the canvas.
  bool ReadPixel(int x, int y, Rgb& out) const;
  // The pixel at (x, y); black outside the canvas.
  Rgb Pixel(int x, int y) const;
  void SetPixel(int x, int y, Rgb c);

  void FillRect(const Rect& r, Rgb c);
  // A one-pixel frame along the inside of r.
  void FrameRect(const Rect& r, Rgb c);
  // From (x1, y1) towards (x2, y2), the end point left out (Bresenham).
  void DrawLine(int x1, int y1, int x2, int y2, Rgb c);
  // Frame in `pen`, inside filled with `brush`.
  void Rectangle(const Rect& r, Rgb pen, Rgb brush);
  // As Rectangle with corners rounded by an ellipse of cornerW × cornerH.
  void RoundRect(const Rect& r, int cornerW, int cornerH, Rgb pen, Rgb brush);
  // The dotted focus rectangle: every other pixel of the frame along the inside of r inverted
  // (those with an even x + y), so drawing it twice restores the picture.
  void DrawFocusRect(const Rect& r);
  // Copies `src` with its top left corner at (x, y).
  void Draw(int x, int y, const RasterCanvas& src);
  // Scales `src` over r (nearest neighbour).
  void StretchDraw(const Rect& r, const RasterCanvas& src);

  // Drawing is further limited to `clip` (intersected with the canvas) until ResetClip.
  void SetClipRect(const Rect& clip);
  void ResetClip();
  Rect ClipRect() const { return clip_; }

  void SetTextRenderer(TextRenderer* renderer) { text_ = renderer; }
  TextRenderer* GetTextRenderer() const { return text_; }
  void TextSize(const FontSpec& font, const std::u16string& text, int& width, int& height) const;
  void DrawText(const Rect& box, const FontSpec& font, const std::u16string& text, TextAlign align, bool ellipsis);

 private:
  bool Visible(int x, int y) const {
    return x >= clip_.left && y >= clip_.top && x < clip_.right && y < clip_.bottom;
  }
  void Put(int x, int y, Rgb c) {
    uint8_t* p = pixels_.data() + (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 3;
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
  }

  int width_ = 0, height_ = 0;
  std::vector<uint8_t> pixels_;
  Rect clip_;
  TextRenderer* text_ = nullptr;
};

// Decodes a JPEG picture (baseline or progressive, greyscale or colour) with libjpeg into
// `out`. False, `out` untouched, for data that is no JPEG or is damaged.
bool DecodeJpeg(const uint8_t* data, size_t size, RasterCanvas& out);

}  // namespace platform
