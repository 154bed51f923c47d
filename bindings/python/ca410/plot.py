"""Chromaticity diagrams and the display report's charts with matplotlib.

matplotlib is imported here only, so the rest of the package works without
it. The drawing functions take an optional matplotlib ``Axes``, draw into it
and return it (a new figure's axes when none is given); they never call
``show()``. :func:`save_gamut_plot` draws a whole diagram into a file.

The diagrams are drawn as the tool's SVG ones (``ca410 gamut --svg``, the
report): the spectral locus filled with its colours (rendered in sRGB) under
the lines, wavelengths outside it with a tick, reference gamuts dashed and
drawn above the measured one (black, solid), white points named in the
legend. The report charts take what :func:`ca410.report.evaluate` returns.
"""

from __future__ import annotations

import math
import os
from pathlib import Path
from typing import Any, Dict, Iterable, List, Mapping, Optional, Sequence, Tuple, Union

from matplotlib import patheffects
from matplotlib.axes import Axes
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.figure import Figure
from matplotlib.patches import Polygon, Rectangle

from . import colour

__all__ = ["chromaticity_diagram", "plot_gamut", "plot_points", "plot_white", "save_gamut_plot",
           "report_diagram", "grey_luminance", "point_gamma", "rgb_balance", "delta_e_bars",
           "swatches", "MEASURED_COLOUR", "REFERENCE_STYLES"]

# The same as the tool's diagrams (tools/cli/report_diagram.h).
MEASURED_COLOUR = "#000000"
# The first reference: white dashes on a dark line, visible over the measured
# gamut's black and beside it on any colour of the locus.
REFERENCE_STYLES = (("#ffffff", (0, (7, 4)), "#333333"), ("#7b3294", (0, (2, 3)), None),
                    ("#1a7837", (0, (9, 3, 2, 3)), None))
_LABELLED_NM = (460, 480, 490, 500, 510, 520, 540, 560, 580, 600, 620, 700)
_FILL_CENTRE = (0.3127, 0.3290)
_PLANES = {"xy": ((-0.1, 0.8), (-0.05, 0.9), "x", "y", "CIE 1931 xy"),
           "uv": ((-0.1, 0.65), (-0.05, 0.65), "u′", "v′", "CIE 1976 u′v′")}
_MEASURED_Z, _REFERENCE_Z, _POINT_Z = 3, 4, 5
_SRGB_FROM_XYZ = ((3.2404542, -1.5371385, -0.4985314), (-0.9692660, 1.8760108, 0.0415560),
                  (0.0556434, -0.2040259, 1.0572252))


def _axes(ax: Optional[Axes], size: Tuple[float, float] = (6, 6)) -> Axes:
    if ax is not None:
        return ax
    import matplotlib.pyplot as plt

    return plt.figure(figsize=size).add_subplot()


def _xy(point: Any) -> Tuple[float, float]:
    """(x, y) of a pair, or of anything with X, Y, Z (a Measurement)."""
    if all(hasattr(point, a) for a in ("X", "Y", "Z")):
        return colour.xyz_to_xy(point)
    x, y = point
    return float(x), float(y)


def _on_plane(xy: Tuple[float, float], plane: str) -> Tuple[float, float]:
    if plane == "xy":
        return xy
    d = -2.0 * xy[0] + 12.0 * xy[1] + 3.0
    return 4.0 * xy[0] / d, 9.0 * xy[1] / d


def _srgb(linear: Sequence[float]) -> Tuple[float, float, float]:
    def encode(c: float) -> float:
        c = min(max(c, 0.0), 1.0)
        return 12.92 * c if c <= 0.0031308 else 1.055 * c ** (1 / 2.4) - 0.055

    return tuple(encode(c) for c in linear)  # type: ignore[return-value]


def _linear_srgb(xyz: Sequence[float]) -> List[float]:
    return [sum(m * v for m, v in zip(row, xyz)) for row in _SRGB_FROM_XYZ]


def _brightest(x: float, y: float) -> Tuple[float, float, float]:
    """The brightest sRGB colour of a chromaticity, moved towards white to fit."""
    rgb = _linear_srgb((x / y, 1.0, (1.0 - x - y) / y))
    low = min(rgb)
    if low < 0:
        rgb = [c - low for c in rgb]
    high = max(rgb)
    return _srgb([c / high for c in rgb])


def _locus(observer: int, plane: str) -> Tuple[List[float], List[Tuple[float, float]]]:
    nm, xs, ys = colour.spectral_locus(observer)
    return list(nm), [_on_plane((float(x), float(y)), plane) for x, y in zip(xs, ys)]


def _fill_locus(ax: Axes, outline: List[Tuple[float, float]], plane: str) -> None:
    import numpy as np

    (x0, x1), (y0, y1) = _PLANES[plane][:2]
    n = 260
    us, vs = np.meshgrid(np.linspace(x0, x1, n), np.linspace(y0, y1, n))
    if plane == "uv":  # back to x, y: x = 9u / (6u - 16v + 12), y = 4v / (6u - 16v + 12)
        d = 6 * us - 16 * vs + 12
        xs, ys = 9 * us / d, 4 * vs / d
    else:
        xs, ys = us, vs
    ys = np.where(ys > 1e-4, ys, 1e-4)
    xyz = np.stack([xs / ys, np.ones_like(xs), (1 - xs - ys) / ys], axis=-1)
    rgb = xyz @ np.array(_SRGB_FROM_XYZ).T
    rgb = rgb - np.minimum(rgb.min(axis=-1, keepdims=True), 0)
    rgb = rgb / np.maximum(rgb.max(axis=-1, keepdims=True), 1e-12)
    rgb = np.where(rgb <= 0.0031308, 12.92 * rgb, 1.055 * np.clip(rgb, 0, 1) ** (1 / 2.4) - 0.055)
    image = ax.imshow(np.clip(rgb, 0, 1), origin="lower", extent=(x0, x1, y0, y1),
                      interpolation="bilinear", zorder=0)
    clip = Polygon(outline, closed=True, transform=ax.transData, facecolor="none")
    image.set_clip_path(clip)


def _wavelength_labels(ax: Axes, nm: List[float], pts: List[Tuple[float, float]],
                       plane: str) -> None:
    centre = _on_plane(_FILL_CENTRE, plane)
    for wl in _LABELLED_NM:
        if wl not in nm:
            continue
        i = nm.index(wl)
        lo, hi = pts[max(i - 5, 0)], pts[min(i + 5, len(pts) - 1)]
        px, py = pts[i]
        n = (hi[1] - lo[1], -(hi[0] - lo[0]))
        if math.hypot(*n) < 0.003:  # the locus hardly moves: away from the centre
            n = (px - centre[0], py - centre[1])
        length = math.hypot(*n)
        n = (n[0] / length, n[1] / length)
        if n[0] * (px - centre[0]) + n[1] * (py - centre[1]) < 0:
            n = (-n[0], -n[1])
        ax.plot([px, px + 0.012 * n[0]], [py, py + 0.012 * n[1]], color="0.13", linewidth=1.0,
                zorder=2)
        ha = "left" if n[0] > 0.35 else "right" if n[0] < -0.35 else "center"
        va = "bottom" if n[1] > 0.35 else "top" if n[1] < -0.35 else "center"
        ax.annotate(f"{wl}", (px, py), textcoords="offset points",
                    xytext=(13 * n[0], 13 * n[1]), ha=ha, va=va, fontsize=8, color="0.13")


def chromaticity_diagram(
    ax: Optional[Axes] = None,
    gamuts: Iterable[str] = ("sRGB", "DCI-P3"),
    observer: int = colour.OBSERVER_1931,
    plane: str = "xy",
) -> Axes:
    """The diagram without measurements: the spectral locus filled with its
    colours and closed by the purple line, wavelengths marked outside it, the
    named reference gamuts (dashed, above anything measured) with their white
    points, labelled axes. `plane`: "xy" (CIE 1931) or "uv" (CIE 1976 u′v′)."""
    if plane not in _PLANES:
        raise ValueError(f"plane is 'xy' or 'uv', not {plane!r}")
    ax = _axes(ax)
    nm, pts = _locus(observer, plane)
    _fill_locus(ax, pts, plane)
    xs, ys = [p[0] for p in pts], [p[1] for p in pts]
    ax.plot(xs + xs[:1], ys + ys[:1], color="black", linewidth=1.0, zorder=2)
    _wavelength_labels(ax, nm, pts, plane)
    for i, name in enumerate(gamuts):
        g = colour.reference_gamut(name)
        plot_gamut(g.triangle, ax, label=f"{name} (dashed, drawn over the measured gamut)",
                   reference=i, plane=plane)
        plot_white(g.white, ax, f"{name} white", target=True, plane=plane)
    (x0, x1), (y0, y1), xlabel, ylabel, title = _PLANES[plane]
    ax.set_xlim(x0, x1)
    ax.set_ylim(y0, y1)
    ax.set_aspect("equal")
    ax.set_xlabel(xlabel, fontsize=11)
    ax.set_ylabel(ylabel, fontsize=11)
    ax.set_title(title, fontsize=12)
    ax.grid(True, linewidth=0.4, color="black", alpha=0.13)
    return ax


def plot_gamut(
    triangle: Any,
    ax: Optional[Axes] = None,
    label: Optional[str] = None,
    white: Optional[Any] = None,
    reference: Optional[int] = None,
    plane: str = "xy",
    **style: Any,
) -> Axes:
    """A triangle (three (x, y) corners, or three Measurements of red, green,
    blue) and optionally its white point (named "<label> white"). A
    `reference` (its number among the references) is dashed and drawn above
    a measured one, which is black and solid."""
    ax = _axes(ax)
    if isinstance(triangle, colour.Gamut):
        triangle = triangle.triangle
    corners = [_xy(c) for c in triangle] if len(triangle) == 3 else [
        (float(triangle[i]), float(triangle[i + 1])) for i in range(0, 6, 2)
    ]
    corners = [_on_plane(c, plane) for c in corners]
    if reference is None:
        style = {"color": MEASURED_COLOUR, "linewidth": 2.0, "zorder": _MEASURED_Z, **style}
    else:
        stroke, dash, backing = REFERENCE_STYLES[reference % len(REFERENCE_STYLES)]
        style = {"color": stroke, "linestyle": dash, "linewidth": 1.5, "zorder": _REFERENCE_Z,
                 **style}
        if backing:
            style["path_effects"] = [patheffects.withStroke(linewidth=2.6, foreground=backing)]
    xs = [c[0] for c in corners]
    ys = [c[1] for c in corners]
    ax.plot(xs + xs[:1], ys + ys[:1], label=label, **style)
    if white is not None:
        plot_white(white, ax, f"{label or 'measured'} white", target=reference is not None,
                   plane=plane)
    return ax


def plot_white(point: Any, ax: Optional[Axes] = None, label: Optional[str] = None,
               target: bool = False, plane: str = "xy") -> Axes:
    """A white point, named in the legend: a ring for a target or
    reference white, a filled dot for a measured one."""
    ax = _axes(ax)
    x, y = _on_plane(_xy(point), plane)
    if target:
        ax.plot(x, y, marker="o", markersize=9, markerfacecolor="none", markeredgecolor="black",
                markeredgewidth=1.4, linestyle="none", label=label, zorder=_POINT_Z)
    else:
        ax.plot(x, y, marker="o", markersize=5, color="black", markeredgecolor="white",
                linestyle="none", label=label, zorder=_POINT_Z)
    return ax


def plot_points(
    points: Iterable[Any],
    ax: Optional[Axes] = None,
    label: Optional[str] = None,
    plane: str = "xy",
    **style: Any,
) -> Axes:
    """Measured points: (x, y) pairs or Measurements."""
    ax = _axes(ax)
    xy = [_on_plane(_xy(p), plane) for p in points]
    style = {"marker": "o", "linestyle": "none", "markersize": 5, "markerfacecolor": "white",
             "markeredgecolor": MEASURED_COLOUR, "zorder": _POINT_Z, **style}
    ax.plot([p[0] for p in xy], [p[1] for p in xy], label=label, **style)
    return ax


def save_gamut_plot(
    path: Union[str, "os.PathLike[str]"],
    measured: Optional[Union[Mapping[str, Any], Sequence[Any]]] = None,
    points: Iterable[Any] = (),
    gamuts: Iterable[str] = ("sRGB", "DCI-P3"),
    size: Tuple[int, int] = (800, 800),
    dpi: int = 100,
    title: Optional[str] = None,
) -> Path:
    """Draws the diagram with a measured gamut and points into a file.

    Args:
        path: the file; its suffix chooses the format (.png, .svg, .pdf).
        measured: the display's primaries: a mapping with "red", "green",
            "blue" (and optionally "white"), or three corners red, green,
            blue; each an (x, y) pair or a Measurement.
        points: further points to mark.
        gamuts: reference gamuts to draw (see ``colour.REFERENCE_GAMUTS``).
        size: the picture's size in pixels (width, height), at `dpi`.
        title: a title instead of "CIE 1931 xy".

    Returns:
        The path written.
    """
    fig = Figure(figsize=(size[0] / dpi, size[1] / dpi), dpi=dpi)
    FigureCanvasAgg(fig)
    ax = fig.add_subplot()
    chromaticity_diagram(ax, gamuts)
    if measured is not None:
        if isinstance(measured, Mapping):
            triangle = [measured[c] for c in ("red", "green", "blue")]
            white = measured.get("white")
        else:
            triangle, white = list(measured), None
        plot_gamut(triangle, ax, label="measured", white=white)
        plot_points(triangle, ax)
    points = list(points)
    if points:
        plot_points(points, ax, label="points", marker="x", markeredgecolor="tab:blue")
    if title:
        ax.set_title(title)
    ax.legend(loc="upper right", fontsize=8)
    fig.tight_layout()
    out = Path(path)
    fig.savefig(out, dpi=dpi)
    return out


# ---- the display report's charts (ca410.report.evaluate) --------------------


def report_diagram(report: Dict[str, Any], ax: Optional[Axes] = None, plane: str = "xy") -> Axes:
    """The report's diagram: the measured gamut and its full primaries, the
    profile's target gamut, the target and the measured white."""
    ax = chromaticity_diagram(ax, gamuts=(), plane=plane)
    prof = report["profile"]
    triangle = report["gamut"]["triangle"]
    if triangle:
        plot_gamut(triangle, ax, label="measured gamut", plane=plane)
        plot_points([triangle[i:i + 2] for i in range(0, 6, 2)], ax, plane=plane)
    plot_gamut(prof["primaries"], ax, label=f"target: {prof['gamut']} (dashed, drawn over the "
               "measured gamut)", reference=0, plane=plane)
    plot_white(prof["white"], ax, "target white (x {:.4f}, y {:.4f})".format(*prof["white"]),
               target=True, plane=plane)
    white = report["white"]["xyz"]
    if white and white[1] > 0:
        wx, wy = colour.xyz_to_xy(white)
        plot_white((wx, wy), ax, f"measured white (x {wx:.4f}, y {wy:.4f})", plane=plane)
    ax.legend(loc="upper right", fontsize=7)
    return ax


def _levels(report: Dict[str, Any], key: str) -> List[Dict[str, Any]]:
    return [g for g in report["grey"]["levels"] if g[key] is not None]


def _target_and_measured(ax: Axes, x: List[float], target: List[float],
                         measured: List[float]) -> None:
    ax.plot(x, target, "--", color="0.27", label="target")
    ax.plot(x, measured, "-o", color="#1f4e8c", markersize=4, label="measured")


def _finish_grey_chart(ax: Axes, ylabel: str, title: str) -> Axes:
    ax.set(xlabel="drive level (%)", ylabel=ylabel, title=title)
    ax.grid(True, alpha=0.3)
    ax.legend(fontsize=8)
    return ax


def grey_luminance(report: Dict[str, Any], ax: Optional[Axes] = None) -> Axes:
    """Measured against target luminance per grey level."""
    ax = _axes(ax, (6, 4))
    levels = report["grey"]["levels"]
    x = [100 * g["level"] for g in levels]
    _target_and_measured(ax, x, [g["target_luminance"] for g in levels],
                         [g["xyz"][1] for g in levels])
    return _finish_grey_chart(ax, "luminance (cd/m²)", "Grey scale: luminance")


def point_gamma(report: Dict[str, Any], ax: Optional[Axes] = None) -> Axes:
    """The point gamma per level against the target's, with the tolerance band."""
    ax = _axes(ax, (6, 4))
    levels = _levels(report, "point_gamma")
    x = [100 * g["level"] for g in levels]
    target = [g["target_point_gamma"] for g in levels]
    tolerance = report["profile"]["tolerances"]["point_gamma"]
    if tolerance is not None and levels:
        ax.fill_between(x, [t - tolerance for t in target], [t + tolerance for t in target],
                        color="0.6", alpha=0.3, label=f"tolerance ± {tolerance:.2f}")
    _target_and_measured(ax, x, target, [g["point_gamma"] for g in levels])
    return _finish_grey_chart(ax, "point gamma", "Grey scale: point gamma")


def rgb_balance(report: Dict[str, Any], ax: Optional[Axes] = None) -> Axes:
    """R, G and B of each grey level in % of its luminance (target 100 %)."""
    ax = _axes(ax, (6, 4))
    levels = _levels(report, "balance")
    x = [100 * g["level"] for g in levels]
    ax.axhline(100, linestyle="--", color="0.27", label="target 100 %")
    for c, (name, col, marker) in enumerate((("R", "#c62828", "o"), ("G", "#2e7d32", "s"),
                                             ("B", "#1565c0", "^"))):
        ax.plot(x, [g["balance"][c] for g in levels], "-", marker=marker, color=col,
                markersize=4, label=name)
    return _finish_grey_chart(ax, "share of the level (%)", "Grey scale: RGB balance")


_SECTIONS = {"grey": "grey_delta_e", "gamut": "gamut_delta_e", "checker": "checker_delta_e_max"}


def _section_checks(report: Dict[str, Any], section: str) -> List[Tuple[str, Dict[str, Any]]]:
    if section not in _SECTIONS:
        raise ValueError(f"section is one of {', '.join(_SECTIONS)}, not {section!r}")
    if section == "grey":
        return [(f"{100 * g['level']:.0f} %", c) for g in report["grey"]["levels"]
                for c in g["checks"] if c["id"] == "grey.delta_e"]
    return [(p["id"], p["delta_e"]) for p in report[section]["patches"]]


def delta_e_bars(report: Dict[str, Any], section: str = "checker",
                 ax: Optional[Axes] = None) -> Axes:
    """ΔE2000 bars of "grey", "gamut" or "checker", the failing ones red,
    with the labelled tolerance line."""
    ax = _axes(ax, (7, 4))
    checks = [(label, c) for label, c in _section_checks(report, section)
              if c["measured"] is not None]
    ax.bar(range(len(checks)), [c["measured"] for _, c in checks],
           color=["#c0392b" if c["verdict"] == "FAIL" else "#5b8fc7" for _, c in checks])
    ax.set_xticks(range(len(checks)), [label for label, _ in checks], rotation=60, fontsize=7)
    tolerance = report["profile"]["tolerances"][_SECTIONS[section]]
    if tolerance is not None:
        ax.axhline(tolerance, color="black", linestyle="--", linewidth=1.2,
                   label=f"tolerance {tolerance:.2f}")
        ax.legend(fontsize=8)
    ax.set(ylabel="ΔE2000", title=f"{section}: ΔE2000")
    return ax


def swatches(report: Dict[str, Any], section: str = "checker", ax: Optional[Axes] = None,
             columns: int = 6) -> Axes:
    """Each patch of "gamut" or "checker": target colour left, measured right,
    relative to the target white, rendered in sRGB (clipped)."""
    ax = _axes(ax, (7, 5))
    patches = report[section]["patches"]
    white_y = (report["white"]["target_xyz"] or [1, 1, 1])[1]
    for i, p in enumerate(patches):
        x, y = i % columns, -(i // columns) * 1.35
        for k, xyz in enumerate((p["target_xyz"], p["xyz"])):
            fill = _srgb(_linear_srgb([v / white_y for v in xyz]))
            ax.add_patch(Rectangle((x + 0.45 * k, y), 0.45, 0.9, facecolor=fill,
                                   edgecolor="0.4", linewidth=0.5))
        de = p["delta_e"]
        ax.text(x, y - 0.12, f"{p['name'] or p['id']}\nΔE {de['measured']:.2f}"
                + (" FAIL" if de["verdict"] == "FAIL" else ""), fontsize=6, va="top")
    rows = max(1, math.ceil(len(patches) / columns))
    ax.set_xlim(-0.1, columns)
    ax.set_ylim(-(rows - 1) * 1.35 - 0.6, 1.0)
    ax.set_aspect("equal")
    ax.axis("off")
    ax.set_title(f"{section}: target (left) and measured (right)", fontsize=10)
    return ax
