#!/usr/bin/env python3
"""Independent oracle for the dialog's gradient painters.

Each argument is one JSON case; one JSON line is printed per case: the whole canvas after the
operation, as rows of [r, g, b]. Cases:
  {"op": "gradient", "w": W, "h": H, "fill": [r,g,b], "rect": [l,t,r,b], "c1": [..], "c2": [..],
   "orient": "lr"|"tb"|"radial", "reverse": bool}
  {"op": "row", ... "stops": [[..], ...], "orient": ..., "reverse": bool}
  {"op": "bands", ... "c1", "c2", "dir": "tb"|"bt"|"lr"|"rl"|"vc"|"hc", "colors": N}
  {"op": "shade", "c": [r,g,b], "amount": A}  -> [r,g,b]
Rounding: the gradient lines round halves to even (Python's round); the bands round halves away
from zero (computed exactly with fractions).
"""
import json
import math
import sys
from fractions import Fraction


def canvas(case):
    return [[list(case["fill"]) for _ in range(case["w"])] for _ in range(case["h"])]


def put(cv, x, y, c):
    if 0 <= y < len(cv) and 0 <= x < len(cv[0]):
        cv[y][x] = list(c)


def fill_rect(cv, l, t, r, b, c):
    for y in range(t, b):
        for x in range(l, r):
            put(cv, x, y, c)


def gradient(cv, rect, c1, c2, orient, reverse):
    l, t, r, b = rect
    if reverse:
        c1, c2 = c2, c1
    d = [c2[i] - c1[i] for i in range(3)]
    if orient in ("lr", "tb"):
        n = (r - l) if orient == "lr" else (b - t)
        if n == 0:
            return
        for w in range(0, n + 1):
            col = [min(255, max(0, round(c1[i] + d[i] * w / n))) for i in range(3)]
            if orient == "lr":
                fill_rect(cv, l + w, t, l + w + 1, b, col)
            else:
                fill_rect(cv, l, t + w, r, t + w + 1, col)
        return
    rad = min(r - l, b - t) // 2
    if rad == 0:
        return
    for y in range(t, b + 1):
        for x in range(l, r + 1):
            dist = math.hypot(x - (l + rad), y - (t + rad))
            if dist < rad:
                put(cv, x, y, [min(255, max(0, round(c1[i] + d[i] * dist / rad))) for i in range(3)])


def gradient_row(cv, rect, stops, orient, reverse):
    if orient == "radial" or len(stops) < 2:
        return
    if reverse:
        stops = list(reversed(stops))
    l, t, r, b = rect
    segs = len(stops) - 1
    seg = ((r - l) if orient == "lr" else (b - t)) // segs
    for i in range(segs):
        part = [l + i * seg, t, l + (i + 1) * seg, b] if orient == "lr" else [l, t + i * seg, r, t + (i + 1) * seg]
        gradient(cv, part, stops[i], stops[i + 1], orient, False)


def half_away(q):
    return int(math.floor(q + Fraction(1, 2))) if q >= 0 else -int(math.floor(-q + Fraction(1, 2)))


def bands(cv, rect, c1, c2, direction, colors):
    l, t, r, b = rect
    if r <= l or b <= t:
        return
    if direction == "vc":
        half = (b - t) // 2
        bands(cv, [l, t, r, t + half], c1, c2, "tb", colors)
        bands(cv, [l, t + half, r, b], c1, c2, "bt", colors)
        return
    if direction == "hc":
        half = (r - l) // 2
        bands(cv, [l, t, l + half, b], c1, c2, "lr", colors)
        bands(cv, [l + half, t, r, b], c1, c2, "rl", colors)
        return
    if colors < 2:
        fill_rect(cv, l, t, r, b, c1)
        return
    first, last = (c2, c1) if direction in ("bt", "rl") else (c1, c2)
    vertical = direction in ("tb", "bt")
    extent = (b - t) if vertical else (r - l)
    n = max(min(colors, extent), 2)
    band = extent // n

    def area(off, thick):
        return [l, t + off, r, t + off + thick] if vertical else [l + off, t, l + off + thick, b]

    if band > 0:
        for i in range(n):
            col = [half_away(first[k] + Fraction(i * (last[k] - first[k]), n - 1)) for k in range(3)]
            fill_rect(cv, *area(i * band, band), col)
    rest = extent % n
    if rest:
        fill_rect(cv, *area(extent - rest, rest), c2 if direction in ("tb", "lr") else c1)


def main():
    for arg in sys.argv[1:]:
        case = json.loads(arg)
        op = case["op"]
        if op == "shade":
            print(json.dumps([min(255, max(0, v - case["amount"])) for v in case["c"]]))
            continue
        cv = canvas(case)
        if op == "gradient":
            gradient(cv, case["rect"], case["c1"], case["c2"], case["orient"], case.get("reverse", False))
        elif op == "row":
            gradient_row(cv, case["rect"], case["stops"], case["orient"], case.get("reverse", False))
        elif op == "bands":
            bands(cv, case["rect"], case["c1"], case["c2"], case["dir"], case["colors"])
        print(json.dumps(cv))


if __name__ == "__main__":
    main()
