"""Batch: every row as the single-state call, to the bit; threads, the interpreter lock, bad input."""
import pickle
import threading

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Batch, Model, ReferenceFrame
from kinematic_trees import add_joint_tree, urdf_tree, with_inertias

LOCAL = ReferenceFrame.LOCAL


def states(tree, rng, n):
    q = np.array([tree.random_q(rng) for _ in range(n)]).reshape(n, tree.model.nq)
    return q, rng.normal(size=(n, tree.model.nv)), rng.normal(size=(n, tree.model.nv))


def single_calls(model, q, v, a, frame):
    """What a loop of single-state calls gives, method by method."""
    data = model.createData()

    def each(call):
        return [call(i) for i in range(len(q))]

    def fk(i):
        kavrel.forwardKinematics(model, data, q[i])
        return data.oMi_homogeneous

    def jacobian(i):
        kavrel.computeJointJacobians(model, data, q[i])
        return kavrel.getFrameJacobian(model, data, frame, LOCAL)

    def placement(i):
        kavrel.forwardKinematics(model, data, q[i])
        return kavrel.getFramePlacement(model, data, frame).homogeneous

    def full_mass_matrix(i):
        kavrel.crba(model, data, q[i])
        return data.M

    return {
        "rnea": each(lambda i: kavrel.rnea(model, data, q[i], v[i], a[i])),
        "non_linear_effects": each(lambda i: kavrel.non_linear_effects(model, data, q[i], v[i])),
        "compute_gravity": each(lambda i: kavrel.compute_gravity(model, data, q[i])),
        "aba": each(lambda i: kavrel.aba(model, data, q[i], v[i], a[i])),
        "crba": each(full_mass_matrix),
        "computeMinverse": each(lambda i: kavrel.computeMinverse(model, data, q[i])),
        "forwardKinematics": each(fk),
        "getFrameJacobian": each(jacobian),
        "getFramePlacement": each(placement),
        "integrate": each(lambda i: kavrel.integrate(model, q[i], v[i])),
    }


def batched(batch, q, v, a, frame):
    return {
        "rnea": batch.rnea(q, v, a), "non_linear_effects": batch.non_linear_effects(q, v),
        "compute_gravity": batch.compute_gravity(q), "aba": batch.aba(q, v, a), "crba": batch.crba(q),
        "computeMinverse": batch.computeMinverse(q), "forwardKinematics": batch.forwardKinematics(q),
        "getFrameJacobian": batch.getFrameJacobian(q, frame, LOCAL), "getFramePlacement": batch.getFramePlacement(q, frame),
        "integrate": batch.integrate(q, v),
    }


@pytest.mark.parametrize("builder,seed,sizes", [
    (add_joint_tree, 1, (0, 1, 7, 10_000)), (urdf_tree, 2, (1, 7, 300)),
])
def test_rows_are_the_single_calls(builder, seed, sizes):
    rng = np.random.default_rng(seed)
    tree = builder(rng, 9)
    model = with_inertias(tree.model, rng)
    frame = model.nframes - 1
    batches = [Batch(model, threads) for threads in (1, 2, 4)]
    for n in sizes:
        q, v, a = states(tree, rng, n)
        expected = single_calls(model, q, v, a, frame)
        for batch in batches:
            for name, result in batched(batch, q, v, a, frame).items():
                shape = {"crba": (model.nv, model.nv), "computeMinverse": (model.nv, model.nv),
                         "forwardKinematics": (model.njoints, 4, 4), "getFrameJacobian": (6, model.nv),
                         "getFramePlacement": (4, 4), "integrate": (model.nq,)}.get(name, (model.nv,))
                assert result.shape == (n, *shape), name
                np.testing.assert_array_equal(result, np.reshape(expected[name], (n, *shape)), err_msg=name)


def test_real_robot_rows(robots_dir):
    model = kavrel.parse_urdf_file(str(robots_dir / "bench" / "hyq_floating.urdf"))
    rng = np.random.default_rng(3)
    q = np.array([kavrel.integrate(model, kavrel.neutral(model), rng.normal(size=model.nv)) for _ in range(50)])
    v, a = rng.normal(size=(2, 50, model.nv))
    expected = single_calls(model, q, v, a, 7)
    for name, result in batched(Batch(model, 2), q, v, a, 7).items():
        np.testing.assert_array_equal(result, np.reshape(expected[name], result.shape), err_msg=name)


def slider_on_turntable():
    """The turntable cannot be accelerated while the slider's mass sits on its axis (slide = 0)."""
    model = Model()
    model.add_joint(0, "revolute", np.array([0.0, 0.0, 1.0]), SE3.identity(), "turn")
    model.add_joint(1, "prismatic", np.array([1.0, 0.0, 0.0]), SE3.identity(), "slide")
    model.set_body_inertia(2, 1.0, np.zeros(3), np.zeros((3, 3)))
    return model


@pytest.mark.parametrize("threads", [1, 2])
def test_the_lowest_failing_row_is_reported(threads):
    batch, zeros = Batch(slider_on_turntable(), threads), np.zeros((2000, 2))
    q = np.tile([0.1, 1.0], (2000, 1))
    q[[1500, 700], 1] = 0.0
    with pytest.raises(ValueError) as error:
        batch.aba(q, zeros, zeros)
    assert str(error.value) == "row 700: Joint turn has no inertia to accelerate: the mass matrix is singular"
    q[[700, 1500], 1] = 1.0
    assert batch.aba(q, zeros, zeros).shape == (2000, 2)


def test_interpreter_lock_is_released_and_batches_run_together():
    rng = np.random.default_rng(4)
    tree = add_joint_tree(rng, 20)
    model = with_inertias(tree.model, rng)
    n = 40_000
    q = np.tile(tree.random_q(rng), (n, 1)) + rng.normal(size=(n, model.nq)) * 0.1
    v, a = rng.normal(size=(2, n, model.nv))
    batch, other = Batch(model, 1), Batch(model, 1)
    expected = batch.rnea(q, v, a)
    ticks, results = [0], {}

    def count():
        while "done" not in results:
            ticks[0] += 1

    def run(name, b):
        results[name] = b.rnea(q, v, a)

    counter = threading.Thread(target=count)
    counter.start()
    workers = [threading.Thread(target=run, args=(name, b)) for name, b in (("one", batch), ("two", other))]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    results["done"] = True
    counter.join()
    assert ticks[0] > 1000
    np.testing.assert_array_equal(results["one"], expected)
    np.testing.assert_array_equal(results["two"], expected)


def test_the_batch_keeps_its_own_model_and_pickles():
    rng = np.random.default_rng(5)
    tree = add_joint_tree(rng, 6)
    model = with_inertias(tree.model, rng)
    batch = Batch(model, 2)
    q, v, a = states(tree, rng, 20)
    before = batch.rnea(q, v, a)
    model.set_body_inertia(1, 100.0, np.zeros(3), np.eye(3))
    model.set_gravity(np.array([0.0, 0.0, 0.0]))
    np.testing.assert_array_equal(batch.rnea(q, v, a), before)
    copy = pickle.loads(pickle.dumps(batch))
    assert repr(copy) == repr(batch) == f"Batch(njoints=7, nq={model.nq}, nv={model.nv}, threads=2)"
    np.testing.assert_array_equal(copy.rnea(q, v, a), before)


def test_default_threads():
    import os
    assert Batch(Model()).threads == Batch(Model(), threads=None).threads == os.cpu_count()


def test_dask_example_on_a_local_cluster():
    pytest.importorskip("dask.distributed", reason="the dask extra is not installed")
    import importlib.util
    from pathlib import Path
    from dask.distributed import Client, LocalCluster
    path = Path(__file__).resolve().parents[1] / "examples" / "dask_inverse_dynamics.py"
    found = importlib.util.spec_from_file_location("dask_inverse_dynamics", path)
    example = importlib.util.module_from_spec(found)
    found.loader.exec_module(example)
    model = kavrel.parse_urdf_file(str(example.ARM))
    rng = np.random.default_rng(6)
    q = np.array([kavrel.integrate(model, kavrel.neutral(model), dv) for dv in rng.normal(size=(500, model.nv))])
    v, a = rng.normal(size=(2, 500, model.nv))
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        tau = example.inverse_dynamics(client, model, q, v, a, rows_per_chunk=64)
    data = model.createData()
    np.testing.assert_array_equal(tau, [kavrel.rnea(model, data, *row) for row in zip(q, v, a)])
