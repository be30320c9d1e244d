"""Builds the zelt Python package through CMake for `pip install .`.

The pybind11 module and the four shared libraries it links (zelt_app, zelt,
zelt_link, obdcore) are built in build/python-package and placed inside the
package, each finding the others beside it ($ORIGIN), with the trouble code
titles, so the installed package needs nothing else of the source tree.
"""

import glob
import os
import shutil
import subprocess
import sys

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

ROOT = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.join(ROOT, "build", "python-package")


class BuildWithCMake(build_py):
    """Copies the Python files, then builds and adds the compiled module."""

    def run(self):
        super().run()
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        subprocess.check_call(
            ["cmake", "-S", ROOT, "-B", BUILD, *generator,
             "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
             "-DPython_EXECUTABLE=" + sys.executable,
             "-DZELT_BUILD_TESTS=OFF", "-DZELT_BUILD_BENCH=OFF",
             "-DZELT_PYTHON_BUNDLE=ON"])
        subprocess.check_call(["cmake", "--build", BUILD, "--target", "zelt_python",
                               "-j", str(os.cpu_count() or 1)])
        package = os.path.join(self.build_lib, "zelt")
        os.makedirs(package, exist_ok=True)
        built = glob.glob(os.path.join(BUILD, "python", "zelt", "_zelt*"))
        # The libraries under their sonames, the names the module asks for.
        built += glob.glob(os.path.join(BUILD, "lib", "lib*.so.[0-9]"))
        for path in built:
            shutil.copyfile(path, os.path.join(package, os.path.basename(path)))
        # The trouble code titles, under their own licence (its text beside
        # them); the package points the core at them on import.
        titles = os.path.join(ROOT, "data", "trouble-codes")
        shutil.copyfile(os.path.join(titles, "generic-trouble-codes.tsv"),
                        os.path.join(package, "generic-trouble-codes.tsv"))
        for name in ("COPYING", "GPL-2"):
            shutil.copyfile(os.path.join(titles, name),
                            os.path.join(package, "generic-trouble-codes." + name))


class BinaryDistribution(Distribution):
    """The package holds a compiled module: its wheel is for this platform."""

    def has_ext_modules(self):
        return True


setup(cmdclass={"build_py": BuildWithCMake}, distclass=BinaryDistribution)
