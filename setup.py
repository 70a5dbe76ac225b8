"""Builds the compiled part of the Python module orvane with the project's CMake.

pip runs this through pyproject.toml; the package's metadata is there.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeExtension(Extension):
    """An extension CMake builds: the target orvane_python, orvane/_orvane."""

    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DORVANE_BUILD_PYTHON=ON", "-DORVANE_BUILD_TESTS=OFF",
                        "-DORVANE_BUILD_QT=OFF", f"-DPython3_EXECUTABLE={sys.executable}"],
                       check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "orvane_python", "-j", jobs],
                       check=True)
        built = next((build / "python" / "orvane").glob("_orvane*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(ext_modules=[CMakeExtension("orvane._orvane")], cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": "build-python"}})
