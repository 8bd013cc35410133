"""heatmap(): the format follows the file name, the scale follows the entries or the
caller, and arguments that do not fit the matrix are refused."""

import numpy as np
import pytest

import respmat
from conftest import EXAMPLES


@pytest.fixture
def matrix():
    return respmat.model(respmat.load_phases(EXAMPLES / "optics" / "iota_v8.3_twiss.tfs", column="MUX"))


def test_the_extension_chooses_the_format_and_the_file_is_replaced(tmp_path, matrix):
    for name, signature in [("G.png", b"\x89PNG\r\n\x1a\n"), ("G.SVG", b"<?xml"), ("G.pdf", b"%PDF")]:
        (tmp_path / name).write_bytes(b"previous contents, longer than nothing at all" * 10000)
        respmat.heatmap(matrix, tmp_path / name, title="x plane", row_names=[f"BPM{i}" for i in range(len(matrix))])
        assert (tmp_path / name).read_bytes().startswith(signature)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["G.SVG", "G.pdf", "G.png"]


def test_the_scale_is_the_largest_entry_unless_given(tmp_path, matrix):
    largest = float(np.abs(matrix).max())
    for name, scale in [("own.png", None), ("same.png", largest), ("wider.png", 2 * largest)]:
        respmat.heatmap(matrix, tmp_path / name, range=scale)
    assert (tmp_path / "own.png").read_bytes() == (tmp_path / "same.png").read_bytes()
    assert (tmp_path / "own.png").read_bytes() != (tmp_path / "wider.png").read_bytes()


@pytest.mark.parametrize("arguments, error", [
    ({"row_names": ["a", "b"]}, ValueError),
    ({"column_names": "abc"}, TypeError),
    ({"column_names": [1, 2, 3]}, TypeError),
    ({"range": 0.0}, ValueError),
    ({"range": float("nan")}, ValueError),
    ({"range": "1"}, TypeError),
])
def test_arguments_that_do_not_fit_are_refused_and_nothing_is_written(tmp_path, arguments, error):
    with pytest.raises(error):
        respmat.heatmap(np.zeros((3, 3)), tmp_path / "G.png", **arguments)
    assert list(tmp_path.iterdir()) == []


def test_a_frame_is_drawn_with_its_names_and_the_bar_with_the_units(tmp_path, matrix):
    pandas = pytest.importorskip("pandas")
    monitors = [f"BPM{i}" for i in range(matrix.shape[0])]
    correctors = [f"HC{j}" for j in range(matrix.shape[1])]
    respmat.heatmap(pandas.DataFrame(matrix, index=monitors, columns=correctors), tmp_path / "frame.png", units="mm/mrad")
    respmat.heatmap(matrix, tmp_path / "named.png", row_names=monitors, column_names=correctors, units="mm/mrad")
    respmat.heatmap(matrix, tmp_path / "plain.png", units="mm/mrad")
    respmat.heatmap(matrix, tmp_path / "bare.png", row_names=monitors, column_names=correctors)
    picture = (tmp_path / "frame.png").read_bytes()
    assert picture == (tmp_path / "named.png").read_bytes()
    assert picture != (tmp_path / "plain.png").read_bytes()
    assert picture != (tmp_path / "bare.png").read_bytes()
