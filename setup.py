"""The compiled module of the Python package comes from the project's CMake build, so that
pip and `make build` compile the same sources with the same options."""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def version() -> str:
    header = (ROOT / "src" / "orvelle" / "version.hpp").read_text()
    return re.search(r'version = "([^"]+)"', header).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = pathlib.Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build_dir),
            "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
            # The interpreter pip runs under, a virtual environment's too.
            f"-DPython_EXECUTABLE={sys.executable}",
        ]
        subprocess.run(configure, check=True)
        jobs = str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "_orvelle", "-j", jobs],
                       check=True)
        built = next((build_dir / "python" / "orvelle").glob("_orvelle*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


# Where the package lies is said here rather than in pyproject.toml, whose [tool.setuptools]
# table Debian's setuptools still calls beta.
setup(
    version=version(),
    packages=["orvelle"],
    package_dir={"": "python"},
    package_data={"orvelle": ["py.typed", "_orvelle.pyi"]},
    ext_modules=[Extension("orvelle._orvelle", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Apart from build/, which `make build` owns.
    options={"build": {"build_base": "build-pip"}},
)
