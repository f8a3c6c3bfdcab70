"""Runs the core's own C++ checks: behaviour that no Python call can reach."""
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]


def test_core_checks():
    if shutil.which("cmake") is None or shutil.which("ninja") is None:
        pytest.skip("cmake and ninja are needed to build the core checks")
    build = ROOT / "build" / "core-tests"
    for command in (["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                     "-DKAVREL_CORE_TESTS=ON", f"-DPython_EXECUTABLE={sys.executable}"],
                    ["cmake", "--build", str(build), "--target", "kavrel_core_tests"]):
        step = subprocess.run(command, capture_output=True, text=True)
        assert step.returncode == 0, step.stdout + step.stderr
    result = subprocess.run([str(build / "kavrel_core_tests")], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout
    assert result.stdout.endswith(" passed, 0 failed\n")
