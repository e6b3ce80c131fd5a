// The desktop on Linux: the X11 clipboard, screenshots, top-level windows by title, and JPEG
// encoding. X11 is reached through XCB (each call opens its own connection, so no process-wide
// Xlib handler is installed and a lost server never ends the process); the display is the one
// DISPLAY names.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// The file URI of an absolute path: every byte outside the unreserved characters and "/"
// percent-encoded.
std::string FileUri(const std::string& path);

// True when a desktop session is there to talk to (DISPLAY or WAYLAND_DISPLAY is set).
bool HasDesktop();

// ---- Clipboard ---------------------------------------------------------------------------------

// Takes the CLIPBOARD selection and serves the texts under their target names ("text/html",
// "UTF8_STRING", ...) together with TARGETS and TIMESTAMP, from a thread of this process, until
// another client takes the selection or the next offer replaces this one (X11 keeps no copy:
// the texts stay available while this process runs). False when there is no display, the
// selection cannot be taken, or a text is larger than the server takes in one request.
bool OfferClipboard(std::vector<std::pair<std::string, std::string>> targets);
// Stops serving the clipboard (the selection is given up).
void WithdrawClipboard();

// ---- Screenshots -------------------------------------------------------------------------------

struct RgbImage {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Pixels;  // 3 bytes per pixel (red, green, blue), rows top to bottom
};

// The screen of the default screen of the display as it is shown; with `activeWindow`, the area
// of the active window (_NET_ACTIVE_WINDOW) with its frame, cut to the screen, when there is one.
bool CaptureScreen(bool activeWindow, RgbImage& image);

// The image as a baseline JPEG of the given quality (1-100; other values are clamped); empty
// when it cannot be encoded.
std::string EncodeJpeg(const RgbImage& image, int quality);

// ---- Windows -----------------------------------------------------------------------------------

// Asks the first top-level window titled exactly `title` (_NET_WM_NAME, else WM_NAME) to close
// (WM_DELETE_WINDOW). True when such a window was found, takes that request and it was sent.
bool CloseWindowByTitle(const std::string& title);

}  // namespace platform
