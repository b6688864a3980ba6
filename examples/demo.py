"""A short tour of _veltrane: how random or how repetitive some inputs are.

Usage: python examples/demo.py [FILE ...]
"""
import os
import sys

import _veltrane
from _veltrane import min_entropy, shannon_entropy, strings_frag


def describe(label, data):
    h = shannon_entropy.measure_entropy(data)
    metric = shannon_entropy.measure_metric_entropy(data)
    normalised = shannon_entropy.measure_normalized_metric_entropy(data)
    h_min = min_entropy.measure_entropy(data)
    print(f"{label:<28} {len(data):>10}  {h:8.4f}  {metric:7.4f}  {normalised:10.4f}  {h_min:8.4f}")


def main(paths):
    print(f"_veltrane {_veltrane.version()} ({_veltrane.profile()} build)")
    print(f"{'input':<28} {'bytes':>10}  {'Shannon':>8}  {'metric':>7}  {'normalised':>10}  {'min-ent.':>8}")
    samples = [
        ("random bytes (1 MiB)", os.urandom(1 << 20)),
        ("zero bytes (1 MiB)", bytes(1 << 20)),
        ("English text", (b"It was the best of times, it was the worst of times. " * 200)),
        ("text as str (UTF-8)", "naïve café, 文字 and emoji 🙂 " * 50),
        ("two values", b"ab" * 1000),
    ]
    for label, data in samples:
        describe(label, data)
    for path in paths:
        with open(path, "rb") as handle:
            describe(os.path.basename(path)[:28], handle.read())
    text = "the cat sat on the mat; the cat sat still"
    print(f"\nrepeated fragments of {text!r} (times=2, best 3):")
    for fragment in strings_frag.find_non_overlapping_fragments(text, 3, 2, False):
        spans = [(o["start"], o["end"]) for o in fragment["occurrences"]]
        start, end = spans[0]
        print(f"  {text[start:end]!r} at {spans}")


if __name__ == "__main__":
    main(sys.argv[1:])
