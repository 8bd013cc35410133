"""The optics model against orbits computed from transfer matrices, and the tool's
outputs of it read back."""

import os
import subprocess

import numpy as np
import pytest

import respmat
from conftest import EXAMPLES, assert_same_bits

TOOL = os.environ.get("RESPMAT_EXE")


def drift(length):
    return np.array([[1.0, length], [0.0, 1.0]])


def thin_quad(focal_length):
    return np.array([[1.0, 0.0], [-1.0 / focal_length, 1.0]])


def fodo_elements(cells):
    """A thin-lens FODO lattice with unequal quadrupoles, so that the planes have
    different tunes: (name, keyword, length, x matrix, y matrix) in order."""
    elements = []
    for c in range(cells):
        for name, keyword, length, f in [
            (f"QF{c}", "QUADRUPOLE", 0.0, 1.0), (f"D{c}A", "DRIFT", 0.4, None), (f"BPMA{c}", "MONITOR", 0.0, None),
            (f"D{c}B", "DRIFT", 0.3, None), (f"KH{c}", "HKICKER", 0.0, None), (f"D{c}C", "DRIFT", 0.5, None),
            (f"QD{c}", "QUADRUPOLE", 0.0, -1.2), (f"D{c}D", "DRIFT", 0.6, None), (f"KV{c}", "VKICKER", 0.0, None),
            (f"D{c}E", "DRIFT", 0.2, None), (f"BPMB{c}", "HMONITOR" if c % 2 else "MONITOR", 0.0, None),
            (f"K{c}", "KICKER", 0.0, None), (f"D{c}F", "DRIFT", 0.4, None),
        ]:
            if f is None:
                mx = my = drift(length)
            else:
                mx, my = thin_quad(f), thin_quad(-f)
            elements.append((name, keyword, length, mx, my))
    return elements


def transfer(elements, plane, begin, end):
    """The matrix from just after element `begin` to just after element `end`."""
    m = np.eye(2)
    for k in range(begin + 1, end + 1):
        m = elements[k][3 + plane] @ m
    return m


def optics(elements, plane, beta0, alpha0):
    """beta and the phase advance in turns just after each element."""
    betas, mus, mu = [], [], 0.0
    beta, alpha = beta0, alpha0
    for element in elements:
        m = element[3 + plane]
        a = m[0, 0] * beta - m[0, 1] * alpha
        mu += np.arctan2(m[0, 1], a) / (2 * np.pi)
        beta_next = (a * a + m[0, 1] ** 2) / beta
        alpha = -((m[1, 0] * beta - m[1, 1] * alpha) * a + m[0, 1] * m[1, 1]) / beta
        beta = beta_next
        betas.append(beta)
        mus.append(mu)
    return np.array(betas), np.array(mus)


def periodic_optics(one_turn):
    cos_mu = (one_turn[0, 0] + one_turn[1, 1]) / 2
    assert abs(cos_mu) < 1, "the lattice must be stable"
    sin_mu = np.sign(one_turn[0, 1]) * np.sqrt(1 - cos_mu**2)
    return one_turn[0, 1] / sin_mu, (one_turn[0, 0] - one_turn[1, 1]) / (2 * sin_mu)


def write_table(path, elements, tunes=None):
    s, rows = 0.0, []
    twiss = []
    for plane in (0, 1):
        one_turn = transfer(elements, plane, -1, len(elements) - 1)
        twiss.append(optics(elements, plane, *periodic_optics(one_turn)))
    for k, (name, keyword, length, _, _) in enumerate(elements):
        s += length
        rows.append(f' "{name}" "{keyword}" {s:.17g} {twiss[0][0][k]:.17g} {twiss[0][1][k]:.17g} '
                    f'{twiss[1][0][k]:.17g} {twiss[1][1][k]:.17g}')
    header = [f"@ Q{p + 1} %le {twiss[p][1][-1]:.17g}" for p in (0, 1)] if tunes else []
    path.write_text("\n".join(header + ["* NAME KEYWORD S BETX MUX BETY MUY", "$ %s %s %le %le %le %le %le"] + rows)
                    + "\n")
    return twiss[0][1][-1], twiss[1][1][-1]


def chosen(elements, keywords):
    return [k for k, e in enumerate(elements) if e[1] in keywords]


PLANES = {0: ("x", {"MONITOR", "HMONITOR"}, {"KICKER", "HKICKER"}),
          1: ("y", {"MONITOR", "VMONITOR"}, {"KICKER", "VKICKER"})}


@pytest.mark.parametrize("plane", [0, 1])
def test_a_line_answers_as_its_transfer_matrices(tmp_path, plane):
    elements = fodo_elements(5)
    write_table(tmp_path / "line.tfs", elements)
    name, monitor_words, corrector_words = PLANES[plane]
    G, monitors, correctors = respmat.optics_model(tmp_path / "line.tfs", plane=name, scale=2.5)
    rows, cols = chosen(elements, monitor_words), chosen(elements, corrector_words)
    assert monitors == [elements[k][0] for k in rows] and correctors == [elements[k][0] for k in cols]
    expected = np.zeros((len(rows), len(cols)))
    for i, r in enumerate(rows):
        for j, c in enumerate(cols):
            if r > c:  # a kick reaches the monitors after it
                expected[i, j] = 2.5 * transfer(elements, plane, c, r)[0, 1]
    np.testing.assert_allclose(G, expected, rtol=0, atol=1e-12 * np.abs(expected).max())


@pytest.mark.parametrize("plane", [0, 1])
def test_a_ring_answers_with_its_closed_orbits(tmp_path, plane):
    elements = fodo_elements(6)
    tunes = write_table(tmp_path / "ring.tfs", elements, tunes=True)
    assert abs(tunes[0] - tunes[1]) > 0.05, "a plane mix-up must show"
    name, monitor_words, corrector_words = PLANES[plane]
    G, _, _ = respmat.optics_model(tmp_path / "ring.tfs", plane=name, lattice="ring")
    rows, cols = chosen(elements, monitor_words), chosen(elements, corrector_words)
    last = len(elements) - 1
    expected = np.zeros((len(rows), len(cols)))
    for j, c in enumerate(cols):
        one_turn = transfer(elements, plane, -1, c) @ transfer(elements, plane, c, last)
        orbit = np.linalg.solve(np.eye(2) - one_turn, [0.0, 1.0])  # just after the kick
        for i, r in enumerate(rows):
            to_monitor = transfer(elements, plane, c, r) if r > c else \
                transfer(elements, plane, -1, r) @ transfer(elements, plane, c, last)
            expected[i, j] = (to_monitor @ orbit)[0]
    np.testing.assert_allclose(G, expected, rtol=0, atol=1e-11 * np.abs(expected).max())


def test_the_bundled_ring_matches_its_formula_in_long_double():
    table = EXAMPLES / "optics" / "iota_v8.3_twiss.tfs"
    G, monitors, correctors = respmat.optics_model(table, lattice="ring")
    assert G.shape == (21, 21) and monitors == correctors
    columns = {"BETX": 3, "MUX": 5}
    data = np.loadtxt(table, skiprows=48, usecols=tuple(columns.values()), dtype=np.longdouble)
    beta, mu = data[:, 0], data[:, 1]
    q = np.longdouble("5.299999637")
    pi = np.longdouble(np.pi)
    expected = np.sqrt(np.multiply.outer(beta, beta)) / (2 * np.sin(pi * q)) * \
        np.cos(2 * pi * np.abs(np.subtract.outer(mu, mu)) - pi * q)
    np.testing.assert_allclose(G, expected.astype(np.float64), rtol=0, atol=1e-12 * float(np.abs(expected).max()))


def test_refusals_name_their_reason(tmp_path):
    table = EXAMPLES / "optics" / "iota_v8.3_twiss.tfs"
    with pytest.raises(ValueError, match="no corrector"):
        respmat.optics_model(table, correctors_match="^NOTHING$")
    with pytest.raises(ValueError, match="not a regular expression"):
        respmat.optics_model(table, monitors_match="(")
    with pytest.raises(ValueError, match="plane"):
        respmat.optics_model(table, plane="z")
    (tmp_path / "q.tfs").write_text("@ Q1 %le 5\n* NAME S BETX MUX\n$ %s %le %le %le\n \"B\" 0 1 0\n")
    with pytest.raises(ValueError, match="whole number"):
        respmat.optics_model(tmp_path / "q.tfs", lattice="ring")
    (tmp_path / "b.tfs").write_text("* NAME S BETX MUX\n$ %s %le %le %le\n \"B\" 0 -1 0\n")
    with pytest.raises(ValueError, match="negative"):
        respmat.optics_model(tmp_path / "b.tfs")
    with pytest.raises(ValueError, match="BETY"):
        respmat.optics_model(tmp_path / "b.tfs", plane="y")
    with pytest.raises(FileNotFoundError):
        respmat.optics_model(tmp_path / "missing.tfs")


def test_amplitude_and_offset_replace_the_constants():
    phases = np.cumsum(np.linspace(0.1, 0.3, 60))
    p = phases.astype(np.longdouble)
    u = np.subtract.outer(p, p) * np.longdouble(6.283185307179586) + np.longdouble(-0.25)
    expected = np.tril((np.sin(u) * np.longdouble(1.75)).astype(np.float64))
    assert_same_bits(respmat.model(phases, amplitude=1.75, offset=-0.25), expected)


@pytest.mark.skipif(TOOL is None, reason="the tool's path comes from the build")
def test_the_tools_outputs_read_back_exactly(tmp_path):
    table = str(EXAMPLES / "optics" / "iota_v8.3_twiss.tfs")
    G, monitors, correctors = respmat.optics_model(table, plane="y", lattice="ring", scale=0.3)
    run = [TOOL, "model", "--optics", table, "--plane", "y", "--lattice", "ring", "--scale", "0.3"]
    for extra in (["-f", "bin", "-o", "g.bin"], ["--digits", "17", "-o", "g.csv"], ["--labels", "-o", "l.csv"],
                  ["-f", "tfs", "--digits", "17", "-o", "g.tfs"]):
        subprocess.run(run + extra, cwd=tmp_path, check=True, capture_output=True)
    assert_same_bits(respmat.read_bin(tmp_path / "g.bin"), G)
    assert_same_bits(respmat.load_text(tmp_path / "g.csv")[:21], G)
    labelled = (tmp_path / "l.csv").read_text().splitlines()
    assert labelled[0] == "," + ",".join(correctors)
    assert [line.split(",")[0] for line in labelled[1:22]] == monitors
    for j in (0, 7, 20):
        assert_same_bits(respmat.load_phases(tmp_path / "g.tfs", column=correctors[j]), G[:, j].copy())



@pytest.mark.skipif(TOOL is None, reason="the tool's path comes from the build")
def test_a_ring_at_a_fixed_rf_frequency_is_the_tools_and_its_formula(tmp_path):
    table = EXAMPLES / "optics" / "iota_v8.3_twiss.tfs"
    G = respmat.optics_model(table, lattice="ring", scale=0.3)[0]
    R = respmat.optics_model(table, lattice="ring", scale=0.3, rf="fixed", circumference=40.0)[0]
    eta = np.loadtxt(table, skiprows=48, usecols=15)  # DX
    # The model's steps in double: eta_i scale / (alpha_c C) per row, then times eta_j.
    assert_same_bits(R, G - (eta * (0.3 / (0.07198572185 * 40.0)))[:, None] * eta[None, :])
    subprocess.run([TOOL, "model", "--optics", table, "--lattice", "ring", "--scale", "0.3", "--rf", "fixed",
                    "--circumference", "40", "-f", "bin", "-o", "r.bin"], cwd=tmp_path, check=True)
    assert_same_bits(respmat.read_bin(tmp_path / "r.bin"), R)
    assert respmat.fit(R, optics=table, lattice="ring", rf="fixed", circumference=40.0)["scale"] == \
        pytest.approx(0.3, rel=1e-12)  # the fit's model has the term too
    with pytest.raises(ValueError, match="x plane"):
        respmat.optics_model(table, lattice="ring", plane="y", rf="fixed")
