"""pip's build of the package stview: CMake builds the compiled module stview._core and the
stdetect program with the running interpreter, and both land inside the package, with the
dataset script (pip install . from a checkout; see the README)."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeExtension(Extension):
    def __init__(self, name: str) -> None:
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext: Extension) -> None:
        module = Path(self.get_ext_fullpath(ext.name)).resolve()
        build = Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build),
                        f"-DPython_EXECUTABLE={sys.executable}", "-DCMAKE_BUILD_TYPE=Release",
                        "-DSTVIEW_BUILD_TESTS=OFF"], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build), "--target", "_core", "stdetect",
                        "-j", jobs], check=True)
        module.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(next((build / "python" / "stview").glob("_core*.so")), module)
        programs = module.parent / "bin"
        programs.mkdir(exist_ok=True)
        shutil.copy2(build / "detector" / "stdetect", programs / "stdetect")
        # The dataset script names the interpreter of this install (it finds the package
        # as the folder above its own).
        script = programs / "detect-dataset.sh"
        script.write_text((ROOT / "scripts" / "detect-dataset.sh").read_text(encoding="utf-8")
                          .replace("@STVIEW_PYTHON@", sys.executable), encoding="utf-8")
        script.chmod(0o755)


setup(packages=["stview", "stview.dataset", "stview.evaluate"], package_dir={"": "python"},
      ext_modules=[CMakeExtension("stview._core")], cmdclass={"build_ext": CMakeBuild})
