"""cdist and extract_one against the pairwise functions, cell by cell."""
import random
import warnings

import numpy as np
import pytest

import zeqwucha as zq

ALPHABET = "aabcdeé日 -,'Ab"


def random_texts(rng, n):
    out = []
    for _ in range(n):
        roll = rng.random()
        if roll < 0.05:
            out.append(None)
        elif roll < 0.1:
            out.append(bytes(rng.randrange(256) for _ in range(rng.randrange(6))))
        else:
            out.append("".join(rng.choice(ALPHABET) for _ in range(rng.randrange(0, 12 if roll < 0.9 else 90))))
    return out


def pairwise(scorer, queries, choices, cutoff, modifiers):
    extra = [a for a in (cutoff, modifiers) if a is not None]
    q = np.array(queries, dtype=object)[:, None]
    c = np.array(choices, dtype=object)[None, :]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        return getattr(zq, scorer)(q, c, *extra)


@pytest.mark.parametrize("scorer", ["complev", "compged"])
@pytest.mark.parametrize("seed", range(6))
def test_cells_and_best_choices_equal_the_pairwise_function(scorer, seed):
    rng = random.Random(seed)
    queries, choices = random_texts(rng, 23), random_texts(rng, 31)
    cutoff = rng.choice([None, 1, 2, 3, 250, 2.5])
    modifiers = rng.choice([None, "i", "il", "n", "x"])
    want = pairwise(scorer, queries, choices, cutoff, modifiers)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        got = zq.cdist(queries, choices, scorer=scorer, cutoff=cutoff, modifiers=modifiers, threads=1 + seed % 3)
        index, dist = zq.extract_one(queries, choices, scorer=scorer, cutoff=cutoff, modifiers=modifiers,
                                     threads=1 + seed % 2)
        first = zq.extract_one(queries[0], choices, scorer=scorer, cutoff=cutoff, modifiers=modifiers)
    assert got.shape == want.shape
    assert got.dtype == (np.float64 if np.isnan(want).any() else np.int64)
    np.testing.assert_array_equal(got, want)
    for i, row in enumerate(want):
        best = -1 if np.isnan(row).all() else int(np.nanargmin(row))
        assert index[i] == best
        assert (np.isnan(dist[i]) if best < 0 else dist[i] == row[best])
    assert first == (None if index[0] < 0 else (index[0], dist[0]))


def test_a_refused_cutoff_warns_and_leaves_cells_missing():
    with pytest.warns(RuntimeWarning, match=r"COMPLEV: note, argument 3 \(cutoff\).*query 0, choice 0.*2 messages"):
        got = zq.cdist(["a"], ["b", "c"], cutoff=0.5)
    assert got.dtype == np.float64 and np.isnan(got).all()


def test_arguments_it_refuses():
    with pytest.raises(ValueError, match="scorer must be"):
        zq.cdist(["a"], ["b"], scorer="jaro")
    with pytest.raises(TypeError, match="sequence of texts"):
        zq.cdist("abc", ["b"])
    with pytest.raises(TypeError, match="element 1"):
        zq.cdist(["a", 3], ["b"])
    with pytest.raises(ValueError, match="threads"):
        zq.extract_one("a", ["b"], threads=0)
    assert zq.extract_one("a", []) is None
    assert zq.cdist([], ["a"]).shape == (0, 1)


@pytest.mark.parametrize("alphabet", ["ab ", "a\x80\xc0A "])
def test_best_choices_on_short_texts_with_many_ties(alphabet):
    # Short texts over few letters: ties everywhere, and the pruning of
    # choices that cannot beat the best so far is tight.
    rng = random.Random(len(alphabet))
    texts = lambda n: ["".join(rng.choice(alphabet) for _ in range(rng.randrange(9))) for _ in range(n)]
    queries, choices = texts(150), texts(200)
    for scorer in ("complev", "compged"):
        want = zq.cdist(queries, choices, scorer=scorer)
        index, dist = zq.extract_one(queries, choices, scorer=scorer, threads=2)
        np.testing.assert_array_equal(index, want.argmin(axis=1))
        np.testing.assert_array_equal(dist, want.min(axis=1))
        for cutoff in (1, 2, 3):
            np.testing.assert_array_equal(zq.cdist(queries, choices, scorer=scorer, cutoff=cutoff),
                                          pairwise(scorer, queries, choices, cutoff, None))
