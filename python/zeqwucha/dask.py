"""zeqwucha over Dask DataFrames.

    import dask.dataframe as dd
    import zeqwucha.dask as zqd

    ddf = dd.from_pandas(df, npartitions=8)
    out = zqd.apply(ddf, d="COMPGED(name, 'John Smith')", n="COUNTW(address)")
    u = zqd.draw(ddf, "MT64", seed=42)          # one stream per partition

An expression is a function call as the host writes it: column names,
'quoted' or "quoted" text (a doubled quote stands for one), numbers, and
nested calls; NAME(a, b, modifiers='i') passes a keyword.  Each partition is
computed by a Session of its own, so costs set with ``compcost=`` reach every
worker process.

Random numbers: partition i draws from Stream(method, seed, key, thread=i)
(a method must take threads: zeqwucha.methods() says which do), so a result does not depend on which worker computed which partition, and
the same partitioning gives the same numbers again.  The same thing by hand:

    def part(frame, partition_info=None):
        i = partition_info["number"] if partition_info else 0
        return pd.Series(zq.Stream("MT64", 42, thread=i).draw(len(frame)), index=frame.index)
    ddf.map_partitions(part, meta=("u", "f8"))
"""

import re

import numpy as np
import pandas as pd

from . import Session, Stream, catalogue

_TOKEN = re.compile(r"""\s*(?:(?P<num>[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)
                         |(?P<name>[A-Za-z_][A-Za-z_0-9]*)
                         |(?P<str>'(?:[^']|'')*'|"(?:[^"]|"")*")
                         |(?P<punct>[(),=]))""", re.X)


class _Call:
    def __init__(self, name, args, kwargs):
        self.name, self.args, self.kwargs = name, args, kwargs


class _Column(str):
    pass


def _tokens(text):
    pos, out = 0, []
    while pos < len(text):
        if text[pos:].strip() == "":
            break
        m = _TOKEN.match(text, pos)
        if not m:
            raise ValueError(f"cannot read {text[pos:]!r} in {text!r}")
        kind = m.lastgroup
        value = m.group(kind)
        if kind == "str":
            value = value[1:-1].replace(value[0] * 2, value[0])
        out.append((kind, value))
        pos = m.end()
    return out


def parse(text):
    """The call an expression describes; ValueError when it is not one."""
    toks = _tokens(text)
    call, rest = _parse_call(toks, text)
    if rest:
        raise ValueError(f"unexpected {rest[0][1]!r} after the call in {text!r}")
    return call


def _parse_call(toks, text):
    if len(toks) < 2 or toks[0][0] != "name" or toks[1] != ("punct", "("):
        raise ValueError(f"expected NAME(...) in {text!r}")
    name, toks = toks[0][1], toks[2:]
    args, kwargs = [], {}
    while toks and toks[0] != ("punct", ")"):
        key = None
        if len(toks) > 1 and toks[0][0] == "name" and toks[1] == ("punct", "="):
            key, toks = toks[0][1], toks[2:]
        value, toks = _parse_arg(toks, text)
        if key:
            kwargs[key] = value
        elif kwargs:
            raise ValueError(f"a positional argument after a keyword in {text!r}")
        else:
            args.append(value)
        if toks and toks[0] == ("punct", ","):
            toks = toks[1:]
        elif not toks or toks[0] != ("punct", ")"):
            raise ValueError(f"expected ',' or ')' in {text!r}")
    if not toks:
        raise ValueError(f"missing ')' in {text!r}")
    return _Call(name.lower(), args, kwargs), toks[1:]


def _parse_arg(toks, text):
    if not toks:
        raise ValueError(f"missing argument in {text!r}")
    kind, value = toks[0]
    if kind == "name" and len(toks) > 1 and toks[1] == ("punct", "("):
        return _parse_call(toks, text)
    if kind == "name":
        return _Column(value), toks[1:]
    if kind == "num":
        return float(value), toks[1:]
    if kind == "str":
        return value, toks[1:]
    raise ValueError(f"unexpected {value!r} in {text!r}")


def evaluate(call, frame, session, threads=1):
    """The value of a parsed call over a pandas DataFrame."""
    def value(arg):
        if isinstance(arg, _Call):
            return evaluate(arg, frame, session, threads)
        if isinstance(arg, _Column):
            if arg not in frame.columns:
                raise ValueError(f"no column {str(arg)!r}")
            return frame[str(arg)]
        return arg
    fn = getattr(session, call.name, None)
    if fn is None or call.name.startswith("_") or call.name == "compcost":
        raise ValueError(f"unknown function {call.name.upper()}")
    args = [value(a) for a in call.args]
    kwargs = {k: value(v) for k, v in call.kwargs.items()}
    return fn(*args, **kwargs, threads=threads)


_RESULTS = {row["name"]: row["result"] for row in catalogue()}


def _session(encoding, compcost):
    s = Session(encoding)
    if compcost:
        s.compcost(**compcost)
    return s


def apply_frame(frame, *, encoding="utf-8", compcost=None, threads=1, **expressions):
    """apply() on one pandas DataFrame: the frame with a column per expression.
    Whole-number columns are pandas Int64 in every partition, missing rows or not."""
    session = _session(encoding, compcost)
    calls = {col: parse(text) for col, text in expressions.items()}
    out = frame.assign(**{col: evaluate(c, frame, session, threads) for col, c in calls.items()})
    for col, c in calls.items():
        if _RESULTS.get(c.name) == "number" and out[col].dtype.kind in "iu":
            out[col] = out[col].astype("Int64")
    return out


def apply(ddf, *, encoding="utf-8", compcost=None, threads=1, **expressions):
    """A Dask DataFrame with one new column per keyword, e.g.
    apply(ddf, d="COMPGED(name, 'John Smith')")."""
    meta = ddf._meta.copy()
    for col, text in expressions.items():
        kind = _RESULTS.get(parse(text).name)
        if kind is None:
            raise ValueError(f"unknown function in {text!r}")
        meta[col] = pd.Series(dtype="Int64" if kind == "number" else "object")
    return ddf.map_partitions(apply_frame, encoding=encoding, compcost=compcost, threads=threads,
                              meta=meta, **expressions)


def draw_partition(frame, method, seed, key=None, conversion="default", partition_info=None):
    """Partition i's draws: Stream(method, seed, key, thread=i), one value per row."""
    number = partition_info["number"] if partition_info else 0
    values = Stream(method, seed, key=key, thread=number).draw(len(frame), conversion)
    return pd.Series(values, index=frame.index)


def draw(ddf, method, seed, key=None, conversion="default", name="random"):
    """A Dask Series of random numbers aligned with ddf, one stream per partition.
    A method that ignores the thread number is refused: its partitions would
    all draw the same numbers."""
    try:  # refuses a bad method, seed or key, and a method that ignores the thread, now
        Stream(method, seed, key=key, thread=1)
    except ValueError as e:
        raise ValueError(f"zeqwucha.dask.draw gives partition i thread=i: {e}") from None
    dtype = {"uint32": np.uint32, "uint64": np.uint64}.get(conversion, np.float64)
    return ddf.map_partitions(draw_partition, method, seed, key, conversion, meta=(name, dtype))
