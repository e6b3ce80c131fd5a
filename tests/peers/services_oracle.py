#!/usr/bin/env python3
"""Independent reference values for the compressed text form and quoted-printable decoding,
written as JSON lines on stdout (bytes as lower-case hex).

Usage: services_oracle.py MODE [ARG]

Modes:
  compress SEED   compressed values made by Python's zlib with several settings (level 9, 1 and 0,
                  a 512-byte window, sync flushes in the middle), each holding the 4-byte
                  little-endian count and the bytes: {"how", "data", "stream"}
  inflate FILE    FILE holds one hex stream per line; each is inflated by zlib.decompress
                  (header and Adler-32 checked) and split into count and bytes:
                  {"header", "count", "data"}, or {"error"} when zlib refuses it
  quopri SEED     byte texts and their quoted-printable form made by the quopri module (only
                  pairs that quopri itself decodes back): {"raw", "qp", "simple"}; rows with
                  "simple" true hold texts that the table-driven decoder can read too (no blanks,
                  controls, "=", ",", 0xDD, 0xED, 0xFD) with soft line breaks written as "=" CR LF
"""
import json
import quopri
import random
import struct
import sys
import zlib


def emit(obj):
    sys.stdout.write(json.dumps(obj) + "\n")


def content(data):
    return struct.pack("<i", len(data)) + data


def samples(rng):
    yield b""
    yield b"a"
    yield bytes(range(256))
    yield "Grüße, €uro – 日本".encode("utf-8")
    yield b"abc" * 70000
    for _ in range(6):
        yield bytes(rng.randrange(256) for _ in range(rng.randrange(1, 3000)))


def mode_compress(seed):
    rng = random.Random(seed)
    for data in samples(rng):
        raw = content(data)
        emit({"how": "level9", "data": data.hex(), "stream": zlib.compress(raw, 9).hex()})
        emit({"how": "level1", "data": data.hex(), "stream": zlib.compress(raw, 1).hex()})
        emit({"how": "stored", "data": data.hex(), "stream": zlib.compress(raw, 0).hex()})
        c = zlib.compressobj(6, zlib.DEFLATED, 9)
        emit({"how": "window512", "data": data.hex(), "stream": (c.compress(raw) + c.flush()).hex()})
        c = zlib.compressobj(9)
        half = len(raw) // 2
        s = c.compress(raw[:half]) + c.flush(zlib.Z_SYNC_FLUSH) + c.compress(raw[half:]) + c.flush()
        emit({"how": "syncflush", "data": data.hex(), "stream": s.hex()})


def mode_inflate(path):
    with open(path, "r", encoding="ascii") as f:
        for line in f:
            line = line.strip()
            if not line:
                continue
            stream = bytes.fromhex(line)
            try:
                raw = zlib.decompress(stream)
            except zlib.error as e:
                emit({"error": str(e)})
                continue
            count = struct.unpack("<i", raw[:4])[0] if len(raw) >= 4 else None
            emit({"header": stream[:2].hex(), "count": count, "data": raw[4:].hex()})


def mode_quopri(seed):
    rng = random.Random(seed)
    rows = []
    # Any bytes, with and without encoded blanks, as header text and as body text.
    for _ in range(60):
        raw = bytes(rng.randrange(256) for _ in range(rng.randrange(0, 400)))
        rows.append((raw, quopri.encodestring(raw, quotetabs=rng.random() < 0.5), False))
    # Text-like bytes with line breaks, long lines (soft breaks) and trailing blanks.
    alphabet = b"abcdefghij XYZ=.\t\n\r\n\xe4\xf6\xfc\xdf\x80\xff"
    for _ in range(40):
        raw = bytes(rng.choice(alphabet) for _ in range(rng.randrange(0, 600)))
        rows.append((raw, quopri.encodestring(raw), False))
    # Texts that the table-driven decoder reads too.
    allowed = [b for b in range(0x21, 0x7F) if b not in (0x3D, 0x2C)] + \
              [b for b in range(0x7F, 0x100) if b not in (0xDD, 0xED, 0xFD)]
    for _ in range(40):
        raw = bytes(rng.choice(allowed) for _ in range(rng.randrange(1, 500)))
        qp = quopri.encodestring(raw).replace(b"=\n", b"=\r\n")
        rows.append((raw, qp, True))
    for raw, qp, simple in rows:
        if quopri.decodestring(qp.replace(b"=\r\n", b"=\n")) != raw:
            continue
        emit({"raw": raw.hex(), "qp": qp.hex(), "simple": simple})


def main():
    mode = sys.argv[1]
    arg = sys.argv[2] if len(sys.argv) > 2 else "1"
    if mode == "compress":
        mode_compress(int(arg))
    elif mode == "inflate":
        mode_inflate(arg)
    elif mode == "quopri":
        mode_quopri(int(arg))
    else:
        sys.exit("unknown mode " + mode)


if __name__ == "__main__":
    main()
