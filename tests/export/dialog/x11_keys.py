#!/usr/bin/env python3
"""Types keys into the X display ($DISPLAY) as a user would, through the XTest extension.

usage: x11_keys.py WINDOW-NAME KEY...
Waits (at most 30 s) until a window named WINDOW-NAME is mapped, then presses and releases each
KEY (an X keysym name: Return, Escape, End, a letter...) with a short pause between them.
Exit status 0 when the keys were sent, 1 when the window never showed.
"""
import ctypes
import subprocess
import sys
import time


def window_shown(name):
    r = subprocess.run(["xwininfo", "-name", name], capture_output=True, text=True)
    return r.returncode == 0 and "IsViewable" in r.stdout


def main():
    name, keys = sys.argv[1], sys.argv[2:]
    deadline = time.time() + 30
    while not window_shown(name):
        if time.time() > deadline:
            return 1
        time.sleep(0.1)
    time.sleep(0.5)  # let the dialog take the focus
    x11 = ctypes.CDLL("libX11.so.6")
    xtst = ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XStringToKeysym.restype = ctypes.c_ulong
    x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
    x11.XKeysymToKeycode.restype = ctypes.c_ubyte
    x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    display = x11.XOpenDisplay(None)
    if not display:
        return 1
    for key in keys:
        code = x11.XKeysymToKeycode(display, x11.XStringToKeysym(key.encode()))
        xtst.XTestFakeKeyEvent(display, code, 1, 0)
        xtst.XTestFakeKeyEvent(display, code, 0, 0)
        x11.XFlush(display)
        time.sleep(0.15)
    x11.XCloseDisplay(display)
    return 0


if __name__ == "__main__":
    sys.exit(main())
