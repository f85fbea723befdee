"""zeqwucha.dask on a two-process LocalCluster equals in-process pandas."""
import numpy as np
import pandas as pd
import pytest

import zeqwucha as zq
import zeqwucha.dask as zqd

dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")
pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")


def people(n=2000):
    rng = np.random.default_rng(3)
    first = np.array(["John", "Jon", "Joan", "Jane", "Johan", "Smyth"])
    last = np.array(["Smith", "Smyth", "Smithe", "Schmidt", "Doe"])
    names = [f"{a} {b}" for a, b in zip(rng.choice(first, n), rng.choice(last, n))]
    return pd.DataFrame({"name": names, "n": rng.integers(1, 4, n)}, index=np.arange(n) * 3)


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None, silence_logs=40)
    with cluster, distributed.Client(cluster, timeout="120s") as c:
        yield c


def test_expressions_match_pandas(client):
    df = people()
    ddf = dd.from_pandas(df, npartitions=5)
    exprs = dict(d="COMPGED(name, 'John Smith')", w="SCAN(name, n)", c="COMPLEV(SUBPAD(name, 1, 4), 'John', 'i')")
    got = client.compute(zqd.apply(ddf, compcost={"insert": 7}, **exprs)).result(timeout=300)
    session = zq.Session()
    session.compcost(insert=7)
    want = df.assign(d=session.compged(df["name"], "John Smith").astype("Int64"), w=zq.scan(df["name"], df["n"]),
                     c=zq.complev(zq.subpad(df["name"], 1, 4), "John", "i").astype("Int64"))
    pd.testing.assert_frame_equal(got.sort_index(), want)
    pd.testing.assert_frame_equal(zqd.apply_frame(df, compcost={"insert": 7}, **exprs), want)


def test_a_stream_per_partition(client):
    df = people()
    ddf = dd.from_pandas(df, npartitions=4)
    got = client.compute(zqd.draw(ddf, "FRY4X64", 11)).result(timeout=300).sort_index()
    lengths = client.compute(ddf.map_partitions(len)).result(timeout=300).tolist()
    want = np.concatenate([zq.Stream("FRY4X64", 11, thread=i).draw(n) for i, n in enumerate(lengths)])
    assert np.array_equal(got.to_numpy(), want)
    assert got.index.equals(df.index)


def test_a_method_without_threads_is_refused():
    with pytest.raises(ValueError, match="partition i thread=i: method XOR64 takes no thread number; the methods that take one are .*FRY4X64"):
        zqd.draw(dd.from_pandas(people(10), npartitions=2), "XOR64", seed=42)


def test_streams_and_sessions_ship_to_workers(client):
    stream, session = zq.Stream("MT64", 3), zq.Session("latin-1")
    stream.draw(5)
    session.compcost(insert=9)
    got = client.submit(lambda st, se: (st.draw(4).tolist(), se.compged("abc", "ab")), stream, session)
    assert got.result(timeout=120) == (stream.draw(4).tolist(), 9)


@pytest.mark.parametrize("text, message", [
    ("COMPGED(name", "expected ','"),
    ("NOSUCH(name)", "unknown function"),
    ("COMPGED(nosuch, 'x')", "no column"),
])
def test_bad_expressions(text, message):
    with pytest.raises(ValueError, match=message):
        zqd.apply_frame(people(10), x=text)
