#!/usr/bin/env bash
# Rows per second of `zeq batch` over a generated CSV of 1,000,000 rows:
# COMPGED of a name column against a fixed name, and COUNTW of a text column,
# each with --jobs 1 and --jobs 2 (the ratio is the speed-up), and the time of
# awk '{print NF}' over the same file for scale.
#
#   bench/zeq_batch_bench.sh [ZEQ_BINARY] [ROWS]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
zeq="${1:-$here/build/zeq}"
rows="${2:-1000000}"
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

printf '%-26s %8s %8s %12s\n' "run ($rows rows)" wall cpu rows/s
declare -A wall
for expr in 'd=COMPGED(name, "Jonathan Smith")' 'w=COUNTW(text)'; do
  for jobs in 1 2; do
    read -r w c < <(times "$zeq" batch --no-progress --jobs "$jobs" "$csv" "$expr")
    wall["$expr/$jobs"]=$w
    fn="${expr#*=}"
    printf '%-26s %8.2f %8.2f %12.0f\n' "${fn%%(*} --jobs $jobs" "$w" "$c" "$(echo "$rows / $w" | bc -l)"
  done
  printf '  --jobs 2 speed-up (wall): %.2fx\n' "$(echo "${wall[$expr/1]} / ${wall[$expr/2]}" | bc -l)"
done
read -r w c < <(times awk '{print NF}' "$csv")
printf '%-26s %8.2f %8.2f %12.0f\n' "awk '{print NF}'" "$w" "$c" "$(echo "$rows / $w" | bc -l)"
printf '  COUNTW --jobs 1 takes %.2fx the wall time of awk\n' "$(echo "${wall['w=COUNTW(text)/1']} / $w" | bc -l)"
printf '  (load average: %s)\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
