"""The field's habits, through the tool: pipes and standard streams."""

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
