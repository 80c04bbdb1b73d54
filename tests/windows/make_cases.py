#!/usr/bin/python3
"""Writes the converter's test inputs into a directory, the same bytes on
every run: NAME.wav for each case, and cases.txt listing the names.

usage: make_cases.py DIR
"""
import os
import struct
import sys


def header(sample_rate, data_size):
    """A canonical 44-byte PCM mono 16-bit header stating `data_size`."""
    return (b"RIFF" + struct.pack("<I", (data_size + 36) & 0xFFFFFFFF) + b"WAVE"
            + b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, sample_rate, sample_rate * 2, 2, 16)
            + b"data" + struct.pack("<I", data_size & 0xFFFFFFFF))


def samples(count, seed):
    """`count` pseudo-random 16-bit samples from a fixed linear congruential
    sequence, so that a sample taken from the wrong index shows."""
    state = seed
    out = bytearray()
    for _ in range(count):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out += struct.pack("<h", (state >> 8) % 65536 - 32768)
    return bytes(out)


def wav(count, seed=1):
    data = samples(count, seed)
    return header(8000, len(data)) + data


CASES = {
    "empty": b"",
    "short_header": header(8000, 0)[:20],
    "header_only": header(8000, 0),
    "four_samples": wav(4),
    "ten_samples": header(8000, 20) + b"".join(struct.pack("<h", v) for v in range(10)),
    "block_4096": wav(4096, 2),
    "block_8192": wav(8192, 3),
    "odd_10000": wav(10000, 4) + b"\x7f",
    # Many reads' worth, with a partial block at the end.
    "long_60001": wav(60001, 5),
    # Headers that state more, or fewer, samples than follow them.
    "lying_header_more": header(8000, 200000) + samples(5000, 6),
    "lying_header_fewer": header(8000, 20) + samples(9000, 7),
    "negative_data_size": header(8000, 0xFFFFFFF0) + samples(300, 8),
    # A longer format chunk: whatever lies from byte 44 on is taken as samples.
    "extra_chunk": (b"RIFF" + struct.pack("<I", 4 + 26 + 8 + 8 + 4000) + b"WAVE"
                    + b"fmt " + struct.pack("<IHHIIHHH", 18, 1, 1, 8000, 16000, 2, 16, 0)
                    + b"LIST" + struct.pack("<I", 0)
                    + b"data" + struct.pack("<I", 4000) + samples(2000, 9)),
}


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    directory = argv[1]
    os.makedirs(directory, exist_ok=True)
    for name, content in CASES.items():
        with open(os.path.join(directory, name + ".wav"), "wb") as stream:
            stream.write(content)
    with open(os.path.join(directory, "cases.txt"), "w") as stream:
        stream.write("".join(name + "\n" for name in CASES))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
