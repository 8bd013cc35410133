"""Times the respmat module against the numpy and pandas ways of doing the same work,
side by side in one run, and checks that each pair gives the same values.

    PYTHONPATH=build/bench/python python3 python/bench/bench_respmat.py [--repeat N] [--formats F ...] [m ...]

For each m it writes a response file of m x m values of a few tenths (printed with 16
significant digits, like the end-to-end benchmark's) and a table of m rising phases
into a scratch folder, then prints one Markdown table row per m with medians in
seconds. --response and --phases time given files instead of generated ones.

A second table loads the same kind of values written by np.savetxt in each of the
printf formats of --formats (by default the usual ones, from numpy's own '%.18e' down to
'%.6f'), load_text against np.loadtxt, with the rate at which load_text reads the file:
best times of the rounds.
"""

import argparse
import os
import pathlib
import statistics
import tempfile
import time

import numpy as np

import respmat

# np.savetxt's default, the shortest texts that give every double back, the module's
# own, and two shorter ones.
SAVETXT_FORMATS = ["%.18e", "%.17g", "%.16g", "%.10e", "%.6f"]

try:
    import pandas
except ImportError:  # the pandas column is left out
    pandas = None


def race(repeat, summary=statistics.median, **works):
    """The wall times of each work over `repeat` rounds, summed up by `summary`, and each
    one's last result. The works take turns within a round, so a change in the
    machine's load falls on all of them alike."""
    times = {name: [] for name in works}
    results = {}
    for _ in range(repeat):
        for name, work in works.items():
            start = time.perf_counter()
            results[name] = work()
            times[name].append(time.perf_counter() - start)
    return {name: summary(t) for name, t in times.items()}, results


def numpy_model(phases):
    p = phases.astype(np.longdouble)
    u = np.subtract.outer(p, p) * np.longdouble(6.283185307179586) + np.longdouble(0.1696)
    return np.tril((np.sin(u) * np.longdouble(0.47247222310000003)).astype(np.float64))


def same_bits(a, b):
    return a.shape == b.shape and bool((np.ascontiguousarray(a).view(np.uint64) == b.view(np.uint64)).all())


def generate(folder, m):
    rng = np.random.default_rng(m)
    response = folder / "reponsematx_H0.1A.csv"
    respmat.save_csv(rng.uniform(-0.5, 0.5, (m, m)), response)
    os.truncate(response, os.path.getsize(response) - 1)  # no empty last line, as measured files
    phases = np.cumsum(np.concatenate([[0.0], rng.uniform(0.15, 0.3, m - 1)]))
    phase_table = folder / "realmachinephases.csv"
    phase_table.write_text("".join("%.10f\n" % p for p in phases))
    return response, phase_table


def measure(response, phase_table, repeat):
    row = {"size": "%.0f MB" % (os.path.getsize(response) / 1e6)}
    loaders = {"load": lambda: respmat.load_text(response),
               "loadtxt": lambda: np.loadtxt(response, delimiter=",")}
    if pandas is not None:
        loaders["read_csv"] = lambda: pandas.read_csv(response, header=None, engine="c").to_numpy()
    times, loaded = race(repeat, **loaders)
    row.update(times)
    row["load same"] = same_bits(loaded["load"], loaded["loadtxt"])
    if pandas is not None:
        row["pandas differ"] = int(np.count_nonzero(loaded["read_csv"] != loaded["loadtxt"]))

    phases = respmat.load_phases(phase_table)[: loaded["load"].shape[1]]
    times, models = race(repeat, model=lambda: respmat.model(phases), numpy_model=lambda: numpy_model(phases))
    row.update(times)
    row["model same"] = same_bits(models["model"], models["numpy_model"])

    with tempfile.TemporaryDirectory() as scratch:
        out = pathlib.Path(scratch)
        model = models["model"]
        times, _ = race(repeat, save=lambda: respmat.save_csv(model, out / "a.csv"),
                        savetxt=lambda: np.savetxt(out / "b.csv", model, fmt="%.16g", delimiter=","))
        row.update(times)
        # savetxt ends without the writer's final empty line.
        row["save same"] = (out / "a.csv").read_bytes() == (out / "b.csv").read_bytes() + b"\n"
    return row


def measure_format(folder, m, fmt, repeat):
    """load_text against np.loadtxt on m x m values written by np.savetxt in `fmt`: the
    best times, which the machine's other work disturbs least."""
    response = folder / "savetxt.csv"
    np.savetxt(response, np.random.default_rng(m).uniform(-0.5, 0.5, (m, m)), fmt=fmt, delimiter=",")
    times, loaded = race(repeat, min, load=lambda: respmat.load_text(response),
                         loadtxt=lambda: np.loadtxt(response, delimiter=","))
    size = os.path.getsize(response)
    cells = [str(m), "`%s`" % fmt, "%.0f MB" % (size / 1e6),
             "%.3f s" % times["load"], "%.0f MB/s" % (size / 1e6 / times["load"]),
             "%.2f s" % times["loadtxt"], "%.1f×" % (times["loadtxt"] / times["load"]),
             "yes" if same_bits(loaded["load"], loaded["loadtxt"]) else "NO"]
    return "| " + " | ".join(cells) + " |"


def print_row(m, r):
    def ratio(slow, fast):
        return "%.1f×" % (r[slow] / r[fast])

    cells = [str(m), r["size"],
             "%.3f s" % r["load"], "%.2f s" % r["loadtxt"], ratio("loadtxt", "load")]
    if "read_csv" in r:
        cells += ["%.2f s" % r["read_csv"], ratio("read_csv", "load")]
    cells += ["yes" if r["load same"] else "NO",
              "%.3f s" % r["model"], "%.2f s" % r["numpy_model"], ratio("numpy_model", "model"),
              "yes" if r["model same"] else "NO",
              "%.3f s" % r["save"], "%.2f s" % r["savetxt"], ratio("savetxt", "save"),
              "yes" if r["save same"] else "NO"]
    print("| " + " | ".join(cells) + " |", flush=True)
    if r.get("pandas differ"):
        print(f"(m = {m}: pandas.read_csv gives {r['pandas differ']} values that differ from loadtxt's)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("sizes", nargs="*", type=int, default=[4000])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--response", type=pathlib.Path)
    parser.add_argument("--phases", type=pathlib.Path)
    parser.add_argument("--formats", nargs="*", default=SAVETXT_FORMATS,
                        help="np.savetxt formats to load (none: leave the table out)")
    args = parser.parse_args()

    header = ["m", "response file", "load_text", "np.loadtxt", "ratio"]
    if pandas is not None:
        header += ["pd.read_csv", "ratio"]
    header += ["same values", "model", "numpy long double", "ratio", "same values",
               "save_csv", "np.savetxt", "ratio", "same bytes"]
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header), flush=True)
    if args.response and args.phases:
        with open(args.response) as f:
            m = f.readline().count(",") + 1
        print_row(m, measure(args.response, args.phases, args.repeat))
        return
    for m in args.sizes:
        with tempfile.TemporaryDirectory() as scratch:
            response, phase_table = generate(pathlib.Path(scratch), m)
            print_row(m, measure(response, phase_table, args.repeat))
    if not args.formats:
        return
    header = ["m", "np.savetxt format", "file", "load_text", "rate", "np.loadtxt", "ratio", "same values"]
    print("\n| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header), flush=True)
    for m in args.sizes:
        for fmt in args.formats:
            with tempfile.TemporaryDirectory() as scratch:
                print(measure_format(pathlib.Path(scratch), m, fmt, args.repeat), flush=True)


if __name__ == "__main__":
    main()
