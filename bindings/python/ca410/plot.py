"""The CIE 1931 xy chromaticity diagram with matplotlib.

matplotlib is imported here only, so the rest of the package works without
it. The drawing functions take an optional matplotlib ``Axes``, draw into it
and return it (a new figure's axes when none is given); they never call
``show()``. :func:`save_gamut_plot` draws a whole diagram into a file.
"""

from __future__ import annotations

import os
from pathlib import Path
from typing import Any, Iterable, Mapping, Optional, Sequence, Tuple, Union

from matplotlib.axes import Axes
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.figure import Figure

from . import colour

__all__ = ["chromaticity_diagram", "plot_gamut", "plot_points", "save_gamut_plot"]

_GAMUT_STYLES = {
    "sRGB": dict(color="0.25", linestyle="--"),
    "DCI-P3": dict(color="tab:purple", linestyle=":"),
    "BT.2020": dict(color="tab:green", linestyle="-."),
}
_LABELLED_NM = (460, 480, 490, 500, 520, 540, 560, 580, 600, 620, 700)


def _axes(ax: Optional[Axes]) -> Axes:
    if ax is not None:
        return ax
    import matplotlib.pyplot as plt

    return plt.figure(figsize=(6, 6)).add_subplot()


def _xy(point: Any) -> Tuple[float, float]:
    """(x, y) of a pair, or of anything with X, Y, Z (a Measurement)."""
    if all(hasattr(point, a) for a in ("X", "Y", "Z")):
        return colour.xyz_to_xy(point)
    x, y = point
    return float(x), float(y)


def chromaticity_diagram(
    ax: Optional[Axes] = None,
    gamuts: Iterable[str] = ("sRGB", "DCI-P3"),
    observer: int = colour.OBSERVER_1931,
) -> Axes:
    """The empty diagram: the spectral locus closed by the purple line, some
    wavelengths marked, the named reference gamuts, labelled axes."""
    ax = _axes(ax)
    nm, xs, ys = colour.spectral_locus(observer)
    xs, ys, nm = list(xs), list(ys), list(nm)
    ax.plot(xs + xs[:1], ys + ys[:1], color="black", linewidth=1.0, label="spectral locus")
    for wl in _LABELLED_NM:
        if wl in nm:
            i = nm.index(wl)
            ax.plot(xs[i], ys[i], marker=".", color="black", markersize=3)
            ax.annotate(f"{wl}", (xs[i], ys[i]), textcoords="offset points", xytext=(4, 2),
                        fontsize=7, color="0.3")
    for name in gamuts:
        g = colour.reference_gamut(name)
        plot_gamut(g.triangle, ax, label=name, white=g.white, **_GAMUT_STYLES.get(name, {}))
    ax.set_xlim(0.0, 0.8)
    ax.set_ylim(0.0, 0.9)
    ax.set_aspect("equal")
    ax.set_xlabel("x")
    ax.set_ylabel("y")
    ax.set_title("CIE 1931 xy")
    ax.grid(True, linewidth=0.3, alpha=0.5)
    return ax


def plot_gamut(
    triangle: colour.TriangleLike,
    ax: Optional[Axes] = None,
    label: Optional[str] = None,
    white: Optional[Any] = None,
    **style: Any,
) -> Axes:
    """A triangle (three (x, y) corners, or three Measurements of red,
    green, blue) and optionally its white point."""
    ax = _axes(ax)
    if isinstance(triangle, colour.Gamut):
        triangle = triangle.triangle
    corners = [_xy(c) for c in triangle] if len(triangle) == 3 else [
        (float(triangle[i]), float(triangle[i + 1])) for i in range(0, 6, 2)
    ]
    style.setdefault("linewidth", 1.2)
    xs = [c[0] for c in corners]
    ys = [c[1] for c in corners]
    (line,) = ax.plot(xs + xs[:1], ys + ys[:1], label=label, **style)
    if white is not None:
        wx, wy = _xy(white)
        ax.plot(wx, wy, marker="+", markersize=8, color=line.get_color(), linestyle="none")
    return ax


def plot_points(
    points: Iterable[Any],
    ax: Optional[Axes] = None,
    label: Optional[str] = None,
    **style: Any,
) -> Axes:
    """Measured points: (x, y) pairs or Measurements."""
    ax = _axes(ax)
    xy = [_xy(p) for p in points]
    style.setdefault("marker", "o")
    style.setdefault("linestyle", "none")
    style.setdefault("markersize", 5)
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
        plot_gamut(triangle, ax, label="measured", white=white, color="tab:red", linewidth=1.8)
        plot_points(triangle, ax, color="tab:red")
    points = list(points)
    if points:
        plot_points(points, ax, label="points", color="tab:blue", marker="x")
    if title:
        ax.set_title(title)
    ax.legend(loc="upper right", fontsize=8)
    fig.tight_layout()
    out = Path(path)
    fig.savefig(out, dpi=dpi)
    return out
