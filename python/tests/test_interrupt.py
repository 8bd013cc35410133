"""Ctrl-C during long work: the bounded correction stops within a moment, in the module
(KeyboardInterrupt) and in the tool (which ends by the signal, writing nothing)."""

import os
import signal
import subprocess
import sys
import time

import pytest

# Bounded corrections of a few seconds each (ill-conditioned, most correctors at a
# limit), again and again: a signal lands in the bounded solver most of the time, and
# otherwise in the SVD before it, short, which no signal stops. The bound on the time
# after the signal is loose, for a machine busy with other tests: what it catches is a
# signal ignored until the work is done, seconds to tens of seconds.
PROBLEM = """
import numpy as np, respmat
g = np.random.default_rng(3)
U, _, Vt = respmat.svd(g.normal(size=(1600, 800)))
R = U * np.logspace(0, -8, 800) @ Vt
x, bounds = -R @ g.uniform(-1.5, 1.5, 800), np.c_[-g.uniform(0.05, 1, 800), g.uniform(0.05, 1, 800)]
respmat.write_bin(R, "{0}/R.bin")
np.savetxt("{0}/x.csv", x); np.savetxt("{0}/limits.csv", bounds, delimiter=",")
open("{0}/ready", "w").close()
while True:
    respmat.correct(R, x, bounds=bounds)
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
    module, seconds = interrupted_after([sys.executable, "-c", PROBLEM.format(tmp_path)], tmp_path / "ready", 0.7)
    assert module.returncode != 0 and "KeyboardInterrupt" in module.stderr.read() and seconds < 5
    run = tmp_path / "run"
    run.mkdir()
    tool, seconds = interrupted_after([os.environ["RESPMAT_EXE"], "correct", "--matrix", "../R.bin", "--orbit",
                                       "../x.csv", "--limits", "../limits.csv", "--summary", "s.json"],
                                      tmp_path / "ready", 0.3, cwd=run)
    assert tool.returncode == -signal.SIGINT and seconds < 5 and not any(run.iterdir())
