"""Times the tool's analysis commands against loading their input alone, side by side in
one run: `respmat compare` and `respmat fit` (amplitude and offset) on an n x n measured
matrix, each beside `respmat.load_text` of the same file, and the calibrations fit on a
smaller one. Best wall times of the rounds, which the machine's other work disturbs least.

    PYTHONPATH=build/release/python python3 python/bench/bench_analysis.py \
        [--tool build/release/app/respmat] [--repeat N] [n] [calibrations n]
"""

import argparse
import pathlib
import subprocess
import tempfile
import time

import numpy as np

import respmat


def measurement(folder, n, seed=1):
    """Phases of n monitors and a noisy measured matrix of their model, a row per corrector."""
    g = np.random.default_rng(seed)
    phases = np.cumsum(g.uniform(0.0, 0.05, n))
    delta = np.subtract.outer(phases, phases)
    model = np.tril(0.47 * np.sin(2 * np.pi * delta + 0.17))
    np.savetxt(folder / f"phases{n}.csv", phases, fmt="%.17g")
    np.savetxt(folder / f"measured{n}.csv", (model + g.normal(0.0, 1e-3, (n, n))).T, fmt="%.17g", delimiter=",")
    return folder / f"phases{n}.csv", folder / f"measured{n}.csv"


def best(repeat, **works):
    """The best wall time of each work; the works take turns within a round."""
    times = {name: [] for name in works}
    for _ in range(repeat):
        for name, work in works.items():
            start = time.perf_counter()
            work()
            times[name].append(time.perf_counter() - start)
    return {name: min(t) for name, t in times.items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", default="build/release/app/respmat")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("sizes", type=int, nargs="*", default=[4000, 500])
    args = parser.parse_args()
    n, calibrated = (args.sizes + [500])[:2]
    tool_path = str(pathlib.Path(args.tool).resolve())  # the runs start in the scratch folder
    with tempfile.TemporaryDirectory() as scratch:
        folder = pathlib.Path(scratch)
        phases, measured = measurement(folder, n)

        def tool(*options):
            return lambda: subprocess.run([tool_path, *options, "--measured", str(measured), "-p", str(phases)],
                                          cwd=folder, check=True, capture_output=True)

        times = best(args.repeat, load=lambda: respmat.load_text(str(measured)),
                     compare=tool("compare", "-o", str(folder / "residual.csv")), fit=tool("fit"))
        print(f"| n | measured file | load_text | compare | ratio | fit | ratio |")
        print(f"|---|---|---|---|---|---|---|")
        print(f"| {n} | {measured.stat().st_size / 1e6:.0f} MB | {times['load']:.2f} s | {times['compare']:.2f} s | "
              f"{times['compare'] / times['load']:.1f}x | {times['fit']:.2f} s | {times['fit'] / times['load']:.1f}x |")

        phases, measured = measurement(folder, calibrated)
        times = best(args.repeat, calibrations=tool("fit", "--fit", "calibrations"))
        print(f"\ncalibrations fit, n = {calibrated}: {times['calibrations']:.2f} s")


if __name__ == "__main__":
    main()
