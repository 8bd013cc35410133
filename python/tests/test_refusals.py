"""Every refusal of the tool, walked once: its exit status, its one line on standard
error in the form "respmat [COMMAND]: SUBJECT: reason", and nothing written."""

import os
import re
import subprocess

import numpy as np
import pytest
import respmat
from conftest import EXAMPLES

TOOL = os.environ.get("RESPMAT_EXE")
pytestmark = pytest.mark.skipif(TOOL is None, reason="the tool's path comes from the build")

USAGE, INPUT = 64, 1
IOTA = "../iota.tfs"


@pytest.fixture
def folder(tmp_path):
    """A run folder beside the inputs: phases of 6 monitors, a 6 x 4 measurement with a
    corrector at monitors 0, 1, 3 and 5 (a row per corrector), an orbit, the IOTA table."""
    phases = np.cumsum(np.linspace(0.1, 0.3, 6))
    np.savetxt(tmp_path / "phases.csv", phases, fmt="%.17g")
    model = np.tril(np.sin(2 * np.pi * np.subtract.outer(phases, phases) + 0.2))[:, [0, 1, 3, 5]]
    np.savetxt(tmp_path / "measured.csv", model.T, fmt="%.17g", delimiter=",")
    np.savetxt(tmp_path / "orm.csv", model, fmt="%.17g", delimiter=",")
    # Monitor 4 is named "2": the item 2 would be the index of one monitor and the name of another.
    names = ["A", "B", "C", "D", "2", "F"]
    (tmp_path / "named.csv").write_text(",c0,c1,c2,c3\n" + "".join(
        name + "," + ",".join(f"{v:.17g}" for v in row) + "\n" for name, row in zip(names, model)))
    (tmp_path / "orbit.csv").write_text("".join(f"{v}\n" for v in np.linspace(-1, 1, 6)))
    (tmp_path / "limits.csv").write_text("-1,1\n" * 4)
    (tmp_path / "iota.tfs").write_bytes((EXAMPLES / "optics" / "iota_v8.3_twiss.tfs").read_bytes())
    (tmp_path / "huge.bin").write_bytes(np.array([100000, 100000], dtype="<i4").tobytes())
    (tmp_path / "orm.tfs").write_text('@ LAYOUT %s "monitors-by-correctors"\n* c0 c1 c2 c3\n$ %le %le %le %le\n' +
                                      "".join(" ".join(f"{v:.17g}" for v in row) + "\n" for row in model))
    run = tmp_path / "run"
    run.mkdir()
    return run


PHASE_MODEL = ["-p", "../phases.csv"]
MEASURED = ["--measured", "../measured.csv", "-p", "../phases.csv", "--corrector-monitors", "0,1,3,5"]
CORRECT = ["correct", "--matrix", "../orm.csv", "--orbit", "../orbit.csv"]

# (arguments, exit status, the subject the line names), grouped by rule.
REFUSALS = [
    # A value that is not what the option takes, or a count that wraps.
    (["--digits", "0"], USAGE, "--digits '0'"),
    (["-m", "4294967296", *PHASE_MODEL], USAGE, "--monitors '4294967296'"),
    (["-m", "-1", *PHASE_MODEL], USAGE, "--monitors '-1'"),
    (["--bogus"], USAGE, "--bogus"),
    (["model", "extra"], USAGE, "extra"),
    (["fit", "--parameters"], USAGE, "--parameters"),
    (["correct", "--orbit", "../orbit.csv", "--exclude-monitors", ""], USAGE, "--exclude-monitors ''"),
    ([*CORRECT, "--plot", "orbit.jpg"], USAGE, "--plot 'orbit.jpg'"),
    (["compare", *MEASURED, "--plot", "-"], USAGE, "--plot '-'"),
    # An index or name a file lacks, or one that is both.
    (["compare", *MEASURED[:-1], "0,1,3,4294967296"], USAGE, "--corrector-monitors"),
    (["compare", *MEASURED[:-1], "0,1,3,2147483648"], USAGE, "--corrector-monitors"),
    (["compare", *MEASURED[:-1], "0,1,3,x"], USAGE, "--corrector-monitors"),
    ([*CORRECT, "--exclude-correctors", "9"], USAGE, "--exclude-correctors"),
    ([*CORRECT, "--exclude-monitors", "BPM"], USAGE, "--exclude-monitors"),
    (["correct", "--matrix", "../named.csv", "--orbit", "../orbit.csv", "--exclude-monitors", "2"], USAGE,
     "--exclude-monitors"),
    (["-p", "../phases.csv", "--column", "MUX"], USAGE, "../phases.csv"),
    ([*CORRECT, "--orbit-column", "x"], USAGE, "../orbit.csv"),
    # Options that contradict each other or have no effect together.
    (["-r", "../measured.csv", "-m", "3", *PHASE_MODEL], USAGE, "--response, --monitors"),
    (["--optics", IOTA, "--correctors-match", "IBPM", "--correctors-at-monitors"], USAGE, "--correctors-match"),
    (["compare", *MEASURED, "--optics", IOTA], USAGE, "--phases"),
    (["fit", *MEASURED, "--outlier-k", "3"], USAGE, "--outlier-k"),
    (["fit", *MEASURED, "--digits", "5"], USAGE, "--digits"),
    (["fit", *MEASURED, "--heatmap", "h.png"], USAGE, "--heatmap"),
    (["fit", *MEASURED, "--plot", "h.png"], USAGE, "--plot"),
    ([*PHASE_MODEL, "--units", "mm/mrad"], USAGE, "--units"),
    (["compare", *MEASURED, "--units", "mm/mrad"], USAGE, "--units"),
    (["-f", "bin", "--threads", "2", *PHASE_MODEL], USAGE, "--threads"),
    ([*CORRECT, "--limits", "../limits.csv", "--rcond", "0.1"], USAGE, "--rcond"),
    *[([*CORRECT, "--rcond", r], USAGE, f"--rcond '{r}'") for r in ("1", "-0.1", "nan")],
    ([*CORRECT, "--limits", "../limits.csv", "--singular-values", "2"], USAGE, "--singular-values"),
    (["correct", "--orbit", "../orbit.csv", *PHASE_MODEL, "--layout", "monitors-by-correctors"], USAGE, "--layout"),
    ([*CORRECT, "--amplitude", "2"], USAGE, "--amplitude"),
    (["correct", "--matrix", "-", "--orbit", "-"], USAGE, "--matrix, --orbit"),
    ([*CORRECT, "--orbit-sigma", "../orbit.csv", "--weights", "../orbit.csv"], USAGE, "--weights, --orbit-sigma"),
    # An output that is one of the inputs, through any spelling.
    (["compare", *MEASURED, "-o", "../measured.csv"], USAGE, "../measured.csv"),
    (["fit", *MEASURED, "--summary", "./../measured.csv"], USAGE, "./../measured.csv"),
    (["fit", *MEASURED, "--covariance", "../phases.csv"], USAGE, "../phases.csv"),
    ([*CORRECT, "-o", "../orbit.csv"], USAGE, "../orbit.csv"),
    ([*CORRECT, "--plot", "p.png", "--spectrum-plot", "./p.png"], USAGE, "./p.png"),
    (["-o", "../phases.csv", *PHASE_MODEL], USAGE, "../phases.csv"),
    # Results that would not be finite numbers.
    (["compare", *MEASURED, "--step", "1e-320"], USAGE, "--step 1e-320"),
    (["--optics", IOTA, "--monitors-match", "(B)\\1"], USAGE, "--monitors-match '(B)\\1'"),
    (["compare", "--measured", "../orm.tfs", "--layout", "correctors-by-monitors", *PHASE_MODEL], USAGE,
     "--layout correctors-by-monitors"),
    # Content refused; binary data at once, by every reader.
    (["compare", "--measured", "/dev/zero", *PHASE_MODEL], INPUT, "/dev/zero:1"),
    (["compare", *MEASURED, "--sigma", "/dev/zero"], INPUT, "/dev/zero:1"),
    (["correct", "--matrix", "/dev/zero", "--orbit", "../orbit.csv"], INPUT, "/dev/zero:1"),
    ([*CORRECT, "--limits", "/dev/zero"], INPUT, "/dev/zero"),
    (["--optics", "/dev/zero"], INPUT, "/dev/zero:1"),
    (["-p", "/dev/zero"], INPUT, "/dev/zero:1"),
    (["correct", "--matrix", "../huge.bin", "--orbit", "../orbit.csv"], INPUT, "../huge.bin"),
    (["compare", *MEASURED[:-2]], INPUT, "../measured.csv"),
    ([*CORRECT[:3], "--orbit", "../limits.csv"], INPUT, "../limits.csv"),
]

LINE = re.compile(r"respmat(?: (model|compare|fit|correct))?: ([^\n]+?): [^\n]+\n")


@pytest.mark.parametrize("args, status, subject", REFUSALS, ids=[" ".join(r[0])[:60] for r in REFUSALS])
def test_each_refusal_has_its_status_one_line_and_writes_nothing(folder, args, status, subject):
    result = subprocess.run([TOOL, *args], cwd=folder, capture_output=True, text=True)
    assert result.returncode == status, result.stderr
    line = LINE.fullmatch(result.stderr)
    assert line, result.stderr
    assert line.group(1) == (args[0] if args[0] in ("model", "compare", "fit", "correct") else None)
    assert line.group(2).startswith(subject), result.stderr
    assert result.stdout == "" and not any(folder.iterdir())


@pytest.mark.parametrize("bound, text", [("a line longer than 16 MiB", "1" * (17 << 20)),
                                         ("a field longer than 64 KiB", "1," + "2" * (65 << 10) + "\n"),
                                         ("more than 1048576 lines", "1\n" * ((1 << 20) + 1))],
                         ids=["line", "field", "lines"])
def test_every_reader_refuses_text_past_its_bounds(folder, bound, text):
    (folder.parent / "bad.csv").write_text(text)
    for args in (["-p", "../bad.csv"], ["--optics", "../bad.csv"], ["compare", "--measured", "../bad.csv", *PHASE_MODEL],
                 ["compare", *MEASURED, "--sigma", "../bad.csv"], ["correct", "--matrix", "../bad.csv", "--orbit",
                 "../orbit.csv"], [*CORRECT[:3], "--orbit", "../bad.csv"], [*CORRECT, "--limits", "../bad.csv"]):
        result = subprocess.run([TOOL, *args], cwd=folder, capture_output=True, text=True)
        line = LINE.fullmatch(result.stderr)
        assert result.returncode == INPUT and line and line.group(2).startswith("../bad.csv"), result.stderr
        assert bound in result.stderr, result.stderr
    for read in (respmat.load_phases, respmat.optics_model):
        with pytest.raises(ValueError, match=bound):
            read(folder.parent / "bad.csv")
