"""Every catalogue function through the extension, against zeq's answers."""
import concurrent.futures
import inspect
import pickle
import warnings

import numpy as np
import pandas as pd
import pytest

import zeqwucha as zq
from conftest import run_zeq, statement

# Extra arguments for some functions; every catalogue row is also called with
# its examples' arguments and with plain arguments of its first type pattern,
# so a new row is covered without a line here.  zeq computes the answers.
SAMPLES = {
    "anyfirst": [("12ab", -1), ("+-", 1)],
    "cat": [("x", 1.5, None)],
    "catq": [("1", "it's", 2)],
    "char": [("hello", 9)],
    "compged": [("kitten", "sitting", 250), ("ABC", "abd", "i"), ("", "abc")],
    "complev": [("ABC", "abd", "i"), ("kitten", "sitting", 2)],
    "countw": [("a,b,,c", ","), ("a,b,,c", ",", "m")],
    "find": [("banana", "an", 3), ("BANANA", "an", "i")],
    "findc": [("banana", "n", "i", 4)],
    "findlev": [("the kitten sat", "sitting", 3), ("abcdef", "bxd", 1)],
    "first": [("",), ("Ölfeld",)],
    "position": [("banana", "x")],
    "nvalid": [("1abc",), ("a b", "any")],
    "subpad": [("hello", 4, 5), ("héllo", 2, 2)],
    "scan": [("a,b,c", -1, ","), ("a b c", 9)],
}
ROWS = {row["name"]: row for row in zq.catalogue()}


def plain_args(row):
    """The required arguments: number 2, text "a b"."""
    types = row["types"].ljust(row["min_args"], "x")[:row["min_args"]]
    return tuple(2 if t == "1" else "a b" for t in types)


def catalogue_cases():
    from zeqwucha.dask import parse
    for name, row in ROWS.items():
        yield name, plain_args(row)
        for example in filter(None, row["examples"].split(" | ")):
            yield name, tuple(parse(example.split(" => ")[0]).args)
        for args in SAMPLES.get(name, []):
            yield name, args


CASES = list(catalogue_cases())


def expected(line, kind, encoding):
    if kind != "number":
        return line
    return None if line == "." else int(float(line)) if float(line).is_integer() else float(line)


@pytest.fixture(scope="module", params=["latin-1", "utf-8"])
def answers(request):
    """zeq's answer to every case, in one run per encoding."""
    lines = run_zeq(*(statement(n, a) for n, a in CASES), encoding=request.param)
    assert len(lines) == len(CASES)
    return request.param, [expected(x, ROWS[n]["result"], request.param) for x, (n, _) in zip(lines, CASES)]


def same(a, b, encoding="utf-8"):
    if isinstance(a, bytes):  # text that is not valid in the encoding
        return a == b.encode(encoding, "surrogateescape")
    if a is pd.NA or a is None:
        return b is None
    return type(a) is type(b) and a == b if not isinstance(a, np.integer) else int(a) == b


def test_every_function_on_scalars_and_arrays(answers):
    encoding, want = answers
    s = zq.Session(encoding)
    for (name, args), expect in zip(CASES, want):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            got = getattr(s, name)(*args)
            # Each argument as a column of three (the first a Series), the others broadcast.
            cols = [pd.Series([a] * 3, index=[4, 5, 6]) if i == 0 else a for i, a in enumerate(args)]
            col = getattr(s, name)(*cols)
        assert same(got, expect, encoding), (name, args, got, expect)
        assert list(col.index) == [4, 5, 6]
        assert all(same(x, expect, encoding) for x in col), (name, args, list(col))
        number = ROWS[name]["result"] == "number"
        assert col.dtype == (("Int64" if expect is None else np.int64) if number else object)


def test_catalogue_examples_hold():
    from zeqwucha.dask import parse
    for name, row in ROWS.items():
        for example in filter(None, row["examples"].split(" | ")):
            call, result = example.split(" => ")
            c = parse(call)
            got = getattr(zq.Session("latin-1"), c.name)(*c.args)
            assert (got == float(result)) if row["result"] == "number" else (got == result), example


@pytest.mark.parametrize("call, same_as", [
    (lambda: zq.compged("abc", "ABD", modifiers="i"), lambda: zq.compged("abc", "ABD", "i")),
    (lambda: zq.compged("kitten", "sitting", cutoff=2), lambda: zq.compged("kitten", "sitting", 2)),
    (lambda: zq.complev("kitten", "SITTING", modifiers="i"), lambda: 3),
    (lambda: zq.complev(s2="ab", s1="abc", modifiers="i", cutoff=5), lambda: zq.complev("abc", "ab", 5, "i")),
    (lambda: zq.find("banana", "an", start=3), lambda: zq.find("banana", "an", 3)),
    (lambda: zq.compged("abc", "abd", cutoff=None, modifiers=None), lambda: 100),
    (lambda: zq.scan(string="a b", n=2), lambda: "b"),
])
def test_keywords_bind_by_name(call, same_as):
    assert call() == same_as()


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


def test_whole_numbers_and_missing_rows():
    assert type(zq.countw("a b")) is int and zq.complev(None, "abc") is None
    assert zq.complev(["ab", "b"], "a").dtype == np.int64
    got = zq.compged(["abc", None, np.nan, pd.NA], "abd")
    assert got.dtype == "Int64" and got[0] == 100 and got[1:].isna().all()
    assert zq.countw(pd.Series(["a b", None], index=[7, 8])).dtype == "Int64"
    grid = zq.complev(np.array([["a", None]], dtype=object), "b")  # no Int64 of two dimensions
    assert grid.dtype == np.float64 and np.isnan(grid[0, 1])
    assert zq.find("banana", "an") == 2  # positions stay 1-based
    assert list(zq.subpad(pd.Series(["hello", None]), 2, 3)) == ["ell", None]
    # A missing cutoff is passed on as the host's missing number.
    with pytest.warns(RuntimeWarning, match="cutoff"):
        assert zq.compged("kitten", "sitting", [None, 200.0])[1] == 200
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        got = zq.char("hello", [1, None, 2])
    assert list(got) == ["h", None, "e"]
    assert "CHAR" in str(seen[0].message) and "row 1" in str(seen[0].message)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(RuntimeWarning, match="position"):
            zq.char("hello", None)


def test_bytes_and_str():
    assert zq.compged(b"abc", "abd") == zq.compged("abc", "abd")
    latin = zq.Session("latin-1")
    assert latin.subpad(b"h\xe9llo", 2, 3) == latin.subpad("héllo", 2, 3) == "éll"
    assert latin.complev(["é", b"\xe9"], "e").tolist() == [1, 1]
    assert zq.subpad("héllo".encode(), 2, 3) == zq.subpad("héllo", 2, 3)
    assert zq.first(np.array([b"xy", b"z"])).tolist() == ["x", "z"]
    # A result that is not UTF-8 is bytes, never a str with lone surrogates.
    assert zq.first("Ölfeld") == b"\xc3" and latin.first("Ölfeld") == "Ö"
    assert zq.subpad(["Ölfeld", "ab"], 1, 1).tolist() == [b"\xc3", "a"]


def test_encodings_read_text_their_way():
    word = "naïve café"
    utf8, latin = zq.Session("utf-8"), zq.Session("latin-1")
    assert latin.complev(word, "naive cafe") == 2
    # COMPLEV compares bytes: the UTF-8 bytes of ï and é are two each.
    assert utf8.complev(word, "naive cafe") == latin.complev(word.encode(), b"naive cafe") == 4
    with pytest.raises(ValueError, match="Latin-1"):
        latin.first(["ok", "łódź"])
    assert utf8.complev(["łódź"], "lodz").tolist() == [latin.complev("łódź".encode(), "lodz")]


def test_long_results_are_whole_or_missing():
    word = "x" * (20 << 20)
    assert len(zq.scan(word, 1)) == len(zq.subpad(word, 1)) == 20 << 20
    with pytest.warns(RuntimeWarning, match="cut"):
        assert zq.subpad(["abc", "abc"], 1, [2, 3e9]).tolist() == ["ab", None]


def test_the_python_conventions():
    assert zq.__version__ and zq.Session.__module__
    for name, row in ROWS.items():
        for fn in (getattr(zq, name), getattr(zq.Session, name)):
            params = [p for p in inspect.signature(fn).parameters if p not in ("self", "threads")]
            assert row["variadic"] or params == row["params"], name
            assert row["unit"] in fn.__doc__ and "Trailing blanks" in fn.__doc__, name
    assert "min(distance, cutoff)" in zq.complev.__doc__
    session = zq.Session("latin-1")
    session.compcost(insert=5)
    copy = pickle.loads(pickle.dumps(session))
    assert (copy.encoding, copy.compged("abc", "ab")) == ("latin-1", 5)


def test_threads_from_python_run_together():
    a, b = pairs(2000)
    one = zq.compged(a, b).tolist()
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        runs = [pool.submit(fn, a, b) for fn in (zq.compged, zq.compged, zq.Session().compged, zq.compged)]
        assert all(r.result().tolist() == one for r in runs)
    assert zq.compged(a, b, threads=0).tolist() == one


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
    (lambda: zq.complev("a", "b", threads=-1), ValueError, "threads"),
    (lambda: zq.complev("kitten", "sitting", modifiers=1), TypeError, "argument 'modifiers' must be str or bytes, not int"),
    (lambda: zq.complev("kitten", "sitting", cutoff=["i"]), TypeError, "argument 'cutoff' must be a number"),
    (lambda: zq.findc("kitten", modifiers="i"), TypeError, "'modifiers' needs 'charlist'"),
    (lambda: zq.complev("a", "b", threads="2"), TypeError, "threads"),
    (lambda: zq.Session("ebcdic"), ValueError, "utf-8"),
    (lambda: zq.Session().compcost(), TypeError, "operation=cost"),
    (lambda: zq.Session().compcost(insert="x"), TypeError, "number"),
    (lambda: zq.complev(pd.Series(["a"], index=[1]), pd.Series(["b"], index=[2])), ValueError, "index"),
])
def test_bad_calls_raise_clearly(call, error, text):
    with pytest.raises(error, match=text):
        call()
