#!/usr/bin/python3
"""CIEDE2000 of a million pairs: the colour library's array call through the
Python package against a plain vectorised NumPy implementation of the same
formula, on the same pairs, in one run. By hand:

    CA410_LIBRARY_DIR=build/release /usr/bin/python3 bench/cmat/bench_delta_e.py

Prints both rates (pairs a second, best of --repeat runs) and the largest
difference between the two results.
"""

import argparse
import sys
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bindings" / "python"))
from ca410 import colour  # noqa: E402


def ciede2000_numpy(lab1, lab2):
    """CIEDE2000 (kL = kC = kH = 1) step by step as Sharma, Wu and Dalal
    write it, in degrees, over arrays of shape (n, 3)."""
    l1, a1, b1 = lab1.T
    l2, a2, b2 = lab2.T
    c_bar = (np.hypot(a1, b1) + np.hypot(a2, b2)) / 2
    g = 0.5 * (1 - np.sqrt(c_bar**7 / (c_bar**7 + 25.0**7)))
    a1p, a2p = (1 + g) * a1, (1 + g) * a2
    c1p, c2p = np.hypot(a1p, b1), np.hypot(a2p, b2)
    h1p = np.degrees(np.arctan2(b1, a1p)) % 360
    h2p = np.degrees(np.arctan2(b2, a2p)) % 360
    chroma = c1p * c2p != 0
    dh = h2p - h1p
    dh = np.where(dh > 180, dh - 360, np.where(dh < -180, dh + 360, dh))
    dh = np.where(chroma, dh, 0)
    big_dh = 2 * np.sqrt(c1p * c2p) * np.sin(np.radians(dh / 2))
    l_bar, c_barp = (l1 + l2) / 2, (c1p + c2p) / 2
    h_sum = h1p + h2p
    h_bar = np.where(np.abs(h1p - h2p) <= 180, h_sum / 2,
                     np.where(h_sum < 360, (h_sum + 360) / 2, (h_sum - 360) / 2))
    h_bar = np.where(chroma, h_bar, h_sum)
    t = (1 - 0.17 * np.cos(np.radians(h_bar - 30)) + 0.24 * np.cos(np.radians(2 * h_bar))
         + 0.32 * np.cos(np.radians(3 * h_bar + 6)) - 0.20 * np.cos(np.radians(4 * h_bar - 63)))
    d_theta = 30 * np.exp(-(((h_bar - 275) / 25) ** 2))
    r_c = 2 * np.sqrt(c_barp**7 / (c_barp**7 + 25.0**7))
    s_l = 1 + 0.015 * (l_bar - 50) ** 2 / np.sqrt(20 + (l_bar - 50) ** 2)
    s_c = 1 + 0.045 * c_barp
    s_h = 1 + 0.015 * c_barp * t
    r_t = -np.sin(np.radians(2 * d_theta)) * r_c
    tl, tc, th = (l2 - l1) / s_l, (c2p - c1p) / s_c, big_dh / s_h
    return np.sqrt(tl**2 + tc**2 + th**2 + r_t * tc * th)


def best_rate(fn, n, repeat):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - start)
    return n / best, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pairs", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    rng = np.random.default_rng(1)
    low, high = [0, -100, -100], [100, 100, 100]
    lab1 = rng.uniform(low, high, (args.pairs, 3))
    lab2 = rng.uniform(low, high, (args.pairs, 3))
    library, ours = best_rate(lambda: colour.delta_e_2000(lab1, lab2), args.pairs, args.repeat)
    numpy_rate, theirs = best_rate(lambda: ciede2000_numpy(lab1, lab2), args.pairs, args.repeat)
    print(f"ca410 colour library (ca410.colour.delta_e_2000): {library / 1e6:.2f} M pairs/s")
    print(f"NumPy {np.__version__} vectorised:                    {numpy_rate / 1e6:.2f} M pairs/s")
    print(f"library / NumPy: {library / numpy_rate:.1f}x; "
          f"largest difference {np.max(np.abs(ours - theirs)):.2e}")


if __name__ == "__main__":
    main()
