#!/usr/bin/env python3
"""Write the README's table of SQL function names from charfn/functions.def.

Usage (from the repository root):
    python3 scripts/gen_sql_names.py [--check]

The SQL extension (sqlite/) registers every catalogue row flagged
ZEQ_FN_FUNCTION as zeq_<name> and, where SQLite has no function of that name
(it has char and count), under its lower-case name, for each argument count
from MIN to MAX (any count when MAX is -1), deterministic in a UTF-8
connection unless the row reads task state.  The unit is what positions and
counts are measured in when the session is UTF-8: characters for a row with
a multibyte twin (MB_ENTRY), else bytes (catalogue.h, Function::unit).  This script writes the same facts into README.md between
the lines

    <!-- sql-names: begin (scripts/gen_sql_names.py) -->
    <!-- sql-names: end -->

With --check nothing is written: a README that differs gives exit status 1.
"""

import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEF = os.path.join(ROOT, "charfn", "functions.def")
README = os.path.join(ROOT, "docs", "sql.md")
BEGIN = "<!-- sql-names: begin (scripts/gen_sql_names.py) -->"
END = "<!-- sql-names: end -->"

FIELDS = ["name", "slot", "slot2", "entry", "mb_entry", "result", "min", "max",
          "argtypes", "usage", "args", "call_result", "call_usage", "flags",
          "modifiers", "summary", "examples", "notes"]
TOKEN = re.compile(r'"(?:\\.|[^"\\])*"|[^,"()]+|[(),]')


def unquote(literal):
    return bytes(literal[1:-1], "utf-8").decode("unicode_escape")


def rows(text):
    """Each ZEQ_FUNCTION(...) row as a dict of FIELDS."""
    text = "\n".join(l for l in text.split("\n") if not l.lstrip().startswith("//"))
    out = []
    for start in re.finditer(r"^ZEQ_FUNCTION\(", text, re.M):
        fields, parts, depth = [], [], 0
        for tok in TOKEN.finditer(text, start.end()):
            t = tok.group(0)
            if t == "(":
                depth += 1
            elif t == ")" and depth == 0:
                break
            elif t == ")":
                depth -= 1
            if t == "," and depth == 0:
                fields.append(parts)
                parts = []
            else:
                parts.append(t)
        fields.append(parts)
        values = []
        for p in fields:
            strings = [s for s in p if s.startswith('"')]
            values.append("".join(unquote(s) for s in strings) if strings else "".join(p).strip())
        if len(values) != len(FIELDS):
            sys.exit("gen_sql_names: a row of %d fields: %s" % (len(values), values[:1]))
        out.append(dict(zip(FIELDS, values)))
    return out


def counts(row):
    lo, hi = int(row["min"]), int(row["max"])
    if hi < 0:
        return "%d or more" % lo
    return str(lo) if lo == hi else "%d to %d" % (lo, hi)


SQLITE_BUILTINS = {"char", "count"}


def table(defs):
    lines = ["| SQL name | arguments | result | unit | deterministic | what it does |",
             "|---|---|---|---|---|---|"]
    for r in sorted(defs, key=lambda r: r["name"]):
        if "ZEQ_FN_FUNCTION" not in r["flags"]:
            continue
        task = "ZEQ_FN_READS_TASK" in r["flags"]
        result = "number" if r["result"] == "Number" else "text"
        name = r["name"].lower()
        shown = "zeq_" + name if name in SQLITE_BUILTINS else name
        lines.append("| `%s(%s)` | %s | %s | %s | %s | %s |" % (
            shown, r["usage"].replace("|", "\\|"), counts(r), result,
            "characters" if r["mb_entry"] else "bytes",
            "no (connection's costs)" if task else "in UTF-8", r["summary"].replace("|", "\\|")))
    return "\n".join(lines)


def main(argv):
    check = "--check" in argv
    defs = rows(open(DEF, encoding="utf-8").read())
    readme = open(README, encoding="utf-8").read()
    try:
        head, rest = readme.split(BEGIN + "\n", 1)
        _, tail = rest.split(END, 1)
    except ValueError:
        sys.exit("gen_sql_names: README.md lacks the sql-names markers")
    new = head + BEGIN + "\n" + table(defs) + "\n" + END + tail
    if check:
        if new != readme:
            print("README.md: the SQL name table differs from charfn/functions.def "
                  "(run python3 scripts/gen_sql_names.py)")
            return 1
        return 0
    if new != readme:
        open(README, "w", encoding="utf-8").write(new)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
