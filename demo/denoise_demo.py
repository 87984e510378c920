#!/usr/bin/python3
"""Runs velnor on photographs with Gaussian noise added to their luma.

For each image: converts it to 8-bit YUV 4:2:0 (full-range BT.601, as JPEG),
adds noise to the luma with a fixed seed, pipes one YUV4MPEG2 frame through
velnor with its default settings and once more with --auto (the settings it
suggests for the noise it measures), and writes <out>/<name>-side-by-side.png
(noisy | defaults, in colour) and <out>/<name>-detail.png (a 3x enlarged crop of
both). Prints the luma PSNR of the noisy picture and of both results against the
clean one.

Needs numpy and PIL (Debian's python3-numpy and python3-pil).
"""
import argparse
import os
import subprocess
import sys

import numpy as np
from PIL import Image, ImageDraw

# name, file in skimage's data directory, crop (left, top, width, height) for the detail view
IMAGES = [
    ("camera", "camera.png", (180, 60, 160, 120)),
    ("coffee", "coffee.png", (200, 60, 160, 120)),
    ("chelsea", "chelsea.png", (140, 60, 160, 120)),
]


def to_yuv420(rgb):
    """Full-range BT.601 Y, Cb, Cr; chroma averaged over 2x2 blocks (odd sizes round up)."""
    ycc = np.asarray(Image.fromarray(rgb).convert("YCbCr"), dtype=np.float64)
    h, w = rgb.shape[:2]
    padded = np.pad(ycc[:, :, 1:], ((0, h % 2), (0, w % 2), (0, 0)), mode="edge")
    chroma = padded.reshape(padded.shape[0] // 2, 2, padded.shape[1] // 2, 2, 2).mean(axis=(1, 3))
    chroma = np.clip(np.rint(chroma), 0, 255).astype(np.uint8)
    return ycc[:, :, 0].round().astype(np.uint8), chroma[:, :, 0], chroma[:, :, 1]


def to_rgb(y, cb, cr):
    h, w = y.shape
    up = lambda c: np.repeat(np.repeat(c, 2, axis=0), 2, axis=1)[:h, :w]
    ycc = np.dstack([y, up(cb), up(cr)])
    return Image.fromarray(ycc, "YCbCr").convert("RGB")


def y4m_frame(y, cb, cr):
    h, w = y.shape
    header = f"YUV4MPEG2 W{w} H{h} F1:1 Ip A1:1 C420jpeg XCOLORRANGE=FULL\n".encode()
    return header + b"FRAME\n" + y.tobytes() + cb.tobytes() + cr.tobytes()


def read_y4m_frame(data, w, h):
    """Planes of the single frame of a stream velnor wrote (header lines skipped)."""
    header_end = data.index(b"\n") + 1
    if not data[header_end:].startswith(b"FRAME"):
        raise ValueError("velnor output has no frame")
    start = data.index(b"\n", header_end) + 1
    cw, ch = (w + 1) // 2, (h + 1) // 2
    planes = np.frombuffer(data, dtype=np.uint8, count=w * h + 2 * cw * ch, offset=start)
    return (planes[: w * h].reshape(h, w),
            planes[w * h : w * h + cw * ch].reshape(ch, cw),
            planes[w * h + cw * ch :].reshape(ch, cw))


def psnr(a, b):
    mse = np.mean((a.astype(np.float64) - b.astype(np.float64)) ** 2)
    return float("inf") if mse == 0 else 10 * np.log10(255.0 ** 2 / mse)


def labelled(image, text):
    draw = ImageDraw.Draw(image)
    box = draw.textbbox((6, 6), text)
    draw.rectangle((box[0] - 3, box[1] - 3, box[2] + 3, box[3] + 3), fill=(0, 0, 0))
    draw.text((6, 6), text, fill=(255, 255, 255))
    return image


def side_by_side(left, right, gap=8):
    out = Image.new("RGB", (left.width + gap + right.width, max(left.height, right.height)), "white")
    out.paste(left, (0, 0))
    out.paste(right, (left.width + gap, 0))
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--velnor", required=True, help="the velnor program")
    parser.add_argument("--images", required=True, help="skimage's data directory")
    parser.add_argument("--out", required=True, help="where the pictures go")
    parser.add_argument("--sigma", type=float, nargs="+", default=[5.0, 10.0, 15.0],
                        help="noise standard deviations in luma steps; the pictures use the second")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    picture_sigma = args.sigma[1] if len(args.sigma) > 1 else args.sigma[0]

    print(f"{'':<34}{'defaults':^20}  {'--auto':^20}")
    print(f"{'image':<10} {'size':>9} {'noise':>6} {'noisy':>8}  {'PSNR':>11} {'gain':>7}  "
          f"{'PSNR':>11} {'gain':>7}  suggested")
    for index, (name, filename, crop) in enumerate(IMAGES):
        image = Image.open(os.path.join(args.images, filename)).convert("RGB")
        y, cb, cr = to_yuv420(np.asarray(image))
        h, w = y.shape
        for sigma in args.sigma:
            rng = np.random.default_rng(1000 * index + int(sigma * 10))
            noisy = np.clip(np.rint(y + rng.normal(0.0, sigma, y.shape)), 0, 255).astype(np.uint8)
            results = []
            for extra in ([], ["--auto"]):
                run = subprocess.run([args.velnor, "--quiet", *extra],
                                     input=y4m_frame(noisy, cb, cr), stdout=subprocess.PIPE,
                                     check=True)
                planes = read_y4m_frame(run.stdout, w, h)
                if not (np.array_equal(planes[1], cb) and np.array_equal(planes[2], cr)):
                    sys.exit(f"{name}: velnor changed the chroma")
                results.append(planes[0])
            filtered = results[0]
            suggested = subprocess.run([args.velnor, "--suggest"], input=y4m_frame(noisy, cb, cr),
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                       check=True).stdout.decode().split()[1::2]
            before, after, auto = psnr(noisy, y), psnr(filtered, y), psnr(results[1], y)
            print(f"{name:<10} {w:>4}x{h:<4} {sigma:>6.1f} {before:>5.2f} dB  {after:>8.2f} dB "
                  f"{after - before:>+7.2f}  {auto:>8.2f} dB {auto - before:>+7.2f}  "
                  f"{'/'.join(suggested)}")
            if sigma != picture_sigma:
                continue
            noisy_rgb, filtered_rgb = to_rgb(noisy, cb, cr), to_rgb(filtered, cb, cr)
            side_by_side(labelled(noisy_rgb.copy(), f"noisy, sigma {sigma:g}: {before:.2f} dB"),
                         labelled(filtered_rgb.copy(), f"velnor defaults: {after:.2f} dB")
                         ).save(os.path.join(args.out, f"{name}-side-by-side.png"))
            left, top, cw, ch = crop
            zoom = lambda im: im.crop((left, top, left + cw, top + ch)).resize((cw * 3, ch * 3), Image.NEAREST)
            side_by_side(labelled(zoom(noisy_rgb), "noisy"), labelled(zoom(filtered_rgb), "velnor")
                         ).save(os.path.join(args.out, f"{name}-detail.png"))
    print(f"pictures (noise sigma {picture_sigma:g}): {args.out}/<image>-side-by-side.png and <image>-detail.png")


if __name__ == "__main__":
    main()
