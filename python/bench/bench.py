"""Ratios against the Python peers: edit distances of name pairs, matrices and
best matches, long pairs, and uniform draws into a numpy array.

    PYTHONPATH=build/python /usr/bin/python3 python/bench/bench.py [--pairs N] [--json PATH]

Peers: rapidfuzz (process.cpdist, process.cdist, process.extractOne; used
when it imports, e.g. with PYTHONPATH=../shared/tools/pyrapidfuzz: it is not
a dependency of this project, and its rows are left out without it),
python-Levenshtein and jellyfish (Debian python3-levenshtein,
python3-jellyfish; called per row in a comprehension, the quickest way to
call a scalar function per row), numpy's Generator.

Each figure is CPU seconds of the process for one run (the machines this
runs on are shared; CPU time is what a run costs), except the thread
comparison, which is wall time.  A ratio is zeqwucha's time over the peer's:
below 1 zeqwucha is faster.  Before timing, every workload checks that both
sides give the same answers.
"""
import argparse
import json
import random
import time
import warnings

import numpy as np

import zeqwucha as zq

LETTERS = "abcdefghijklmnopqrstuvwxyz"


def names(n, seed):
    """Names of 5 to 30 characters: a first and a last word, no trailing blank."""
    rng = random.Random(seed)
    out = []
    for _ in range(n):
        size = rng.randint(5, 30)
        cut = rng.randint(2, max(2, size - 3))
        word = "".join(rng.choice(LETTERS) for _ in range(size))
        out.append((word[:cut].capitalize() + " " + word[cut + 1:].capitalize()).strip())
    return np.array(out, dtype=object)


def long_texts(n, seed):
    """Texts of 200 to 2,000 characters, each a mutation of a shared base."""
    rng = random.Random(seed)
    base = "".join(rng.choice(LETTERS + " ") for _ in range(2000))
    out = []
    for _ in range(n):
        t = list(base[: rng.randint(200, 2000)])
        for _ in range(len(t) // 10):
            t[rng.randrange(len(t))] = rng.choice(LETTERS)
        out.append("".join(t).strip())
    return np.array(out, dtype=object)


def cpu(fn):
    """(CPU seconds, wall seconds, result) of one run."""
    c, w = time.process_time(), time.perf_counter()
    out = fn()
    return time.process_time() - c, time.perf_counter() - w, out


def peers():
    found = {}
    try:
        from rapidfuzz import distance, process
        found["rapidfuzz"] = (process, distance.Levenshtein.distance)
    except ImportError:
        pass
    import Levenshtein
    import jellyfish
    found["Levenshtein"] = Levenshtein
    found["jellyfish"] = jellyfish
    return found


class Table:
    def __init__(self):
        self.rows = []

    def add(self, workload, mine, peer, peer_name, note=""):
        """One comparison: (cpu, wall, result) of zeqwucha and of the peer."""
        row = {"workload": workload, "zeqwucha_s": mine[0], "peer": peer_name, "peer_s": peer[0],
               "ratio": mine[0] / peer[0] if peer[0] else float("nan"), "note": note}
        self.rows.append(row)
        print(f"  {workload:44s} {mine[0]:8.3f} s  {peer_name:44s} {peer[0]:8.3f} s  {row['ratio']:6.2f}", flush=True)


def pair_rows(t, p, a, b, label):
    mine = cpu(lambda: zq.complev(a, b))
    if "rapidfuzz" in p:
        process, lev = p["rapidfuzz"]
        peer = cpu(lambda: process.cpdist(a, b, scorer=lev, workers=1))
        assert np.array_equal(mine[2], peer[2]), "complev and cpdist disagree"
        t.add(f"{label}: complev(a, b)", mine, peer, "rapidfuzz cpdist(workers=1)")
        c3 = cpu(lambda: zq.complev(a, b, 3))
        peer = cpu(lambda: process.cpdist(a, b, scorer=lev, workers=1, score_cutoff=3))
        t.add(f"{label}: complev(a, b, 3)", c3, peer, "rapidfuzz cpdist(score_cutoff=3)")
    return mine


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--pairs", type=int, default=1_000_000)
    ap.add_argument("--queries", type=int, default=2000)
    ap.add_argument("--choices", type=int, default=500)
    ap.add_argument("--long", type=int, default=10_000)
    ap.add_argument("--draws", type=int, default=10_000_000)
    ap.add_argument("--json", help="also write the rows to this file")
    opt = ap.parse_args()
    warnings.filterwarnings("ignore", category=DeprecationWarning)  # jellyfish's argument parsing
    p = peers()
    if "rapidfuzz" not in p:
        print("rapidfuzz does not import: its rows are left out")
    t = Table()
    print("workload (CPU s, one run)                      zeqwucha    peer                                            ratio")

    a, b = names(opt.pairs, 1), names(opt.pairs, 2)
    mine = pair_rows(t, p, a, b, f"{opt.pairs:,} name pairs")
    lev, jelly = p["Levenshtein"], p["jellyfish"]
    peer = cpu(lambda: [lev.distance(x, y) for x, y in zip(a, b)])
    assert mine[2].tolist() == peer[2]
    t.add(f"{opt.pairs:,} name pairs: complev(a, b)", mine, peer, "python-Levenshtein distance per row")
    peer = cpu(lambda: [jelly.levenshtein_distance(x, y) for x, y in zip(a, b)])
    t.add(f"{opt.pairs:,} name pairs: complev(a, b)", mine, peer, "jellyfish levenshtein_distance per row")
    two = cpu(lambda: zq.complev(a, b, threads=2))
    t.add(f"{opt.pairs:,} name pairs: threads=2 (wall)", (two[1],) + two[1:], (mine[1],) + mine[1:],
          "threads=1 (wall)", "wall time")

    q, c = names(opt.queries, 3), names(opt.choices, 4)
    shape = f"{opt.queries:,} x {opt.choices:,}"
    if "rapidfuzz" in p:
        process, scorer = p["rapidfuzz"]
        for cutoff in (None, 3):
            mine = cpu(lambda: zq.cdist(q, c, cutoff=cutoff))
            peer = cpu(lambda: process.cdist(q, c, scorer=scorer, workers=1, score_cutoff=cutoff))
            if cutoff is None:
                assert np.array_equal(mine[2], peer[2]), "cdist disagrees"
            t.add(f"cdist {shape}" + (f", cutoff {cutoff}" if cutoff else ""), mine, peer,
                  "rapidfuzz cdist(workers=1)")
        mine = cpu(lambda: zq.extract_one(q, c))
        peer = cpu(lambda: [process.extractOne(x, c, scorer=scorer) for x in q])
        assert mine[2][0].tolist() == [r[2] for r in peer[2]], "extract_one disagrees"
        t.add(f"extract_one {shape}", mine, peer, "rapidfuzz extractOne in a loop")
        la, lb = long_texts(opt.long, 5), long_texts(opt.long, 6)
        pair_rows(t, p, la, lb, f"{opt.long:,} pairs of 200-2,000 chars")

    stream = zq.Stream("MT32", 42)
    gen = np.random.Generator(np.random.MT19937(42))
    t.add(f"{opt.draws:,} uniform draws", cpu(lambda: stream.draw(opt.draws)),
          cpu(lambda: gen.random(opt.draws)), "numpy Generator(MT19937).random")
    if opt.json:
        with open(opt.json, "w") as f:
            json.dump(t.rows, f, indent=1)


if __name__ == "__main__":
    main()
