"""load_text() and save_csv(): the library's delimited text, against numpy and the
platform's own number conversions."""

import io
import os
import threading

import numpy as np
import pytest

import respmat
from conftest import DATA, OPTICS_TABLES, assert_same_bits


def vectors(name):
    """(bits, text, ...) lines of a number-conversion vector file."""
    for line in (DATA / "floats" / name).read_text().split("\n"):
        if not line:
            continue
        bits, _, rest = line.partition(" ")
        yield np.uint64(int(bits, 16)).view(np.float64), rest


@pytest.mark.parametrize("table", OPTICS_TABLES + [DATA / "tfs" / "lhcb1_measured_total_phase_x_PHASEX.csv"],
                         ids=lambda p: p.stem)
def test_real_tables_load_as_numpy_loads_them(table):
    assert_same_bits(respmat.load_text(table), np.loadtxt(table, delimiter=",", ndmin=2))


def test_random_numbers_in_many_forms_load_as_numpy_loads_them(tmp_path, rng):
    # Several megabytes, so the file is split and converted on several threads.
    values = rng.integers(0, 2**64, (400, 300), dtype=np.uint64).view(np.float64)
    values[~np.isfinite(values)] = rng.standard_normal(np.count_nonzero(~np.isfinite(values)))
    forms = ["%r", "%.17g", "%.16g", "%.3e", "%.20f"]
    text = "\n".join(",".join(forms[(r + c) % len(forms)] % v for c, v in enumerate(row))
                     for r, row in enumerate(values.tolist()))
    (tmp_path / "r.csv").write_text(text + "\n")
    assert_same_bits(respmat.load_text(tmp_path / "r.csv"), np.loadtxt(tmp_path / "r.csv", delimiter=","))


def test_fields_are_read_like_atof(tmp_path):
    cases = [(value, text) for name in ("atof-semantics.txt", "atof-c99-extensions.txt")
             for value, text in vectors(name) if not set(text) & set(",\r\n")]
    (tmp_path / "f.csv").write_text("\n".join(text for _, text in cases) + "\n")
    loaded = respmat.load_text(tmp_path / "f.csv", skip_blank=False)[:, 0]  # a blank field is a row of 0.0
    expected = np.array([value for value, _ in cases])
    assert_same_bits(loaded[np.isfinite(expected)], expected[np.isfinite(expected)])
    assert (np.isnan(loaded) == np.isnan(expected)).all()


def test_layout_options(tmp_path):
    (tmp_path / "t.txt").write_text('# made by hand\nx y\n1\t"2 3"  4\n5 6\n')
    assert_same_bits(respmat.load_text(tmp_path / "t.txt", drop_rows=1, sep=None, quote='"', skip="#"),
                     np.array([[1.0, 0.0, 4.0], [5.0, 6.0, 0.0]]))
    assert respmat.load_text(tmp_path / "t.txt", drop_rows=9).shape == (0, 0)


def test_saved_text_is_printf_16_digits_and_loads_back(tmp_path, rng):
    cases = [(value, text.split(" ")[0]) for name in ("printf-g-vectors.txt", "printf-g-ties.txt")
             for value, text in vectors(name)]
    column = np.array([[value] for value, _ in cases])
    respmat.save_csv(column, tmp_path / "v.csv")
    assert (tmp_path / "v.csv").read_text() == "".join(text + "\n" for _, text in cases) + "\n"

    values = rng.standard_normal((30, 20)) * 10.0 ** rng.integers(-30, 30, (30, 20))
    respmat.save_csv(values[:, ::2].astype(np.float32), tmp_path / "m.csv")  # any dtype, strided
    text = (tmp_path / "m.csv").read_text()
    expected = values[:, ::2].astype(np.float32).astype(np.float64)
    assert text == "".join(",".join("%.16g" % v for v in row) + "\n" for row in expected.tolist()) + "\n"
    assert_same_bits(respmat.load_text(tmp_path / "m.csv"), np.loadtxt(tmp_path / "m.csv", delimiter=","))

    for empty in (np.zeros((0, 3)), np.zeros((3, 0))):
        respmat.save_csv(empty, tmp_path / "e.csv")
        assert (tmp_path / "e.csv").read_bytes() == b"\n"


def test_blank_lines_are_left_out_unless_asked_to_be_rows(tmp_path):
    respmat.save_csv(np.eye(3), tmp_path / "er.csv")  # ends with an empty line
    assert respmat.load_text(tmp_path / "er.csv").shape == (3, 3)
    assert respmat.load_text(tmp_path / "er.csv", skip_blank=False).shape == (4, 3)
    (tmp_path / "b.csv").write_text("\ufeff1,2\n\n \t\n3,4\n")
    assert_same_bits(respmat.load_text(tmp_path / "b.csv"), np.array([[1.0, 2.0], [3.0, 4.0]]))


def feed_through(kind, tmp_path, data, read):
    """read(path) where path gives data through a file, a pipe, a FIFO or /dev/stdin."""
    if kind == "file":
        (tmp_path / "input").write_bytes(data)
        return read(tmp_path / "input")
    if kind == "fifo":
        os.mkfifo(tmp_path / "fifo")
        writer = threading.Thread(target=lambda: (tmp_path / "fifo").write_bytes(data))
        writer.start()
        try:
            return read(tmp_path / "fifo")
        finally:
            writer.join()
    out_end, in_end = os.pipe()
    writer = threading.Thread(target=lambda: (os.write(in_end, data), os.close(in_end)))
    writer.start()
    saved = os.dup(0)
    try:
        if kind == "pipe":
            return read(f"/proc/self/fd/{out_end}")
        os.dup2(out_end, 0)
        return read("/dev/stdin")
    finally:
        os.dup2(saved, 0)
        os.close(saved)
        os.close(out_end)
        writer.join()


@pytest.mark.parametrize("kind", ["file", "pipe", "fifo", "stdin"])
def test_pipes_fifos_and_standard_input_give_what_the_file_gives(tmp_path, kind):
    table = "".join(f"BPM{k},{k * 0.0123!r}\n" for k in range(3000)).encode()
    loaded = feed_through(kind, tmp_path, table, respmat.load_text)
    assert loaded.shape == (3000, 2)
    (tmp_path / "phases").mkdir()
    phases = feed_through(kind, tmp_path / "phases", b"name,phase\n" + table, lambda p: respmat.load_phases(p, "phase"))
    assert_same_bits(phases, loaded[:, 1])
    binary = io.BytesIO()
    respmat.write_bin(loaded, binary)
    (tmp_path / "binary").mkdir()
    assert_same_bits(feed_through(kind, tmp_path / "binary", binary.getvalue(), respmat.read_bin), loaded)
