"""Imports mutated copies of the shared robots and counts how each import ends.

Each document is a robot description with a few random edits (deleted,
inserted, duplicated or replaced text or attribute values, XML markup,
entities, character references, bytes that are not UTF-8). Worker processes parse them, so that a
crash or a hang costs one worker, which is replaced. Every document is
reproducible from its index: --show INDEX prints it.

Usage: PYTHONPATH=<build dir> python3 benchmarks/fuzz_urdf.py [ROBOTS_DIR] [-n N] [--timeout S] [--seed K]
"""
import argparse
import multiprocessing
import os
import random
import sys
import tempfile
import time
from collections import Counter
from multiprocessing.connection import wait
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests"))
from expat_oracle import expat_accepts  # noqa: E402

ROBOTS = Path(__file__).resolve().parents[2] / "shared" / "robots"
PREFIX = "Failed to parse URDF: "
LAUGHS = ('<!DOCTYPE robot [<!ENTITY a0 "lol">'
          + "".join(f'<!ENTITY a{i} "{f"&a{i - 1};" * 10}">' for i in range(1, 10)) + "]>")
DOCTYPES = ["<!DOCTYPE robot>", '<!DOCTYPE robot [<!ENTITY e "x">]>', '<!DOCTYPE robot SYSTEM "r.dtd">', LAUGHS,
            '<!DOCTYPE robot [<!ENTITY % p "<!ENTITY e \'&#65;\'>"> %p;]>', '<!DOCTYPE robot [<!ENTITY e "&e;">]>']
VALUES = ["&e;", "&a9;", "&nope;", "&#65;", "&#0;", "&#1;", "&#xD800;", "&#x110000;", "&#99999999999;", "&amp;",
          "&lt;", "nan", "inf", "-inf", "1e999", "nan(12)", "0 nan 0", "0 inf 0", "1 2", "", " ", "\xe9", "\U0001d11e"]
PIECES = [*"<>/=\"' \t\n&;#!?[]-x01.e", "\x00", "\uffff", "]]>", "<![CDATA[x]]>", "<!-- -- -->",
          "<?xml version='1.0'?>", '<link name="extra"/>', 'name="dup"',
          '<joint name="k" type="fixed"><parent link="a"/><child link="b"/></joint>', *DOCTYPES, *VALUES]
BAD_BYTES = [b"\xff", b"\xc3", b"\xed\xa0\x80", b"\xc0\xaf", b"\xf4\x90\x80\x80", b"\xef\xbf\xbe"]
# Attribute values and document type declarations are edited more often than
# the rest: such edits mostly keep the document well-formed.
KINDS = ["delete", "insert", "replace", "duplicate", "truncate", "value", "value", "value", "doctype"]


def robot_files(folder):
    return sorted(folder.glob("*.urdf")) + sorted((folder / "bench").glob("*.urdf"))


def mutate(text, rng):
    i = rng.randrange(len(text) + 1)
    kind = rng.choice(KINDS)
    if kind == "value" and (start := text.find('="', i) + 2) > 1:
        end = text.find('"', start)
        return text[:start] + rng.choice(VALUES) + text[end if end >= 0 else start:]
    if kind == "doctype" and (root := text.find("<robot")) >= 0:
        return text[:root] + rng.choice(DOCTYPES) + text[root:]
    piece = rng.choice(PIECES)
    if kind == "delete":
        return text[:i] + text[i + rng.randint(1, 40):]
    if kind == "insert":
        return text[:i] + piece + text[i:]
    if kind == "duplicate":
        return text[:i + rng.randint(1, 40)] + text[i:]
    if kind == "truncate":
        return text[:i]
    return text[:i] + piece + text[i + len(piece):]


def document(texts, seed, index):
    """(robot number, text or bytes) of document `index`; bytes go through a file."""
    rng = random.Random(f"{seed}:{index}")
    which = rng.randrange(len(texts))
    text = texts[which]
    for _ in range(rng.randint(1, 4)):
        text = mutate(text, rng)
    if rng.random() < 0.1:
        data = text.encode()
        i = rng.randrange(len(data) + 1)
        return which, data[:i] + rng.choice(BAD_BYTES) + data[i:]
    return which, text


def work(connection, paths, seed):
    import kavrel
    texts = [path.read_text(encoding="utf-8") for path in paths]
    handle, scratch = tempfile.mkstemp(suffix=".urdf")
    os.close(handle)
    try:
        while (index := connection.recv()) is not None:
            which, doc = document(texts, seed, index)
            if isinstance(doc, bytes):
                Path(scratch).write_bytes(doc)
            start = time.perf_counter()
            try:
                model = kavrel.parse_urdf_file(scratch) if isinstance(doc, bytes) else kavrel.parse_urdf_from_string(doc)
                elapsed = time.perf_counter() - start
                str(model), model.names, model.to_string_info()  # every name must decode
                outcome = "accepted" if expat_accepts(doc) else "accepted, Python's expat refuses"
            except RuntimeError as error:
                elapsed = time.perf_counter() - start
                outcome = "refused" if str(error).startswith(PREFIX) else f"unexpected message: {error}"
            except Exception as error:  # noqa: BLE001 - every other failure is a finding
                elapsed = time.perf_counter() - start
                outcome = f"unexpected {type(error).__name__}"
            connection.send((index, which, outcome, elapsed))
    finally:
        os.remove(scratch)


class Worker:
    def __init__(self, paths, seed):
        self.connection, child = multiprocessing.Pipe()
        self.process = multiprocessing.Process(target=work, args=(child, paths, seed), daemon=True)
        self.process.start()
        child.close()
        self.task = None  # (index, start time)

    def give(self, index):
        self.connection.send(index)
        self.task = (index, time.monotonic())

    def stop(self):
        self.process.kill()
        self.process.join()
        self.connection.close()


def fuzz(paths, n, timeout, seed, jobs):
    counts, findings, slowest = Counter(), [], (0.0, None, None)
    workers = [Worker(paths, seed) for _ in range(jobs)]
    issued = done = 0
    next_report = 10_000
    started = time.monotonic()
    while done < n:
        for w in workers:
            if w.task is None and issued < n:
                w.give(issued)
                issued += 1
        busy = [w for w in workers if w.task is not None]
        deadline = min(w.task[1] for w in busy) + timeout
        ready = wait([w.connection for w in busy] + [w.process.sentinel for w in busy],
                     timeout=max(0.0, deadline - time.monotonic()))
        for k, w in enumerate(workers):
            if w.task is None:
                continue
            index = w.task[0]
            if w.connection in ready or w.process.sentinel in ready:
                try:
                    _, which, outcome, elapsed = w.connection.recv()
                except (EOFError, OSError):
                    w.process.join(timeout=5)
                    outcome, elapsed, which = f"crashed (exit code {w.process.exitcode})", None, None
            elif time.monotonic() - w.task[1] > timeout:
                outcome, elapsed, which = "hung", None, None
            else:
                continue
            done += 1
            w.task = None
            counts["unexpected message" if outcome.startswith("unexpected message") else outcome] += 1
            if outcome not in ("accepted", "refused"):
                findings.append((index, outcome))
            if elapsed is not None and elapsed > slowest[0]:
                slowest = (elapsed, index, paths[which].name)
            if elapsed is None:  # the worker is dead or stuck: replace it
                w.stop()
                workers[k] = Worker(paths, seed)
        if done >= next_report:
            print(f"  {done} documents, {time.monotonic() - started:.0f} s", file=sys.stderr)
            next_report += 10_000
    for w in workers:
        w.connection.send(None)
        w.process.join(timeout=5)
        w.stop()
    return counts, findings, slowest, time.monotonic() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("robots", nargs="?", type=Path, default=ROBOTS)
    parser.add_argument("-n", type=int, default=100_000, help="number of documents")
    parser.add_argument("--timeout", type=float, default=10.0, help="seconds before a parse counts as hung")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--jobs", type=int, default=2, help="worker processes")
    parser.add_argument("--show", type=int, metavar="INDEX", help="print document INDEX and stop")
    args = parser.parse_args()
    paths = robot_files(args.robots)
    if not paths:
        parser.error(f"no .urdf files in {args.robots}")
    if args.show is not None:
        which, doc = document([p.read_text(encoding="utf-8") for p in paths], args.seed, args.show)
        print(f"# from {paths[which].name}", file=sys.stderr)
        sys.stdout.buffer.write(doc if isinstance(doc, bytes) else doc.encode())
        return
    counts, findings, slowest, elapsed = fuzz(paths, args.n, args.timeout, args.seed, args.jobs)
    print(f"{args.n} documents from {len(paths)} robots (seed {args.seed}) in {elapsed:.0f} s, "
          f"{args.jobs} workers, timeout {args.timeout:g} s")
    for outcome in ("accepted", "refused", "accepted, Python's expat refuses", "hung"):
        print(f"  {outcome:<34} {counts.pop(outcome, 0):>8}")
    crashed = sum(v for k, v in counts.items() if k.startswith("crashed"))
    print(f"  {'crashed':<34} {crashed:>8}")
    for outcome, count in sorted(counts.items()):
        if not outcome.startswith("crashed"):
            print(f"  {outcome:<34} {count:>8}")
    if slowest[1] is not None:
        print(f"  slowest parse: {slowest[0] * 1e3:.2f} ms (document {slowest[1]}, from {slowest[2]})")
    for index, outcome in findings[:20]:
        print(f"  document {index}: {outcome}")


if __name__ == "__main__":
    main()
