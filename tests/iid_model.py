"""A plain model of SP 800-90B's IID track for the tests, written from the standard's definitions.

Statistics on the renumbered samples (conversions for binary data), compression
through Python's bz2 module (libbz2), the chi-square tests and the collision
probability with the tool's proportions (1/L added per occurrence), the
xoshiro256** stream and its draw, and the permutation test as a loop of rounds.
Slow; for short inputs.
"""
from __future__ import annotations

import bz2
import struct

import numpy

LONG = numpy.longdouble
NAMES = (["excursion", "numDirectionalRuns", "lenDirectionalRuns", "numIncreasesDecreases", "numRunsMedian",
          "lenRunsMedian", "avgCollision", "maxCollision"] + [f"periodicity({p})" for p in (1, 2, 8, 16, 32)]
         + [f"covariance({p})" for p in (1, 2, 8, 16, 32)] + ["compression"])


def prepare(samples):
    raw = list(samples)
    rank = {v: i for i, v in enumerate(sorted(set(raw)))}
    return raw, [rank[v] for v in raw], len(rank)


def runs(signs):
    count = longest = length = 0
    for i, s in enumerate(signs):
        length = length + 1 if i and s == signs[i - 1] else 1
        count += length == 1
        longest = max(longest, length)
    return count, longest


def collisions(seq):
    found, i = [], 0
    while i < len(seq):
        seen, j = set(), i
        while j < len(seq) and seq[j] not in seen:
            seen.add(seq[j])
            j += 1
        if j == len(seq):
            break
        found.append(j - i + 1)
        i = j + 1
    return found


def median(ranks):
    s, n = sorted(ranks), len(ranks)
    return s[n // 2] if n % 2 else (s[n // 2 - 1] + s[n // 2]) / 2


def compression(raw):
    return len(bz2.compress(" ".join(map(str, raw)).encode(), 5))


def statistics(samples):
    raw, ranks, k = prepare(samples)
    mean = float(sum(raw)) / len(raw)
    best, total = LONG(0), 0
    for i, x in enumerate(raw, 1):
        total += x
        best = max(best, abs(LONG(total) - LONG(i) * LONG(mean)))
    if k == 2:
        blocks = [ranks[i:i + 8] for i in range(0, len(ranks), 8)]
        one = [sum(b) for b in blocks]
        two = [int("".join(map(str, b)).ljust(8, "0"), 2) for b in blocks]
        dirs, coll, per, cov, med_seq, med = one, two, one, one, ranks, 0.5
    else:
        dirs, coll, per, cov, med_seq, med = ranks, ranks, ranks, raw, ranks, median(ranks)
    d = [-1 if a > b else 1 for a, b in zip(dirs, dirs[1:])]
    found = collisions(coll)
    out = [float(best), *runs(d), max(d.count(1), d.count(-1)), *runs([-1 if x < med else 1 for x in med_seq]),
           sum(found) / len(found) if found else 0.0, max(found) if found else 0]
    out += [sum(per[i] == per[i + p] for i in range(len(per) - p)) for p in (1, 2, 8, 16, 32)]
    out += [sum(cov[i] * cov[i + p] for i in range(len(cov) - p)) for p in (1, 2, 8, 16, 32)]
    out.append(compression(raw))
    return dict(zip(NAMES, map(float, out)))


def added(counts, total):
    """Proportions as the tool builds them: 1/L added once per occurrence."""
    share, out = 1.0 / total, []
    for c in counts:
        p = 0.0
        for _ in range(c):
            p += share
        out.append(p)
    return out


def counts_by_rank(ranks, k):
    counts = [0] * k
    for r in ranks:
        counts[r] += 1
    return counts


def _bins(expected_items):
    """(expected, item) pairs in order into bins of at least 5; a short rest joins the last bin."""
    bins, open_e, members = [], 0.0, []
    for e, item in expected_items:
        open_e += e
        members.append(item)
        if open_e >= 5:
            bins.append([open_e, members])
            open_e, members = 0.0, []
    if members:
        if not bins:
            bins.append([0.0, []])
        bins[-1][0] += open_e
        bins[-1][1] += members
    return bins


def chi_square(samples):
    """((T, df) of independence, (T, df) of goodness of fit), as the tool computes them."""
    raw, ranks, k = prepare(samples)
    n = len(ranks)
    counts = counts_by_rank(ranks, k)
    if k == 2:
        p0, p1 = counts[0] / n, counts[1] / n
        m = 11
        while m > 1 and min(p0, p1) ** m * (n // m) < 5:
            m -= 1
        tuples = n // m
        seen = [0] * (1 << m)
        for t in range(tuples):
            seen[int("".join(map(str, ranks[t * m:(t + 1) * m])), 2)] += 1
        t_ind = 0.0
        for v in range(1 << m):
            w = bin(v).count("1")
            e = p1 ** w * p0 ** (m - w) * tuples
            t_ind += (seen[v] - e) ** 2 / e
        part, t_fit = n // 10, 0.0
        for d in range(10):
            o1 = sum(ranks[d * part:(d + 1) * part])
            o0, e0, e1 = part - o1, p0 * part, p1 * part
            t_fit += (o0 - e0) ** 2 / e0 + (o1 - e1) ** 2 / e1
        return (t_ind, 2 ** m - 2), (t_fit, 9)
    p = added(counts, n)
    half = n // 2
    pairs = sorted((p[i] * p[j] * half, i * k + j) for i in range(k) for j in range(k))
    observed = [0] * (k * k)
    for a in range(half):
        observed[ranks[2 * a] * k + ranks[2 * a + 1]] += 1
    t_ind = 0.0
    for e, members in _bins(pairs):
        o = float(sum(observed[m] for m in members))
        t_ind += (o - e) ** 2 / e
    part = n // 10
    bins = _bins(sorted((p[r] * part, r) for r in range(k)))
    t_fit = 0.0
    for d in range(10):
        chunk = ranks[d * part:(d + 1) * part]
        in_part = 0.0
        for e, members in bins:
            o = sum(chunk.count(m) for m in members)
            in_part += (o - e) ** 2 / e
        t_fit += in_part
    return (t_ind, len(_bins(pairs)) - k), (t_fit, 9 * (len(bins) - 1))


def collision_probability(samples):
    raw, ranks, k = prepare(samples)
    total = LONG(0)
    for p in added(counts_by_rank(ranks, k), len(ranks)):
        total += LONG(p) * LONG(p)
    return total


def longest_repeat(samples):
    s = bytes(samples)
    best = 0
    for length in range(1, len(s)):
        seen = {s[i:i + length] for i in range(len(s) - length + 1)}
        if len(seen) == len(s) - length + 1:
            break
        best = length
    return best


MASK = (1 << 64) - 1


class Xoshiro:
    """xoshiro256** 1.0 and NIST's tool's draw of an index in [0, i]."""

    def __init__(self, seed: bytes):
        self.s = list(struct.unpack("<4Q", seed))

    def next(self):
        s = self.s
        rotl = lambda x, k: ((x << k) | (x >> (64 - k))) & MASK  # noqa: E731
        result = (rotl((s[1] * 5) & MASK, 7) * 9) & MASK
        t = (s[1] << 17) & MASK
        s[2] ^= s[0]
        s[3] ^= s[1]
        s[1] ^= s[2]
        s[0] ^= s[3]
        s[2] ^= t
        s[3] = rotl(s[3], 45)
        return result

    def draw(self, i):
        limit = (1 << 64) % (i + 1)
        while True:
            m = self.next() * (i + 1)
            if m & MASK >= limit:
                return m >> 64


def permutation_test(samples, seed, rounds=10000):
    """{name: [C0, C1, C2]} and the rounds made, one round after the other."""
    raw = list(samples)
    original = statistics(raw)
    counters = {name: [0, 0, 0] for name in NAMES}
    active, rng, done = set(NAMES), Xoshiro(seed), 0
    while active and done < rounds:
        for i in range(len(raw) - 1, 0, -1):
            j = rng.draw(i)
            raw[i], raw[j] = raw[j], raw[i]
        now = statistics(raw)
        done += 1
        for name in list(active):
            c = counters[name]
            c[0 if now[name] > original[name] else 1 if now[name] == original[name] else 2] += 1
            if c[0] + c[1] > 5 and c[1] + c[2] > 5:
                active.discard(name)
    return counters, done
