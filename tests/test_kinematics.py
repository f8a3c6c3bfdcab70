"""Forward kinematics, joint and frame Jacobians and their time variation."""
import math

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Data, Model, ReferenceFrame
from kinematic_trees import (add_joint_tree, assert_close, placements, tree_from_urdf,
                             twists_from_placements, urdf_tree)

FRAMES = [ReferenceFrame.WORLD, ReferenceFrame.LOCAL, ReferenceFrame.LOCAL_WORLD_ALIGNED]
BUILDERS = [pytest.param(add_joint_tree, id="add_joint"), pytest.param(urdf_tree, id="urdf")]
QUARTER_TURN_Z = np.array([[0.0, -1.0, 0.0], [1.0, 0.0, 0.0], [0.0, 0.0, 1.0]])
X, Y, Z = np.eye(3)


def model_of(*joints):
    """joints: (parent, kind, axis, translation)."""
    model = Model()
    for k, (parent, kind, axis, t) in enumerate(joints, 1):
        model.add_joint(parent, kind, np.array(axis, float), SE3(np.eye(3), np.array(t, float)), f"j{k}")
    return model


def inverse_action(h):
    """X(M)^-1 on linear-first columns."""
    r, p = h[:3, :3], h[:3, 3]
    px = np.array([[0, -p[2], p[1]], [p[2], 0, -p[0]], [-p[1], p[0], 0]])
    return np.block([[r.T, -r.T @ px], [np.zeros((3, 3)), r.T]])


# -- forward kinematics --------------------------------------------------------------------------

@pytest.mark.parametrize("joints,q,joint,rotation,translation,local_translation", [
    ([], [], 0, np.eye(3), [0, 0, 0], [0, 0, 0]),
    ([(0, "revolute", Z, [1, 0, 0])], [math.pi / 2], 1, QUARTER_TURN_Z, [1, 0, 0], [1, 0, 0]),
    ([(0, "prismatic", X, [0, 0, 0]), (1, "prismatic", X, [0, 0, 0])], [1, 2], 2, np.eye(3), [3, 0, 0], [2, 0, 0]),
    ([(0, "floating", Z, [0, 0, 0]), (1, "revolute", Z, [0, 0, 0])], [1, 2, 3, 0, 0, 0, 1, math.pi / 2], 2,
     QUARTER_TURN_Z, [1, 2, 3], [0, 0, 0]),
])
def test_forward_kinematics_closed_form(joints, q, joint, rotation, translation, local_translation):
    model = model_of(*joints)
    data = Data(model)
    for _ in range(2):  # a second run with the same q gives the same placements
        assert kavrel.forwardKinematics(model, data, np.array(q, float)) is None
        assert_close(data.oMi[joint].homogeneous[:3, :3], rotation, 1e-15, "rotation")
        assert_close(data.oMi[joint].homogeneous[:3, 3], translation, 1e-15, "translation")
        assert_close(data.liMi[joint].homogeneous[:3, 3], local_translation, 1e-15, "local translation")
    np.testing.assert_array_equal(data.oMi[0].homogeneous, np.eye(4))


# -- argument checks leave the workspace unchanged ------------------------------------------------

def snapshot(data):
    names = [n for n in ("v", "a", "f", "ov", "J", "dJ", "M", "C", "g", "tau", "nle", "ag", "dag", "jcom",
                         "com", "vcom", "mass", "a_gf", "momentum", "composite_inertia", "inertia_variation",
                         "hg", "dhg", "ig", "kinetic_energy", "potential_energy", "ddq", "Minv", "dtau_dq", "dtau_dv",
                         "ddq_dq", "ddq_dv") if hasattr(data, n)]
    state = {n: np.array(getattr(data, n)) for n in names}
    state["oMi"], state["liMi"] = placements(data), np.array([m.homogeneous for m in data.liMi])
    return state


def changed(before, after):
    return {name for name in before if not np.array_equal(before[name], after[name])}


def fj(m, d, q, v, i): return kavrel.getFrameJacobian(m, d, i, ReferenceFrame.LOCAL)
def fjtv(m, d, q, v, i): return kavrel.getFrameJacobianTimeVariation(m, d, i, ReferenceFrame.LOCAL)
def fk(m, d, q, v, i): return kavrel.forwardKinematics(m, d, q)
def jjs(m, d, q, v, i): return kavrel.computeJointJacobians(m, d, q)
def jj(m, d, q, v, i): return kavrel.computeJointJacobian(m, d, q, i)
def tv(m, d, q, v, i): return kavrel.computeJointJacobiansTimeVariation(m, d, q, v)
def rnea(m, d, q, v, i): return kavrel.rnea(m, d, q, v, np.ones(m.nv + i))  # i: how much a is too long
def crba(m, d, q, v, i): return kavrel.crba(m, d, q)
def nle(m, d, q, v, i): return kavrel.non_linear_effects(m, d, q, v)
def grav(m, d, q, v, i): return kavrel.compute_gravity(m, d, q)
def cor(m, d, q, v, i): return kavrel.computeCoriolisMatrix(m, d, q, v)
def allt(m, d, q, v, i): return kavrel.computeAllTerms(m, d, q, v)
def aba(m, d, q, v, i): return kavrel.aba(m, d, q, v, np.ones(m.nv + i))  # i: how much tau is too long
def minv(m, d, q, v, i): return kavrel.computeMinverse(m, d, q)
def rnead(m, d, q, v, i): return kavrel.rnea_derivatives(m, d, q, v, np.ones(m.nv + i))
def abad(m, d, q, v, i): return kavrel.aba_derivatives(m, d, q, v, np.ones(m.nv + i))


# The tree has nq 9, nv 8, njoints 4, nframes 1.
@pytest.mark.parametrize("call,dq,dv,index,message", [
    (fk, -1, 0, 0, "Configuration vector length 8 does not match model nq 9"),
    (fk, 1, 0, 0, "Configuration vector length 10 does not match model nq 9"),
    (jjs, -1, 0, 0, "q length 8 != nq 9"),
    (jj, 1, 0, 9, "q length 10 != nq 9"),
    (jj, 0, 0, 4, "joint_id 4 >= njoints 4"),
    (tv, 1, 1, 0, "q length 10 != nq 9"),
    (tv, 0, -1, 0, "v length 7 != nv 8"),
    (fj, 0, 0, 1, "Frame ID 1 out of range (max: 0)"),
    (fjtv, 0, 0, 7, "Frame ID 7 out of range (max: 0)"),
    (rnea, 1, 1, 1, "q length 10 != nq 9"),
    (rnea, 0, 1, -1, "v length 9 != nv 8"),
    (rnea, 0, 0, 1, "a length 9 != nv 8"),
    (crba, -1, 0, 0, "q length 8 != nq 9"),
    (nle, 0, -1, 0, "v length 7 != nv 8"),
    (grav, 2, 0, 0, "q length 11 != nq 9"),
    (cor, -9, 0, 0, "q length 0 != nq 9"),
    (cor, 0, 2, 0, "v length 10 != nv 8"),
    (allt, 1, -1, 0, "q length 10 != nq 9"),
    (allt, 0, -8, 0, "v length 0 != nv 8"),
    (aba, 1, 1, 1, "q length 10 != nq 9"),
    (aba, 0, 1, 1, "v length 9 != nv 8"),
    (aba, 0, 0, -1, "tau length 7 != nv 8"),
    (minv, -1, 0, 0, "q length 8 != nq 9"),
    (rnead, 1, 1, 1, "q length 10 != nq 9"),
    (rnead, 0, -1, 1, "v length 7 != nv 8"),
    (rnead, 0, 0, 1, "a length 9 != nv 8"),
    (abad, -1, 1, 1, "q length 8 != nq 9"),
    (abad, 0, 1, -1, "v length 9 != nv 8"),
    (abad, 0, 0, -1, "tau length 7 != nv 8"),
])
def test_size_checks(call, dq, dv, index, message):
    model = model_of((0, "floating", Z, [0, 0, 0]), (1, "revolute", Y, [0, 0, 1]), (2, "prismatic", X, [1, 0, 0]))
    data = Data(model)
    q0, v0 = kavrel.neutral(model), np.ones(model.nv)
    kavrel.computeJointJacobiansTimeVariation(model, data, q0 + 0.1, v0)
    before = snapshot(data)
    with pytest.raises(ValueError) as error:
        call(model, data, np.ones(model.nq + dq), np.ones(model.nv + dv), index)
    assert str(error.value) == message
    assert not changed(before, snapshot(data))


def test_stale_workspace_fails_before_writing():
    model = model_of((0, "revolute", Z, [0, 0, 0]), (1, "prismatic", X, [0, 0, 0]))
    data = Data(model)
    model.add_joint(2, "revolute", Y, SE3.identity(), "late")
    before = snapshot(data)
    for call in (fk, jjs, jj, tv, rnea, crba, nle, grav, cor, allt, aba, minv, rnead, abad):
        with pytest.raises(BaseException) as error:
            call(model, data, np.ones(3), np.ones(3), 0 if call in (rnea, aba, rnead, abad) else 3)
        assert type(error.value).__name__ == "PanicException" and not isinstance(error.value, Exception)
        assert str(error.value) == ("Data was created for another model: it has njoints 3, nq 2, nv 2 "
                                    "but the model has njoints 4, nq 3, nv 3")
        assert not changed(before, snapshot(data))


# -- which fields each function writes ------------------------------------------------------------

@pytest.mark.parametrize("call,written", [
    (fk, {"oMi", "liMi"}),
    (jjs, {"oMi", "liMi", "J"}),
    (tv, {"oMi", "liMi", "v", "ov", "J", "dJ"}),
    (fj, set()),
    (fjtv, set()),
    (rnea, {"oMi", "liMi", "v", "a", "f", "tau"}),
    (nle, {"oMi", "liMi", "v", "a", "f", "tau", "nle"}),
    (grav, {"oMi", "liMi", "v", "a", "f", "tau", "g"}),
    (crba, {"oMi", "liMi", "J", "composite_inertia", "M"}),
    (cor, {"oMi", "liMi", "v", "ov", "J", "dJ", "composite_inertia", "ag", "C"}),
    (aba, {"oMi", "liMi", "ov", "J", "ddq"}),
    (minv, {"oMi", "liMi", "J", "Minv"}),
    (rnead, {"oMi", "liMi", "v", "a", "f", "tau", "ov", "J", "dtau_dq", "dtau_dv"}),
    (abad, {"oMi", "liMi", "ov", "J", "ddq", "Minv", "dtau_dq", "dtau_dv", "ddq_dq", "ddq_dv"}),
    (allt, {"oMi", "liMi", "v", "ov", "J", "dJ", "a", "a_gf", "f", "momentum", "composite_inertia",
            "inertia_variation", "M", "nle", "g", "ag", "dag", "mass", "com", "vcom", "jcom", "hg", "dhg", "ig",
            "kinetic_energy", "potential_energy"}),
])
def test_fields_written(call, written):
    rng = np.random.default_rng(5)
    tree = add_joint_tree(rng, 10)
    model, data = tree.model, tree.data()
    for i in range(1, model.njoints):
        model.set_body_inertia(i, 1.0 + i, rng.normal(size=3), np.eye(3))
    kavrel.computeJointJacobiansTimeVariation(model, data, tree.random_q(rng), rng.normal(size=model.nv))
    before = snapshot(data)
    call(model, data, tree.random_q(rng), rng.normal(size=model.nv), 0)
    assert changed(before, snapshot(data)) == written


@pytest.mark.parametrize("target", range(11))
def test_single_joint_jacobian_writes_only_its_chain(target):
    rng = np.random.default_rng(6)
    tree = add_joint_tree(rng, 10)
    model, data, fresh = tree.model, tree.data(), tree.data()
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


# -- Jacobians against central differences of forward kinematics through integrate ---------------

def column_differences(tree, q, eps=1e-6):
    """fd[i][f][:, c]: central difference of joint i's placement along column c, in the three frames."""
    model, data = tree.model, tree.data()
    fd = np.zeros((model.njoints, 3, 6, model.nv))
    for c in range(model.nv):
        frames = []
        for t in (0.0, -eps, eps):
            kavrel.forwardKinematics(model, data, kavrel.integrate(model, q, t * np.eye(model.nv)[c]))
            frames.append(placements(data))
        for i, twists in enumerate(twists_from_placements(*frames, 2 * eps)):
            fd[i, :, :, c] = twists
    return fd


def check_jacobians(tree, rng):
    model, data = tree.model, tree.data()
    q = tree.random_q(rng)
    fd = column_differences(tree, q)
    kavrel.computeJointJacobians(model, data, q)
    J, oMi = data.J, placements(data)
    tol = 1e-6 * max(1.0, np.abs(J).max())
    for i in range(model.njoints):
        world = np.zeros_like(J)
        world[:, tree.support(i)] = J[:, tree.support(i)]
        assert_close(world, fd[i, 0], tol, f"world Jacobian of joint {i}")
        local = kavrel.computeJointJacobian(model, data, q, i)
        assert_close(local, fd[i, 1], tol, f"local Jacobian of joint {i}")
        assert_close(local, inverse_action(oMi[i]) @ world, 1e-12 * max(1.0, np.abs(J).max()),
                     f"local Jacobian of joint {i} against the world one")
    for frame, joint in tree.frames:
        for k, rf in enumerate(FRAMES):
            assert_close(kavrel.getFrameJacobian(model, data, frame, rf), fd[joint, k], tol, f"frame {frame} {rf}")


@pytest.mark.parametrize("build", BUILDERS)
@pytest.mark.parametrize("seed", range(3))
def test_jacobians_match_finite_differences(build, seed):
    rng = np.random.default_rng(20 + seed)
    check_jacobians(build(rng, 9), rng)


@pytest.mark.parametrize("name", ["iiwa", "hyq", "atlas_floating"])
def test_jacobians_of_benchmark_robots(robots_dir, name):
    check_jacobians(tree_from_urdf((robots_dir / "bench" / f"{name}.urdf").read_text()), np.random.default_rng(0))


@pytest.mark.parametrize("build", BUILDERS)
@pytest.mark.parametrize("seed", range(3))
def test_time_variation_matches_finite_differences(build, seed):
    rng = np.random.default_rng(30 + seed)
    tree = build(rng, 9)
    model, data, eps = tree.model, tree.data(), 1e-6
    q, v = tree.random_q(rng), rng.normal(size=model.nv)
    pairs = tree.frames
    jacobians = []
    for t in (-eps, eps):
        kavrel.computeJointJacobians(model, data, kavrel.integrate(model, q, t * v))
        jacobians.append((data.J, [[kavrel.getFrameJacobian(model, data, f, rf) for rf in FRAMES] for f, _ in pairs]))
    kavrel.computeJointJacobiansTimeVariation(model, data, q, v)
    tol = 1e-6 * max(1.0, np.abs(data.dJ).max())
    assert_close(data.dJ, (jacobians[1][0] - jacobians[0][0]) / (2 * eps), tol, "dJ")
    for n, (frame, _) in enumerate(pairs):
        for k, rf in enumerate(FRAMES):
            expected = (np.array(jacobians[1][1][n][k]) - jacobians[0][1][n][k]) / (2 * eps)
            assert_close(kavrel.getFrameJacobianTimeVariation(model, data, frame, rf), expected, tol,
                         f"frame {frame} {rf}")


@pytest.mark.parametrize("seed", range(2))
def test_world_velocity_is_jacobian_times_v(seed):
    rng = np.random.default_rng(40 + seed)
    tree = add_joint_tree(rng, 9)
    model, data = tree.model, tree.data()
    kavrel.computeJointJacobiansTimeVariation(model, data, tree.random_q(rng), v := rng.normal(size=model.nv))
    J, ov = data.J, data.ov
    for i in range(model.njoints):
        cols = tree.support(i)
        assert_close(np.r_[ov[i, 3:], ov[i, :3]], J[:, cols] @ v[cols], 1e-12 * max(1.0, np.abs(J).max()), f"ov[{i}]")


# -- closed forms and edge cases ------------------------------------------------------------------

def test_revolute_chain_columns():
    axis = np.array([0.0, 0.6, 0.8])
    model = model_of((0, "revolute", Z, [1, 0, 0]), (1, "revolute", 2 * axis, [0, 0.5, 0]),
                     (2, "revolute", X, [0, 0, 1]), (1, "prismatic", Y, [1, 1, 1]))
    data = Data(model)
    q = np.array([0.3, -0.7, 1.1, 0.4])
    kavrel.computeJointJacobians(model, data, q)
    h = data.oMi[2].homogeneous
    assert_close(data.J[:, 1], np.r_[np.cross(h[:3, 3], h[:3, :3] @ axis), h[:3, :3] @ axis], 1e-15, "column 1")
    local = kavrel.computeJointJacobian(model, data, q, 2)
    np.testing.assert_array_equal(local[:, 1], np.r_[0, 0, 0, axis])
    assert not local[:, 2:].any()  # the joint after the target and another branch
    assert local[:, 0].any()


def test_jacobians_of_models_without_velocity():
    for model in (Model(), model_of((0, "fixed", Z, [1, 2, 3]))):
        data = Data(model)
        q = np.zeros(0)
        kavrel.computeJointJacobians(model, data, q)
        kavrel.computeJointJacobiansTimeVariation(model, data, q, q)
        assert data.J.shape == data.dJ.shape == (6, 0) and not data.v.any()
        for joint in range(model.njoints):
            assert kavrel.computeJointJacobian(model, data, q, joint).shape == (6, 0)
        for rf in FRAMES:
            assert kavrel.getFrameJacobian(model, data, 0, rf).shape == (6, 0)
            assert kavrel.getFrameJacobianTimeVariation(model, data, 0, rf).shape == (6, 0)


def test_joint_zero_and_repeated_calls():
    rng = np.random.default_rng(7)
    tree = add_joint_tree(rng, 6)
    model, data, fresh = tree.model, tree.data(), tree.data()
    q1, q2 = tree.random_q(rng), tree.random_q(rng)
    kavrel.computeJointJacobians(model, data, q1)
    before = snapshot(data)
    assert not kavrel.computeJointJacobian(model, data, q2, 0).any()
    assert not changed(before, snapshot(data))
    kavrel.computeJointJacobians(model, data, q2)
    kavrel.computeJointJacobians(model, fresh, q2)
    np.testing.assert_array_equal(data.J, fresh.J)
    kavrel.computeJointJacobiansTimeVariation(model, fresh, q2, rng.normal(size=model.nv))
    np.testing.assert_array_equal(data.J, fresh.J)
    for rf in FRAMES:
        assert not kavrel.getFrameJacobian(model, data, 0, rf).any()


def test_time_variation_of_two_revolute_joints():
    model = model_of((0, "revolute", Z, [0, 0, 0]), (1, "revolute", X, [0, 0, 1]))
    data = Data(model)
    q = np.array([0.4, 0.2])
    kavrel.computeJointJacobiansTimeVariation(model, data, q, np.zeros(2))
    assert not data.dJ.any()
    for rf in FRAMES:
        assert not kavrel.getFrameJacobianTimeVariation(model, data, 0, rf).any()
    kavrel.computeJointJacobiansTimeVariation(model, data, q, np.array([2.0, 0.0]))
    np.testing.assert_array_equal(data.ov[1], [0, 0, 2, 0, 0, 0])
    np.testing.assert_array_equal(data.J[:, 0], [0, 0, 0, 0, 0, 1])
    assert not data.dJ[:, 0].any()
    assert np.abs(data.dJ[3:, 1]).max() > 0.5  # the second axis turns with the first joint


# -- frames of imported models --------------------------------------------------------------------

BRANCHED = ('<robot name="b"><link name="base"/><link name="a"/><link name="b"/><link name="c"/>'
            '<joint name="ja" type="revolute"><parent link="base"/><child link="a"/><origin xyz="0 0 1"/>'
            '<axis xyz="0 1 0"/><limit lower="-1" upper="1" effort="1" velocity="1"/></joint>'
            '<joint name="jb" type="spherical"><parent link="a"/><child link="b"/><origin xyz="1 0 0" rpy="0.1 0.2 0.3"/></joint>'
            '<joint name="jc" type="prismatic"><parent link="base"/><child link="c"/><origin xyz="0 1 0"/>'
            '<axis xyz="1 0 0"/><limit lower="-1" upper="1" effort="1" velocity="1"/></joint></robot>')


def test_frame_jacobian_edge_cases():
    model = kavrel.parse_urdf_from_string(BRANCHED)
    data = Data(model)
    ja, jb, jc, b = (model.getFrameId(n) for n in ("ja", "jb", "jc", "b"))
    for frame in range(model.nframes):
        for rf in FRAMES:
            assert not kavrel.getFrameJacobian(model, data, frame, rf).any()  # J is still zero
    q = np.array([0.5, 0.1, 0.2, 0.3, math.sqrt(0.86), 0.7])
    kavrel.computeJointJacobians(model, data, q)
    J = data.J
    world = kavrel.getFrameJacobian(model, data, jb, ReferenceFrame.WORLD)
    np.testing.assert_array_equal(world[:, :4], J[:, :4])
    assert not world[:, 4].any() and J[:, 4].any()  # the prismatic branch
    for rf in FRAMES:
        np.testing.assert_array_equal(kavrel.getFrameJacobian(model, data, jb, rf),
                                      kavrel.getFrameJacobian(model, data, b, rf))
        assert not kavrel.getFrameJacobian(model, data, model.getFrameId("base"), rf).any()
    lwa = kavrel.getFrameJacobian(model, data, jc, ReferenceFrame.LOCAL_WORLD_ALIGNED)
    np.testing.assert_array_equal(lwa[3:], kavrel.getFrameJacobian(model, data, jc, ReferenceFrame.WORLD)[3:])
    assert_close(kavrel.getFrameJacobian(model, data, ja, ReferenceFrame.LOCAL),
                 kavrel.computeJointJacobian(model, data, q, 1), 1e-14, "LOCAL against the joint Jacobian")
    kavrel.computeJointJacobiansTimeVariation(model, data, q, np.array([1.0, 0.5, -2.0, 0.3, 0.4]))
    np.testing.assert_array_equal(kavrel.getFrameJacobian(model, data, jb, ReferenceFrame.WORLD), world)
    tv_world = kavrel.getFrameJacobianTimeVariation(model, data, jb, ReferenceFrame.WORLD)
    tv_lwa = kavrel.getFrameJacobianTimeVariation(model, data, jb, ReferenceFrame.LOCAL_WORLD_ALIGNED)
    np.testing.assert_array_equal(tv_lwa[3:], tv_world[3:])
    assert tv_world[:, :4].any() and not tv_world[:, 4].any()
    for rf in FRAMES:
        assert not kavrel.getFrameJacobianTimeVariation(model, data, 0, rf).any()

