"""Properties of the broadcasting and missing-value rules (Hypothesis): a call
over arrays equals the same call element by element, whatever the shapes,
the missing markers, the mix of str and bytes, and the thread count.

ZEQ_FUZZ_SECONDS=N runs each property for about N seconds instead of a
fixed number of examples (python/tools/fuzz-properties, run by fuzz/run)."""
import math
import os
import tempfile
import warnings

import numpy as np
import pandas as pd
import pytest

hypothesis = pytest.importorskip("hypothesis")
from hypothesis.configuration import set_hypothesis_home_dir  # noqa: E402

set_hypothesis_home_dir(os.path.join(tempfile.gettempdir(), "zeqwucha-hypothesis"))  # not the source tree
from hypothesis import HealthCheck, given, settings, strategies as st  # noqa: E402
from hypothesis.extra import numpy as hnp  # noqa: E402

import zeqwucha as zq  # noqa: E402

_seconds = float(os.environ.get("ZEQ_FUZZ_SECONDS", "0"))
settings.register_profile("tests", max_examples=60, deadline=None, derandomize=True, database=None,
                          suppress_health_check=[HealthCheck.too_slow])
settings.register_profile("fuzz", max_examples=300, deadline=None, database=None,
                          suppress_health_check=[HealthCheck.too_slow])
settings.load_profile("fuzz" if _seconds else "tests")

MISSING = st.sampled_from([None, float("nan"), pd.NA])
TEXT = st.one_of(st.text(alphabet="ab é,", max_size=6), st.binary(max_size=5), MISSING)
NUMBER = st.one_of(st.integers(-3, 4), st.floats(-3, 4, allow_nan=False), MISSING)


def plain(x):
    """One element or scalar result, with every missing marker as None."""
    if x is None or x is pd.NA or (isinstance(x, float) and math.isnan(x)):
        return None
    return int(x) if isinstance(x, (int, np.integer)) or (isinstance(x, float) and x.is_integer()) else x


def quietly(fn, *args, **kw):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        return fn(*args, **kw)


def timed(test):
    """The property for about ZEQ_FUZZ_SECONDS when set."""
    if not _seconds:
        return test

    def run():
        import time
        end = time.monotonic() + _seconds
        while time.monotonic() < end:  # each round draws new examples
            test()
    run.__name__ = test.__name__
    return run


def arrays(elements, shape):
    return hnp.arrays(object, shape, elements=elements, fill=st.nothing())


@st.composite
def broadcast_call(draw, name, kinds):
    """Arguments of `name` whose shapes broadcast: arrays, lists and scalars."""
    shapes = draw(hnp.mutually_broadcastable_shapes(num_shapes=len(kinds), max_dims=2, max_side=3)).input_shapes
    args = []
    for kind, shape in zip(kinds, shapes):
        elements = TEXT if kind == "2" else NUMBER
        if draw(st.booleans()) and shape == ():
            args.append(draw(elements))
        else:
            a = draw(arrays(elements, shape))
            args.append(a.tolist() if draw(st.booleans()) and a.ndim == 1 else a)
    return args


CALLS = [("complev", "22"), ("compged", "221"), ("scan", "21"), ("countw", "22"), ("subpad", "211"),
         ("find", "22")]


ROWS = {row["name"]: row for row in zq.catalogue()}
NUMBER_RESULTS = {name for name, row in ROWS.items() if row["result"] == "number"}


@pytest.mark.parametrize("name, kinds", CALLS)
def test_arrays_equal_their_elements(name, kinds):
    fn = getattr(zq, name)
    required = ROWS[name]["min_args"]

    @timed
    @given(broadcast_call(name, kinds), st.integers(1, 3))
    def check(args, threads):
        got = quietly(fn, *args, threads=threads)
        cells = np.broadcast_arrays(*(np.asarray(a, dtype=object) for a in args))

        def one(row):
            # None as a scalar leaves an optional argument out; inside an array it is a
            # missing value of that row, which NaN is as a scalar.
            row = [float("nan") if k >= required and plain(x) is None and isinstance(args[k], (list, np.ndarray))
                   else x for k, x in enumerate(row)]
            return plain(quietly(fn, *row))

        if cells[0].shape == ():  # scalars and 0-d arrays give a scalar, as numpy's functions do
            assert plain(got) == one([c.item() for c in cells])
            return
        assert np.shape(got) == cells[0].shape
        flat = np.asarray(got, dtype=object).reshape(-1)
        for i, row in enumerate(zip(*(c.ravel() for c in cells))):
            assert plain(flat[i]) == one(row), (name, row, flat[i])
        if name in NUMBER_RESULTS:
            missing = any(plain(x) is None for x in flat)
            want = ("Int64" if cells[0].ndim == 1 else "float64") if missing else "int64"
            assert str(got.dtype) == want, (args, got)

    check()


@timed
@given(st.lists(TEXT, max_size=8), st.lists(TEXT, max_size=8))
def test_series_keep_their_index_and_bytes_equal_str(a, b):
    n = min(len(a), len(b))
    index = pd.Index(range(100, 100 + n))
    got = zq.complev(pd.Series(a[:n], index=index, dtype=object), pd.Series(b[:n], index=index, dtype=object))
    assert got.index.equals(index)
    as_bytes = [x.encode() if isinstance(x, str) else x for x in a[:n]]
    again = zq.complev(pd.Series(as_bytes, index=index, dtype=object), pd.Series(b[:n], index=index, dtype=object))
    assert [plain(x) for x in got] == [plain(x) for x in again]
