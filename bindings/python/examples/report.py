#!/usr/bin/env python3
"""A measurement file judged against a display profile, as `ca410 report`
does: prints the summary and saves the report's charts in one picture.

    report.py run.ti3 --profile srgb -o report.png

Exit status 0 when every figure passes, 1 when one fails, 2 for a file or
profile that cannot be used (or no matplotlib for -o).
"""

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # this checkout's package

from ca410 import cgats, report  # noqa: E402


def save_charts(result, path):
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    from ca410 import plot

    fig = Figure(figsize=(16, 15), dpi=90)
    FigureCanvasAgg(fig)
    axes = fig.subplots(3, 3)
    plot.report_diagram(result, axes[0][0])
    plot.report_diagram(result, axes[0][1], plane="uv")
    plot.grey_luminance(result, axes[0][2])
    plot.point_gamma(result, axes[1][0])
    plot.rgb_balance(result, axes[1][1])
    plot.delta_e_bars(result, "grey", axes[1][2])
    plot.delta_e_bars(result, "gamut", axes[2][0])
    plot.delta_e_bars(result, "checker", axes[2][1])
    plot.swatches(result, "checker", axes[2][2])
    fig.tight_layout()
    fig.savefig(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file", help="measurement file (CGATS, CSV or JSON Lines)")
    parser.add_argument("--profile", default="srgb", help="built-in profile or profile file")
    parser.add_argument("-o", "--output", help="save the charts (.png, .svg, .pdf)")
    args = parser.parse_args()
    try:
        result = report.evaluate(cgats.read(args.file), args.profile)
    except (cgats.FileError, report.ProfileError) as e:
        print(f"report.py: {e}", file=sys.stderr)
        return 2
    for c in result["summary"]:
        shown = "—" if c["measured"] is None else f"{c['measured']:.4g}{c['unit']}"
        print(f"{c['figure']:<42} {shown:>16}  {c['verdict']}")
    print(f"overall: {result['verdict']}")
    if args.output:
        try:
            save_charts(result, args.output)
        except ImportError:
            print("report.py: -o needs matplotlib (Debian: python3-matplotlib)", file=sys.stderr)
            return 2
    return 1 if result["verdict"] == "FAIL" else 0


if __name__ == "__main__":
    sys.exit(main())
