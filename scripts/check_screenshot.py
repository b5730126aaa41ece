#!/usr/bin/python3
"""Checks that a screenshot of the demo shows something: the file is there, is a picture of a
window's size, and is not blank (one colour, or nearly so).

    check_screenshot.py FILE [--min-width 200] [--min-height 150]

Exits 0 when the picture passes, 1 with the reason when it does not.
"""
import argparse
import sys

from PIL import Image, UnidentifiedImageError


def problems(path, min_width, min_height):
    try:
        with Image.open(path) as im:
            im.load()
            rgb = im.convert("RGB")
    except FileNotFoundError:
        return [f"{path}: no such file"]
    except (UnidentifiedImageError, OSError) as e:
        return [f"{path}: not a picture ({e})"]
    found = []
    w, h = rgb.size
    if w < min_width or h < min_height:
        found.append(f"{w}x{h} pixels, smaller than {min_width}x{min_height}")
    colours = rgb.getcolors(maxcolors=1 << 24) or []
    colours.sort(reverse=True)
    total = w * h
    if len(colours) < 16:
        found.append(f"only {len(colours)} colours: blank")
    elif colours[0][0] > 0.97 * total:
        found.append(f"one colour covers {100 * colours[0][0] / total:.1f}% of it: blank")
    # Text and pictures have sharp edges; a blank window, a gradient or a few stray pixels do not.
    grey = list(rgb.convert("L").getdata())
    edges = sum(1 for i in range(1, len(grey)) if i % w and abs(grey[i] - grey[i - 1]) > 100)
    if edges < 200:
        found.append(f"{edges} sharp edges only: no text or pictures")
    return [f"{path}: {p}" for p in found]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("file")
    ap.add_argument("--min-width", type=int, default=200)
    ap.add_argument("--min-height", type=int, default=150)
    a = ap.parse_args()
    found = problems(a.file, a.min_width, a.min_height)
    for p in found:
        print("check_screenshot:", p, file=sys.stderr)
    if not found:
        print(f"check_screenshot: {a.file} shows a window")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
