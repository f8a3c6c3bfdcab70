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


def chain(n):
    links = "".join(f'<link name="l{i}"/>' for i in range(n + 1))
    joints = "".join(f'<joint name="j{i}" type="revolute"><parent link="l{i}"/><child link="l{i + 1}"/></joint>'
                     for i in range(n))
    return f'<robot name="chain">{links}{joints}</robot>'


def chain_scaling(repeat):
    """Import time of ever longer chains: per joint it stays flat when import is linear."""
    print(f"\n{'chain length':<26} {'median (ms)':>11} {'us per joint':>13}")
    for n in (1_000, 10_000, 100_000):
        text = chain(n)
        median = statistics.median(timeit.repeat(lambda: kavrel.parse_urdf_from_string(text),
                                                 number=1, repeat=max(3, repeat // 3)))
        print(f"{n:<26} {median * 1e3:>11.2f} {median / n * 1e6:>13.3f}")


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
    chain_scaling(args.repeat)


if __name__ == "__main__":
    main()
