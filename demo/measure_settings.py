#!/usr/bin/python3
"""Derives the settings velnor measures for a plane from its noise and detail, and
checks them on pictures the derivation did not see.

1. Grid: every case of demo/settings_corpus.py (photographs from Debian's
   python3-skimage at their own size, scaled up 1.5 to 4 times and scaled down,
   luma and chroma planes, Gaussian noise of standard deviation 2 to 20) is
   filtered with every setting of the grid; velnor's estimate of the noisy plane
   (noise and detail) is recorded beside the PSNRs.
2. Rule: for each kind of plane (luma, chroma) and each node of a grid of noise
   estimates and details, the setting that loses least against each training
   case's own best, on average over the training cases around the node (weighted
   by their distance in log estimate and log detail). Between nodes velnor
   interpolates each value bilinearly. Written to core/suggested_settings.tsv,
   which velnor compiles in.
3. Check: on the held-out photographs, `velnor --suggest` on each noisy plane, the
   PSNR of the plane filtered with what it suggests, against the best setting of
   the grid and the defaults, by kind of picture (own size, upscaled, downscaled).
   --markdown prints that table as docs/settings.md shows it.

Needs numpy and PIL (Debian's python3-numpy and python3-pil). Grid results are
cached in <out>/cases/.
"""
import argparse
import math
import os
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from settings_corpus import (CROP, DEFAULTS, SCALES, SIGMAS, Case, grid_settings,  # noqa: E402
                             measure, run_tool)

TRAINING = {"luma": ["astronaut.png", "camera.png", "coffee.png", "motorcycle_left.png",
                     "moon.png", "brick.png", "grass.png", "gravel.png", "cell.png",
                     "clock_motion.png"],
            "chroma": ["astronaut.png", "coffee.png", "motorcycle_left.png", "ihc.png"]}
HELD_OUT = {"luma": ["chelsea.png", "rocket.jpg", "coins.png", "hubble_deep_field.jpg",
                     "retina.jpg", "ihc.png"],
            "chroma": ["chelsea.png", "rocket.jpg", "hubble_deep_field.jpg", "retina.jpg"]}
CHROMA_SCALES = [0.5, 1, 2]
CHROMA_SIGMAS = [2, 4, 6, 10, 15, 20]
# The table's nodes: noise estimates (8-bit steps) and details.
ESTIMATES = [2, 3, 4, 5, 6, 8, 10, 12, 15, 20]
DETAILS = [1.0, 1.2, 1.45, 1.75, 2.1, 2.6, 3.3, 4.2]
# Kernel widths in natural log units, narrow against the nodes' spacing (0.2 to 0.4):
# the cases at a node decide it.
WIDTH_ESTIMATE = 0.1
WIDTH_DETAIL = 0.08
# The budget on held-out pictures: luma within 0.5 dB of the grid's best and never
# more than 0.1 dB below the defaults; chroma within 0.7 dB of the grid's best.
BUDGET = {"luma": 0.5, "chroma": 0.7}
BELOW_DEFAULTS = 0.1
# Whole 1080p frames: photographs scaled up 3.75 times (to 1920 wide, the middle
# 1080 rows), luma with noise 4 and 8, and the chroma of a 4:4:4 frame with chroma
# noise 12, beside one photograph at its own size.
FULL_HD = (1920, 1080)
# How much more a dB beyond either counts in the derivation than a dB within.
PENALTY = 3.0


def cases(images, kind, photos):
    if kind == "luma":
        return [Case(images, p, scale, "luma", 0, sigma)
                for p in photos for scale in SCALES for sigma in SIGMAS]
    return [Case(images, p, scale, plane, layout, sigma)
            for p in photos for scale in CHROMA_SCALES for layout in (444, 420)
            for plane in ("cb", "cr") for sigma in CHROMA_SIGMAS]


def examples(images):
    return ([Case(images, p, 3.75, "luma", 0, sigma, FULL_HD)
             for p in ("astronaut.png", "camera.png") for sigma in (4, 8)] +
            [Case(images, p, scale, plane, 444, 12, FULL_HD)
             for p, scale in (("astronaut.png", 3.75), ("chelsea.png", 1)) for plane in ("cb", "cr")])


def picture_kind(case):
    return "own size" if case.scale == 1 else "upscaled" if case.scale > 1 else "downscaled"


def derive(psnr, measured):
    """The node settings (index into grid_settings) for one kind of plane. Each
    node's setting minimises, over the training cases around it, the mean loss
    against each case's best, plus a penalty for every dB that a case falls
    beyond the budget below its best or below the defaults."""
    best = psnr.max(axis=1, keepdims=True)
    defaults = psnr[:, [grid_settings().index(DEFAULTS)]]
    shortfall = best - psnr  # cases x settings, >= 0
    cost = (shortfall + PENALTY * np.maximum(0, shortfall - 0.8 * BUDGET["luma"]) +
            PENALTY * np.maximum(0, defaults - psnr - 0.5 * BELOW_DEFAULTS))
    log_e, log_d = np.log(measured[:, 0]), np.log(np.maximum(measured[:, 1], 1e-3))
    nodes = []
    for e in ESTIMATES:
        for d in DETAILS:
            distance = (((log_e - math.log(e)) / WIDTH_ESTIMATE) ** 2 +
                        ((log_d - math.log(d)) / WIDTH_DETAIL) ** 2)
            w = np.exp(-0.5 * distance)
            if w.sum() < 1e-6:  # no case near: the nearest cases decide
                w = np.exp(-0.5 * (distance - distance.min()))
            nodes.append((e, d, int(np.argmin(w @ cost)), float(w.sum())))
    return nodes


def interpolate(nodes, estimate, detail):
    """velnor's lookup (core/suggested_settings.cpp), for the derivation's own use."""
    settings = grid_settings()
    values = np.array([settings[n[2]] for n in nodes], dtype=float).reshape(
        len(ESTIMATES), len(DETAILS), 3)

    def position(axis, v):
        if not v > axis[0]:
            return 0, 0.0
        if v >= axis[-1]:
            return len(axis) - 2, 1.0
        upper = next(i for i, a in enumerate(axis) if a >= v)
        return upper - 1, (v - axis[upper - 1]) / (axis[upper] - axis[upper - 1])

    ei, ef = position(ESTIMATES, estimate)
    di, df = position(DETAILS, detail)
    low = values[ei, di] * (1 - df) + values[ei, di + 1] * df
    high = values[ei + 1, di] * (1 - df) + values[ei + 1, di + 1] * df
    return tuple(int(math.floor(v + 0.5)) for v in low * (1 - ef) + high * ef)


def write_table(path, derived):
    settings = grid_settings()
    with open(path, "w") as out:
        out.write("# Settings by plane kind, noise estimate (8-bit steps) and detail, as\n"
                  "# velnor measures them: written by demo/measure_settings.py from the\n"
                  "# training photographs (luma: " + ", ".join(TRAINING["luma"]) + ";\n"
                  "# chroma: " + ", ".join(TRAINING["chroma"]) + ") at their own size,\n"
                  "# scaled up and scaled down, with Gaussian noise. Each node's setting\n"
                  "# loses least against each training case's own best setting, on average\n"
                  "# over the cases around the node; `weight` is how many cases count there.\n"
                  "# velnor interpolates bilinearly between nodes and holds the edges.\n")
        out.write("plane\testimate\tdetail\tstrength\tthreshold1\tthreshold2\tweight\n")
        for kind in ("luma", "chroma"):
            for e, d, index, weight in derived[kind]:
                s, t1, t2 = settings[index]
                out.write(f"{kind}\t{e:g}\t{d:g}\t{s}\t{t1}\t{t2}\t{weight:.1f}\n")


def suggest(velnor, case, folder, chroma):
    """The settings `velnor --suggest` gives for one noisy plane, fed to it as the
    luma of a 4:4:4 frame (chroma as the Cb plane of one with --chroma)."""
    clean, noisy = case.planes()
    h, w = noisy.shape
    flat = np.full((h, w), 128, np.uint8).tobytes()
    planes = (flat + noisy.tobytes() + flat) if chroma else (noisy.tobytes() + flat + flat)
    stream = (f"YUV4MPEG2 W{w} H{h} F25:1 Ip A1:1 C444\n".encode() + b"FRAME\n" + planes)
    run = subprocess.run([velnor, "--suggest"] + (["--chroma"] if chroma else []),
                         input=stream, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True)
    words = run.stdout.decode().split()
    if chroma:
        return tuple(int(v) for v in words[words.index("--cb") + 1].split(","))
    return tuple(int(words[k]) for k in (1, 3, 5))


def check(velnor, tool, kind, held, psnr, folder):
    """Rows (case, suggested, auto dB, best dB, defaults dB) for the held-out cases."""
    settings = grid_settings()
    rows = []
    for case, p in zip(held, psnr):
        chosen = suggest(velnor, case, folder, kind == "chroma")
        auto = float(run_tool(tool, case, [chosen], folder)[1])
        rows.append((case, chosen, auto, float(p.max()), float(p[settings.index(DEFAULTS)])))
    return rows


def summary(kind, rows, markdown):
    groups = {}
    for case, _, auto, best, defaults in rows:
        low = case.sigma <= 4
        groups.setdefault((picture_kind(case), low), []).append((best - auto, defaults - auto))
    lines = []
    if markdown:
        lines.append("| plane | pictures | noise | cases | auto below the best: mean / largest "
                     "| auto against the defaults: mean / worst |")
        lines.append("|---|---|---|---|---|---|")
    for (picture, low), values in sorted(groups.items()):
        short = np.array([v[0] for v in values])
        over = -np.array([v[1] for v in values])
        noise = "2 to 4" if low else "5 to 20"
        if markdown:
            lines.append(f"| {kind} | {picture} | {noise} | {len(values)} | {short.mean():.2f} / "
                         f"{short.max():.2f} dB | {over.mean():+.2f} / {over.min():+.2f} dB |")
        else:
            lines.append(f"{kind:<7} {picture:<11} noise {noise:<8} {len(values):>4} cases: "
                         f"below best mean {short.mean():.2f} max {short.max():.2f} dB; "
                         f"vs defaults mean {over.mean():+.2f} worst {over.min():+.2f} dB")
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--velnor", required=True, help="the velnor program")
    parser.add_argument("--grid-tool", required=True, help="bench's velnor_settings_grid")
    parser.add_argument("--images", required=True, help="skimage's data directory")
    parser.add_argument("--out", default="out/settings", help="where the grid is cached")
    parser.add_argument("--table", help="write the derived rule to this file and stop")
    parser.add_argument("--markdown", action="store_true", help="the check as docs' table")
    parser.add_argument("-j", "--jobs", type=int, default=2, help="cases at a time")
    args = parser.parse_args()
    folder = os.path.join(args.out, "cases")
    settings = grid_settings()

    if args.table:
        derived = {}
        for kind in ("luma", "chroma"):
            train = cases(args.images, kind, TRAINING[kind])
            psnr, measured = measure(args.grid_tool, train, folder, args.jobs)
            derived[kind] = derive(psnr, measured)
            print(f"{kind}: {len(train)} training cases")
        write_table(args.table, derived)
        print(f"rule written to {args.table}; rebuild velnor before the check")
        return

    text, table = [], []
    for kind in ("luma", "chroma"):
        held = cases(args.images, kind, HELD_OUT[kind])
        psnr, _ = measure(args.grid_tool, held, folder, args.jobs)
        rows = check(args.velnor, args.grid_tool, kind, held, psnr, folder)
        print_rows(rows)
        text += summary(kind, rows, False)
        table += summary(kind, rows, True)[0 if kind == "luma" else 2:]
    full = examples(args.images)
    psnr, _ = measure(args.grid_tool, full, folder, args.jobs)
    print("\nwhole frames:")
    print_rows(check(args.velnor, args.grid_tool, "luma", full[:4], psnr[:4], folder) +
               check(args.velnor, args.grid_tool, "chroma", full[4:], psnr[4:], folder))
    print("\nheld-out photographs, by kind of picture:")
    print("\n".join(table if args.markdown else text))


def print_rows(rows):
    for case, chosen, auto, best, defaults in rows:
        print(f"{case.key:<40} {'%d/%d/%d' % chosen:>12} auto {auto:6.2f} best {best:6.2f} "
              f"({auto - best:+.2f}) defaults {defaults:6.2f} ({auto - defaults:+.2f})")


if __name__ == "__main__":
    main()
