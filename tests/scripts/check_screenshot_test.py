#!/usr/bin/python3
"""The screenshot check that CI runs on the demo must fail on a picture that shows nothing."""
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw

CHECK = sys.argv[1]


def window(size=(520, 400)):
    """Something like the demo: a light background, a frame, rows of text and coloured squares."""
    im = Image.new("RGB", size, (240, 240, 240))
    d = ImageDraw.Draw(im)
    d.rectangle([10, 40, size[0] - 10, size[1] - 30], fill=(255, 255, 255), outline=(120, 120, 120))
    for i in range(12):
        y = 50 + i * 24
        d.rectangle([30, y, 46, y + 16], fill=((i * 40) % 256, (i * 90) % 256, (255 - i * 20) % 256))
        d.text((56, y + 2), f"Node number {i} with a picture", fill=(0, 0, 0))
    return im


def noisy_blank():
    im = Image.new("RGB", (520, 400), (255, 255, 255))
    for i in range(40):
        im.putpixel((i * 7 % 520, i * 13 % 400), (i * 6, 255 - i * 6, 128))
    return im


CASES = [
    # (name, make the file, passes)
    ("a window with text and pictures", lambda p: window().save(p), True),
    ("all white", lambda p: Image.new("RGB", (520, 400), "white").save(p), False),
    ("all black", lambda p: Image.new("RGB", (520, 400), "black").save(p), False),
    ("white with a few stray pixels", lambda p: noisy_blank().save(p), False),
    ("a window, but too small", lambda p: window((120, 90)).save(p), False),
    ("colours but no text", lambda p: Image.radial_gradient("L").convert("RGB").resize((520, 400)).save(p), False),
    ("not a picture", lambda p: open(p, "w").write("not a PNG"), False),
    ("empty file", lambda p: open(p, "wb").close(), False),
    ("no file", lambda p: None, False),
]

failures = 0
with tempfile.TemporaryDirectory() as tmp:
    for i, (name, make, passes) in enumerate(CASES):
        path = os.path.join(tmp, f"shot{i}.png")
        make(path)
        r = subprocess.run([sys.executable, CHECK, path], capture_output=True, text=True)
        ok = (r.returncode == 0) == passes
        print(f"{'ok ' if ok else 'FAIL'} {name}: exit {r.returncode} {r.stderr.strip()}")
        failures += not ok
print(f"{len(CASES) - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
