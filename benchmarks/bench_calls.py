"""Per-call cost of the binding layer, against a plain builtin call.

Run: python3 benchmarks/bench_calls.py
"""
import math
import statistics
import timeit

import numpy as np

import kavrel

NUMBER = 200_000
REPEATS = 7


def per_call_ns(statement, namespace):
    timer = timeit.Timer(statement, globals=namespace)
    return statistics.median(t / NUMBER * 1e9 for t in timer.repeat(REPEATS, NUMBER))


def main():
    rotation = np.array([[0.0, -1.0, 0.0], [1.0, 0.0, 0.0], [0.0, 0.0, 1.0]])
    a = kavrel.SE3(rotation, np.array([1.0, 2.0, 3.0]))
    b = kavrel.SE3(rotation.T.copy(), np.array([-1.0, 0.5, 0.0]))
    namespace = {"a": a, "b": b, "math": math}
    baseline = per_call_ns("math.hypot(1.0, 2.0)", namespace)
    rows = [("math.hypot(1.0, 2.0)", baseline, None)]
    for label, statement, target in [
        ("SE3.compose", "a.compose(b)", 4.0),
        ("SE3.inverse", "a.inverse()", 4.0),
        ("SE3.to_homogeneous", "a.to_homogeneous()", 8.0),
    ]:
        rows.append((label, per_call_ns(statement, namespace), target))
    print(f"{'call':<24}{'ns/call':>10}{'x baseline':>12}{'target':>10}")
    for label, ns, target in rows:
        ratio = ns / baseline
        print(f"{label:<24}{ns:>10.1f}{ratio:>12.2f}{'' if target is None else f'<= {target:g}x':>10}")


if __name__ == "__main__":
    main()
