"""model() against numpy's long-double computation and the tool's own output."""

import numpy as np
import pytest

import respmat
from conftest import EXAMPLES, DATA, OPTICS_TABLES, assert_same_bits, numpy_model


@pytest.mark.parametrize("table", OPTICS_TABLES, ids=lambda p: p.stem)
def test_real_phase_tables_match_numpy_long_double(table):
    phases = np.loadtxt(table, delimiter=",")[:, 0]
    assert_same_bits(respmat.model(phases), numpy_model(phases))


def test_random_and_hostile_phases_match_numpy_long_double(rng):
    cases = [
        rng.uniform(-1, 1, 700),
        np.cumsum(rng.uniform(0, 0.3, 500)),            # accumulated like a ring's phases
        rng.uniform(-1e6, 1e6, 300),                     # beyond the table's argument range
        1 + rng.integers(-50, 50, 300) * 2.0**-52,       # differences of a few ulps
        rng.integers(0, 2**64, 300, dtype=np.uint64).view(np.float64),  # any bits: nan, inf, tiny
        np.array([0.0, -0.0, 0.25, 0.5, np.inf, -np.inf, np.nan, 5e-324, 1.7e308]),
    ]
    for phases in cases:
        phases = phases[np.isfinite(phases)]  # the others are refused, as the tool refuses them
        with np.errstate(invalid="ignore", over="ignore"):
            expected = numpy_model(phases)
        assert_same_bits(respmat.model(phases), expected)


def test_written_model_is_the_tools_er_csv(tmp_path):
    m = len(np.loadtxt(EXAMPLES / "reponsematx_H0.1A.csv", delimiter=",", max_rows=1))
    phases = np.loadtxt(EXAMPLES / "realmachinephases.csv", delimiter=",", usecols=0)[:m]
    respmat.save_csv(respmat.model(phases), tmp_path / "er.csv")
    assert (tmp_path / "er.csv").read_bytes() == (DATA / "example_er.csv").read_bytes()


def test_any_float_convertible_array_is_taken_once():
    phases = np.arange(40, dtype=np.int32)[::-3]          # ints, strided, descending
    assert_same_bits(respmat.model(phases), numpy_model(phases.astype(np.float64)))
    assert_same_bits(respmat.model([0.5, 0.25]), numpy_model([0.5, 0.25]))
    assert respmat.model(np.empty(0)).shape == (0, 0)


def test_phases_that_are_not_one_dimensional_are_refused():
    with pytest.raises(ValueError, match="1-D"):
        respmat.model(np.zeros((3, 3)))
    with pytest.raises(ValueError):
        respmat.model(["a", "b"])


def test_phases_the_tool_refuses_are_refused():
    for bad, index in (([0.5, np.nan], 1), ([np.inf, 0.5], 0), ([0.1, 0.2, -np.inf], 2)):
        with pytest.raises(ValueError, match=rf"phases\[{index}\]"):
            respmat.model(bad)
    for not_a_sequence in (None, 0.5, np.float64(2.0), np.array(1.0)):
        with pytest.raises(TypeError):
            respmat.model(not_a_sequence)
