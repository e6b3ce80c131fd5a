#!/usr/bin/env python3
"""Independent reference values for the scalar conversions, written as JSON lines on stdout.

Usage: conversion_oracle.py MODE [SEED]

Modes:
  texts    float text forms of doubles: the 23-character scientific form with 15 significant
           digits, fixed forms with 0, 2 and 4 decimals, and the trimmed forms (7 or 4 decimals,
           at least 2); cut digits round half away from zero (decimal module, exact binary value)
  amounts  amounts written in many national styles (grouping by '.', ',', blank, apostrophe,
           U+2019; decimal sign ',' or '.'; sign in front or behind) with the number they stand
           for, as a canonical text and as a currency amount times 10000
"""
import json
import math
import random
import sys
from decimal import Decimal, ROUND_HALF_UP, ROUND_DOWN

from math_oracle import near_tie, exact_range, half_up, random_values


def emit(obj):
    sys.stdout.write(json.dumps(obj, ensure_ascii=False) + "\n")



def fixed_text(q):
    text = "{:f}".format(q)
    if text.startswith("-") and set(text[1:]) <= set("0."):
        text = text[1:]
    return text


def scientific_text(x):
    """The 23-character form: sign or blank, d.dddddddddddddd, E, exponent sign, 4 digits,
    15 significant digits rounded half away from zero."""
    if math.isinf(x):
        return ("+Inf" if x > 0 else "-Inf").rjust(23)
    if math.isnan(x):
        return "Nan".rjust(23)
    sign = "-" if x < 0 else " "
    d = abs(Decimal(x))
    if d == 0:
        return sign + "0." + "0" * 14 + "E+0000"
    exp = d.adjusted()
    mant = (d.scaleb(-exp)).quantize(Decimal("1e-14"), rounding=ROUND_HALF_UP)
    if mant >= 10:
        exp += 1
        mant = (d.scaleb(-exp)).quantize(Decimal("1e-14"), rounding=ROUND_HALF_UP)
    return "{}{:.14f}E{}{:04d}".format(sign, mant, "+" if exp >= 0 else "-", abs(exp))


def trimmed_text(x, decimals, min_decimals):
    q = half_up(x, decimals)
    text = fixed_text(q)
    whole, _, frac = text.partition(".")
    frac = frac.rstrip("0")
    frac = frac + "0" * max(0, min_decimals - len(frac))
    return whole + "." + frac


def mode_texts(rng):
    values = random_values(rng, 300) + [1.5, -1.5, 1234567890123445.0, 1234567890123455.0, 1e300, -1e-300,
                                        5e-324, 1.7976931348623157e308, 0.1, 1 / 3, 2.0, 0.00390625,
                                        float("inf"), float("-inf"), float("nan")]
    for x in values:
        entry = {"x": repr(x), "scientific": scientific_text(x)}
        if math.isfinite(x) and abs(x) < 1e15:
            for digits in (0, 2, 4):
                if not near_tie(x, digits) and exact_range(x, digits):
                    entry["fixed%d" % digits] = fixed_text(half_up(x, digits))
            entry["trim72"] = trimmed_text(x, 7, 2)
            entry["trim42"] = trimmed_text(x, 4, 2)
        emit(entry)


# ---------------------------------------------------------------------------- amounts

STYLES = [  # (thousands separator, decimal sign)
    (".", ","), (",", "."), (" ", ","), (" ", "."), ("'", "."), ("\u2019", "."), ("", ","), ("", "."),
]


def group(digits, sep):
    parts = []
    while len(digits) > 3:
        parts.insert(0, digits[-3:])
        digits = digits[:-3]
    parts.insert(0, digits)
    return sep.join(parts)


def mode_amounts(rng):
    for _ in range(1500):
        whole = str(rng.choice([rng.randint(0, 999), rng.randint(1000, 999999), rng.randint(10 ** 6, 10 ** 12)]))
        decimals = rng.choice([0, 1, 2, 2, 3, 4])
        fraction = "".join(rng.choice("0123456789") for _ in range(decimals))
        thousands, decimal_sign = rng.choice(STYLES)
        grouped = group(whole, thousands) if thousands else whole
        # One group separator and no decimals reads as a decimal sign by design: not an amount.
        if not fraction and thousands and grouped.count(thousands) == 1:
            grouped = whole
        text = grouped + (decimal_sign + fraction if fraction else "")
        negative = rng.random() < 0.3
        if negative:
            text = "-" + text if rng.random() < 0.5 else text + "-"
        if rng.random() < 0.2:
            text = "  " + text + " "
        canonical = ("-" if negative else "") + whole + ("." + fraction if fraction else "")
        scaled = (Decimal(canonical) * 10000).quantize(Decimal(1), rounding=ROUND_HALF_UP)
        emit({"text": text, "value": repr(float(canonical)), "currency": int(scaled)})


def main():
    mode = sys.argv[1]
    rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 20240601)
    {"texts": mode_texts, "amounts": mode_amounts}[mode](rng)


if __name__ == "__main__":
    main()
