"""The pictures and noise behind velnor's measured settings, and the grid of
settings each noisy picture is filtered with.

A case is one plane of one photograph from Debian's python3-skimage at one scale,
with seeded Gaussian noise of one standard deviation added: the luma, or the Cb or
Cr plane at 4:4:4 or 4:2:0. Photographs are scaled up (bicubic, as most video
shown larger than it was made) or down (Lanczos) before the planes are taken, and
planes larger than CROP are cut to their centre: the filter and the estimate work
on 3x3 neighbourhoods, so the centre stands for the whole at a fraction of the
cost. bench/settings_grid.cpp filters each case with every setting of the grid;
the results are cached per case under the output folder.
"""
import itertools
import os
import struct
import subprocess
import threading
import zlib
from concurrent.futures import ThreadPoolExecutor

import numpy as np
from PIL import Image

STRENGTHS = [1, 2, 3, 4, 5, 6, 8, 10, 12, 14, 17, 20]
THRESHOLD1 = [10, 20, 30, 40, 60, 80, 100, 120, 160, 220, 300, 400, 550, 800]
THRESHOLD2 = [3, 5, 8, 10, 12, 15, 20, 25, 30, 40, 50, 65, 80]
DEFAULTS = (20, 40, 10)
NO_FILTER = (0, 40, 10)  # strength 0 leaves the picture as it is
SIGMAS = [2, 3, 4, 5, 6, 8, 10, 12, 15, 20]
SCALES = [0.5, 1, 1.5, 2, 3, 4]
CROP = (768, 512)  # width, height


def grid_settings():
    grid = list(itertools.product(STRENGTHS, THRESHOLD1, THRESHOLD2))
    return [NO_FILTER] + ([] if DEFAULTS in grid else [DEFAULTS]) + grid


def ycbcr(rgb):
    """Full-range BT.601 Y, Cb, Cr as float planes (JPEG's conversion)."""
    ycc = np.asarray(Image.fromarray(rgb).convert("YCbCr"), dtype=np.float64)
    return ycc[:, :, 0], ycc[:, :, 1], ycc[:, :, 2]


def subsampled(plane):
    """The mean of each 2x2 block (odd sizes repeat their last row and column)."""
    h, w = plane.shape
    padded = np.pad(plane, ((0, h % 2), (0, w % 2)), mode="edge")
    return padded.reshape(padded.shape[0] // 2, 2, padded.shape[1] // 2, 2).mean(axis=(1, 3))


def scaled(image, scale):
    if scale == 1:
        return image
    size = (round(image.width * scale), round(image.height * scale))
    return image.resize(size, Image.BICUBIC if scale > 1 else Image.LANCZOS)


def centre(plane, crop=CROP):
    h, w = plane.shape
    cw, ch = min(w, crop[0]), min(h, crop[1])
    top, left = (h - ch) // 2, (w - cw) // 2
    return plane[top:top + ch, left:left + cw]


def as_bytes(plane):
    return np.clip(np.rint(plane), 0, 255).astype(np.uint8)


class Case:
    """One noisy plane: `plane` is luma, cb or cr; `layout` 444 or 420 (chroma)."""

    def __init__(self, images, photo, scale, plane, layout, sigma, crop=CROP):
        self.photo, self.scale, self.plane, self.layout, self.sigma = (
            photo, scale, plane, layout, sigma)
        self.images, self.crop = images, crop
        self.key = (f"{os.path.splitext(photo)[0]}-x{scale:g}-{plane}"
                    f"{'' if plane == 'luma' else layout}-s{sigma}"
                    f"{'' if crop == CROP else '-%dx%d' % crop}")

    @property
    def kind(self):
        return "luma" if self.plane == "luma" else "chroma"

    def planes(self):
        """The clean and the noisy plane, 8-bit."""
        rgb = scaled(Image.open(os.path.join(self.images, self.photo)).convert("RGB"), self.scale)
        y, cb, cr = ycbcr(np.asarray(rgb))
        plane = {"luma": y, "cb": cb, "cr": cr}[self.plane]
        if self.plane != "luma" and self.layout == 420:
            plane = subsampled(plane)
        clean = as_bytes(centre(plane, self.crop))
        rng = np.random.default_rng(zlib.crc32(self.key.encode()))
        noisy = as_bytes(clean + rng.normal(0.0, self.sigma, clean.shape))
        return clean, noisy


def write_planes(case, path):
    clean, noisy = case.planes()
    with open(path, "wb") as out:
        out.write(struct.pack("<ii", clean.shape[1], clean.shape[0]))
        out.write(clean.tobytes() + noisy.tobytes())


def run_tool(tool, case, settings, folder):
    """The tool's output lines for one case and settings."""
    base = os.path.join(folder, f"{case.key}.{os.getpid()}.{threading.get_ident()}")
    write_planes(case, base + ".planes")
    with open(base + ".settings", "w") as out:
        out.write("".join(f"{s} {t1} {t2}\n" for s, t1, t2 in settings))
    try:
        return subprocess.run([tool, base + ".planes", base + ".settings"], check=True,
                              stdout=subprocess.PIPE, text=True).stdout.split("\n")
    finally:
        os.remove(base + ".planes")
        os.remove(base + ".settings")


def estimate(lines):
    """velnor's noise estimate and detail from the tool's first line."""
    return np.array([float(v) for v in lines[0].split()[1:3]])


def run_grid(tool, case, settings, folder):
    """PSNR of every setting for one case, cached in folder/<key>.npz, and velnor's
    estimate (sigma, detail), measured anew (it follows the code)."""
    path = os.path.join(folder, case.key + ".npz")
    if os.path.exists(path):
        saved = np.load(path)
        if saved["settings"].shape == np.shape(settings) and (saved["settings"] == settings).all():
            return saved["psnr"], estimate(run_tool(tool, case, [], folder))
    lines = run_tool(tool, case, settings, folder)
    psnr = np.array([float(v) for v in lines[1:] if v])
    np.savez(path, settings=np.array(settings), psnr=psnr)
    return psnr, estimate(lines)


def measure(tool, cases, folder, jobs=1, settings=None):
    """(psnr[case, setting], estimate[case, (sigma, detail)]) for the cases."""
    settings = grid_settings() if settings is None else settings
    os.makedirs(folder, exist_ok=True)
    with ThreadPoolExecutor(jobs) as pool:
        results = list(pool.map(lambda c: run_grid(tool, c, settings, folder), cases))
    return np.stack([r[0] for r in results]), np.stack([r[1] for r in results])
