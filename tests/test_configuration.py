"""neutral and integrate: closed forms and unit norms (on random trees: the finite differences of the kinematics)."""
import math

import numpy as np
import pytest

import kavrel
from kinematic_trees import S4, Z, assert_close, model_of


def chain(*kinds):
    return model_of(*((i, kind, Z, [0, 0, 0]) for i, kind in enumerate(kinds)))


@pytest.mark.parametrize("kinds,expected", [
    ((), []), (("fixed",), []), (("revolute", "prismatic"), [0, 0]), (("planar",), [0, 0, 1, 0]),
    (("spherical",), [0, 0, 0, 1]), (("floating", "revolute", "continuous"), [0, 0, 0, 0, 0, 0, 1, 0, 1, 0]),
])
def test_neutral_and_a_zero_step_from_it(kinds, expected):
    q = kavrel.neutral(model := chain(*kinds))
    for result in (q, kavrel.integrate(model, q, np.zeros(model.nv))):
        assert result.dtype == np.float64 and result.shape == (len(expected),)
        np.testing.assert_array_equal(result, expected)


@pytest.mark.parametrize("kind,q,v,expected", [
    ("revolute", [3.0], [1.0], [4.0]),  # angles are not wrapped
    ("prismatic", [1.0], [-3.0], [-2.0]),
    ("continuous", [1, 0], [math.pi / 2], [0, 1]),
    ("continuous", [0, 1], [-math.pi], [0, -1]),
    ("continuous", [0.9, 0], [0], [0.9855, 0]),  # pulled towards the circle to first order only
    ("planar", [0, 0, 0, 1.1], [1, 0, 0], [0, 1.1, 0, 0.9845]),
    ("planar", [0, 0, 1, 0], [1, 0, math.pi], [0, 2 / math.pi, -1, 0]),
    ("planar", [0, 0, 1, 0], [1, 2, 0], [1, 2, 1, 0]),
    ("planar", [1, 1, 0, 1], [1, 0, 0], [1, 2, 0, 1]),  # moves along the joint's own x
    ("floating", [0, 0, 0, 0, 0, 0, 1], [1, 2, 3, 0, 0, 0], [1, 2, 3, 0, 0, 0, 1]),
    ("floating", [0, 0, 0, 0, 0, S4, S4], [1, 2, 3, 0, 0, 0], [-2, 1, 3, 0, 0, S4, S4]),
    ("floating", [0, 0, 0, 0, 0, 0, 1], [1, 0, 0, 0, 0, math.pi / 2], [1, 0, 0, 0, 0, S4, S4]),
    ("floating", [0, 0, 0, 0, 0, 0, 2], [0, 0, 0, 0, 0, 0], [0, 0, 0, 0, 0, 0, 1]),
    ("spherical", [0, 0, 0, 1], [0, 0, math.pi], [0, 0, 1, 0]),
    ("spherical", [0, 0, 0, 1], [1e-9, 0, 0], [5e-10, 0, 0, 1]),
    ("spherical", [0, 0, S4, S4], [math.pi / 2, 0, 0], [0.5, 0.5, 0.5, 0.5]),  # w in the moving frame
    ("spherical", [0, 0, 0, 2], [0.1, 0.2, 0.3], None),
    # Components whose squares overflow or underflow are scaled before the norm is taken.
    ("spherical", [1e200, 0, 0, 1e200], [0, 0, 0], [S4, 0, 0, S4]),
    ("spherical", [0, 3e-200, 0, 3e-200], [0, 0, 0], [0, S4, 0, S4]),
    ("floating", [1, 2, 3, 0, 0, 1e300, 1e300], [1, 0, 0, 0, 0, 0], [1, 3, 3, 0, 0, S4, S4]),
])
def test_integrate_closed_form(kind, q, v, expected):
    arrays = np.array(q, dtype=float), np.array(v, dtype=float)
    result = kavrel.integrate(chain(kind), *arrays)
    assert [a.tolist() for a in arrays] == [q, v]  # the inputs are not written
    if expected is None:  # a quaternion of norm 2 is normalised before the update
        assert abs(np.linalg.norm(result) - 1.0) < 1e-12
    else:
        assert_close(result, expected, 1e-15 if kind == "spherical" and v[0] == 1e-9 else 1e-12, kind)
