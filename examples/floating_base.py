"""A free-floating robot made from a description whose root body is welded to the world.

Run: python3 examples/floating_base.py [URDF]
Without an argument it frees the HyQ quadruped in ../shared/robots/bench, or the project's own
arm when that folder is not there, and lets it fall for a quarter of a second.
"""
import sys
from pathlib import Path

import numpy as np

import kavrel

HERE = Path(__file__).resolve().parent
HYQ = HERE.parents[1] / "shared" / "robots" / "bench" / "hyq.urdf"


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else str(HYQ if HYQ.is_file() else HERE / "robots" / "kavrel_arm.urdf")
    welded = kavrel.parse_urdf_file(path)
    model = welded.with_floating_base()
    print(f"{model.name}: nq {welded.nq} -> {model.nq}, nv {welded.nv} -> {model.nv}")
    print(f"{'joint':<16}{'type':<12}{'q':>8}{'v':>8}")
    for i in range(min(model.njoints, 6)):
        q_slice = f"{model.joint_q_idx[i]}:{model.joint_q_idx[i] + model.joint_nq[i]}"
        v_slice = f"{model.joint_v_idx[i]}:{model.joint_v_idx[i] + model.joint_nv[i]}"
        print(f"{model.names[i]:<16}{model.joint_types[i]:<12}{q_slice:>8}{v_slice:>8}")

    # The base at 1 m height, turned a quarter turn about z: position, then quaternion x, y, z, w.
    q = kavrel.neutral(model)
    q[:7] = [0.0, 0.0, 1.0, 0.0, 0.0, np.sin(np.pi / 4), np.cos(np.pi / 4)]
    v = np.zeros(model.nv)
    data = model.createData()

    # Free fall with nothing touching the ground: M(q) dv/dt = -nle(q, v), semi-implicit Euler.
    dt, steps = 1e-3, 250
    for _ in range(steps):
        kavrel.crba(model, data, q)
        accel = np.linalg.solve(data.M, -kavrel.non_linear_effects(model, data, q, v))
        v = v + dt * accel
        q = kavrel.integrate(model, q, dt * v)  # v is in the base frame; integrate turns it into the world
    t = dt * steps
    kavrel.forwardKinematics(model, data, q)
    base = kavrel.getFramePlacement(model, data, model.getFrameId(welded.frame_names[1]))  # the root body
    g = model.gravity[2]
    print(f"after {t:.3f} s the base {welded.frame_names[1]} is at z = {base.translation[2]:.4f} m; free fall: "
          f"{1.0 + 0.5 * g * t * t:.4f} m exactly, {1.0 + g * dt * dt * steps * (steps + 1) / 2:.4f} m in these steps")


if __name__ == "__main__":
    main()
