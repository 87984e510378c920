#!/usr/bin/python3
"""Compares velnor (defaults and --auto) with ffmpeg's spatial denoisers.

Luma PSNR gain on seven photographs from python3-skimage at several noise
levels and on one photograph scaled up to 1080p; whole-process time per 1080p
frame on one thread (hyperfine, median); and a picture: a 2x crop of noisy |
velnor defaults | velnor --auto | the best ffmpeg filter at noise 10.

Each ffmpeg filter gets, at each noise level, the value of its main parameter that
gives the best mean PSNR over the photographs (the upscaled picture gets its own
choice); velnor --auto is not tuned. Needs numpy, PIL, ffmpeg and hyperfine.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

import numpy as np
from PIL import Image, ImageDraw

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from denoise_demo import psnr, to_yuv420  # noqa: E402

# The photographs from Debian's python3-skimage that the means are taken over.
PHOTOGRAPHS = ["astronaut.png", "camera.png", "coffee.png", "motorcycle_left.png",
               "chelsea.png", "rocket.jpg", "coins.png"]


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

SIGMAS = [5, 10, 20]
UPSCALED = "chelsea.png"  # scaled up to 1920x1080 (cropped to 16:9 first)
PICTURE_CROP = (140, 60, 160, 110)  # left, top, width, height in chelsea's luma
# filter name, ffmpeg filter for a parameter value, the values tried
FFMPEG = [
    # ffmpeg takes 0 for "derive from luma_spatial": tiny values switch chroma and
    # the temporal part off.
    ("hqdn3d", "hqdn3d={}:0.001:0.001:0.001", [2, 3, 4, 6, 8, 11, 15, 20, 25, 30, 40, 60]),
    ("removegrain", "removegrain=m0={}:m1=0:m2=0", [1, 2, 4, 11, 17, 19, 20, 22]),
    ("fftdnoiz", "fftdnoiz=sigma={}:planes=1",
     [1, 2, 3, 4, 6, 8, 12, 16, 20, 25, 30, 40, 55, 75, 100]),
    ("nlmeans", "nlmeans=s={}", [1.5, 2, 3, 4, 5, 6, 8, 10, 13, 16, 20]),
]


def run_ffmpeg(stream, vf, w, h):
    out = subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-threads", "1",
                          "-filter_threads", "1", "-f", "yuv4mpegpipe", "-i", "-", "-vf", vf,
                          "-f", "rawvideo", "-"], input=stream, stdout=subprocess.PIPE,
                         check=True).stdout
    size = w * h + 2 * ((w + 1) // 2) * ((h + 1) // 2)
    return [np.frombuffer(out, np.uint8, w * h, k * size).reshape(h, w)
            for k in range(len(out) // size)]


def run_velnor(velnor, stream, w, h, args):
    out = subprocess.run([velnor, "-j", "1", "--quiet", *args], input=stream,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout
    return y4m_lumas(out, w, h)


class Picture:
    """A clean luma plane and one noisy frame per noise level."""

    def __init__(self, name, clean, seed):
        self.name, self.clean = name, clean
        self.h, self.w = clean.shape
        self.noisy = [noisy_luma(clean, s, seed + s) for s in SIGMAS]
        self.frames = [y4m_stream([n]) for n in self.noisy]  # one stream per noise level
        self.stream = y4m_stream(self.noisy)

    def gains(self, planes):
        return [psnr(p, self.clean) - psnr(n, self.clean) for p, n in zip(planes, self.noisy)]


def upscaled(images):
    rgb = Image.open(os.path.join(images, UPSCALED)).convert("RGB")
    height = rgb.width * 9 // 16
    top = (rgb.height - height) // 2
    big = rgb.crop((0, top, rgb.width, top + height)).resize((1920, 1080), Image.BICUBIC)
    path = os.path.join(tempfile.gettempdir(), "velnor-upscaled.png")
    big.save(path)
    return luma(path)


def measure(velnor, pictures, jobs, cache_path):
    """Gains[method][picture] = list over SIGMAS; for ffmpeg filters one entry per value.
    ffmpeg results are cached in cache_path (they do not depend on velnor)."""
    cache = json.load(open(cache_path)) if cache_path and os.path.exists(cache_path) else {}
    results = {}
    for p in pictures:
        results.setdefault("velnor defaults", {})[p.name] = p.gains(
            run_velnor(velnor, p.stream, p.w, p.h, []))
        results.setdefault("velnor --auto", {})[p.name] = p.gains(
            [run_velnor(velnor, f, p.w, p.h, ["--auto"])[0] for f in p.frames])
    with ThreadPoolExecutor(jobs) as pool:
        for name, template, values in FFMPEG:
            for value in values:
                vf = template.format(value)
                key = repr((vf, [p.name for p in pictures], SIGMAS))
                if key not in cache:
                    # One process per frame: a filter with a temporal part (hqdn3d) must
                    # not see the same picture with other noise in the frame before.
                    gains = pool.map(lambda p: p.gains(
                        [run_ffmpeg(f, vf, p.w, p.h)[0] for f in p.frames]), pictures)
                    cache[key] = dict(zip([p.name for p in pictures], gains))
                results[(name, value)] = cache[key]
            print(f"  {name} measured", file=sys.stderr)
    if cache_path:
        json.dump(cache, open(cache_path, "w"))
    return results


def best_value(results, name, values, names, j):
    return max(values, key=lambda v: np.mean([results[(name, v)][n][j] for n in names]))


def timing(velnor, clip_fast, clip_slow, commands):
    """Median milliseconds per frame of each whole process, one thread."""
    times = {}
    for label, command, slow in commands:
        clip, frames = clip_slow if slow else clip_fast
        out = os.path.join(tempfile.gettempdir(), "velnor-hyperfine.json")
        subprocess.run(["hyperfine", "--style", "none", "--warmup", "1",
                        "--runs", "3" if slow else "7", "--export-json", out,
                        command.format(clip=clip)], check=True, stdout=subprocess.DEVNULL)
        times[label] = json.load(open(out))["results"][0]["median"] * 1000 / frames
    return times


def picture(velnor, images, best_name, best_vf, out_path):
    clean = luma(os.path.join(images, "chelsea.png"))
    noisy = noisy_luma(clean, 10, 4242)
    h, w = clean.shape
    one = y4m_stream([noisy])
    panels = [("noisy, sigma 10", noisy),
              ("velnor defaults", run_velnor(velnor, one, w, h, [])[0]),
              ("velnor --auto", run_velnor(velnor, one, w, h, ["--auto"])[0]),
              (best_name, run_ffmpeg(one, best_vf, w, h)[0])]
    left, top, cw, ch = PICTURE_CROP
    gap = 6
    sheet = Image.new("L", (4 * 2 * cw + 3 * gap, 2 * ch), 255)
    for k, (label, plane) in enumerate(panels):
        crop = Image.fromarray(np.ascontiguousarray(plane[top:top + ch, left:left + cw]))
        tile = crop.resize((2 * cw, 2 * ch), Image.NEAREST)
        draw = ImageDraw.Draw(tile)
        text = f"{label}: {psnr(plane, clean):.2f} dB"
        box = draw.textbbox((4, 4), text)
        draw.rectangle((box[0] - 2, box[1] - 2, box[2] + 2, box[3] + 2), fill=0)
        draw.text((4, 4), text, fill=255)
        sheet.paste(tile, (k * (2 * cw + gap), 0))
    sheet.save(out_path, optimize=True)
    print(f"picture: {out_path} ({os.path.getsize(out_path) // 1024} KB)", file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--velnor", required=True, help="the velnor program")
    parser.add_argument("--images", required=True, help="skimage's data directory")
    parser.add_argument("--picture", help="write the comparison picture here (PNG)")
    parser.add_argument("--cache", default="out/compare-ffmpeg.json",
                        help="ffmpeg's results, kept between runs")
    parser.add_argument("-j", "--jobs", type=int, default=2, help="ffmpeg processes at a time")
    args = parser.parse_args()

    names = PHOTOGRAPHS
    photos = [Picture(n, luma(os.path.join(args.images, n)), 7000 + 100 * k)
              for k, n in enumerate(names)]
    big = Picture("upscaled", upscaled(args.images), 9000)
    os.makedirs(os.path.dirname(args.cache) or ".", exist_ok=True)
    results = measure(args.velnor, photos + [big], args.jobs, args.cache)

    ten = SIGMAS.index(10)
    rows, chosen = [], {}
    for method in ["velnor defaults", "velnor --auto"]:
        gains = [np.mean([results[method][n][j] for n in names]) for j in range(len(SIGMAS))]
        rows.append((method, "", gains, results[method]["upscaled"][ten]))
    for name, template, values in FFMPEG:
        picks = [best_value(results, name, values, names, j) for j in range(len(SIGMAS))]
        gains = [np.mean([results[(name, v)][n][j] for n in names]) for j, v in enumerate(picks)]
        big_pick = best_value(results, name, values, ["upscaled"], ten)
        chosen[name] = template.format(picks[ten])
        rows.append((name, " / ".join(str(v) for v in picks) + f" (upscaled: {big_pick})", gains,
                     results[(name, big_pick)]["upscaled"][ten]))

    with tempfile.TemporaryDirectory() as work:
        clip = os.path.join(work, "upscaled-20.y4m")
        slow_clip = os.path.join(work, "upscaled-4.y4m")
        frames = [noisy_luma(big.clean, 10, 500 + k) for k in range(20)]
        with open(clip, "wb") as f:
            f.write(y4m_stream(frames))
        with open(slow_clip, "wb") as f:
            f.write(y4m_stream(frames[:4]))
        ff = ("ffmpeg -nostdin -loglevel error -threads 1 -filter_threads 1 -i {clip} "
              "-vf '%s' -f null -")
        vel = f"{args.velnor} -j 1 --quiet %s {{clip}} -o /dev/null"
        commands = [("velnor defaults", vel % "", False), ("velnor --auto", vel % "--auto", False)]
        commands += [(name, ff % chosen[name], name == "nlmeans") for name, _, _ in FFMPEG]
        times = timing(args.velnor, (clip, 20), (slow_clip, 4), commands)

    print(f"luma PSNR gain in dB, mean over {len(names)} photographs, and on {UPSCALED} scaled "
          "to 1920x1080; time per 1080p frame, whole process, one thread")
    print("| filter | setting (sigma " + " / ".join(map(str, SIGMAS)) + ") | " +
          " | ".join(f"sigma {s}" for s in SIGMAS) + " | upscaled, sigma 10 | ms per frame |")
    print("|---|---|" + "---|" * len(SIGMAS) + "---|---|")
    for method, setting, gains, upscaled_gain in rows:
        print(f"| {method} | {setting} | " + " | ".join(f"{g:+.2f}" for g in gains) +
              f" | {upscaled_gain:+.2f} | {times[method]:.1f} |")
    if args.picture:
        best = max(FFMPEG, key=lambda f: [r for r in rows if r[0] == f[0]][0][2][ten])
        picture(args.velnor, args.images, best[0], chosen[best[0]], args.picture)


if __name__ == "__main__":
    main()
