#!/usr/bin/env python3
"""An independent export host: drives libqzkqfexport.so through ctypes, without our headers.

    ctypes_host.py --library FILE --config FILE [--archive NAME] [--title TEXT]
                   [--index NAME=VALUE]... [--page FILE]... [--uninitialised]

Follows the host contract as documented: qzWideExport(int32 Command, char16_t* Param,
int32 Reserved, char16_t* Msg) -> int32, zero-terminated UTF-16 texts, a parameter buffer of
1048576 and a message buffer of 4096 UTF-16 units. Sends 100, 105, 110, 120, 550, then one
document (200, 130, 300, 400..., 500..., 600), 800, 850, 900, and prints one line per answer:

    <command> <result> <text as JSON>

where the text is the parameter buffer for 105, 120, 550, 800 and 850 and the message buffer for
every other command (null when the library wrote no text there). Checks on its own that no buffer
byte past the capacity changed.

With --uninitialised the host behaves like one that never clears its buffers: before every
command both buffers are filled with the byte 0xA5 (no terminating zero anywhere), and only the
commands that pass a text write one into the parameter buffer.
"""

import argparse
import ctypes
import json
import sys

PARAM_CAPACITY = 1048576
MSG_CAPACITY = 4096
GUARD = 64  # extra units after each buffer that the library must never touch


class Buffer:
    def __init__(self, units):
        self.units = units
        self.raw = ctypes.create_string_buffer(b"\xa5" * ((units + GUARD) * 2), (units + GUARD) * 2)

    def set(self, text):
        data = text.encode("utf-16-le") + b"\x00\x00"
        if len(data) > self.units * 2:
            raise ValueError("text longer than the buffer")
        ctypes.memmove(self.raw, data, len(data))

    def clear(self):
        ctypes.memmove(self.raw, b"\x00\x00", 2)

    def fill(self):
        ctypes.memset(self.raw, 0xA5, self.units * 2)

    def text(self, required=True):
        data = self.raw.raw[: self.units * 2]
        for i in range(0, len(data), 2):
            if data[i:i + 2] == b"\x00\x00":
                return data[:i].decode("utf-16-le", errors="surrogatepass")
        if not required:
            return None
        raise RuntimeError("no terminating zero within the buffer")

    def guard_intact(self):
        return self.raw.raw[self.units * 2:] == b"\xa5" * (GUARD * 2)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--library", required=True)
    p.add_argument("--config", required=True)
    p.add_argument("--archive", default="")
    p.add_argument("--title", default="")
    p.add_argument("--index", action="append", default=[])
    p.add_argument("--page", action="append", default=[])
    p.add_argument("--uninitialised", action="store_true")
    args = p.parse_args()

    lib = ctypes.CDLL(args.library)
    fn = lib.qzWideExport
    fn.argtypes = [ctypes.c_int32, ctypes.c_void_p, ctypes.c_int32, ctypes.c_void_p]
    fn.restype = ctypes.c_int32

    param = Buffer(PARAM_CAPACITY)
    msg = Buffer(MSG_CAPACITY)
    with open(args.config, encoding="utf-8") as f:
        config = f.read().strip()

    def send(command, text=None, output=False):
        if args.uninitialised:
            param.fill()
            msg.fill()
        else:
            param.set("")
            msg.clear()
        if text is not None:
            param.set(text)
        result = fn(command, ctypes.addressof(param.raw), 12345, ctypes.addressof(msg.raw))
        if not (param.guard_intact() and msg.guard_intact()):
            print("buffer overrun after command %d" % command)
            sys.exit(3)
        answer = param.text() if output and result == 0 else msg.text(required=not args.uninitialised)
        print("%d %d %s" % (command, result, json.dumps(answer)), flush=True)
        return result

    send(100, "ctypes host")
    send(105, output=True)
    send(110, config)
    send(120, output=True)
    send(550, output=True)
    send(200)
    send(130, args.archive)
    send(300, args.title)
    for entry in args.index:
        send(400, entry)
    for page in args.page:
        send(500, page)
    send(600)
    send(800, output=True)
    send(850, output=True)
    send(900)


if __name__ == "__main__":
    main()
