#include "RasterCanvas.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>

namespace platform {

RasterCanvas::RasterCanvas(int width, int height, Rgb fill) { Resize(width, height, fill); }

void RasterCanvas::Resize(int width, int height, Rgb fill) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  pixels_.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 3, 0);
  clip_ = Rect{0, 0, width_, height_};
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x) Put(x, y, fill);
}

bool RasterCanvas::ReadPixel(int x, int y, Rgb& out) const {
  if (!Contains(x, y)) return false;
  const uint8_t* p = pixels_.data() + (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 3;
  out = Rgb{p[0], p[1], p[2]};
  return true;
}

Rgb RasterCanvas::Pixel(int x, int y) const {
  Rgb c;
  ReadPixel(x, y, c);
  return c;
}

void RasterCanvas::SetPixel(int x, int y, Rgb c) {
  if (Visible(x, y)) Put(x, y, c);
}

void RasterCanvas::FillRect(const Rect& r, Rgb c) {
  const int l = std::max(r.left, clip_.left), t = std::max(r.top, clip_.top);
  const int rr = std::min(r.right, clip_.right), b = std::min(r.bottom, clip_.bottom);
  for (int y = t; y < b; ++y)
    for (int x = l; x < rr; ++x) Put(x, y, c);
}

void RasterCanvas::FrameRect(const Rect& r, Rgb c) {
  if (r.Empty()) return;
  FillRect(Rect{r.left, r.top, r.right, r.top + 1}, c);
  FillRect(Rect{r.left, r.bottom - 1, r.right, r.bottom}, c);
  FillRect(Rect{r.left, r.top, r.left + 1, r.bottom}, c);
  FillRect(Rect{r.right - 1, r.top, r.right, r.bottom}, c);
}

void RasterCanvas::DrawLine(int x1, int y1, int x2, int y2, Rgb c) {
  // Bresenham; the loop is bounded by the longer axis, so far-away points cost time, not memory.
  const int dx = std::abs(x2 - x1), sx = x1 < x2 ? 1 : -1;
  const int dy = -std::abs(y2 - y1), sy = y1 < y2 ? 1 : -1;
  int err = dx + dy;
  int x = x1, y = y1;
  while (!(x == x2 && y == y2)) {
    SetPixel(x, y, c);
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
}

void RasterCanvas::Rectangle(const Rect& r, Rgb pen, Rgb brush) {
  if (r.Empty()) return;
  FillRect(Rect{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, brush);
  FrameRect(r, pen);
}

void RasterCanvas::RoundRect(const Rect& r, int cornerW, int cornerH, Rgb pen, Rgb brush) {
  if (r.Empty()) return;
  const double rx = std::min(cornerW, r.Width()) / 2.0, ry = std::min(cornerH, r.Height()) / 2.0;
  // Inside test of the shape: the rectangle with its four corners cut along quarter ellipses.
  auto inside = [&](int x, int y) {
    if (x < r.left || y < r.top || x >= r.right || y >= r.bottom) return false;
    if (rx <= 0 || ry <= 0) return true;
    const double px = x + 0.5, py = y + 0.5;
    double cx, cy;
    if (px < r.left + rx) cx = r.left + rx;
    else if (px > r.right - rx) cx = r.right - rx;
    else return true;
    if (py < r.top + ry) cy = r.top + ry;
    else if (py > r.bottom - ry) cy = r.bottom - ry;
    else return true;
    const double nx = (px - cx) / rx, ny = (py - cy) / ry;
    return nx * nx + ny * ny <= 1.0;
  };
  const int t = std::max(r.top, clip_.top), b = std::min(r.bottom, clip_.bottom);
  const int l = std::max(r.left, clip_.left), rr = std::min(r.right, clip_.right);
  for (int y = t; y < b; ++y) {
    for (int x = l; x < rr; ++x) {
      if (!inside(x, y)) continue;
      const bool edge = !inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1);
      Put(x, y, edge ? pen : brush);
    }
  }
}

void RasterCanvas::DrawFocusRect(const Rect& r) {
  if (r.Empty()) return;
  auto flip = [&](int x, int y) {
    if (((x + y) & 1) != 0 || !Visible(x, y)) return;
    uint8_t* p = pixels_.data() + (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 3;
    p[0] ^= 0xFF;
    p[1] ^= 0xFF;
    p[2] ^= 0xFF;
  };
  for (int x = r.left; x < r.right; ++x) {
    flip(x, r.top);
    if (r.bottom - 1 > r.top) flip(x, r.bottom - 1);
  }
  for (int y = r.top + 1; y < r.bottom - 1; ++y) {
    flip(r.left, y);
    if (r.right - 1 > r.left) flip(r.right - 1, y);
  }
}

void RasterCanvas::Draw(int x, int y, const RasterCanvas& src) {
  const int t = std::max(y, clip_.top), b = std::min(y + src.height_, clip_.bottom);
  const int l = std::max(x, clip_.left), rr = std::min(x + src.width_, clip_.right);
  for (int yy = t; yy < b; ++yy)
    for (int xx = l; xx < rr; ++xx) Put(xx, yy, src.Pixel(xx - x, yy - y));
}

void RasterCanvas::StretchDraw(const Rect& r, const RasterCanvas& src) {
  if (r.Empty() || src.Empty()) return;
  const int t = std::max(r.top, clip_.top), b = std::min(r.bottom, clip_.bottom);
  const int l = std::max(r.left, clip_.left), rr = std::min(r.right, clip_.right);
  for (int y = t; y < b; ++y) {
    const int sy = static_cast<int>(static_cast<int64_t>(y - r.top) * src.height_ / r.Height());
    for (int x = l; x < rr; ++x) {
      const int sx = static_cast<int>(static_cast<int64_t>(x - r.left) * src.width_ / r.Width());
      Put(x, y, src.Pixel(sx, sy));
    }
  }
}

void RasterCanvas::SetClipRect(const Rect& clip) {
  clip_ = Rect{std::max(clip.left, 0), std::max(clip.top, 0), std::min(clip.right, width_),
               std::min(clip.bottom, height_)};
  if (clip_.right < clip_.left) clip_.right = clip_.left;
  if (clip_.bottom < clip_.top) clip_.bottom = clip_.top;
}

void RasterCanvas::ResetClip() { clip_ = Rect{0, 0, width_, height_}; }

void RasterCanvas::TextSize(const FontSpec& font, const std::u16string& text, int& width, int& height) const {
  width = height = 0;
  if (text_) text_->Measure(font, text, width, height);
}

void RasterCanvas::DrawText(const Rect& box, const FontSpec& font, const std::u16string& text, TextAlign align,
                            bool ellipsis) {
  if (!text_ || text.empty()) return;
  // The renderer draws into the box and the canvas clip: the two intersected.
  Rect clipped{std::max(box.left, clip_.left), std::max(box.top, clip_.top), std::min(box.right, clip_.right),
               std::min(box.bottom, clip_.bottom)};
  if (clipped.Empty()) return;
  const Rect saved = clip_;
  clip_ = clipped;
  text_->Draw(*this, box, font, text, align, ellipsis);
  clip_ = saved;
}

// --- JPEG ------------------------------------------------------------------------------------

namespace {

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info) {
  auto* err = reinterpret_cast<JpegError*>(info->err);
  std::longjmp(err->jump, 1);
}

void OnJpegMessage(j_common_ptr) {}

}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, RasterCanvas& out) {
  if (!data || size == 0) return false;
  jpeg_decompress_struct info{};
  JpegError err{};
  info.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = OnJpegError;
  err.mgr.output_message = OnJpegMessage;
  // Everything that must survive the jump lives in the canvas built below or is plain data.
  RasterCanvas* result = new RasterCanvas();
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&info);
    delete result;
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&info);
    delete result;
    return false;
  }
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  if (info.output_components != 3 || info.output_width > 16384 || info.output_height > 16384) {
    jpeg_destroy_decompress(&info);
    delete result;
    return false;
  }
  result->Resize(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = result->Bits() + static_cast<size_t>(info.output_scanline) * static_cast<size_t>(result->Stride());
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  out = std::move(*result);
  delete result;
  return true;
}

}  // namespace platform
