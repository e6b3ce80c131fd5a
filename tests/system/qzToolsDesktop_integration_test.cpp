// The desktop family on a private X server (Xvfb): the clipboard read back by xclip, screenshots
// decoded by djpeg, and windows asked to close as their own event queue sees it. Without Xvfb
// the tests skip with the reason.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "CodePage.h"
#include "Desktop.h"
#include "ChildProcess.h"
#include "TestSupport.h"
#include "XvfbServer.h"
#include "qzTools.h"

// Xlib last: its macros (None, Bool, Status) would clash with the test framework's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace platform;
using qztest::TempDir;

namespace {

constexpr int kWidth = 320, kHeight = 240;

using qztest::W;

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    x_ = std::make_unique<qztest::XvfbServer>(dir_.Path(), kWidth, kHeight);
    if (!x_->Running()) GTEST_SKIP() << x_->Reason();
    display_ = XOpenDisplay(x_->Display().c_str());
    ASSERT_NE(display_, nullptr);
    root_ = DefaultRootWindow(display_);
  }
  void TearDown() override {
    WithdrawClipboard();
    if (display_) XCloseDisplay(display_);
    x_.reset();
  }

  // Runs a program with a time limit (xclip waits for the selection's owner).
  qztest::ProcessResult Run(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"timeout", "20"});
    return qztest::RunProcess(argv);
  }
  std::string Clipboard(const std::string& target) {
    const qztest::ProcessResult r = Run({"xclip", "-o", "-selection", "clipboard", "-t", target});
    EXPECT_EQ(r.ExitCode, 0) << target << ": " << r.Err;
    return r.Out;
  }

  // A mapped top-level window with a background colour.
  Window MakeWindow(int x, int y, unsigned w, unsigned h, unsigned long rgb) {
    XSetWindowAttributes a{};
    a.background_pixel = rgb;
    a.override_redirect = False;
    Window win = XCreateWindow(display_, root_, x, y, w, h, 0, CopyFromParent, InputOutput, CopyFromParent,
                               CWBackPixel, &a);
    XMapWindow(display_, win);
    XSync(display_, False);
    return win;
  }

  // Decodes a JPEG with djpeg: width, height and RGB pixels.
  struct Picture {
    int width = 0, height = 0;
    std::string rgb;
  };
  Picture Decode(const std::string& path) {
    const qztest::ProcessResult r = qztest::RunProcess({"djpeg", "-pnm", path});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    Picture p;
    int maxval = 0, used = 0;
    if (std::sscanf(r.Out.c_str(), "P6 %d %d %d%n", &p.width, &p.height, &maxval, &used) != 3) {
      ADD_FAILURE() << "not a PPM: " << r.Out.substr(0, 20);
      return p;
    }
    p.rgb = r.Out.substr(static_cast<size_t>(used) + 1);
    EXPECT_EQ(p.rgb.size(), static_cast<size_t>(p.width) * p.height * 3);
    return p;
  }
  void ExpectColour(const Picture& p, int r, int g, int b) {
    int off = 0;
    for (size_t i = 0; i + 2 < p.rgb.size(); i += 3) {
      const int dr = static_cast<unsigned char>(p.rgb[i]) - r, dg = static_cast<unsigned char>(p.rgb[i + 1]) - g,
                db = static_cast<unsigned char>(p.rgb[i + 2]) - b;
      if (std::abs(dr) > 8 || std::abs(dg) > 8 || std::abs(db) > 8) ++off;
    }
    EXPECT_EQ(off, 0) << "pixels off the colour " << r << "," << g << "," << b;
  }
  bool NeedsDjpeg() {
    if (qztest::RunProcess({"which", "djpeg"}).ExitCode == 0) return false;
    return true;
  }

  TempDir dir_{"qzdesk"};
  std::unique_ptr<qztest::XvfbServer> x_;
  Display* display_ = nullptr;
  Window root_ = 0;
};

TEST_F(DesktopTest, ClipboardServesHtmlAndPlainTextUntilAnotherProgramTakesIt) {
  const UnicodeString html = u"<b>Gr\u00fc\u00dfe \U0001F600</b>";
  ASSERT_TRUE(TqzTools::CopyHTMLToClipBoard(u"Gr\u00fc\u00dfe plain", html));
  const std::string expected = qztest::RunPython(
      "import sys\n"
      "html = sys.argv[1].encode('utf-8')\n"
      "head = b'Version:0.9\\r\\nStartHTML:-1\\r\\nEndHTML:-1\\r\\nStartFragment:000081\\r\\nEndFragment:'\n"
      "sys.stdout.buffer.write(head + b'%06d\\r\\n' % (len(head) + 10 + len(html)) + html + b'\\r\\n')\n",
      {WideToUtf8(html)});
  EXPECT_EQ(Clipboard("text/html"), expected);
  EXPECT_EQ(Clipboard("UTF8_STRING"), "Gr\xC3\xBC\xC3\x9F" "e plain");
  const std::string targets = Clipboard("TARGETS");
  EXPECT_NE(targets.find("text/html"), std::string::npos) << targets;
  EXPECT_NE(targets.find("UTF8_STRING"), std::string::npos) << targets;

  // A second copy replaces the first.
  ASSERT_TRUE(TqzTools::CopyHTMLToClipBoard(u"second", u"<i>2</i>"));
  EXPECT_EQ(Clipboard("UTF8_STRING"), "second");
  EXPECT_EQ(Clipboard("text/html").substr(81), "<i>2</i>\r\n");
}

TEST_F(DesktopTest, AnotherOwnerTakesTheClipboardAndTheNextCopyTakesItBack) {
  ASSERT_TRUE(TqzTools::CopyHTMLToClipBoard(u"ours", u"<b>ours</b>"));
  // xclip serves one request and then ends (-loops 1); it runs in the background meanwhile.
  qztest::ChildProcess other({"/usr/bin/xclip", "-selection", "clipboard", "-i", "-loops", "1", "-quiet",
                              dir_.Path() + "/theirs.txt"},
                             dir_.Path() + "/xclip");
  qztest::WriteFile(dir_.Path() + "/theirs.txt", "theirs");
  // Wait until xclip owns the selection.
  Atom clipboard = XInternAtom(display_, "CLIPBOARD", False);
  Window ours = XGetSelectionOwner(display_, clipboard);
  for (int i = 0; i < 500 && XGetSelectionOwner(display_, clipboard) == ours; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(Clipboard("UTF8_STRING"), "theirs");
  other.Wait(20000);
  ASSERT_TRUE(TqzTools::CopyHTMLToClipBoard(u"ours again", u"<b>x</b>"));
  EXPECT_EQ(Clipboard("UTF8_STRING"), "ours again");
}

TEST_F(DesktopTest, ScreenshotOfTheScreenHasItsSizeAndColour) {
  if (NeedsDjpeg()) GTEST_SKIP() << "needs djpeg (libjpeg-turbo-progs, scripts/install-deps)";
  XSetWindowBackground(display_, root_, 0x3366CC);
  XClearWindow(display_, root_);
  XSync(display_, False);
  const std::string path = dir_.Path() + "/screen.jpg";
  qztest::WriteFile(path, "old content");
  ASSERT_TRUE(TqzTools::TakeScreenShot(W(path), false, 95));
  Picture p = Decode(path);
  EXPECT_EQ(p.width, kWidth);
  EXPECT_EQ(p.height, kHeight);
  ExpectColour(p, 0x33, 0x66, 0xCC);
  // Without an active window the whole screen is taken; the quality uses its low 8 bits.
  ASSERT_TRUE(TqzTools::TakeScreenShot(W(path), true, 256 + 60));
  p = Decode(path);
  EXPECT_EQ(p.width, kWidth);
  ExpectColour(p, 0x33, 0x66, 0xCC);
  EXPECT_FALSE(TqzTools::TakeScreenShot(W(dir_.Path() + "/missing/screen.jpg"), false, 80));
}

TEST_F(DesktopTest, ScreenshotOfTheActiveWindowIsCutToTheScreen) {
  if (NeedsDjpeg()) GTEST_SKIP() << "needs djpeg (libjpeg-turbo-progs, scripts/install-deps)";
  XSetWindowBackground(display_, root_, 0x000000);
  XClearWindow(display_, root_);
  struct Case {
    int x, y;
    unsigned w, h;
    int expectW, expectH;
  } cases[] = {{30, 40, 100, 60, 100, 60}, {280, 200, 100, 60, 40, 40}};
  for (const Case& c : cases) {
    Window win = MakeWindow(c.x, c.y, c.w, c.h, 0xE01020);
    Atom active = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
    XChangeProperty(display_, root_, active, XA_WINDOW, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&win), 1);
    XSync(display_, False);
    const std::string path = dir_.Path() + "/window.jpg";
    ASSERT_TRUE(TqzTools::TakeScreenShot(W(path), true, 95));
    const Picture p = Decode(path);
    EXPECT_EQ(p.width, c.expectW);
    EXPECT_EQ(p.height, c.expectH);
    ExpectColour(p, 0xE0, 0x10, 0x20);
    XDestroyWindow(display_, win);
    XSync(display_, False);
  }
}

TEST_F(DesktopTest, RemoteCloseApplicationAsksTheTitledWindowToClose) {
  Atom protocols = XInternAtom(display_, "WM_PROTOCOLS", False);
  Atom deleteWindow = XInternAtom(display_, "WM_DELETE_WINDOW", False);
  Atom netName = XInternAtom(display_, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
  Atom wmState = XInternAtom(display_, "WM_STATE", False);

  // A window manager's frame holding the client; the client has the title and takes the request.
  Window frame = MakeWindow(0, 0, 50, 50, 0);
  XSetWindowAttributes a{};
  Window client = XCreateWindow(display_, frame, 0, 0, 40, 40, 0, CopyFromParent, InputOutput, CopyFromParent, 0, &a);
  const std::string title = "Kesta \xE2\x80\x93 \xC3\x9C" "bersicht";
  XChangeProperty(display_, client, netName, utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
  long state[2] = {1, 0};
  XChangeProperty(display_, client, wmState, wmState, 32, PropModeReplace, reinterpret_cast<unsigned char*>(state), 2);
  XSetWMProtocols(display_, client, &deleteWindow, 1);
  // A plain window titled in Latin-1 through WM_NAME alone, without the close request.
  Window plain = MakeWindow(60, 0, 20, 20, 0);
  XStoreName(display_, plain, "Alte Ansicht \xE4");
  XSync(display_, False);

  EXPECT_TRUE(TqzTools::RemoteCloseApplication(W(title)));
  bool asked = false;
  for (int i = 0; i < 500 && !asked; ++i) {
    while (XPending(display_)) {
      XEvent ev;
      XNextEvent(display_, &ev);
      if (ev.type == ClientMessage && ev.xclient.window == client && ev.xclient.message_type == protocols &&
          static_cast<Atom>(ev.xclient.data.l[0]) == deleteWindow)
        asked = true;
    }
    if (!asked) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(asked);
  EXPECT_FALSE(TqzTools::RemoteCloseApplication(u"Alte Ansicht \u00e4"));  // found, but takes no close request
  XSetWMProtocols(display_, plain, &deleteWindow, 1);
  XSync(display_, False);
  EXPECT_TRUE(TqzTools::RemoteCloseApplication(u"Alte Ansicht \u00e4"));
  EXPECT_FALSE(TqzTools::RemoteCloseApplication(u"Kesta"));  // titles compare whole
  EXPECT_FALSE(TqzTools::RemoteCloseApplication(u"no such window"));
}

}  // namespace
