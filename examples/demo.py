"""A tour of kavrel on the project's own six-axis arm.

Run: python3 examples/demo.py
"""
from pathlib import Path

import numpy as np

import kavrel

ARM = Path(__file__).resolve().parent / "robots" / "kavrel_arm.urdf"


def main():
    np.set_printoptions(precision=4, suppress=True, linewidth=110)
    model = kavrel.parse_urdf_file(str(ARM))
    data = model.createData()
    print(model)

    # A configuration reached from the neutral one by one unit of a velocity.
    q0 = kavrel.neutral(model)
    v = np.linspace(0.4, -0.3, model.nv)
    q = kavrel.integrate(model, q0, v)
    print("q      =", q)

    kavrel.forwardKinematics(model, data, q)
    tool = model.getFrameId("tool")
    tool_joint = model.get_joint_id("tool_joint")
    print("tool position in the world:", data.get_joint_translation(tool_joint))

    # Jacobians at the tool, and how fast they change along v.
    kavrel.computeJointJacobiansTimeVariation(model, data, q, v)
    aligned = kavrel.ReferenceFrame.LOCAL_WORLD_ALIGNED
    jacobian = kavrel.getFrameJacobian(model, data, tool, aligned)
    print("tool Jacobian, world axes at the tool (linear rows first):")
    print(jacobian)
    print("tool velocity J v  =", jacobian @ v)
    print("tool dJ/dt v       =", kavrel.getFrameJacobianTimeVariation(model, data, tool, aligned) @ v)

    # Cross-check the Jacobian against a finite difference of the tool position.
    step = 1e-6
    forward, backward = model.createData(), model.createData()
    kavrel.forwardKinematics(model, forward, kavrel.integrate(model, q, step * v))
    kavrel.forwardKinematics(model, backward, kavrel.integrate(model, q, -step * v))
    finite = (forward.get_joint_translation(tool_joint) - backward.get_joint_translation(tool_joint)) / (2 * step)
    print("finite difference  =", finite)

    # Dynamics: the torques that hold the arm still, the mass matrix, and the
    # accelerations when the first joint gets a push on top of them.
    gravity = kavrel.compute_gravity(model, data, q)
    print("gravity torques    =", gravity)
    kavrel.crba(model, data, q)
    print("mass matrix diagonal =", np.diag(data.M))
    push = gravity + np.eye(model.nv)[0]
    ddq = kavrel.aba(model, data, q, np.zeros(model.nv), push)
    print("accelerations      =", ddq, " (M ddq + g - tau:", np.abs(data.M @ ddq + gravity - push).max(), ")")
    kavrel.rnea(model, data, q, np.zeros(model.nv), ddq)
    print(data)


if __name__ == "__main__":
    main()
