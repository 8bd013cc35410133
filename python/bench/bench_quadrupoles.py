"""Times the quadrupole fit of a thin-lens ring, both planes, side by side in one run:
`respmat fit --fit quadrupoles` (the tool), respmat.fit(kind="quadrupoles") (the
module) and scipy.optimize.least_squares with its finite-difference Jacobian on the
same closed form, from the same start; then the tool alone on a larger ring, with its
peak memory. Best wall times of the rounds.

    PYTHONPATH=build/release/python python3 python/bench/bench_quadrupoles.py \\
        [--tool build/release/app/respmat] [--repeat N] [--cells 100] [--large-cells 250]

A ring of C cells has 2C quadrupoles, 2C monitors and 2C correctors.
"""

import argparse
import os
import pathlib
import subprocess
import tempfile
import time

import numpy as np
import scipy.optimize

import respmat
import thin_ring


def problem(folder, cells, seed=7):
    """The table and both planes' measurements of a ring with errors of rms 0.002 and noise 1e-5."""
    rows, tunes = thin_ring.optics(thin_ring.cells(cells))
    (folder / "ring.tfs").write_text(thin_ring.table_text(rows, tunes))
    g = np.random.default_rng(seed)
    errors = g.normal(0.0, 0.002, len(thin_ring.names(rows, "Q")))
    greens = [thin_ring.greens(rows, tunes, plane) for plane in (0, 1)]
    data = []
    for plane, axis in ((0, "x"), (1, "y")):
        r = thin_ring.response(greens[plane], errors, plane)
        data.append(r + g.normal(0.0, 1e-5, r.shape))
        thin_ring.write_measured(folder / f"{axis}.csv", data[-1], thin_ring.names(rows, "M"),
                                 thin_ring.names(rows, "C"))
    return greens, data, errors


def tool_run(tool, folder):
    """The wall time and peak memory (MiB) of one run of the tool."""
    args = [tool, "fit", "--fit", "quadrupoles", "--optics", "ring.tfs", "--lattice", "ring", "--layout",
            "monitors-by-correctors", "--measured", "x.csv", "--plane", "both", "--measured-y", "y.csv",
            "--parameters", "parameters.csv"]
    start = time.perf_counter()
    child = subprocess.Popen(args, cwd=folder, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.perf_counter() - start
    if status != 0:
        raise SystemExit(f"the tool failed with status {status}")
    return elapsed, usage.ru_maxrss / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", default="build/release/app/respmat")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--cells", type=int, default=100)
    parser.add_argument("--large-cells", type=int, default=250)
    options = parser.parse_args()
    tool = str(pathlib.Path(options.tool).resolve())
    with tempfile.TemporaryDirectory() as scratch:
        folder = pathlib.Path(scratch)
        greens, data, errors = problem(folder, options.cells)
        n = len(errors)

        def residuals(dk):
            return np.concatenate([(thin_ring.response(g, dk, p) - d).ravel() for p, (g, d) in enumerate(zip(greens, data))])

        times = {"tool": [], "module": [], "scipy": []}
        memory = 0.0
        for _ in range(options.repeat):
            elapsed, peak = tool_run(tool, folder)
            times["tool"].append(elapsed)
            memory = max(memory, peak)
            start = time.perf_counter()
            fitted = respmat.fit(data[0], optics=folder / "ring.tfs", kind="quadrupoles", lattice="ring",
                                 plane="both", measured_y=data[1])
            times["module"].append(time.perf_counter() - start)
        start = time.perf_counter()
        reference = scipy.optimize.least_squares(residuals, np.zeros(n), jac="2-point", method="trf")
        times["scipy"].append(time.perf_counter() - start)
        best = {name: min(t) for name, t in times.items()}
        print(f"ring of {n} quadrupoles, {n} monitors, {n} correctors, both planes ({2 * n * n} entries)")
        print(f"  respmat fit (tool)      {best['tool']:8.2f} s   peak {memory:7.0f} MiB")
        print(f"  respmat.fit (module)    {best['module']:8.2f} s")
        print(f"  scipy least_squares     {best['scipy']:8.2f} s   ({best['scipy'] / best['tool']:.0f}x the tool)")
        print(f"  largest difference of the errors {np.max(np.abs(fitted['quadrupole_gradient'] - reference.x)):.2g},"
              f" rms of fitted - true {np.sqrt(np.mean((fitted['quadrupole_gradient'] - errors) ** 2)):.2g}")

    if options.large_cells:
        with tempfile.TemporaryDirectory() as scratch:
            folder = pathlib.Path(scratch)
            problem(folder, options.large_cells)
            elapsed, peak = tool_run(tool, folder)
            n = 2 * options.large_cells
            print(f"ring of {n} quadrupoles, {n} monitors, {n} correctors, both planes: respmat fit (tool) "
                  f"{elapsed:.2f} s, peak {peak:.0f} MiB")


if __name__ == "__main__":
    main()
