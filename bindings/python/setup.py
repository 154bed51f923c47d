"""Packs the driver's shared libraries into the package when asked.

With CA410_LIBRARY_DIR set at build time (for example to a CMake build
directory), its libca410 and libca410_colour (or ca410.dll and
ca410_colour.dll) are copied beside the package's files, where the package
looks for them; otherwise the package is pure Python and finds the
libraries at run time.
"""

import os
import shutil
import sys
from pathlib import Path

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py


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


class Dist(Distribution):
    # With the libraries inside, the wheel is for this platform only.
    def has_ext_modules(self):
        return bool(os.environ.get("CA410_LIBRARY_DIR"))


setup(cmdclass={"build_py": BuildWithLibraries}, distclass=Dist)
