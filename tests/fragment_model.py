"""A small, slow, independent model of the repeated-fragment search.

Per length: a dict from window content to its start positions; a greedy
left-to-right pick of non-overlapping occurrences; a sort by (covered length,
length, count) descending with ties by first start; then the walk.
"""


def candidates(seq, times):
    n = len(seq)
    if n == 0 or times == 0 or times > n:
        return []
    found = []
    for length in range(1, n // times + 1):
        windows = {}
        for j in range(n - length + 1):
            windows.setdefault(tuple(seq[j:j + length]), []).append(j)
        for positions in windows.values():
            chosen, last_end = [], 0
            for p in positions:
                if p >= last_end:
                    chosen.append((p, p + length))
                    last_end = p + length
            if len(chosen) >= times:
                found.append((len(chosen) * length, length, len(chosen), chosen))
    return found


def search(seq, count, times, global_non_overlap):
    ranked = sorted(candidates(seq, times), key=lambda c: (-c[0], -c[1], -c[2], c[3][0][0]))
    taken = [False] * len(seq)
    result = []
    for _, _, _, intervals in ranked:
        if len(result) >= count:
            break
        if global_non_overlap:
            if any(taken[p] for s, e in intervals for p in range(s, e)):
                continue
            for s, e in intervals:
                for p in range(s, e):
                    taken[p] = True
        result.append({"id": len(result), "occurrences": [{"start": s, "end": e} for s, e in intervals]})
    return result
