"""The shipped type stub describes the module as it is, and mypy finds it once installed."""
import os
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

STUBS = Path(__file__).resolve().parents[1] / "python"


def test_stub_matches_the_module():
    pytest.importorskip("mypy.stubtest")
    env = dict(os.environ, MYPYPATH=str(STUBS))
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "kavrel"],
                            capture_output=True, text=True, env=env)
    assert result.returncode == 0, result.stdout + result.stderr


USER_SCRIPT = '''\
import numpy as np
import numpy.typing as npt

import kavrel

model = kavrel.parse_urdf_from_string("<robot name='r'><link name='base'/></robot>")
data = model.createData()
kavrel.forwardKinematics(model, data, kavrel.neutral(model))
pose: kavrel.SE3 = kavrel.getFramePlacement(model, data, 0) * kavrel.SE3.identity()
error: npt.NDArray[np.float64] = pose.log()
names: list[str] = model.frame_names
planted: str = model.nq
'''


def test_installed_stub_is_read_by_mypy(tmp_path):
    """The wheel that scripts/setup.sh left in dist/ (or the one KAVREL_WHEEL names), installed
    into a new environment, gives mypy the types of a script outside the source tree."""
    pytest.importorskip("mypy")
    wheels = [Path(os.environ["KAVREL_WHEEL"])] if os.environ.get("KAVREL_WHEEL") else \
        sorted((STUBS.parent / "dist").glob("kavrel-*.whl"))
    if not wheels:
        pytest.skip("no wheel: run scripts/setup.sh or set KAVREL_WHEEL")
    with zipfile.ZipFile(wheels[-1]) as wheel:
        shipped = wheel.read("kavrel-stubs/__init__.pyi")
    if shipped != (STUBS / "kavrel.pyi").read_bytes():
        pytest.skip(f"{wheels[-1].name} was built from other sources")
    venv = tmp_path / "venv"
    if subprocess.run([sys.executable, "-m", "venv", "--without-pip", "--system-site-packages", str(venv)]).returncode:
        pytest.skip("cannot create a virtual environment")
    python = venv / "bin" / "python"
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "MYPYPATH")}
    subprocess.run([sys.executable, "-m", "pip", "--python", str(python), "install", "-q", "--no-deps", "--no-index",
                    "--force-reinstall", "--disable-pip-version-check", str(wheels[-1])], check=True, env=env)
    (tmp_path / "user.py").write_text(USER_SCRIPT)
    result = subprocess.run([str(python), "-m", "mypy", "--cache-dir", str(tmp_path / "cache"), "user.py"],
                            cwd=tmp_path, capture_output=True, text=True, env=env)
    errors = [line for line in result.stdout.splitlines() if ": error:" in line]
    assert errors == ['user.py:12: error: Incompatible types in assignment (expression has type "int", '
                      'variable has type "str")  [assignment]'], result.stdout + result.stderr
