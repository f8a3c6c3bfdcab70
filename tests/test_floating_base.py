"""A floating base for a model whose root body is welded to the world."""
import math

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Model
from kinematic_trees import add_joint_tree, assert_close, described, random_state, urdf_tree


@pytest.mark.parametrize("name", ["hyq", "atlas"])
def test_against_the_floating_benchmark_file(robots_dir, name):
    fixed = kavrel.parse_urdf_file(str(robots_dir / "bench" / f"{name}.urdf"))
    reference = kavrel.parse_urdf_file(str(robots_dir / "bench" / f"{name}_floating.urdf"))
    before = fixed.__reduce__()[2]  # everything pickling keeps
    model = fixed.with_floating_base()
    assert fixed.__reduce__()[2] == before
    ours, theirs = described(model), described(reference)
    # The file has one more frame, its "world" link on joint 0, and limits on the base, which has none here.
    theirs["nframes"] -= 1
    for table in ("frame_names", "frame_parents", "frame_types"):
        theirs[table] = theirs[table][:1] + theirs[table][2:]
    theirs["placements"] = np.delete(theirs["placements"], model.njoints + 1, axis=0)
    theirs["lowerPositionLimit"][:6], theirs["upperPositionLimit"][:6] = -math.inf, math.inf
    for table in ours:
        np.testing.assert_array_equal(ours[table], theirs[table], err_msg=table)

    q, v, a = random_state(model, np.random.default_rng(5))
    ours, theirs = model.createData(), reference.createData()
    for m, d in ((model, ours), (reference, theirs)):
        kavrel.computeJointJacobians(m, d, q)
    np.testing.assert_array_equal(ours.oMi_homogeneous, theirs.oMi_homogeneous)
    np.testing.assert_array_equal(ours.J, theirs.J)
    np.testing.assert_array_equal(kavrel.rnea(model, ours, q, v, a), kavrel.rnea(reference, theirs, q, v, a))
    np.testing.assert_array_equal(kavrel.crba(model, ours, q), kavrel.crba(reference, theirs, q))


@pytest.mark.parametrize("build", [add_joint_tree, urdf_tree])
def test_a_base_at_rest_at_the_origin_leaves_the_old_dynamics(build):
    rng = np.random.default_rng(11)
    tree = build(rng, 8)
    fixed = tree.model
    for i in range(fixed.njoints):  # joint 0 too: the welded root body
        fixed.set_body_inertia(i, rng.uniform(0.5, 2.0), rng.normal(size=3) * 0.2, np.diag(rng.uniform(0.1, 1.0, 3)))
    fixed.add_frame("on_the_world", 0, SE3(np.eye(3), np.ones(3)))
    model = fixed.with_floating_base(name="free")
    assert Model().with_floating_base().names == ["universe", "root_joint"]
    assert model.names[:2] == ["universe", "free"] and model.parents[1] == 0
    assert model.frame_names[1] == "free" and model.frame_types[1] == "JOINT" and model.frame_parents[1] == 1
    assert model.frame_parents[-1] == 0  # a frame fixed to the world stays there
    q, v, a = tree.random_q(rng), rng.normal(size=fixed.nv), rng.normal(size=fixed.nv)
    qf, vf, af = np.r_[0, 0, 0, 0, 0, 0, 1.0, q], np.r_[np.zeros(6), v], np.r_[np.zeros(6), a]
    old, new = fixed.createData(), model.createData()
    kavrel.crba(fixed, old, q)
    kavrel.crba(model, new, qf)
    scale = max(1.0, np.abs(old.M).max())
    assert_close(new.M[6:, 6:], old.M, 1e-13 * scale, "mass matrix")
    assert_close(kavrel.rnea(model, new, qf, vf, af)[6:], kavrel.rnea(fixed, old, q, v, a), 1e-12 * scale, "rnea")
    assert_close(new.oMi_homogeneous[2:], old.oMi_homogeneous[1:], 1e-14, "placements")
    # The base carries the whole robot: its force rows are the total gravity force when nothing moves.
    kavrel.computeAllTerms(model, new, qf, np.zeros(model.nv))
    assert_close(new.g[:3], -sum(fixed.get_body_inertia(i)[0] for i in range(fixed.njoints)) * model.gravity,
                 1e-12 * scale, "base force")
