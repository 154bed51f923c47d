"""Colour maths of the CA-410 driver: the functions of the ca410_colour library.

Every function that takes a colour takes X, Y, Z as three numbers, as a
sequence of such triples (giving a list of results), or as a NumPy array
whose last axis holds X, Y, Z (giving an array; NumPy is optional). A
:class:`ca410.Measurement` may stand for its X, Y, Z.

Triangles (gamuts) are the chromaticities of red, green and blue in the CIE
1931 xy plane: ``((rx, ry), (gx, gy), (bx, by))``, six numbers in that
order, a :class:`Gamut`, or the name of a built-in one ("sRGB"). Area ratios and coverage are fractions (1.0 is 100 %).

A colour that has no answer (black has no chromaticity; a CCT outside
500 K to 100000 K) raises :class:`ca410.Error` with code
``CA_COLOUR_E_DOMAIN``.
"""

from __future__ import annotations

import ctypes
from dataclasses import dataclass
from typing import Any, Callable, List, Sequence, Tuple, Union

from ._errors import ColourResult, Error
from ._lib import Chromaticity as _Chromaticity
from ._lib import colour_library

try:  # NumPy is optional: used for arrays when it is there.
    import numpy as _np
except ImportError:  # pragma: no cover - depends on the machine
    _np = None

__all__ = [
    "OBSERVER_1931",
    "OBSERVER_1964",
    "REFERENCE_GAMUTS",
    "Chromaticity",
    "Gamut",
    "xyz_to_chromaticity",
    "xyz_to_xy",
    "xyz_to_uv_prime",
    "xyz_to_cct_duv",
    "xy_to_cct_duv",
    "spectrum_to_xyz",
    "triangle_area",
    "gamut_area_ratio",
    "gamut_coverage",
    "reference_gamut",
    "spectral_locus",
]

OBSERVER_1931 = 2
"""CIE 1931 2° standard observer (the instrument's)."""
OBSERVER_1964 = 10
"""CIE 1964 10° standard observer."""

_GAMUT_IDS = {"sRGB": 1, "DCI-P3": 2, "BT.2020": 3}
REFERENCE_GAMUTS: Tuple[str, ...] = tuple(_GAMUT_IDS)
"""Names of the built-in reference gamuts, for :func:`reference_gamut`."""

XYZLike = Any  # three numbers, a sequence of triples, an array (..., 3), or a Measurement
TriangleLike = Union[Sequence[float], Sequence[Sequence[float]], Any]


@dataclass(frozen=True)
class Chromaticity:
    """Chromaticity of one colour: CIE 1931 x, y and CIE 1976 u', v'."""

    x: float
    y: float
    u_prime: float
    v_prime: float


@dataclass(frozen=True)
class Gamut:
    """A reference gamut: its name, primaries and white point in CIE 1931 xy."""

    name: str
    red: Tuple[float, float]
    green: Tuple[float, float]
    blue: Tuple[float, float]
    white: Tuple[float, float]

    @property
    def triangle(self) -> Tuple[Tuple[float, float], ...]:
        """The primaries as ``(red, green, blue)``."""
        return (self.red, self.green, self.blue)


# ---- helpers ---------------------------------------------------------------


def _check(rc: int, function: str, detail: str = "") -> None:
    if rc != 0:
        raise Error(rc, function, colour=True, detail=detail or None)


def _is_number(v: Any) -> bool:
    try:
        float(v)
    except (TypeError, ValueError):
        return False
    return not isinstance(v, (str, bytes))


def _doubles(values: Sequence[float]) -> "ctypes.Array[ctypes.c_double]":
    return (ctypes.c_double * len(values))(*[float(v) for v in values])


def _map_xyz(xyz: XYZLike, one: Callable[[Sequence[float]], Tuple[float, ...]], width: int) -> Any:
    """Applies `one` (X, Y, Z -> tuple of `width` floats) over any accepted input."""
    if all(hasattr(xyz, a) for a in ("X", "Y", "Z")):
        return one((xyz.X, xyz.Y, xyz.Z))
    if _np is not None and isinstance(xyz, _np.ndarray):
        arr = _np.asarray(xyz, dtype=float)
        if arr.ndim == 0 or arr.shape[-1] != 3:
            raise ValueError(f"expected an array whose last axis has X, Y, Z; got shape {arr.shape}")
        flat = arr.reshape(-1, 3)
        out = _np.empty((flat.shape[0], width))
        for i, row in enumerate(flat):
            out[i] = one(row)
        return out.reshape(arr.shape[:-1] + (width,))
    seq = list(xyz)
    if len(seq) == 3 and all(_is_number(v) for v in seq):
        return one(seq)
    return [_map_xyz(item, one, width) for item in seq]


def _triangle(t: Union[str, TriangleLike]) -> "ctypes.Array[ctypes.c_double]":
    if isinstance(t, str):
        t = reference_gamut(t)
    if isinstance(t, Gamut):
        t = t.triangle
    flat: List[float] = []
    for item in (t.tolist() if hasattr(t, "tolist") else t):
        if _is_number(item):
            flat.append(float(item))
        else:
            flat.extend(float(v) for v in item)
    if len(flat) != 6:
        raise ValueError(f"a triangle is three (x, y) corners; got {len(flat)} numbers")
    return _doubles(flat)


# ---- one colour ------------------------------------------------------------


def _chromaticity(xyz: Sequence[float]) -> Tuple[float, float, float, float]:
    out = _Chromaticity()
    _check(
        colour_library().ca410ColourChromaticity(_doubles(xyz), ctypes.byref(out)),
        "ca410ColourChromaticity",
        f"X, Y, Z = {tuple(float(v) for v in xyz)}",
    )
    return (out.x, out.y, out.u_prime, out.v_prime)


def _cct(xyz: Sequence[float]) -> Tuple[float, float]:
    t = ctypes.c_double()
    d = ctypes.c_double()
    _check(
        colour_library().ca410ColourCCT(_doubles(xyz), ctypes.byref(t), ctypes.byref(d)),
        "ca410ColourCCT",
        f"X, Y, Z = {tuple(float(v) for v in xyz)}",
    )
    return (t.value, d.value)


def xyz_to_chromaticity(xyz: XYZLike) -> Any:
    """x, y, u', v' of X, Y, Z: a :class:`Chromaticity` for one colour (a list
    of them for a sequence); an array (..., 4) for an array."""
    if _np is not None and isinstance(xyz, _np.ndarray):
        return _map_xyz(xyz, _chromaticity, 4)
    result = _map_xyz(xyz, _chromaticity, 4)

    def wrap(r: Any) -> Any:
        return Chromaticity(*r) if isinstance(r, tuple) else [wrap(i) for i in r]

    return wrap(result)


def xyz_to_xy(xyz: XYZLike) -> Any:
    """CIE 1931 (x, y) of X, Y, Z."""
    return _map_xyz(xyz, lambda v: _chromaticity(v)[:2], 2)


def xyz_to_uv_prime(xyz: XYZLike) -> Any:
    """CIE 1976 (u', v') of X, Y, Z."""
    return _map_xyz(xyz, lambda v: _chromaticity(v)[2:], 2)


def xyz_to_cct_duv(xyz: XYZLike) -> Any:
    """(CCT in kelvin, Δuv) of X, Y, Z: the nearest point of the Planckian
    locus in CIE 1960 (u, v), and the signed distance to it (positive above
    the locus). D65 gives about (6504, 0.0032)."""
    return _map_xyz(xyz, _cct, 2)


def xy_to_cct_duv(xy: Any) -> Any:
    """(CCT in kelvin, Δuv) of CIE 1931 (x, y) chromaticities (a pair, a
    sequence of pairs, or an array (..., 2))."""

    def to_xyz(p: Sequence[float]) -> Tuple[float, float, float]:
        x, y = float(p[0]), float(p[1])
        if y == 0.0:
            raise Error(int(ColourResult.CA_COLOUR_E_DOMAIN), colour=True, detail="y = 0")
        return (x / y, 1.0, (1.0 - x - y) / y)

    if _np is not None and isinstance(xy, _np.ndarray):
        arr = _np.asarray(xy, dtype=float)
        if arr.ndim == 0 or arr.shape[-1] != 2:
            raise ValueError(f"expected an array whose last axis has x, y; got shape {arr.shape}")
        flat = arr.reshape(-1, 2)
        out = _np.array([_cct(to_xyz(p)) for p in flat], dtype=float).reshape(-1, 2)
        return out.reshape(arr.shape[:-1] + (2,))
    seq = list(xy)
    if len(seq) == 2 and all(_is_number(v) for v in seq):
        return _cct(to_xyz(seq))
    return [xy_to_cct_duv(p) for p in seq]


def spectrum_to_xyz(
    values: Sequence[float],
    first_nm: float,
    step_nm: float,
    observer: int = OBSERVER_1931,
) -> Tuple[float, float, float]:
    """X, Y, Z of an emission spectrum sampled at ``first_nm + k * step_nm``
    (2 to 601 samples), under ``OBSERVER_1931`` or ``OBSERVER_1964``.

    Sums 0.683002 x spectrum x colour-matching function over the whole
    nanometres the spectrum and the observer share (360 nm to 829 nm), so a
    spectral radiance in mW sr⁻¹ m⁻² nm⁻¹ gives Y in cd/m².
    """
    vals = list(values.tolist() if hasattr(values, "tolist") else values)
    out = (ctypes.c_double * 3)()
    _check(
        colour_library().ca410ColourSpectrumToXYZ(
            int(observer), float(first_nm), float(step_nm), _doubles(vals), len(vals), out
        ),
        "ca410ColourSpectrumToXYZ",
    )
    return (out[0], out[1], out[2])


# ---- gamut -----------------------------------------------------------------


def triangle_area(triangle: TriangleLike) -> float:
    """Area of a triangle in the CIE 1931 xy plane (sRGB: 0.11205)."""
    out = ctypes.c_double()
    _check(
        colour_library().ca410ColourTriangleArea(_triangle(triangle), ctypes.byref(out)),
        "ca410ColourTriangleArea",
    )
    return out.value


def _against(function: str, triangle: TriangleLike, reference: Union[str, TriangleLike]) -> float:
    out = ctypes.c_double()
    fn = getattr(colour_library(), function)
    _check(fn(_triangle(triangle), _triangle(reference), ctypes.byref(out)), function)
    return out.value


def gamut_area_ratio(triangle: TriangleLike, reference: Union[str, TriangleLike] = "sRGB") -> float:
    """Area of `triangle` over the area of `reference` (a triangle or the name
    of a built-in gamut), as a fraction."""
    return _against("ca410ColourGamutAreaRatio", triangle, reference)


def gamut_coverage(triangle: TriangleLike, reference: Union[str, TriangleLike] = "sRGB") -> float:
    """The part of `reference` that `triangle` covers: the area of their
    intersection over the reference's area, from 0.0 to 1.0."""
    return _against("ca410ColourGamutCoverage", triangle, reference)


def reference_gamut(name: str) -> Gamut:
    """A built-in reference gamut by name: one of :data:`REFERENCE_GAMUTS`
    ("sRGB", "DCI-P3", "BT.2020")."""
    if name not in _GAMUT_IDS:
        raise ValueError(f"unknown reference gamut {name!r}; known: {', '.join(REFERENCE_GAMUTS)}")
    xy = (ctypes.c_double * 6)()
    white = (ctypes.c_double * 2)()
    gid = _GAMUT_IDS[name]
    _check(colour_library().ca410ColourReferenceGamut(gid, xy, white), "ca410ColourReferenceGamut")
    lib_name = colour_library().ca410ColourGamutName(gid)
    return Gamut(
        name=lib_name.decode() if lib_name else name,
        red=(xy[0], xy[1]),
        green=(xy[2], xy[3]),
        blue=(xy[4], xy[5]),
        white=(white[0], white[1]),
    )


def spectral_locus(observer: int = OBSERVER_1931) -> Tuple[Any, Any, Any]:
    """The spectral locus for drawing the xy diagram: ``(nm, x, y)``, one
    point per whole nanometre from 360 nm to 830 nm (lists, or NumPy arrays
    when NumPy is there)."""
    lib = colour_library()
    count = ctypes.c_int32()
    _check(lib.ca410ColourSpectralLocus(int(observer), None, None, 0, ctypes.byref(count)),
           "ca410ColourSpectralLocus")
    n = count.value
    nm = (ctypes.c_double * n)()
    xy = (ctypes.c_double * (2 * n))()
    _check(lib.ca410ColourSpectralLocus(int(observer), nm, xy, n, ctypes.byref(count)),
           "ca410ColourSpectralLocus")
    nms, xs, ys = list(nm), list(xy[0::2]), list(xy[1::2])
    if _np is not None:
        return _np.array(nms), _np.array(xs), _np.array(ys)
    return nms, xs, ys
