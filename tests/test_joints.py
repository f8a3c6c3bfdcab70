"""Each joint kind's transform in closed form, read back through forward kinematics."""
import math

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Data, Model
from kinematic_trees import ADD_JOINT_KINDS

QUARTER_TURN_Z = np.array([[0.0, -1.0, 0.0], [1.0, 0.0, 0.0], [0.0, 0.0, 1.0]])
Z, S4, C4 = [0, 0, 1], math.sin(math.pi / 4), math.cos(math.pi / 4)


def joint_transform(kind, axis, q):
    """The world placement of a joint on the world at an identity placement; URDF for kinds add_joint cannot make."""
    if kind in ADD_JOINT_KINDS:
        (model := Model()).add_joint(0, kind, np.array(axis, dtype=float), SE3.identity(), "j")
    else:
        model = kavrel.parse_urdf_from_string(
            f'<robot name="one"><link name="base"/><link name="body"/><joint name="j" type="{kind}"><parent link='
            f'"base"/><child link="body"/><axis xyz="{" ".join(map(str, axis))}"/></joint></robot>')
    kavrel.forwardKinematics(model, data := Data(model), np.array(q, dtype=float))
    return data.oMi[1].homogeneous


@pytest.mark.parametrize("kind,axis,q,rotation,translation", [
    ("revolute", [0, 0, 2], [math.pi / 2], QUARTER_TURN_Z, [0, 0, 0]),
    ("revolute", [0, 0, 0], [0.0], np.eye(3), [0, 0, 0]),
    ("revolute", [0, 0, 0], [0.1], np.full((3, 3), np.nan), [0, 0, 0]),  # a zero axis and a nonzero angle
    ("continuous", Z, [0.0, 2.0], QUARTER_TURN_Z, [0, 0, 0]),
    ("continuous", Z, [-1.0, 0.0], np.diag([-1.0, -1.0, 1.0]), [0, 0, 0]),
    ("continuous", Z, [0.0, 0.0], np.eye(3), [0, 0, 0]),
    ("continuous", Z, [3.0, 0.0], np.eye(3), [0, 0, 0]),
    ("prismatic", [3, 0, 4], [5.0], np.eye(3), [3, 0, 4]),
    ("planar", Z, [1.0, 2.0, 0.0, 1.0], QUARTER_TURN_Z, [1, 2, 0]),
    ("planar", Z, [1.0, 2.0, 2.0, 0.0], np.diag([2.0, 2.0, 1.0]), [1, 2, 0]),
    ("floating", [], [1, 2, 3, 0, 0, 0, 2], np.eye(3), [1, 2, 3]),
    ("floating", [], [1, 2, 3, 0, 0, S4, C4], QUARTER_TURN_Z, [1, 2, 3]),
    ("spherical", Z, [0, 0, S4, C4], QUARTER_TURN_Z, [0, 0, 0]),
    ("spherical", Z, [0, 0, 0, 5.0], np.eye(3), [0, 0, 0]),
    ("fixed", Z, [], np.eye(3), [0, 0, 0]),
])
def test_joint_transform_closed_forms(kind, axis, q, rotation, translation):
    h = joint_transform(kind, axis, q)
    np.testing.assert_allclose(h[:3, :3], rotation, atol=1e-15)  # NaN only where NaN is expected
    np.testing.assert_allclose(h[:3, 3], translation, atol=1e-15)
