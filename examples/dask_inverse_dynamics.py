"""Inverse dynamics of a long log of states on a Dask cluster, one Batch per worker.

The log is a dask array of states chunked by rows; map_blocks sends each chunk through
`Batch.rnea` on the worker that holds it. The Batch is scattered once: every worker
unpickles its own copy (the model and the thread count) and reuses it for every chunk.

Run: python3 examples/dask_inverse_dynamics.py [scheduler-address] [--states N] [--robot URDF]
Without an address it starts a LocalCluster of two worker processes. Needs kavrel[dask].
"""
import argparse
from pathlib import Path

import dask.array as da
import numpy as np
from dask.distributed import Client, LocalCluster

import kavrel

ARM = Path(__file__).resolve().parent / "robots" / "kavrel_arm.urdf"


def torques(q, v, a, batch):
    return batch.rnea(q, v, a)


def inverse_dynamics(client, model, q, v, a, rows_per_chunk):
    """tau for every row of (q, v, a), computed on the cluster's workers."""
    batch = client.scatter(kavrel.Batch(model, threads=1), broadcast=True)
    chunks = lambda x: da.from_array(x, chunks=(rows_per_chunk, x.shape[1]))
    tau = da.map_blocks(torques, chunks(q), chunks(v), chunks(a), batch=batch, dtype=float)
    return tau.compute()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("scheduler", nargs="?", help="address of a running scheduler (default: a local cluster)")
    parser.add_argument("--states", type=int, default=200_000)
    parser.add_argument("--robot", default=str(ARM))
    args = parser.parse_args()
    model = kavrel.parse_urdf_file(args.robot)
    rng = np.random.default_rng(0)
    q0 = kavrel.neutral(model)
    q = np.array([kavrel.integrate(model, q0, dv) for dv in rng.normal(size=(args.states, model.nv))])
    v, a = rng.normal(size=(2, args.states, model.nv))
    cluster = None if args.scheduler else LocalCluster(n_workers=2, threads_per_worker=1, processes=True)
    with Client(args.scheduler or cluster) as client:
        tau = inverse_dynamics(client, model, q, v, a, rows_per_chunk=max(1, args.states // 8))
    if cluster is not None:
        cluster.close()
    check = kavrel.rnea(model, model.createData(), q[-1], v[-1], a[-1])
    print(f"{args.states} states, tau of shape {tau.shape}; last row equals the single call: {np.array_equal(tau[-1], check)}")


if __name__ == "__main__":
    main()
