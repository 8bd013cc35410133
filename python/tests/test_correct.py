"""respmat.correct and respmat.svd against numpy.linalg and scipy, their properties on
random problems, and the correct command on the measured matrix of a storage ring."""

import json
import os
import subprocess

import numpy as np
import pytest
import scipy.optimize

import respmat
from conftest import DATA

ORM = DATA / "orm"


def numpy_correction(R, x, *, cut=None, rcond=None, alpha=0.0, w=None):
    """The correction the numpy way: SVD of W R, the same cut, the Tikhonov filter."""
    w = np.ones(len(x)) if w is None else w
    U, s, Vt = np.linalg.svd(w[:, None] * R, full_matrices=False)
    if cut is not None:
        kept = np.arange(s.size) < cut
    else:
        r = max(R.shape) * np.finfo(float).eps if rcond is None else rcond
        kept = s > r * s[0]
    f = np.where(kept & (s > 0), s / np.where(s > 0, s * s + alpha * alpha, 1.0), 0.0)
    return -Vt.T @ (f * (U.T @ (w * x)))


def close(a, b, rel, scale=None):
    scale = max(np.max(np.abs(b)), 1e-300) if scale is None else scale
    assert np.max(np.abs(a - b)) <= rel * scale


SHAPES = [(30, 30), (50, 20), (20, 50)]


@pytest.mark.parametrize("shape", SHAPES)
@pytest.mark.parametrize("rank_deficient", [False, True])
def test_equals_numpy_for_every_shape_cut_and_filter(shape, rank_deficient):
    g = np.random.default_rng(sum(shape) + rank_deficient)
    R = g.normal(size=shape)
    if rank_deficient:
        R = R[:, :5] @ g.normal(size=(5, shape[1]))
    x, w = g.normal(size=shape[0]), g.uniform(0.5, 2.0, size=shape[0])
    for kwargs, ref in [({}, {}), ({"singular_values": 3}, {"cut": 3}), ({"rcond": 0.2}, {"rcond": 0.2}),
                        ({"tikhonov": 0.7}, {"alpha": 0.7}), ({"weights": w, "tikhonov": 0.1}, {"w": w, "alpha": 0.1})]:
        got = respmat.correct(R, x, **kwargs)
        close(got["change"], numpy_correction(R, x, **ref), 1e-10)
        close(got["predicted"], x + R @ got["change"], 1e-10, scale=np.max(np.abs(x)))
    U, s, Vt = respmat.svd(R)
    close(s, np.linalg.svd(R, compute_uv=False), 1e-12)
    close(U * s @ Vt, R, 1e-12)
    if rank_deficient:
        assert respmat.correct(R, x)["kept"] == 5


def test_rcond_keeps_the_values_above_it_and_zero_every_non_zero_one():
    R = np.diag([1.0, 1e-17, 0.0])  # below the default cut, and a zero one
    for rcond, kept in [(None, 1), (0.0, 2), (1e-18, 2), (1e-17, 1), (0.5, 1)]:
        got = respmat.correct(R, [1.0, 1.0, 1.0], rcond=rcond)
        assert got["kept"] == kept and list(got["change"]) == [-1.0, -1e17 if kept == 2 else 0.0, 0.0]


def bounded_problem(case, seed):
    """R, orbit and limits: random matrices of several kinds, or the measured ring's with
    random limits tight enough that most correctors sit at one."""
    g = np.random.default_rng(seed)
    if case == "ring":
        R = np.loadtxt(ORM / "spear3_orm_x.csv", delimiter=",", dtype=str)[1:, 1:].astype(float)
        x = np.loadtxt(ORM / "spear3_orbit_x.csv", delimiter=",", skiprows=1, usecols=1)
        return R, x, -g.uniform(0.02, 0.3, 54), g.uniform(0.02, 0.3, 54)
    shape = {"tall": (40, 15), "wide": (20, 50), "rank-deficient": (30, 40), "ill-conditioned": (60, 20)}[case]
    R, x = g.normal(size=shape), g.normal(size=shape[0]) * 5
    lower, upper = -g.uniform(0.05, 1, shape[1]), g.uniform(0.05, 1, shape[1])
    if case == "rank-deficient":
        R, lower, upper = R[:, :5] @ g.normal(size=(5, shape[1])), lower / 5, upper / 5
    if case == "ill-conditioned":  # an orbit the correctors could undo but for their limits
        U, s, Vt = np.linalg.svd(R, full_matrices=False)
        R = U * np.logspace(0, -8, s.size) @ Vt
        x = -R @ g.uniform(-1.5, 1.5, shape[1])
    return R, x, lower, upper


@pytest.mark.parametrize("case, alpha", [("tall", 0.0), ("tall", 0.5), ("wide", 0.0), ("wide", 0.1),
                                         ("rank-deficient", 0.1), ("ill-conditioned", 0.0),
                                         ("ill-conditioned", 1e-3), ("ring", 0.0), ("ring", 1e-2)])
def test_bounded_equals_bvls(case, alpha):
    for seed in range(4):
        R, x, lower, upper = bounded_problem(case, seed)
        got = respmat.correct(R, x, tikhonov=alpha, bounds=np.column_stack([lower, upper]))["change"]
        n = R.shape[1]  # the regularised problem stacks α I under R
        A, b = np.vstack([R, alpha * np.eye(n)]), np.concatenate([-x, np.zeros(n)])
        # bvls stops after as many iterations as there are correctors unless told otherwise
        ref = scipy.optimize.lsq_linear(A, b, bounds=(lower, upper), method="bvls", tol=1e-14, max_iter=1000).x
        close(got, ref, 1e-6)
        assert np.all(got >= lower) and np.all(got <= upper)
        assert np.sum((got == lower) | (got == upper)) >= 2  # the limits matter


def test_properties_on_random_problems():
    g = np.random.default_rng(11)
    R = g.normal(size=(60, 25))
    theta0 = g.normal(size=25)
    back = respmat.correct(R, -R @ theta0)
    close(back["change"], theta0, 1e-10)
    assert back["rms_after_predicted"] < 1e-12 * back["rms_before"]

    x, w = g.normal(size=60), g.uniform(0.5, 2, size=60)
    rms = [np.linalg.norm(w * respmat.correct(R, x, singular_values=n, weights=w)["predicted"]) for n in range(26)]
    assert all(b <= a * (1 + 1e-12) for a, b in zip(rms, rms[1:]))
    norms = [np.linalg.norm(respmat.correct(R, x, tikhonov=a)["change"]) for a in (0, 0.1, 1, 10)]
    assert all(b <= a for a, b in zip(norms, norms[1:]))
    # A matrix of tiny numbers, whose singular values' squares vanish: the same answer, scaled.
    for cut in ({}, {"singular_values": 25}, {"tikhonov": 1e-301}):
        close(respmat.correct(R * 1e-300, x, **cut)["change"] * 1e-300,
              respmat.correct(R, x, **{k: v * 1e300 if k == "tikhonov" else v for k, v in cut.items()})["change"], 1e-10)

    excluded = respmat.correct(R, x, exclude_correctors=[2, 7])
    assert excluded["change"][2] == 0.0 and excluded["change"][7] == 0.0
    close(np.delete(excluded["change"], [2, 7]), numpy_correction(np.delete(R, [2, 7], axis=1), x), 1e-10)
    y = x.copy()
    y[[4, 9]] = 1e6
    a, b = respmat.correct(R, x, exclude_monitors=[4, 9]), respmat.correct(R, y, exclude_monitors=[4, 9])
    np.testing.assert_array_equal(a["change"], b["change"])
    assert a["rows"] == 58 and a["cols"] == 25


@pytest.mark.parametrize("kwargs, message", [
    ({"R": np.zeros((0, 3)), "orbit": []}, "empty"),
    ({"R": np.ones((3, 2)), "orbit": [1, 2]}, "monitors"),
    ({"R": np.array([[1, np.nan]]), "orbit": [1]}, "finite"),
    ({"R": np.ones((2, 2)), "orbit": [1, np.inf]}, "finite"),
    ({"R": np.ones((2, 2)), "orbit": [1, 2], "tikhonov": -1}, "α"),
    ({"R": np.ones((2, 2)), "orbit": [1, 2], "bounds": [[1, 0], [0, 1]]}, "lower"),
    ({"R": np.ones((2, 2)), "orbit": [1, 2], "exclude_correctors": [5]}, "index"),
    *[({"R": np.ones((2, 2)), "orbit": [1, 2], "rcond": r}, r"\[0, 1\)") for r in (1.0, 5.0, -0.1, np.nan)],
    *[({"R": np.ones((2, 2)), "orbit": [1, 2], "bounds": [[-1, 1]] * 2, **cut}, "no singular-value cut")
      for cut in ({"rcond": 0.1}, {"singular_values": 1})],
])
def test_bad_arguments_raise_value_error(kwargs, message):
    with pytest.raises(ValueError, match=message):
        respmat.correct(**kwargs)


def run_tool(*args, cwd, stdin=None):
    return subprocess.run([os.environ["RESPMAT_EXE"], "correct", *map(str, args)], cwd=cwd, input=stdin,
                          capture_output=True, text=True)


def test_tool_on_the_measured_matrix_through_every_input_form(tmp_path):
    names = np.loadtxt(ORM / "spear3_orm_x.csv", delimiter=",", dtype=str)
    R = names[1:, 1:].astype(float)
    orbit = np.loadtxt(ORM / "spear3_orbit_x.csv", delimiter=",", skiprows=1, usecols=1)
    ref = numpy_correction(R, orbit, cut=20)
    np.testing.assert_allclose(np.loadtxt(ORM / "spear3_orm_x_plain.csv", delimiter=","), R, rtol=0)
    respmat.write_bin(R.T, tmp_path / "orm_t.bin")
    # The orbit in reverse order is matched by name to the named matrix.
    reversed_orbit = "name,x\n" + "".join(f"{n},{v!r}\n" for n, v in reversed(list(zip(names[1:, 0], orbit))))
    (tmp_path / "reversed.csv").write_text(reversed_orbit)
    forms = [(ORM / "spear3_orm_x.csv", "reversed.csv", ["--orbit-column", "x"], None),
             (ORM / "spear3_orm_x.csv", "/dev/stdin", ["--orbit-column", "x"], reversed_orbit),
             (ORM / "spear3_orm_x_plain.csv", ORM / "spear3_orbit_x.csv", ["--orbit-column", "1"], None),
             (tmp_path / "orm_t.bin", ORM / "spear3_orbit_x.csv",
              ["--orbit-column", "x", "--layout", "correctors-by-monitors"], None)]
    for k, (matrix, orbit_file, extra, stdin) in enumerate(forms):
        done = run_tool("--matrix", matrix, "--orbit", orbit_file, "--singular-values", 20, "-o", f"c{k}.csv",
                        "--summary", f"s{k}.json", "--spectrum", f"sp{k}.csv", *extra, cwd=tmp_path, stdin=stdin)
        assert done.returncode == 0, done.stderr
        assert done.stdout.startswith("kept 20 of 53 singular values")
        change = np.loadtxt(tmp_path / f"c{k}.csv", delimiter=",", skiprows=1, usecols=1)
        close(change, ref, 1e-10)
        summary = json.loads((tmp_path / f"s{k}.json").read_text())
        assert summary["rows"] == 53 and summary["cols"] == 54 and summary["kept"] == 20
        spectrum = np.loadtxt(tmp_path / f"sp{k}.csv", delimiter=",")
        close(spectrum[:, 0], np.linalg.svd(R, compute_uv=False), 1e-12)
        assert spectrum[:, 1].sum() == 20
    # The optics-style table `respmat model -f tfs` writes, of the measured matrix's
    # shape: the model of its 53 phases, read back as a matrix.
    phases = np.linspace(0, 14, 53)
    np.savetxt(tmp_path / "phases.csv", phases)
    model = subprocess.run([os.environ["RESPMAT_EXE"], "model", "-p", "phases.csv", "-f", "tfs", "-o", "G.tfs",
                            "--digits", "17"], cwd=tmp_path, capture_output=True)
    assert model.returncode == 0
    np.savetxt(tmp_path / "orbit.csv", orbit, fmt="%.17g")  # no names: taken in order
    done = run_tool("--matrix", "G.tfs", "--orbit", "orbit.csv", "-o", "t.csv", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    G = respmat.model(phases)
    close(np.loadtxt(tmp_path / "t.csv", delimiter=",", skiprows=1, usecols=1), numpy_correction(G, orbit), 1e-8)


def test_tool_limits_give_the_bounded_optimum(tmp_path):
    R, x, lower, upper = bounded_problem("ring", 0)
    np.savetxt(tmp_path / "limits.csv", np.column_stack([lower, upper]), delimiter=",", fmt="%.17g")
    done = run_tool("--matrix", ORM / "spear3_orm_x.csv", "--orbit", ORM / "spear3_orbit_x.csv", "--orbit-column", "x",
                    "--limits", "limits.csv", "--tikhonov", 0.01, "-o", "c.csv", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    change = np.loadtxt(tmp_path / "c.csv", delimiter=",", skiprows=1, usecols=1)
    bounded = respmat.correct(R, x, tikhonov=0.01, bounds=np.column_stack([lower, upper]))
    close(change, bounded["change"], 1e-12)
    # No cut was made: neither says it kept some singular values.
    assert bounded["kept"] is None and bounded["condition_number"] is None
    assert done.stdout.startswith("bounded by the limits")


def test_a_badly_scaled_bounded_problem_leaves_only_data_on_standard_output(tmp_path):
    # Weights over 10²⁰⁰: L-BFGS-B meets a direction that climbs and used to say so there.
    rng = np.random.default_rng(1194)
    m, n = rng.integers(3, 30), rng.integers(2, 25)
    R = rng.normal(size=(m, n)) * 10.0 ** rng.uniform(-4, 4, size=(1, n))
    x = rng.normal(size=m) * 10.0 ** rng.uniform(-3, 3)
    limits = 10.0 ** rng.uniform(-4, 1, size=n)
    w = 10.0 ** rng.uniform(-rng.uniform(0, 150), rng.uniform(0, 150), size=m)
    for name, values in [("R.csv", R), ("x.csv", x), ("limits.csv", np.c_[-limits, limits]), ("w.csv", w)]:
        np.savetxt(tmp_path / name, values, delimiter=",", fmt="%.17g")
    done = run_tool("--matrix", "R.csv", "--orbit", "x.csv", "--limits", "limits.csv", "--weights", "w.csv", "-o", "-",
                    cwd=tmp_path)
    assert done.returncode == 0 and done.stdout.splitlines()[0] == "name,change", done.stderr
    assert all(line.count(",") == 1 and float(line.split(",")[1]) == float(line.split(",")[1])
               for line in done.stdout.splitlines()[1:]), done.stdout


@pytest.mark.parametrize("content, option, reason", [
    ("1,nan\n2,3\n", "--matrix", "not a finite number"),
    ("", "--matrix", "holds no matrix"),
    ("1\n2\n3\n", "--orbit", "has 3 values, but the matrix has 2 monitors"),
    ("1,0\n0,1\n", "--limits", "lower limit is above"),
])
def test_tool_bad_input_is_one_line_and_nothing_written(tmp_path, content, option, reason):
    files = {"--matrix": "1,2\n3,4\n", "--orbit": "1\n2\n", "--limits": "-1,1\n-1,1\n"}
    files[option] = content
    args = []
    for flag, text in files.items():
        (tmp_path / flag.strip("-")).write_text(text)
        args += [flag, flag.strip("-")]
    done = run_tool(*args, "--summary", "s.json", cwd=tmp_path)
    assert done.returncode == 1
    assert done.stderr.count("\n") == 1 and option.strip("-") in done.stderr and reason in done.stderr
    assert not (tmp_path / "correctors.csv").exists() and not (tmp_path / "s.json").exists()


def test_tool_refuses_an_endless_orbit_before_it_fills_the_memory(tmp_path):
    (tmp_path / "matrix").write_text("1,2\n3,4\n")
    done = run_tool("--matrix", "matrix", "--orbit", "/dev/zero", cwd=tmp_path)
    assert done.returncode == 1 and done.stderr.count("\n") == 1 and "NUL byte" in done.stderr



def test_tool_rf_column_gives_the_momentum_offset_and_the_frequency_change(tmp_path):
    table = DATA.parent.parent / "examples" / "optics" / "iota_v8.3_twiss.tfs"
    R, eta = respmat.optics_model(table, lattice="ring")[0], np.loadtxt(table, skiprows=48, usecols=15)
    np.savetxt(tmp_path / "orbit.csv", np.random.default_rng(31).normal(0, 1e-3, 21), fmt="%.17g")
    ring = ["--optics", table, "--lattice", "ring", "--orbit", "orbit.csv", "--singular-values", 15]
    done = run_tool(*ring, "--rf-column", "--rf-frequency", 3e7, "--summary", "s.json", cwd=tmp_path)
    assert done.returncode == 0 and "RF frequency change" in done.stdout, done.stderr
    change = np.loadtxt(tmp_path / "correctors.csv", delimiter=",", skiprows=1, usecols=1)
    assert (tmp_path / "correctors.csv").read_text().splitlines()[-1].startswith("momentum_offset,")
    close(change, numpy_correction(np.column_stack([R, eta]), np.loadtxt(tmp_path / "orbit.csv"), cut=15), 1e-10)
    summary = json.loads((tmp_path / "s.json").read_text())
    assert summary["rf_frequency_change"] == -(0.07198572185 - 1 / 294.5426936 ** 2) * change[-1] * 3e7
    for refused in (["--rf-frequency", 1e6], ["--rf-column", "--plane", "y"]):
        assert run_tool(*ring, *refused, cwd=tmp_path).returncode == 64
