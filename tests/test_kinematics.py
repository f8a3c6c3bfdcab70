"""Forward kinematics, joint and frame placements, Jacobians and their time variation."""
import math

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Data, Model
from kinematic_trees import (FRAMES, PASSES, QUARTER_TURN_Z, S4, X, Z, assert_close, changed, model_of,
                             rpy_matrix, snapshot, source_tree, sources, twists_from_placements, urdf_tree, with_inertias)


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


WRITTEN = {
    "forwardKinematics": PLACEMENTS,
    "computeJointJacobian": {"liMi"},  # along its joint's chain only: none for joint 0
    "computeJointJacobians": PLACEMENTS | {"J"},
    "computeJointJacobiansTimeVariation": PLACEMENTS | {"v", "ov", "J", "dJ"},
    "getFrameJacobian": set(),
    "getFrameJacobianTimeVariation": set(),
    "rnea": PLACEMENTS | {"v", "a", "f", "tau"},
    "non_linear_effects": PLACEMENTS | {"v", "a", "f", "tau", "nle"},
    "compute_gravity": PLACEMENTS | {"v", "a", "f", "tau", "g"},
    "crba": PLACEMENTS | {"J", "composite_inertia", "M"},
    "computeCoriolisMatrix": PLACEMENTS | {"v", "ov", "J", "dJ", "composite_inertia", "ag", "C"},
    "aba": PLACEMENTS | {"ov", "J", "ddq"},
    "computeMinverse": PLACEMENTS | {"J", "Minv"},
    "rnea_derivatives": PLACEMENTS | {"v", "a", "f", "tau", "ov", "J", "dtau_dq", "dtau_dv"},
    "aba_derivatives": PLACEMENTS | {"ov", "J", "ddq", "Minv", "dtau_dq", "dtau_dv", "ddq_dq", "ddq_dv"},
    "computeAllTerms": PLACEMENTS | {"v", "ov", "J", "dJ", "a", "a_gf", "f", "momentum", "composite_inertia",
                                     "inertia_variation", "M", "nle", "g", "ag", "dag", "mass", "com", "vcom",
                                     "jcom", "hg", "dhg", "ig", "kinetic_energy", "potential_energy",
                                     "mechanical_energy"},
}


@pytest.mark.parametrize("name,index", [*((name, 0) for name in WRITTEN),
                                        *(("computeJointJacobian", k) for k in range(1, 11))])
def test_fields_written(name, index):
    rng = np.random.default_rng(10)  # a tree with every kind of joint
    tree = urdf_tree(rng, 10)
    model, data, fresh = with_inertias(tree.model, rng), Data(tree.model), Data(tree.model)
    kavrel.computeJointJacobiansTimeVariation(model, data, tree.random_q(rng), rng.normal(size=model.nv))
    before, q, v = snapshot(data), tree.random_q(rng), rng.normal(size=model.nv)
    PASSES[name](model, data, q, v, index)
    PASSES[name](model, clean := Data(model), q, v, index)
    after, own = snapshot(data), snapshot(clean)
    assert changed(before, after) - {"liMi"} == WRITTEN[name] - {"liMi"}
    for field in WRITTEN[name] - {"liMi"}:  # nothing of the last state is kept
        np.testing.assert_array_equal(after[field], own[field], field)
    # The passes are built with different vectorisation, yet the placements and Jacobian columns they write
    # are the kinematics' own, to the last bit; the local placements not written stay.
    kavrel.computeJointJacobians(model, fresh, q)
    for field in WRITTEN[name] & {"oMi", "J"}:
        np.testing.assert_array_equal(after[field], snapshot(fresh)[field], field)
    every = range(model.njoints) if "liMi" in WRITTEN[name] else []
    rows = tree.chain(index) if name == "computeJointJacobian" else every
    for i in range(model.njoints):
        expected = fresh.liMi[i].homogeneous if i in rows else before["liMi"][i]
        np.testing.assert_array_equal(after["liMi"][i], expected, err_msg=f"liMi[{i}]")
    if not name.startswith("getFrame"):  # a pass given a workspace older than its model fails before writing
        model.add_joint(2, "revolute", Z, SE3.identity(), "late")
        with pytest.raises(BaseException) as error:
            PASSES[name](model, data, np.ones(model.nq), np.ones(model.nv), 0)
        assert type(error.value).__name__ == "PanicException" and not isinstance(error.value, Exception)
        assert str(error.value) == (f"Data was created for another model: it has njoints 11, nq {data.nq}, nv "
                                    f"{data.nv} but the model has njoints 12, nq {data.nq + 1}, nv {data.nv + 1}")
        assert not changed(after, snapshot(data))


# -- placements, Jacobians and velocities against central differences through integrate ---------

def placed(model, data):
    """World placements of every joint, then of every frame, from the last forward kinematics."""
    frames = [kavrel.getFramePlacement(model, data, f).homogeneous for f in range(model.nframes)]
    return np.concatenate([data.oMi_homogeneous, np.reshape(frames, (-1, 4, 4))])


def frame_jacobians(model, data, getter):
    return np.array([[getter(model, data, f, rf) for rf in FRAMES] for f in range(model.nframes)])


@pytest.mark.parametrize("source", sources(range(4), ["bench/iiwa", "bench/hyq", "bench/atlas_floating"]))
def test_kinematics_match_finite_differences(source, request):
    tree = source_tree(source, rng := np.random.default_rng(20 + (source[1] if source[0] else 0)), 9, request)
    model, data, eps = tree.model, Data(tree.model), 1e-6
    same = []
    for i in range(model.njoints):  # on every joint an operational frame at a random placement, one at the identity
        placement = SE3(rpy_matrix(*rng.uniform(-math.pi, math.pi, 3)), rng.uniform(-0.5, 0.5, 3))
        assert model.add_frame(f"tool{i}", i, placement) == model.nframes - 1
        same.append(model.add_frame(f"same{i}", i, SE3.identity()))
    n, q, v = model.njoints, tree.random_q(rng), rng.normal(size=model.nv)
    kavrel.forwardKinematics(model, data, q)
    center = placed(model, data)
    for f, (joint, placement) in enumerate(zip(model.frame_parents, model.frame_placements)):
        assert_close(center[n + f], center[joint] @ placement.homogeneous, 1e-14, f"placement of frame {f}")
    # fd[k, reference frame, :, c]: twist of joint or frame k moved along velocity column c.
    fd = np.zeros((len(center), 3, 6, model.nv))
    for c, direction in enumerate(np.eye(model.nv)):
        moved = []
        for t in (-eps, eps):
            kavrel.forwardKinematics(model, data, kavrel.integrate(model, q, t * direction))
            moved.append(placed(model, data))
        fd[..., c] = twists_from_placements(center, *moved, 2 * eps)

    kavrel.computeJointJacobians(model, data, q)
    J, jacobians = data.J, frame_jacobians(model, data, kavrel.getFrameJacobian)
    tol, tight = 1e-6 * max(1.0, np.abs(J).max()), 1e-12 * max(1.0, np.abs(J).max())
    on_chain = lambda m, i: np.where(np.isin(np.arange(model.nv), tree.support(i)), m, 0.0)
    for i in range(n):
        world, local = on_chain(J, i), kavrel.computeJointJacobian(model, data, q, i)
        assert_close(world, fd[i, 0], tol, f"world Jacobian of joint {i}")
        assert_close(local, inverse_action(center[i]) @ world, tight, f"local Jacobian of joint {i} from the world one")
        np.testing.assert_array_equal(local, on_chain(local, i), f"columns off joint {i}'s chain are exactly zero")
        assert_close(jacobians[same[i], 1], local, tight, f"LOCAL at the identity on joint {i}")
    assert_close(jacobians, fd[n:], tol, "frame Jacobians (frame, reference frame, row, column)")
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
    for f, joint in enumerate(model.frame_parents):  # in every reference frame no column off the frame's chain
        for got in (jacobians, variations):
            np.testing.assert_array_equal(got[f], on_chain(got[f], joint), f"frame {f}")
    # World velocities, angular rows first, are J v over each joint's chain.
    for i, ov in enumerate(data.ov):
        assert_close(np.r_[ov[3:], ov[:3]], on_chain(J, i) @ v, tight, f"ov[{i}] = J v")
    # A frame at the identity on a joint (the importer's joint and link frames too) has its placement and
    # columns to the last bit, in every reference frame.
    for f, (joint, placement) in enumerate(zip(model.frame_parents, model.frame_placements)):
        if np.array_equal(placement.homogeneous, np.eye(4)):
            np.testing.assert_array_equal(center[n + f], center[joint])
            for got, columns in ((jacobians, J), (variations, data.dJ)):
                np.testing.assert_array_equal(got[f, 0], on_chain(columns, joint), f"frame {f}")
                np.testing.assert_array_equal(got[f], got[same[joint]], f"frame {f}")


# -- models without velocity ---------------------------------------------------------------------

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
