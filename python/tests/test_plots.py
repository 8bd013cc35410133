"""The tool's plots: correct --plot and compare --plot write PNG, SVG or PDF as their
file names say, beside the command's other outputs; a failed run leaves them as they
were."""

import os
import subprocess

import numpy as np
import pytest
from conftest import EXAMPLES

TOOL = os.environ.get("RESPMAT_EXE")
pytestmark = pytest.mark.skipif(TOOL is None, reason="the tool's path comes from the build")

SIGNATURES = {".png": b"\x89PNG\r\n\x1a\n", ".SVG": b"<?xml", ".pdf": b"%PDF"}
IOTA = str(EXAMPLES / "optics" / "iota_v8.3_twiss.tfs")


def run(*args, cwd):
    return subprocess.run([TOOL, *map(str, args)], cwd=cwd, capture_output=True)


def test_correct_and_compare_draw_their_plots_in_the_format_the_name_asks_for(tmp_path):
    np.savetxt(tmp_path / "orbit.csv", np.sin(np.arange(21.0)))
    np.savetxt(tmp_path / "measured.csv", np.eye(21) * 0.3, delimiter=",")
    for suffix, signature in SIGNATURES.items():
        done = run("correct", "--optics", IOTA, "--orbit", "orbit.csv", "--plot", "orbit" + suffix,
                   "--spectrum-plot", "spectrum" + suffix, cwd=tmp_path)
        assert done.returncode == 0, done.stderr
        assert (tmp_path / ("orbit" + suffix)).read_bytes().startswith(signature)
        assert (tmp_path / ("spectrum" + suffix)).read_bytes().startswith(signature)
        done = run("compare", "--optics", IOTA, "--measured", "measured.csv", "--layout", "monitors-by-correctors",
                   "--plot", "rms" + suffix, "--heatmap", "residual" + suffix, "--units", "mm/mrad", cwd=tmp_path)
        assert done.returncode == 0, done.stderr
        assert (tmp_path / ("rms" + suffix)).read_bytes().startswith(signature)
    # A run that fails changes no plot.
    before = (tmp_path / "orbit.png").read_bytes()
    (tmp_path / "short.csv").write_text("1\n2\n")
    assert run("correct", "--optics", IOTA, "--orbit", "short.csv", "--plot", "orbit.png", cwd=tmp_path).returncode == 1
    assert (tmp_path / "orbit.png").read_bytes() == before
