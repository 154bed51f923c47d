#!/usr/bin/env python3
"""Measures a display's white, red, green and blue and saves its gamut on the
CIE 1931 xy diagram as a PNG.

Without --port it starts the virtual instrument (ca410-sim: --sim, the
CA410_SIM environment variable, or a CMake build at build/release) and shows
each colour on its simulated display; with --port it asks you to show each
colour on the real display.

    CA410_LIBRARY_DIR=build/release python3 bindings/python/examples/gamut.py -o gamut.png
"""

from __future__ import annotations

import argparse
import logging
import os
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[3]
DEFAULT_BUILD = REPO / "build" / "release"
# In a source checkout it also runs without installing: the package beside
# this script, the libraries of the default CMake build.
if (DEFAULT_BUILD / "libca410.so").is_file():
    os.environ.setdefault("CA410_LIBRARY_DIR", str(DEFAULT_BUILD))
try:
    import ca410
except ImportError:
    sys.path.insert(0, str(REPO / "bindings" / "python"))
    import ca410
try:
    import ca410.plot  # noqa: E402
except ModuleNotFoundError as e:
    if not (e.name or "").startswith("matplotlib"):
        raise
    print("gamut: needs matplotlib, the package's optional 'plot' dependency: "
          "apt install python3-matplotlib, or pip install 'ca410[plot]'", file=sys.stderr)
    sys.exit(2)
from ca410.colour import gamut_area_ratio, gamut_coverage, xyz_to_xy  # noqa: E402

LEVELS = {"white": (1, 1, 1), "red": (1, 0, 0), "green": (0, 1, 0), "blue": (0, 0, 1)}


def measure_wrgb(ins: ca410.Instrument, show) -> dict:
    readings = {}
    for name in ca410.WRGB:
        show(name)
        readings[name] = ins.measure()
    return readings


def report(readings: dict) -> None:
    for name, m in readings.items():
        print(f"{name:6} X {m.X:9.4f}  Y {m.Y:9.4f}  Z {m.Z:9.4f}   x {m.x:.4f}  y {m.y:.4f}")
    white = readings["white"]
    print(f"white  CCT {white.cct:.0f} K  Δuv {white.duv:+.4f}")
    triangle = [xyz_to_xy(readings[c]) for c in ("red", "green", "blue")]
    for ref in ("sRGB", "DCI-P3"):
        print(f"{ref:7} area {gamut_area_ratio(triangle, ref) * 100:6.1f} %"
              f"   coverage {gamut_coverage(triangle, ref) * 100:6.1f} %")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-o", "--output", default="gamut.png", help="the picture (PNG)")
    parser.add_argument("--port", help="a real instrument's port; default: the virtual one")
    parser.add_argument("--sim", help="path of ca410-sim")
    parser.add_argument("--log-level", type=int, default=0, choices=range(9), metavar="0-8",
                        help="the library's lines on standard error, 1 to 8 (the wire)")
    args = parser.parse_args()
    if args.log_level:
        logging.basicConfig(format="%(message)s")
        logging.getLogger("ca410").setLevel(logging.DEBUG)

    try:
        if args.port:
            with ca410.Instrument(args.port, args.log_level) as ins:
                ins.init()
                readings = measure_wrgb(ins, lambda c: input(f"Show full {c}, then press Enter "))
        else:
            from ca410.sim import VirtualInstrument

            sim_path = args.sim or os.environ.get("CA410_SIM") or str(
                DEFAULT_BUILD / "tools" / "sim" / "ca410-sim")
            with VirtualInstrument(sim_path, ["--zrc-ms", "100"]) as sim, \
                    ca410.Instrument(sim.port, args.log_level) as ins:
                ins.init()
                readings = measure_wrgb(ins, lambda c: sim.show(*LEVELS[c]))
    except ca410.Error as e:
        print(f"gamut: {e}", file=sys.stderr)
        return 1
    report(readings)
    path = ca410.plot.save_gamut_plot(args.output, readings, title="Measured gamut, CIE 1931 xy")
    print(f"saved {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
