#!/usr/bin/env python3
"""Random cases for scripts/cross-check.sh: the native and a foreign kavun-cli on the same inputs.

For each case both programs scramble the same picture, PNG, BMP or JPEG (the PNG or BMP outputs
must be identical byte for byte, so JPEG input must decode alike), then each restores the
other's output (both must give the original pixels). Pixels are
compared through the native program: an XOR over the whole picture converts any picture to a
24-bit one, written by a deterministic writer, so equal pixels give equal files.

Usage: cross_cases.py --cases N --seed S --work DIR [--prefix NAME] --native CLI --foreign EMULATOR CLI
"""
import argparse
import filecmp
import os
import random
import struct
import subprocess
import sys

PASSWORD_CHARACTERS = (
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 !#%&()*+-./:;<=>?@[]^_{|}"
    "あいうえおかきくけこパスワード漢字暗号画像髙﨑德¥‾〜～−ｱｲｳｴｵﾊﾟ①②ⅰ㈱∵≒"
)


def write_bmp(path, width, height, rng, palette):
    """A bottom-up BMP, 24-bit colour or 8-bit with a 256-colour palette, random pixels."""
    bpp = 8 if palette else 24
    stride = (width * bpp // 8 + 3) // 4 * 4
    table = b""
    if palette:
        table = bytes(rng.randrange(256) if i % 4 != 3 else 0 for i in range(256 * 4))
    rows = []
    for _ in range(height):
        row = bytes(rng.randrange(256) for _ in range(width * bpp // 8))
        rows.append(row + b"\0" * (stride - len(row)))
    pixels = b"".join(rows)
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0, len(pixels), 2835, 2835,
                       256 if palette else 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + table + pixels)


def random_rect(rng, width, height):
    kind = rng.choice(["whole", "corner", "top-row", "bottom-row", "left-column",
                       "right-column", "right-edge", "bottom-edge", "random", "random"])
    if kind == "whole":
        return (0, 0, width, height)
    if kind == "corner":
        x = rng.choice([0, width - 1])
        y = rng.choice([0, height - 1])
        return (x, y, x + 1, y + 1)
    if kind == "top-row":
        return (0, 0, width, 1)
    if kind == "bottom-row":
        return (0, height - 1, width, height)
    if kind == "left-column":
        return (0, 0, 1, height)
    if kind == "right-column":
        return (width - 1, 0, width, height)
    left = rng.randrange(width)
    top = rng.randrange(height)
    right = width if kind == "right-edge" else rng.randrange(left + 1, width + 1)
    bottom = height if kind == "bottom-edge" else rng.randrange(top + 1, height + 1)
    return (left, top, right, bottom)


class Runner:
    def __init__(self, native, foreign, work):
        self.native = [os.path.abspath(native)]
        self.foreign = foreign
        self.work = work

    def run(self, program, args, what):
        result = subprocess.run(program + args, cwd=self.work, capture_output=True, timeout=300)
        if result.returncode != 0:
            raise RuntimeError(f"{what} failed ({result.returncode}): {' '.join(args)}\n"
                               + result.stderr.decode("utf-8", "replace"))

    def canonical(self, picture, name):
        self.run(self.native, ["xor", picture, name, "--mode", "md5", "--password", "canon"],
                 "canonical form")
        return os.path.join(self.work, name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cases", type=int, default=100)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--work", required=True)
    parser.add_argument("--native", required=True)
    parser.add_argument("--foreign", nargs="+", required=True)
    # The files' names begin with this (e.g. Japanese, for a program that takes UTF-16 names).
    parser.add_argument("--prefix", default="c")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    runner = Runner(args.native, args.foreign, args.work)
    counts = {"mosaic": 0, "shift": 0, "xor": 0}
    compared = restored = 0
    failures = []
    for case in range(args.cases):
        width, height = rng.randrange(1, 90), rng.randrange(1, 70)
        in_ext = rng.choice(["png", "bmp", "png", "bmp", "jpg"])
        out_ext = rng.choice(["png", "bmp"])
        source = f"{args.prefix}{case}.bmp"
        write_bmp(os.path.join(args.work, source), width, height, rng, rng.random() < 0.3)
        picture = source
        if in_ext != "bmp":
            # The native writer makes PNG and JPEG inputs: a row rotated by one bit and back
            # again, which any picture size allows.
            picture = f"{args.prefix}{case}.{in_ext}"
            turned = f"{args.prefix}{case}-t.bmp"
            runner.run(runner.native, ["shift", source, turned, "--bits", "1"], "input")
            runner.run(runner.native, ["shift", turned, picture, "--bits", "-1"], "input")
        rect = random_rect(rng, width, height)
        rect_arg = ["--rect", ",".join(map(str, rect))]
        rect_w, rect_h = rect[2] - rect[0], rect[3] - rect[1]
        transform = rng.choice(["mosaic", "shift", "xor"])
        if transform == "mosaic" and (rect_w < 2 or rect_h < 2):
            # kavun-cli refuses a mosaic that holds no whole block: nothing to compare.
            transform = rng.choice(["shift", "xor"])
        counts[transform] += 1
        if transform == "mosaic":
            # Blocks that fit the rectangle at least once.
            block = f"{rng.randrange(2, min(50, rect_w) + 1)}x{rng.randrange(2, min(50, rect_h) + 1)}"
            keys = f"{rng.randrange(256)},{rng.randrange(256)}"
            params = ["--block", block, "--keys", keys]
            undo = params + ["--decode"]
            check = subprocess.run(runner.native + ["check"] + params, capture_output=True)
            if check.returncode != 0:
                # Coefficients that cannot be undone: kavun-cli applies them only when told
                # to, and only the output is compared.
                params = params + ["--allow-irreversible"]
                undo = None
        elif transform == "shift":
            bits = rng.choice([-1, 1]) * rng.randrange(1, 24)
            params, undo = ["--bits", str(bits)], ["--bits", str(-bits)]
        else:
            password = "".join(rng.choice(PASSWORD_CHARACTERS) for _ in range(rng.randrange(13)))
            with open(os.path.join(args.work, f"{args.prefix}{case}.pw"), "w", encoding="utf-8") as f:
                f.write(password)
            params = ["--mode", rng.choice(["mt", "md5", "md5ofb"]), "--password-file",
                      f"{args.prefix}{case}.pw"]
            undo = params
        described = (f"case {case}: {transform} {' '.join(params)} {width}x{height} "
                     f"{in_ext}->{out_ext} rect {rect}")
        try:
            native_out, foreign_out = f"{args.prefix}{case}-n.{out_ext}", f"{args.prefix}{case}-f.{out_ext}"
            runner.run(runner.native, [transform, picture, native_out] + rect_arg + params,
                       "native")
            runner.run(runner.foreign, [transform, picture, foreign_out] + rect_arg + params,
                       "foreign")
            compared += 1
            if not filecmp.cmp(os.path.join(args.work, native_out),
                               os.path.join(args.work, foreign_out), shallow=False):
                failures.append(described + ": the scrambled files differ")
                continue
            if undo is None:
                continue
            # Each program restores the other's output.
            back_ext = "png" if in_ext == "jpg" else in_ext
            back_n, back_f = f"{args.prefix}{case}-nr.{back_ext}", f"{args.prefix}{case}-fr.{back_ext}"
            runner.run(runner.native, [transform, foreign_out, back_n] + rect_arg + undo,
                       "native restore")
            runner.run(runner.foreign, [transform, native_out, back_f] + rect_arg + undo,
                       "foreign restore")
            original = runner.canonical(picture, f"{args.prefix}{case}-o.bmp")
            for back, who in ((back_n, "native"), (back_f, "foreign")):
                if not filecmp.cmp(original, runner.canonical(back, f"{args.prefix}{case}-x.bmp"),
                                   shallow=False):
                    failures.append(described + f": the {who} restore differs from the original")
            restored += 2
        except (RuntimeError, subprocess.TimeoutExpired) as e:
            failures.append(described + f": {e}")
        finally:
            for name in os.listdir(args.work):
                if name.startswith(f"{args.prefix}{case}"):
                    os.remove(os.path.join(args.work, name))

    print(f"{compared} outputs compared byte for byte, {restored} cross restores "
          f"(mosaic {counts['mosaic']}, shift {counts['shift']}, xor {counts['xor']} cases)")
    for failure in failures:
        print("DIFFERENCE " + failure)
    if failures:
        print(f"{len(failures)} of {args.cases} cases differ (SEED={args.seed})")
        return 1
    print(f"{args.cases} passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
