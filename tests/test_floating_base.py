"""A floating base for a model whose root body is welded to the world."""
import math

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Model
from kinematic_trees import described, random_state, urdf_tree


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


def test_a_named_base_and_a_frame_fixed_to_the_world():
    """Every other table, and the dynamics: see the benchmark files above."""
    fixed = urdf_tree(np.random.default_rng(11), 8).model
    fixed.add_frame("on_the_world", 0, SE3(np.eye(3), np.ones(3)))
    model = fixed.with_floating_base(name="free")
    assert Model().with_floating_base().names == ["universe", "root_joint"]
    assert model.names[:2] == ["universe", "free"] and model.parents[1] == 0
    assert model.frame_names[1] == "free" and model.frame_types[1] == "JOINT" and model.frame_parents[1] == 1
    assert model.frame_parents[2] == 1 and model.frame_parents[-1] == 0  # the root body moves; the other frame stays
