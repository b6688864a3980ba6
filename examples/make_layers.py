"""Writes a file made of three parts: English text, random bytes and zeros.

Usage: python examples/make_layers.py OUT [TEXT_BYTES RANDOM_BYTES ZERO_BYTES]

The boundaries fall at TEXT_BYTES and TEXT_BYTES + RANDOM_BYTES (default 96 KiB
and 256 KiB): what `veltrane profile` should find as a rising and a falling edge.
"""
import os
import sys

SENTENCE = (
    b"It was the best of times, it was the worst of times, it was the age of wisdom, "
    b"it was the age of foolishness, it was the epoch of belief.\n"
)


def main(argv):
    if len(argv) not in (1, 4):
        sys.exit(__doc__)
    text_size, random_size, zero_size = (int(x) for x in argv[1:]) if len(argv) == 4 else (96 << 10, 160 << 10, 64 << 10)
    text = (SENTENCE * (text_size // len(SENTENCE) + 1))[:text_size]
    with open(argv[0], "wb") as out:
        out.write(text)
        out.write(os.urandom(random_size))
        out.write(bytes(zero_size))


if __name__ == "__main__":
    main(sys.argv[1:])
