"""Model orbit response matrices from machine phases, over numpy arrays.

The model matrix of m phases (in turns) is the m x m lower-triangular matrix whose
entry (i, j), j <= i, is 0.47247222310000003 * sin(2*pi*(phase[i] - phase[j]) + 0.1696),
every step computed in extended precision and rounded to float64 once.

    >>> import respmat
    >>> phases = respmat.load_phases("twiss.tfs", column="MUX")
    >>> G = respmat.model(phases)
    >>> respmat.save_csv(G, "er.csv")
    >>> respmat.heatmap(G, "G.svg", title="model response matrix, x plane")

Functions release the GIL while they read, compute and write, take any array that
converts to float64 (non-contiguous views are converted once), and raise OSError
subclasses (with errno and filename) for files that cannot be read or written and
ValueError for malformed content. Files written by name are replaced whole or not
at all. Functions that take a matrix take a pandas.DataFrame too (index: monitors,
columns: correctors), align frames and Series by their names, and return frames.
"""

from ._respmat import (
    __version__, load_phases, load_text, model, optics_model, read_bin, run, save_csv, write_bin,
)
from ._frames import compare, correct, fit, heatmap, svd

__all__ = [
    "__version__", "compare", "fit", "heatmap", "load_phases", "load_text", "model", "optics_model", "read_bin", "run",
    "save_csv", "write_bin",
]
__all__ += ["correct", "svd"]
