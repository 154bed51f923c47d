"""The package against the virtual instrument. CA410_LIBRARY_DIR names the
directory with the built libraries; CA410_SIM the ca410-sim program."""

import os
import sys
from pathlib import Path

import pytest

# The package from this checkout, whether or not it is installed.
sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import ca410  # noqa: E402
from ca410.sim import VirtualInstrument  # noqa: E402

REPO = Path(__file__).resolve().parents[3]
FAST = ["--zrc-ms", "20", "--measure-ms", "5"]


@pytest.fixture(scope="session")
def sim_program() -> str:
    program = os.environ.get("CA410_SIM")
    if not program or not Path(program).is_file():
        pytest.skip(f"SKIPPED: CA410_SIM does not name the ca410-sim program ({program!r})")
    return program


@pytest.fixture
def sim(sim_program):
    with VirtualInstrument(sim_program, FAST) as s:
        yield s


@pytest.fixture
def ins(sim):
    with ca410.Instrument(sim.port) as i:
        i.init()
        yield i
