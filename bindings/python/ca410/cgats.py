"""Measurement files: the CGATS text format (CGATS.17 / ISO 28178) and the
files that ``ca410 sequence`` writes patch by patch, as CGATS, CSV or JSON
Lines. The same rules, texts and bytes as the tool's reader and writer.

    >>> from ca410 import cgats
    >>> m = cgats.read("panel.cgats")                # any of the three formats
    >>> m.header.instrumentation, len(m.readings), m.readings[0].xyz
    >>> import pandas; pandas.DataFrame(m.to_records())

A refused file raises :class:`FileError` ("FILE:LINE: reason"), whose
``problem`` is a keyword (``"missing_end_data"``, ``"not_a_number"``, ...).
Numbers are read and written without the locale.
"""

from __future__ import annotations

import json
import math
import os
import re
from dataclasses import dataclass, field
from decimal import Decimal
from typing import IO, Iterable, List, Optional, Sequence, Tuple

MAX_LINE_BYTES = 64 * 1024
MAX_FILE_BYTES = 64 * 1024 * 1024

PROBLEMS = (
    "io", "too_large", "line_too_long", "truncated", "missing_end_data", "field_count", "set_count",
    "duplicate_id", "not_a_number", "unknown_field", "unterminated_string", "syntax",
    "missing_field", "out_of_range", "no_patches", "mismatch"
)
FORMATS = ("cgats", "csv", "json")


class FileError(ValueError):
    """A file refused: ``file``, ``line`` (0: the whole file), ``problem`` (a
    keyword of :data:`PROBLEMS`)."""

    def __init__(self, file: str, line: int, problem: str, reason: str):
        assert problem in PROBLEMS
        self.file, self.line, self.problem = file, line, problem
        super().__init__(f"{file}:{line}: {reason}" if line else f"{file}: {reason}")


def shown(text: str) -> str:
    """A text from a file, quoted for a message: control characters as \\xNN."""
    out = "".join(f"\\x{ord(c):02X}" if ord(c) < 0x20 or c == "\x7f" else c for c in text[:40])
    return f'"{out}"' + ("..." if len(text) > 40 else "")


# ---- Text files ---------------------------------------------------------------


@dataclass
class TextFile:
    """Lines without their ends (LF or CRLF), a UTF-8 byte-order mark dropped;
    ``ends[i]`` the byte offset past line i."""

    name: str
    lines: List[str] = field(default_factory=list)
    ends: List[int] = field(default_factory=list)
    last_line_open: bool = False


def _too_long(name: str, line: int) -> FileError:
    return FileError(
        name,
        line,
        "line_too_long",
        f"line longer than {MAX_LINE_BYTES // 1024} KiB (not a text file?)",
    )


def read_text(path) -> TextFile:
    name = os.fspath(path)
    try:
        with open(name, "rb") as f:
            content, line, line_start = bytearray(), 1, 0
            # The caps are checked as the bytes come: /dev/zero stops after a line's worth.
            while chunk := f.read(64 * 1024):
                newlines = chunk.count(b"\n")
                if newlines:
                    line += newlines
                    line_start = len(content) + chunk.rindex(b"\n") + 1
                content += chunk
                if len(content) - line_start > MAX_LINE_BYTES + 1:
                    raise _too_long(name, line)
                if len(content) > MAX_FILE_BYTES:
                    raise FileError(name, 0, "too_large", f"larger than {MAX_FILE_BYTES >> 20} MiB")
    except OSError as e:
        raise FileError(name, 0, "io", f"cannot read: {e.strerror}") from None
    return split_lines(name, bytes(content))


def split_lines(name: str, content: bytes) -> TextFile:
    t = TextFile(name)
    pos = 3 if content.startswith(b"\xef\xbb\xbf") else 0
    while pos < len(content):
        nl = content.find(b"\n", pos)
        end = len(content) if nl < 0 else nl
        line = content[pos:end]
        if line.endswith(b"\r"):
            line = line[:-1]
        if len(line) > MAX_LINE_BYTES:
            raise _too_long(name, len(t.lines) + 1)
        t.lines.append(line.decode("utf-8", "surrogateescape"))
        t.last_line_open = nl < 0
        pos = end if nl < 0 else nl + 1
        t.ends.append(pos)
    return t


def _usable(t: TextFile, partial: bool) -> int:
    return len(t.lines) - (1 if partial and t.last_line_open else 0)


# ---- Numbers ------------------------------------------------------------------

_DECIMAL = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?")
_COUNT = re.compile(r"[0-9]+")
_INTEGER = re.compile(r"-?[0-9]+")


def parse_number(text: str) -> Optional[float]:
    """A finite decimal: sign, digits with an optional point, exponent."""
    if not _DECIMAL.fullmatch(text):
        return None
    v = float(text)
    return v if math.isfinite(v) else None


def parse_count(text: str) -> Optional[int]:
    v = int(text) if _COUNT.fullmatch(text) else None
    return v if v is not None and v < 2**63 else None


def _shortest(v: float) -> Tuple[bool, str, int]:
    """A float's shortest decimal: sign, significant digits, the power of ten of the first."""
    r = repr(float(v))
    _, digits, exp = Decimal(r.lstrip("-")).normalize().as_tuple()
    text = "".join(map(str, digits))
    return r.startswith("-"), text, exp + len(text) - 1


def _decimal_text(negative: bool, digits: str, e: int) -> str:
    """Fixed or with an exponent, whichever is shorter (fixed on a tie), as the
    tool's std::to_chars writes the shortest text of a double."""
    n = len(digits)
    if e >= n - 1:
        fixed = digits + "0" * (e - n + 1)
    elif e >= 0:
        fixed = digits[: e + 1] + "." + digits[e + 1 :]
    else:
        fixed = "0." + "0" * (-e - 1) + digits
    sci = digits[0] + ("." + digits[1:] if n > 1 else "") + f"e{'-' if e < 0 else '+'}{abs(e):02d}"
    return ("-" if negative else "") + (fixed if len(fixed) <= len(sci) else sci)


def number_text(v: float) -> str:
    """The shortest text that reads back to ``v``."""
    return _decimal_text(*_shortest(v))


def percent_text(drive: float) -> str:
    """A drive value 0..1 as percent: its shortest text with the decimal point
    moved, so that :func:`parse_percent` gives back every bit."""
    negative, digits, e = _shortest(drive)
    return _decimal_text(negative, digits, e + 2 if digits != "0" else e)


def parse_percent(text: str) -> Optional[float]:
    """Percent text as a drive value: exactly the decimal divided by 100."""
    if not _DECIMAL.fullmatch(text):
        return None
    mantissa, _, power = text.lower().partition("e")
    v = float(f"{mantissa}e{int(power or 0) - 2}")
    return v if math.isfinite(v) else None


# ---- CSV ----------------------------------------------------------------------


def csv_cells(line: str) -> Optional[List[str]]:
    """One CSV line's cells ("..." quoting, "" inside); None for an open quote."""
    cells, i = [], 0
    while True:
        while i < len(line) and line[i] in " \t":
            i += 1
        if i < len(line) and line[i] == '"':
            cell, i = [], i + 1
            while True:
                if i >= len(line):
                    return None
                if line[i] != '"':
                    cell.append(line[i])
                elif line.startswith('""', i):
                    cell.append('"')
                    i += 1
                else:
                    break
                i += 1
            comma = line.find(",", i + 1)
            cells.append("".join(cell) + line[i + 1 : None if comma < 0 else comma].strip(" \t"))
        else:
            comma = line.find(",", i)
            cells.append(line[i : None if comma < 0 else comma].strip(" \t"))
        if comma < 0:
            return cells
        i = comma + 1


def csv_cell(text: str) -> str:
    plain = (
        not any(c in text for c in ',"\r\n')
        and text.strip(" \t") == text
        and not text.startswith("#")
    )
    return text if plain else '"' + text.replace('"', '""') + '"'


# ---- CGATS --------------------------------------------------------------------

STANDARD_FIELDS = (
    "SAMPLE_ID", "SAMPLE_NAME", "STRING", "CMYK_C", "CMYK_M", "CMYK_Y", "CMYK_K", "D_RED",
    "D_GREEN", "D_BLUE", "D_VIS", "D_MAJOR_FILTER", "RGB_R", "RGB_G", "RGB_B", "SPECTRAL_NM",
    "SPECTRAL_PCT", "SPECTRAL_DEC", "XYZ_X", "XYZ_Y", "XYZ_Z", "XYY_X", "XYY_Y", "XYY_CAPY",
    "LAB_L", "LAB_A", "LAB_B", "LAB_C", "LAB_H", "LAB_DE", "LAB_DE_94", "LAB_DE_CMC", "LAB_DE_2000",
    "MEAN_DE", "STDEV_X", "STDEV_Y", "STDEV_Z", "STDEV_L", "STDEV_A", "STDEV_B", "STDEV_DE",
    "CHI_SQD_PAR"
)
_TEXT_FIELDS = STANDARD_FIELDS[:3]
_TOKEN_END = re.compile(r'[ \t#"]')
_CSV_KEYWORD = re.compile(r"#[A-Z_]+,")
_SPECTRAL_BAND = re.compile(r"SPECTRAL_[0-9]+")


def is_standard_field(name: str) -> bool:
    return name in STANDARD_FIELDS or bool(_SPECTRAL_BAND.fullmatch(name))


def _holds_numbers(name: str) -> bool:
    return is_standard_field(name) and name not in _TEXT_FIELDS


@dataclass
class Document:
    """One CGATS table: keywords (name, value, quoted) in file order,
    declared names, fields, rows as text and each row's line."""

    identifier: str = ""
    keywords: List[Tuple[str, str, bool]] = field(default_factory=list)
    declared: List[str] = field(default_factory=list)
    fields: List[str] = field(default_factory=list)
    format_line: int = 0
    rows: List[List[str]] = field(default_factory=list)
    row_lines: List[int] = field(default_factory=list)
    complete: bool = True
    data_end: int = 0

    def keyword(self, name: str) -> Optional[Tuple[str, bool]]:
        return next(((v, q) for k, v, q in self.keywords if k == name), None)


class _Parser:
    def __init__(self, text: TextFile, partial: bool):
        self.text, self.partial, self.doc = text, partial, Document()
        self.section, self.line, self.ids = "identifier", 0, set()

    def fail(self, problem: str, reason: str):
        raise FileError(self.text.name, self.line, problem, reason)

    def tokens(self, line: str) -> List[Tuple[str, bool]]:
        out, i = [], 0
        while i < len(line):
            c = line[i]
            if c in " \t":
                i += 1
            elif c == "#":
                break
            elif c == '"':
                close = line.find('"', i + 1)
                if close < 0:
                    self.fail("unterminated_string", "a string without its closing quote")
                out.append((line[i + 1 : close], True))
                i = close + 1
            else:
                m = _TOKEN_END.search(line, i)
                end = m.start() if m else len(line)
                out.append((line[i:end], False))
                i = end
        return out

    def run(self) -> Document:
        usable = _usable(self.text, self.partial)
        for self.line in range(1, usable + 1):
            t = self.tokens(self.text.lines[self.line - 1])
            if t:
                getattr(self, "_" + self.section)(t)
        self.line = usable
        self.end_of_file()
        return self.doc

    def _identifier(self, t):
        if len(t) != 1 or t[0][1]:
            self.fail("syntax", "the first line names the file type alone (e.g. CGATS.17)")
        self.doc.identifier, self.section = t[0][0], "header"

    def count(self, name: str) -> Optional[int]:
        k = self.doc.keyword(name)
        if k is None:
            return None
        n = None if k[1] else parse_count(k[0])
        if n is None:
            self.fail("not_a_number", f"{name} needs a count, not {shown(k[0])}")
        return n

    def _header(self, t):
        word, quoted = t[0]
        if quoted:
            self.fail("syntax", "a string where a keyword belongs")
        if word == "BEGIN_DATA_FORMAT":
            self.section, self.doc.format_line = "format", self.line
            return self._format(t[1:])
        if word == "BEGIN_DATA" and len(t) == 1:
            return self.begin_data()
        if len(t) != 2:
            self.fail("syntax", f"{shown(word)} needs one value")
        if word == "KEYWORD":
            if not t[1][1]:
                self.fail("syntax", "KEYWORD needs a quoted name")
            self.doc.declared.append(t[1][0])
            return
        self.doc.keywords.append((word, t[1][0], t[1][1]))
        if word in ("NUMBER_OF_FIELDS", "NUMBER_OF_SETS"):
            self.count(word)

    def _format(self, t):
        for i, (name, quoted) in enumerate(t):
            if name == "END_DATA_FORMAT" and not quoted:
                if i + 1 != len(t):
                    self.fail("syntax", "text after END_DATA_FORMAT")
                self.section = "header"
                return
            if not is_standard_field(name) and name not in self.doc.declared:
                self.fail(
                    "unknown_field",
                    f"unknown field {shown(name)} (neither CGATS.17's nor declared by KEYWORD)",
                )
            if name in self.doc.fields:
                self.fail("syntax", f"field {shown(name)} named twice")
            self.doc.fields.append(name)

    def begin_data(self):
        if not self.doc.fields:
            self.fail("syntax", "BEGIN_DATA before the data format")
        declared = self.count("NUMBER_OF_FIELDS")
        if declared is not None and declared != len(self.doc.fields):
            self.fail(
                "field_count",
                f"NUMBER_OF_FIELDS is {declared} but the data format names "
                f"{len(self.doc.fields)} fields",
            )
        self.count("NUMBER_OF_SETS")
        self.section, self.doc.data_end = "data", self.text.ends[self.line - 1]

    def _data(self, t):
        if len(t) == 1 and t[0] == ("END_DATA", False):
            return self.end_data()
        fields = self.doc.fields
        if len(t) != len(fields):
            self.fail("field_count", f"a row of {len(t)} values, {len(fields)} fields")
        sets = self.count("NUMBER_OF_SETS")
        if sets is not None and len(self.doc.rows) >= sets:
            self.fail("set_count", f"more rows than NUMBER_OF_SETS ({sets})")
        for name, (value, quoted) in zip(fields, t):
            if _holds_numbers(name) and (quoted or parse_number(value) is None):
                self.fail("not_a_number", f"{name} {shown(value)} is not a number")
        row = [value for value, _ in t]
        if "SAMPLE_ID" in fields:
            sample = row[fields.index("SAMPLE_ID")]
            if sample in self.ids:
                self.fail("duplicate_id", f"SAMPLE_ID {shown(sample)} appears twice")
            self.ids.add(sample)
        self.doc.rows.append(row)
        self.doc.row_lines.append(self.line)
        self.doc.data_end = self.text.ends[self.line - 1]

    def end_data(self):
        sets = self.count("NUMBER_OF_SETS")
        if sets is not None and sets != len(self.doc.rows):
            self.fail("set_count", f"NUMBER_OF_SETS is {sets} but {len(self.doc.rows)} rows came")
        self.section = "after"

    def _after(self, t):
        self.fail("syntax", "text after END_DATA (one table per file)")

    def end_of_file(self):
        if self.section == "identifier":
            self.fail("truncated", "an empty file")
        if self.section == "header":
            self.fail(
                "truncated",
                "the file stops before its data"
                if self.partial
                else "the file ends before BEGIN_DATA",
            )
        if self.section == "format":
            self.fail("truncated", "the file ends inside the data format")
        if self.section == "data":
            if not self.partial:
                self.fail("missing_end_data", "the file ends without END_DATA")
            self.doc.complete = False


def parse_document(text: TextFile, partial: bool = False) -> Document:
    """One CGATS table; ``partial``: cut anywhere after BEGIN_DATA, an
    unfinished last line dropped."""
    return _Parser(text, partial).run()


def read_document(path, partial: bool = False) -> Document:
    return parse_document(read_text(path), partial)


def detect_format(t: TextFile) -> str:
    """A file's format: "json" (first character "{"), "csv" (commas in the
    first line, or a "#KEYWORD," line before it) or "cgats"."""
    for line in t.lines:
        s = line.strip(" \t")
        if not s:
            continue
        if s[0] == "{":
            return "json"
        if s[0] != "#":
            return "csv" if "," in s else "cgats"
        if _CSV_KEYWORD.match(s):
            return "csv"
    return "cgats"


# ---- Measurement files --------------------------------------------------------


@dataclass
class Header:
    """ORIGINATOR, CREATED (ISO 8601), INSTRUMENTATION, DESCRIPTOR, PATCH_SET,
    NUMBER_OF_SETS."""

    originator: str = ""
    created: str = ""
    instrumentation: str = ""
    descriptor: str = ""
    patch_set: str = ""
    number_of_sets: int = 0


@dataclass
class Reading:
    """One patch: drive values ``rgb`` 0..1, the mean ``xyz`` (absolute, Y in
    cd/m2) of ``n`` readings and their sample standard deviation ``sd``."""

    id: str
    name: str = ""
    rgb: Tuple[float, float, float] = (0.0, 0.0, 0.0)
    xyz: Tuple[float, float, float] = (0.0, 0.0, 0.0)
    sd: Tuple[float, float, float] = (0.0, 0.0, 0.0)
    n: int = 1


@dataclass
class MeasurementFile:
    format: str
    header: Header
    readings: List[Reading]
    complete: bool = True
    resume_from: int = 0

    def to_records(self) -> List[dict]:
        """One dict per patch (id, name, R, G, B, X, Y, Z, sd_X, sd_Y, sd_Z,
        n): ``pandas.DataFrame(m.to_records())``."""
        return [
            dict(
                id=r.id,
                name=r.name,
                **dict(zip("RGB", r.rgb)),
                **dict(zip("XYZ", r.xyz)),
                **{f"sd_{c}": v for c, v in zip("XYZ", r.sd)},
                n=r.n,
            )
            for r in self.readings
        ]


# Header keywords: name, attribute, declared in CGATS, compared on resume.
_HEADER = (
    ("ORIGINATOR", "originator", False, True),
    ("CREATED", "created", False, False),
    ("INSTRUMENTATION", "instrumentation", False, True),
    ("DESCRIPTOR", "descriptor", False, True),
    ("PATCH_SET", "patch_set", True, True),
)
_SETS = "NUMBER_OF_SETS"
# Row fields: name, kind, required, attribute, index, low, high.
_FIELDS = (
    ("SAMPLE_ID", "text", True, "id", 0, 0, 0),
    ("SAMPLE_NAME", "text", False, "name", 0, 0, 0),
    *((f"RGB_{c}", "percent", True, "rgb", i, 0, 100) for i, c in enumerate("RGB")),
    *((f"XYZ_{c}", "number", True, "xyz", i, -math.inf, math.inf) for i, c in enumerate("XYZ")),
    *((f"STDEV_{c}", "number", False, "sd", i, 0, math.inf) for i, c in enumerate("XYZ")),
    ("READINGS", "count", False, "n", 0, 1, math.inf),
)
_FIELD_NAMES = [f[0] for f in _FIELDS]


def _cell_text(r: Reading, f) -> str:
    name, kind, _, attr, at, _, _ = f
    if kind == "text":
        return getattr(r, attr)
    if kind == "count":
        return str(r.n)
    v = getattr(r, attr)[at]
    return percent_text(v) if kind == "percent" else number_text(v)


def _reading(cells: dict, file: str, line: int) -> Reading:
    values = {"id": "", "name": "", "rgb": [0.0] * 3, "xyz": [0.0] * 3, "sd": [0.0] * 3, "n": 1}
    for name, kind, required, attr, at, low, high in _FIELDS:
        text = cells.get(name)
        if text is None:
            if required:
                raise FileError(file, line, "missing_field", f"no {name}")
            continue
        if kind == "text":
            values[attr] = text
            continue
        x = parse_count(text) if kind == "count" else parse_number(text)
        if x is None:
            raise FileError(file, line, "not_a_number", f"{name} {shown(text)} is not a number")
        if not low <= x <= high:
            raise FileError(
                file,
                line,
                "out_of_range",
                f"{name} {shown(text)} is outside " f"{number_text(low)}..{number_text(high)}",
            )
        if kind == "count":
            values[attr] = x
        else:
            values[attr][at] = parse_percent(text) if kind == "percent" else x
    return Reading(
        values["id"],
        values["name"],
        tuple(values["rgb"]),
        tuple(values["xyz"]),
        tuple(values["sd"]),
        values["n"],
    )


def _columns(names: Sequence[str], file: str, line: int, cgats_checked: bool) -> dict:
    columns = {}
    for c, name in enumerate(names):
        if name not in _FIELD_NAMES:
            if not cgats_checked and not is_standard_field(name):
                raise FileError(file, line, "unknown_field", f"unknown field {shown(name)}")
            continue
        if name in columns:
            raise FileError(file, line, "syntax", f"field {name} named twice")
        columns[name] = c
    for name, _, required, *_ in _FIELDS:
        if required and name not in columns:
            raise FileError(file, line, "missing_field", f"no {name} field")
    return columns


class _Table:
    def __init__(self):
        self.header, self.sets = Header(), None
        self.rows, self.lines = [], []
        self.ended, self.resume_from = True, 0


def _cgats_table(t: TextFile, partial: bool) -> _Table:
    d, out = parse_document(t, partial), _Table()
    for name, attr, *_ in _HEADER:
        if d.keyword(name):
            setattr(out.header, attr, d.keyword(name)[0])
    if d.keyword(_SETS):
        out.sets = parse_count(d.keyword(_SETS)[0])
    columns = _columns(d.fields, t.name, d.format_line, True)
    out.rows = [{name: row[c] for name, c in columns.items()} for row in d.rows]
    out.lines, out.ended, out.resume_from = d.row_lines, d.complete, d.data_end
    return out


def _csv_line_cells(line: str, file: str, number: int) -> List[str]:
    cells = csv_cells(line)
    if cells is None:
        raise FileError(
            file, number, "unterminated_string", "a quoted cell without its closing quote"
        )
    return cells


def _csv_table(t: TextFile, partial: bool) -> _Table:
    out, columns, width = _Table(), None, 0
    for i in range(_usable(t, partial)):
        line = t.lines[i]
        if not line.strip(" \t"):
            continue
        if line[0] == "#":
            cells = (
                _csv_line_cells(line[1:], t.name, i + 1)
                if columns is None and _CSV_KEYWORD.match(line)
                else []
            )
            if len(cells) == 2:
                attr = next((a for n, a, *_ in _HEADER if n == cells[0]), None)
                if attr:
                    setattr(out.header, attr, cells[1])
                if cells[0] == _SETS:
                    out.sets = parse_count(cells[1])
                    if out.sets is None:
                        raise FileError(t.name, i + 1, "not_a_number", f"{_SETS} needs a count")
            continue
        cells = _csv_line_cells(line, t.name, i + 1)
        if columns is None:
            columns, width = _columns(cells, t.name, i + 1, False), len(cells)
        else:
            if len(cells) != width:
                raise FileError(
                    t.name, i + 1, "field_count", f"a row of {len(cells)} cells, {width} fields"
                )
            out.rows.append({name: cells[c] for name, c in columns.items()})
            out.lines.append(i + 1)
        out.resume_from = t.ends[i]
    if columns is None:
        raise FileError(
            t.name, _usable(t, partial), "truncated", "the file ends before its field names"
        )
    return out


class _Number(str):
    """A JSON number as written (a drive value's percent text must reach
    parse_percent digit for digit)."""


def _no_constant(text: str):
    raise ValueError(f"{text} is not a JSON value")


def _json_object(line: str, file: str, number: int) -> dict:
    try:
        j = json.loads(line, parse_float=_Number, parse_int=_Number, parse_constant=_no_constant)
    except ValueError as e:
        raise FileError(file, number, "syntax", f"not JSON: {e}") from None
    if not isinstance(j, dict) or any(isinstance(v, (dict, list)) for v in j.values()):
        raise FileError(file, number, "syntax", "a flat JSON object per line")
    return j


def _json_cells(line: str, file: str, number: int) -> dict:
    cells = {}
    for key, value in _json_object(line, file, number).items():
        kind = next((f[1] for f in _FIELDS if f[0] == key), None)
        if kind is None:
            raise FileError(file, number, "unknown_field", f"unknown field {shown(key)}")
        is_number = isinstance(value, _Number)
        is_integer = is_number and _INTEGER.fullmatch(value) is not None
        fits = {"text": isinstance(value, str) and not is_number, "count": is_integer}.get(
            kind, is_number
        )
        if not fits:
            raise FileError(file, number, "not_a_number", f"{key} has a value of the wrong type")
        cells[key] = str(value)
    return cells


def _json_table(t: TextFile, partial: bool) -> _Table:
    out, header = _Table(), False
    for i in range(_usable(t, partial)):
        if not t.lines[i].strip(" \t"):
            continue
        if header:
            out.rows.append(_json_cells(t.lines[i], t.name, i + 1))
            out.lines.append(i + 1)
        else:
            for key, value in _json_object(t.lines[i], t.name, i + 1).items():
                attr = next((a for n, a, *_ in _HEADER if n == key), None)
                if attr and isinstance(value, str) and not isinstance(value, _Number):
                    setattr(out.header, attr, value)
                elif key == _SETS and isinstance(value, _Number) and parse_count(value) is not None:
                    out.sets = parse_count(value)
                else:
                    raise FileError(
                        t.name,
                        i + 1,
                        "syntax",
                        f"header entry {shown(key)} unknown or of the wrong type",
                    )
            header = True
        out.resume_from = t.ends[i]
    if not header:
        raise FileError(t.name, _usable(t, partial), "truncated", "the file ends before its header")
    return out


def _measurements(t: TextFile, partial: bool) -> MeasurementFile:
    fmt = detect_format(t)
    tab = {"cgats": _cgats_table, "csv": _csv_table, "json": _json_table}[fmt](t, partial)
    readings, ids = [], set()
    for i, (cells, line) in enumerate(zip(tab.rows, tab.lines)):
        readings.append(_reading(cells, t.name, line))
        if readings[-1].id in ids:
            raise FileError(
                t.name, line, "duplicate_id", f"SAMPLE_ID {shown(readings[-1].id)} appears twice"
            )
        ids.add(readings[-1].id)
        if tab.sets is not None and i >= tab.sets:
            raise FileError(
                t.name, line, "set_count", f"more rows than NUMBER_OF_SETS ({tab.sets})"
            )
    if tab.sets is None and partial:
        raise FileError(t.name, len(t.lines), "missing_field", "no NUMBER_OF_SETS")
    tab.header.number_of_sets = len(readings) if tab.sets is None else tab.sets
    complete = tab.ended and len(readings) == tab.header.number_of_sets
    if not complete and not partial:
        raise FileError(
            t.name,
            len(t.lines),
            "set_count",
            f"NUMBER_OF_SETS is {tab.header.number_of_sets} but {len(readings)} rows "
            "came (an interrupted run?)",
        )
    return MeasurementFile(fmt, tab.header, readings, complete, tab.resume_from)


def read(path) -> MeasurementFile:
    """A measurement file of any of the three formats. SAMPLE_ID, RGB_R/G/B
    and XYZ_X/Y/Z are needed; without SAMPLE_NAME the names are empty,
    without STDEV_* the deviations 0, without READINGS n is 1."""
    return _measurements(read_text(path), False)


def read_partial(path) -> MeasurementFile:
    """A file of an interrupted run, cut anywhere after its header:
    ``complete`` and ``len(readings)`` tell how far it got."""
    return _measurements(read_text(path), True)


# ---- Writing ------------------------------------------------------------------


def _cgats_header(h: Header) -> str:
    s = (
        "CGATS.17\n"
        "# ca410 measurements: XYZ absolute (Y in cd/m2), RGB drive values in percent,\n"
        "# STDEV_X/Y/Z the sample standard deviation of READINGS readings\n"
    )
    for name, attr, declared, _ in _HEADER:
        s += (f'KEYWORD "{name}"\n' if declared else "") + f'{name} "{getattr(h, attr)}"\n'
    s += 'KEYWORD "NORMALIZED_TO_Y_100"\nNORMALIZED_TO_Y_100 "NO"\n'
    s += "".join(f'KEYWORD "{n}"\n' for n in _FIELD_NAMES if not is_standard_field(n))
    return (
        s + f"NUMBER_OF_FIELDS {len(_FIELDS)}\nBEGIN_DATA_FORMAT\n{' '.join(_FIELD_NAMES)}\n"
        f"END_DATA_FORMAT\n{_SETS} {h.number_of_sets}\nBEGIN_DATA\n"
    )


def _cgats_row(r: Reading) -> str:
    return (
        " ".join(f'"{_cell_text(r, f)}"' if f[1] == "text" else _cell_text(r, f) for f in _FIELDS)
        + "\n"
    )


def _csv_header(h: Header) -> str:
    s = "".join(f"#{name},{csv_cell(getattr(h, attr))}\n" for name, attr, *_ in _HEADER)
    return s + f"#{_SETS},{h.number_of_sets}\n" + ",".join(_FIELD_NAMES) + "\n"


def _csv_row(r: Reading) -> str:
    return (
        ",".join(
            csv_cell(_cell_text(r, f)) if f[1] == "text" else _cell_text(r, f) for f in _FIELDS
        )
        + "\n"
    )


def _json_string(text: str) -> str:
    return json.dumps(text, ensure_ascii=False)


def _json_header(h: Header) -> str:
    s = "".join(
        f"{_json_string(name)}: {_json_string(getattr(h, attr))}, " for name, attr, *_ in _HEADER
    )
    return "{" + s + f'"{_SETS}": {h.number_of_sets}' + "}\n"


def _json_row(r: Reading) -> str:
    return (
        "{"
        + ", ".join(
            f"{_json_string(f[0])}: "
            + (_json_string(_cell_text(r, f)) if f[1] == "text" else _cell_text(r, f))
            for f in _FIELDS
        )
        + "}\n"
    )


# format: header writer, row writer, end, carries double quotes.
_BACKENDS = {
    "cgats": (_cgats_header, _cgats_row, "END_DATA\n", False),
    "csv": (_csv_header, _csv_row, "", True),
    "json": (_json_header, _json_row, "", True),
}


def _check_text(path: str, what: str, text: str, fmt: str):
    if any(ord(c) < 0x20 or c == "\x7f" for c in text):
        raise FileError(path, 0, "syntax", f"{what} {shown(text)} holds a control character")
    if not _BACKENDS[fmt][3] and '"' in text:
        raise FileError(
            path,
            0,
            "syntax",
            f"{what} {shown(text)} holds a double quote, which CGATS cannot carry",
        )
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        raise FileError(path, 0, "syntax", f"{what} {shown(text)} is not UTF-8") from None


def _filled(h: Header, patches: Sequence) -> Header:
    from . import __version__
    from datetime import datetime, timezone

    now = datetime.now(timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    return Header(
        h.originator or f"ca410 {__version__}",
        h.created or now,
        h.instrumentation,
        h.descriptor,
        h.patch_set,
        len(patches),
    )


_SAME_DRIVE = 1e-9


def _same_patch(r, p) -> bool:
    return r.id == p.id and all(abs(a - b) <= _SAME_DRIVE for a, b in zip(r.rgb, p.rgb))


def differences(recorded: MeasurementFile, run: Header, patches: Sequence) -> List[str]:
    """What differs between a partial file and the run that would go on with
    it, one line each; empty when it may resume (the creation time aside)."""
    planned, out = _filled(run, patches), []
    for name, attr, _, compared in _HEADER:
        if compared and getattr(recorded.header, attr) != getattr(planned, attr):
            out.append(
                f"{name}: the file has {shown(getattr(recorded.header, attr))}, "
                f"this run {shown(getattr(planned, attr))}"
            )
    if recorded.header.number_of_sets != planned.number_of_sets:
        out.append(
            f"{_SETS}: the file has {recorded.header.number_of_sets}, this run {planned.number_of_sets}"
        )
    for i, (r, p) in enumerate(zip(recorded.readings, patches)):
        if not _same_patch(r, p):
            drive = lambda rgb: " ".join(map(percent_text, rgb)) + " %"  # noqa: E731
            out.append(
                f"patch {i + 1}: the file has {shown(r.id)} ({drive(r.rgb)}), "
                f"this run {shown(p.id)} ({drive(p.rgb)})"
            )
    return out


class Writer:
    """Writes a measurement file patch by patch, each row flushed; the rows
    come in the order of ``patches`` (objects with ``id``, ``name``, ``rgb``).

        with cgats.Writer("out.cgats", "cgats", header, patches) as w:
            for reading in ...: w.append(reading)
    """

    def __init__(self, path, format: str, header: Header, patches: Sequence):
        if format not in _BACKENDS:
            raise ValueError(f"format {format!r}: one of {', '.join(FORMATS)}")
        self.path, self.format, self.patches = os.fspath(path), format, list(patches)
        self.header, self.next = _filled(header, self.patches), 0
        for name, attr, *_ in _HEADER:
            _check_text(self.path, name, getattr(self.header, attr), format)
        for p in self.patches:
            _check_text(self.path, "SAMPLE_ID", p.id, format)
            _check_text(self.path, "SAMPLE_NAME", p.name, format)
        try:
            self._file: Optional[IO[bytes]] = open(self.path, "wb")
        except OSError as e:
            raise FileError(self.path, 0, "io", f"cannot open: {e.strerror}") from None
        self._put(_BACKENDS[format][0](self.header))

    def _put(self, text: str):
        try:
            self._file.write(text.encode("utf-8"))
            self._file.flush()
        except OSError as e:
            raise FileError(self.path, 0, "io", f"cannot write: {e.strerror}") from None

    def append(self, reading: Reading):
        if (
            self._file is None
            or self.next >= len(self.patches)
            or not _same_patch(reading, self.patches[self.next])
        ):
            raise ValueError(f"a reading of {shown(reading.id)} where the patch list has none")
        if not all(map(math.isfinite, (*reading.xyz, *reading.sd))) or reading.n < 1:
            raise ValueError(f"reading of {shown(reading.id)} without finite values or readings")
        p = self.patches[self.next]
        row = Reading(p.id, p.name, tuple(p.rgb), tuple(reading.xyz), tuple(reading.sd), reading.n)
        self._put(_BACKENDS[self.format][1](row))
        self.next += 1

    def finish(self):
        if self._file is None:
            return
        if self.next != len(self.patches):
            raise ValueError(f"finish after {self.next} of {len(self.patches)} patches")
        self._put(_BACKENDS[self.format][2])
        self.close()

    def close(self):
        """Closes without finishing: the file stays as an interrupted run's."""
        if self._file is not None:
            self._file.close()
            self._file = None

    def __enter__(self) -> "Writer":
        return self

    def __exit__(self, kind, *_):
        if kind is None:
            self.finish()
        self.close()


def write(
    path, readings: Iterable[Reading], header: Optional[Header] = None, format: str = "cgats"
):
    """Writes a whole measurement file (the patch list is the readings')."""
    readings = list(readings)
    with Writer(path, format, header or Header(), readings) as w:
        for r in readings:
            w.append(r)
