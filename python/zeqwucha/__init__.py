"""zeqwucha for Python: the module's character functions over numpy arrays and
pandas columns, its random streams as numpy arrays.

    import zeqwucha as zq
    zq.compged(df["name"], "John Smith", threads=2)   # a Series on df's index
    zq.Stream("MT64", seed=42).draw(1_000_000)          # float64 array

Every function of the catalogue is here under its lower-case name; the same
functions are methods of ``Session(encoding='utf-8'|'latin-1')``, which keeps
its own COMPCOST costs.  ``zeqwucha.dask`` runs them over Dask DataFrames.

Counts, positions (1-based) and distances come back as int (int64 arrays,
pandas Int64 where a row is missing); text as str, or bytes where it is not
valid in the session's encoding.  The functions are safe to call from several
threads at once, and such calls run in parallel.
"""

from ._core import Session, Stream, __version__, catalogue, conversions, methods  # noqa: F401
from ._core import cdist, extract_one  # noqa: F401
from . import _core

__all__ = ["Session", "Stream", "catalogue", "conversions", "methods", "cdist", "extract_one"]

for _row in catalogue():
    globals()[_row["name"]] = getattr(_core, _row["name"])
    __all__.append(_row["name"])
del _row
