"""Shared pieces of the Python tests: the built tool, and logs written here
record by record."""

import os
import pathlib
import subprocess

import pytest

from gcuproto import blackbox_pb2

TOOL = os.environ.get("GCUPROTO_TOOL", "gcuproto")
SAMPLES = pathlib.Path(os.environ.get("GCUPROTO_SAMPLES", pathlib.Path(__file__).parents[2] / "examples/samples"))


def tool(*args, stdin=None):
    """Runs the gcuproto tool; its stdout as bytes."""
    return subprocess.run([TOOL, *map(str, args)], input=stdin, check=True, capture_output=True).stdout


def varint(n):
    out = bytearray()
    while n >= 0x80:
        out.append(n & 0x7F | 0x80)
        n >>= 7
    out.append(n)
    return bytes(out)


def record(message_or_bytes, can=None):
    """One top-level record: a BlackboxFileLine or BlackboxCandumpFileLine, or
    raw line bytes with `can` telling the kind."""
    if isinstance(message_or_bytes, bytes):
        body, key = message_or_bytes, 0x5A if can else 0x52
    else:
        body = message_or_bytes.SerializeToString()
        key = 0x5A if isinstance(message_or_bytes, blackbox_pb2.BlackboxCandumpFileLine) else 0x52
    return bytes([key]) + varint(len(body)) + body


def line(seq, timestamp, inputs=(), outputs=()):
    return blackbox_pb2.BlackboxFileLine(seqNo=seq, timestamp=timestamp, dataInput=inputs, dataOutput=outputs)


def can(seq, timestamp, can_id, data=b"", extended=False, message_id=0):
    return blackbox_pb2.BlackboxCandumpFileLine(seqNo=seq, timestamp=timestamp, canId=can_id, messageId=message_id,
                                                extended=extended, data=data)


def mixed_log(count, inputs=4, outputs=2, seed=1):
    """A log of `count` logger lines with a CAN line after every third, samples
    across the whole sint32 range, some lines short of samples."""
    import random
    rng = random.Random(seed)
    out = bytearray()
    for i in range(count):
        width = inputs if i % 5 else rng.randrange(inputs + 1)
        samples = [rng.choice((rng.randrange(-100, 100), rng.randrange(-2**31, 2**31))) for _ in range(width)]
        out += record(line(2 * i, 10 * i, samples, [rng.randrange(-5, 5) for _ in range(outputs)]))
        if i % 3 == 0:
            out += record(can(2 * i + 1, 10 * i + 3, rng.randrange(0x800), bytes(rng.randrange(256) for _ in range(i % 9))))
    return bytes(out)


@pytest.fixture
def write_log(tmp_path):
    def write(data, name="log.bin"):
        path = tmp_path / name
        path.write_bytes(data)
        return path
    return write
