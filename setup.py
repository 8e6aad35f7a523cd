"""The wheel of the `tessamire` package, built from the project's CMake build.

pyproject.toml holds the metadata; this adds what setuptools cannot know: the version (the
project's, from CMakeLists.txt) and a build step that runs CMake's plain preset in build/ and
copies into the package the compiled module, its stub, py.typed and the plug-in folder with its
resources, where the package looks for it first.
"""

import os
import re
import shutil
import subprocess

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

ROOT = os.path.dirname(os.path.abspath(__file__))
CMAKE_BUILD = os.path.join(ROOT, "build")
# setuptools' own work goes inside CMake's build folder, out of the source tree.
SETUPTOOLS_BUILD = os.path.join("build", "setuptools")


def project_version() -> str:
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake:
        found = re.search(r"^project\(\w+ VERSION ([0-9.]+)", cmake.read(), re.MULTILINE)
    if not found:
        raise RuntimeError("CMakeLists.txt names no project version")
    return found.group(1)


class CMakeBuildPy(build_py):
    """Builds the plug-in and the compiled module with CMake, then gathers them in the package."""

    def run(self) -> None:
        super().run()
        if not os.path.exists(os.path.join(CMAKE_BUILD, "CMakeCache.txt")):
            subprocess.run(["cmake", "--preset", "plain"], cwd=ROOT, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", CMAKE_BUILD, "-j", jobs, "--target", "tessamire",
                        "tessamire_python", "tessamire_reader"], cwd=ROOT, check=True)
        package = os.path.join(self.build_lib, "tessamire")
        built = os.path.join(CMAKE_BUILD, "python", "tessamire")
        for name in os.listdir(built):
            if name.startswith("_tessamire") or name in ("__init__.pyi", "py.typed",
                                                         "tessamire-reader"):
                shutil.copy2(os.path.join(built, name), package)
        plugins = os.path.join(package, "plugins")
        shutil.rmtree(plugins, ignore_errors=True)
        shutil.copytree(os.path.join(CMAKE_BUILD, "plugins"), plugins)


class CompiledDistribution(Distribution):
    """A wheel for one platform and Python: the package holds a compiled module."""

    def has_ext_modules(self) -> bool:
        return True


os.makedirs(os.path.join(ROOT, SETUPTOOLS_BUILD), exist_ok=True)
setup(
    version=project_version(),
    packages=["tessamire"],
    package_dir={"tessamire": "python/tessamire"},
    distclass=CompiledDistribution,
    cmdclass={"build_py": CMakeBuildPy},
    zip_safe=False,
    options={"build": {"build_base": SETUPTOOLS_BUILD},
             "egg_info": {"egg_base": SETUPTOOLS_BUILD}},
)
