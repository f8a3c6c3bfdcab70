"""Per-call cost of the binding layer, against a plain builtin call, and the cost of
Model.add_joint near the root and at depth 30,000 (it must not grow with the depth).

Run: python3 benchmarks/bench_calls.py
"""
import math
import statistics
import time
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
    add_joint_by_depth()


def add_joint_by_depth(depth=30_000, batch=2_000):
    model, axis, placement = kavrel.Model(), np.array([0.0, 0.0, 1.0]), kavrel.SE3.identity()
    costs = {}
    for start in (0, depth):
        while model.njoints - 1 < start:
            model.add_joint(model.njoints - 1, "revolute", axis, placement, "j")
        begin = time.perf_counter()
        for _ in range(batch):
            model.add_joint(model.njoints - 1, "revolute", axis, placement, "j")
        costs[start] = (time.perf_counter() - begin) / batch * 1e6
    print(f"add_joint: {costs[0]:.2f} us per joint near the root, {costs[depth]:.2f} us at depth {depth}")


if __name__ == "__main__":
    main()
