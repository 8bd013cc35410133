"""A thin-lens ring for the quadrupole fit's benchmark and example: FODO cells of a
focusing and a defocusing quadrupole, two monitors and two correctors each, its optics
found by propagating the Twiss functions through 2 x 2 transfer matrices, written as an
optics-style table; and its response with gradient errors from the closed form

    R = G_mc - G_mq D (I + G_qq D)^-1 G_qc,   D = diag(s dK), s = +1 (x), -1 (y).
"""

import numpy as np


def cells(count, k=0.8):
    """(kind, value, name) of each element: D drift (its length), Q quadrupole (K1L), M monitor, C corrector."""
    elements = []
    for c in range(count):
        v = 0.05 * np.sin(1.7 * c + 0.3)
        elements += [("Q", k * (1 + v), f"QF{c}"), ("D", 0.4 + v, ""), ("M", 0.0, f"BPMA{c}"), ("D", 0.3, ""),
                     ("C", 0.0, f"CORA{c}"), ("D", 0.5 - v, ""), ("Q", -k * (1 - v), f"QD{c}"), ("D", 0.35, ""),
                     ("C", 0.0, f"CORB{c}"), ("D", 0.45 + v, ""), ("M", 0.0, f"BPMB{c}"), ("D", 0.2, "")]
    return elements


def _matrix(kind, value, plane):
    if kind == "D":
        return np.array([[1.0, value], [0.0, 1.0]])
    if kind == "Q":
        return np.array([[1.0, 0.0], [(-1.0 if plane == 0 else 1.0) * value, 1.0]])
    return np.eye(2)


def optics(elements):
    """Rows (kind, name, s, k1l) with beta and phase (turns) per plane, and the tunes, of the closed ring."""
    rows, s = [], 0.0
    for kind, value, name in elements:
        if kind == "D":
            s += value
        else:
            rows.append({"kind": kind, "name": name, "s": s, "k1l": value, "beta": [0.0, 0.0], "mu": [0.0, 0.0]})
    tunes = []
    for plane in (0, 1):
        turn = np.eye(2)
        for kind, value, _ in elements:
            turn = _matrix(kind, value, plane) @ turn
        c = (turn[0, 0] + turn[1, 1]) / 2
        sn = np.copysign(np.sqrt(1 - c * c), turn[0, 1])
        beta, alpha, mu, r = turn[0, 1] / sn, (turn[0, 0] - turn[1, 1]) / (2 * sn), 0.0, 0
        for kind, value, _ in elements:
            m = _matrix(kind, value, plane)
            if kind != "D":
                rows[r]["beta"][plane], rows[r]["mu"][plane] = beta, mu / (2 * np.pi)
                r += 1
            gamma = (1 + alpha * alpha) / beta
            mu += np.arctan2(m[0, 1], m[0, 0] * beta - m[0, 1] * alpha)
            beta, alpha = (m[0, 0] ** 2 * beta - 2 * m[0, 0] * m[0, 1] * alpha + m[0, 1] ** 2 * gamma,
                           -m[0, 0] * m[1, 0] * beta + (m[0, 0] * m[1, 1] + m[0, 1] * m[1, 0]) * alpha
                           - m[0, 1] * m[1, 1] * gamma)
        tunes.append(mu / (2 * np.pi))
    return rows, tunes


def table_text(rows, tunes):
    keyword = {"Q": "QUADRUPOLE", "M": "MONITOR", "C": "KICKER"}
    lines = [f"@ Q1 %le {tunes[0]:.17g}", f"@ Q2 %le {tunes[1]:.17g}",
             "* NAME KEYWORD S BETX BETY MUX MUY K1L", "$ %s %s %le %le %le %le %le %le"]
    for r in rows:
        lines.append(f'"{r["name"]}" "{keyword[r["kind"]]}" {r["s"]:.17g} {r["beta"][0]:.17g} {r["beta"][1]:.17g} '
                     f'{r["mu"][0]:.17g} {r["mu"][1]:.17g} {(r["k1l"] if r["kind"] == "Q" else 0.0):.17g}')
    return "\n".join(lines) + "\n"


def greens(rows, tunes, plane):
    """G_mc, G_mq, G_qq, G_qc of one plane."""
    by = {k: [r for r in rows if r["kind"] == k] for k in "MCQ"}
    q = tunes[plane]

    def g(a, b):
        beta_a = np.array([r["beta"][plane] for r in by[a]])
        beta_b = np.array([r["beta"][plane] for r in by[b]])
        mu_a = np.array([r["mu"][plane] for r in by[a]])
        mu_b = np.array([r["mu"][plane] for r in by[b]])
        advance = np.abs(np.subtract.outer(mu_a, mu_b))
        return np.sqrt(np.outer(beta_a, beta_b)) * np.cos(np.pi * (2 * advance - q)) / (2 * np.sin(np.pi * q))

    return g("M", "C"), g("M", "Q"), g("Q", "Q"), g("Q", "C")


def response(g, errors, plane):
    mc, mq, qq, qc = g
    d = (1.0 if plane == 0 else -1.0) * np.asarray(errors)
    return mc - (mq * d) @ np.linalg.solve(np.eye(len(d)) + qq * d, qc)


def names(rows, kind):
    return [r["name"] for r in rows if r["kind"] == kind]


def write_measured(path, matrix, monitors, correctors):
    """A labelled CSV, a row per monitor (monitors-by-correctors)."""
    with open(path, "w") as out:
        out.write("," + ",".join(correctors) + "\n")
        for name, row in zip(monitors, matrix):
            out.write(name + "," + ",".join(f"{v:.17g}" for v in row) + "\n")


def write_example(folder, count=12, seed=31, noise=1e-5):
    """The bundled example: the table, the true errors and both planes' measurements with noise."""
    import pathlib
    folder = pathlib.Path(folder)
    rows, tunes = optics(cells(count))
    (folder / "thin_ring.tfs").write_text(table_text(rows, tunes))
    quadrupoles = names(rows, "Q")
    g = np.random.default_rng(seed)
    errors = g.normal(0.0, 0.01, len(quadrupoles))
    with open(folder / "errors.csv", "w") as out:
        out.write("name,error\n" + "".join(f"{n},{e:.17g}\n" for n, e in zip(quadrupoles, errors)))
    for plane, axis in ((0, "x"), (1, "y")):
        r = response(greens(rows, tunes, plane), errors, plane)
        write_measured(folder / f"measured_{axis}.csv", r + g.normal(0.0, noise, r.shape), names(rows, "M"),
                       names(rows, "C"))


if __name__ == "__main__":
    import sys
    write_example(sys.argv[1])
