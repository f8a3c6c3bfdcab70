"""Rigid-body dynamics for articulated robots.

Units are SI throughout: metres, radians, kilograms, seconds, newtons and newton-metres.
Arrays are NumPy float64. Two row orders meet: 6 x n matrices (Jacobians, their time
variation, the centroidal momentum matrix) put the linear part first; per-joint spatial
vectors read from `Data` (v, a, f, ov, a_gf, momentum, hg, dhg) put the angular part first.
"""

from typing import Final, final

import numpy as np
import numpy.typing as npt

__all__ = [
    "SE3",
    "Model",
    "Data",
    "ReferenceFrame",
    "Batch",
    "neutral",
    "integrate",
    "forwardKinematics",
    "rnea",
    "crba",
    "computeJointJacobians",
    "computeJointJacobian",
    "computeJointJacobiansTimeVariation",
    "getFrameJacobian",
    "getFrameJacobianTimeVariation",
    "non_linear_effects",
    "compute_gravity",
    "computeAllTerms",
    "computeCoriolisMatrix",
    "parse_urdf_file",
    "parse_urdf_from_string",
    "getFramePlacement",
    "aba",
    "computeMinverse",
    "rnea_derivatives",
    "aba_derivatives",
    "__version__",
]

__version__: Final[str]

_Array = npt.NDArray[np.float64]

@final
class SE3:
    """A rigid transform (R, p) from child to parent coordinates: x_parent = R x_child + p.

    Immutable; every method returns a new object. `a * b` is `a.compose(b)`.
    """

    def __new__(cls, rotation: _Array, translation: _Array) -> SE3:
        """From a (3, 3) rotation and a (3,) translation in metres, copied as given (not orthonormalised)."""
    @staticmethod
    def identity() -> SE3:
        """The identity transform."""
    @staticmethod
    def exp(twist: _Array) -> SE3:
        """The transform reached after one second at the constant body twist (vx, vy, vz, wx, wy, wz).

        The linear part comes first, as in the Jacobians' rows; m/s and rad/s. Inverse of `log`.
        """
    def compose(self, other: SE3) -> SE3:
        """self * other: (R_self R_other, p_self + R_self p_other)."""
    def __mul__(self, other: SE3, /) -> SE3:
        """self * other, the same as `self.compose(other)`."""
    def __rmul__(self, other: SE3, /) -> SE3:
        """other * self, the same as `other.compose(self)`."""
    def inverse(self) -> SE3:
        """(R^T, -R^T p)."""
    def act(self, points: _Array) -> _Array:
        """R x + p for one point of shape (3,) or for every row of an (N, 3) array; same shape back."""
    def log(self) -> _Array:
        """The (6,) twist, linear part first, whose `SE3.exp` is this transform; rotation angle in [0, pi].

        An IK pose error: `(target.inverse() * current).log()`, in the current frame's axes.
        """
    def to_homogeneous(self) -> _Array:
        """The (4, 4) homogeneous matrix [[R, p], [0, 0, 0, 1]]."""
    @property
    def homogeneous(self) -> _Array:
        """The (4, 4) homogeneous matrix, as `to_homogeneous()`."""
    @property
    def rotation(self) -> _Array:
        """R, a new (3, 3) array."""
    @property
    def translation(self) -> _Array:
        """p in metres, a new (3,) array."""

@final
class Model:
    """The kinematic tree: joints, bodies, frames, position limits and gravity.

    Joint 0 is the fixed "universe"; every joint's parent has a smaller index. Build one with
    `add_joint` or import one with `parse_urdf_file`; create its workspace with `createData()`.
    Models pickle and copy exactly.
    """

    def __new__(cls) -> Model:
        """A model with only joint 0 "universe" and frame 0 "universe"; gravity (0, 0, -9.81)."""
    @property
    def nq(self) -> int:
        """Size of the configuration vector q."""
    @property
    def nv(self) -> int:
        """Size of the velocity vector v (differs from nq with continuous, planar, spherical or floating joints)."""
    @property
    def njoints(self) -> int:
        """Number of joints, joint 0 included."""
    @property
    def nframes(self) -> int:
        """Number of frames, frame 0 included."""
    @property
    def names(self) -> list[str]:
        """Joint names in joint order; names[0] is "universe"."""
    @property
    def name(self) -> str:
        """The model's name (the URDF robot name)."""
    @property
    def parents(self) -> list[int]:
        """Parent joint of every joint; parents[0] is 0."""
    @property
    def lowerPositionLimit(self) -> _Array:
        """Lower position limits, indexed like v; it may be shorter than nv where no limit was set."""
    @property
    def upperPositionLimit(self) -> _Array:
        """Upper position limits, indexed like v; it may be shorter than nv where no limit was set."""
    @property
    def gravity(self) -> _Array:
        """Linear part of gravity, (3,), m/s^2."""
    @property
    def gravity_angular(self) -> _Array:
        """Angular part of gravity, (3,), rad/s^2."""
    @property
    def gravity_full(self) -> _Array:
        """Gravity as (6,), linear part first."""
    @property
    def frame_names(self) -> list[str]:
        """Name of every frame, in frame order."""
    @property
    def frame_parents(self) -> list[int]:
        """Joint that carries every frame."""
    @property
    def frame_types(self) -> list[str]:
        """Kind flags of every frame as in the model report, e.g. "BODY", "JOINT", "OP_FRAME"."""
    @property
    def frame_placements(self) -> list[SE3]:
        """Placement of every frame in its joint's frame."""
    @property
    def joint_types(self) -> list[str]:
        """Kind of every joint: "fixed", "revolute", "continuous", "prismatic", "floating", "planar" or "spherical"."""
    @property
    def joint_nq(self) -> list[int]:
        """Number of configuration coordinates of every joint."""
    @property
    def joint_nv(self) -> list[int]:
        """Number of velocity coordinates of every joint."""
    @property
    def joint_q_idx(self) -> list[int]:
        """First index of every joint's coordinates in q: q[joint_q_idx[i]:joint_q_idx[i] + joint_nq[i]]."""
    @property
    def joint_v_idx(self) -> list[int]:
        """First index of every joint's coordinates in v, and its columns in the Jacobians."""
    @property
    def joint_axes(self) -> _Array:
        """(njoints, 3) axes as stored (not normalised); zero for kinds without an axis."""
    @property
    def joint_placements(self) -> list[SE3]:
        """Placement of every joint's fixed side in its parent joint's frame."""
    def set_gravity(self, gravity: _Array) -> None:
        """Set the linear part of gravity, (3,), m/s^2."""
    def set_gravity_angular(self, gravity_angular: _Array) -> None:
        """Set the angular part of gravity, (3,), rad/s^2."""
    def set_gravity_full(self, gravity: _Array) -> None:
        """Set both parts of gravity from (6,), linear part first."""
    def add_joint(self, parent: int, joint_type: str, axis: _Array, placement: SE3, name: str) -> int:
        """Append a joint of kind "fixed", "revolute", "prismatic" or "floating" under `parent` and return its id.

        `axis` (3,) is used by revolute and prismatic joints; `placement` is the joint's fixed side in the
        parent joint's frame. The new body is massless (see `set_body_inertia`); no frame is added.
        """
    def add_frame(self, name: str, parent_joint: int, placement: SE3) -> int:
        """Add an operational frame (type "OP_FRAME") on a joint at `placement` in its frame; return its id.

        A tool-centre point, for `getFramePlacement` and `getFrameJacobian`.
        """
    def with_floating_base(self, name: str = "root_joint") -> Model:
        """A new model whose old root body hangs from the universe on a floating joint `name`.

        The floating joint is joint 1 (7 coordinates in q: position, then quaternion x, y, z, w; 6 in v:
        linear then angular velocity in the body frame) and carries the root body's inertia; every old joint
        moves one index on. Its position limits are -inf and +inf. This model is not changed.
        """
    def get_joint_id(self, name: str) -> int | None:
        """Index of the first joint with this name, or None."""
    def getFrameId(self, name: str) -> int | None:
        """Index of the first frame with this name, or None."""
    def set_name(self, name: str) -> None:
        """Replace the model's name."""
    def set_body_inertia(self, joint_id: int, mass: float, lever: _Array, rotational_inertia: _Array) -> None:
        """Set the body of a joint: mass in kg, centre of mass (3,) in m in the joint frame, (3, 3) inertia in kg m^2 about it."""
    def get_body_inertia(self, joint_id: int) -> tuple[float, _Array, _Array]:
        """(mass, lever, rotational_inertia) of a joint's body, as `set_body_inertia` takes them."""
    def createData(self) -> Data:
        """A new workspace for this model, as `Data(model)`."""
    def to_string_info(self) -> str:
        """The model report: sizes, joints and frames."""
    def print_info(self) -> None:
        """Print the model report."""

@final
class Data:
    """The workspace of one model: the algorithms write into it and its properties read it back.

    Each property returns a new object built from what the last call left
    (before any call: identity placements, zeros elsewhere).
    Data pickles and copies as a fresh workspace of the same shape.
    """

    def __new__(cls, model: Model) -> Data:
        """A workspace sized for `model`: identity placements, zeros elsewhere; it keeps no reference to the model."""
    def reset(self) -> None:
        """Back to the state of a new workspace: identity placements, zeros elsewhere; no size changes."""
    def get_joint_placement(self, joint_id: int) -> SE3:
        """oMi[joint_id]: the joint's placement in the world."""
    def get_joint_translation(self, joint_id: int) -> _Array:
        """The (3,) world position of a joint, in metres."""
    def to_string_info(self) -> str:
        """The data report: sizes, joint positions and non-zero results."""
    def print_info(self) -> None:
        """Print the data report."""
    @property
    def M(self) -> _Array:
        """Mass matrix (nv, nv), symmetric, from `crba` or `computeAllTerms`."""
    @property
    def C(self) -> _Array:
        """Coriolis matrix (nv, nv) from `computeCoriolisMatrix`: C v is the velocity-product torque."""
    @property
    def g(self) -> _Array:
        """Gravity torques (nv,) from `compute_gravity` or `computeAllTerms`."""
    @property
    def oMi(self) -> list[SE3]:
        """World placement of every joint, from every pass over q."""
    @property
    def oMi_homogeneous(self) -> _Array:
        """Every oMi as one (njoints, 4, 4) array of homogeneous matrices."""
    @property
    def liMi(self) -> list[SE3]:
        """Placement of every joint in its parent joint's frame, from every pass over q."""
    @property
    def v(self) -> _Array:
        """(njoints, 6) joint velocities in joint frames, angular part first (rad/s, m/s)."""
    @property
    def a(self) -> _Array:
        """(njoints, 6) joint accelerations in joint frames, angular first.

        After `rnea` they carry gravity as an upward root acceleration; after `computeAllTerms` they are the
        bias accelerations (zero joint acceleration) without gravity, which `a_gf` carries.
        """
    @property
    def f(self) -> _Array:
        """(njoints, 6) forces transmitted by the joints in joint frames, moment first (N m, N); from `rnea`."""
    @property
    def ov(self) -> _Array:
        """(njoints, 6) joint velocities in the world frame, angular part first."""
    @property
    def a_gf(self) -> _Array:
        """(njoints, 6) accelerations with gravity and zero joint acceleration, angular first; from `computeAllTerms`."""
    @property
    def momentum(self) -> _Array:
        """(njoints, 6) subtree momenta in joint frames, angular part first; from `computeAllTerms`."""
    @property
    def composite_inertia(self) -> _Array:
        """(njoints, 6, 6) subtree spatial inertias in the world frame, linear-first; from `crba`."""
    @property
    def inertia_variation(self) -> _Array:
        """(njoints, 6, 6) time variation of the composite inertias; from `computeAllTerms`."""
    @property
    def tau(self) -> _Array:
        """(nv,) joint torques of the last `rnea` (also written by `non_linear_effects` and `compute_gravity`)."""
    @property
    def nle(self) -> _Array:
        """(nv,) non-linear effects C v + g, from `non_linear_effects` or `computeAllTerms`."""
    @property
    def ddq(self) -> _Array:
        """(nv,) joint accelerations of the last `aba`."""
    @property
    def Minv(self) -> _Array:
        """(nv, nv) inverse mass matrix, full and symmetric, from `computeMinverse` (also `aba_derivatives`)."""
    @property
    def dtau_dq(self) -> _Array:
        """(nv, nv) derivative of the torques with respect to q (steps of `integrate`), from `rnea_derivatives`."""
    @property
    def dtau_dv(self) -> _Array:
        """(nv, nv) derivative of the torques with respect to v, from `rnea_derivatives`."""
    @property
    def ddq_dq(self) -> _Array:
        """(nv, nv) derivative of the accelerations with respect to q (steps of `integrate`), from `aba_derivatives`."""
    @property
    def ddq_dv(self) -> _Array:
        """(nv, nv) derivative of the accelerations with respect to v, from `aba_derivatives`."""
    @property
    def J(self) -> _Array:
        """(6, nv) world Jacobian of all joints, linear rows first; from `computeJointJacobians` and others."""
    @property
    def dJ(self) -> _Array:
        """(6, nv) time variation of J, linear rows first; from `computeJointJacobiansTimeVariation`."""
    @property
    def ag(self) -> _Array:
        """(6, nv) centroidal momentum matrix, linear rows first; from `computeAllTerms`."""
    @property
    def dag(self) -> _Array:
        """(6, nv) time variation of ag, linear rows first; from `computeAllTerms`."""
    @property
    def jcom(self) -> _Array:
        """(3, nv) Jacobian of the centre of mass in the world; from `computeAllTerms`."""
    @property
    def com(self) -> _Array:
        """(njoints, 3) subtree centres of mass in m, each in its joint's frame; row 0, the whole robot's, in the world."""
    @property
    def vcom(self) -> _Array:
        """(njoints, 3) velocities of the subtree centres of mass in m/s, in the frames of `com`."""
    @property
    def mass(self) -> _Array:
        """(njoints,) subtree masses, kg; mass[0] is the whole robot's."""
    @property
    def hg(self) -> _Array:
        """(6,) centroidal momentum, angular part first."""
    @property
    def dhg(self) -> _Array:
        """(6,) time variation of hg, angular part first."""
    @property
    def ig(self) -> _Array:
        """(6, 6) centroidal inertia, linear-first."""
    @property
    def kinetic_energy(self) -> float:
        """Kinetic energy in J, from `computeAllTerms`."""
    @property
    def potential_energy(self) -> float:
        """Potential energy in J, from `computeAllTerms`."""
    @property
    def mechanical_energy(self) -> float:
        """Kinetic plus potential energy in J."""
    @property
    def njoints(self) -> int:
        """Number of joints the workspace was built for."""
    @property
    def nq(self) -> int:
        """Configuration size the workspace was built for."""
    @property
    def nv(self) -> int:
        """Velocity size the workspace was built for."""

@final
class ReferenceFrame:
    """The coordinates a frame Jacobian is given in.

    WORLD: world axes, velocity of the point at the world origin. LOCAL: the frame's own axes and origin.
    LOCAL_WORLD_ALIGNED: world axes, velocity of the frame's origin.
    """

    WORLD: Final[ReferenceFrame]
    LOCAL: Final[ReferenceFrame]
    LOCAL_WORLD_ALIGNED: Final[ReferenceFrame]
    def __new__(cls) -> ReferenceFrame:
        """A new object with the code of WORLD (not the WORLD object itself)."""

@final
class Batch:
    """Many states of one model per call, on every core, with the interpreter lock released.

    The batch keeps its own copy of the model (later changes to the Model object do not reach it), one
    workspace per worker thread and the threads. Every method takes C-contiguous float64 arrays with one
    state per row, the same number N of rows in each, and returns a new array with N as its first axis;
    each row is the result of the single-state function on that row, to the bit. A failing row stops the
    batch with the error of the lowest failing row, prefixed "row {index}: ".
    """

    def __new__(cls, model: Model, threads: int | None = None) -> Batch:
        """threads=None uses os.cpu_count() workers; 0 or fewer is a ValueError."""
    @property
    def njoints(self) -> int: ...
    @property
    def nq(self) -> int: ...
    @property
    def nv(self) -> int: ...
    @property
    def threads(self) -> int:
        """Worker threads, the calling thread included."""
    def rnea(self, q: _Array, v: _Array, a: _Array) -> _Array:
        """(N, nv) joint torques, as `rnea` row by row."""
    def non_linear_effects(self, q: _Array, v: _Array) -> _Array:
        """(N, nv), as `non_linear_effects` row by row."""
    def compute_gravity(self, q: _Array) -> _Array:
        """(N, nv), as `compute_gravity` row by row."""
    def aba(self, q: _Array, v: _Array, tau: _Array) -> _Array:
        """(N, nv) joint accelerations, as `aba` row by row."""
    def crba(self, q: _Array) -> _Array:
        """(N, nv, nv) full symmetric mass matrices (both triangles, unlike `crba`)."""
    def computeMinverse(self, q: _Array) -> _Array:
        """(N, nv, nv) inverse mass matrices, as `computeMinverse` row by row."""
    def forwardKinematics(self, q: _Array) -> _Array:
        """(N, njoints, 4, 4) homogeneous matrices of every joint's world placement."""
    def getFrameJacobian(self, q: _Array, frame_id: int, reference_frame: ReferenceFrame) -> _Array:
        """(N, 6, nv): `computeJointJacobians` then `getFrameJacobian` for each row."""
    def getFramePlacement(self, q: _Array, frame_id: int) -> _Array:
        """(N, 4, 4): `forwardKinematics` then `getFramePlacement` for each row, as homogeneous matrices."""
    def integrate(self, q: _Array, v: _Array) -> _Array:
        """(N, nq): `integrate` row by row."""

def neutral(model: Model) -> _Array:
    """The reference configuration (nq,): zeros, unit quaternions (x, y, z, w) = (0, 0, 0, 1), (cos, sin) = (1, 0)."""

def integrate(model: Model, q: _Array, v: _Array) -> _Array:
    """q moved along v for one second (nq,); a floating joint steps translation and rotation separately."""

def forwardKinematics(model: Model, data: Data, q: _Array) -> None:
    """Joint placements at q: writes data.liMi and data.oMi."""

def rnea(model: Model, data: Data, q: _Array, v: _Array, a: _Array) -> _Array:
    """Inverse dynamics: the (nv,) torques for acceleration a at (q, v), with gravity.

    Writes data.tau, liMi, oMi, v, a and f.
    """

def crba(model: Model, data: Data, q: _Array) -> _Array:
    """The (nv, nv) mass matrix at q as computed: its upper triangle, zeros below (data.M mirrors it).

    Writes data.M (upper triangle), liMi, oMi, J and composite_inertia.
    """

def computeJointJacobians(model: Model, data: Data, q: _Array) -> None:
    """The world Jacobian of every joint at q: writes data.J (6, nv, linear rows first), liMi and oMi.

    `getFrameJacobian` reads what this left.
    """

def computeJointJacobian(model: Model, data: Data, q: _Array, joint_id: int) -> _Array:
    """The (6, nv) Jacobian of one joint at q in its own frame, linear rows first; updates its chain's liMi."""

def computeJointJacobiansTimeVariation(model: Model, data: Data, q: _Array, v: _Array) -> None:
    """J and its time variation at (q, v): writes data.liMi, oMi, v, ov, J and dJ."""

def getFrameJacobian(model: Model, data: Data, frame_id: int, reference_frame: ReferenceFrame) -> _Array:
    """The (6, nv) Jacobian of a frame, linear rows first, from the data.J and data.oMi of the last Jacobian pass.

    Columns of joints that do not move the frame are zero. LOCAL gives the frame origin's velocity in the
    frame's axes, LOCAL_WORLD_ALIGNED the same in world axes, WORLD the columns of data.J.
    """

def getFrameJacobianTimeVariation(
    model: Model, data: Data, frame_id: int, reference_frame: ReferenceFrame
) -> _Array:
    """The (6, nv) time variation of `getFrameJacobian`, from the last `computeJointJacobiansTimeVariation`."""

def non_linear_effects(model: Model, data: Data, q: _Array, v: _Array) -> _Array:
    """Coriolis, centrifugal and gravity torques (nv,) at (q, v): rnea with zero acceleration.

    Writes data.nle, and what rnea writes.
    """

def compute_gravity(model: Model, data: Data, q: _Array) -> _Array:
    """Gravity torques (nv,) at q: rnea at rest. Writes data.g, and what rnea writes."""

def computeAllTerms(model: Model, data: Data, q: _Array, v: _Array) -> None:
    """Every term at (q, v): kinematics, J, dJ, M, nle, g, centroidal quantities and energies, into data."""

def computeCoriolisMatrix(model: Model, data: Data, q: _Array, v: _Array) -> None:
    """The Coriolis matrix at (q, v), with C + C^T the time derivative of M: writes data.C."""

def parse_urdf_file(filename: str) -> Model:
    """A model from a URDF file: joints in depth-first order, a JOINT and a BODY frame per joint."""

def parse_urdf_from_string(urdf_string: str) -> Model:
    """A model from URDF text, as `parse_urdf_file`."""

def getFramePlacement(model: Model, data: Data, frame_id: int) -> SE3:
    """World placement of a frame: data.oMi of its joint, from the last pass over q, times its placement."""

def aba(model: Model, data: Data, q: _Array, v: _Array, tau: _Array) -> _Array:
    """Joint accelerations (nv,) under the torques tau at (q, v), by the articulated-body algorithm; the
    inverse of `rnea`. Writes data.ddq. ValueError when a joint has no inertia to accelerate."""

def computeMinverse(model: Model, data: Data, q: _Array) -> _Array:
    """The inverse mass matrix (nv, nv), full and symmetric, by the articulated-body recursion. Writes
    data.Minv. ValueError when a joint has no inertia to accelerate."""

def rnea_derivatives(model: Model, data: Data, q: _Array, v: _Array, a: _Array) -> tuple[_Array, _Array]:
    """(dtau_dq, dtau_dv): the (nv, nv) derivatives of `rnea` at (q, v, a) with respect to q, column k along
    `integrate(model, q, e * e_k)`, and to v. Writes data.dtau_dq, data.dtau_dv and, as `rnea`, data.tau."""

def aba_derivatives(
    model: Model, data: Data, q: _Array, v: _Array, tau: _Array
) -> tuple[_Array, _Array, _Array]:
    """(ddq_dq, ddq_dv, ddq_dtau): the (nv, nv) derivatives of `aba` at (q, v, tau), -Minv dtau_dq and
    -Minv dtau_dv at a = ddq, and Minv. Writes data.ddq, data.Minv, data.ddq_dq, data.ddq_dv and data.dtau_*.
    ValueError when a joint has no inertia to accelerate."""
