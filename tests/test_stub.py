"""The shipped type stub describes the module as it is."""
import os
import subprocess
import sys
from pathlib import Path

import pytest

STUBS = Path(__file__).resolve().parents[1] / "python"


def test_stub_matches_the_module():
    pytest.importorskip("mypy.stubtest")
    env = dict(os.environ, MYPYPATH=str(STUBS))
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "kavrel"],
                            capture_output=True, text=True, env=env)
    assert result.returncode == 0, result.stdout + result.stderr
