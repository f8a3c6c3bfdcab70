"""States per second of Batch against a loop of single calls.

For rnea, crba, aba, forwardKinematics and getFrameJacobian on the benchmark robots: a loop
of single calls over 10^4 states (each result dropped, so it is the cost of one call), then
Batch over N = 10^5 states with one thread and with all of them. Also prints the cost per
state with one thread as a fraction of a single call, and the speed-up of all threads over one.

Run: python3 benchmarks/bench_batch.py [--quick]
"""
import os
import sys
import time
from pathlib import Path

# NumPy's BLAS threads spin after use and would take a core from the workers.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import kavrel  # noqa: E402

BENCH_ROBOTS = Path(__file__).resolve().parents[2] / "shared" / "robots" / "bench"
LOCAL = kavrel.ReferenceFrame.LOCAL


def best_seconds(run, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def calls(model, frame):
    """Each call as a loop of single calls over rows, every result dropped as a caller of one call
    would, and as one batch call."""
    data = model.createData()

    def over_states(call):
        def loop(Q, V, A):
            for q, v, a in zip(Q, V, A):
                call(model, data, q, v, a)
        return loop

    def over_configurations(call):
        def loop(Q, V, A):
            for q in Q:
                call(model, data, q)
        return loop

    def frame_jacobian(Q, V, A):
        for q in Q:
            kavrel.computeJointJacobians(model, data, q)
            kavrel.getFrameJacobian(model, data, frame, LOCAL)

    return {
        "rnea": (over_states(kavrel.rnea), lambda b, Q, V, A: b.rnea(Q, V, A)),
        "crba": (over_configurations(kavrel.crba), lambda b, Q, V, A: b.crba(Q)),
        "aba": (over_states(kavrel.aba), lambda b, Q, V, A: b.aba(Q, V, A)),
        "forwardKinematics": (over_configurations(kavrel.forwardKinematics),
                              lambda b, Q, V, A: b.forwardKinematics(Q)),
        "getFrameJacobian": (frame_jacobian, lambda b, Q, V, A: b.getFrameJacobian(Q, frame, LOCAL)),
    }


def main():
    quick = "--quick" in sys.argv
    n, single_n, repeats = (10_000, 1_000, 2) if quick else (100_000, 10_000, 3)
    threads = os.cpu_count()
    print(f"states per second (N = {n}); 1T: one thread, {threads}T: all threads")
    print(f"{'robot':<16}{'call':<19}{'single':>11}{'1T':>11}{f'{threads}T':>11}{'1T cost/single':>16}{'speed-up':>10}")
    for name in ("iiwa", "hyq_floating", "atlas_floating"):
        path = BENCH_ROBOTS / f"{name}.urdf"
        if not path.is_file():
            continue
        model = kavrel.parse_urdf_file(str(path))
        rng = np.random.default_rng(0)
        Q = np.array([kavrel.integrate(model, kavrel.neutral(model), dv) for dv in rng.normal(size=(n, model.nv))])
        V, A = rng.normal(size=(2, n, model.nv))
        one, every = kavrel.Batch(model, 1), kavrel.Batch(model, threads)
        for call, (single, batched) in calls(model, model.nframes - 1).items():
            loop = best_seconds(lambda: single(Q[:single_n], V[:single_n], A[:single_n]), repeats) / single_n
            t1 = best_seconds(lambda: batched(one, Q, V, A), repeats) / n
            tn = best_seconds(lambda: batched(every, Q, V, A), repeats) / n
            print(f"{name:<16}{call:<19}{1 / loop:>11.0f}{1 / t1:>11.0f}{1 / tn:>11.0f}{t1 / loop:>16.2f}{t1 / tn:>10.2f}")


if __name__ == "__main__":
    main()
