"""load_phases() and run(): the tool's phase reader and its whole job."""

import shutil
import warnings

import numpy as np
import pytest

import respmat
from conftest import DATA, EXAMPLES, assert_same_bits

TFS = DATA / "tfs"


def test_optics_and_comma_separated_tables_give_the_same_phases():
    for table in ("lhcb1_measured_total_phase_x", "resync_total_phase_x"):
        from_optics = respmat.load_phases(TFS / f"{table}.tfs", column="phasex")  # any case
        assert_same_bits(from_optics, np.loadtxt(TFS / f"{table}_PHASEX.csv"))
        assert_same_bits(respmat.load_phases(TFS / f"{table}_PHASEX.csv"), from_optics)


def test_phase_tables_that_cannot_serve_say_why(tmp_path):
    with pytest.raises(ValueError, match="MUX"):  # an optics table needs a column, and lists them
        respmat.load_phases(EXAMPLES / "optics" / "iota_v8.3_twiss.tfs", column=None)
    with pytest.raises(ValueError, match='no column named "NOPE"'):
        respmat.load_phases(EXAMPLES / "optics" / "iota_v8.3_twiss.tfs", column="NOPE")
    (tmp_path / "p.csv").write_text("0.1\n0.2\nabc\n")
    with pytest.raises(ValueError, match="p.csv:3"):
        respmat.load_phases(tmp_path / "p.csv")
    with pytest.raises(TypeError):
        respmat.load_phases(tmp_path / "p.csv", column=1.5)


@pytest.fixture
def run_folder(tmp_path, monkeypatch):
    """A working folder whose parent holds the bundled example inputs."""
    for name in ("reponsematx_H0.1A.csv", "realmachinephases.csv"):
        shutil.copy(EXAMPLES / name, tmp_path)
    (tmp_path / "run").mkdir()
    monkeypatch.chdir(tmp_path / "run")
    return tmp_path


def test_bare_run_writes_the_tools_er_csv(run_folder):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert respmat.run() == 36
    assert (run_folder / "run" / "er.csv").read_bytes() == (DATA / "example_er.csv").read_bytes()


def test_run_with_options_equals_the_module_functions(run_folder):
    table = EXAMPLES / "optics" / "iota_v8.3_twiss.tfs"
    assert respmat.run(phases=table, column="MUY", output="iota.csv", monitors=12) == 12
    respmat.save_csv(respmat.model(respmat.load_phases(table, "MUY")[:12]), "expected.csv")
    assert (run_folder / "run" / "iota.csv").read_bytes() == (run_folder / "run" / "expected.csv").read_bytes()


def test_run_failures_are_exceptions_and_warnings(run_folder):
    (run_folder / "realmachinephases.csv").write_text("0.5\nx\n" + "0.25\n" * 40)
    with pytest.warns(RuntimeWarning, match="not a number"):
        respmat.run()                               # the bare tool reads x as 0.0
    with pytest.raises(ValueError, match=":2"):
        respmat.run(phases="../realmachinephases.csv")  # with options it refuses it
    (run_folder / "realmachinephases.csv").write_text("0.5\n")
    with pytest.raises(ValueError, match="1 row"):
        respmat.run()
    with pytest.raises(ValueError, match="also an input"):
        respmat.run(phases="../realmachinephases.csv", output="../realmachinephases.csv")
    with pytest.raises(FileNotFoundError) as missing:
        respmat.run(response="nope.csv")
    assert missing.value.filename == "nope.csv"
