"""Median per-call times of the configuration-space and kinematics functions.

Robots: a chain of 7 revolute joints and a floating-base tree of 36 degrees of freedom, both built
with add_joint, then the benchmark robot descriptions in shared/robots/bench when they are there.
The first row, the same calls on a model without joints, is the cost of the Python call itself.

Run: python3 benchmarks/bench_kinematics.py [--quick]
"""
import math
import statistics
import sys
import timeit
from pathlib import Path

import numpy as np

import kavrel
from kavrel import SE3, Model, ReferenceFrame

REPEATS = 7
TARGET_SECONDS = 0.2  # per repeat
BENCH_ROBOTS = Path(__file__).resolve().parents[2] / "shared" / "robots" / "bench"


def rotation(rng):
    q, r = np.linalg.qr(rng.normal(size=(3, 3)))
    return q * np.sign(np.diag(r))


def revolute_chain(n=7, seed=0):
    rng = np.random.default_rng(seed)
    model = Model()
    for i in range(n):
        model.add_joint(i, "revolute", rng.normal(size=3), SE3(rotation(rng), rng.uniform(-0.3, 0.3, 3)), f"j{i + 1}")
    return model


def floating_tree(seed=1):
    """Floating base, then 5 limbs of 6 revolute joints: nv = 36."""
    rng = np.random.default_rng(seed)
    model = Model()
    model.add_joint(0, "floating", np.zeros(3), SE3.identity(), "base")
    for limb in range(5):
        parent = 1
        for k in range(6):
            parent = model.add_joint(parent, "revolute", rng.normal(size=3),
                                     SE3(rotation(rng), rng.uniform(-0.3, 0.3, 3)), f"l{limb}j{k}")
    return model


def per_call_us(statement, namespace, quick):
    timer = timeit.Timer(statement, globals=namespace)
    number, elapsed = timer.autorange()
    number = max(1, int(number * (0.02 if quick else TARGET_SECONDS) / elapsed))
    return statistics.median(t / number * 1e6 for t in timer.repeat(2 if quick else REPEATS, number))


CALLS = [
    ("neutral", "kavrel.neutral(model)"),
    ("integrate", "kavrel.integrate(model, q, v)"),
    ("forwardKinematics", "kavrel.forwardKinematics(model, data, q)"),
    ("computeJointJacobians", "kavrel.computeJointJacobians(model, data, q)"),
    ("computeJointJacobian", "kavrel.computeJointJacobian(model, data, q, last_joint)"),
    ("computeJointJacobiansTimeVariation", "kavrel.computeJointJacobiansTimeVariation(model, data, q, v)"),
    ("getFrameJacobian", "kavrel.getFrameJacobian(model, data, last_frame, LOCAL)"),
    ("getFrameJacobianTimeVariation", "kavrel.getFrameJacobianTimeVariation(model, data, last_frame, LOCAL)"),
    ("getFramePlacement", "kavrel.getFramePlacement(model, data, last_frame)"),
    ("Data.oMi_homogeneous", "data.oMi_homogeneous"),
    ("Data.oMi, each SE3 as an array", "[m.homogeneous for m in data.oMi]"),
]


def measure(model, quick):
    rng = np.random.default_rng(2)
    q = kavrel.integrate(model, kavrel.neutral(model), rng.normal(size=model.nv))
    v = rng.normal(size=model.nv)
    data = model.createData()
    kavrel.computeJointJacobiansTimeVariation(model, data, q, v)
    namespace = dict(kavrel=kavrel, model=model, data=data, q=q, v=v, LOCAL=ReferenceFrame.LOCAL,
                     last_joint=model.njoints - 1, last_frame=model.nframes - 1)
    return [per_call_us(statement, namespace, quick) for _, statement in CALLS]


def robots():
    yield "(no joints)", Model()
    yield "chain of 7 revolute", revolute_chain()
    yield "floating tree, nv 36", floating_tree()
    for name in ("iiwa", "hyq", "hyq_floating", "atlas", "atlas_floating"):
        path = BENCH_ROBOTS / f"{name}.urdf"
        if path.is_file():
            yield name, kavrel.parse_urdf_file(str(path))


def main():
    quick = "--quick" in sys.argv
    short = ["neutral", "integrate", "FK", "JJs", "JJ", "JJsTV", "FJ", "FJTV", "FP", "oMiH", "oMi[]"]
    print("median microseconds per call; getFrame* on the last frame, LOCAL; oMiH: Data.oMi_homogeneous,")
    print("oMi[]: the same read through Data.oMi and SE3.homogeneous")
    print(f"{'robot':<22}{'nq':>4}{'nv':>4}" + "".join(f"{s:>10}" for s in short))
    for name, model in robots():
        times = measure(model, quick)
        print(f"{name:<22}{model.nq:>4}{model.nv:>4}" + "".join(f"{t:>10.2f}" for t in times))


if __name__ == "__main__":
    main()
