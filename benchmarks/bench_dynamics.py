"""Median per-call times of the dynamics functions, argument conversion and result array included.

Robots as in bench_kinematics.py (every body of the two built models is given a mass), then the
benchmark robot descriptions. The first row, a model without joints, is the cost of the call itself.

Run: python3 benchmarks/bench_dynamics.py [--quick]
"""
import sys

import numpy as np

import kavrel
from bench_kinematics import per_call_us, robots

CALLS = [
    ("rnea", "kavrel.rnea(model, data, q, v, a)"),
    ("crba", "kavrel.crba(model, data, q)"),
    ("nle", "kavrel.non_linear_effects(model, data, q, v)"),
    ("gravity", "kavrel.compute_gravity(model, data, q)"),
    ("coriolis", "kavrel.computeCoriolisMatrix(model, data, q, v)"),
    ("allterms", "kavrel.computeAllTerms(model, data, q, v)"),
]


def with_masses(model, rng):
    for i in range(1, model.njoints):
        if model.get_body_inertia(i)[0] == 0.0:
            model.set_body_inertia(i, rng.uniform(0.5, 2.0), rng.uniform(-0.1, 0.1, 3), np.diag(rng.uniform(0.01, 0.1, 3)))
    return model


def measure(model, quick):
    rng = np.random.default_rng(2)
    with_masses(model, rng)
    q = kavrel.integrate(model, kavrel.neutral(model), rng.normal(size=model.nv))
    v, a = rng.normal(size=model.nv), rng.normal(size=model.nv)
    namespace = dict(kavrel=kavrel, model=model, data=model.createData(), q=q, v=v, a=a)
    return [per_call_us(statement, namespace, quick) for _, statement in CALLS]


def main():
    quick = "--quick" in sys.argv
    print("median microseconds per call")
    print(f"{'robot':<22}{'nv':>4}" + "".join(f"{name:>10}" for name, _ in CALLS))
    for name, model in robots():
        times = measure(model, quick)
        print(f"{name:<22}{model.nv:>4}" + "".join(f"{t:>10.2f}" for t in times))


if __name__ == "__main__":
    main()
