#!/usr/bin/python3
"""Writes 1080p bench content made from photographs with Gaussian noise.

A mosaic of four of python3-skimage's photographs (astronaut, camera, chelsea,
coffee), each scaled to 960x540, as 8-bit 4:2:0 (full-range BT.601); Gaussian noise
of standard deviation --sigma is added to the luma, with a fixed seed per frame
(frame n gets seed --seed + n), so that every run sees the same frames. --bits 10
writes the same picture as 10-bit samples (little-endian words), the noise's
standard deviation scaled with the samples.

    make_photo_clip.py --images DIR --sigma 12 --frames 60 --y4m clip.y4m [--plane luma.y] [--bits 10]

--plane also writes frame 0's luma alone (1920x1080 bytes) for the pass benchmarks.
Needs numpy and PIL (python3-numpy, python3-pil).
"""
import argparse
import os

import numpy as np
from PIL import Image

WIDTH, HEIGHT = 1920, 1080
PHOTOS = ["astronaut.png", "camera.png", "chelsea.png", "coffee.png"]


def mosaic(images_dir):
    canvas = Image.new("RGB", (WIDTH, HEIGHT))
    for i, name in enumerate(PHOTOS):
        photo = Image.open(os.path.join(images_dir, name)).convert("RGB")
        tile = photo.resize((WIDTH // 2, HEIGHT // 2), Image.LANCZOS)
        canvas.paste(tile, ((i % 2) * WIDTH // 2, (i // 2) * HEIGHT // 2))
    ycc = np.asarray(canvas.convert("YCbCr"), dtype=np.float64)
    chroma = ycc[:, :, 1:].reshape(HEIGHT // 2, 2, WIDTH // 2, 2, 2).mean(axis=(1, 3))
    chroma = np.clip(np.rint(chroma), 0, 255).astype(np.uint8)
    return ycc[:, :, 0], chroma[:, :, 0].tobytes() + chroma[:, :, 1].tobytes()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--images", required=True, help="python3-skimage's data directory")
    parser.add_argument("--sigma", type=float, required=True)
    parser.add_argument("--frames", type=int, default=1)
    parser.add_argument("--seed", type=int, default=2024)
    parser.add_argument("--y4m", help="clip to write")
    parser.add_argument("--plane", help="frame 0's luma to write")
    parser.add_argument("--bits", type=int, choices=(8, 10), default=8)
    args = parser.parse_args()

    luma, chroma = mosaic(args.images)
    scale = 1 << (args.bits - 8)
    sample = np.uint8 if args.bits == 8 else np.dtype("<u2")
    if args.bits != 8:
        chroma = (np.frombuffer(chroma, dtype=np.uint8).astype(np.uint32) * scale).astype(sample).tobytes()
    colour = "C420jpeg" if args.bits == 8 else f"C420p{args.bits}"
    out = open(args.y4m, "wb") if args.y4m else None
    if out:
        out.write(f"YUV4MPEG2 W{WIDTH} H{HEIGHT} F25:1 Ip A1:1 {colour}\n".encode())
    for n in range(args.frames if out else 1):
        noise = np.random.default_rng(args.seed + n).normal(0.0, args.sigma, luma.shape)
        noisy = np.clip(np.rint((luma + noise) * scale), 0, 255 * scale).astype(sample).tobytes()
        if out:
            out.write(b"FRAME\n" + noisy + chroma)
        if n == 0 and args.plane:
            with open(args.plane, "wb") as f:
                f.write(noisy)
    if out:
        out.close()


if __name__ == "__main__":
    main()
