"""Shared inputs of the Python tests: the project's bundled tables and the model
computed the straightforward way with numpy's long double."""

import pathlib
import zlib

import numpy as np
import pytest

PROJECT = pathlib.Path(__file__).resolve().parents[2]
DATA = PROJECT / "tests" / "data"
EXAMPLES = PROJECT / "examples"
OPTICS_TABLES = sorted((DATA / "optics").glob("*.csv"))


def numpy_model(phases):
    """The model matrix the way a numpy user writes it, every step in long double."""
    p = np.asarray(phases, dtype=np.float64).astype(np.longdouble)
    u = np.subtract.outer(p, p) * np.longdouble(6.283185307179586) + np.longdouble(0.1696)
    return np.tril((np.sin(u) * np.longdouble(0.47247222310000003)).astype(np.float64))


def assert_same_bits(actual, expected):
    assert actual.dtype == np.float64 and actual.shape == expected.shape
    differ = np.flatnonzero(actual.view(np.uint64) != expected.view(np.uint64))
    assert differ.size == 0, f"{differ.size} entries differ, first at {np.unravel_index(differ[0], actual.shape)}"


@pytest.fixture
def rng(request):
    # A fixed seed per test, derived from its name, so a failure repeats.
    return np.random.default_rng(zlib.crc32(request.node.name.encode()))
