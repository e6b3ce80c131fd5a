#include "XDisplay.h"

#include <X11/Xlib.h>

bool CanOpenXDisplay() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  XCloseDisplay(display);
  return true;
}
