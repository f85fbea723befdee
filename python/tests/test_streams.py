"""Random streams: the same draws as `zeq rand`, state round trips, bad input."""
import pickle

import numpy as np
import pytest

import zeqwucha as zq
from conftest import run_zeq

# (method, seed, key, thread, position, conversion)
DRAWS = [
    ("MT64", 42, None, None, None, "default"),
    ("MT32", 42, None, None, None, "uint32"),
    ("MTHYBRID", 7, 3, None, None, "double_32_open_open"),
    ("FRY4X64", 1, 2, 3, 1000, "default"),
    ("FRY2X32", 9, None, 5, 77, "uint32"),
    ("PCG32I", 5, 11, None, None, "double_32_closed_open"),
    ("MT1998", 4, None, None, None, "crude"),
    ("PCG64I", 5, None, None, None, "uint64"),
    ("XOR128", 123456789, None, None, None, "double_53_open_closed"),
    ("XOR4096", 3, None, None, None, "with_zero"),
    ("SUBKEY64", 8, 1, None, None, "double_64_closed_closed"),
    ("MH3", 2, None, None, None, "double_infinite"),
]


@pytest.mark.parametrize("method, seed, key, thread, position, conversion", DRAWS)
def test_draws_equal_zeq_rand(method, seed, key, thread, position, conversion):
    args = ["rand", "--method", method, "--seed", str(seed), "--count", "700", "--as", conversion]
    for flag, value in (("--key", key), ("--thread", thread), ("--position", position)):
        if value is not None:
            args += [flag, str(value)]
    want = run_zeq(*args)
    got = zq.Stream(method, seed, key=key, thread=thread, position=position).draw(700, conversion)
    if conversion.startswith("uint"):
        assert got.dtype == np.dtype(conversion)
        assert got.tolist() == [int(x) for x in want]
    else:
        assert got.dtype == np.float64
        assert got.tolist() == [float(x) for x in want]


def test_draws_continue_across_calls():
    s, t = zq.Stream("MT32", 1), zq.Stream("MT32", 1)
    whole = s.draw(1000)
    assert np.array_equal(np.concatenate([t.draw(1), t.draw(623), t.draw(376)]), whole)
    assert zq.Stream("MT32", 1).draw(0).shape == (0,)


@pytest.mark.parametrize("method, first", [("MT32", 100), ("MT64", 400), ("FRY2X64", 3), ("XOR1024", 5), ("PCG32I", 1)])
def test_state_round_trip(method, first):
    s = zq.Stream(method, 99, thread=1 if method.startswith("FRY") else None)
    s.draw(first)
    copy = zq.Stream.from_state(s.state())
    assert (copy.method, copy.seed, copy.thread) == (s.method, s.seed, s.thread)
    assert np.array_equal(copy.draw(2000), s.draw(2000))


def test_threads_give_independent_reproducible_streams():
    a = [zq.Stream("FRY4X64", 5, thread=i).draw(100) for i in range(3)]
    assert not np.array_equal(a[0], a[1]) and not np.array_equal(a[1], a[2])
    assert np.array_equal(a[2], zq.Stream("FRY4X64", 5, thread=2).draw(100))


@pytest.mark.parametrize("method, conversion", [
    ("MT32", "default"), ("MT64", "double_53_open_open"), ("FRY2X32", "default"), ("PCG64I", "default"),
    ("XOR128", "double_53_closed_open"), ("MTHYBRID", "default"),
])
def test_numpy_generator_draws_the_stream(method, conversion):
    s = zq.Stream(method, 8)
    g = s.generator(conversion)
    first, then = g.random(1000), s.draw(10, conversion)  # one sequence of words
    assert np.array_equal(np.concatenate([first, then]), zq.Stream(method, 8).draw(1010, conversion))
    assert g.bit_generator.stream is s
    assert len(g.normal(size=7)) == 7 and len(set(g.integers(0, 2**40, 50))) == 50
    assert sorted(g.permutation(20)) == list(range(20))


def test_streams_pickle_through_their_state():
    s = zq.Stream("FRY4X64", 5, key=1, thread=2)
    s.draw(10)
    copy = pickle.loads(pickle.dumps(s))
    assert (copy.method, copy.key, copy.thread) == ("FRY4X64", 1, 2)
    assert np.array_equal(copy.draw(50), s.draw(50))


def test_methods_and_conversions_are_listed():
    options = zq.methods()
    assert {"MT64", "MTHYBRID", "FRY4X64", "PCG64I"} <= set(options)
    assert options["FRY4X64"] == ("seed", "key", "thread", "position") and "thread" not in options["XOR64"]
    assert zq.conversions()[:3] == ["uint32", "uint64", "default"]
    assert zq.Stream("mt", 1).method == "MT64"  # words resolve as zeq rand resolves them
    lines = zq.Stream("XOR128", 1).dump()
    assert len(lines) == 1 and lines[0].split()[0] == "0:"


@pytest.mark.parametrize("call, error, text", [
    (lambda: zq.Stream("NOPE", 1), ValueError, "unknown method 'NOPE'"),
    (lambda: zq.Stream("MT64", -1), ValueError, "seed must be from 0"),
    (lambda: zq.Stream("MT64", 2 ** 64), ValueError, "seed must be from 0"),
    (lambda: zq.Stream("MT64", "1"), TypeError, "seed must be an int"),
    (lambda: zq.Stream("MT64", 1.5), TypeError, "seed must be an int"),
    (lambda: zq.Stream("XOR64", 1, key=3), ValueError, "takes no key; the methods that take one are .*MT64"),
    (lambda: zq.Stream("XOR64", 1, thread=3), ValueError, "takes no thread number; the methods that take one are"),
    (lambda: zq.Stream("PCG32I", 1, key=2 ** 40), ValueError, "keys from 0 to"),
    (lambda: zq.Stream("MT64", 1, position=5), ValueError, "cannot be positioned"),
    (lambda: zq.Stream("MT64", 1).draw(-1), ValueError, "negative"),
    (lambda: zq.Stream("MT64", 1).draw(3, "sideways"), ValueError, "unknown conversion"),
    (lambda: zq.Stream("MT64", 1).draw(3, "double_32_open_open"), ValueError, "does not offer"),
    (lambda: zq.Stream.from_state(b"garbage"), ValueError, "not a state"),
    (lambda: zq.Stream.from_state(zq.Stream("MT64", 1).state()[:-8]), ValueError, "does not fit"),
    (lambda: zq.Stream("XORGENS", 1).state(), ValueError, "no state"),
])
def test_bad_stream_input_raises_clearly(call, error, text):
    with pytest.raises(error, match=text):
        call()
