"""ca410.cgats and ca410.patches against the files and the table the tool's
tests read too (tests/data/cgats): the same verdicts, the same bytes written,
bit-exact round trips, every cut of a partial file."""

import math
import random
import struct
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # this checkout's package

from ca410 import cgats, patches  # noqa: E402
from ca410.cgats import FileError, Header, Reading  # noqa: E402

DATA = Path(__file__).resolve().parents[3] / "tests" / "data" / "cgats"
EXTENSIONS = {"cgats": "cgats", "csv": "csv", "json": "jsonl"}
HEADER = Header(
    "ca410 0.1.0",
    "2024-05-17T08:30:00Z",
    "CA-410 S/N 12345678",
    "panel A, after 30 min warm-up",
    "test:3",
)
BLUE_SKY = (98 / 255, 122 / 255, 157 / 255)
READINGS = [
    Reading("N1", "grey 0%", (0.0, 0.0, 0.0), (0.1 + 0.2, 1e-5, 0.0123), (0.0, 0.0, 0.0), 5),
    Reading(
        "R50", "red 50%", (0.5, 0.0, 0.0), (20.57, 10.603, 0.96423), (0.0125, 0.00875, 1.5e-4), 5
    ),
    Reading(
        "CC03", "blue sky", BLUE_SKY, (17.123456789012345, 19.98, 34567.8), (2.5e-3, 0.003, 12.0), 5
    ),
]


def bits(values):
    return [struct.pack("<d", v) for v in values]


def table():
    for line in (DATA / "expected.txt").read_text().splitlines():
        if line and not line.startswith("#"):
            file, reader, number, result = line.split()
            yield file, reader, int(number), result


REFERENCE = {
    "measurements": cgats.read(DATA / "good/ours.cgats").readings,
    "patches": patches.read_file(DATA / "patches/float.csv"),
}


@pytest.mark.parametrize("file,reader,number,result", list(table()))
def test_reads_as_the_shared_table_says(file, reader, number, result):
    read = (lambda f: cgats.read(f).readings) if reader == "measurements" else patches.read_file
    if result not in ("ok", "values"):
        with pytest.raises(FileError) as e:
            read(DATA / file)
        assert (e.value.problem, e.value.line) == (result, number), str(e.value)
        assert str(e.value).startswith(f"{DATA / file}{f':{number}' if number else ''}: ")
        return
    got, want = read(DATA / file), REFERENCE[reader]
    assert [bits(g.rgb) for g in got] == [bits(w.rgb) for w in want]
    if reader == "measurements":
        assert [bits(g.xyz) for g in got] == [bits(w.xyz) for w in want]
    if result == "ok":
        assert got == want


def test_reference_is_the_run_written():
    assert REFERENCE["measurements"] == READINGS


@pytest.mark.parametrize("fmt", cgats.FORMATS)
def test_writes_the_same_bytes_as_the_tool(tmp_path, fmt):
    path = tmp_path / f"ours.{EXTENSIONS[fmt]}"
    cgats.write(path, READINGS, HEADER, fmt)
    assert path.read_bytes() == (DATA / f"good/ours.{EXTENSIONS[fmt]}").read_bytes()


def random_finite(rng):
    while True:
        v = struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]
        if math.isfinite(v):
            return v


@pytest.mark.parametrize("fmt", cgats.FORMATS)
def test_round_trips_every_float_bit_for_bit(tmp_path, fmt):
    rng = random.Random(20240517)
    drives = [
        lambda: rng.randrange(256) / 255,
        lambda: rng.randrange(65536) / 65535,
        lambda: rng.getrandbits(53) / 2**53,
    ]
    readings = [
        Reading(
            f"P{i}",
            f"patch no. {i}" + (', "quoted"' if fmt != "cgats" else ""),
            tuple(drives[(i + c) % 3]() for c in range(3)),
            tuple(random_finite(rng) for _ in range(3)),
            tuple(abs(random_finite(rng)) for _ in range(3)),
            rng.randrange(1, 1000),
        )
        for i in range(300)
    ]
    cgats.write(tmp_path / "round", readings, HEADER, fmt)
    got = cgats.read(tmp_path / "round").readings
    assert [bits(r.rgb + r.xyz + r.sd) for r in got] == [
        bits(r.rgb + r.xyz + r.sd) for r in readings
    ]
    assert [(r.id, r.name, r.n) for r in got] == [(r.id, r.name, r.n) for r in readings]


@pytest.mark.parametrize(
    "fmt,first_row", [("cgats", b"BEGIN_DATA\n"), ("csv", b"READINGS\n"), ("json", b"}\n")]
)
def test_partial_read_keeps_the_complete_rows_of_every_cut(tmp_path, fmt, first_row):
    whole = (DATA / f"good/ours.{EXTENSIONS[fmt]}").read_bytes()
    start = whole.index(first_row) + len(first_row)
    for cut in range(len(whole) + 1):
        path = tmp_path / f"cut{cut}"
        path.write_bytes(whole[:cut])
        if cut < start:
            with pytest.raises(FileError) as e:
                cgats.read_partial(path)
            assert e.value.problem == "truncated", cut
            continue
        m = cgats.read_partial(path)
        assert len(m.readings) == min(whole[start:cut].count(b"\n"), 3), cut
        assert m.readings == READINGS[: len(m.readings)]
        assert m.complete == (cut == len(whole) if fmt == "cgats" else len(m.readings) == 3)


def test_differences_name_what_keeps_a_run_from_resuming(tmp_path):
    whole = (DATA / "good/ours.cgats").read_bytes()
    (tmp_path / "partial").write_bytes(whole[: whole.index(b'"CC03"')])
    m = cgats.read_partial(tmp_path / "partial")
    assert cgats.differences(m, HEADER, READINGS) == []
    other = Header(**{**HEADER.__dict__, "instrumentation": "CA-410 S/N 87654321", "created": "x"})
    changed = READINGS[:1] + [patches.Patch("R50", "", (0.6, 0, 0)), READINGS[2], READINGS[0]]
    assert cgats.differences(m, other, changed) == [
        'INSTRUMENTATION: the file has "CA-410 S/N 12345678", this run "CA-410 S/N 87654321"',
        "NUMBER_OF_SETS: the file has 3, this run 4",
        'patch 2: the file has "R50" (50 0 0 %), this run "R50" (60 0 0 %)',
    ]


def test_refuses_what_a_format_cannot_carry(tmp_path):
    for fmt, descriptor in [("cgats", 'a "quoted" word'), ("csv", "two\nlines")]:
        with pytest.raises(FileError, match="DESCRIPTOR"):
            cgats.write(tmp_path / fmt, READINGS, Header(descriptor=descriptor), fmt)
        assert not (tmp_path / fmt).exists()
    with cgats.Writer(tmp_path / "w", "csv", Header(), READINGS) as w:
        assert w.header.originator.startswith("ca410 ") and len(w.header.created) == 20
        with pytest.raises(ValueError):
            w.append(READINGS[1])  # out of order
        w.close()


def test_refuses_endless_input_quickly():
    with pytest.raises(FileError) as e:
        cgats.read("/dev/zero")
    assert (e.value.problem, e.value.line) == ("line_too_long", 1)


def test_builtin_sets_are_the_shared_reference():
    reference = {}
    for line in (DATA / "patch_sets.csv").read_text().splitlines()[3:]:
        name, pid, label, *rgb = cgats.csv_cells(line)
        reference.setdefault(name, []).append(patches.Patch(pid, label, tuple(map(float, rgb))))
    assert len(reference) == 2
    for name, want in reference.items():
        assert [(p.id, p.name, bits(p.rgb)) for p in patches.builtin(name)] == [
            (p.id, p.name, bits(p.rgb)) for p in want
        ]
    assert len(patches.load("full")) == 11 + 24 + 24
    for bad in ("grey:1", "grey:4097", "grey:", "grey:+5", "checker:24", "gray"):
        with pytest.raises(ValueError):
            patches.builtin(bad)
