"""A short tour of the veltrane package: how random or how repetitive some inputs are.

Usage: python examples/demo.py [FILE ...]
"""
import os
import pathlib
import sys

import veltrane


def describe(label, data):
    result = veltrane.scan(data, fragments=0)
    h, m, n, mn = (veltrane.format_measure(v) for v in (result.shannon_entropy, result.metric_entropy,
                                                         result.normalized_entropy, result.min_entropy))
    print(f"{label:<28} {result.size:>10}  {h:>8}  {m:>7}  {n:>10}  {mn:>8}")


def main(paths):
    print(f"veltrane {veltrane.version()} ({veltrane.profile()} build)")
    print(f"{'input':<28} {'bytes':>10}  {'Shannon':>8}  {'metric':>7}  {'normalised':>10}  {'min-ent.':>8}")
    samples = [
        ("random bytes (1 MiB)", os.urandom(1 << 20)),
        ("zero bytes (1 MiB)", bytes(1 << 20)),
        ("English text", (b"It was the best of times, it was the worst of times. " * 200)),
        ("text as str (UTF-8)", "naïve café, 文字 and emoji 🙂 " * 50),
        ("two values", b"ab" * 1000),
        ("random, 64 bytes", os.urandom(64)),
    ]
    for label, data in samples:
        describe(label, data)
    for path in paths:
        describe(os.path.basename(path)[:28], pathlib.Path(path))
    key = os.urandom(4096)
    figures = veltrane.measure(key)
    print(f"\na random 4 KiB key: chi-square {figures.chi_square:.1f} (p = {figures.chi_square_p:.3f}), "
          f"serial correlation {figures.serial_correlation:+.4f}, SP 800-90B MCV {figures.min_entropy_mcv:.3f} "
          "bits per byte")
    text = "the cat sat on the mat; the cat sat still, on the mat"
    print(f"\nrepeats of {text!r} (at least 4 characters, best 3):")
    for repeat in veltrane.repeats(text, top=3):
        piece = text[repeat.first : repeat.first + repeat.length]
        print(f"  {piece!r}: {repeat.count} times, at {list(repeat.starts)}, saves {repeat.score}")


if __name__ == "__main__":
    main(sys.argv[1:])
