"""Median per-call times of the dynamics functions, argument conversion and result array included.

Robots as in bench_kinematics.py (every body of the two built models is given a mass), then the
benchmark robot descriptions. The first row, a model without joints, is the cost of the call itself.
A second table sets the derivatives of rnea and aba against central finite differences of the
same functions from Python (4 nv calls and 2 nv steps of integrate each), with the ratios to rnea
and the speed-up over the differences.

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
    ("aba", "kavrel.aba(model, data, q, v, a)"),
    ("Minv", "kavrel.computeMinverse(model, data, q)"),
]
DERIVATIVE_CALLS = [
    ("rnea", "kavrel.rnea(model, data, q, v, a)"),
    ("rnea_d", "kavrel.rnea_derivatives(model, data, q, v, a)"),
    ("aba_d", "kavrel.aba_derivatives(model, data, q, v, a)"),
    ("rnea_fd", "central_differences(kavrel.rnea, model, data, q, v, a)"),
    ("aba_fd", "central_differences(kavrel.aba, model, data, q, v, a)"),
]


def central_differences(f, model, data, q, v, u, h=1e-6):
    """d f(q, v, u) / d(q, v) as a user gets it without the analytical derivatives."""
    n = model.nv
    by_q, by_v, step = np.empty((n, n)), np.empty((n, n)), np.zeros(n)
    for k in range(n):
        step[k] = h
        by_q[:, k] = f(model, data, kavrel.integrate(model, q, step), v, u)
        by_q[:, k] -= f(model, data, kavrel.integrate(model, q, -step), v, u)
        by_v[:, k] = f(model, data, q, v + step, u) - f(model, data, q, v - step, u)
        step[k] = 0.0
    return by_q / (2 * h), by_v / (2 * h)


def with_masses(model, rng):
    for i in range(1, model.njoints):
        if model.get_body_inertia(i)[0] == 0.0:
            model.set_body_inertia(i, rng.uniform(0.5, 2.0), rng.uniform(-0.1, 0.1, 3), np.diag(rng.uniform(0.01, 0.1, 3)))
    return model


def measure(model, quick, calls=CALLS):
    rng = np.random.default_rng(2)
    with_masses(model, rng)
    q = kavrel.integrate(model, kavrel.neutral(model), rng.normal(size=model.nv))
    v, a = rng.normal(size=model.nv), rng.normal(size=model.nv)
    namespace = dict(kavrel=kavrel, model=model, data=model.createData(), q=q, v=v, a=a,
                     central_differences=central_differences)
    return [per_call_us(statement, namespace, quick) for _, statement in calls]


def main():
    quick = "--quick" in sys.argv
    print("median microseconds per call")
    print(f"{'robot':<22}{'nv':>4}" + "".join(f"{name:>10}" for name, _ in CALLS))
    for name, model in robots():
        times = measure(model, quick)
        print(f"{name:<22}{model.nv:>4}" + "".join(f"{t:>10.2f}" for t in times))
    print("\nderivatives: median microseconds per call, then rnea_d and aba_d over rnea, and the differences over them")
    ratios = ["rnea_d/rnea", "aba_d/rnea", "fd/rnea_d", "fd/aba_d"]
    print(f"{'robot':<22}{'nv':>4}" + "".join(f"{name:>10}" for name, _ in DERIVATIVE_CALLS) +
          "".join(f"{name:>12}" for name in ratios))
    for name, model in robots():
        if model.nv == 0:
            continue
        rnea, rnea_d, aba_d, rnea_fd, aba_fd = measure(model, quick, DERIVATIVE_CALLS)
        times = (rnea, rnea_d, aba_d, rnea_fd, aba_fd)
        print(f"{name:<22}{model.nv:>4}" + "".join(f"{t:>10.2f}" for t in times) +
              "".join(f"{r:>12.1f}" for r in (rnea_d / rnea, aba_d / rnea, rnea_fd / rnea_d, aba_fd / aba_d)))


if __name__ == "__main__":
    main()
