"""respmat.fit: constants back from synthetic measurements, the tool's numbers bit for
bit, a cross-check with scipy, and the arguments it refuses."""

import json
import os
import subprocess

import numpy as np
import pytest

import respmat
from conftest import EXAMPLES, assert_same_bits

TOOL = os.environ.get("RESPMAT_EXE")
TWISS = EXAMPLES / "optics" / "iota_v8.3_twiss.tfs"


def calibrated(rng, m=24, offsets_from=0.0):
    """Phases, the exact measurement of known calibrations (monitors x correctors) and them."""
    phases = np.cumsum(rng.uniform(0.05, 0.3, m))
    gains = np.exp(rng.normal(0, 0.05, m))
    gains /= np.exp(np.mean(np.log(gains)))
    strengths, offsets = rng.uniform(0.2, 0.4, m), rng.uniform(offsets_from, 0.3, m)
    angle = 2 * np.pi * np.subtract.outer(phases, phases)
    return phases, np.tril(np.outer(gains, strengths) * np.sin(angle + offsets)), (gains, strengths, offsets)


def test_noiseless_measurements_give_their_constants_back(rng):
    phases = np.cumsum(rng.uniform(0.05, 0.3, 30))
    exact = np.tril(0.31 * np.sin(2 * np.pi * np.subtract.outer(phases, phases) + 0.4))
    result = respmat.fit(exact * 0.1, phases=phases, step=0.1)
    assert result["amplitude"] == pytest.approx(0.31, rel=1e-10)
    assert result["offset"] == pytest.approx(0.4, rel=1e-10)
    assert result["points"] == 30 * 31 // 2 and result["rms_after"] < 1e-12
    np.testing.assert_allclose(result["fitted"], exact, rtol=0, atol=1e-12)

    # Correctors at every other monitor: a non-square measurement.
    every_other = respmat.fit(exact[:, ::2], phases=phases, corrector_monitors=range(0, 30, 2))
    assert every_other["amplitude"] == pytest.approx(0.31, rel=1e-10)

    G, _, _ = respmat.optics_model(TWISS)
    line = respmat.fit(1.7 * G, optics=TWISS)
    assert line["scale"] == pytest.approx(1.7, rel=1e-10) and abs(line["offset"]) < 1e-12
    ring = respmat.fit(0.6 * respmat.optics_model(TWISS, lattice="ring")[0], optics=TWISS, lattice="ring")
    assert ring["scale"] == pytest.approx(0.6, rel=1e-10) and "offset" not in ring

    phases, exact, (gains, strengths, offsets) = calibrated(rng)
    result = respmat.fit(exact, phases=phases, kind="calibrations")
    np.testing.assert_allclose(result["monitor_gain"], gains, rtol=1e-10)
    # The last corrector reaches one monitor only: left out, NaN with no error, and
    # its entry counted nowhere.
    assert result["left_out"] == ["23"] and np.isnan(result["corrector_strength"][-1])
    assert [p["error"] for p in result["parameters"] if p["kind"] != "monitor_gain" and p["name"] == "23"] == [None] * 2
    assert result["points"] == np.count_nonzero(np.tri(len(phases))[:, :-1]) and result["rms_after"] < 1e-12
    np.testing.assert_allclose(result["corrector_strength"][:-1], strengths[:-1], rtol=1e-10)
    np.testing.assert_allclose(result["corrector_offset"][:-1], offsets[:-1], rtol=1e-9, atol=1e-12)


def test_an_inverted_monitor_gets_a_negative_gain_and_a_warning(rng):
    phases, exact, (gains, strengths, _) = calibrated(rng)
    exact[5] *= -1
    with pytest.warns(RuntimeWarning, match="monitor 5: its gain is negative"):
        result = respmat.fit(exact, phases=phases, kind="calibrations")
    np.testing.assert_allclose(result["monitor_gain"], gains * np.where(np.arange(24) == 5, -1, 1), rtol=1e-10)
    np.testing.assert_allclose(result["corrector_strength"][:-1], strengths[:-1], rtol=1e-10)


def test_outliers_are_judged_against_the_fitted_model(rng):
    # Constants far from the starting model's: against that, most entries stand out.
    phases = np.cumsum(rng.uniform(0.05, 0.3, 30))
    measured = np.tril(0.31 * np.sin(2 * np.pi * np.subtract.outer(phases, phases) + 0.4) + rng.normal(0, 1e-3, (30, 30)))
    measured[20, 4] += 0.02
    result = respmat.fit(measured, phases=phases, exclude_outliers=True)
    assert result["outliers_left_out"] == [{"monitor": "20", "corrector": "4"}] and result["outlier_passes"] == 2
    assert result["outlier_sigma_from"] == "second pass" and result["outlier_sigma"] == pytest.approx(1e-3, rel=0.2)
    assert result["points"] == 30 * 31 // 2 - 1 and result["amplitude"] == pytest.approx(0.31, rel=1e-3)
    # A corrector the calibrations leave out has no model to judge its entry against.
    phases, exact, _ = calibrated(rng)
    exact[20, 4] += 0.02
    result = respmat.fit(exact + np.tril(rng.normal(0, 1e-4, exact.shape)), phases=phases, kind="calibrations",
                         exclude_outliers=True)
    assert result["outliers_left_out"] == [{"monitor": "20", "corrector": "4"}] and result["left_out"] == ["23"]


def test_calibrations_of_a_ring_come_back(rng):
    G = respmat.optics_model(TWISS, lattice="ring")[0]
    gains = np.exp(rng.normal(0, 0.05, G.shape[0]))
    gains /= np.exp(np.mean(np.log(gains)))
    strengths = rng.uniform(0.5, 1.5, G.shape[1])
    result = respmat.fit(np.outer(gains, strengths) * G, optics=TWISS, lattice="ring", kind="calibrations")
    np.testing.assert_allclose(result["monitor_gain"], gains, rtol=1e-9)
    np.testing.assert_allclose(result["corrector_strength"], strengths, rtol=1e-9)
    assert "corrector_offset" not in result and result["rms_after"] < 1e-12


def noisy_calibrations(rng):
    phases, exact, _ = calibrated(rng)
    return dict(measured=2 * (exact + rng.normal(0, 0.002, exact.shape) * np.tri(len(phases))), phases=phases,
                kind="calibrations", step=2.0, sigma=np.full(exact.shape, 0.004))


def noisy_optics(rng, lattice, **rf):
    G = respmat.optics_model(TWISS, lattice=lattice, **rf)[0]
    return dict(measured=1.3 * G + rng.normal(0, 0.01, G.shape) * (G != 0), optics=TWISS, lattice=lattice, **rf)


def noisy_corrector_monitors(rng):
    phases, exact, _ = calibrated(rng)
    measured = exact[:, 1::3] + rng.normal(0, 0.003, (len(phases), 8))
    return dict(measured=measured, phases=phases, corrector_monitors=list(range(1, 24, 3)), exclude_outliers=True)


def tool_fit(folder, measured, phases=None, optics=None, kind="amplitude-offset", step=1.0, sigma=None,
             corrector_monitors=None, lattice="line", exclude_outliers=False, rf="free"):
    """The tool's parameters, summary, fitted model (monitors x correctors) and covariance (names, values) on
    files of the same values."""
    args = [TOOL, "fit", "--fit", kind, "--measured", "m.csv", "--layout", "monitors-by-correctors", "--step",
            repr(step), "--parameters", "p.csv", "--summary", "s.json", "-o", "fitted.bin", "-f", "bin",
            "--covariance", "c.csv"]
    np.savetxt(folder / "m.csv", measured, fmt="%.17g", delimiter=",")
    if sigma is not None:
        np.savetxt(folder / "sigma.csv", sigma, fmt="%.17g", delimiter=",")
        args += ["--sigma", "sigma.csv"]
    if phases is not None:
        np.savetxt(folder / "phases.csv", phases, fmt="%.17g")
        args += ["-p", "phases.csv"]
    else:
        args += ["--optics", str(optics), "--lattice", lattice, "--rf", rf]
    if corrector_monitors is not None:
        args += ["--corrector-monitors", ",".join(map(str, corrector_monitors))]
    if exclude_outliers:
        args.append("--exclude-outliers")
    done = subprocess.run(args, cwd=folder, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    rows = [line.split(",") for line in (folder / "p.csv").read_text().splitlines()[1:]]
    covariance = [line.split(",") for line in (folder / "c.csv").read_text().splitlines()]
    return rows, json.loads((folder / "s.json").read_text()), respmat.read_bin(folder / "fitted.bin"), \
        ([row[0] for row in covariance[1:]], np.array([row[1:] for row in covariance[1:]], dtype=float))


@pytest.mark.skipif(TOOL is None, reason="the tool's path comes from the build")
@pytest.mark.parametrize("problem", [noisy_calibrations, lambda rng: noisy_optics(rng, "line"),
                                     lambda rng: noisy_optics(rng, "ring"), noisy_corrector_monitors,
                                     lambda rng: noisy_optics(rng, "ring", rf="fixed"),
                                     lambda rng: {**noisy_optics(rng, "ring"), "kind": "calibrations"}],
                         ids=["calibrations", "optics-line", "optics-ring", "corrector-monitors", "ring-fixed-rf",
                              "ring-calibrations"])
def test_the_result_is_the_tools_bit_for_bit(tmp_path, rng, problem):
    arguments = problem(rng)
    result = respmat.fit(**arguments)
    rows, summary, fitted, (names, covariance) = tool_fit(tmp_path, **arguments)
    # The covariance of the parameters fitted (not a left-out corrector's), the errors' squares on its diagonal.
    fitted_rows = [row for row in rows if row[2] != "nan"]
    assert names == result["covariance_names"] == [kind + ":" + name for kind, name, _, _ in fitted_rows]
    assert_same_bits(result["covariance"], covariance)
    np.testing.assert_array_equal(covariance, covariance.T)
    np.testing.assert_allclose(np.diag(covariance), [float(error) ** 2 for *_, error in fitted_rows], rtol=1e-14)
    # A corrector left out is NaN in the table, None (null) as an error or in JSON.
    np.testing.assert_equal([[p["kind"], p["value"], np.nan if p["error"] is None else p["error"]]
                             for p in result["parameters"]],
                            [[kind, float(value), float(error)] for kind, _, value, error in rows])
    for key in ["chi2_reduced", "rms_before", "rms_after", "points", "iterations", "converged", "left_out",
                *["outliers_left_out", "outlier_passes"] * arguments.get("exclude_outliers", False)]:
        assert result[key] == summary[key], key
    assert [None if np.isnan(p["value"]) else p["value"] for p in result["parameters"]] == \
        [p["value"] for p in summary["parameters"]]
    assert_same_bits(result["fitted"], fitted)


def test_weighted_fit_agrees_with_scipy(rng):
    from scipy.optimize import least_squares
    arguments = noisy_corrector_monitors(rng)
    del arguments["exclude_outliers"]
    sigma = rng.uniform(0.002, 0.004, arguments["measured"].shape)
    result = respmat.fit(**arguments, sigma=sigma)
    phases, columns = arguments["phases"], np.array(arguments["corrector_monitors"])
    i, j = np.nonzero(np.arange(24)[:, None] >= columns[None, :])
    angle = 2 * np.pi * (phases[i] - phases[columns[j]])

    def weighted(p):
        return (p[0] * np.sin(angle + p[1]) - arguments["measured"][i, j]) / sigma[i, j]

    solution = least_squares(weighted, [0.3, 0.1], xtol=1e-15, ftol=1e-15, gtol=1e-15)
    covariance = np.linalg.inv(solution.jac.T @ solution.jac)
    np.testing.assert_allclose([result["amplitude"], result["offset"]], solution.x, rtol=1e-8)
    np.testing.assert_allclose([result["amplitude_error"], result["offset_error"]], np.sqrt(np.diag(covariance)),
                               rtol=1e-6)
    np.testing.assert_allclose(result["covariance"], covariance, rtol=1e-6)
    assert result["chi2_reduced"] == pytest.approx(2 * solution.cost / (len(i) - 2), rel=1e-8)


def test_the_calibrations_covariance_keeps_the_gauge(rng):
    # sum log|g| = 0 holds in every draw: sum dg_i / g_i = 0, so no parameter varies with it.
    result = respmat.fit(**noisy_calibrations(rng))
    gains = result["monitor_gain"]
    along_gauge = result["covariance"][:, :len(gains)] @ (1 / gains)
    assert np.max(np.abs(along_gauge)) < 1e-12 * np.max(np.abs(result["covariance"]))
    assert np.all(np.linalg.eigvalsh(result["covariance"]) > -1e-12 * np.max(np.diag(result["covariance"])))


def test_frames_name_the_covariance_both_ways(rng):
    pandas = pytest.importorskip("pandas")
    arguments = noisy_calibrations(rng)
    names = [f"BPM{k}" for k in range(24)]
    framed = respmat.fit(**{**arguments, "measured": pandas.DataFrame(arguments["measured"], index=names,
                                                                       columns=names)})
    plain = respmat.fit(**arguments)
    covariance = framed["covariance"]
    assert list(covariance.index) == list(covariance.columns) == framed["covariance_names"]
    assert covariance.index[0] == "monitor_gain:BPM0" and "corrector_offset:BPM22" in covariance.index
    assert np.array_equal(covariance.to_numpy(), plain["covariance"])


def test_bad_arguments_are_refused(rng):
    phases, exact, _ = calibrated(rng, m=6)
    bad_value = exact.copy()
    bad_value[3, 1] = np.inf
    for arguments, error, words in [
        (dict(measured=bad_value), ValueError, r"measured\[3, 1\] is inf"),
        (dict(sigma=np.zeros_like(exact)), ValueError, "sigma must be above 0"),
        (dict(sigma=np.full((6, 5), np.nan)), ValueError, r"sigma\[0, 0\] is nan"),
        (dict(sigma=np.ones((6, 5))), ValueError, "sigma holds 6 monitors x 5 correctors"),
        (dict(step=0.0), ValueError, "step must be"),
        (dict(kind="gains"), ValueError, "kind must be"),
        (dict(optics=TWISS), ValueError, "either phases or optics"),
        (dict(phases=None), ValueError, "either phases or optics"),
        (dict(phases=phases[:5]), ValueError, "5 phases for the 6 monitors"),
        (dict(measured=exact[:, :4]), ValueError, "corrector_monitors says"),
        (dict(measured=exact[:, :2], corrector_monitors=[0, 6]), ValueError, "no monitor 6 among 6"),
        (dict(measured=exact[:, :2], corrector_monitors=[0]), ValueError, "gives 1 monitors for 2"),
        (dict(corrector_monitors="012345"), TypeError, "sequence of monitor indices"),
        (dict(measured=None), TypeError, "measured must be"),
        (dict(phases=0.5), TypeError, "phases must be"),
        (dict(phases=np.zeros(6)), ValueError, "singular"),
        (dict(measured=exact[:1, :1], phases=phases[:1]), ValueError, "too few to fit"),
    ]:
        with pytest.raises(error, match=words):
            respmat.fit(**{"measured": exact, "phases": phases, **arguments})
    with pytest.raises(FileNotFoundError):
        respmat.fit(exact, optics="no such table.tfs")

    real = np.loadtxt(EXAMPLES / "reponsematx_H0.1A.csv", delimiter=",").T
    machine_phases = np.loadtxt(EXAMPLES / "realmachinephases.csv", delimiter=",")[:36, 0]
    with pytest.raises(ValueError, match="does not converge"):
        respmat.fit(real, phases=machine_phases, corrector_monitors=range(30), step=0.1, kind="calibrations")


# Over many noisy draws the pulls (fit - truth) / error have mean 0 and standard
# deviation 1 when the errors are right. A few draws by default; RESPMAT_LONG_TESTS=1
# (the "long" CTest label) takes enough of them for tight bounds. The first monitor
# sees the first corrector alone, at no phase advance: its gain is known only through
# that corrector's offset, which is therefore kept away from 0.
def test_pulls_of_both_fits_have_unit_spread(rng):
    draws = 4000 if os.environ.get("RESPMAT_LONG_TESTS") else 30
    spread = 3.5 / np.sqrt(draws)  # a generous bound on the error of a sample's mean
    pulls = {"amplitude": [], "offset": [], "monitor_gain": [], "corrector_strength": []}
    for _ in range(draws):
        phases, exact, (gains, strengths, _) = calibrated(rng, m=16, offsets_from=0.1)
        noise = rng.normal(0, 0.002, exact.shape) * np.tri(16)
        simple = respmat.fit(np.tril(0.31 * np.sin(2 * np.pi * np.subtract.outer(phases, phases) + 0.4)) + noise,
                             phases=phases, sigma=np.full(exact.shape, 0.002))
        pulls["amplitude"].append((simple["amplitude"] - 0.31) / simple["amplitude_error"])
        pulls["offset"].append((simple["offset"] - 0.4) / simple["offset_error"])
        full = respmat.fit(exact + noise, phases=phases, kind="calibrations", sigma=np.full(exact.shape, 0.002))
        pulls["monitor_gain"].append((full["monitor_gain"][3] - gains[3]) / full["monitor_gain_error"][3])
        pulls["corrector_strength"].append(
            (full["corrector_strength"][2] - strengths[2]) / full["corrector_strength_error"][2])
    for name, values in pulls.items():
        assert abs(np.mean(values)) < spread + 0.05, name
        assert abs(np.std(values) - 1) < spread + 0.1, name
