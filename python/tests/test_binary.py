"""read_bin() and write_bin(): the library's binary matrix form, in files and streams."""

import io
import struct

import numpy as np
import pytest

import respmat
from conftest import assert_same_bits

TWO_BY_THREE = struct.pack("<ii6d", 2, 3, 1, 2, 3, 4, 5, 6)


def test_golden_bytes_both_ways(tmp_path):
    stream = io.BytesIO()
    respmat.write_bin([[1, 2, 3], [4, 5, 6]], stream)
    assert stream.getvalue() == TWO_BY_THREE
    respmat.write_bin(np.zeros((0, 5)), tmp_path / "empty.bin")
    assert (tmp_path / "empty.bin").read_bytes() == struct.pack("<ii", 0, 5)
    assert respmat.read_bin(tmp_path / "empty.bin").shape == (0, 5)


def test_several_matrices_follow_one_another_bit_for_bit(tmp_path, rng):
    matrices = [
        rng.integers(0, 2**64, (7, 5), dtype=np.uint64).view(np.float64),  # nan payloads too
        np.arange(12.0).reshape(3, 4).T,                                 # a transposed view
        np.zeros((4, 0)),
        np.array([[-0.0, np.inf, -np.inf]]),
    ]
    with open(tmp_path / "many.bin", "wb") as f:
        for M in matrices:
            respmat.write_bin(M, f)
    with open(tmp_path / "many.bin", "rb") as f:
        for M in matrices:
            assert_same_bits(respmat.read_bin(f), np.ascontiguousarray(M, dtype=np.float64))
        assert f.read() == b""
        with pytest.raises(EOFError):
            respmat.read_bin(f)
    assert_same_bits(respmat.read_bin(tmp_path / "many.bin"), matrices[0])


@pytest.mark.parametrize("data", [
    b"\x02\x00\x00",                                   # half a header
    TWO_BY_THREE[:-1],                                 # the last element cut short
    struct.pack("<ii", -1, 3),                         # a negative count
    struct.pack("<ii", 2**31 - 1, 2**31 - 1) + bytes(64),  # a header no data back
])
def test_malformed_data_raise_value_error_without_a_huge_allocation(tmp_path, data):
    with pytest.raises(ValueError, match="not a whole binary matrix"):
        respmat.read_bin(io.BytesIO(data))
    (tmp_path / "bad.bin").write_bytes(data)
    with pytest.raises(ValueError, match="bad.bin"):
        respmat.read_bin(tmp_path / "bad.bin")


def test_file_objects_that_fail_or_are_text_raise_their_own_error(tmp_path):
    class Failing(io.RawIOBase):
        def readinto(self, buffer):
            raise RuntimeError("device gone")

    class Boasting(io.RawIOBase):
        def readinto(self, buffer):
            return len(buffer) + 8  # claims more than fits: nothing may be read past it

    with pytest.raises(RuntimeError, match="device gone"):
        respmat.read_bin(Failing())
    with pytest.raises(ValueError, match="more bytes than asked for"):
        respmat.read_bin(Boasting())
    with open(tmp_path / "t.txt", "w") as text, pytest.raises(TypeError):
        respmat.write_bin([[1.0]], text)
    with pytest.raises(ValueError, match="2-D"):
        respmat.write_bin([1.0, 2.0], io.BytesIO())


class Trickle(io.RawIOBase):
    """`data` given at most `most` bytes per readinto(), counting the calls."""

    def __init__(self, data, most):
        self.data, self.most, self.position, self.calls = data, most, 0, 0

    def readinto(self, buffer):
        self.calls += 1
        n = min(len(buffer), self.most, len(self.data) - self.position)
        buffer[:n] = self.data[self.position:self.position + n]
        self.position += n
        return n


def test_file_objects_are_read_in_few_calls_however_they_split_their_data(rng):
    M = rng.standard_normal((1000, 1000))
    stream = io.BytesIO()
    respmat.write_bin(M, stream)
    whole = Trickle(stream.getvalue() + b"next", most=2**40)
    assert_same_bits(respmat.read_bin(whole), M)
    assert whole.calls <= 6  # the 8 MB once took a call per byte
    assert whole.data[whole.position:] == b"next"
    assert_same_bits(respmat.read_bin(Trickle(stream.getvalue(), most=1000)), M)


def test_views_lent_to_file_objects_are_released_when_the_call_returns():
    kept = []

    class Keeping(io.BytesIO):
        def readinto(self, buffer):
            kept.append((buffer, np.frombuffer(buffer, np.uint8)))  # a view, and a buffer of it
            return super().readinto(buffer)

        def write(self, buffer):
            kept.append((buffer, np.frombuffer(buffer, np.uint8)))
            return super().write(buffer)

    stream = Keeping()
    respmat.write_bin([[1, 2, 3], [4, 5, 6]], stream)
    stream.seek(0)
    respmat.read_bin(stream)
    assert len(kept) == 3
    for view, array in kept:
        with pytest.raises(ValueError, match="released"):
            view.tobytes()
    assert kept[0][1].tobytes() == TWO_BY_THREE  # what was written, still there


@pytest.mark.parametrize("count, error", [(-1, ValueError), (2**70, ValueError), ("8", TypeError), (8.0, TypeError)])
def test_a_call_that_returns_no_count_raises_naming_the_method(count, error):
    class Odd(io.RawIOBase):
        def readinto(self, buffer):
            return count

        def write(self, buffer):
            return count

    with pytest.raises(error, match=r"readinto\(\)"):
        respmat.read_bin(Odd())
    with pytest.raises(error, match=r"write\(\)"):
        respmat.write_bin([[1.0]], Odd())
