from pathlib import Path

import pytest

ROBOTS = Path(__file__).resolve().parents[2] / "shared" / "robots"


@pytest.fixture(scope="session")
def robots_dir():
    if not ROBOTS.is_dir():
        pytest.skip(f"robot descriptions not found at {ROBOTS}")
    return ROBOTS
