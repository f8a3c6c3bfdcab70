"""Forward kinematics, joint and frame placements, Jacobians and their time variation."""
import math

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Data, Model, ReferenceFrame
from kinematic_trees import (FRAMES, PASSES, QUARTER_TURN_Z, S4, X, Z, add_joint_tree, assert_close, bench_tree,
                             changed, model_of, rpy_matrix, snapshot, twists_from_placements, urdf_tree)


C4 = math.cos(math.pi / 4)


def inverse_action(h):
    """X(M)^-1 on linear-first columns."""
    r, p = h[:3, :3], h[:3, 3]
    px = np.array([[0, -p[2], p[1]], [p[2], 0, -p[0]], [-p[1], p[0], 0]])
    return np.block([[r.T, -r.T @ px], [np.zeros((3, 3)), r.T]])


# -- forward kinematics in closed form ------------------------------------------------------------

def one(kind, axis, q, rotation, translation):
    """A single joint on the world at an identity placement."""
    return [(0, kind, axis, [0, 0, 0])], q, rotation, translation, translation


@pytest.mark.parametrize("joints,q,rotation,translation,local_translation", [
    ([], [], np.eye(3), [0, 0, 0], [0, 0, 0]),
    ([(0, "revolute", Z, [1, 0, 0])], [math.pi / 2], QUARTER_TURN_Z, [1, 0, 0], [1, 0, 0]),
    ([(0, "prismatic", X, [0, 0, 0]), (1, "prismatic", X, [0, 0, 0])], [1, 2], np.eye(3), [3, 0, 0], [2, 0, 0]),
    ([(0, "floating", Z, [0, 0, 0]), (1, "revolute", Z, [0, 0, 0])], [1, 2, 3, 0, 0, 0, 1, math.pi / 2],
     QUARTER_TURN_Z, [1, 2, 3], [0, 0, 0]),
    one("revolute", [0, 0, 2], [math.pi / 2], QUARTER_TURN_Z, [0, 0, 0]),
    one("revolute", [0, 0, 0], [0.0], np.eye(3), [0, 0, 0]),
    one("revolute", [0, 0, 0], [0.1], np.full((3, 3), np.nan), [0, 0, 0]),  # a zero axis and a nonzero angle
    one("continuous", Z, [0.0, 2.0], QUARTER_TURN_Z, [0, 0, 0]),
    one("continuous", Z, [-1.0, 0.0], np.diag([-1.0, -1.0, 1.0]), [0, 0, 0]),
    one("continuous", Z, [0.0, 0.0], np.eye(3), [0, 0, 0]),
    one("continuous", Z, [3.0, 0.0], np.eye(3), [0, 0, 0]),
    one("prismatic", [3, 0, 4], [5.0], np.eye(3), [3, 0, 4]),
    one("planar", Z, [1.0, 2.0, 0.0, 1.0], QUARTER_TURN_Z, [1, 2, 0]),
    one("planar", Z, [1.0, 2.0, 2.0, 0.0], np.diag([2.0, 2.0, 1.0]), [1, 2, 0]),
    one("floating", [], [1, 2, 3, 0, 0, 0, 2], np.eye(3), [1, 2, 3]),
    one("floating", [], [1, 2, 3, 0, 0, S4, C4], QUARTER_TURN_Z, [1, 2, 3]),
    one("spherical", Z, [0, 0, S4, C4], QUARTER_TURN_Z, [0, 0, 0]),
    one("spherical", Z, [0, 0, 0, 5.0], np.eye(3), [0, 0, 0]),
    # Components whose squares overflow or underflow are scaled before the norm is taken.
    one("spherical", Z, [1e200, 0, 0, 1e200], [[1, 0, 0], [0, 0, -1], [0, 1, 0]], [0, 0, 0]),
    one("spherical", Z, [0, 3e-200, 0, 3e-200], [[0, 0, 1], [0, 1, 0], [-1, 0, 0]], [0, 0, 0]),
    one("fixed", Z, [], np.eye(3), [0, 0, 0]),
])
def test_forward_kinematics_closed_form(joints, q, rotation, translation, local_translation):
    model = model_of(*joints)
    data = Data(model)
    for _ in range(2):  # a second run with the same q gives the same placements
        assert kavrel.forwardKinematics(model, data, np.array(q, float)) is None
        h = data.oMi[-1].homogeneous
        np.testing.assert_allclose(h[:3, :3], rotation, rtol=0, atol=1e-15)  # NaN only where NaN is expected
        np.testing.assert_allclose(h[:3, 3], translation, rtol=0, atol=1e-15)
        np.testing.assert_allclose(data.liMi[-1].homogeneous[:3, 3], local_translation, rtol=0, atol=1e-15)
    np.testing.assert_array_equal(data.oMi[0].homogeneous, np.eye(4))


# -- which fields each function writes, and a workspace made for another model ------------------

PLACEMENTS = {"oMi", "liMi"}


@pytest.mark.parametrize("name,written", [
    ("forwardKinematics", PLACEMENTS),
    ("computeJointJacobian", set()),  # of joint 0: see the next test for the others
    ("computeJointJacobians", PLACEMENTS | {"J"}),
    ("computeJointJacobiansTimeVariation", PLACEMENTS | {"v", "ov", "J", "dJ"}),
    ("getFrameJacobian", set()),
    ("getFrameJacobianTimeVariation", set()),
    ("rnea", PLACEMENTS | {"v", "a", "f", "tau"}),
    ("non_linear_effects", PLACEMENTS | {"v", "a", "f", "tau", "nle"}),
    ("compute_gravity", PLACEMENTS | {"v", "a", "f", "tau", "g"}),
    ("crba", PLACEMENTS | {"J", "composite_inertia", "M"}),
    ("computeCoriolisMatrix", PLACEMENTS | {"v", "ov", "J", "dJ", "composite_inertia", "ag", "C"}),
    ("aba", PLACEMENTS | {"ov", "J", "ddq"}),
    ("computeMinverse", PLACEMENTS | {"J", "Minv"}),
    ("rnea_derivatives", PLACEMENTS | {"v", "a", "f", "tau", "ov", "J", "dtau_dq", "dtau_dv"}),
    ("aba_derivatives", PLACEMENTS | {"ov", "J", "ddq", "Minv", "dtau_dq", "dtau_dv", "ddq_dq", "ddq_dv"}),
    ("computeAllTerms", PLACEMENTS | {"v", "ov", "J", "dJ", "a", "a_gf", "f", "momentum", "composite_inertia",
                                      "inertia_variation", "M", "nle", "g", "ag", "dag", "mass", "com", "vcom",
                                      "jcom", "hg", "dhg", "ig", "kinetic_energy", "potential_energy",
                                      "mechanical_energy"}),
])
def test_fields_written(name, written):
    rng = np.random.default_rng(5)
    tree = add_joint_tree(rng, 10)
    model, data = tree.model, Data(tree.model)
    for i in range(1, model.njoints):
        model.set_body_inertia(i, 1.0 + i, rng.normal(size=3), np.eye(3))
    kavrel.computeJointJacobiansTimeVariation(model, data, tree.random_q(rng), rng.normal(size=model.nv))
    before = snapshot(data)
    PASSES[name](model, data, tree.random_q(rng), rng.normal(size=model.nv), 0)
    after = snapshot(data)
    assert changed(before, after) == written
    if not name.startswith("getFrame"):  # a pass given a workspace older than its model fails before writing
        model.add_joint(2, "revolute", Z, SE3.identity(), "late")
        with pytest.raises(BaseException) as error:
            PASSES[name](model, data, np.ones(model.nq), np.ones(model.nv), 0)
        assert type(error.value).__name__ == "PanicException" and not isinstance(error.value, Exception)
        assert str(error.value) == (f"Data was created for another model: it has njoints 11, nq {data.nq}, nv "
                                    f"{data.nv} but the model has njoints 12, nq {data.nq + 1}, nv {data.nv + 1}")
        assert not changed(after, snapshot(data))


@pytest.mark.parametrize("target", range(11))
def test_single_joint_jacobian_writes_only_its_chain(target):
    rng = np.random.default_rng(6)
    tree = add_joint_tree(rng, 10)
    model, data, fresh = tree.model, Data(tree.model), Data(tree.model)
    kavrel.computeJointJacobiansTimeVariation(model, data, tree.random_q(rng), rng.normal(size=model.nv))
    before = snapshot(data)
    q = tree.random_q(rng)
    kavrel.computeJointJacobian(model, data, q, target)
    after = snapshot(data)
    assert changed(before, after) <= {"liMi"}
    kavrel.forwardKinematics(model, fresh, q)
    chain, j = set(), target
    while j != 0:
        chain.add(j)
        j = tree.parents[j]
    for i in range(model.njoints):
        expected = fresh.liMi[i].homogeneous if i in chain else before["liMi"][i]
        np.testing.assert_array_equal(after["liMi"][i], expected, err_msg=f"liMi[{i}]")


# -- placements, Jacobians and velocities against central differences through integrate ---------

def placed(model, data):
    """World placements of every joint, then of every frame, from the last forward kinematics."""
    frames = [kavrel.getFramePlacement(model, data, f).homogeneous for f in range(model.nframes)]
    return np.concatenate([data.oMi_homogeneous, np.reshape(frames, (-1, 4, 4))])


def frame_jacobians(model, data, getter):
    return np.array([[getter(model, data, f, rf) for rf in FRAMES] for f in range(model.nframes)])


SOURCES = [*(pytest.param((build, seed), id=f"{build.__name__}-{seed}")
             for build in (add_joint_tree, urdf_tree) for seed in range(4)),
           *(pytest.param((None, name), id=name) for name in ("iiwa", "hyq", "atlas_floating"))]


@pytest.mark.parametrize("source", SOURCES)
def test_kinematics_match_finite_differences(source, request):
    build, key = source
    rng = np.random.default_rng(20 + (key if build else 0))
    tree = build(rng, 9) if build else bench_tree(request.getfixturevalue("robots_dir"), key)
    model, data, eps = tree.model, Data(tree.model), 1e-6
    for i in range(model.njoints):  # an operational frame at a random placement on every joint
        placement = SE3(rpy_matrix(*rng.uniform(-math.pi, math.pi, 3)), rng.uniform(-0.5, 0.5, 3))
        assert model.add_frame(f"tool{i}", i, placement) == model.nframes - 1
    n, q, v = model.njoints, tree.random_q(rng), rng.normal(size=model.nv)
    kavrel.forwardKinematics(model, data, q)
    center = placed(model, data)
    for f, (joint, placement) in enumerate(zip(model.frame_parents, model.frame_placements)):
        assert_close(center[n + f], center[joint] @ placement.homogeneous, 1e-14, f"placement of frame {f}")
    # fd[k, reference frame, :, c]: twist of joint or frame k moved along velocity column c; the last along v.
    fd = np.zeros((len(center), 3, 6, model.nv + 1))
    for c, direction in enumerate(np.vstack([np.eye(model.nv), v])):
        moved = []
        for t in (-eps, eps):
            kavrel.forwardKinematics(model, data, kavrel.integrate(model, q, t * direction))
            moved.append(placed(model, data))
        fd[..., c] = twists_from_placements(center, *moved, 2 * eps)

    kavrel.computeJointJacobians(model, data, q)
    J = data.J
    tol, tight = 1e-6 * max(1.0, np.abs(J).max()), 1e-12 * max(1.0, np.abs(J).max())
    for i in range(n):
        world, outside = np.zeros_like(J), np.ones(model.nv, bool)
        world[:, tree.support(i)], outside[tree.support(i)] = J[:, tree.support(i)], False
        assert_close(world, fd[i, 0, :, :-1], tol, f"world Jacobian of joint {i}")
        local = kavrel.computeJointJacobian(model, data, q, i)
        assert_close(local, fd[i, 1, :, :-1], tol, f"local Jacobian of joint {i}")
        assert_close(local, inverse_action(center[i]) @ world, tight, f"local Jacobian of joint {i} from the world one")
        assert not local[:, outside].any(), f"columns off joint {i}'s chain are exactly zero"
    jacobians = frame_jacobians(model, data, kavrel.getFrameJacobian)
    assert_close(jacobians, fd[n:, :, :, :-1], tol, "frame Jacobians (frame, reference frame, row, column)")
    np.testing.assert_array_equal(jacobians[:, 2, 3:], jacobians[:, 0, 3:])  # the same angular rows

    moved = []
    for t in (-eps, eps):
        kavrel.computeJointJacobians(model, data, kavrel.integrate(model, q, t * v))
        moved.append((data.J, frame_jacobians(model, data, kavrel.getFrameJacobian)))
    kavrel.computeJointJacobiansTimeVariation(model, data, q, v)
    np.testing.assert_array_equal(data.J, J)
    tol = 1e-6 * max(1.0, np.abs(data.dJ).max())
    assert_close(data.dJ, (moved[1][0] - moved[0][0]) / (2 * eps), tol, "dJ")
    variations = frame_jacobians(model, data, kavrel.getFrameJacobianTimeVariation)
    assert_close(variations, (moved[1][1] - moved[0][1]) / (2 * eps), tol, "their time variation")
    np.testing.assert_array_equal(variations[:, 2, 3:], variations[:, 0, 3:])
    # World velocities, angular rows first: J v over each joint's chain, and the placements' motion along v.
    for i, ov in enumerate(data.ov):
        cols = tree.support(i)
        assert_close(np.r_[ov[3:], ov[:3]], J[:, cols] @ v[cols], tight, f"ov[{i}] = J v")
        assert_close(np.r_[ov[3:], ov[:3]], fd[i, 0, :, -1], 1e-6 * max(1.0, np.abs(ov).max()), f"ov[{i}]")


# -- closed forms and edge cases ------------------------------------------------------------------

def test_fresh_workspaces_and_repeated_calls():
    rng = np.random.default_rng(7)
    tree = add_joint_tree(rng, 6)
    model, data, fresh = tree.model, Data(tree.model), Data(tree.model)
    tip = model.add_frame("tip", model.njoints - 1, SE3(np.eye(3), X))
    for get in (kavrel.getFrameJacobian, kavrel.getFrameJacobianTimeVariation):
        for rf in FRAMES:  # nothing computed yet: zero, not whatever the memory held
            assert not get(model, data, tip, rf).any()
    q1, q2 = tree.random_q(rng), tree.random_q(rng)
    for d, q in ((data, q1), (data, q2), (fresh, q2)):  # a used workspace keeps no column of the last state
        kavrel.computeJointJacobians(model, d, q)
    np.testing.assert_array_equal(data.J, fresh.J)
    for rf in FRAMES:
        assert not kavrel.getFrameJacobian(model, data, 0, rf).any() and kavrel.getFrameJacobian(model, data, tip, rf).any()


def test_frames_on_a_joint_give_its_jacobian_bit_for_bit():
    tree = urdf_tree(rng := np.random.default_rng(90), 8)
    model, data, joint = tree.model, Data(tree.model), tree.model.njoints - 1
    name, cols = model.names[joint], tree.support(joint)
    assert 0 < len(cols) < model.nv
    # An operational frame at the identity, the joint's own frame and its child link's.
    same = [model.add_frame("same", joint, SE3.identity()), model.getFrameId(name), model.getFrameId("l" + name[1:])]
    q = tree.random_q(rng)
    kavrel.computeJointJacobiansTimeVariation(model, data, q, rng.normal(size=model.nv))
    for get, columns in ((kavrel.getFrameJacobian, data.J), (kavrel.getFrameJacobianTimeVariation, data.dJ)):
        world = get(model, data, same[0], ReferenceFrame.WORLD)
        np.testing.assert_array_equal(world[:, cols], columns[:, cols])
        assert not np.delete(world, cols, axis=1).any(), "columns of other branches"
        for frame in same[1:]:
            for rf in FRAMES:
                np.testing.assert_array_equal(get(model, data, frame, rf), get(model, data, same[0], rf))
    np.testing.assert_array_equal(kavrel.getFramePlacement(model, data, same[0]).homogeneous, data.oMi_homogeneous[joint])
    assert_close(kavrel.getFrameJacobian(model, data, same[1], ReferenceFrame.LOCAL),
                 kavrel.computeJointJacobian(model, data, q, joint), 1e-14, "LOCAL against the joint Jacobian")


@pytest.mark.parametrize("model", [Model(), model_of((0, "fixed", Z, [1, 2, 3]))], ids=["universe", "fixed"])
def test_models_without_velocity(model):
    data, empty = Data(model), np.zeros(0)
    kavrel.computeJointJacobians(model, data, empty)
    kavrel.computeJointJacobiansTimeVariation(model, data, empty, empty)
    assert data.J.shape == data.dJ.shape == (6, 0) and not data.v.any()
    for joint in range(model.njoints):
        assert kavrel.computeJointJacobian(model, data, empty, joint).shape == (6, 0)
    for rf in FRAMES:
        assert kavrel.getFrameJacobian(model, data, 0, rf).shape == (6, 0)
        assert kavrel.getFrameJacobianTimeVariation(model, data, 0, rf).shape == (6, 0)
    for name in ("rnea", "non_linear_effects", "compute_gravity"):
        assert PASSES[name](model, data, empty, empty, 0).shape == (0,)
    assert kavrel.crba(model, data, empty).shape == (0, 0)
    assert [m.shape for m in kavrel.rnea_derivatives(model, data, empty, empty, empty)] == [(0, 0)] * 2
    assert [m.shape for m in kavrel.aba_derivatives(model, data, empty, empty, empty)] == [(0, 0)] * 3
    kavrel.computeCoriolisMatrix(model, data, empty, empty)
    kavrel.computeAllTerms(model, data, empty, empty)
    assert data.C.shape == data.M.shape == (0, 0) and data.g.shape == (0,)
    assert (data.mass[0], data.kinetic_energy, data.potential_energy) == (0.0, 0.0, 0.0)
    assert not data.hg.any() and not data.dhg.any()
    np.testing.assert_array_equal(data.a_gf[0], [0, 0, 0, 0, 0, 9.81])
