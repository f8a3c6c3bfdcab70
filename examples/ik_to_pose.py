"""Damped-least-squares inverse kinematics to a pose, with SE3.log and getFrameJacobian.

Run: python3 examples/ik_to_pose.py [URDF FRAME]
Without arguments it moves the end effector of the KUKA iiwa in ../shared/robots, or the tool
of the project's own arm when that folder is not there.
"""
import sys
from pathlib import Path

import numpy as np

import kavrel

HERE = Path(__file__).resolve().parent
IIWA = HERE.parents[1] / "shared" / "robots" / "iiwa14.urdf"


def solve(model, frame, target, q, damping=1e-3, max_step=0.5, tolerance=1e-10, max_steps=200):
    """Steps q until the frame's pose error log(target^-1 * current) vanishes; returns q and the steps taken."""
    data = model.createData()
    for step in range(max_steps):
        kavrel.computeJointJacobians(model, data, q)  # also the forward kinematics of q
        current = kavrel.getFramePlacement(model, data, frame)
        error = (target.inverse() * current).log()  # twist in the frame's own axes, linear part first
        if np.linalg.norm(error) < tolerance:
            return q, step
        jacobian = kavrel.getFrameJacobian(model, data, frame, kavrel.ReferenceFrame.LOCAL)
        # dq = -J^T (J J^T + damping^2 I)^-1 error, stepped on the configuration space.
        dq = -jacobian.T @ np.linalg.solve(jacobian @ jacobian.T + damping**2 * np.eye(6), error)
        dq *= min(1.0, max_step / np.linalg.norm(dq))  # far from the target the linear model is poor
        q = kavrel.integrate(model, q, dq)
    raise RuntimeError(f"no convergence in {max_steps} steps: error {np.linalg.norm(error):.2e}")


def main():
    if len(sys.argv) == 3:
        path, frame_name = sys.argv[1], sys.argv[2]
    elif IIWA.is_file():
        path, frame_name = str(IIWA), "iiwa_link_ee"
    else:
        path, frame_name = str(HERE / "robots" / "kavrel_arm.urdf"), "tool"
    model = kavrel.parse_urdf_file(path)
    frame = model.getFrameId(frame_name)
    if frame is None:
        sys.exit(f"{path} has no frame {frame_name!r}")

    # A reachable target: the frame's pose at another configuration.
    rng = np.random.default_rng(7)
    data = model.createData()
    kavrel.forwardKinematics(model, data, kavrel.integrate(model, kavrel.neutral(model), rng.uniform(-1, 1, model.nv)))
    target = kavrel.getFramePlacement(model, data, frame)

    start = kavrel.integrate(model, kavrel.neutral(model), 0.1 * np.ones(model.nv))
    q, steps = solve(model, frame, target, start)
    kavrel.forwardKinematics(model, data, q)
    reached = kavrel.getFramePlacement(model, data, frame)
    np.set_printoptions(precision=5, suppress=True)
    print(f"{model.name}: {frame_name} on joint {model.names[model.frame_parents[frame]]}")
    print("target position   ", target.translation)
    print("reached position  ", reached.translation)
    print(f"pose error {np.linalg.norm((target.inverse() * reached).log()):.1e} after {steps} steps")
    print("q =", q)


if __name__ == "__main__":
    main()
