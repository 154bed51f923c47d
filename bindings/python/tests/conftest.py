"""The package against the virtual instrument: CA410_LIBRARY_DIR names the
built libraries' directory, CA410_SIM the ca410-sim program."""

import os
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # this checkout's package

import ca410  # noqa: E402
from ca410.sim import VirtualInstrument  # noqa: E402

REPO = Path(__file__).resolve().parents[3]
FAST = ["--zrc-ms", "20", "--measure-ms", "5"]
LEVELS = {"white": (1, 1, 1), "red": (1, 0, 0), "green": (0, 1, 0), "blue": (0, 0, 1)}


def program(variable, what):
    path = os.environ.get(variable)
    if not path or not Path(path).is_file():
        pytest.skip(f"SKIPPED: {variable} does not name the {what} ({path!r})")
    return path


@pytest.fixture(scope="session")
def sim_program():
    return program("CA410_SIM", "ca410-sim program")


@pytest.fixture
def sim(sim_program):
    with VirtualInstrument(sim_program, FAST) as s:
        yield s


@pytest.fixture
def ins(sim):
    with ca410.Instrument(sim.port) as i:
        i.init()
        yield i
