"""respmat compare and fit on synthetic measurements of known constants, cross-checked
with numpy and scipy."""

import json
import os
import subprocess

import numpy as np
import pytest

TOOL = os.environ.get("RESPMAT_EXE")
pytestmark = pytest.mark.skipif(TOOL is None, reason="the tool's path comes from the build")


def synthetic(rng, m=40, amplitude=0.31, offset=0.4):
    phases = np.cumsum(rng.uniform(0.05, 0.3, m))
    angle = 2 * np.pi * np.subtract.outer(phases, phases)
    return phases, np.tril(amplitude * np.sin(angle + offset))


def run(folder, *args):
    return subprocess.run([TOOL, *args], cwd=folder, capture_output=True, text=True)


def write(folder, phases, monitors_by_correctors, sigma=None, step=1.0):
    np.savetxt(folder / "phases.csv", phases, fmt="%.17g")
    # The bare job's layout: a row per corrector.
    np.savetxt(folder / "measured.csv", (monitors_by_correctors * step).T, fmt="%.17g", delimiter=",")
    if sigma is not None:
        np.savetxt(folder / "sigma.csv", (sigma * step).T, fmt="%.17g", delimiter=",")


def fitted(folder, *extra):
    result = run(folder, "fit", "-p", "phases.csv", "--measured", "measured.csv", "--parameters", "p.csv",
                 "--summary", "s.json", *extra)
    assert result.returncode == 0, result.stderr
    rows = [line.split(",") for line in (folder / "p.csv").read_text().splitlines()[1:]]
    return {kind: (float(value), float(error)) for kind, _, value, error in rows}, json.loads((folder / "s.json").read_text())


def test_noiseless_measurements_give_their_constants_back(tmp_path, rng):
    phases, measured = synthetic(rng)
    write(tmp_path, phases, measured, step=0.1)
    parameters, summary = fitted(tmp_path, "--step", "0.1")
    assert parameters["amplitude"][0] == pytest.approx(0.31, rel=1e-10)
    assert parameters["offset"][0] == pytest.approx(0.4, rel=1e-10)
    assert summary["points"] == 40 * 41 // 2 and summary["converged"]
    # A wrong step shows as a scale, not as noise.
    parameters, summary = fitted(tmp_path)
    assert parameters["amplitude"][0] == pytest.approx(0.031, rel=1e-10)
    assert summary["rms_after"] < 1e-12


def test_errors_describe_the_scatter_of_noisy_fits(tmp_path, rng):
    pulls = []
    for draw in range(25):
        phases, measured = synthetic(rng, m=30)
        sigma = np.full_like(measured, 0.01)
        write(tmp_path, phases, measured + rng.normal(0, 0.01, measured.shape) * np.tri(30), sigma)
        parameters, summary = fitted(tmp_path, "--sigma", "sigma.csv")
        pulls.append([(parameters["amplitude"][0] - 0.31) / parameters["amplitude"][1],
                      (parameters["offset"][0] - 0.4) / parameters["offset"][1]])
        assert 0.5 < summary["chi2_reduced"] < 1.6
    pulls = np.array(pulls)
    assert np.all(np.abs(pulls.mean(axis=0)) < 0.7)
    assert np.all((pulls.std(axis=0) > 0.55) & (pulls.std(axis=0) < 1.6))


def test_the_fit_agrees_with_scipy(tmp_path, rng):
    from scipy.optimize import least_squares
    phases, measured = synthetic(rng, amplitude=0.2, offset=-0.7)
    noisy = measured + rng.normal(0, 0.003, measured.shape) * np.tri(len(phases))
    write(tmp_path, phases, noisy)
    parameters, _ = fitted(tmp_path)
    i, j = np.tril_indices(len(phases))
    angle = 2 * np.pi * (phases[i] - phases[j])
    solution = least_squares(lambda p: p[0] * np.sin(angle + p[1]) - noisy[i, j], [0.25, -0.5], xtol=1e-15,
                             ftol=1e-15, gtol=1e-15)
    assert parameters["amplitude"][0] == pytest.approx(solution.x[0], rel=1e-8)
    assert parameters["offset"][0] == pytest.approx(solution.x[1], rel=1e-8)


def test_compare_finds_an_injected_outlier_and_sizes_like_numpy(tmp_path, rng):
    phases, _ = synthetic(rng)
    model = np.tril(0.47247222310000003 * np.sin(2 * np.pi * np.subtract.outer(phases, phases) + 0.1696))
    measured = model + rng.normal(0, 0.001, model.shape)
    measured[25, 7] += 0.01  # ten sigma
    write(tmp_path, phases, measured)
    result = run(tmp_path, "compare", "-p", "phases.csv", "--measured", "measured.csv", "--summary", "s.json")
    assert result.returncode == 0, result.stderr
    summary = json.loads((tmp_path / "s.json").read_text())
    assert [(o["monitor"], o["corrector"]) for o in summary["outliers"]] == [(25, 7)]
    residual = measured - model
    reach = np.tri(len(phases), dtype=bool)
    assert summary["rms_residual"] == pytest.approx(np.sqrt(np.mean(residual[reach] ** 2)), rel=1e-12)
    assert summary["rms_upstream"] == pytest.approx(np.sqrt(np.mean(residual[~reach] ** 2)), rel=1e-12)
    assert summary["per_monitor_rms"][3] == pytest.approx(np.sqrt(np.mean(residual[3, :4] ** 2)), rel=1e-12)
    written = np.loadtxt(tmp_path / "residual.csv", delimiter=",").T
    np.testing.assert_allclose(written, residual, rtol=0, atol=1e-13)  # the test's model is in double


def test_python_compare_gives_the_tools_numbers_bit_for_bit(tmp_path, rng):
    import respmat
    phases, model = synthetic(rng, m=60, amplitude=0.47247222310000003, offset=0.1696)
    measured = model + rng.normal(0, 0.001, model.shape)
    measured[40, 5] += 0.02
    sigma = rng.uniform(0.0005, 0.002, model.shape)
    write(tmp_path, phases, measured, sigma=sigma, step=0.1)
    done = run(tmp_path, "compare", "-p", "phases.csv", "--measured", "measured.csv", "--sigma", "sigma.csv",
               "--step", "0.1", "--summary", "s.json", "-f", "bin", "-o", "r.bin")
    assert done.returncode == 0, done.stderr
    tool = json.loads((tmp_path / "s.json").read_text())
    # The files' numbers as the tool reads them, divided by the step as it does.
    read = [np.loadtxt(tmp_path / name, delimiter=",").T / 0.1 for name in ["measured.csv", "sigma.csv"]]
    result = respmat.compare(read[0], respmat.model(phases), reach=np.tri(60, dtype=bool), sigma=read[1])
    for key in ["rms_measured", "rms_model", "rms_residual", "rms_upstream", "chi2_reduced"]:
        assert result[key] == tool[key], key
    assert list(result["per_monitor_rms"]) == tool["per_monitor_rms"]
    assert list(result["per_corrector_rms"]) == tool["per_corrector_rms"]
    assert result["outliers"] == tool["outliers"] and tool["outliers"]
    assert tool["outlier_sigma"] == {"value": None, "from": "uncertainties"}
    # So small a k flags every entry: the first pass's spread stands, none being left.
    tiny = respmat.compare(read[0], respmat.model(phases), reach=np.tri(60, dtype=bool), outlier_k=1e-12)
    assert len(tiny["outliers"]) == 60 * 61 // 2 and tiny["outlier_sigma_from"] == "first pass"
    assert np.array_equal(result["residual"], respmat.read_bin(tmp_path / "r.bin").T)


def test_results_do_not_depend_on_the_number_of_threads(tmp_path, rng):
    # Large enough for several blocks of work in every pass, medians included, and
    # with outliers, so that the second pass runs.
    phases, model = synthetic(rng, m=1100, amplitude=0.47247222310000003, offset=0.1696)
    measured = model + rng.normal(0, 0.001, model.shape)
    measured[500:510, 3] += 0.05
    write(tmp_path, phases, measured)
    outputs = []
    for threads in ["1", "2", "3"]:
        environment = dict(os.environ, RESPMAT_THREADS=threads)
        for command in [["compare", "--summary", "s.json"], ["fit", "--summary", "s.json", "-o", "residual.csv",
                                                              "--exclude-outliers", "--parameters", "p.csv"]]:
            done = subprocess.run([TOOL, *command, "-p", "phases.csv", "--measured", "measured.csv"], cwd=tmp_path,
                                  env=environment, capture_output=True, text=True)
            assert done.returncode == 0, done.stderr
            outputs.append([(tmp_path / name).read_bytes() for name in ["s.json", "residual.csv"]])
    assert json.loads(outputs[0][0])["outliers"]
    assert outputs[0::2] == [outputs[0]] * 3 and outputs[1::2] == [outputs[1]] * 3


def test_bad_measurements_are_refused_in_one_line(tmp_path, rng):
    phases, measured = synthetic(rng, m=5)
    write(tmp_path, phases, measured)
    text = (tmp_path / "measured.csv").read_text().splitlines()
    text[2] = "nan" + text[2][text[2].index(","):]
    (tmp_path / "measured.csv").write_text("\n".join(text) + "\n")
    result = run(tmp_path, "compare", "-p", "phases.csv", "--measured", "measured.csv")
    assert result.returncode == 1 and result.stderr.count("\n") == 1
    assert "measured.csv:3: column 0" in result.stderr
    assert run(tmp_path, "fit", "--step", "0").returncode == 64
    assert not (tmp_path / "residual.csv").exists()
    # Noisy draws where the first monitor's gain is barely determined (its corrector's
    # offset near 0): some fits fail, each in one line, the solver's own log quiet.
    failures = []
    for _ in range(60):
        phases = np.cumsum(rng.uniform(0.05, 0.3, 12))
        offsets = rng.uniform(0.0, 0.02, 12)
        exact = np.tril(0.3 * np.sin(2 * np.pi * np.subtract.outer(phases, phases) + offsets))
        write(tmp_path, phases, exact + rng.normal(0, 0.01, exact.shape) * np.tri(12))
        result = run(tmp_path, "fit", "--fit", "calibrations", "-p", "phases.csv", "--measured", "measured.csv")
        if result.returncode != 0:
            failures.append(result.stderr)
    assert failures and all(stderr.count("\n") == 1 for stderr in failures), failures[:1]


def test_calibrations_come_back_from_noiseless_measurements_and_agree_with_scipy(tmp_path, rng):
    from scipy.optimize import least_squares
    m = 24
    phases = np.cumsum(rng.uniform(0.05, 0.3, m))
    gains = np.exp(rng.normal(0, 0.05, m))
    gains /= np.exp(np.mean(np.log(gains)))
    strengths, offsets = rng.uniform(0.2, 0.4, m), rng.uniform(0.0, 0.3, m)
    angle = 2 * np.pi * np.subtract.outer(phases, phases)
    exact = np.tril(np.outer(gains, strengths) * np.sin(angle + offsets))
    write(tmp_path, phases, exact)
    parameters = fitted_calibrations(tmp_path)
    np.testing.assert_allclose(parameters["monitor_gain"], gains, rtol=1e-10)
    # The last corrector reaches one monitor only: left out, as the summary says.
    np.testing.assert_allclose(parameters["corrector_strength"][:-1], strengths[:-1], rtol=1e-10)
    np.testing.assert_allclose(parameters["corrector_offset"][:-1], offsets[:-1], rtol=1e-9, atol=1e-12)
    assert json.loads((tmp_path / "s.json").read_text())["left_out"] == [str(m - 1)]

    noisy = exact + rng.normal(0, 0.002, exact.shape) * np.tri(m)
    write(tmp_path, phases, noisy)
    parameters = fitted_calibrations(tmp_path)
    i, j = np.tril_indices(m)
    keep = j < m - 1

    def residual(p):
        g = np.exp(np.concatenate([[0.0], p[:m - 1]]))
        c, d = p[m - 1:2 * m - 2], p[2 * m - 2:]
        return g[i[keep]] * c[j[keep]] * np.sin(angle[i[keep], j[keep]] + d[j[keep]]) - noisy[i[keep], j[keep]]

    start = np.concatenate([np.zeros(m - 1), np.full(m - 1, 0.3), np.full(m - 1, 0.15)])
    solution = least_squares(residual, start, xtol=1e-15, ftol=1e-15, gtol=1e-15).x
    g = np.exp(np.concatenate([[0.0], solution[:m - 1]]))
    scale = np.exp(np.mean(np.log(g)))
    np.testing.assert_allclose(parameters["monitor_gain"], g / scale, rtol=1e-6)
    np.testing.assert_allclose(parameters["corrector_strength"][:-1], solution[m - 1:2 * m - 2] * scale, rtol=1e-6)


def fitted_calibrations(folder):
    result = run(folder, "fit", "--fit", "calibrations", "-p", "phases.csv", "--measured", "measured.csv",
                 "--parameters", "p.csv", "--summary", "s.json")
    assert result.returncode == 0, result.stderr
    values = {}
    for line in (folder / "p.csv").read_text().splitlines()[1:]:
        kind, _, value, _ = line.split(",")
        values.setdefault(kind, []).append(float(value))
    return {kind: np.array(v) for kind, v in values.items()}


def test_a_table_written_by_model_gives_its_own_layout(tmp_path, rng):
    phases, _ = synthetic(rng, m=6)
    np.savetxt(tmp_path / "phases.csv", phases, fmt="%.17g")
    assert run(tmp_path, "model", "-p", "phases.csv", "-f", "tfs", "-o", "m.tfs").returncode == 0
    for extra in ([], ["--layout", "monitors-by-correctors"]):
        result = run(tmp_path, "compare", "-p", "phases.csv", "--measured", "m.tfs", "-o", "r.csv", *extra)
        assert result.returncode == 0 and np.abs(np.loadtxt(tmp_path / "r.csv", delimiter=",")).max() < 1e-15, result.stderr
    # A matrix that is not square: MONITORS and CORRECTORS tell its layout without LAYOUT.
    assert run(tmp_path, "model", "-p", "phases.csv", "-o", "m.csv").returncode == 0
    G = np.loadtxt(tmp_path / "m.csv", delimiter=",")[:, :5]
    (tmp_path / "wide.tfs").write_text("@ MONITORS %d 6\n@ CORRECTORS %d 5\n* C0 C1 C2 C3 C4\n$" + " %le" * 5 + "\n" +
                                       "".join(" ".join(f"{v:.17g}" for v in row) + "\n" for row in G))
    result = run(tmp_path, "compare", "-p", "phases.csv", "--measured", "wide.tfs", "--corrector-monitors", "0,1,2,3,4",
                 "-o", "r.csv")
    assert result.returncode == 0 and np.abs(np.loadtxt(tmp_path / "r.csv", delimiter=",")).max() < 1e-15, result.stderr
    text = (tmp_path / "m.tfs").read_text()
    (tmp_path / "odd.tfs").write_text(text.replace('"monitors-by-correctors"', '"sideways"'))
    result = run(tmp_path, "compare", "-p", "phases.csv", "--measured", "odd.tfs")
    assert result.returncode == 1 and "odd.tfs: LAYOUT" in result.stderr and result.stderr.count("\n") == 1
