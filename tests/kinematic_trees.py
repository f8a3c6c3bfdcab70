"""Models shared by the tests: random kinematic trees built with add_joint or as URDF text, small
chains, random inertias, and snapshots of a workspace."""
import math
from xml.etree import ElementTree

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Data, Model, ReferenceFrame

X, Y, Z = np.eye(3)
S4 = math.sin(math.pi / 4)
QUARTER_TURN_Z = np.array([[0.0, -1.0, 0.0], [1.0, 0.0, 0.0], [0.0, 0.0, 1.0]])
FRAMES = [ReferenceFrame.WORLD, ReferenceFrame.LOCAL, ReferenceFrame.LOCAL_WORLD_ALIGNED]
SIZES = {"fixed": (0, 0), "revolute": (1, 1), "continuous": (2, 1), "prismatic": (1, 1),
         "planar": (4, 3), "floating": (7, 6), "spherical": (4, 3)}
ADD_JOINT_KINDS = ("fixed", "revolute", "prismatic", "floating")
ALL_KINDS = tuple(SIZES)


def rpy_matrix(r, p, y):
    cr, sr, cp, sp, cy, sy = math.cos(r), math.sin(r), math.cos(p), math.sin(p), math.cos(y), math.sin(y)
    return np.array([[cy * cp, cy * sp * sr - sy * cr, cy * sp * cr + sy * sr],
                     [sy * cp, sy * sp * sr + cy * cr, sy * sp * cr - cy * sr],
                     [-sp, cp * sr, cp * cr]])


class Tree:
    """A model with the kind of every joint, which Python cannot read back from the model."""

    def __init__(self, model, kinds):
        self.model, self.kinds = model, kinds
        nq = [SIZES[k][0] for k in kinds]
        nv = [SIZES[k][1] for k in kinds]
        assert (sum(nq), sum(nv)) == (model.nq, model.nv)
        self.q_idx = np.concatenate([[0], np.cumsum(nq)[:-1]]).astype(int)
        self.v_idx = np.concatenate([[0], np.cumsum(nv)[:-1]]).astype(int)
        self.nv_of = nv
        self.parents = model.parents

    def chain(self, i):
        """Joint i and its ancestors, the universe left out."""
        joints = []
        while i != 0:
            joints.append(i)
            i = self.parents[i]
        return joints

    def support(self, i):
        """Velocity columns of joint i and its ancestors."""
        return sorted(c for j in self.chain(i) for c in range(self.v_idx[j], self.v_idx[j] + self.nv_of[j]))

    def random_q(self, rng):
        q = np.zeros(self.model.nq)
        for kind, o in zip(self.kinds, self.q_idx):
            angle = rng.uniform(-math.pi, math.pi)
            quat = rng.normal(size=4)
            quat /= np.linalg.norm(quat)
            q[o:o + SIZES[kind][0]] = {
                "fixed": [], "revolute": [angle], "prismatic": [rng.uniform(-1, 1)],
                "continuous": [math.cos(angle), math.sin(angle)],
                "planar": [*rng.uniform(-1, 1, 2), math.cos(angle), math.sin(angle)],
                "floating": [*rng.uniform(-1, 1, 3), *quat], "spherical": quat}[kind]
        return q


# Every pass that writes a workspace, as f(model, data, q, v, index): v serves as acceleration or torque too,
# index as the joint or frame id.
PASSES = {
    "forwardKinematics": lambda m, d, q, v, i: kavrel.forwardKinematics(m, d, q),
    "computeJointJacobians": lambda m, d, q, v, i: kavrel.computeJointJacobians(m, d, q),
    "computeJointJacobian": lambda m, d, q, v, i: kavrel.computeJointJacobian(m, d, q, i),
    "computeJointJacobiansTimeVariation": lambda m, d, q, v, i: kavrel.computeJointJacobiansTimeVariation(m, d, q, v),
    "getFrameJacobian": lambda m, d, q, v, i: kavrel.getFrameJacobian(m, d, i, ReferenceFrame.LOCAL),
    "getFrameJacobianTimeVariation": lambda m, d, q, v, i: kavrel.getFrameJacobianTimeVariation(
        m, d, i, ReferenceFrame.LOCAL),
    "rnea": lambda m, d, q, v, i: kavrel.rnea(m, d, q, v, v),
    "non_linear_effects": lambda m, d, q, v, i: kavrel.non_linear_effects(m, d, q, v),
    "compute_gravity": lambda m, d, q, v, i: kavrel.compute_gravity(m, d, q),
    "crba": lambda m, d, q, v, i: kavrel.crba(m, d, q),
    "computeCoriolisMatrix": lambda m, d, q, v, i: kavrel.computeCoriolisMatrix(m, d, q, v),
    "computeAllTerms": lambda m, d, q, v, i: kavrel.computeAllTerms(m, d, q, v),
    "aba": lambda m, d, q, v, i: kavrel.aba(m, d, q, v, v),
    "computeMinverse": lambda m, d, q, v, i: kavrel.computeMinverse(m, d, q),
    "rnea_derivatives": lambda m, d, q, v, i: kavrel.rnea_derivatives(m, d, q, v, v),
    "aba_derivatives": lambda m, d, q, v, i: kavrel.aba_derivatives(m, d, q, v, v),
}


def random_joint_rows(rng, n, kinds):
    """n joints; joint k (1-based) carries link k and hangs from a random earlier link."""
    joint_rows = []
    for k in range(1, n + 1):
        axis = rng.normal(size=3)
        axis *= rng.uniform(0.5, 2.0) / np.linalg.norm(axis)
        joint_rows.append(dict(name=f"j{k}", kind=kinds[rng.integers(len(kinds))], parent=int(rng.integers(k)),
                          xyz=rng.uniform(-0.5, 0.5, 3), rpy=rng.uniform(-math.pi, math.pi, 3), axis=axis))
    return joint_rows


def add_joint_tree(rng, n, kinds=ADD_JOINT_KINDS):
    model = Model()
    joint_rows = random_joint_rows(rng, n, kinds)
    for s in joint_rows:
        model.add_joint(s["parent"], s["kind"], s["axis"], SE3(rpy_matrix(*s["rpy"]), s["xyz"]), s["name"])
    return Tree(model, ["fixed"] + [s["kind"] for s in joint_rows])


def urdf_text(joint_rows):
    fmt = lambda x: " ".join(f"{c:.17g}" for c in x)
    parts = ['<robot name="random">'] + [f'<link name="l{k}"/>' for k in range(len(joint_rows) + 1)]
    for k, s in enumerate(joint_rows, 1):
        parts.append(f'<joint name="{s["name"]}" type="{s["kind"]}"><parent link="l{s["parent"]}"/>'
                     f'<child link="l{k}"/><origin xyz="{fmt(s["xyz"])}" rpy="{fmt(s["rpy"])}"/>'
                     f'<axis xyz="{fmt(s["axis"])}"/><limit lower="-1" upper="1" effort="1" velocity="1"/></joint>')
    return "".join(parts + ["</robot>"])


def tree_from_urdf(text):
    """The imported model; the joint kinds come from the document."""
    model = kavrel.parse_urdf_from_string(text)
    kind_of = {j.get("name"): j.get("type") for j in ElementTree.fromstring(text).findall("joint")}
    # The importer numbers joints depth first; names map them back.
    return Tree(model, ["fixed"] + [kind_of[name] for name in model.names[1:]])


def urdf_tree(rng, n, kinds=ALL_KINDS):
    return tree_from_urdf(urdf_text(random_joint_rows(rng, n, kinds)))


def model_of(*joints):
    """joints: (parent, kind, axis, translation), named j1, j2, ...; URDF text for kinds add_joint cannot make."""
    rows = [dict(name=f"j{k}", kind=kind, parent=parent, axis=np.array(axis, float), xyz=np.array(t, float),
                 rpy=np.zeros(3)) for k, (parent, kind, axis, t) in enumerate(joints, 1)]
    if any(r["kind"] not in ADD_JOINT_KINDS for r in rows):
        return kavrel.parse_urdf_from_string(urdf_text(rows))
    model = Model()
    for r in rows:
        model.add_joint(r["parent"], r["kind"], r["axis"], SE3(np.eye(3), r["xyz"]), r["name"])
    return model


def random_state(model, rng):
    """q a random step from neutral, and random v and a."""
    return kavrel.integrate(model, kavrel.neutral(model), rng.normal(size=model.nv)), *rng.normal(size=(2, model.nv))


def with_inertias(model, rng):
    for i in range(1, model.njoints):
        a = rng.normal(size=(3, 3))
        model.set_body_inertia(i, rng.uniform(0.5, 2.0), rng.normal(size=3) * 0.2, a @ a.T + 0.05 * np.eye(3))
    return model


def sources(seeds, robots):
    """Parameters: a random tree of each builder for every seed, then robot files (paths under robots/)."""
    return [*(pytest.param((build, seed), id=f"{build.__name__}-{seed}")
              for build in (add_joint_tree, urdf_tree) for seed in seeds),
            *(pytest.param((None, name), id=name) for name in robots)]


def source_tree(source, rng, n, request):
    """A random tree of n joints with random inertias, or a robot file's tree as the file has it."""
    build, key = source
    if build is None:
        return tree_from_urdf((request.getfixturevalue("robots_dir") / f"{key}.urdf").read_text())
    tree = build(rng, n)
    with_inertias(tree.model, rng)
    return tree


def snapshot(data):
    """Every field of a workspace by name, placements as stacks (oMi_homogeneous is oMi again)."""
    state = {}
    for name, field in vars(Data).items():
        if type(field).__name__ == "getset_descriptor" and name != "oMi_homogeneous":
            value = getattr(data, name)
            state[name] = np.array([m.homogeneous for m in value] if isinstance(value, list) else value)
    return state


def described(model):
    """Every table Python can read, inertias included."""
    tables = {name: getattr(model, name) for name in (
        "name", "nq", "nv", "njoints", "nframes", "names", "parents", "frame_names", "frame_parents", "frame_types",
        "joint_types", "joint_nq", "joint_nv", "joint_q_idx", "joint_v_idx", "joint_axes", "lowerPositionLimit",
        "upperPositionLimit", "gravity_full")}
    tables["placements"] = np.array([m.homogeneous for m in model.joint_placements + model.frame_placements])
    tables["inertias"] = np.array([np.r_[m, lever, rotational.ravel()]
                                   for m, lever, rotational in map(model.get_body_inertia, range(model.njoints))])
    return tables


def changed(before, after):
    return {name for name in before if not np.array_equal(before[name], after[name])}


def vee(s):
    """The vector of the skew part of a 3 x 3 matrix."""
    return 0.5 * np.array([s[2, 1] - s[1, 2], s[0, 2] - s[2, 0], s[1, 0] - s[0, 1]])


def twists_from_placements(center, before, after, dt):
    """Central differences of world placements as (world, local, local-world-aligned) twists,
    linear rows first, one (6,) per joint; dt spans before to after."""
    out = []
    for h, hm, hp in zip(center, before, after):
        r, p = h[:3, :3], h[:3, 3]
        dr, dp = (hp[:3, :3] - hm[:3, :3]) / dt, (hp[:3, 3] - hm[:3, 3]) / dt
        w_world, w_local = vee(dr @ r.T), vee(r.T @ dr)
        out.append((np.r_[dp - np.cross(w_world, p), w_world], np.r_[r.T @ dp, w_local], np.r_[dp, w_world]))
    return out


def assert_close(actual, expected, tol, what):
    actual, expected = np.asarray(actual), np.asarray(expected)
    assert actual.shape == expected.shape, f"{what}: shape {actual.shape} != {expected.shape}"
    if actual.size == 0:
        return
    diff = np.abs(actual - expected)
    worst = np.unravel_index(np.argmax(diff), diff.shape)
    assert diff[worst] <= tol, (f"{what}: entry {worst} is {actual[worst]!r}, expected {expected[worst]!r} "
                                f"(tolerance {tol:.1e})")
