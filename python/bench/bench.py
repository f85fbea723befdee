"""Ratios against the Python peers: edit distances over name pairs in a
pandas DataFrame, and uniform draws into a numpy array.

    PYTHONPATH=build/python /usr/bin/python3 python/bench/bench.py [--rows N] [--draws N]

Each timing is the best of --repeat runs, in CPU seconds of the process
(the machines this runs on are shared; CPU time is what a run costs) and, for
the comparison of thread counts, in wall seconds.  A ratio above 1 means
zeqwucha is faster.  The peers are applied per row (a comprehension over the
two columns, the quickest way to call a scalar function per row).
"""
import argparse
import time
import warnings

import numpy as np
import pandas as pd

import zeqwucha as zq


def name_pairs(rows, seed=1):
    rng = np.random.default_rng(seed)
    first = np.array(["John", "Jon", "Joan", "Jane", "Johan", "Maria", "Mario", "Ann", "Anna", "Peter"])
    last = np.array(["Smith", "Smyth", "Schmidt", "Miller", "Muller", "Johnson", "Jonson", "Brown", "Braun"])
    a = np.char.add(np.char.add(rng.choice(first, rows), " "), rng.choice(last, rows))
    b = np.char.add(np.char.add(rng.choice(first, rows), " "), rng.choice(last, rows))
    return pd.DataFrame({"a": a.astype(object), "b": b.astype(object)})


def best(fn, repeat):
    """(CPU seconds, wall seconds, result) of the quickest run."""
    times = []
    for _ in range(repeat):
        c, w = time.process_time(), time.perf_counter()
        out = fn()
        times.append((time.process_time() - c, time.perf_counter() - w))
    return min(t[0] for t in times), min(t[1] for t in times), out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rows", type=int, default=1_000_000)
    ap.add_argument("--draws", type=int, default=10_000_000)
    ap.add_argument("--repeat", type=int, default=3)
    opt = ap.parse_args()

    import Levenshtein
    import jellyfish
    warnings.filterwarnings("ignore", category=DeprecationWarning)  # jellyfish's argument parsing

    df = name_pairs(opt.rows)
    runs = {
        "zeqwucha complev threads=1": lambda: zq.complev(df.a, df.b),
        "zeqwucha complev threads=2": lambda: zq.complev(df.a, df.b, threads=2),
        "zeqwucha compged threads=1": lambda: zq.compged(df.a, df.b),
        "zeqwucha compged threads=2": lambda: zq.compged(df.a, df.b, threads=2),
        "python-Levenshtein distance per row": lambda: [Levenshtein.distance(x, y) for x, y in zip(df.a, df.b)],
        "jellyfish levenshtein_distance per row":
            lambda: [jellyfish.levenshtein_distance(x, y) for x, y in zip(df.a, df.b)],
    }
    t = {name: best(fn, opt.repeat) for name, fn in runs.items()}
    assert t["zeqwucha complev threads=1"][2].tolist() == t["python-Levenshtein distance per row"][2]
    print(f"{opt.rows} name pairs (CPU s, wall s):")
    for name, (cpu, wall, _) in t.items():
        print(f"  {name:42s} {cpu:8.3f} {wall:8.3f}")
    mine = "zeqwucha complev threads=1"
    for peer in ("python-Levenshtein distance per row", "jellyfish levenshtein_distance per row"):
        print(f"  {peer} / {mine} (CPU): {t[peer][0] / t[mine][0]:.2f}")
    for fn in ("complev", "compged"):
        one, two = t[f"zeqwucha {fn} threads=1"][1], t[f"zeqwucha {fn} threads=2"][1]
        print(f"  {fn} threads=1 / threads=2 (wall): {one / two:.2f}")

    stream = zq.Stream("MT32", 42)
    gen = np.random.Generator(np.random.MT19937(42))
    mine = best(lambda: stream.draw(opt.draws), opt.repeat)[0]
    peer = best(lambda: gen.random(opt.draws), opt.repeat)[0]
    print(f"{opt.draws} uniform draws (CPU s):")
    print(f"  zeqwucha Stream('MT32').draw             {mine:8.3f} s")
    print(f"  numpy Generator(MT19937).random          {peer:8.3f} s")
    print(f"  numpy / zeqwucha: {peer / mine:.2f}")


if __name__ == "__main__":
    main()
