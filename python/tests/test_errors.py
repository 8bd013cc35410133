"""Failures as Python exceptions, and outputs replaced whole or not at all."""

import errno
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import respmat

READERS = [respmat.load_text, respmat.load_phases, respmat.read_bin]
WRITERS = [respmat.save_csv, respmat.write_bin, respmat.heatmap]


@pytest.mark.parametrize("read", READERS, ids=lambda f: f.__name__)
def test_readers_raise_os_errors_with_errno_and_file_name(tmp_path, read):
    with pytest.raises(FileNotFoundError) as missing:
        read(tmp_path / "missing")
    assert (missing.value.errno, missing.value.filename) == (errno.ENOENT, str(tmp_path / "missing"))
    with pytest.raises(IsADirectoryError):
        read(tmp_path)
    if os.geteuid() != 0:  # root reads anything
        (tmp_path / "locked").write_text("1\n")
        (tmp_path / "locked").chmod(0)
        with pytest.raises(PermissionError):
            read(tmp_path / "locked")


@pytest.mark.parametrize("write", WRITERS, ids=lambda f: f.__name__)
def test_writers_raise_os_errors_and_leave_no_file(tmp_path, write):
    with pytest.raises(FileNotFoundError) as missing:
        write(np.eye(2), tmp_path / "no" / "out")
    assert missing.value.filename == str(tmp_path / "no" / "out")
    (tmp_path / "folder").mkdir()
    with pytest.raises(IsADirectoryError):
        write(np.eye(2), tmp_path / "folder")
    assert sorted(os.listdir(tmp_path)) == ["folder"]
    with pytest.raises(ValueError, match="2-D"):
        write(np.zeros((2, 2, 2)), tmp_path / "out")
    with pytest.raises(TypeError):
        write(np.eye(2), 3.5)


def test_a_write_that_fails_midway_leaves_the_previous_contents(tmp_path):
    # A file-size limit makes every write fail once the output passes 64 KiB.
    script = textwrap.dedent("""
        import os, resource, signal, sys
        import numpy as np
        import respmat
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 16, 1 << 16))
        big = np.random.default_rng(1).standard_normal((300, 300))
        outcomes = []
        for name, write in [("m.csv", lambda: respmat.save_csv(big, "m.csv")),
                            ("m.bin", lambda: respmat.write_bin(big, "m.bin")),
                            ("er.csv", lambda: respmat.run(phases="phases.csv", monitors=300))]:
            try:
                write()
                outcomes.append(name + " written")
            except OSError as e:
                outcomes.append(f"{name} {e.errno} {e.filename}")
        print(";".join(outcomes))
    """)
    for name in ("m.csv", "m.bin", "er.csv"):
        (tmp_path / name).write_text("previous")
    (tmp_path / "phases.csv").write_text("0.125\n" * 300)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    result = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, env=env,
                            capture_output=True, text=True, check=True)
    assert result.stdout.strip() == f"m.csv {errno.EFBIG} m.csv;m.bin {errno.EFBIG} m.bin;er.csv {errno.EFBIG} er.csv"
    assert sorted(os.listdir(tmp_path)) == ["er.csv", "m.bin", "m.csv", "phases.csv"]
    for name in ("m.csv", "m.bin", "er.csv"):
        assert (tmp_path / name).read_text() == "previous"


def test_ctrl_c_stops_long_work_at_once_and_leaves_no_temporary_file(tmp_path):
    # Each call takes a second or more; Ctrl-C comes 50 ms into it. (The loader's
    # stop between chunks is tested beside it.)
    script = textwrap.dedent("""
        import os, signal, threading, time
        import numpy as np
        import respmat
        signal.signal(signal.SIGINT, signal.default_int_handler)
        def delay_of_keyboard_interrupt(call):
            sent = []
            def interrupt():
                time.sleep(0.05)
                sent.append(time.monotonic())
                os.kill(os.getpid(), signal.SIGINT)
            threading.Thread(target=interrupt).start()
            try:
                call()
                time.sleep(10)  # the call ended first: the interrupt comes here
            except KeyboardInterrupt:
                return time.monotonic() - sent[0]

        big = np.random.default_rng(1).standard_normal((4000, 4000))
        delays = [delay_of_keyboard_interrupt(lambda: respmat.model(np.linspace(0, 30, 8000))),
                  delay_of_keyboard_interrupt(lambda: respmat.save_csv(big, "out.csv"))]
        print(" ".join(f"{delay:.3f}" for delay in delays))
    """)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    result = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, env=env,
                            capture_output=True, text=True, check=True)
    # Generous bounds: the work once went on to its end, a second or more.
    assert all(float(delay) < 0.5 for delay in result.stdout.split()), result.stdout
    assert os.listdir(tmp_path) == []
