"""Ctrl-C during long work: the bounded correction stops within a moment, in the tool
(which then ends by the signal, writing nothing) and in the module (KeyboardInterrupt)."""

import os
import signal
import subprocess
import sys
import time

import pytest

# A bounded problem of some seconds: ill-conditioned, most correctors at a limit.
PROBLEM = """
import numpy as np, respmat
g = np.random.default_rng(3)
U, _, Vt = respmat.svd(g.normal(size=(2000, 1200)))
R = U * np.logspace(0, -8, 1200) @ Vt
x, bounds = -R @ g.uniform(-1.5, 1.5, 1200), np.c_[-g.uniform(0.05, 1, 1200), g.uniform(0.05, 1, 1200)]
"""


def interrupted_after(args, ready, wait, **kwargs):
    """Starts args, sends SIGINT once `ready` (a path) exists and `wait` seconds have
    passed; returns the process and the seconds it took to end after the signal."""
    process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kwargs)
    while not os.path.exists(ready):
        assert process.poll() is None, process.stderr.read()
        time.sleep(0.05)
    time.sleep(wait)
    process.send_signal(signal.SIGINT)
    start = time.monotonic()
    process.wait(timeout=60)
    return process, time.monotonic() - start


@pytest.mark.skipif(os.environ.get("RESPMAT_EXE") is None, reason="the tool's path comes from the build")
def test_ctrl_c_stops_a_bounded_correction_at_once(tmp_path):
    prepare = PROBLEM + f"""
respmat.write_bin(R, "{tmp_path}/R.bin")
np.savetxt("{tmp_path}/x.csv", x); np.savetxt("{tmp_path}/limits.csv", bounds, delimiter=",")
open("{tmp_path}/ready", "w").close()
respmat.correct(R, x, bounds=bounds)
"""
    module, seconds = interrupted_after([sys.executable, "-c", prepare], tmp_path / "ready", 4.0)  # by then past the SVD
    assert module.returncode != 0 and "KeyboardInterrupt" in module.stderr.read() and seconds < 2
    run = tmp_path / "run"
    run.mkdir()
    tool, seconds = interrupted_after([os.environ["RESPMAT_EXE"], "correct", "--matrix", "../R.bin", "--orbit",
                                       "../x.csv", "--limits", "../limits.csv", "--summary", "s.json"],
                                      tmp_path / "ready", 4.0, cwd=run)
    assert tool.returncode == -signal.SIGINT and seconds < 2 and not any(run.iterdir())
