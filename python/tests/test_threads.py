"""Sessions of both encodings, the module-level functions and streams on
Python threads at once: every answer equals the one computed alone.

ZEQ_STRESS_CALLS sets the module calls per thread (default 20000)."""
import os
import random
import threading

import numpy as np

import zeqwucha as zq

TEXTS = ["", "a", "kitten", "sitting", "the quick brown fox", "a,b;;c d",
         "\u00e9t\u00e9 \u00e0 Paris", "Stra\u00dfe", "  lead and trail  ", "x\u00e9y \u00e9 z"]
BATCH = 50  # rows per call


def calls(target):
    """What one thread calls: (name, function of (a, b, n) arrays)."""
    return [
        ("complev", lambda a, b, n: target.complev(a, b)),
        ("compged", lambda a, b, n: target.compged(a, b)),
        ("countw", lambda a, b, n: target.countw(a, threads=2)),
        ("scan", lambda a, b, n: target.scan(a, n)),
    ]


def inputs(rng):
    i = [rng.randrange(len(TEXTS)) for _ in range(BATCH)]
    j = [rng.randrange(len(TEXTS)) for _ in range(BATCH)]
    return i, j


def arrays(i, j):
    return (np.array([TEXTS[k] for k in i], dtype=object), np.array([TEXTS[k] for k in j], dtype=object),
            np.array([(k % 3 + 1) * (1 if k % 2 else -1) for k in j], dtype=np.int64))


def table(target):
    """Every answer of each function by case (i, j), from one call alone."""
    i = [a for a in range(len(TEXTS)) for _ in range(len(TEXTS))]
    j = [b for _ in range(len(TEXTS)) for b in range(len(TEXTS))]
    a, b, n = arrays(i, j)
    return {name: dict(zip(zip(i, j), list(fn(a, b, n)))) for name, fn in calls(target)}


def same(x, y):
    return x == y or (x != x and y != y)  # NaN for NaN


def test_sessions_and_module_functions_on_threads_answer_as_alone():
    targets = [zq, zq.Session("utf-8"), zq.Session("latin-1"), zq.Session("latin-1")] * 2
    wanted = {id(t): table(t) for t in targets}
    draws = {seed: zq.Stream("MT64", seed=seed).draw(4).tolist() for seed in range(1, 9)}
    rounds = int(os.environ.get("ZEQ_STRESS_CALLS", "20000")) // BATCH
    faults = []

    def work(k, target):
        rng = random.Random(k)
        want = wanted[id(target)]
        funcs = calls(target)
        for r in range(rounds):
            name, fn = funcs[r % len(funcs)]
            i, j = inputs(rng)
            got = list(fn(*arrays(i, j)))
            bad = [(c, g) for c, g in zip(zip(i, j), got) if not same(g, want[name][c])]
            if bad:
                faults.append(f"thread {k} {name} {bad[0]}: want {want[name][bad[0][0]]!r}")
                return
            if r % 16 == 0:
                seed = 1 + r // 16 % 8
                if zq.Stream("MT64", seed=seed).draw(4).tolist() != draws[seed]:
                    faults.append(f"thread {k}: stream {seed} drew otherwise")
                    return

    threads = [threading.Thread(target=work, args=(k, t)) for k, t in enumerate(targets)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert faults == []
