"""Mass matrix, inverse dynamics, Coriolis matrix and all terms: identities between independent
algorithms, finite differences and closed forms."""
import math
from types import SimpleNamespace

import numpy as np
import pytest

import kavrel
from kavrel import Data
from kinematic_trees import X, Z, assert_close, model_of, random_state, source_tree, sources, with_inertias

ROBOTS = ["bench/iiwa", "bench/hyq_floating", "bench/atlas_floating", "panda", "g1", "pr2"]


@pytest.fixture(params=sources((1, 2), ROBOTS))
def case(request):
    """A model, a workspace, a random state, and which coordinate pairs share a chain (one's joint is an
    ancestor of, or is, the other's)."""
    build, key = request.param
    tree = source_tree(request.param, rng := np.random.default_rng(key if build else 3), 14, request)
    model, owner = tree.model, np.repeat(np.arange(len(tree.nv_of)), tree.nv_of)
    chains = [set(tree.support(i)) for i in owner]
    q, v, a = (tree.random_q(rng), *rng.normal(size=(2, model.nv))) if build else random_state(model, rng)
    return SimpleNamespace(model=model, data=model.createData(), q=q, v=v, a=a, ancestry=np.array(
        [[i in chains[j] or j in chains[i] for j in range(model.nv)] for i in range(model.nv)]))


def mass_matrix(case, q):
    kavrel.crba(case.model, case.data, q)
    return case.data.M


def scale(x, rel=1e-9):
    return rel * max(1.0, float(np.max(np.abs(x))) if np.size(x) else 1.0)


def central_difference(f, model, q, direction, h=1e-6):
    return (f(kavrel.integrate(model, q, h * direction)) - f(kavrel.integrate(model, q, -h * direction))) / (2 * h)


def test_mass_matrix_inverse_dynamics_coriolis_and_all_terms(case):
    model, data, q, v, a = case.model, case.data, case.q, case.v, case.a
    upper, M = kavrel.crba(model, data, q), data.M
    np.testing.assert_array_equal(upper, np.triu(M))
    np.testing.assert_array_equal(M, M.T)
    # Positive definite, or semi-definite where a joint moves only massless links (as on the PR2's grippers).
    assert np.linalg.eigvalsh(M).min() > -1e-12 * np.abs(M).max()
    tau, nle, g = (kavrel.rnea(model, data, q, v, a), kavrel.non_linear_effects(model, data, q, v),
                   kavrel.compute_gravity(model, data, q))
    assert_close(tau, M @ a + nle, scale(tau), "rnea = M a + nle")
    # The mass matrix again, column by column from inverse dynamics.
    columns = np.array([kavrel.rnea(model, data, q, np.zeros(model.nv), e) - g for e in np.eye(model.nv)]).T
    assert_close(columns, M, scale(M), "rnea(q, 0, e_k) - g")
    assert kavrel.computeCoriolisMatrix(model, data, q, v) is None
    C = data.C
    assert_close(C @ v, nle - g, scale(nle), "C v = nle - g")
    dM = central_difference(lambda x: mass_matrix(case, x), model, q, v)
    assert_close(C + C.T, dM, scale(dM, 1e-6), "C + C^T = dM/dt")
    assert np.all(M[~case.ancestry] == 0.0) and np.all(C[~case.ancestry] == 0.0), "zero between branches"

    assert kavrel.computeAllTerms(model, data, q, v) is None
    np.testing.assert_array_equal(data.M, M)
    for name, expected in (("nle", nle), ("g", g)):
        assert_close(getattr(data, name), expected, scale(expected), name)
    assert math.isclose(data.kinetic_energy, 0.5 * v @ M @ v, rel_tol=1e-12, abs_tol=1e-12)
    # Centroidal momentum from the columns; the centre of mass and its velocity from the bodies.
    assert_close(data.hg, np.r_[(data.ag @ v)[3:], (data.ag @ v)[:3]], scale(data.hg), "hg = ag v")
    assert_close(data.jcom @ v, data.vcom[0], scale(data.vcom), "jcom v = vcom")
    bodies = [model.get_body_inertia(i) for i in range(model.njoints)]
    centres = [m.homogeneous[:3, :3] @ lever + m.homogeneous[:3, 3] for m, (_, lever, _) in zip(data.oMi, bodies)]
    masses = np.array([b[0] for b in bodies[1:]])
    assert math.isclose(data.mass[0], masses.sum(), rel_tol=1e-12)
    assert_close(data.com[0], masses @ np.array(centres[1:]) / masses.sum(), 1e-12, "com")
    # The time variation of the columns, and gravity as the gradient of the potential energy.
    dag = data.dag
    all_terms = lambda x, field: (kavrel.computeAllTerms(model, data, x, v), getattr(data, field))[1]
    assert_close(dag, central_difference(lambda x: all_terms(x, "ag"), model, q, v), scale(dag, 1e-6), "dag")
    gradient = [central_difference(lambda x: all_terms(x, "potential_energy"), model, q, e) for e in np.eye(model.nv)]
    assert_close(gradient, g, scale(g, 1e-6), "g = dV/dq")


def differences(f, model, q, v, h):
    """Central differences of f(q, v): along integrate's step of each coordinate of q, and along v."""
    steps = np.eye(model.nv)
    by_q = [central_difference(lambda x: f(x, v), model, q, e, h) for e in steps]
    by_v = [(f(q, v + h * e) - f(q, v - h * e)) / (2 * h) for e in steps]
    return np.array(by_q).T.reshape(model.nv, model.nv), np.array(by_v).T.reshape(model.nv, model.nv)


SINGULAR = "^Joint .* has no inertia to accelerate: the mass matrix is singular$"


def test_forward_dynamics_and_derivatives(case):
    model, data, q, v, a = case.model, case.data, case.q, case.v, case.a
    dtau_dq, dtau_dv = kavrel.rnea_derivatives(model, data, q, v, a)
    tau = data.tau.copy()
    np.testing.assert_array_equal(tau, kavrel.rnea(model, data, q, v, a))
    np.testing.assert_array_equal(data.dtau_dq, dtau_dq)
    for name, actual, expected in zip(("dtau_dq", "dtau_dv"), (dtau_dq, dtau_dv),
                                      differences(lambda x, y: kavrel.rnea(model, data, x, y, a), model, q, v, 1e-5)):
        assert_close(actual, expected, scale(expected, 1e-8), name)
    # At rest and without acceleration only gravity is left.
    zero = np.zeros(model.nv)
    g_dq, g_dv = kavrel.rnea_derivatives(model, data, q, zero, zero)
    assert not g_dv.any(), "dtau_dv = 0 at v = 0, a = 0"
    if model.nq == model.nv:  # revolute and prismatic joints only: dg/dq is the Hessian of the potential
        assert_close(g_dq, g_dq.T, scale(g_dq, 1e-12), "dg/dq symmetric")

    M, torque = mass_matrix(case, q), a[::-1].copy()
    if np.linalg.eigvalsh(M).min() <= 1e-12 * np.abs(M).max():
        # A joint moving only massless links has no acceleration to give.
        for call in (kavrel.aba, kavrel.aba_derivatives):
            with pytest.raises(ValueError, match=SINGULAR):
                call(model, data, q, v, torque)
        return
    ddq = kavrel.aba(model, data, q, v, tau)
    assert_close(ddq, a, scale(a), "aba(rnea(a)) = a")
    np.testing.assert_array_equal(data.ddq, ddq)
    assert_close(kavrel.rnea(model, data, q, v, kavrel.aba(model, data, q, v, torque)), torque,
                 scale(tau), "rnea(aba(tau)) = tau")
    Minv = kavrel.computeMinverse(model, data, q)
    np.testing.assert_array_equal(Minv, Minv.T)
    np.testing.assert_array_equal(data.Minv, Minv)
    assert_close(Minv @ M, np.eye(model.nv), 1e-9, "Minv M = I")

    ddq_dq, ddq_dv, ddq_dtau = kavrel.aba_derivatives(model, data, q, v, torque)
    ddq = kavrel.aba(model, data, q, v, torque)
    np.testing.assert_array_equal(ddq_dtau, Minv)
    # With the differences of rnea above, these identities pin the derivatives of aba.
    at_ddq = kavrel.rnea_derivatives(model, data, q, v, ddq)
    for name, actual, expected in zip(("ddq_dq", "ddq_dv"), (ddq_dq, ddq_dv), at_ddq):
        assert_close(actual, -ddq_dtau @ expected, scale(actual), f"{name} = -Minv dtau")
    kavrel.aba_derivatives(model, data, q, v, torque)
    np.testing.assert_array_equal(data.ddq, ddq)
    np.testing.assert_array_equal(data.ddq_dq, ddq_dq)
    np.testing.assert_array_equal(data.ddq_dv, ddq_dv)


def test_one_workspace_for_trees_of_the_same_sizes():
    """The derivatives keep where each tree's entries can be nonzero, and write only there; another tree of
    the same sizes must not find the last one's (two branches, a chain, where more entries are nonzero, and
    the branches again)."""
    rng = np.random.default_rng(5)
    shapes = [(0, 1, 2, 0, 4, 5), (0, 1, 2, 3, 4, 5), (0, 1, 2, 0, 4, 5)]
    joints = [[(p, "revolute", rng.normal(size=3), rng.uniform(-1, 1, 3)) for p in parents] for parents in shapes]
    models = [with_inertias(model_of(*rows), rng) for rows in joints]
    shared = Data(models[0])
    for model in models:
        q, v, tau = rng.normal(size=(3, model.nv))
        for derivatives in (kavrel.aba_derivatives, kavrel.rnea_derivatives):
            own = derivatives(model, Data(model), q, v, tau)
            for shared_result, expected in zip(derivatives(model, shared, q, v, tau), own):
                np.testing.assert_array_equal(shared_result, expected)


# -- closed forms ---------------------------------------------------------------------------------

def single_joint(kind, axis, mass, lever, rotational=np.zeros((3, 3))):
    model = model_of((0, kind, axis, [0, 0, 0]))
    model.set_body_inertia(1, mass, np.array(lever, float), np.array(rotational, float))
    return model, Data(model)


@pytest.mark.parametrize("angle,rate", [(0.0, 0.0), (0.3, 2.0), (-1.2, -0.5), (2.5, 0.0)])
def test_pendulum(angle, rate):
    """Unit mass at unit distance from the x axis (its lever along the axis changes nothing), rotational
    inertia 0.1 about x at the centre of mass, gravity about x too: M = 1.1, g = 9.81 cos q - 1.1, and nothing
    depends on the rate. The derivatives are exact, closer than any finite difference of the identities could tell."""
    model, data = single_joint("revolute", X, 1.0, [0.3, 1, 0], np.diag([0.1, 0.2, 0.3]))
    model.set_gravity_angular(X)
    q, v, a = np.array([angle]), np.array([rate]), np.array([1.0])
    np.testing.assert_allclose(kavrel.compute_gravity(model, data, q), [9.81 * math.cos(angle) - 1.1], rtol=1e-15)
    kavrel.computeAllTerms(model, data, q, v)
    np.testing.assert_allclose(data.g, [9.81 * math.cos(angle) - 1.1], rtol=1e-15)
    dtau_dq, dtau_dv = kavrel.rnea_derivatives(model, data, q, v, a)
    ddq_dq, ddq_dv, ddq_dtau = kavrel.aba_derivatives(model, data, q, v, a)
    np.testing.assert_allclose([dtau_dq[0, 0], ddq_dq[0, 0]], [-9.81 * math.sin(angle), 9.81 * math.sin(angle) / 1.1],
                               rtol=1e-14, atol=1e-15)
    np.testing.assert_allclose([kavrel.crba(model, data, q)[0, 0], 1 / ddq_dtau[0, 0]], [1.1, 1.1], rtol=1e-15)
    assert abs(dtau_dv[0, 0]) < 1e-14 and abs(ddq_dv[0, 0]) < 1e-13


def test_two_link_planar_arm_coriolis():
    model = model_of((0, "revolute", Z, [0, 0, 0]), (1, "revolute", Z, X))
    for i in (1, 2):
        model.set_body_inertia(i, 1.0, np.array([0.5, 0, 0]), np.zeros((3, 3)))
    data = Data(model)
    rng = np.random.default_rng(4)
    for q, v in [((0.3, math.pi / 2), (1, 0)), ((0.7, 0.0), (2, -1)), tuple(rng.normal(size=(2, 2)))]:
        h = 0.5 * math.sin(q[1])
        kavrel.computeCoriolisMatrix(model, data, np.array(q, float), np.array(v, float))
        assert_close(data.C, [[-h * v[1], -h * (v[0] + v[1])], [h * v[0], 0]], 1e-15, "C")


def test_singular_models_are_refused():
    model = model_of((0, "revolute", Z, [0, 0, 0]), (1, "prismatic", X, [0, 0, 0]), (2, "fixed", X, [0, 0, 0]))
    model.set_body_inertia(1, 1.0, np.array([1.0, 0, 0]), np.eye(3))
    data, q, v = Data(model), np.zeros(2), np.ones(2)
    # Only the slider's subtree is massless; the arm could still turn.
    model.set_body_inertia(3, 1e-3, np.zeros(3), np.zeros((3, 3)))
    kavrel.aba(model, data, q, v, v)
    kavrel.computeMinverse(model, data, q)
    ddq, minv = data.ddq, data.Minv
    model.set_body_inertia(3, 0.0, np.zeros(3), np.eye(3))  # rotational inertia cannot resist sliding
    for call in (lambda: kavrel.aba(model, data, q, v, v), lambda: kavrel.computeMinverse(model, data, q),
                 lambda: kavrel.aba_derivatives(model, data, q, v, v)):
        with pytest.raises(ValueError) as error:
            call()
        assert str(error.value) == "Joint j2 has no inertia to accelerate: the mass matrix is singular"
        np.testing.assert_array_equal(data.ddq, ddq)
        np.testing.assert_array_equal(data.Minv, minv)


def test_free_floating_body():
    inertia = np.diag([0.1, 0.2, 0.3])
    model, data = single_joint("floating", Z, 2.0, [0, 0, 0], inertia)
    q = np.r_[1, 2, 3, 0, 0, 0, 1.0]
    w, alpha, lin = np.array([0.3, -0.2, 0.5]), np.array([1.0, 2.0, 3.0]), np.array([0.5, 0, -1])
    tau = kavrel.rnea(model, data, q, np.r_[0, 0, 0, w], np.r_[lin, alpha])
    # Weight plus mass times acceleration; Euler's equations for the moment.
    assert_close(tau[:3], 2.0 * (lin + [0, 0, 9.81]), 1e-14, "force")
    assert_close(tau[3:], inertia @ alpha + np.cross(w, inertia @ w), 1e-14, "moment")
    # Turned a quarter about y (body z along world x): free fall along body x; a torque about z spins it.
    q = np.r_[1, 2, 3, 0, math.sin(math.pi / 4), 0, math.cos(math.pi / 4)]
    ddq = kavrel.aba(model, data, q, np.zeros(6), np.r_[0, 0, 0, 0, 0, 0.6])
    np.testing.assert_allclose(ddq, [9.81, 0, 0, 0, 0, 2.0], atol=1e-13)


def test_massless_links_keep_rotational_inertia():
    model = model_of((0, "revolute", Z, [0, 0, 0]), (1, "revolute", Z, [0, 0, 0]))
    data, q, a = Data(model), np.array([0.2, 0.4]), np.array([1.0, -2.0])
    # First with a unit mass at unit distance, so that there is a centre-of-mass Jacobian to clear.
    model.set_body_inertia(2, 1.0, X, np.eye(3))
    kavrel.computeAllTerms(model, data, q, np.array([1.0, 1.0]))
    assert_close(data.jcom, [[-math.sin(0.6)] * 2, [math.cos(0.6)] * 2, [0, 0]], 1e-15, "jcom")
    # Both bodies below the mass threshold; the child's rotational inertia still reaches its parent.
    model.set_body_inertia(2, 0.0, np.zeros(3), np.diag([0.0, 0.0, 0.5]))
    np.testing.assert_array_equal(kavrel.crba(model, data, q), [[0.5, 0.5], [0, 0.5]])
    np.testing.assert_allclose(kavrel.rnea(model, data, q, np.zeros(2), a), data.M @ a, rtol=1e-15)
    kavrel.computeAllTerms(model, data, q, np.array([1.0, 1.0]))
    assert data.kinetic_energy == 0.5 * 0.5 * 2.0 ** 2
    assert data.mass[0] == 0.0 and not data.com.any() and not data.vcom.any() and not data.jcom.any()
