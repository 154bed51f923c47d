"""Builds the package with what the repository states once: the version
(include/ca410_version.h) and the licence (LICENSE, whose first line names
it). An sdist carries copies of the two, so that it builds on its own.

With CA410_LIBRARY_DIR set at build time (for example to a CMake build
directory), its libca410 and libca410_colour (or ca410.dll and
ca410_colour.dll) are copied beside the package's files, where the package
looks for them; otherwise the package is pure Python and finds the
libraries at run time.
"""

import os
import re
import shutil
import sys
from pathlib import Path

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py
from setuptools.command.sdist import sdist

HERE = Path(__file__).resolve().parent
REPO = HERE.parents[1]
# In the repository, and as the sdist carries them.
SHARED = {"include/ca410_version.h": "ca410_version.h", "LICENSE": "LICENSE"}


def shared_file(in_repo: str) -> Path:
    for path in (REPO / in_repo, HERE / SHARED[in_repo]):
        if path.is_file():
            return path
    raise SystemExit(f"{in_repo} not found: build from the repository or from its sdist")


def version() -> str:
    text = shared_file("include/ca410_version.h").read_text(encoding="utf-8")
    parts = [re.search(rf"^#define CA410_VERSION_{p} (\d+)$", text, re.M)
             for p in ("MAJOR", "MINOR", "PATCH")]
    if not all(parts):
        raise SystemExit("ca410_version.h lacks CA410_VERSION_MAJOR, _MINOR or _PATCH")
    return ".".join(m[1] for m in parts)


def licence_name() -> str:
    return shared_file("LICENSE").read_text(encoding="utf-8").splitlines()[0].strip()


def library_files(directory: Path):
    if sys.platform == "win32":
        names = ["ca410.dll", "ca410_colour.dll"]
    elif sys.platform == "darwin":
        names = ["libca410.dylib", "libca410_colour.dylib"]
    else:
        names = ["libca410.so", "libca410_colour.so"]
    found = [directory / n for n in names if (directory / n).is_file()]
    if len(found) != len(names):
        missing = [n for n in names if not (directory / n).is_file()]
        raise SystemExit(f"CA410_LIBRARY_DIR={directory} lacks {', '.join(missing)}")
    return found


class BuildWithLibraries(build_py):
    def run(self):
        super().run()
        if self.dry_run:
            return
        target = Path(self.build_lib) / "ca410"
        # The licence travels inside the package as well as in the metadata.
        shutil.copyfile(shared_file("LICENSE"), target / "LICENSE")
        # No copies left over from an earlier build with other libraries.
        for stale in list(target.glob("*ca410*.so*")) + list(target.glob("*.dll")) + list(
            target.glob("*.dylib")
        ):
            stale.unlink()
        source = os.environ.get("CA410_LIBRARY_DIR")
        if not source:
            return
        for lib in library_files(Path(source)):
            # Copy the file a symbolic link names, under the link's name.
            shutil.copyfile(lib.resolve(), target / lib.name)


class SdistWithSharedFiles(sdist):
    def make_release_tree(self, base_dir, files):
        super().make_release_tree(base_dir, files)
        for in_repo, in_sdist in SHARED.items():
            shutil.copyfile(shared_file(in_repo), Path(base_dir) / in_sdist)


class Dist(Distribution):
    # With the libraries inside, the wheel is for this platform only.
    def has_ext_modules(self):
        return bool(os.environ.get("CA410_LIBRARY_DIR"))


setup(
    version=version(),
    license=licence_name(),
    cmdclass={"build_py": BuildWithLibraries, "sdist": SdistWithSharedFiles},
    distclass=Dist,
)
