"""Batch: every row as the single-state call, to the bit; threads and the interpreter lock."""
import os
import pickle
import runpy
import threading
import weakref

import numpy as np
import pytest

import kavrel
from kavrel import Batch, ReferenceFrame
from kinematic_trees import X, Z, add_joint_tree, model_of, source_tree, urdf_tree, with_inertias

LOCAL = ReferenceFrame.LOCAL


def states(tree, rng, n):
    q = np.array([tree.random_q(rng) for _ in range(n)]).reshape(n, tree.model.nq)
    return q, rng.normal(size=(n, tree.model.nv)), rng.normal(size=(n, tree.model.nv))


def methods(model, q, v, a, frame):
    """Each method's batch call, the single-state call that gives its row i, and the row's shape."""
    data, nq, nv = model.createData(), model.nq, model.nv
    then = lambda run, read: lambda i: (run(model, data, q[i]), read())[1]
    direct = lambda f, *args: lambda i: f(model, data, *(x[i] for x in args))
    return {
        "rnea": (lambda b: b.rnea(q, v, a), direct(kavrel.rnea, q, v, a), (nv,)),
        "non_linear_effects": (lambda b: b.non_linear_effects(q, v), direct(kavrel.non_linear_effects, q, v), (nv,)),
        "compute_gravity": (lambda b: b.compute_gravity(q), direct(kavrel.compute_gravity, q), (nv,)),
        "aba": (lambda b: b.aba(q, v, a), direct(kavrel.aba, q, v, a), (nv,)),
        "crba": (lambda b: b.crba(q), then(kavrel.crba, lambda: data.M), (nv, nv)),
        "computeMinverse": (lambda b: b.computeMinverse(q), direct(kavrel.computeMinverse, q), (nv, nv)),
        "forwardKinematics": (lambda b: b.forwardKinematics(q), then(kavrel.forwardKinematics,
                                                                      lambda: data.oMi_homogeneous), (model.njoints, 4, 4)),
        "getFrameJacobian": (lambda b: b.getFrameJacobian(q, frame, LOCAL), then(
            kavrel.computeJointJacobians, lambda: kavrel.getFrameJacobian(model, data, frame, LOCAL)), (6, nv)),
        "getFramePlacement": (lambda b: b.getFramePlacement(q, frame), then(
            kavrel.forwardKinematics, lambda: kavrel.getFramePlacement(model, data, frame).homogeneous), (4, 4)),
        "integrate": (lambda b: b.integrate(q, v), lambda i: kavrel.integrate(model, q[i], v[i]), (nq,)),
    }


@pytest.mark.parametrize("source,sizes", [
    ((add_joint_tree, 1), (0, 1, 7, 10_000)), ((urdf_tree, 2), (1, 7, 300)), ((None, "bench/hyq_floating"), (50,)),
], ids=["add_joint", "urdf", "hyq_floating"])
def test_rows_are_the_single_calls(source, sizes, request):
    tree = source_tree(source, rng := np.random.default_rng(source[1] if source[0] else 3), 9, request)
    model, frame = tree.model, (tree.model.nframes - 1 if source[0] else 7)
    batches = [Batch(model, threads) for threads in (1, 2, 4)]
    for n in sizes:
        for name, (batched, single, shape) in methods(model, *states(tree, rng, n), frame).items():
            expected = np.reshape([single(i) for i in range(n)], (n, *shape))
            for batch in batches:
                result = batched(batch)
                assert result.shape == (n, *shape), name
                np.testing.assert_array_equal(result, expected, err_msg=name)


@pytest.mark.parametrize("threads", [1, 2])
def test_the_lowest_failing_row_is_reported(threads):
    # The turntable j1 cannot be accelerated while the slider's mass sits on its axis (slide = 0).
    model = model_of((0, "revolute", Z, [0, 0, 0]), (1, "prismatic", X, [0, 0, 0]))
    model.set_body_inertia(2, 1.0, np.zeros(3), np.zeros((3, 3)))
    batch, zeros = Batch(model, threads), np.zeros((2000, 2))
    q = np.tile([0.1, 1.0], (2000, 1))
    q[[1500, 700], 1] = 0.0
    with pytest.raises(ValueError) as error:
        batch.aba(q, zeros, zeros)
    assert str(error.value) == "row 700: Joint j1 has no inertia to accelerate: the mass matrix is singular"
    q[[700, 1500], 1] = 1.0
    assert batch.aba(q, zeros, zeros).shape == (2000, 2)


def test_interpreter_lock_is_released_and_batches_run_together():
    rng = np.random.default_rng(4)
    tree, n = add_joint_tree(rng, 20), 40_000
    model = with_inertias(tree.model, rng)
    q = np.tile(tree.random_q(rng), (n, 1)) + rng.normal(size=(n, model.nq)) * 0.1
    v, a = rng.normal(size=(2, n, model.nv))
    batch, other = Batch(model, 1), Batch(model, 1)
    expected = batch.rnea(q, v, a)
    results, during, ticks = [], [], [0]

    def run(b):  # counts the ticks of this thread while the batch runs
        start = ticks[0]
        results.append(b.rnea(q, v, a))
        during.append(ticks[0] - start)
    workers = [threading.Thread(target=run, args=(b,)) for b in (batch, other)]
    for t in workers:
        t.start()
    while any(t.is_alive() for t in workers):
        ticks[0] += 1
    assert min(during) > 1000 and len(results) == 2
    for result in results:
        np.testing.assert_array_equal(result, expected)


def test_results_reuse_released_memory_never_held_memory_and_outlive_the_batch():
    rng = np.random.default_rng(7)
    # Mass matrices of a 13-joint chain: 1352 bytes, not whole cache lines; 5.4 MB for a batch of 4000.
    model = with_inertias(model_of(*[(k, "revolute", X if k % 2 else Z, [0, 0, 0.1]) for k in range(13)]), rng)
    batch, data, (first, second) = Batch(model, 2), model.createData(), rng.normal(size=(2, 4000, 13))
    full = lambda q: (kavrel.crba(model, data, q), data.M)[1]
    # Single calls: as many results held as the binding keeps, then one released and taken again.
    expected = [kavrel.crba(model, data, q).copy() for q in first[:8]]
    held = [kavrel.crba(model, data, q) for q in first[:8]]
    del held[3]
    again, M = kavrel.crba(model, data, first[3]), data.M
    assert again.flags.writeable and again.flags.c_contiguous
    np.testing.assert_array_equal(M, np.triu(M) + np.triu(M, 1).T)
    for result, values in zip(held[:3] + [again] + held[3:], expected):
        np.testing.assert_array_equal(result, values)
    # Batches: every value of a reused block is written again; a result still held is never reused.
    kept = batch.crba(first)
    released = batch.crba(first)
    address = released.__array_interface__["data"][0]
    del released
    again = batch.crba(second)
    assert again.__array_interface__["data"][0] == address and again.flags.writeable
    np.testing.assert_array_equal(again, [full(q) for q in second])
    del batch
    np.testing.assert_array_equal(kept, [full(q) for q in first])


# What a caller may have done to a result before letting it go, and what it
# still reaches of it. Only an untouched, unreachable result is taken again.
RELEASED_WITH = {
    "nothing": lambda r: None,
    "a view kept": lambda r: r[1:],
    "a weak reference kept": weakref.ref,
    "made read-only": lambda r: setattr(r.flags, "writeable", False),
    "reshaped in place": lambda r: setattr(r, "shape", (r.size, 1)),
    "retyped in place": lambda r: setattr(r, "dtype", np.int64),
    "resized in place": lambda r: r.resize(r.size + 1, refcheck=False),
}


@pytest.mark.parametrize("name", RELEASED_WITH)
def test_a_released_result_is_taken_again_only_when_unchanged_and_unreachable(name):
    rng = np.random.default_rng(3)
    model = with_inertias(model_of(*[(k, "revolute", Z, [0, 0, 0.1]) for k in range(5)]), rng)
    data, (q, v, a) = model.createData(), rng.normal(size=(3, 5))
    held = [kavrel.rnea(model, data, q, v, a) for _ in range(16)]  # takes every result released earlier
    first = kavrel.rnea(model, data, q, v, a)
    identity, before, kept = id(first), first.copy(), RELEASED_WITH[name](first)
    del first
    again = kavrel.rnea(model, data, q, 2 * v, a)
    assert (id(again) == identity) == (name == "nothing") and len(held) == 16
    assert again.shape == (5,) and again.dtype == np.float64 and again.flags.writeable and again.flags.owndata
    np.testing.assert_array_equal(again, data.tau)
    kept = kept() if isinstance(kept, weakref.ref) else kept
    if kept is not None:
        np.testing.assert_array_equal(kept, before[-kept.size :])


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
    assert Batch(model).threads == Batch(model, threads=None).threads == os.cpu_count()


def test_dask_example_on_a_local_cluster():
    pytest.importorskip("dask.distributed", reason="the dask extra is not installed")
    from dask.distributed import Client, LocalCluster
    example = runpy.run_path(os.path.join(os.path.dirname(__file__), "..", "examples", "dask_inverse_dynamics.py"))
    model = kavrel.parse_urdf_file(str(example["ARM"]))
    rng = np.random.default_rng(6)
    q = np.array([kavrel.integrate(model, kavrel.neutral(model), dv) for dv in rng.normal(size=(500, model.nv))])
    v, a = rng.normal(size=(2, 500, model.nv))
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        tau = example["inverse_dynamics"](client, model, q, v, a, rows_per_chunk=64)
    data = model.createData()
    np.testing.assert_array_equal(tau, [kavrel.rnea(model, data, *row) for row in zip(q, v, a)])
