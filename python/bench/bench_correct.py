"""respmat.correct against numpy.linalg.svd plus the products on the same n x n problem,
each in a process of its own: wall time and peak resident memory over the matrix's bytes.

    PYTHONPATH=build/release/python python3 python/bench/bench_correct.py [n] [threads]
"""
import os
import resource
import subprocess
import sys
import time

CHILD = r"""
import resource, sys, time
import numpy as np
n, which = int(sys.argv[1]), sys.argv[2]
g = np.random.default_rng(1)
R, x = g.normal(size=(n, n)), g.normal(size=n)
start = time.perf_counter()
if which == "numpy":
    U, s, Vt = np.linalg.svd(R, full_matrices=False)
    kept = s > n * np.finfo(float).eps * s[0]
    change = -Vt[kept].T @ ((U[:, kept].T @ x) / s[kept])
    predicted = x + R @ change
else:
    import respmat
    respmat.correct(R, x)
elapsed = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
print(elapsed, peak / R.nbytes)
"""

n = int(sys.argv[1]) if len(sys.argv) > 1 else 4000
threads = sys.argv[2] if len(sys.argv) > 2 else "0"
env = dict(os.environ, OPENBLAS_NUM_THREADS=threads if threads != "0" else "", RESPMAT_THREADS=threads)
if threads == "0":
    env.pop("OPENBLAS_NUM_THREADS")
for which in ("numpy", "respmat"):
    out = subprocess.run([sys.executable, "-c", CHILD, str(n), which], env=env, capture_output=True, text=True, check=True)
    seconds, peak = map(float, out.stdout.split())
    print(f"{which:8s} n={n}: {seconds:.2f} s, peak resident memory {peak:.2f} x the matrix's bytes")
