"""Each SP 800-22 test's block of stats.txt for one sequence, in the layout of NIST's program (sts 2.1.2).

The blocks repeat the program's labels, rules and spacing character for character, so that a tree we write
compares with the program's by `diff`; where the program prints nothing we could read off its outputs (a
runs test whose frequency prerequisite fails, blocks of 8 bits for the longest runs), the block follows
the same pattern. Figures print as C's %f does (Python's % formatting is the same).
"""
from __future__ import annotations

from typing import Any, Callable

from .._sp800_22_tests import (ApproximateEntropyTest, BlockFrequencyTest, CumulativeSumsTest, DftTest, FrequencyTest,
                               LinearComplexityTest, LongestRunTest, NonOverlappingTemplateTest,
                               OverlappingTemplateTest, RandomExcursionsTest, RandomExcursionsVariantTest, RankTest,
                               RunsTest, SerialTest, UniversalTest)

ALPHA = 0.01
D42, D43, D44, D45, D47 = ("\t\t" + "-" * k + "\n" for k in (42, 43, 44, 45, 47))
INFO = "\t\tCOMPUTATIONAL INFORMATION:\n"


def verdict(p: float) -> str:
    return "FAILURE" if p < ALPHA else "SUCCESS"


def verdict_line(p: float, name: str = "p_value") -> str:
    return f"{verdict(p)}\t\t{name} = {p:f}\n"


def frequency(f: FrequencyTest, n: int) -> str:
    return ("\t\t\t      FREQUENCY TEST\n" + D45 + INFO + D45 + f"\t\t(a) The nth partial sum = {f.sum}\n"
            f"\t\t(b) S_n/n               = {f.ratio:f}\n" + D45 + verdict_line(f.p_value) + "\n")


def block_frequency(f: BlockFrequencyTest, n: int) -> str:
    return ("\t\t\tBLOCK FREQUENCY TEST\n" + D45 + INFO + D45 + f"\t\t(a) Chi^2           = {f.chi_square:f}\n"
            f"\t\t(b) # of substrings = {f.blocks}\n\t\t(c) block length    = {f.block_length}\n"
            f"\t\t(d) Note: {f.discarded} bits were discarded.\n" + D45 + verdict_line(f.p_value) + "\n")


def cumulative_sums(f: CumulativeSumsTest, n: int) -> str:
    out = ""
    for way, z, p in (("FORWARD", f.forward_max, f.p_forward), ("REVERSE", f.backward_max, f.p_backward)):
        out += (f"\t\t      CUMULATIVE SUMS ({way}) TEST\n" + D43 + INFO + D43 +
                f"\t\t(a) The maximum partial sum = {z}\n" + D43 + verdict_line(p) + "\n")
    return out


def runs(f: RunsTest, n: int) -> str:
    head = "\t\t\t\tRUNS TEST\n" + D42
    if not f.prerequisite:
        return head + f"\t\tPI ESTIMATOR CRITERIA NOT MET! PI = {f.pi:f}\n" + verdict_line(f.p_value) + "\n"
    return (head + INFO + D42 + f"\t\t(a) Pi                        = {f.pi:f}\n"
            f"\t\t(b) V_n_obs (Total # of runs) = {f.runs}\n\t\t(c) V_n_obs - 2 n pi (1-pi)\n"
            f"\t\t    -----------------------   = {f.statistic:f}\n\t\t      2 sqrt(2n) pi (1-pi)\n" + D42 +
            verdict_line(f.p_value) + "\n")


def longest_run(f: LongestRunTest, n: int) -> str:
    last = f.first + len(f.counts) - 1
    labels = [f"<={f.first}"] + [str(v) for v in range(f.first + 1, last)] + [f">={last}"]
    header = "  ".join(labels) if f.block_length == 128 else " ".join(
        [labels[0]] + [f"{v:>3}" for v in labels[1:-1]] + [f"{labels[-1]:>4}"])
    row = "".join(f"{c:4d}" for c in f.counts[:-1]) + f"{f.counts[-1]:5d}"
    return ("\t\t\t  LONGEST RUNS OF ONES TEST\n" + D45 + INFO + D45 +
            f"\t\t(a) N (# of substrings)  = {f.blocks}\n\t\t(b) M (Substring Length) = {f.block_length}\n"
            f"\t\t(c) Chi^2                = {f.chi_square:f}\n" + D45 + "\t\t      F R E Q U E N C Y\n" + D45 +
            f"\t\t{header} P-value  Assignment\n\t\t{row} {verdict(f.p_value)}\t\tp_value = {f.p_value:f}\n\n")


def rank(f: RankTest, n: int) -> str:
    p, c = f.probabilities, f.counts
    return ("\t\t\t\tRANK TEST\n" + D45 + INFO + D45 + f"\t\t(a) Probability P_32 = {p[0]:f}\n"
            f"\t\t(b)             P_31 = {p[1]:f}\n\t\t(c)             P_30 = {p[2]:f}\n"
            f"\t\t(d) Frequency   F_32 = {c[0]}\n\t\t(e)             F_31 = {c[1]}\n"
            f"\t\t(f)             F_30 = {c[2]}\n\t\t(g) # of matrices    = {f.matrices}\n"
            f"\t\t(h) Chi^2            = {f.chi_square:f}\n\t\t(i) NOTE: {f.discarded} BITS WERE DISCARDED.\n" +
            D45 + verdict_line(f.p_value) + "\n")


def dft(f: DftTest, n: int) -> str:
    return ("\t\t\t\tFFT TEST\n" + D43 + INFO + D43 + f"\t\t(a) Percentile = {f.percentile:f}\n"
            f"\t\t(b) N_l        = {float(f.below):f}\n\t\t(c) N_o        = {f.expected:f}\n"
            f"\t\t(d) d          = {f.d:f}\n" + D43 + verdict_line(f.p_value) + "\n")


def non_overlapping_template(f: NonOverlappingTemplateTest, n: int) -> str:
    rule = "-" * 85 + "\n"
    out = ["\t\t  NONPERIODIC TEMPLATES TEST\n", rule, "\t\t  COMPUTATIONAL INFORMATION\n", rule,
           f"\tLAMBDA = {f.mean:f}\tM = {f.block_length}\tN = {f.blocks}\tm = {f.template_length}\tn = {n}\n", rule,
           "\t\tF R E Q U E N C Y\n",
           "Template " + "".join(f"  W_{j + 1}" for j in range(f.blocks)) + "    Chi^2   P_value Assignment Index\n",
           rule]
    for i, t in enumerate(f.templates):
        counts = "".join(f"{c:5d}" for c in t.counts)
        out.append(f"{t.template}{counts}{t.chi_square:10.6f} {t.p_value:f} {verdict(t.p_value)} {i:3d}\n")
    return "".join(out) + "\n"


def overlapping_template(f: OverlappingTemplateTest, n: int) -> str:
    return ("\t\t    OVERLAPPING TEMPLATE OF ALL ONES TEST\n" + D47 + INFO + D47 +
            f"\t\t(a) n (sequence_length)      = {n}\n\t\t(b) m (block length of 1s)   = {f.template_length}\n"
            f"\t\t(c) M (length of substring)  = {f.block_length}\n\t\t(d) N (number of substrings) = {f.blocks}\n"
            f"\t\t(e) lambda [(M-m+1)/2^m]     = {f.lambda_:f}\n\t\t(f) eta                      = {f.eta:f}\n" +
            D47 + "\t\t   F R E Q U E N C Y\n\t\t  0   1   2   3   4 >=5   Chi^2   P-value  Assignment\n" + D47 +
            "\t\t" + "".join(f"{c:3d} " for c in f.counts) +
            f" {f.chi_square:f} {f.p_value:f} {verdict(f.p_value)}\n\n")


def universal(f: UniversalTest, n: int) -> str:
    if not f.applicable:
        return ("\t\tUNIVERSAL STATISTICAL TEST\n" + D45 + "\t\tERROR:  L IS OUT OF RANGE.\n"
                "\t\t-OR- :  Q IS LESS THAN 320.000000.\n\t\t-OR- :  Unable to allocate T.\n")
    return ("\t\tUNIVERSAL STATISTICAL TEST\n" + D44 + INFO + D44 + f"\t\t(a) L         = {f.block_length}\n"
            f"\t\t(b) Q         = {f.initial_blocks}\n\t\t(c) K         = {f.test_blocks}\n"
            f"\t\t(d) sum       = {f.sum:f}\n\t\t(e) sigma     = {f.sigma:f}\n\t\t(f) variance  = {f.variance:f}\n"
            f"\t\t(g) exp_value = {f.expected:f}\n\t\t(h) phi       = {f.phi:f}\n"
            f"\t\t(i) WARNING:  {f.discarded} bits were discarded.\n\t\t" + "-" * 41 + "\n" +
            verdict_line(f.p_value) + "\n")


def approximate_entropy(f: ApproximateEntropyTest, n: int) -> str:
    return ("\t\t\tAPPROXIMATE ENTROPY TEST\n" + D44 + INFO + D44 + f"\t\t(a) m (block length)    = {f.block_length}\n"
            f"\t\t(b) n (sequence length) = {n}\n\t\t(c) Chi^2               = {f.chi_square:f}\n"
            f"\t\t(d) Phi(m)\t       = {f.phi_m:f}\n\t\t(e) Phi(m+1)\t       = {f.phi_m1:f}\n"
            f"\t\t(f) ApEn                = {f.apen:f}\n\t\t(g) Log(2)              = 0.693147\n" + D44 +
            verdict_line(f.p_value) + "\n")


NOT_APPLICABLE = ("\t\tWARNING:  TEST NOT APPLICABLE.  THERE ARE AN\n\t\t\t  INSUFFICIENT NUMBER OF CYCLES.\n" + D45 +
                  "\n")


def random_excursions(f: RandomExcursionsTest, n: int) -> str:
    head = ("\t\t\t  RANDOM EXCURSIONS TEST\n" + D44 + INFO + D44 + f"\t\t(a) Number Of Cycles (J) = {f.cycles:04d}\n"
            f"\t\t(b) Sequence Length (n)  = {n}\n")
    if not f.applicable:
        return head + D45 + NOT_APPLICABLE
    rows = "".join(f"{verdict(s.p_value or 0.0)}\t\tx = {s.state:2d} chi^2 = {s.chi_square or 0.0:9.6f} "
                   f"p_value = {s.p_value or 0.0:f}\n" for s in f.states)
    return head + f"\t\t(c) Rejection Constraint = {f.constraint:f}\n" + D43 + rows + "\n"


def random_excursions_variant(f: RandomExcursionsVariantTest, n: int) -> str:
    head = ("\t\t\tRANDOM EXCURSIONS VARIANT TEST\n" + D44 + INFO + D44 + f"\t\t(a) Number Of Cycles (J) = {f.cycles}\n"
            f"\t\t(b) Sequence Length (n)  = {n}\n" + D44)
    if not f.applicable:
        return head + "\n" + NOT_APPLICABLE
    return head + "".join(f"{verdict(s.p_value or 0.0)}\t\t(x = {s.state:2d}) Total visits = {s.visits:4d}; "
                          f"p-value = {s.p_value or 0.0:f}\n" for s in f.states) + "\n"


def serial(f: SerialTest, n: int) -> str:
    return ("\t\t\t       SERIAL TEST\n" + D45 + "\t\t COMPUTATIONAL INFORMATION:\t\t  \n" + D45 +
            f"\t\t(a) Block length    (m) = {f.block_length}\n\t\t(b) Sequence length (n) = {n}\n"
            f"\t\t(c) Psi_m               = {f.psi_m:f}\n\t\t(d) Psi_m-1             = {f.psi_m1:f}\n"
            f"\t\t(e) Psi_m-2             = {f.psi_m2:f}\n\t\t(f) Del_1               = {f.del1:f}\n"
            f"\t\t(g) Del_2               = {f.del2:f}\n" + D45 + verdict_line(f.p_value1, "p_value1") +
            verdict_line(f.p_value2, "p_value2") + "\n")


def linear_complexity(f: LinearComplexityTest, n: int) -> str:
    rule = "-" * 53 + "\n"
    return (rule + "\tL I N E A R  C O M P L E X I T Y\n" + rule + f"\tM (substring length)     = {f.block_length}\n"
            f"\tN (number of substrings) = {f.blocks}\n" + rule + "        F R E Q U E N C Y" + " " * 28 + "\n" +
            rule + "  C0   C1   C2   C3   C4   C5   C6    CHI2    P-value\n" + rule +
            f"\tNote: {f.discarded} bits were discarded!\n" + "".join(f"{c:4d} " for c in f.counts) +
            f"{f.chi_square:9.6f}{f.p_value:9.6f}\n")


#: Each test's block, by the test's name.
BLOCKS: dict[str, Callable[[Any, int], str]] = {
    "frequency": frequency, "block_frequency": block_frequency, "cumulative_sums": cumulative_sums, "runs": runs,
    "longest_run": longest_run, "rank": rank, "dft": dft, "non_overlapping_template": non_overlapping_template,
    "overlapping_template": overlapping_template, "universal": universal, "approximate_entropy": approximate_entropy,
    "random_excursions": random_excursions, "random_excursions_variant": random_excursions_variant,
    "serial": serial, "linear_complexity": linear_complexity,
}
