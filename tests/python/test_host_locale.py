"""A Python host that sets a locale with a decimal comma (as GUI toolkits do
at start-up) measures and calibrates with points all the same. Here, not in
the package's own tests: the package never touches the locale, a host may."""

import locale
import os
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bindings" / "python"))

import ca410  # noqa: E402
from ca410.sim import VirtualInstrument  # noqa: E402

LEVELS = {"white": (1, 1, 1), "red": (1, 0, 0), "green": (0, 1, 0), "blue": (0, 0, 1)}


@pytest.fixture
def comma_locale():
    saved = locale.setlocale(locale.LC_ALL)
    for name in ("de_DE.UTF-8", "fr_FR.UTF-8"):
        try:
            locale.setlocale(locale.LC_ALL, name)
            break
        except locale.Error:
            continue
    else:
        pytest.skip("SKIPPED: no de_DE.UTF-8 or fr_FR.UTF-8 locale (scripts/install-deps)")
    yield
    locale.setlocale(locale.LC_ALL, saved)


def test_a_comma_locale_changes_no_number(comma_locale):
    sim_program = os.environ.get("CA410_SIM")
    if not sim_program:
        pytest.skip("SKIPPED: CA410_SIM does not name the ca410-sim program")
    with VirtualInstrument(sim_program, ["--zrc-ms", "20", "--measure-ms", "5"]) as sim:
        sim.control("show-xyz 95.05 100 108.9")
        with ca410.Instrument(sim.port) as ins:
            ins.init()
            assert ins.measure().xyz == (95.05, 100.0, 108.9)
            targets = [(95.05, 100, 108.9), (41.24, 21.26, 1.93), (35.76, 71.52, 11.92),
                       (18.05, 7.22, 95.05)]
            ins.calibrate(8, targets, lambda c: sim.show(*LEVELS[c]), name="komma")
            assert ins.calfile(8).targets == tuple(targets)
