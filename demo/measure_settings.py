#!/usr/bin/python3
"""Measures which velnor settings suit which noise level, and checks the rule.

1. Grid: adds seeded Gaussian noise of several standard deviations to the luma of
   photographs from Debian's python3-skimage, filters each with every setting of a
   grid (one velnor process per photograph and setting, one frame per noise level)
   and records the luma PSNR against the clean picture.
2. Rule: for each noise level, the setting with the best mean PSNR over the
   training photographs, and the mean of velnor's noise estimate on them (velnor
   looks the rule up by its estimate, which reads light noise high). Writes it,
   with the mean PSNR of the noisy pictures, the defaults, the rule and each
   photograph's own best setting, to the settings table that velnor reads at
   build time (core/suggested_settings.tsv).
3. Check: on photographs the rule was not derived from, runs `velnor --suggest`
   on every noisy picture, filters it with the suggested settings and compares the
   PSNR with the best setting of the grid for that picture; also reports how far
   the noise estimate is from the true standard deviation.

Needs numpy and PIL (Debian's python3-numpy and python3-pil). The grid is cached
in <out>/grid-<photograph>.npz; --remeasure measures it again.
"""
import argparse
import itertools
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from denoise_demo import psnr, to_yuv420  # noqa: E402

TRAINING = ["astronaut.png", "camera.png", "coffee.png", "motorcycle_left.png"]
HELD_OUT = ["chelsea.png", "rocket.jpg", "coins.png"]
SIGMAS = [2, 3, 4, 5, 6, 8, 10, 12, 15, 20]
STRENGTHS = [1, 2, 3, 4, 5, 8, 11, 14, 17, 20]
THRESHOLD1 = [10, 20, 40, 60, 80, 120, 160, 220, 300, 400, 550, 800]
THRESHOLD2 = [3, 5, 8, 12, 16, 20, 25, 30, 40, 50, 65, 80]
DEFAULTS = (20, 40, 10)
NO_FILTER = (0, 40, 10)  # strength 0 leaves the picture as it is
COLUMNS = ["sigma", "strength", "threshold1", "threshold2", "estimate",
           "noisy_db", "defaults_db", "rule_db", "best_db",
           "noisy_ssim", "defaults_ssim", "rule_ssim"]


def grid_settings():
    grid = list(itertools.product(STRENGTHS, THRESHOLD1, THRESHOLD2))
    return [NO_FILTER] + ([] if DEFAULTS in grid else [DEFAULTS]) + grid


def luma(path):
    return to_yuv420(np.asarray(Image.open(path).convert("RGB")))[0]


def noisy_luma(clean, sigma, seed):
    rng = np.random.default_rng(seed)
    return np.clip(np.rint(clean + rng.normal(0.0, sigma, clean.shape)), 0, 255).astype(np.uint8)


def y4m_stream(planes):
    """One frame per luma plane, neutral chroma (velnor filters the luma only)."""
    h, w = planes[0].shape
    chroma = bytes([128]) * (2 * ((w + 1) // 2) * ((h + 1) // 2))
    header = f"YUV4MPEG2 W{w} H{h} F25:1 Ip A1:1 C420jpeg\n".encode()
    return header + b"".join(b"FRAME\n" + p.tobytes() + chroma for p in planes)


def y4m_lumas(data, w, h):
    frame_bytes = w * h + 2 * ((w + 1) // 2) * ((h + 1) // 2)
    position = data.index(b"\n") + 1
    planes = []
    while position < len(data):
        position = data.index(b"\n", position) + 1
        planes.append(np.frombuffer(data, np.uint8, w * h, position).reshape(h, w))
        position += frame_bytes
    return planes


def filtered(velnor, stream, w, h, setting):
    s, t1, t2 = setting
    run = subprocess.run([velnor, "-j", "1", "--quiet", "--strength", str(s),
                          "--threshold1", str(t1), "--threshold2", str(t2)],
                         input=stream, stdout=subprocess.PIPE, check=True)
    return y4m_lumas(run.stdout, w, h)


class Photo:
    def __init__(self, images, name, index):
        self.name = name
        self.clean = luma(os.path.join(images, name))
        self.h, self.w = self.clean.shape
        self.noisy = [noisy_luma(self.clean, s, 1000 * index + s) for s in SIGMAS]
        self.stream = y4m_stream(self.noisy)

    def psnrs(self, velnor, setting):
        return [psnr(p, self.clean) for p in filtered(velnor, self.stream, self.w, self.h, setting)]


def measure_grid(velnor, photos, jobs, cache, remeasure):
    """PSNR by photograph, noise level and setting. Each photograph's results are
    cached with their settings; only settings missing from the cache are measured."""
    settings = grid_settings()
    table = np.zeros((len(photos), len(SIGMAS), len(settings)))
    with ThreadPoolExecutor(jobs) as pool:
        for i, photo in enumerate(photos):
            path = os.path.join(cache, f"grid-{photo.name}.npz")
            known = {}
            if os.path.exists(path) and not remeasure:
                saved = np.load(path)
                if list(saved["sigmas"]) == SIGMAS:
                    known = {tuple(int(v) for v in s): saved["table"][:, k]
                             for k, s in enumerate(saved["settings"])}
            missing = [s for s in settings if s not in known]
            for s, row in zip(missing, pool.map(lambda s: photo.psnrs(velnor, s), missing)):
                known[s] = np.array(row)
            if missing:
                kept = sorted(known)
                np.savez(path, sigmas=SIGMAS, settings=np.array(kept),
                         table=np.stack([known[s] for s in kept], axis=1))
                print(f"  grid: {photo.name}: {len(missing)} settings measured", file=sys.stderr)
            for k, s in enumerate(settings):
                table[i, :, k] = known[s]
    return table


def box_mean(a, k=7):
    """Means over every k x k window that fits inside `a`."""
    c = np.pad(a, ((1, 0), (1, 0))).cumsum(axis=0).cumsum(axis=1)
    return (c[k:, k:] - c[:-k, k:] - c[k:, :-k] + c[:-k, :-k]) / (k * k)


def ssim(a, b):
    """Mean structural similarity (Wang, Bovik, Sheikh and Simoncelli, 2004) over
    7x7 windows, 8-bit constants."""
    x, y = a.astype(np.float64), b.astype(np.float64)
    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2
    mx, my = box_mean(x), box_mean(y)
    vx, vy = box_mean(x * x) - mx * mx, box_mean(y * y) - my * my
    cxy = box_mean(x * y) - mx * my
    return float(np.mean((2 * mx * my + c1) * (2 * cxy + c2) /
                         ((mx * mx + my * my + c1) * (vx + vy + c2))))


def derive_rule(velnor, photos, table):
    """One row per noise level: the setting with the best mean PSNR over the
    training photographs, the mean noise estimate of velnor --suggest on them, the mean PSNR of noisy, defaults, that setting and each
    photograph's best, and the mean SSIM of noisy, defaults and that setting."""
    settings = grid_settings()
    training = [i for i, p in enumerate(photos) if p.name in TRAINING]
    defaults = {i: filtered(velnor, photos[i].stream, photos[i].w, photos[i].h, DEFAULTS)
                for i in training}
    rows = []
    for j, sigma in enumerate(SIGMAS):
        mean = table[training, j, :].mean(axis=0)
        best = int(np.argmax(mean))
        noisy = np.mean([psnr(photos[i].noisy[j], photos[i].clean) for i in training])
        ruled = {i: filtered(velnor, y4m_stream([photos[i].noisy[j]]), photos[i].w, photos[i].h,
                             settings[best])[0] for i in training}
        estimate = np.mean([suggest(velnor, y4m_stream([photos[i].noisy[j]]))[1]
                            for i in training])
        rows.append([sigma, *settings[best], estimate, noisy, mean[settings.index(DEFAULTS)], mean[best],
                     table[training, j, :].max(axis=1).mean(),
                     np.mean([ssim(photos[i].noisy[j], photos[i].clean) for i in training]),
                     np.mean([ssim(defaults[i][j], photos[i].clean) for i in training]),
                     np.mean([ssim(ruled[i], photos[i].clean) for i in training])])
    return rows


def row_text(row):
    return "\t".join([str(v) for v in row[:4]] + [f"{v:.2f}" for v in row[4:9]] +
                     [f"{v:.3f}" for v in row[9:]])


def write_table(path, rows):
    with open(path, "w") as out:
        out.write("# Suggested settings by luma noise level (standard deviation in 8-bit steps):\n"
                  "# the setting with the best mean luma PSNR over the training photographs\n"
                  f"# ({', '.join(TRAINING)}), measured by demo/measure_settings.py.\n"
                  "# velnor looks the rows up by its noise estimate: the estimate column is its\n"
                  "# mean estimate on the training photographs at the row's noise level. Between\n"
                  "# two rows it interpolates linearly; outside them it takes the nearest row.\n"
                  "# The dB columns are means over the training photographs: noisy,\n"
                  "# filtered with the defaults, with this row's setting, and with each\n"
                  "# photograph's own best setting of the grid; the ssim columns are mean\n"
                  "# structural similarity (7x7 windows) of noisy, defaults and this row.\n")
        out.write("\t".join(COLUMNS) + "\n")
        for row in rows:
            out.write(row_text(row) + "\n")


def suggest(velnor, stream):
    run = subprocess.run([velnor, "--suggest"], input=stream, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, check=True, text=False)
    words = run.stdout.decode().split()
    setting = tuple(int(words[k]) for k in (1, 3, 5))
    estimate = float(run.stderr.decode().split("sigma ")[1].split(",")[0])
    return setting, estimate


def check(velnor, photos, table, names):
    print(f"{'photograph':<20} {'sigma':>5} {'estimate':>8} {'suggested':>14} "
          f"{'noisy':>6} {'auto':>6} {'best':>6} {'auto-best':>9}")
    shortfalls, errors = [], []
    for i, photo in enumerate(photos):
        if photo.name not in names:
            continue
        for j, sigma in enumerate(SIGMAS):
            one = y4m_stream([photo.noisy[j]])
            setting, estimate = suggest(velnor, one)
            auto = psnr(filtered(velnor, one, photo.w, photo.h, setting)[0], photo.clean)
            best = table[i, j, :].max()
            shortfalls.append((best - auto, sigma))
            errors.append((estimate / sigma - 1, sigma))
            print(f"{photo.name:<20} {sigma:>5} {estimate:>8.2f} {'%d/%d/%d' % setting:>14} "
                  f"{psnr(photo.noisy[j], photo.clean):>6.2f} {auto:>6.2f} {best:>6.2f} "
                  f"{auto - best:>+9.2f}")
    in_range = [e for e, s in errors if 3 <= s <= 20]
    short = [d for d, s in shortfalls if 3 <= s <= 20]
    print(f"shortfall against the grid's best for sigma 3..20: largest {max(short):.2f} dB, "
          f"mean {np.mean(short):.2f} dB; below sigma 3: largest "
          f"{max([d for d, s in shortfalls if s < 3], default=0):.2f} dB")
    print(f"noise estimate error for sigma 3..20: {100 * min(in_range):+.0f}% to "
          f"{100 * max(in_range):+.0f}%")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--velnor", required=True, help="the velnor program")
    parser.add_argument("--images", required=True, help="skimage's data directory")
    parser.add_argument("--out", default="out/settings", help="where the grid is cached")
    parser.add_argument("--table", help="write the derived rule to this file")
    parser.add_argument("--remeasure", action="store_true", help="measure the grid again")
    parser.add_argument("-j", "--jobs", type=int, default=2, help="velnor processes at a time")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    photos = [Photo(args.images, name, index) for index, name in enumerate(TRAINING + HELD_OUT)]
    table = measure_grid(args.velnor, photos, args.jobs, args.out, args.remeasure)

    rows = derive_rule(args.velnor, photos, table)
    print("training photographs, mean luma PSNR (dB) and SSIM:")
    print("\t".join(COLUMNS))
    for row in rows:
        print(row_text(row))
    if args.table:
        write_table(args.table, rows)
        print(f"rule written to {args.table}; rebuild velnor before the check")
        return
    print("\nheld-out photographs, filtered with the settings velnor --suggest gives:")
    check(args.velnor, photos, table, HELD_OUT)
    print("\nnoise estimate error of velnor --suggest, all photographs:")
    print(f"{'photograph':<20} " + " ".join(f"{s:>5}" for s in SIGMAS))
    for photo in photos:
        errors = [suggest(args.velnor, y4m_stream([n]))[1] / s - 1
                  for n, s in zip(photo.noisy, SIGMAS)]
        print(f"{photo.name:<20} " + " ".join(f"{100 * e:>+4.0f}%" for e in errors))


if __name__ == "__main__":
    main()
