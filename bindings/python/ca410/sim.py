"""The virtual CA-410 (``ca410-sim``) as a subprocess, for trying scripts and
for tests without an instrument (POSIX only: it serves a pseudo-terminal).

    with ca410.sim.VirtualInstrument() as sim, ca410.Instrument(sim.port) as ins:
        ins.init()
        sim.show(1, 0, 0)          # the simulated display shows full red
        print(ins.measure().x)     # about 0.64
"""

from __future__ import annotations

import os
import shutil
import socket
import subprocess
import tempfile
import time
from pathlib import Path
from typing import Optional, Sequence, Tuple, Union

__all__ = ["VirtualInstrument", "find_simulator"]


def find_simulator(path: Optional[Union[str, "os.PathLike[str]"]] = None) -> str:
    """The simulator program: `path`, else the environment variable
    ``CA410_SIM``, else ``ca410-sim`` on PATH."""
    for candidate in (path, os.environ.get("CA410_SIM"), shutil.which("ca410-sim")):
        if candidate and Path(candidate).is_file():
            return os.fspath(candidate)
    raise FileNotFoundError(
        "ca410-sim not found: pass its path, set CA410_SIM, or put it on PATH "
        "(a CMake build has it in tools/sim/)"
    )


class VirtualInstrument:
    """Starts ``ca410-sim`` with a port link and a control socket in a
    temporary directory; stops it on :meth:`stop` or leaving the ``with``.

    Args:
        program: the simulator (see :func:`find_simulator`).
        args: further options, e.g. ``["--zrc-ms", "50"]``.
        timeout: seconds to wait for the port to appear.
    """

    def __init__(
        self,
        program: Optional[Union[str, "os.PathLike[str]"]] = None,
        args: Sequence[str] = (),
        timeout: float = 10.0,
    ) -> None:
        self._dir = tempfile.TemporaryDirectory(prefix="ca410-sim-")
        self.port = os.path.join(self._dir.name, "port")
        self.control_path = os.path.join(self._dir.name, "control")
        # Its messages go to a file: a pipe nobody reads could fill and stall it.
        self.log_path = os.path.join(self._dir.name, "sim.log")
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen(
                [find_simulator(program), "--link", self.port, "--control", self.control_path,
                 *args],
                stdout=log,
                stderr=subprocess.STDOUT,
            )
        deadline = time.monotonic() + timeout
        while not (os.path.exists(self.port) and os.path.exists(self.control_path)):
            if self.process.poll() is not None:
                err = Path(self.log_path).read_text(errors="replace")
                self._dir.cleanup()
                raise RuntimeError(f"ca410-sim exited ({self.process.returncode}): {err.strip()}")
            if time.monotonic() > deadline:
                self.stop()
                raise TimeoutError("ca410-sim did not make its port in time")
            time.sleep(0.02)

    def control(self, command: str) -> str:
        """Sends one control-socket command and returns its answer line;
        raises RuntimeError on an ``error: ...`` answer."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(10.0)
            s.connect(self.control_path)
            s.sendall(command.encode() + b"\n")
            answer = b""
            while not answer.endswith(b"\n"):
                chunk = s.recv(4096)
                if not chunk:
                    break
                answer += chunk
        line = answer.decode(errors="replace").strip()
        if line.startswith("error"):
            raise RuntimeError(f"ca410-sim: {command!r}: {line}")
        return line

    def show(self, r: float, g: float, b: float) -> Tuple[float, float, float]:
        """Drives the simulated display (levels 0 to 1); returns the X, Y, Z
        it now emits."""
        answer = self.control(f"show {r} {g} {b}")
        numbers = [float(w) for w in answer.replace(",", " ").split()[1:] if _is_float(w)]
        return (numbers[-3], numbers[-2], numbers[-1]) if len(numbers) >= 3 else (0.0, 0.0, 0.0)

    def stop(self) -> None:
        """Stops the simulator and removes its files."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._dir.cleanup()

    def __enter__(self) -> "VirtualInstrument":
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()


def _is_float(word: str) -> bool:
    try:
        float(word)
    except ValueError:
        return False
    return True
