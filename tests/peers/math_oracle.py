#!/usr/bin/env python3
"""Independent reference values for the math helpers, written as JSON lines on stdout.

Usage: math_oracle.py MODE [SEED]

Modes:
  distance  pairs of texts with their Levenshtein distance and the accuracy derived from it
  cologne   words with their Cologne phonetic code (the library's variant of the rules)
  roundto   values rounded half away from zero to a number of decimals (decimal module)
  roundext  values rounded to integers under the four rounding modes

Nothing here shares code with the library: distances come from the textbook recurrence,
roundings from Python's decimal module applied to the exact binary value of each double.
"""
import json
import math
import random
import sys
from decimal import Decimal, ROUND_HALF_UP, ROUND_HALF_EVEN, ROUND_FLOOR, ROUND_CEILING, ROUND_DOWN


def emit(obj):
    sys.stdout.write(json.dumps(obj, ensure_ascii=False) + "\n")


# ---------------------------------------------------------------------------- distance

def levenshtein(a, b):
    """Textbook Wagner-Fischer over the full matrix; a and b are sequences of UTF-16 units."""
    rows, cols = len(a) + 1, len(b) + 1
    m = [[0] * cols for _ in range(rows)]
    for i in range(rows):
        m[i][0] = i
    for j in range(cols):
        m[0][j] = j
    for i in range(1, rows):
        for j in range(1, cols):
            m[i][j] = min(m[i - 1][j] + 1, m[i][j - 1] + 1, m[i - 1][j - 1] + (a[i - 1] != b[j - 1]))
    return m[-1][-1]


def utf16_units(s):
    data = s.encode("utf-16-le")
    return [data[k] | (data[k + 1] << 8) for k in range(0, len(data), 2)]


def mode_distance(rng):
    alphabet = "abcAB\u00e4\u00c4 -\U0001F600"
    fixed = [("", ""), ("", "abc"), ("abc", ""), ("a", "A"), ("AB", "BA"), ("ABCDEXX", "EDCBAY"),
             ("kitten", "sitting"), ("Meier", "Mayer"), ("haus", "maus"), ("abc", "abcdef"),
             ("flaw", "lawn"), ("Stra\u00dfe", "Strasse")]
    pairs = list(fixed)
    for _ in range(300):
        pairs.append(("".join(rng.choice(alphabet) for _ in range(rng.randint(0, 9))),
                      "".join(rng.choice(alphabet) for _ in range(rng.randint(0, 9)))))
    for a, b in pairs:
        ua, ub = utf16_units(a), utf16_units(b)
        d = levenshtein(ua, ub)
        if not ua and not ub:
            acc = 100.0
        elif not ua or not ub:
            acc = 0.0
        else:
            acc = max(0.0, 100.0 - d * 100.0 / min(len(ua), len(ub)))
        emit({"a": a, "b": b, "distance": d, "accuracy": acc})


# ---------------------------------------------------------------------------- cologne

# Letter groups of the Cologne phonetics.
VOWELISH = set("AEIJOUYH")


def cologne(word):
    """Cologne phonetics as the library writes it: X not after C/K/Q is 4 (not 48), and zeros
    are dropped before equal neighbours merge."""
    s = "".join(ch.upper() if "a" <= ch <= "z" else ch for ch in word)
    s = s.replace("\u00c4", "AE").replace("\u00d6", "OE").replace("\u00dc", "UE").replace("\u00df", "S")
    letters = [ch for ch in s if "A" <= ch <= "Z"]
    digits = []
    for pos, ch in enumerate(letters):
        before = letters[pos - 1] if pos > 0 else None
        after = letters[pos + 1] if pos + 1 < len(letters) else None
        if ch in VOWELISH:
            d = ""
        elif ch == "B":
            d = "1"
        elif ch == "P":
            d = "3" if after == "H" else "1"
        elif ch in "DT":
            d = "8" if after in ("C", "S", "Z") else "2"
        elif ch in "FVW":
            d = "3"
        elif ch in "GKQ":
            d = "4"
        elif ch == "C":
            if before in ("S", "Z"):
                d = "8"
            elif pos == 0:
                d = "4" if after in tuple("AHKLOQRUX") else "8"
            else:
                d = "4" if after in tuple("AHKOQUX") else "8"
        elif ch == "X":
            d = "8" if before in ("C", "K", "Q") else "4"
        elif ch == "L":
            d = "5"
        elif ch in "MN":
            d = "6"
        elif ch == "R":
            d = "7"
        else:  # S, Z
            d = "8"
        digits.append(d)
    joined = "".join(digits)
    out = []
    for d in joined:
        if not out or out[-1] != d:
            out.append(d)
    return "".join(out)


def mode_cologne(rng):
    words = ["", "BAB", "AXE", "M\u00fcller", "M\u00dcLLER", "MUELLER", "Meyer", "Wikipedia", "XAVER",
             "SCHULZ", "PHILIPP", "CA", "CE", "D-S", "Gro\u00df", "\u00c4rger", "\u00e4rger",
             "Christoph", "Czerny", "Zacharias", "Dachs", "Breschnew", "Kaczmarek", "Xylophon", "Hexe",
             "Lachs", "Schmidt", "Schmitt", "Becker", "B\u00e4cker", "Stadt", "Staedtler", "Pfeiffer",
             "CABCDEFGHIJKLMNOPQRSTUVWXYZSCSZCAACPHDCDSDZCXCKCQ", "123", "m\u00fcller-l\u00fcdenscheidt"]
    alphabet = "ABCDEHKLPQRSTXZacdhkpqstxz\u00c4\u00d6\u00dc\u00df\u00e4 -1"
    for _ in range(400):
        words.append("".join(rng.choice(alphabet) for _ in range(rng.randint(1, 10))))
    for w in words:
        emit({"word": w, "code": cologne(w)})


# ---------------------------------------------------------------------------- rounding

def near_tie(x, digits):
    """True when x * 10^digits lies within a hair of k + 0.5 without being exactly on it:
    there the double arithmetic of the rounding formula may legitimately differ from the exact
    decimal answer."""
    scaled = Decimal(x) * (Decimal(10) ** digits)
    frac = abs(scaled - scaled.to_integral_value(rounding=ROUND_DOWN))
    # The product x * 10^digits is rounded to double precision: allow for its error.
    tolerance = max(Decimal("1e-6"), abs(scaled) * Decimal(2) ** -50)
    return frac != Decimal("0.5") and abs(frac - Decimal("0.5")) < tolerance


def exact_range(x, digits):
    """True when x * 10^digits stays below 2^52, where a double still holds halves exactly."""
    return abs(Decimal(x) * (Decimal(10) ** digits)) < Decimal(2) ** 52


def half_up(x, digits):
    q = Decimal(x).quantize(Decimal(1).scaleb(-digits), rounding=ROUND_HALF_UP)
    return q


def random_values(rng, count):
    values = [0.0, 2.5, -2.5, 1.25, -1.25, 0.125, -0.125, 0.375, 1.005, 2.675, 123.456, -0.0001,
              1e-9, 99.995, 0.5, 1.5, -0.5, 4503599627370495.5, 1e15 + 0.5]
    for _ in range(count):
        kind = rng.randint(0, 3)
        if kind == 0:
            values.append(rng.uniform(-1000, 1000))
        elif kind == 1:
            values.append(rng.randint(-100000, 100000) / rng.choice([2, 4, 8, 16, 32, 64, 128]))
        elif kind == 2:
            values.append(round(rng.uniform(-100, 100), rng.randint(1, 6)))
        else:
            values.append(rng.uniform(-1e6, 1e6) * 10 ** rng.randint(-8, 0))
    return values


def mode_roundto(rng):
    for x in random_values(rng, 600):
        for digits in (0, 1, 2, 3, 4, 7, 10):
            if near_tie(x, digits) or not exact_range(x, digits):
                continue
            emit({"x": repr(x), "digits": digits, "result": repr(float(half_up(x, digits)))})


def mode_roundext(rng):
    values = random_values(rng, 400) + [0.5, -0.5, 1.5, -1.5, 2.5, -2.5, -2.7, 2.7, 1e18, -1e18]
    for x in values:
        d = Decimal(x)
        emit({"x": repr(x),
              "nearest": int(d.to_integral_value(rounding=ROUND_HALF_EVEN)),
              "down": int(d.to_integral_value(rounding=ROUND_FLOOR)),
              "up": int(d.to_integral_value(rounding=ROUND_CEILING)),
              "truncate": int(d.to_integral_value(rounding=ROUND_DOWN))})


def main():
    mode = sys.argv[1]
    rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 20240601)
    {"distance": mode_distance, "cologne": mode_cologne, "roundto": mode_roundto,
     "roundext": mode_roundext}[mode](rng)


if __name__ == "__main__":
    main()
