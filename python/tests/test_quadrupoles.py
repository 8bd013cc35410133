"""respmat.fit(kind="quadrupoles"): the tool's numbers bit for bit on the bundled ring,
and the same answer as scipy's least_squares on the same closed form."""

import csv
import os
import subprocess
import sys

import numpy as np
import pytest
import scipy.optimize

import respmat
from conftest import EXAMPLES, PROJECT

sys.path.insert(0, str(PROJECT / "python" / "bench"))
import thin_ring  # noqa: E402

TOOL = os.environ.get("RESPMAT_EXE")
RING = EXAMPLES / "thin_ring"


def measured(axis):
    return np.loadtxt(RING / f"measured_{axis}.csv", delimiter=",", skiprows=1, usecols=range(1, 25))


def with_dispersion(path):
    """The bundled ring's table with a column DX."""
    lines = (RING / "thin_ring.tfs").read_text().splitlines()
    path.write_text("".join(line + (" DX" if line[0] == "*" else " %le" if line[0] == "$" else "" if line[0] == "@" else
                                    f" {1.2 + 0.4 * np.cos(6.3 * float(line.split()[5])):.17g}") + "\n" for line in lines))
    return path


@pytest.mark.skipif(TOOL is None, reason="RESPMAT_EXE names the tool")
@pytest.mark.parametrize("calibrations,rf", [(False, "free"), (True, "free"), (True, "fixed")])
def test_the_result_is_the_tools_bit_for_bit(tmp_path, calibrations, rf):
    table = RING / "thin_ring.tfs" if rf == "free" else with_dispersion(tmp_path / "dx.tfs")
    fixed = {"momentum_compaction": 0.1, "circumference": 1000.0} if rf == "fixed" else {}
    args = [TOOL, "fit", "--fit", "quadrupoles", "--optics", str(table), "--lattice", "ring", "--rf", rf,
            "--layout", "monitors-by-correctors", "--measured", str(RING / "measured_x.csv"), "--plane", "both",
            "--measured-y", str(RING / "measured_y.csv"), "--parameters", str(tmp_path / "p.csv"),
            "--covariance", str(tmp_path / "c.csv")] + (["--calibrations"] if calibrations else []) + \
        [f"--{k.replace('_', '-')}={v!r}" for k, v in fixed.items()]
    subprocess.run(args, check=True, capture_output=True)
    result = respmat.fit(measured("x"), optics=table, kind="quadrupoles", lattice="ring", plane="both",
                         measured_y=measured("y"), calibrations=calibrations, rf=rf, **fixed)
    with open(tmp_path / "p.csv") as f:
        rows = list(csv.DictReader(f))
    assert [(r["kind"], r["name"], float(r["value"]), float(r["error"])) for r in rows] == \
        [(p["kind"], p["name"], p["value"], p["error"]) for p in result["parameters"]]
    covariance = np.loadtxt(tmp_path / "c.csv", delimiter=",", skiprows=1, usecols=range(1, len(rows) + 1))
    assert np.array_equal(covariance, result["covariance"])
    assert np.allclose(np.sqrt(np.diag(covariance)), [float(r["error"]) for r in rows], rtol=1e-12)


def test_agrees_with_scipy_least_squares():
    rows, tunes = thin_ring.optics(thin_ring.cells(12))
    greens = [thin_ring.greens(rows, tunes, plane) for plane in (0, 1)]
    data = [measured("x"), measured("y")]

    def residuals(errors):
        return np.concatenate([(thin_ring.response(g, errors, p) - d).ravel() for p, (g, d) in enumerate(zip(greens, data))])

    reference = scipy.optimize.least_squares(residuals, np.zeros(24), method="lm", xtol=1e-15, ftol=1e-15, gtol=1e-15)
    result = respmat.fit(data[0], optics=RING / "thin_ring.tfs", kind="quadrupoles", lattice="ring", plane="both",
                         measured_y=data[1])
    assert np.allclose(result["quadrupole_gradient"], reference.x, rtol=0, atol=1e-10)
    true = np.loadtxt(RING / "errors.csv", delimiter=",", skiprows=1, usecols=1)
    pulls = (result["quadrupole_gradient"] - true) / result["quadrupole_gradient_error"]
    assert np.all(np.abs(pulls) < 5)


def test_frames_are_aligned_by_name():
    pandas = pytest.importorskip("pandas")
    frames = [pandas.read_csv(RING / f"measured_{axis}.csv", index_col=0, float_precision="round_trip") for axis in "xy"]
    result = respmat.fit(frames[0].iloc[::-1, ::-1], optics=RING / "thin_ring.tfs", kind="quadrupoles",
                         lattice="ring", plane="both", measured_y=frames[1].iloc[:, ::-1])
    plain = respmat.fit(measured("x"), optics=RING / "thin_ring.tfs", kind="quadrupoles", lattice="ring",
                        plane="both", measured_y=measured("y"))
    assert np.array_equal(result["quadrupole_gradient"], plain["quadrupole_gradient"])
    assert list(result["fitted_y"].index) == list(frames[1].index)
    names = ["quadrupole_gradient:" + name for name in plain["quadrupole_gradient_names"]]
    assert list(result["covariance"].index) == list(result["covariance"].columns) == names
    assert np.array_equal(result["covariance"].to_numpy(), plain["covariance"])


def test_arguments_of_other_kinds_are_refused():
    with pytest.raises(ValueError, match="kind='quadrupoles'"):
        respmat.fit(measured("x"), optics=RING / "thin_ring.tfs", lattice="ring", calibrations=True)
    with pytest.raises(ValueError, match="measured_y"):
        respmat.fit(measured("x"), optics=RING / "thin_ring.tfs", kind="quadrupoles", lattice="ring", plane="both")
