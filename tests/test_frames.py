"""Frame and joint tables, operational frames, frame placements and the Jacobians of placed frames."""
import math

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Data, Model, ReferenceFrame
from kinematic_trees import (ALL_KINDS, SIZES, add_joint_tree, assert_close, random_joint_rows, rpy_matrix,
                             tree_from_urdf, twists_from_placements, urdf_text, urdf_tree)

FRAMES = [ReferenceFrame.WORLD, ReferenceFrame.LOCAL, ReferenceFrame.LOCAL_WORLD_ALIGNED]


def with_tool_frames(tree, rng, n=4):
    """Adds n operational frames at random placements on random joints, joint 0 included."""
    model = tree.model
    for k in range(n):
        placement = SE3(rpy_matrix(*rng.uniform(-math.pi, math.pi, 3)), rng.uniform(-0.5, 0.5, 3))
        assert model.add_frame(f"tool{k}", int(rng.integers(model.njoints)) if k else 0, placement) == model.nframes - 1
    return tree


def frame_placements(model, data):
    return np.array([kavrel.getFramePlacement(model, data, f).homogeneous for f in range(model.nframes)])


def frame_jacobians(model, data, getter):
    return np.array([[getter(model, data, f, rf) for rf in FRAMES] for f in range(model.nframes)])


# -- tables ---------------------------------------------------------------------------------------

@pytest.mark.parametrize("seed", range(2))
def test_tables_describe_the_model(seed):
    rows = random_joint_rows(np.random.default_rng(60 + seed), 8, ALL_KINDS)
    tree = tree_from_urdf(urdf_text(rows))
    model = tree.model
    assert model.joint_types == tree.kinds
    assert model.joint_nq == [SIZES[k][0] for k in tree.kinds] and model.joint_nv == tree.nv_of
    assert model.joint_q_idx == list(tree.q_idx) and model.joint_v_idx == list(tree.v_idx)
    # Axes as the document gives them, unnormalised; kinds without an axis store zeros.
    axis_of = {r["name"]: r["axis"] if r["kind"] not in ("fixed", "floating", "spherical") else np.zeros(3)
               for r in rows}
    np.testing.assert_array_equal(model.joint_axes, [np.zeros(3)] + [axis_of[n] for n in model.names[1:]])
    # Joint placements rebuild the neutral forward kinematics.
    data = Data(model)
    kavrel.forwardKinematics(model, data, kavrel.neutral(model))
    stacked = data.oMi_homogeneous
    assert stacked.shape == (model.njoints, 4, 4) and stacked.flags.c_contiguous
    np.testing.assert_array_equal(stacked, np.array([m.homogeneous for m in data.oMi]))
    for i, placement in enumerate(model.joint_placements[1:], 1):
        assert_close(stacked[i], stacked[model.parents[i]] @ placement.homogeneous, 1e-14, f"oMi[{i}]")
    # The frame table is the model report's.
    report = model.to_string_info()
    for f, (name, parent, kind) in enumerate(zip(model.frame_names, model.frame_parents, model.frame_types)):
        assert f"Frame {f}: {name} (type: FrameType({kind}), parent: {parent})" in report
    assert len(model.frame_placements) == model.nframes


def test_frame_type_names_and_operational_frames():
    model = kavrel.parse_urdf_from_string('<robot name="r"><link name="a"/><link name="b"/><joint name="j" '
                                          'type="continuous"><parent link="a"/><child link="b"/></joint></robot>')
    assert model.joint_types == ["fixed", "continuous"]  # frame types: see the URDF tests
    placement = SE3(rpy_matrix(0.1, 0.2, 0.3), np.array([0.0, 0.0, 0.1]))
    assert model.add_frame(name="tcp", parent_joint=1, placement=placement) == 4
    assert (model.nframes, model.getFrameId("tcp"), model.frame_parents[4], model.frame_types[4]) == (5, 4, 1, "OP_FRAME")
    np.testing.assert_array_equal(model.frame_placements[4].homogeneous, placement.homogeneous)
    with pytest.raises(ValueError, match=r"^Frame ID 5 out of range \(max: 4\)$"):
        kavrel.getFramePlacement(model, Data(model), 5)


@pytest.mark.parametrize("args,error,message", [
    (("t", 2, SE3.identity()), ValueError, "joint_id 2 >= njoints 2"),
    (("t", -1, SE3.identity()), OverflowError, None),
    ((3, 1, SE3.identity()), TypeError, "argument 'name': 'int' object cannot be converted to 'PyString'"),
    (("t", 1, np.eye(4)), TypeError, "argument 'placement': 'ndarray' object cannot be converted to 'SE3'"),
    (("t", 1), TypeError, "Model.add_frame() missing 1 required positional argument: 'placement'"),
])
def test_add_frame_refusals_change_nothing(args, error, message):
    (model := Model()).add_joint(0, "revolute", np.array([0.0, 0.0, 1.0]), SE3.identity(), "j")
    with pytest.raises(error) as raised:
        model.add_frame(*args)
    assert message is None or str(raised.value) == message
    assert model.nframes == 1 and model.frame_names == ["universe"]


# -- placements and Jacobians of placed frames against forward kinematics -------------------------

@pytest.mark.parametrize("build", [add_joint_tree, urdf_tree], ids=["add_joint", "urdf"])
@pytest.mark.parametrize("seed", range(2))
def test_placed_frames_match_finite_differences(build, seed):
    rng = np.random.default_rng(70 + seed)
    tree = with_tool_frames(build(rng, 8), rng)
    model, data, eps = tree.model, tree.data(), 1e-6
    q, v = tree.random_q(rng), rng.normal(size=model.nv)
    kavrel.forwardKinematics(model, data, q)
    center = frame_placements(model, data)
    for f, (joint, placement) in enumerate(zip(model.frame_parents, model.frame_placements)):
        assert_close(center[f], data.oMi_homogeneous[joint] @ placement.homogeneous, 1e-14, f"placement of frame {f}")
    # Columns of the Jacobians, then their time variation along v.
    fd = np.zeros((model.nframes, 3, 6, model.nv))
    for c in range(model.nv):
        moved = []
        for t in (-eps, eps):
            kavrel.forwardKinematics(model, data, kavrel.integrate(model, q, t * np.eye(model.nv)[c]))
            moved.append(frame_placements(model, data))
        fd[:, :, :, c] = twists_from_placements(center, *moved, 2 * eps)
    moved = []
    for t in (-eps, eps):
        kavrel.computeJointJacobians(model, data, kavrel.integrate(model, q, t * v))
        moved.append(frame_jacobians(model, data, kavrel.getFrameJacobian))
    kavrel.computeJointJacobians(model, data, q)
    assert_close(frame_jacobians(model, data, kavrel.getFrameJacobian), fd, 1e-6 * max(1.0, np.abs(data.J).max()),
                 "frame Jacobians (frame, reference frame, row, column)")
    kavrel.computeJointJacobiansTimeVariation(model, data, q, v)
    assert_close(frame_jacobians(model, data, kavrel.getFrameJacobianTimeVariation), (moved[1] - moved[0]) / (2 * eps),
                 1e-6 * max(1.0, np.abs(data.dJ).max()), "their time variation")


def test_identity_placement_gives_the_joint_jacobian_bit_for_bit():
    tree = urdf_tree(rng := np.random.default_rng(90), 8)
    model, data, joint = tree.model, tree.data(), tree.model.njoints - 1
    tool, joint_frame = model.add_frame("same", joint, SE3.identity()), model.getFrameId(model.names[joint])
    kavrel.computeJointJacobiansTimeVariation(model, data, tree.random_q(rng), rng.normal(size=model.nv))
    for rf in FRAMES:
        np.testing.assert_array_equal(kavrel.getFrameJacobian(model, data, tool, rf),
                                      kavrel.getFrameJacobian(model, data, joint_frame, rf))
    np.testing.assert_array_equal(kavrel.getFramePlacement(model, data, tool).homogeneous, data.oMi_homogeneous[joint])
