#!/usr/bin/env bash
# Rows per second of `zeq batch` over a generated CSV of 1,000,000 rows:
# COMPGED of a name column against a fixed name, and COUNTW of a text column,
# each with --jobs 1 and --jobs 2 (the ratio is the speed-up), and the time of
# awk '{print NF}' over the same file as the peer of COUNTW.  Then the rate of
# `zeq rand --method MT64 --as uint64 --format binary` into /dev/null against
# `head -c` of /dev/urandom.  With a JSON path, the ratios are also written
# there as rows for scripts/bench-report.
#
#   bench/zeq_batch_bench.sh [ZEQ_BINARY] [ROWS] [JSON]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
zeq="${1:-$here/build/zeq}"
rows="${2:-1000000}"
json="${3:-}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
csv="$work/rows.csv"

python3 - "$csv" "$rows" <<'PY'
import random, sys
random.seed(16)
first = ["John", "Jon", "Jonathan", "Mary", "Marie", "Ann", "Anne", "Peter", "Pieter", "Zoe"]
last = ["Smith", "Smyth", "Schmidt", "Brown", "Braun", "O'Neil", "Nguyen", "Muller", "Miller", "Jones"]
words = ["alpha", "beta", "gamma", "delta", "one", "two", "three", "north", "south", "red,blue"]
with open(sys.argv[1], "w") as f:
    f.write("id,name,text\n")
    for i in range(int(sys.argv[2])):
        name = "%s %s" % (random.choice(first), random.choice(last))
        text = " ".join(random.choice(words) for _ in range(random.randint(1, 12)))
        f.write('%d,"%s","%s"\n' % (i, name, text))
PY

# Runs the command; prints its wall time and its CPU time (user + system) in
# seconds.  On a shared machine the wall time includes waiting for a core.
times() {
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null
  awk '{printf "%.3f %.3f\n", $1, $2 + $3}' "$work/time"
}
div() { echo "$1 / $2" | bc -l; }

printf '%-26s %8s %8s %12s\n' "run ($rows rows)" wall cpu rows/s
declare -A wall cpu
for expr in 'd=COMPGED(name, "Jonathan Smith")' 'w=COUNTW(text)'; do
  for jobs in 1 2; do
    read -r w c < <(times "$zeq" batch --no-progress --jobs "$jobs" "$csv" "$expr")
    wall["$expr/$jobs"]=$w
    cpu["$expr/$jobs"]=$c
    fn="${expr#*=}"
    printf '%-26s %8.2f %8.2f %12.0f\n' "${fn%%(*} --jobs $jobs" "$w" "$c" "$(div "$rows" "$w")"
  done
  printf '  --jobs 2 speed-up (wall): %.2fx\n' "$(div "${wall[$expr/1]}" "${wall[$expr/2]}")"
done
read -r aw ac < <(times awk '{print NF}' "$csv")
printf '%-26s %8.2f %8.2f %12.0f\n' "awk '{print NF}'" "$aw" "$ac" "$(div "$rows" "$aw")"
c1=${cpu['w=COUNTW(text)/1']} w1=${wall['w=COUNTW(text)/1']} w2=${wall['w=COUNTW(text)/2']}
printf '  COUNTW --jobs 1 / awk: %.2f (CPU), %.2f (wall)\n' "$(div "$c1" "$ac")" "$(div "$w1" "$aw")"

# Binary draws into /dev/null: bytes a second of wall time.
words=50000000
rate() {
  /usr/bin/time -f "%e" -o "$work/time" "$@" >/dev/null
  awk -v b=$((words * 8)) '{printf "%.0f\n", b / ($1 > 0 ? $1 : 0.001) / 1e6}' "$work/time"
}
zr=$(rate "$zeq" rand --method MT64 --seed 1 --as uint64 --format binary --count "$words")
ur=$(rate head -c $((words * 8)) /dev/urandom)
printf '%-26s %8s MB/s\n' "zeq rand MT64 uint64" "$zr" "head -c /dev/urandom" "$ur"
printf '  zeq rand / head -c /dev/urandom: %.2fx\n' "$(div "$zr" "$ur")"
printf '  (load average: %s)\n' "$(cut -d' ' -f1-3 /proc/loadavg)"

[ -n "$json" ] || exit 0
python3 - "$json" "$rows" "$c1" "$ac" "$w1" "$w2" "$zr" "$ur" <<'PY'
import json, sys
path, rows, c1, ac, w1, w2, zr, ur = sys.argv[1], int(sys.argv[2]), *map(float, sys.argv[3:])
out = [
    {"workload": f"zeq batch COUNTW(text), {rows:,} rows, --jobs 1", "zeqwucha_s": c1,
     "peer": "awk '{print NF}'", "peer_s": ac, "ratio": c1 / ac, "note": "CPU time"},
    {"workload": f"zeq batch COUNTW(text), {rows:,} rows, --jobs 2", "zeqwucha_s": w2,
     "peer": "--jobs 1", "peer_s": w1, "ratio": w2 / w1, "note": "wall time"},
    {"workload": "zeq rand --method MT64 --as uint64 --format binary > /dev/null", "zeqwucha_s": None,
     "peer": "head -c of /dev/urandom", "peer_s": None, "ratio": ur / zr,
     "note": f"{zr:.0f} MB/s against {ur:.0f} MB/s (time for the same bytes)"},
]
with open(path, "w") as f:
    json.dump(out, f, indent=1)
PY
