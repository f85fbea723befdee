#!/usr/bin/env python3
"""Raw-word ratios of rng_benchmark over several launches.

A draw costs a few nanoseconds, and where the loader happens to place the
module and the references moves a draw by a cycle or more from one launch of
the same program to the next (branch-predictor aliasing), so one launch can
put a ratio anywhere in about +-15 %.  This runs the program LAUNCHES times
and prints, per method, the median over the launches of
module CPU time / reference CPU time (BM_Method/<M>_Uint32|64 over
BM_RefCall<reference>), with the lowest and highest launch.

  bench/rng_ratios.py [--launches N] [--program build/rng_benchmark]
"""
import argparse
import json
import statistics
import subprocess

REFERENCES = {
    "MTHYBRID": "std::mt19937", "MT1998": "std::mt19937", "MT32": "std::mt19937",
    "MT64": "std::mt19937_64", "MH3": "Mh3Ref", "XOR64": "Xor64Ref", "XOR128": "Xor128Ref",
    "XOR1024": "Xor1024Ref", "XOR4096": "Xor4096Ref", "XORGENS": "XorgensRef",
    "FRY2X32": "Fry2x32Ref", "FRY2X64": "Fry2x64Ref", "FRY4X64": "Fry4x64Ref",
    "PCG32I": "Pcg32Ref", "PCG64I": "Pcg64Ref", "RANUNI": "RanuniRef",
}


def launch(program, min_time):
    out = subprocess.run(
        [program, "--benchmark_filter=^BM_Method/.*_Uint(32|64)$|^BM_RefCall<",
         f"--benchmark_min_time={min_time}", "--benchmark_format=json"],
        check=True, capture_output=True, text=True).stdout
    times = {b["name"]: b["cpu_time"] for b in json.loads(out)["benchmarks"]}
    ratios = {}
    for method, ref in REFERENCES.items():
        mod = times.get(f"BM_Method/{method}_Uint32", times.get(f"BM_Method/{method}_Uint64"))
        peer = times.get(f"BM_RefCall<{ref}>")
        if mod and peer:
            ratios[method] = mod / peer
    return ratios


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--launches", type=int, default=5)
    ap.add_argument("--program", default="build/rng_benchmark")
    ap.add_argument("--min-time", default="0.2")
    args = ap.parse_args()
    runs = [launch(args.program, args.min_time) for _ in range(max(1, args.launches))]
    print(f"{'method':<10} {'median':>7} {'low':>6} {'high':>6}   ({len(runs)} launches)")
    for method in REFERENCES:
        values = [r[method] for r in runs if method in r]
        if values:
            print(f"{method:<10} {statistics.median(values):7.2f} {min(values):6.2f} "
                  f"{max(values):6.2f}")


if __name__ == "__main__":
    main()
