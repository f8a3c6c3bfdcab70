"""Median time to import each robot description in the shared robots folder.

Usage: PYTHONPATH=<build dir> python3 benchmarks/bench_urdf.py [ROBOTS_DIR] [--repeat N]
"""
import argparse
import statistics
import timeit
from pathlib import Path

import kavrel

ROBOTS = Path(__file__).resolve().parents[2] / "shared" / "robots"


def import_once(path):
    try:
        kavrel.parse_urdf_file(path)
    except RuntimeError:
        pass  # refusals are timed too


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("robots", nargs="?", type=Path, default=ROBOTS)
    parser.add_argument("--repeat", type=int, default=9)
    args = parser.parse_args()
    files = sorted(args.robots.glob("*.urdf")) + sorted((args.robots / "bench").glob("*.urdf"))
    if not files:
        parser.error(f"no .urdf files in {args.robots}")
    print(f"{'robot':<26} {'size (kB)':>9} {'joints':>7} {'median (ms)':>11}")
    for path in files:
        try:
            joints = str(kavrel.parse_urdf_file(str(path)).njoints)
        except RuntimeError:
            joints = "refused"
        timer = timeit.Timer(lambda: import_once(str(path)))
        number, _ = timer.autorange()
        median = statistics.median(timer.repeat(args.repeat, number)) / number
        name = path.relative_to(args.robots).as_posix()
        print(f"{name:<26} {path.stat().st_size / 1024:>9.1f} {joints:>7} {median * 1e3:>11.3f}")


if __name__ == "__main__":
    main()
