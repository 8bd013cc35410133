"""Builds the Python package respmat with the project's own CMake build of the module.

The metadata is in pyproject.toml; this file adds what it cannot hold: the version,
read from the project() call of CMakeLists.txt, its one home, and the extension
_respmat, which CMake builds (target respmat_python) for the interpreter running this
file, so the wheel fits the Python that pip installs into. The same build makes the
tool (target respmat), which goes into the package as respmat/bin/respmat: the
`respmat` command that pip installs runs it.

Everything the build makes goes to a scratch folder that is removed afterwards, so
a build leaves nothing in the source tree.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE_DIR = Path(__file__).resolve().parent


def project_version():
    text = (SOURCE_DIR / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"^project\(respmat\s+VERSION\s+([0-9][0-9.]*)", text, re.MULTILINE)
    if not found:
        raise RuntimeError("CMakeLists.txt names no version in its project() call")
    return found.group(1)


class CMakeBuild(build_ext):
    """Configures the project with the module alone and builds target respmat_python."""

    def build_extension(self, ext):
        cmake = shutil.which("cmake")
        if cmake is None:
            raise RuntimeError("building respmat needs CMake 3.25 or later on PATH")
        build_dir = Path(self.build_temp).resolve() / "cmake"
        configure = [
            cmake, "-S", str(SOURCE_DIR), "-B", str(build_dir),
            "-DRESPMAT_PYTHON=ON", "-DRESPMAT_TESTS=OFF", "-DRESPMAT_INSTALL=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}",
            "-DCMAKE_BUILD_TYPE=Release",
        ]
        if "CMAKE_GENERATOR" not in os.environ and shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        build = [cmake, "--build", str(build_dir), "--target", "respmat_python", "respmat"]
        # CMake reads CMAKE_BUILD_PARALLEL_LEVEL itself; otherwise one job per core
        # (`--parallel` without a number lets make start jobs without bound).
        if "CMAKE_BUILD_PARALLEL_LEVEL" not in os.environ:
            build += ["--parallel", str(self.parallel or os.cpu_count() or 1)]
        subprocess.run(configure, check=True)
        subprocess.run(build, check=True)

        # CMake names the module for the interpreter it was given; a name this one
        # does not import (another Python's suffix) must not reach the wheel.
        target = Path(self.get_ext_fullpath(ext.name))
        built = build_dir / "python" / "respmat" / target.name
        if not built.is_file():
            found = sorted(p.name for p in built.parent.glob("_respmat*"))
            raise RuntimeError(f"CMake built {found or 'no module'}, but {sys.executable} imports {target.name}")
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)
        shutil.copymode(built, target)
        tool = target.parent / "bin" / "respmat"
        tool.parent.mkdir(exist_ok=True)
        shutil.copyfile(build_dir / "app" / "respmat", tool)
        shutil.copymode(build_dir / "app" / "respmat", tool)


with tempfile.TemporaryDirectory(prefix="respmat-build-") as scratch:
    setup(
        version=project_version(),
        ext_modules=[Extension("respmat._respmat", sources=[])],
        cmdclass={"build_ext": CMakeBuild},
        # Options given on the command line still take precedence.
        options={"build": {"build_base": scratch}, "egg_info": {"egg_base": scratch}},
    )
