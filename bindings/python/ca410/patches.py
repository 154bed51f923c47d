"""Patch sets: the colours a sequence shows and measures, built in by name or
read from a file. The same sets, ids, names and values as the tool's.

    >>> from ca410 import patches
    >>> [p.id for p in patches.builtin("grey:3")]
    ['N1', 'N2', 'N3']
    >>> patches.load("my_patches.csv", bits=8)

Built-in sets: ``grey[:N]`` (N steps from black to white, default 11, 2 to
4096, ids N1..), ``primaries`` (red, green, blue, cyan, magenta, yellow at
25, 50, 75 and 100 %, ids R25..Y100), ``checker`` (the classic 24-patch
colour checker from its published 8-bit sRGB values, ids CC01..CC24 with
their names), ``full[:N]`` (all three, each drive triple once).

Patch files (told apart by their first line: CSV has commas):
CSV, one patch per line, "#" comments and blank lines skipped; columns
R,G,B or id,R,G,B or id,name,R,G,B, or in any order a header line names
(id, name, R, G, B; case ignored); floats 0..1, or integers 0..2^bits-1
when a ``# bits: N`` line or ``bits`` says so; ids default to the row
number. CGATS: RGB_R, RGB_G, RGB_B in percent, SAMPLE_ID and SAMPLE_NAME
when present. A refused file raises :class:`ca410.cgats.FileError`.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import List, Optional, Tuple

from . import cgats
from .cgats import FileError, parse_count, parse_number, shown

DEFAULT_GREY_STEPS = 11
MAX_GREY_STEPS = 4096


@dataclass(frozen=True)
class Patch:
    """``id`` (SAMPLE_ID, unique in its set), ``name`` (may be empty), drive
    values ``rgb`` 0..1."""

    id: str
    name: str
    rgb: Tuple[float, float, float]


def _level_name(fraction: float) -> str:
    text = f"{fraction * 100:.1f}"
    return (text[:-2] if text.endswith(".0") else text) + "%"


def _grey(steps: int) -> List[Patch]:
    return [
        Patch(f"N{i + 1}", f"grey {_level_name(i / (steps - 1))}", (i / (steps - 1),) * 3)
        for i in range(steps)
    ]


_PRIMARIES = (
    ("red", "R", (1, 0, 0)),
    ("green", "G", (0, 1, 0)),
    ("blue", "B", (0, 0, 1)),
    ("cyan", "C", (0, 1, 1)),
    ("magenta", "M", (1, 0, 1)),
    ("yellow", "Y", (1, 1, 0)),
)
_LEVELS = (25, 50, 75, 100)


def _primaries(_steps: int = 0) -> List[Patch]:
    return [
        Patch(f"{letter}{level}", f"{name} {level}%", tuple(m * (level / 100.0) for m in mask))
        for name, letter, mask in _PRIMARIES
        for level in _LEVELS
    ]


# The classic 24-patch colour checker: its published 8-bit sRGB values.
_CHECKER = (
    ("dark skin", 115, 82, 68), ("light skin", 194, 150, 130), ("blue sky", 98, 122, 157),
    ("foliage", 87, 108, 67), ("blue flower", 133, 128, 177), ("bluish green", 103, 189, 170),
    ("orange", 214, 126, 44), ("purplish blue", 80, 91, 166), ("moderate red", 193, 90, 99),
    ("purple", 94, 60, 108), ("yellow green", 157, 188, 64), ("orange yellow", 224, 163, 46),
    ("blue", 56, 61, 150), ("green", 70, 148, 73), ("red", 175, 54, 60),
    ("yellow", 231, 199, 31), ("magenta", 187, 86, 149), ("cyan", 8, 133, 161),
    ("white", 243, 243, 242), ("neutral 8", 200, 200, 200), ("neutral 6.5", 160, 160, 160),
    ("neutral 5", 122, 122, 121), ("neutral 3.5", 85, 85, 85), ("black", 52, 52, 52),
)


def _checker(_steps: int = 0) -> List[Patch]:
    return [
        Patch(f"CC{i + 1:02d}", name, (r / 255.0, g / 255.0, b / 255.0))
        for i, (name, r, g, b) in enumerate(_CHECKER)
    ]


def _full(steps: int) -> List[Patch]:
    out, seen = [], set()
    for p in _grey(steps) + _primaries() + _checker():
        if p.rgb not in seen:
            seen.add(p.rgb)
            out.append(p)
    return out


# name: (takes a step count, maker)
BUILTIN_SETS = {
    "grey": (True, _grey),
    "primaries": (False, _primaries),
    "checker": (False, _checker),
    "full": (True, _full),
}


def is_builtin(name: str) -> bool:
    return name.split(":", 1)[0] in BUILTIN_SETS


def builtin(name: str) -> List[Patch]:
    """A built-in set by name; ValueError for an unknown name or step count."""
    base, colon, steps_text = name.partition(":")
    if base not in BUILTIN_SETS:
        raise ValueError(
            f"unknown patch set {shown(name)} (grey[:N], primaries, checker, full[:N])"
        )
    takes_steps, make = BUILTIN_SETS[base]
    steps = DEFAULT_GREY_STEPS
    if colon:
        n = parse_count(steps_text) if takes_steps else None
        if n is None or not 2 <= n <= MAX_GREY_STEPS:
            raise ValueError(
                f"patch set {shown(name)}: "
                + ("the steps are 2 to 4096" if takes_steps else "this set takes no step count")
            )
        steps = n
    return make(steps)


_CSV_COLUMNS = ("id", "name", "r", "g", "b")


def _named_columns(names: List[str], file: str, line: int) -> dict:
    columns = {}
    for c, name in enumerate(names):
        key = name.lower()
        if key not in _CSV_COLUMNS:
            raise FileError(
                file, line, "unknown_field", f"unknown column {shown(name)} (id, name, R, G, B)"
            )
        if key in columns:
            raise FileError(file, line, "syntax", f"column {shown(name)} named twice")
        columns[key] = c
    for key in "rgb":
        if key not in columns:
            raise FileError(file, line, "missing_field", f"no {key} column")
    return columns


def _default_columns(count: int, file: str, line: int) -> dict:
    if not 3 <= count <= 5:
        raise FileError(
            file,
            line,
            "field_count",
            f"{count} columns: R,G,B with an optional id and name before them",
        )
    columns = {key: count - 3 + i for i, key in enumerate("rgb")}
    if count >= 4:
        columns["id"] = 0
    if count == 5:
        columns["name"] = 1
    return columns


def _bits_line(line: str, file: str, number: int) -> Optional[int]:
    text = line[1:].strip(" \t").lower()
    if not text.startswith("bits:"):
        return None
    value = text[5:].strip(" \t")
    n = parse_count(value)
    if n is None or not 1 <= n <= 16:
        raise FileError(file, number, "out_of_range", f"bits {shown(value)}: 1 to 16")
    return n


def _drive(text: str, bits: int, channel: str, file: str, line: int) -> float:
    what = f"{channel} {shown(text)}"
    if bits == 0:
        v = parse_number(text)
        if v is None:
            raise FileError(file, line, "not_a_number", f"{what} is not a number")
        if not 0 <= v <= 1:
            raise FileError(file, line, "out_of_range", f"{what} is outside 0..1")
        return v
    top, n = (1 << bits) - 1, parse_count(text)
    if n is None:
        raise FileError(file, line, "not_a_number", f"{what} is not a {bits}-bit integer")
    if n > top:
        raise FileError(file, line, "out_of_range", f"{what} is above {top}")
    return n / top


def _csv_patches(t: cgats.TextFile, bits: int) -> List[Patch]:
    out, ids, columns, width = [], set(), None, 0
    for i, line in enumerate(t.lines):
        number = i + 1
        if not line.strip(" \t"):
            continue
        if line[0] == "#":
            declared = _bits_line(line, t.name, number)
            if declared is not None and out:
                raise FileError(t.name, number, "syntax", "bits after the first patch")
            if declared is not None and bits and declared != bits:
                raise FileError(
                    t.name, number, "syntax", f"the file says {declared} bits, the option {bits}"
                )
            bits = declared or bits
            continue
        cells = cgats.csv_cells(line)
        if cells is None:
            raise FileError(
                t.name, number, "unterminated_string", "a quoted cell without its closing quote"
            )
        if columns is None:
            width = len(cells)
            header = all(parse_number(c) is None for c in cells)
            columns = (_named_columns if header else _default_columns)(
                cells if header else width, t.name, number
            )
            if header:
                continue
        if len(cells) != width:
            raise FileError(t.name, number, "field_count", f"{len(cells)} cells, {width} columns")
        pid = cells[columns["id"]] if "id" in columns else str(len(out) + 1)
        name = cells[columns["name"]] if "name" in columns else ""
        rgb = tuple(_drive(cells[columns[k]], bits, k.upper(), t.name, number) for k in "rgb")
        if not pid:
            raise FileError(t.name, number, "syntax", "an empty id")
        if pid in ids:
            raise FileError(t.name, number, "duplicate_id", f"id {shown(pid)} appears twice")
        ids.add(pid)
        out.append(Patch(pid, name, rgb))
    return out


def _cgats_patches(t: cgats.TextFile) -> List[Patch]:
    d = cgats.parse_document(t)
    for f in ("RGB_R", "RGB_G", "RGB_B"):
        if f not in d.fields:
            raise FileError(t.name, d.format_line, "missing_field", f"no {f} field")
    column = {
        f: d.fields.index(f)
        for f in ("SAMPLE_ID", "SAMPLE_NAME", "RGB_R", "RGB_G", "RGB_B")
        if f in d.fields
    }
    out = []
    for i, (row, line) in enumerate(zip(d.rows, d.row_lines)):
        rgb = []
        for f in ("RGB_R", "RGB_G", "RGB_B"):
            v = parse_number(row[column[f]])  # the parser checked it is a number
            if not 0 <= v <= 100:
                raise FileError(
                    t.name, line, "out_of_range", f"{f} {shown(row[column[f]])} is outside 0..100"
                )
            rgb.append(cgats.parse_percent(row[column[f]]))
        out.append(
            Patch(
                row[column["SAMPLE_ID"]] if "SAMPLE_ID" in column else str(i + 1),
                row[column["SAMPLE_NAME"]] if "SAMPLE_NAME" in column else "",
                tuple(rgb),
            )
        )
    return out


def read_file(path, bits: int = 0) -> List[Patch]:
    """A CSV or CGATS patch file."""
    if not 0 <= bits <= 16:
        raise ValueError("bits: 1 to 16")
    t = cgats.read_text(path)
    fmt = cgats.detect_format(t)
    if fmt == "json":
        raise FileError(t.name, 1, "syntax", "a patch file is CSV or CGATS, not JSON")
    out = _csv_patches(t, bits) if fmt == "csv" else _cgats_patches(t)
    if not out:
        raise FileError(t.name, 0, "no_patches", "no patches")
    return out


def load(name_or_path, bits: int = 0) -> List[Patch]:
    """A built-in set by name, else a patch file."""
    name = str(name_or_path)
    return builtin(name) if is_builtin(name) else read_file(name_or_path, bits)
