#include "Desktop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include <jpeglib.h>


namespace platform {

std::string FileUri(const std::string& path) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : path) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      uri.push_back(static_cast<char>(c));
    } else {
      uri.push_back('%');
      uri.push_back(hex[c >> 4]);
      uri.push_back(hex[c & 15]);
    }
  }
  return uri;
}

bool HasDesktop() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

namespace {

// ---- XCB helpers -------------------------------------------------------------------------------

struct ConnectionCloser {
  void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using Connection = std::unique_ptr<xcb_connection_t, ConnectionCloser>;

template <class T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <class T>
Reply<T> MakeReply(T* p) {
  return Reply<T>(p, &std::free);
}

// A connection to the display DISPLAY names and its default screen; null without one.
Connection Connect(xcb_screen_t*& screen) {
  screen = nullptr;
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return nullptr;
  int number = 0;
  Connection c(xcb_connect(display, &number));
  if (!c || xcb_connection_has_error(c.get())) return nullptr;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c.get()));
  for (int i = 0; it.rem && i < number; ++i) xcb_screen_next(&it);
  if (!it.rem) return nullptr;
  screen = it.data;
  return c;
}

xcb_atom_t Atom(xcb_connection_t* c, const std::string& name) {
  auto reply = MakeReply(xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::min<size_t>(name.size(), 0xFFFF)), name.c_str()), nullptr));
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// The bytes of a window property (at most 1 MiB), and its type.
bool GetProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, std::string& data, xcb_atom_t* type = nullptr,
                 uint8_t* format = nullptr) {
  auto reply = MakeReply(
      xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 18), nullptr));
  if (!reply || reply->type == XCB_ATOM_NONE) return false;
  const int len = xcb_get_property_value_length(reply.get());
  data.assign(static_cast<const char*>(xcb_get_property_value(reply.get())), static_cast<size_t>(std::max(len, 0)));
  if (type) *type = reply->type;
  if (format) *format = reply->format;
  return true;
}

// Waits up to `timeoutMs` for an event that `wanted` accepts; other events are dropped.
template <class Wanted>
xcb_generic_event_t* WaitForEvent(xcb_connection_t* c, int timeoutMs, Wanted&& wanted) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    while (xcb_generic_event_t* ev = xcb_poll_for_event(c)) {
      if (wanted(ev)) return ev;
      std::free(ev);
    }
    if (xcb_connection_has_error(c)) return nullptr;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return nullptr;
    pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
    ::poll(&fd, 1, static_cast<int>(left));
  }
}

// A server timestamp, got by a zero-length append to a property of our own window.
bool ServerTime(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, xcb_timestamp_t& time) {
  xcb_change_property(c, XCB_PROP_MODE_APPEND, w, property, XCB_ATOM_STRING, 8, 0, nullptr);
  xcb_flush(c);
  xcb_generic_event_t* ev = WaitForEvent(c, 5000, [&](xcb_generic_event_t* e) {
    if ((e->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
    auto* p = reinterpret_cast<xcb_property_notify_event_t*>(e);
    return p->window == w && p->atom == property;
  });
  if (!ev) return false;
  time = reinterpret_cast<xcb_property_notify_event_t*>(ev)->time;
  std::free(ev);
  return true;
}

// ---- Clipboard ---------------------------------------------------------------------------------

class ClipboardServer {
 public:
  ~ClipboardServer() { Stop(); }

  bool Offer(std::vector<std::pair<std::string, std::string>> targets) {
    std::lock_guard<std::mutex> lock(mutex_);
    StopLocked();
    if (::pipe2(wake_, O_CLOEXEC) != 0) return false;
    std::promise<bool> ready;
    std::future<bool> taken = ready.get_future();
    try {
      thread_ = std::thread(&ClipboardServer::Serve, wake_[0], std::move(targets), std::move(ready));
    } catch (...) {
      ClosePipe();
      return false;
    }
    // The thread answers once it owns the selection or has failed; it never takes longer than
    // its own waits (connection, timestamp), so this wait is bounded.
    const bool ok = taken.get();
    if (!ok) StopLocked();
    return ok;
  }

  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    StopLocked();
  }

 private:
  void StopLocked() {
    if (thread_.joinable()) {
      const char byte = 1;
      (void)!::write(wake_[1], &byte, 1);
      thread_.join();
    }
    ClosePipe();
  }
  void ClosePipe() {
    for (int& fd : wake_) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  }

  static void Serve(int wakeFd, std::vector<std::pair<std::string, std::string>> targets, std::promise<bool> ready) {
    bool announced = false;
    auto answer = [&](bool ok) {
      if (!announced) ready.set_value(ok);
      announced = true;
    };
    xcb_screen_t* screen = nullptr;
    Connection conn = Connect(screen);
    if (!conn) return answer(false);
    xcb_connection_t* c = conn.get();
    const uint64_t maxRequest = static_cast<uint64_t>(xcb_get_maximum_request_length(c)) * 4;
    for (const auto& t : targets) {
      if (t.second.size() + 64 > maxRequest) return answer(false);
    }
    const xcb_atom_t clipboard = Atom(c, "CLIPBOARD");
    const xcb_atom_t targetsAtom = Atom(c, "TARGETS");
    const xcb_atom_t timestampAtom = Atom(c, "TIMESTAMP");
    const xcb_atom_t stamp = Atom(c, "_QZ_CLIPBOARD_TIME");
    std::vector<xcb_atom_t> atoms;
    for (const auto& t : targets) atoms.push_back(Atom(c, t.first));

    const xcb_window_t w = xcb_generate_id(c);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      screen->root_visual, XCB_CW_EVENT_MASK, &mask);
    xcb_timestamp_t time = 0;
    if (!ServerTime(c, w, stamp, time)) return answer(false);
    xcb_set_selection_owner(c, w, clipboard, time);
    auto owner = MakeReply(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr));
    if (!owner || owner->owner != w) return answer(false);
    answer(true);

    for (;;) {
      bool lost = false;
      while (xcb_generic_event_t* ev = xcb_poll_for_event(c)) {
        const uint8_t type = ev->response_type & 0x7F;
        if (type == XCB_SELECTION_REQUEST) {
          auto* req = reinterpret_cast<xcb_selection_request_event_t*>(ev);
          const xcb_atom_t property = req->property == XCB_ATOM_NONE ? req->target : req->property;
          bool served = false;
          if (req->selection == clipboard && req->owner == w) {
            if (req->target == targetsAtom) {
              std::vector<xcb_atom_t> list{targetsAtom, timestampAtom};
              list.insert(list.end(), atoms.begin(), atoms.end());
              xcb_change_property(c, XCB_PROP_MODE_REPLACE, req->requestor, property, XCB_ATOM_ATOM, 32,
                                  static_cast<uint32_t>(list.size()), list.data());
              served = true;
            } else if (req->target == timestampAtom) {
              xcb_change_property(c, XCB_PROP_MODE_REPLACE, req->requestor, property, XCB_ATOM_INTEGER, 32, 1, &time);
              served = true;
            } else {
              for (size_t i = 0; i < atoms.size() && !served; ++i) {
                if (atoms[i] != req->target || atoms[i] == XCB_ATOM_NONE) continue;
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, req->requestor, property, req->target, 8,
                                    static_cast<uint32_t>(targets[i].second.size()), targets[i].second.data());
                served = true;
              }
            }
          }
          xcb_selection_notify_event_t notify{};
          notify.response_type = XCB_SELECTION_NOTIFY;
          notify.time = req->time;
          notify.requestor = req->requestor;
          notify.selection = req->selection;
          notify.target = req->target;
          notify.property = served ? property : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
          // Events are sent as 32 bytes.
          char event[32] = {};
          std::memcpy(event, &notify, sizeof notify);
          xcb_send_event(c, 0, req->requestor, XCB_EVENT_MASK_NO_EVENT, event);
        } else if (type == XCB_SELECTION_CLEAR) {
          auto* clear = reinterpret_cast<xcb_selection_clear_event_t*>(ev);
          if (clear->owner == w && clear->selection == clipboard) lost = true;
        }
        std::free(ev);
      }
      xcb_flush(c);
      if (lost || xcb_connection_has_error(c)) break;
      pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {wakeFd, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
      if (fds[1].revents) {
        xcb_set_selection_owner(c, XCB_WINDOW_NONE, clipboard, time);
        xcb_flush(c);
        break;
      }
    }
    xcb_destroy_window(c, w);
    xcb_flush(c);
  }

  std::mutex mutex_;
  std::thread thread_;
  int wake_[2] = {-1, -1};
};

ClipboardServer& Clipboard() {
  static ClipboardServer server;
  return server;
}

// ---- Screenshots ---------------------------------------------------------------------------------

xcb_visualtype_t* FindVisual(xcb_screen_t* screen, xcb_visualid_t id) {
  for (xcb_depth_iterator_t d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
    for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
      if (v.data->visual_id == id) return v.data;
    }
  }
  return nullptr;
}

// Shift and width of a colour mask.
void MaskShape(uint32_t mask, int& shift, int& bits) {
  shift = 0;
  bits = 0;
  if (!mask) return;
  while (!(mask & 1u)) {
    mask >>= 1;
    ++shift;
  }
  while (mask & 1u) {
    mask >>= 1;
    ++bits;
  }
}

uint8_t Channel(uint32_t pixel, int shift, int bits) {
  if (bits <= 0) return 0;
  const uint32_t max = bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1);
  const uint32_t v = (pixel >> shift) & max;
  return static_cast<uint8_t>((v * 255u + max / 2) / max);
}

}  // namespace

bool OfferClipboard(std::vector<std::pair<std::string, std::string>> targets) {
  return Clipboard().Offer(std::move(targets));
}

void WithdrawClipboard() { Clipboard().Stop(); }

bool CaptureScreen(bool activeWindow, RgbImage& image) {
  xcb_screen_t* screen = nullptr;
  Connection conn = Connect(screen);
  if (!conn) return false;
  xcb_connection_t* c = conn.get();
  const xcb_window_t root = screen->root;
  int x = 0, y = 0, width = screen->width_in_pixels, height = screen->height_in_pixels;
  if (activeWindow) {
    std::string data;
    xcb_atom_t type = XCB_ATOM_NONE;
    uint8_t format = 0;
    if (GetProperty(c, root, Atom(c, "_NET_ACTIVE_WINDOW"), data, &type, &format) && format == 32 &&
        data.size() >= 4) {
      xcb_window_t w = 0;
      std::memcpy(&w, data.data(), 4);
      // The frame is the window's ancestor just below the root.
      for (int depth = 0; w != 0 && w != root && depth < 64; ++depth) {
        auto tree = MakeReply(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
        if (!tree) {
          w = 0;
          break;
        }
        if (tree->parent == root) break;
        w = tree->parent;
      }
      if (w != 0 && w != root) {
        auto geo = MakeReply(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
        if (geo) {
          x = geo->x;
          y = geo->y;
          width = geo->width + 2 * geo->border_width;
          height = geo->height + 2 * geo->border_width;
        }
      }
    }
  }
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = std::min(x + width, static_cast<int>(screen->width_in_pixels));
  const int y1 = std::min(y + height, static_cast<int>(screen->height_in_pixels));
  if (x1 <= x0 || y1 <= y0) return false;
  width = x1 - x0;
  height = y1 - y0;

  auto reply = MakeReply(xcb_get_image_reply(
      c,
      xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, static_cast<int16_t>(x0), static_cast<int16_t>(y0),
                    static_cast<uint16_t>(width), static_cast<uint16_t>(height), ~0u),
      nullptr));
  if (!reply) return false;
  const xcb_visualtype_t* visual = FindVisual(screen, reply->visual ? reply->visual : screen->root_visual);
  if (!visual || (visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR && visual->_class != XCB_VISUAL_CLASS_DIRECT_COLOR))
    return false;
  const xcb_setup_t* setup = xcb_get_setup(c);
  int bpp = 0, pad = 0;
  for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
    if (f.data->depth == reply->depth) {
      bpp = f.data->bits_per_pixel;
      pad = f.data->scanline_pad;
    }
  }
  if (bpp != 16 && bpp != 24 && bpp != 32) return false;
  const size_t stride = ((static_cast<size_t>(width) * bpp + pad - 1) / pad) * pad / 8;
  const uint8_t* data = xcb_get_image_data(reply.get());
  const size_t length = static_cast<size_t>(xcb_get_image_data_length(reply.get()));
  if (length < stride * static_cast<size_t>(height)) return false;
  int rs, rb, gs, gb, bs, bb;
  MaskShape(visual->red_mask, rs, rb);
  MaskShape(visual->green_mask, gs, gb);
  MaskShape(visual->blue_mask, bs, bb);
  const bool msbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
  const int bytes = bpp / 8;

  image.Width = width;
  image.Height = height;
  image.Pixels.assign(static_cast<size_t>(width) * height * 3, 0);
  uint8_t* out = image.Pixels.data();
  for (int row = 0; row < height; ++row) {
    const uint8_t* p = data + stride * row;
    for (int col = 0; col < width; ++col, p += bytes) {
      uint32_t pixel = 0;
      for (int b = 0; b < bytes; ++b) {
        const int k = msbFirst ? b : bytes - 1 - b;
        pixel = (pixel << 8) | p[k];
      }
      *out++ = Channel(pixel, rs, rb);
      *out++ = Channel(pixel, gs, gb);
      *out++ = Channel(pixel, bs, bb);
    }
  }
  return true;
}

namespace {

struct JpegError {
  jpeg_error_mgr manager;
  jmp_buf jump;
};

void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }
void JpegQuiet(j_common_ptr, int) {}

// Plain C frames only between setjmp and longjmp: nothing here has a destructor.
bool CompressRgb(const uint8_t* pixels, int width, int height, int quality, unsigned char** out, unsigned long* size) {
  jpeg_compress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegFail;
  error.manager.emit_message = JpegQuiet;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, out, size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels + static_cast<size_t>(info.next_scanline) * width * 3);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

}  // namespace

std::string EncodeJpeg(const RgbImage& image, int quality) {
  if (image.Width <= 0 || image.Height <= 0 ||
      image.Pixels.size() != static_cast<size_t>(image.Width) * image.Height * 3)
    return {};
  quality = std::clamp(quality, 1, 100);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const bool ok = CompressRgb(image.Pixels.data(), image.Width, image.Height, quality, &buffer, &size);
  std::string jpeg;
  if (ok && buffer) jpeg.assign(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return jpeg;
}

// ---- Windows -----------------------------------------------------------------------------------

namespace {

// The window's title: _NET_WM_NAME (UTF-8), else WM_NAME (Latin-1 STRING; other encodings only
// when they are plain ASCII).
bool WindowTitle(xcb_connection_t* c, xcb_window_t w, xcb_atom_t netName, xcb_atom_t utf8, std::string& title) {
  std::string data;
  xcb_atom_t type = XCB_ATOM_NONE;
  if (GetProperty(c, w, netName, data, &type) && type == utf8) {
    title = data;
    return true;
  }
  if (!GetProperty(c, w, XCB_ATOM_WM_NAME, data, &type)) return false;
  if (type == XCB_ATOM_STRING) {
    title.clear();
    for (unsigned char ch : data) {  // Latin-1
      if (ch < 0x80) {
        title.push_back(static_cast<char>(ch));
      } else {
        title.push_back(static_cast<char>(0xC0 | (ch >> 6)));
        title.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
      }
    }
    return true;
  }
  if (type == utf8 || std::all_of(data.begin(), data.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; })) {
    title = data;
    return true;
  }
  return false;
}

}  // namespace

bool CloseWindowByTitle(const std::string& title) {
  xcb_screen_t* screen = nullptr;
  Connection conn = Connect(screen);
  if (!conn) return false;
  xcb_connection_t* c = conn.get();
  const xcb_atom_t netName = Atom(c, "_NET_WM_NAME");
  const xcb_atom_t utf8 = Atom(c, "UTF8_STRING");
  const xcb_atom_t wmState = Atom(c, "WM_STATE");
  const xcb_atom_t protocols = Atom(c, "WM_PROTOCOLS");
  const xcb_atom_t deleteWindow = Atom(c, "WM_DELETE_WINDOW");

  auto rootTree = MakeReply(xcb_query_tree_reply(c, xcb_query_tree(c, screen->root), nullptr));
  if (!rootTree) return false;
  const xcb_window_t* top = xcb_query_tree_children(rootTree.get());
  const int count = xcb_query_tree_children_length(rootTree.get());
  xcb_window_t found = XCB_WINDOW_NONE;
  int inspected = 0;
  constexpr int kMaxWindows = 20000;
  // Top-level windows from the top of the stacking order down; a window manager's frame holds
  // the application's window (the one with WM_STATE) a few levels below.
  for (int i = count - 1; i >= 0 && found == XCB_WINDOW_NONE && inspected < kMaxWindows; --i) {
    std::vector<std::pair<xcb_window_t, int>> queue{{top[i], 0}};
    for (size_t q = 0; q < queue.size() && inspected < kMaxWindows; ++q) {
      const auto [w, depth] = queue[q];
      ++inspected;
      std::string name, state;
      if (WindowTitle(c, w, netName, utf8, name) && name == title) {
        found = w;
        break;
      }
      if (depth > 0 && GetProperty(c, w, wmState, state)) continue;  // the client window: no deeper
      if (depth >= 3) continue;
      auto tree = MakeReply(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
      if (!tree) continue;
      const xcb_window_t* kids = xcb_query_tree_children(tree.get());
      for (int k = xcb_query_tree_children_length(tree.get()) - 1; k >= 0; --k) queue.emplace_back(kids[k], depth + 1);
    }
  }
  if (found == XCB_WINDOW_NONE) return false;
  std::string list;
  uint8_t format = 0;
  if (!GetProperty(c, found, protocols, list, nullptr, &format) || format != 32) return false;
  bool takesDelete = false;
  for (size_t i = 0; i + 4 <= list.size(); i += 4) {
    xcb_atom_t a = 0;
    std::memcpy(&a, list.data() + i, 4);
    if (a == deleteWindow) takesDelete = true;
  }
  if (!takesDelete) return false;
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = found;
  message.type = protocols;
  message.data.data32[0] = deleteWindow;
  message.data.data32[1] = XCB_CURRENT_TIME;
  char event[32] = {};
  std::memcpy(event, &message, sizeof message);
  const xcb_void_cookie_t cookie = xcb_send_event_checked(c, 0, found, XCB_EVENT_MASK_NO_EVENT, event);
  std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(xcb_request_check(c, cookie), &std::free);
  return !error;
}

}  // namespace platform
