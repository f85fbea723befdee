#!/usr/bin/env python3
"""Generate strkernel/tables/case_tables.inc from the Unicode character data.

Usage (from the repository root):
    python3 scripts/gen_case_tables.py [--check] [UNICODE_DIR]

UNICODE_DIR defaults to scripts/unicode in the repository and
must hold UnicodeData-1.1.5.txt and UnicodeData-9.0.0.txt, unchanged.

Tables written (all two-level: page = u >> 7, slot = u & 0x7F):

  skz_metatable   512 x int16   start of a page's row in skz_upshift and
                                skz_downshift, -1 when neither changes the page
  skz_upshift     19 x 128 int8 upper-case delta; -128 means "see skz_upaux"
  skz_downshift   19 x 128 int8 lower-case delta; -128 means "see skz_downaux"
  skz_upaux       (from, to) pairs whose delta does not fit in -127..127,
  skz_downaux     in code-point order, ended by a (0, 0) pair
  skz_min_meta    512 x int32   start of a page's row in skz_minshift, or -1
  skz_minshift    31 x 128 int32 delta to the smallest member of the case class
  skz_max_meta    512 x int32   start of a page's row in skz_maxshift, or -1
  skz_maxshift    29 x 128 int32 delta to the largest member of the case class

Upper and lower case come from Unicode 1.1.5 alone (fields 12 and 13, the
simple one-to-one mappings): that edition gives the 671 / 706 changed code
points the module promises; later editions add and drop mappings (0130/0131,
0189/0256, 03DA..03E0) and no longer give those counts.  Case classes come
from Unicode 9.0.0: connected components of the graph with an edge from each
code point to each of its fields 12, 13 and 14; a code point without any of
the three mappings keeps itself (only U+00DF is affected, whose class is
{00DF, 1E9E}).

Every count, page list, pair list and a set of telling rows is asserted; any
failed assumption stops the script with a message and exit status 2.  With
--check the output is produced in memory and compared with the committed
file; a difference gives exit status 1.
"""

import collections
import os
import sys

OUTPUT = os.path.join("strkernel", "tables", "case_tables.inc")
OLD = "UnicodeData-1.1.5.txt"
NEW = "UnicodeData-9.0.0.txt"

CASE_PAGES = [0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 33, 60, 61, 62, 63, 66, 73, 510]
MIN_PAGES = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 39, 57, 60, 61, 62, 63, 66, 67, 73,
             88, 89, 90, 332, 333, 334, 335, 342, 343, 510]
MAX_PAGES = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 33, 39, 57, 58, 60, 61, 62, 63, 66, 67, 73,
             88, 89, 332, 333, 334, 335, 510]

UP_PAIRS = [(0x017F, 0x0053), (0x0253, 0x0181), (0x0254, 0x0186), (0x0257, 0x018A),
            (0x0258, 0x018E), (0x0259, 0x018F), (0x025B, 0x0190), (0x0260, 0x0193),
            (0x0263, 0x0194), (0x0268, 0x0197), (0x0269, 0x0196), (0x026F, 0x019C),
            (0x0272, 0x019D), (0x0283, 0x01A9), (0x0288, 0x01AE), (0x028A, 0x01B1),
            (0x028B, 0x01B2), (0x0292, 0x01B7), (0x1F78, 0x1FF8), (0x1F79, 0x1FF9)]
DOWN_PAIRS = [(0x0181, 0x0253), (0x0186, 0x0254), (0x018A, 0x0257), (0x018E, 0x0258),
              (0x018F, 0x0259), (0x0190, 0x025B), (0x0193, 0x0260), (0x0194, 0x0263),
              (0x0196, 0x0269), (0x0197, 0x0268), (0x019C, 0x026F), (0x019D, 0x0272),
              (0x01A9, 0x0283), (0x01AE, 0x0288), (0x01B1, 0x028A), (0x01B2, 0x028B),
              (0x01B7, 0x0292), (0x1FF8, 0x1F78), (0x1FF9, 0x1F79)]

AUX = -128  # delta entry that sends the lookup to the pair list


class Failed(Exception):
    pass


def need(condition, what):
    if not condition:
        raise Failed(what)


def read_data(path, comment_lines):
    """Rows of (code point, fields) of a UnicodeData file."""
    rows = []
    comments = 0
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith("#"):
                comments += 1
                continue
            if not line:
                continue
            fields = line.split(";")
            need(len(fields) == 15, "%s:%d: %d fields, expected 15" % (path, number, len(fields)))
            rows.append((int(fields[0], 16), fields))
    need(comments == comment_lines,
         "%s: %d comment lines, expected %d" % (path, comments, comment_lines))
    return rows


# ---------------------------------------------------------------------------
# Upper and lower case (Unicode 1.1.5)
# ---------------------------------------------------------------------------

def case_maps(rows):
    upper, lower = {}, {}
    for u, f in rows:
        if f[12]:
            upper[u] = int(f[12], 16)
        if f[13]:
            lower[u] = int(f[13], 16)
    return upper, lower


def check_case(upper, lower):
    up = lambda u: upper.get(u, u)
    lo = lambda u: lower.get(u, u)
    changed_up = sorted(u for u in upper if upper[u] != u)
    changed_lo = sorted(u for u in lower if lower[u] != u)
    need(len(changed_up) == 671, "upper-casing changes %d code points, expected 671" % len(changed_up))
    need(len(changed_lo) == 706, "lower-casing changes %d code points, expected 706" % len(changed_lo))
    pages = sorted({u >> 7 for u in changed_up} | {u >> 7 for u in changed_lo})
    need(pages == CASE_PAGES, "case pages %s, expected %s" % (pages, CASE_PAGES))
    need(all(u < 0x10000 and t < 0x10000 for m in (upper, lower) for u, t in m.items()),
         "a case mapping outside the basic plane")

    for c in range(26):
        need(up(0x61 + c) == 0x41 + c and lo(0x41 + c) == 0x61 + c, "a..z <-> A..Z")
    rows = [
        (up, 0x00FF, 0x0178), (up, 0x017F, 0x0053), (lo, 0x018E, 0x0258), (up, 0x0258, 0x018E),
        (up, 0x00E9, 0x00C9), (lo, 0x0181, 0x0253),
        # peculiarities of this edition, kept on purpose
        (up, 0x01C5, 0x01C4), (up, 0x01C8, 0x01C7), (up, 0x01CB, 0x01CA), (up, 0x01F2, 0x01F1),
        (lo, 0x01C5, 0x01C6), (lo, 0x01C8, 0x01C9), (lo, 0x01CB, 0x01CC), (lo, 0x01F2, 0x01F3),
    ]
    for f, u, t in rows:
        need(f(u) == t, "row U+%04X -> U+%04X does not hold (U+%04X)" % (u, t, f(u)))
    for u in (0x0131, 0x00DF, 0x00B5, 0x03C2, 0x0130, 0x0189, 0x0256):
        need(up(u) == u and lo(u) == u, "U+%04X must not change" % u)
    for u in list(range(0x0218, 0x0234)) + [0x0400, 0x0450] + list(range(0x13A0, 0x13F6)):
        need(up(u) == u and lo(u) == u, "later addition U+%04X must not change" % u)
    for u in range(0x10A0, 0x10C6):
        need(lo(u) == u + 0x30, "Georgian U+%04X" % u)
        need(up(u + 0x30) == u + 0x30, "Georgian small U+%04X has no upper mapping" % (u + 0x30))
    for u in (0x03DA, 0x03DC, 0x03DE, 0x03E0):
        need(lo(u) == u + 1 and up(u + 1) == u + 1, "U+%04X lower-cases one way only" % u)
    for a, b, n in ((0x2160, 0x2170, 16), (0x24B6, 0x24D0, 26), (0xFF21, 0xFF41, 26)):
        for i in range(n):
            need(lo(a + i) == b + i and up(b + i) == a + i, "U+%04X <-> U+%04X" % (a + i, b + i))

    up_pairs = [(u, upper[u]) for u in changed_up if not -127 <= upper[u] - u <= 127]
    down_pairs = [(u, lower[u]) for u in changed_lo if not -127 <= lower[u] - u <= 127]
    need(up_pairs == UP_PAIRS, "upper pair list differs: %s" % up_pairs)
    need(down_pairs == DOWN_PAIRS, "lower pair list differs: %s" % down_pairs)
    return pages, changed_up, changed_lo


def case_rows(mapping, pages):
    deltas = []
    for page in pages:
        for u in range(page << 7, (page + 1) << 7):
            d = mapping.get(u, u) - u
            deltas.append(d if -127 <= d <= 127 else AUX)
    return deltas


# ---------------------------------------------------------------------------
# Case classes (Unicode 9.0.0)
# ---------------------------------------------------------------------------

def case_classes(rows):
    edges = collections.defaultdict(set)
    mapped = set()
    for u, f in rows:
        for i in (12, 13, 14):
            if f[i]:
                t = int(f[i], 16)
                edges[u].add(t)
                edges[t].add(u)
                mapped.add(u)
    classes = []
    member_of = {}
    for u in sorted(edges):
        if u in member_of:
            continue
        members, stack = {u}, [u]
        while stack:
            for t in edges[stack.pop()]:
                if t not in members:
                    members.add(t)
                    stack.append(t)
        cls = sorted(members)
        classes.append(cls)
        for m in cls:
            member_of[m] = cls
    minimum, maximum = {}, {}
    for cls in classes:
        for m in cls:
            # A code point with no mapping of its own keeps itself.
            minimum[m] = cls[0] if m in mapped else m
            maximum[m] = cls[-1] if m in mapped else m
    return classes, member_of, mapped, minimum, maximum


def check_classes(classes, member_of, mapped, minimum, maximum):
    sizes = collections.Counter(len(c) for c in classes)
    need(sizes == {2: 1267, 3: 24, 4: 4}, "class sizes %s, expected 1267 x 2, 24 x 3, 4 x 4" % dict(sizes))
    unmapped = [m for c in classes for m in c if m not in mapped]
    need(unmapped == [0x00DF], "code points without own mapping in a class: %s" % unmapped)
    need(not any(c[0] < 0x10000 <= c[-1] for c in classes), "a class spans both sides of U+10000")
    changed_min = sorted(u for u in minimum if u < 0x10000 and minimum[u] != u)
    changed_max = sorted(u for u in maximum if u < 0x10000 and maximum[u] != u)
    need(len(changed_min) == 1134, "minimum changes %d code points, expected 1134" % len(changed_min))
    need(len(changed_max) == 1133, "maximum changes %d code points, expected 1133" % len(changed_max))
    pmin = sorted({u >> 7 for u in changed_min})
    pmax = sorted({u >> 7 for u in changed_max})
    need(pmin == MIN_PAGES, "minimum pages %s" % pmin)
    need(pmax == MAX_PAGES, "maximum pages %s" % pmax)

    for cls in ([0x0049, 0x0069, 0x0130, 0x0131], [0x004B, 0x006B, 0x212A],
                [0x0053, 0x0073, 0x017F], [0x00C5, 0x00E5, 0x212B], [0x00B5, 0x039C, 0x03BC],
                [0x03A3, 0x03C2, 0x03C3], [0x0398, 0x03B8, 0x03D1, 0x03F4],
                [0x0345, 0x0399, 0x03B9, 0x1FBE], [0x0422, 0x0442, 0x1C84, 0x1C85],
                [0x026A, 0xA7AE], [0x00DF, 0x1E9E]):
        need(member_of.get(cls[0]) == cls, "class of U+%04X is not %s" % (cls[0], cls))
    for u in range(0x13A0, 0x13F0):
        need(member_of.get(u) == [u, u - 0x13A0 + 0xAB70], "Cherokee U+%04X" % u)
    for u in range(0x13F0, 0x13F6):
        need(member_of.get(u) == [u, u + 8], "Cherokee U+%04X" % u)
    for u in list(range(0x10D0, 0x1100)) + list(range(0x1C90, 0x1CC0)) + [0xA7B8, 0xA7B9] + \
            list(range(0xA7C0, 0xA800)):
        need(u not in member_of, "U+%04X must be in no class" % u)
    for u in (0x006B, 0x004B, 0x212A):
        need(minimum[u] == 0x004B and maximum[u] == 0x212A, "class K at U+%04X" % u)
    need(minimum[0x1E9E] == 0x00DF and maximum[0x1E9E] == 0x1E9E, "U+1E9E")
    need(minimum[0x00DF] == 0x00DF and maximum[0x00DF] == 0x00DF, "U+00DF keeps itself")
    return pmin, pmax


def class_rows(mapping, pages):
    return [mapping.get(u, u) - u for page in pages for u in range(page << 7, (page + 1) << 7)]


# ---------------------------------------------------------------------------
# Output
# ---------------------------------------------------------------------------

def meta_lines(pages):
    meta = [-1] * 512
    for i, page in enumerate(pages):
        meta[page] = i * 128
    need(all(-32768 <= m <= 32767 for m in meta), "a page entry does not fit in 16 bits")
    out = []
    for first in range(0, 512, 16):
        vals = ", ".join("%5d" % m for m in meta[first:first + 16])
        out.append("    %s,  // pages %d..%d" % (vals, first, first + 15))
    return out


def delta_lines(deltas, pages, width, bits):
    lo, hi = -(1 << (bits - 1)), (1 << (bits - 1)) - 1
    need(all(lo <= d <= hi for d in deltas), "a delta does not fit in %d bits" % bits)
    need(len(deltas) == 128 * len(pages), "row count")
    out = []
    for i, page in enumerate(pages):
        out.append("    // page %d (U+%04X..U+%04X), entries %d..%d"
                   % (page, page << 7, ((page + 1) << 7) - 1, i * 128, i * 128 + 127))
        for slot in range(0, 128, 16):
            row = deltas[i * 128 + slot:i * 128 + slot + 16]
            u = (page << 7) + slot
            vals = ", ".join("%*d" % (width, d) for d in row)
            out.append("    %s,  // U+%04X..U+%04X" % (vals, u, u + 15))
    return out


def pair_lines(pairs):
    out = ["    {0x%04X, 0x%04X},  // U+%04X -> U+%04X" % (f, t, f, t) for f, t in pairs]
    out.append("    {0, 0},  // end of list")
    return out


def generate(unicode_dir):
    old = read_data(os.path.join(unicode_dir, OLD), 20)
    new = read_data(os.path.join(unicode_dir, NEW), 0)
    upper, lower = case_maps(old)
    pages, changed_up, changed_lo = check_case(upper, lower)
    up_deltas = case_rows(upper, pages)
    down_deltas = case_rows(lower, pages)
    need(sum(1 for d in up_deltas if d) == 671, "upper delta rows lost a change")
    need(sum(1 for d in down_deltas if d) == 706, "lower delta rows lost a change")
    need(sum(1 for d in up_deltas if d == AUX) == len(UP_PAIRS), "upper pair markers")
    need(sum(1 for d in down_deltas if d == AUX) == len(DOWN_PAIRS), "lower pair markers")

    classes, member_of, mapped, minimum, maximum = case_classes(new)
    pmin, pmax = check_classes(classes, member_of, mapped, minimum, maximum)
    min_deltas = class_rows(minimum, pmin)
    max_deltas = class_rows(maximum, pmax)
    need(sum(1 for d in min_deltas if d) == 1134, "minimum rows lost a change")
    need(sum(1 for d in max_deltas if d) == 1133, "maximum rows lost a change")

    L = []
    L.append("// generated by scripts/gen_case_tables.py from %s and %s; do not edit" % (OLD, NEW))
    L.append("//")
    L.append("// Regenerate with: python3 scripts/gen_case_tables.py   (from the repository root)")
    L.append("// Included once, by strkernel/case.cc.  A code point u below 0x10000 maps to")
    L.append("// u + delta[meta[u >> 7] + (u & 0x7F)] when meta[u >> 7] is not negative.")
    L.append("// Upper/lower case: simple mappings of Unicode 1.1.5 (%d / %d code points change);"
             % (len(changed_up), len(changed_lo)))
    L.append("// a delta of -128 means the value is found in the pair list (skz_upaux,")
    L.append("// skz_downaux).  Class minimum/maximum: case classes of Unicode 9.0.0 (1134 / 1133")
    L.append("// code points change).")
    L.append("")
    L.append("// Upper- and lower-case page table, shared: %d pages." % len(pages))
    L.append("const int16_t skz_metatable[512] = {")
    L += meta_lines(pages)
    L.append("};")
    L.append("")
    L.append("// Upper-case deltas, %d pages x 128." % len(pages))
    L.append("const int8_t skz_upshift[%d] = {" % len(up_deltas))
    L += delta_lines(up_deltas, pages, 4, 8)
    L.append("};")
    L.append("")
    L.append("// Lower-case deltas, %d pages x 128." % len(pages))
    L.append("const int8_t skz_downshift[%d] = {" % len(down_deltas))
    L += delta_lines(down_deltas, pages, 4, 8)
    L.append("};")
    L.append("")
    L.append("// Upper-case mappings whose delta does not fit in -127..127.")
    L.append("static const int32_t skz_upaux[%d][2] = {" % (len(UP_PAIRS) + 1))
    L += pair_lines(UP_PAIRS)
    L.append("};")
    L.append("")
    L.append("// Lower-case mappings whose delta does not fit in -127..127.")
    L.append("static const int32_t skz_downaux[%d][2] = {" % (len(DOWN_PAIRS) + 1))
    L += pair_lines(DOWN_PAIRS)
    L.append("};")
    for name, meta, shift, pg, deltas, what in (
            ("min", "skz_min_meta", "skz_minshift", pmin, min_deltas, "smallest"),
            ("max", "skz_max_meta", "skz_maxshift", pmax, max_deltas, "largest")):
        L.append("")
        L.append("// Class-%s page table: %d pages." % ("minimum" if name == "min" else "maximum", len(pg)))
        L.append("alignas(64) static const int32_t %s[512] = {" % meta)
        L += meta_lines(pg)
        L.append("};")
        L.append("")
        L.append("// Deltas to the %s member of the case class, %d pages x 128." % (what, len(pg)))
        L.append("alignas(64) static const int32_t %s[%d] = {" % (shift, len(deltas)))
        L += delta_lines(deltas, pg, 6, 32)
        L.append("};")
    return "\n".join(L) + "\n"


def main(argv):
    check = False
    unicode_dir = None
    for a in argv[1:]:
        if a == "--check":
            check = True
        elif a in ("-h", "--help"):
            print(__doc__)
            return 0
        elif a.startswith("-"):
            print("gen_case_tables: unknown option %s" % a, file=sys.stderr)
            return 2
        else:
            unicode_dir = a
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if unicode_dir is None:
        unicode_dir = os.path.join(root, "scripts", "unicode")
    try:
        text = generate(unicode_dir)
    except (Failed, OSError, ValueError) as e:
        print("gen_case_tables: FAILED: %s" % e, file=sys.stderr)
        return 2
    path = os.path.join(root, OUTPUT)
    if check:
        try:
            with open(path, encoding="ascii") as f:
                old = f.read()
        except OSError as e:
            print("gen_case_tables: cannot read %s: %s" % (path, e), file=sys.stderr)
            return 1
        if old != text:
            a, b = old.splitlines(), text.splitlines()
            first = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
            print("gen_case_tables: %s differs from its generator output (first at line %d)"
                  % (OUTPUT, first + 1), file=sys.stderr)
            return 1
        print("gen_case_tables: %s is up to date" % OUTPUT)
        return 0
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="ascii") as f:
        f.write(text)
    print("gen_case_tables: wrote %s" % OUTPUT)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
