"""Instrument.sequence against the virtual instrument (CA410_SIM, CA410_LIBRARY_DIR),
and the file `ca410 sequence` writes (CA410_CLI) read by the package."""

import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # this checkout's package

import ca410  # noqa: E402
from ca410 import cgats, patches  # noqa: E402
from ca410.sim import VirtualInstrument  # noqa: E402
from test_ca410 import FAST, program  # noqa: E402

pandas = pytest.importorskip("pandas", reason="SKIPPED: pandas (python3-pandas) is not installed")
COLUMNS = ["id", "name", "R", "G", "B", "X", "Y", "Z", "sd_X", "sd_Y", "sd_Z", "n"]


@pytest.fixture
def sim():
    with VirtualInstrument(program("CA410_SIM", "ca410-sim program"), FAST) as s:
        yield s


@pytest.fixture
def ins(sim):
    with ca410.Instrument(sim.port) as i:
        yield i  # not initialised: sequence() does it


def test_grey_ramp_into_a_data_frame_and_a_file(ins, sim, tmp_path, monkeypatch):
    monkeypatch.setenv("SOURCE_DATE_EPOCH", "1700000000")
    shown = []
    table = ins.sequence("grey:5", lambda p: shown.append(sim.show(*p.rgb)), settle=0, repeat=2,
                         out=tmp_path / "grey.csv")
    assert list(table.columns) == COLUMNS
    assert list(table["id"]) == [p.id for p in patches.builtin("grey:5")]
    assert list(table["n"]) == [2] * 5 and not table[["sd_X", "sd_Y", "sd_Z"]].any().any()
    flat = [v for xyz in shown for v in xyz]  # as the control socket answers: 5 decimals
    assert table[["X", "Y", "Z"]].values.ravel().tolist() == pytest.approx(flat, abs=1e-5)
    assert table["Y"].tolist() == pytest.approx([100 * v ** 2.2 for v in table["R"]], abs=1e-5)
    m = cgats.read(tmp_path / "grey.csv")
    assert (m.format, m.header.created, m.header.instrumentation, m.header.patch_set) == (
        "csv", "2023-11-14T22:13:20Z", "CA-410 SIM S/N 41000001", "grey:5")
    assert pandas.DataFrame(m.to_records()).equals(table)


def test_patches_as_tuples_and_refusals(ins, sim):
    table = ins.sequence([(1, 0, 0), (0, 0, 1)], lambda p: sim.show(*p.rgb), settle=0)
    assert list(table["id"]) == ["1", "2"] and table["X"].tolist() == pytest.approx([41.24, 18.05])
    for bad, error in (([(1, 2, 0)], "patch 1: (1, 2, 0) is not three drive levels 0 to 1"),
                       ([], "no patches"), ("grey:1", "the steps are 2 to 4096")):
        with pytest.raises(ValueError, match=error.replace("(", r"\(").replace(")", r"\)")):
            ins.sequence(bad, lambda p: pytest.fail("shown"), settle=0)
    with pytest.raises(ValueError, match="give format="):
        ins.sequence("grey:3", lambda p: pytest.fail("shown"), out="x.dat")


def test_the_tools_full_run_read_by_the_package(tmp_path):
    out = tmp_path / "run.ti3"
    subprocess.run([program("CA410_CLI", "ca410 tool"), "sequence", "--sim", "--patches", "full",
                    "--out", out], check=True, capture_output=True)
    m = cgats.read(out)
    assert m.complete and [r.id for r in m.readings] == [p.id for p in patches.builtin("full")]
    white = next(r for r in m.readings if r.rgb == (1, 1, 1))
    assert white.xyz == pytest.approx((95.05, 100.0, 108.9), abs=1e-5)
