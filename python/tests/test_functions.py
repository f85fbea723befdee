"""Every catalogue function through the extension, against zeq's answers."""
import math
import warnings

import numpy as np
import pandas as pd
import pytest

import zeqwucha as zq
from conftest import run_zeq, statement

# Arguments for every function callable as a function (zeq computes the
# expected results).  A function added to the catalogue needs a row here.
SAMPLES = {
    "anyfirst": [("12ab",), ("12ab", -1), ("+-", 1)],
    "anyname": [("+-a1",), ("+-a1", -4)],
    "cat": [("a ", "b"), ("x", 1.5, None)],
    "catb": [(" a ", "b ", 3)],
    "catc": [(" a ", "b ")],
    "catm": [("-", " a ", "b ")],
    "catq": [("C", "a,b", "c"), ("1", "it's", 2)],
    "cats": [(" a ", " b ")],
    "catt": [(" a ", " b ")],
    "catx": [("-", " a ", "", "b")],
    "char": [("hello", 2), ("hello", 9)],
    "compged": [("abc", "abd"), ("kitten", "sitting", 250), ("ABC", "abd", "i"), ("", "abc")],
    "complev": [("kitten", "sitting"), ("ABC", "abd", "i"), ("kitten", "sitting", 2)],
    "countc": [("banana", "an"), ("Banana", "b", "i")],
    "countq": [("a 'b c' d",), ("a,b", ",")],
    "countw": [("a b  c",), ("a,b,,c", ","), ("a,b,,c", ",", "m")],
    "find": [("banana", "an"), ("banana", "an", 3), ("BANANA", "an", "i")],
    "findc": [("banana", "n"), ("banana", "n", "i", 4)],
    "findlev": [("the kitten sat", "sitting", 3), ("abcdef", "bxd", 1)],
    "findw": [("a b c", "b"), ("a,b,c", "c", ",")],
    "first": [("hello",), ("",)],
    "position": [("banana", "nan"), ("banana", "x")],
    "nvalidcode": [("my_var",), ("my var", "any")],
    "nliteral": [("my var",), ("ok",)],
    "notfirst": [("abc1",), ("12", 1)],
    "notname": [("ab c",)],
    "nvalid": [("my_var",), ("1abc",), ("a b", "any")],
    "scanq": [("a 'b c' d", 2)],
    "subpad": [("hello", 2, 3), ("hello", 4, 5)],
    "compare": [("abc", "abd"), ("abc", "ABC", "i")],
    "count": [("banana", "an"), ("BANANA", "an", "i")],
    "scan": [("a b c", 2), ("a,b,c", -1, ","), ("a b c", 9)],
}
ROWS = {row["name"]: row for row in zq.catalogue()}
CASES = [(name, args) for name, rows in SAMPLES.items() for args in rows]


def expected(lines, kind):
    return [float(x) if kind == "number" else x for x in lines]


@pytest.fixture(scope="module", params=["latin-1", "utf-8"])
def answers(request):
    """zeq's answer to every sample, in one run per encoding."""
    lines = run_zeq(*(statement(n, a) for n, a in CASES), encoding=request.param)
    assert len(lines) == len(CASES)
    kinds = [ROWS[n]["result"] for n, _ in CASES]
    return request.param, [expected([x], k)[0] for x, k in zip(lines, kinds)]


def same(a, b):
    if isinstance(a, float) and isinstance(b, float):
        return a == b or (math.isnan(a) and math.isnan(b))
    return a == b


def test_the_samples_cover_the_catalogue():
    assert set(SAMPLES) == set(ROWS)
    for name in ROWS:
        assert callable(getattr(zq, name)) and callable(getattr(zq.Session, name))


def test_every_function_on_scalars_and_arrays(answers):
    encoding, want = answers
    s = zq.Session(encoding)
    for (name, args), expect in zip(CASES, want):
        got = getattr(s, name)(*args)
        assert same(got, expect), (name, args, got, expect)
        # Each argument as a column of three (the first a Series), the others broadcast.
        cols = [pd.Series([a] * 3, index=[4, 5, 6]) if i == 0 else a for i, a in enumerate(args)]
        col = getattr(s, name)(*cols)
        assert list(col.index) == [4, 5, 6]
        assert all(same(x, expect) for x in col), (name, args, list(col))
        assert col.dtype == (np.float64 if ROWS[name]["result"] == "number" else object)


def test_catalogue_examples_hold():
    from zeqwucha.dask import parse
    for name, row in ROWS.items():
        for example in filter(None, row["examples"].split(" | ")):
            call, result = example.split(" => ")
            c = parse(call)
            got = getattr(zq.Session("latin-1"), c.name)(*c.args)
            assert (got == float(result)) if row["result"] == "number" else (got == result), example


def test_keywords_follow_the_usage_line():
    assert zq.compged("abc", "ABD", modifiers="i") == zq.compged("abc", "ABD", "i")
    assert zq.compged("kitten", "sitting", cutoff=2) == zq.compged("kitten", "sitting", 2)
    assert zq.find("banana", "an", start=3) == zq.find("banana", "an", 3)
    assert zq.compged("abc", "abd", cutoff=None, modifiers=None) == 100
    assert zq.scan(string="a b", n=2) == "b"


@pytest.mark.parametrize("a, b, shape", [
    (np.array([["ab"], ["abc"]]), ["ab", "abd", "x"], (2, 3)),
    (["ab", "abc"], "abd", (2,)),
    ("ab", np.array([], dtype=object), (0,)),
    (np.array(["ab"]), ["ab", "b"], (2,)),
])
def test_broadcasting_follows_numpy(a, b, shape):
    got = zq.complev(a, b)
    assert got.shape == shape
    pairs = np.broadcast_arrays(np.asarray(a, dtype=object), np.asarray(b, dtype=object))
    want = [zq.complev(x, y) for x, y in zip(pairs[0].ravel(), pairs[1].ravel())]
    assert list(got.ravel()) == want


def test_missing_values():
    got = zq.compged(["abc", None, np.nan, pd.NA], "abd")
    assert got[0] == 100 and np.isnan(got[1:].astype(float)).all()
    assert list(zq.subpad(pd.Series(["hello", None]), 2, 3)) == ["ell", None]
    assert math.isnan(zq.complev(None, "abc"))
    # A missing cutoff is passed on as the host's missing number.
    with pytest.warns(RuntimeWarning, match="cutoff"):
        assert zq.compged("kitten", "sitting", [None, 200.0]).tolist()[1] == 200.0
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        got = zq.char("hello", [1, None, 2])
    assert list(got) == ["h", None, "e"]
    assert "CHAR" in str(seen[0].message) and "row 1" in str(seen[0].message)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(RuntimeWarning, match="position"):
            zq.char("hello", None)


def test_bytes_and_str_agree():
    assert zq.compged(b"abc", "abd") == zq.compged("abc", "abd")
    latin = zq.Session("latin-1")
    assert latin.subpad(b"h\xe9llo", 2, 3) == latin.subpad("héllo", 2, 3) == "éll"
    assert latin.complev(["é", b"\xe9"], "e") .tolist() == [1.0, 1.0]
    assert zq.subpad("héllo".encode(), 2, 3) == zq.subpad("héllo", 2, 3)
    assert zq.first(np.array([b"xy", b"z"])).tolist() == ["x", "z"]


def test_encodings_read_text_their_way():
    word = "naïve café"
    utf8, latin = zq.Session("utf-8"), zq.Session("latin-1")
    assert latin.complev(word, "naive cafe") == 2
    # COMPLEV compares bytes: the UTF-8 bytes of ï and é are two each.
    assert utf8.complev(word, "naive cafe") == latin.complev(word.encode(), b"naive cafe") == 4
    with pytest.raises(ValueError, match="Latin-1"):
        latin.first(["ok", "łódź"])
    assert utf8.complev(["łódź"], "lodz").tolist() == [latin.complev("łódź".encode(), "lodz")]


def pairs(n, seed=7):
    rng = np.random.default_rng(seed)
    letters = np.array(list("abcdeé "))
    words = ["".join(rng.choice(letters, rng.integers(0, 12))) for _ in range(2 * n)]
    return np.array(words[:n], dtype=object), np.array(words[n:], dtype=object)


@pytest.mark.parametrize("name, extra", [("compged", ()), ("complev", ("i",)), ("subpad", None), ("scan", None)])
def test_threads_give_the_same_results(name, extra):
    a, b = pairs(5000)
    fn = getattr(zq, name)
    args = (a, b, *extra) if extra is not None else (a, np.arange(len(a)) % 5 + 1)
    one = fn(*args)
    assert fn(*(x[:2] if isinstance(x, np.ndarray) else x for x in args), threads=8).tolist() == one[:2].tolist()
    for threads in (2, 3, 7):
        assert one.tolist() == fn(*args, threads=threads).tolist()


def test_sessions_keep_their_own_costs():
    cheap, plain = zq.Session(), zq.Session()
    default = zq.compged("abc", "ab")
    cheap.compcost(insert=5, delete=7)
    assert cheap.compged("abc", "ab") == 5
    assert plain.compged("abc", "ab") == default == zq.compged("abc", "ab")
    a, b = pairs(3000)
    assert cheap.compged(a, b, threads=2).tolist() == cheap.compged(a, b).tolist()
    assert cheap.compged(a, b).tolist() != plain.compged(a, b).tolist()
    with pytest.raises(ValueError, match="COMPCOST"):
        cheap.compcost(nonsense=1)
    assert cheap.compged("abc", "ab") == 5  # the costs accepted before stay


@pytest.mark.parametrize("call, error, text", [
    (lambda: zq.compged("a"), TypeError, "missing argument 's2'"),
    (lambda: zq.compged("a", "b", 1, "i", 5), TypeError, "takes 2 to 4 arguments"),
    (lambda: zq.compged("a", "b", color=1), TypeError, "unexpected keyword argument 'color'"),
    (lambda: zq.compged("a", "b", 1, cutoff=2), TypeError, "two values"),
    (lambda: zq.compged(1, 2), TypeError, "must be character"),
    (lambda: zq.compged({"a": 1}, "b"), TypeError, "expected str, bytes, a number or None, got dict"),
    (lambda: zq.compged(["a", object()], "b"), TypeError, "element 1"),
    (lambda: zq.compged(np.array([1j]), "b"), TypeError, "neither text nor numbers"),
    (lambda: zq.countw("a", modifiers="m"), TypeError, "'modifiers' needs 'delimiters'"),
    (lambda: zq.cat(), TypeError, "at least 1"),
    (lambda: zq.cat("a", sep="b"), TypeError, "positional"),
    (lambda: zq.complev(["a", "b"], ["a", "b", "c"]), ValueError, "broadcast"),
    (lambda: zq.complev("a", "b", threads=0), ValueError, "threads"),
    (lambda: zq.complev("a", "b", threads="2"), TypeError, "threads"),
    (lambda: zq.Session("ebcdic"), ValueError, "utf-8"),
    (lambda: zq.Session().compcost(), TypeError, "operation=cost"),
    (lambda: zq.Session().compcost(insert="x"), TypeError, "number"),
    (lambda: zq.complev(pd.Series(["a"], index=[1]), pd.Series(["b"], index=[2])), ValueError, "index"),
])
def test_bad_calls_raise_clearly(call, error, text):
    with pytest.raises(error, match=text):
        call()
