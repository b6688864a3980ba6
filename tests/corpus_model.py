"""The corpus definitions by brute force, for the tests: windows compared with every other window,
bytes marked one by one, runs cut at character or line boundaries found by looking, passes until one
removes nothing."""
from __future__ import annotations


def _boundary(doc: bytes, i: int, lines: bool) -> bool:
    # A character is a byte that is not 10xxxxxx with up to three continuation bytes after it; every
    # continuation byte past the third in a row stands alone (bytes that are not UTF-8).
    if i in (0, len(doc)):
        return True
    if lines:
        return doc[i - 1] == 0x0A
    run = len(doc[:i + 1]) - len(doc[:i + 1].rstrip(bytes(range(0x80, 0xC0))))
    return run == 0 or run >= 4


def _one_pass(docs: list[bytes], length: int, keep: str, lines: bool) -> list[bytes]:
    windows = [(d, p) for d, doc in enumerate(docs) for p in range(len(doc) - length + 1)]
    content = [docs[d][p:p + length] for d, p in windows]
    marked = [bytearray(len(doc)) for doc in docs]
    for i, (d, p) in enumerate(windows):
        others = content[:i] if keep == "first" else content[:i] + content[i + 1:]
        if content[i] in others:
            marked[d][p:p + length] = b"\x01" * length
    out = []
    for doc, marks in zip(docs, marked):
        gone = bytearray(len(doc))
        a = 0
        while a < len(doc):
            if not marks[a]:
                a += 1
                continue
            b = a
            while b < len(doc) and marks[b]:
                b += 1
            lo, hi = a, b
            while lo < hi and not _boundary(doc, lo, lines):
                lo += 1
            while hi > lo and not _boundary(doc, hi, lines):
                hi -= 1
            gone[lo:hi] = b"\x01" * (hi - lo)
            a = b
        out.append(bytes(c for c, g in zip(doc, gone) if not g))
    return out


def deduplicated(docs: list[bytes], length: int, keep: str = "first", lines: bool = False) -> tuple[list[bytes], int]:
    """The documents at the fixed point, and the passes it took (the last removing nothing)."""
    passes = 0
    while True:
        passes += 1
        after = _one_pass(docs, length, keep, lines)
        if after == docs:
            return docs, passes
        docs = after
