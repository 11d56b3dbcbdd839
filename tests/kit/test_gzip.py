"""The native gzip: one valid member, any size, any content."""

import gzip
import os
import random
import zlib

import pytest

from norvale._native import gzip_backend, gzip_compress


def members(data: bytes) -> int:
    """Number of gzip members in data (each must be complete)."""
    count = 0
    while data:
        d = zlib.decompressobj(wbits=31)
        d.decompress(data)
        assert d.eof, "truncated member"
        data = d.unused_data
        count += 1
    return count


def sample(n: int, seed: int = 0) -> bytes:
    rng = random.Random(seed)
    words = [b"node", b"beam", b'"id": ', b"1.25, ", b"\n", b"{", b"}"]
    out = bytearray()
    while len(out) < n:
        out += rng.choice(words) if rng.random() < 0.8 else os.urandom(8)
    return bytes(out[:n])


@pytest.mark.parametrize("zlib_ng", [True, False], ids=["zlib-ng", "zlib"])
@pytest.mark.parametrize("size", [0, 1, 100, 65535, 65536, 256 * 1024 - 1, 256 * 1024, 256 * 1024 + 1, 3_000_001])
def test_round_trip_as_a_single_member(size, zlib_ng):
    data = sample(size, size)
    packed = gzip_compress(data, zlib_ng=zlib_ng)
    assert gzip.decompress(packed) == data
    assert members(packed) == 1
    assert packed[:4] == b"\x1f\x8b\x08\x00"


def test_incompressible_data_round_trips():
    data = os.urandom(1_000_000)
    assert gzip.decompress(gzip_compress(data)) == data


@pytest.mark.parametrize("zlib_ng", [True, False], ids=["zlib-ng", "zlib"])
@pytest.mark.parametrize("level", [6, 9])
def test_ratio_stays_close_to_one_stream_deflate(level, zlib_ng):
    data = sample(2_000_000, 3)
    ours = len(gzip_compress(data, level, zlib_ng=zlib_ng))
    single = len(gzip.compress(data, level))
    assert ours <= single * 1.02 + 64


def test_backend_is_named():
    assert gzip_backend() in ("zlib-ng", "zlib")
