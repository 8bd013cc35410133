"""The field's habits, through the tool: pipes and standard streams."""

import io
import json
import os
import subprocess

import numpy as np
import pytest

TOOL = os.environ.get("RESPMAT_EXE")
pytestmark = pytest.mark.skipif(TOOL is None, reason="the tool's path comes from the build")


@pytest.fixture
def inputs(tmp_path):
    rng = np.random.default_rng(7)
    np.savetxt(tmp_path / "orm.csv", rng.normal(size=(400, 300)), fmt="%.17g", delimiter=",")
    np.savetxt(tmp_path / "orbit.csv", rng.normal(size=400), fmt="%.17g")
    np.savetxt(tmp_path / "phases.csv", np.cumsum(rng.uniform(0.05, 0.3, 2000)), fmt="%.17g")
    return tmp_path


def test_with_data_on_standard_output_every_status_line_goes_to_standard_error(inputs):
    for args in (["correct", "--matrix", "orm.csv", "--orbit", "orbit.csv", "-o", "-"],
                 ["-p", "phases.csv", "-m", "5", "-o", "-"]):
        result = subprocess.run([TOOL, *args], cwd=inputs, capture_output=True, text=True)
        assert result.returncode == 0, result.stderr
        assert result.stdout.count("\n") in (301, 6)  # the data alone: a header and a row per corrector, or the model
        assert result.stderr.startswith(("kept ", "m=5")) and result.stderr.count("\n") == 1


def test_a_closed_pipe_ends_the_run_quietly_and_leaves_no_file(inputs):
    # Both write more than a pipe holds, so the tool meets the closed pipe.
    np.savetxt(inputs / "wide.csv", np.random.default_rng(8).normal(size=(400, 4000)), fmt="%.3g", delimiter=",")
    for args, status_line in ((["-p", "phases.csv", "-m", "2000", "-o", "-", "--heatmap", "h.png"], "m=2000\n"),
                              (["correct", "--matrix", "wide.csv", "--orbit", "orbit.csv", "-o", "-", "--summary",
                                "s.json"], "")):
        tool = subprocess.Popen([TOOL, *args], cwd=inputs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        tool.stdout.read(10)
        tool.stdout.close()  # as `head -c 10` does
        assert tool.wait(timeout=60) == 141
        assert tool.stderr.read().decode() == status_line
        assert not (inputs / "h.png").exists() and not (inputs / "s.json").exists()
        assert not [p for p in os.listdir(inputs) if ".tmp." in p]


def test_frames_are_aligned_by_name_and_come_back_named(rng):
    pandas = pytest.importorskip("pandas")
    import respmat

    monitors, correctors = [f"BPM{k}" for k in range(6)], [f"HC{k}" for k in range(4)]
    R = rng.normal(size=(6, 4))
    frame = pandas.DataFrame(R, index=monitors, columns=correctors)
    shuffled = frame.iloc[::-1, [2, 0, 3, 1]]
    orbit = pandas.Series(rng.normal(size=6), index=monitors)

    compared = respmat.compare(frame * 2, shuffled, step=2.0)
    assert list(compared["residual"].index) == monitors and list(compared["residual"].columns) == correctors
    np.testing.assert_array_equal(compared["residual"].to_numpy(), respmat._respmat.compare(R * 2 / 2.0, R)["residual"])
    assert list(compared["per_corrector_rms"].index) == correctors

    corrected = respmat.correct(frame, orbit.iloc[::-1], exclude_monitors=["BPM2"], exclude_correctors=["HC1", 3])
    plain = respmat._respmat.correct(R, orbit.to_numpy(), exclude_monitors=[2], exclude_correctors=[1, 3])
    np.testing.assert_array_equal(corrected["change"].loc[correctors].to_numpy(), plain["change"])
    assert corrected["predicted"].index.tolist() == monitors

    with pytest.raises(ValueError, match="BPM9"):
        respmat.compare(frame, frame.rename(index={"BPM5": "BPM9"}))
    with pytest.raises(ValueError, match="HC7"):
        respmat.correct(frame, orbit, exclude_correctors=["HC7"])
    assert isinstance(respmat.correct(R, orbit.to_numpy())["change"], np.ndarray)  # plain numpy stays plain


def tool(*args, cwd, stdin=None):
    return subprocess.run([TOOL, *map(str, args)], cwd=cwd, input=stdin, capture_output=True, text=True)


def test_dash_is_standard_input_for_every_input_once_per_run(inputs):
    (inputs / "m.csv").write_text("1,0.5,0.25\n")
    (inputs / "limits.csv").write_text("-1,1\n" * 300)
    np.savetxt(inputs / "sigma.csv", np.full(400, 0.5))
    np.savetxt(inputs / "sigmas.csv", np.full((400, 300), 0.5), delimiter=",")
    correct = ["correct", "--matrix", "orm.csv", "--orbit", "orbit.csv", "--orbit-sigma", "sigma.csv",
               "--limits", "limits.csv", "--tikhonov", "1"]
    runs = [(["--phases", "phases.csv", "--response", "m.csv"], ["--phases", "--response"]),
            (["compare", "--measured", "orm.csv", "--sigma", "sigmas.csv", "-p", "phases.csv", "--layout",
              "monitors-by-correctors", "--corrector-monitors", ",".join(map(str, range(300)))],
             ["--measured", "--sigma"]), (correct, correct[1:9:2])]
    for args, options in runs:
        expected = tool(*args, "-o", "-", cwd=inputs)
        assert expected.returncode == 0 and expected.stdout.count("\n") > 1, expected.stderr
        for option in options:
            given = args[:args.index(option) + 1] + ["-"] + args[args.index(option) + 2:]
            piped = tool(*given, "-o", "-", cwd=inputs, stdin=(inputs / args[args.index(option) + 1]).read_text())
            assert (piped.returncode, piped.stdout) == (expected.returncode, expected.stdout), option
        twice = list(args)
        twice[twice.index(options[0]) + 1] = twice[twice.index(options[-1]) + 1] = "-"
        refused = tool(*twice, cwd=inputs, stdin="")
        assert refused.returncode == 64 and f"{options[0]}, {options[-1]}: both read standard input" in refused.stderr
    with open(inputs / "orbit.csv") as orbit:  # standard input redirected from the output's file
        over = subprocess.run([TOOL, *correct[:4], "-", "-o", "orbit.csv"], cwd=inputs, stdin=orbit,
                              capture_output=True, text=True)
    assert over.returncode == 64 and "orbit.csv: is also an input" in over.stderr


def test_names_are_taken_wherever_the_files_have_them_and_matched_in_any_order(tmp_path, rng):
    pandas = pytest.importorskip("pandas")
    import respmat

    monitors, correctors = [f"BPM{k}" for k in range(6)], [f"HC{k}" for k in range(4)]
    R = pandas.DataFrame(rng.normal(size=(6, 4)), index=pandas.Index(monitors, name="monitor"), columns=correctors)
    orbit = pandas.Series(rng.normal(size=6), index=monitors)
    sigma = pandas.Series(rng.uniform(1, 2, 6), index=monitors)
    bounds = pandas.DataFrame({"lower": [-0.1], "upper": [0.1]}, index=["HC2"])
    R.to_csv(tmp_path / "orm.csv")  # the index's name in the header's first cell
    R.T.to_csv(tmp_path / "measured.csv")
    pandas.DataFrame({"id": range(6), "x": orbit, "label": monitors}).iloc[::-1].to_csv(tmp_path / "orbit.csv",
                                                                                        index=False)
    pandas.DataFrame({"sigma": sigma, "NAME": monitors}).iloc[::-1].to_csv(tmp_path / "s.csv", index=False)
    bounds.to_csv(tmp_path / "limits.csv")
    args = ["correct", "--matrix", "orm.csv", "--orbit", "orbit.csv", "--orbit-column", "x", "--orbit-names", "label",
            "--limits", "limits.csv", "--orbit-sigma", "s.csv", "--orbit-sigma-column", "sigma", "-o", "-"]
    done = tool(*args, cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    expected = respmat.correct(R, orbit.iloc[::-1], orbit_sigma=sigma, bounds=bounds)["change"]
    got = pandas.read_csv(io.StringIO(done.stdout), index_col=0)["change"]
    np.testing.assert_allclose(got.loc[correctors], expected.loc[correctors], rtol=1e-12)
    assert abs(expected["HC2"]) <= 0.1 and max(abs(expected.drop("HC2"))) > 0.1  # the others are unbounded
    weighted = respmat.correct(R, orbit, weights=1 / sigma, bounds=bounds)["change"]
    np.testing.assert_array_equal(weighted.to_numpy(), expected.to_numpy())
    orbit.iloc[::-1].rename_axis("name").to_csv(tmp_path / "series.csv", header=["x"])  # name,x: values after names
    as_series = tool(*args[:4], "series.csv", *args[9:], cwd=tmp_path)
    assert as_series.returncode == 0 and as_series.stdout == done.stdout, as_series.stderr

    (tmp_path / "twice.csv").write_text("HC1,0,1\nHC1,0,2\n")
    (tmp_path / "unknown.csv").write_text("HC1,0,1\nHC9,0,2\n")
    for extra, status, words in (
            (["--limits", "twice.csv"], 1, 'twice.csv: names corrector "HC1" twice'),
            (["--limits", "unknown.csv"], 1, 'unknown.csv: names correctors the matrix does not have: "HC9"'),
            (["--orbit-column", "y"], 64, 'orbit.csv: has no column named "y"'),
            (["--orbit-names", "tag"], 64, 'orbit.csv: has no column named "tag"'),
            (["--weights", "s.csv"], 64, "--weights, --orbit-sigma: both weigh the monitors")):
        refused = tool(*args, *extra, cwd=tmp_path)
        assert refused.returncode == status and words in refused.stderr, refused.stderr

    R.rename(index={"BPM1": "BPM0"}).to_csv(tmp_path / "twice_named.csv")
    np.savetxt(tmp_path / "plain.csv", orbit.to_numpy())  # no names: taken in order
    excluded = tool(*args[:2], "twice_named.csv", "--orbit", "plain.csv", "--exclude-monitors", "BPM0", cwd=tmp_path)
    assert excluded.returncode == 64 and '"BPM0" names monitors 0 and 1' in excluded.stderr, excluded.stderr

    np.savetxt(tmp_path / "phases.csv", np.linspace(0, 1.5, 6))
    compared = tool("compare", "--measured", "measured.csv", "-p", "phases.csv", "--corrector-monitors", "0,1,3,5",
                    "--summary", "summary.json", "--outlier-k", "0.5", cwd=tmp_path)
    summary = json.loads((tmp_path / "summary.json").read_text())
    assert compared.returncode == 0
    assert summary["monitor_names"] == monitors and summary["corrector_names"] == correctors
    assert summary["outliers"] and all(monitors[o["monitor"]] == o["monitor_name"] for o in summary["outliers"])
