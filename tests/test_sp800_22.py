"""veltrane.sp800_22 against NIST's program: every p-value of the recorded runs, in compatible mode and in the default.

tests/data/sp800_22 holds NIST's data files and the trees its program (sts 2.1.2) wrote for them
(README.md there); results.txt lists each sequence's p-values of a test, one per line, as printed with six
decimals. In compatible mode every one of them must come out the same. The default mode must agree too,
except for the tests whose figures it computes differently (listed in `differences`, checked here one by
one); the stats.txt figures are compared through the report tree in test_sp800_22_report.py.
"""
import pathlib

import pytest

import veltrane

DATA = pathlib.Path(__file__).parent / "data" / "sp800_22"
# (folder, data file, bits, length)
RUNS = [("sts-data.e", "data.e", "ascii", 1_000_000), ("sts-data.pi", "data.pi", "ascii", 1_000_000),
        ("sts-data.sqrt2", "data.sqrt2", "ascii", 1_000_000), ("sts-data.sha1", "data.sha1", "bytes", 1_000_000),
        ("sts-data.e-10x100000", "data.e", "ascii", 100_000)]
PROGRAM_NAMES = dict(veltrane._sp800_22_options.TESTS)


def recorded_p_values(folder, name):
    return (DATA / folder / PROGRAM_NAMES[name] / "results.txt").read_text().split()


def our_p_values(result, name):
    """The lines our report tree writes to the test's results.txt: every p-value of every sequence."""
    out = []
    for s in result.sequences:
        figures = s.test(name)
        if name.startswith("random_excursions") and not figures.applicable:
            out += ["0.000000"] * len(figures.states)  # as the program writes them
        elif name == "universal" and not figures.applicable:
            continue  # the program writes nothing
        else:
            out += [f"{p:.6f}" for p in figures.p_values]
    return out


@pytest.fixture(scope="module", params=RUNS, ids=[r[0] for r in RUNS])
def run(request):
    folder, data, bits, length = request.param
    content = (DATA / data).read_bytes()
    count = 10 if length == 100_000 else 1
    return folder, {mode: veltrane.sp800_22(content, bits=bits, length=length, sequences=count, compatible=mode)
                    for mode in (True, False)}


@pytest.mark.parametrize("name", list(PROGRAM_NAMES))
def test_every_p_value_is_the_programs(run, name):
    folder, results = run
    assert our_p_values(results[True], name) == recorded_p_values(folder, name)


# The tests whose default figures differ from the program's on purpose (see `differences`); those of
# the random excursions test differ in a chi-square's sixth decimal at most, and print the same here.
DIFFERING = {"overlapping_template", "linear_complexity"}
NOTED = DIFFERING | {"random_excursions"}


@pytest.mark.parametrize("name", list(PROGRAM_NAMES))
def test_the_default_mode_agrees_except_where_it_mends(run, name):
    folder, results = run
    default, compatible = results[False], results[True]
    if name not in default.tests:
        assert name == "universal" and default.length < 387_840 and any("universal" in n for n in default.notes)
        return
    differs = name in DIFFERING or (name == "longest_run" and default.parameters.longest_run_block_length == 10_000)
    assert (our_p_values(default, name) != our_p_values(compatible, name)) == differs
    assert any(d.startswith(name + ":") for d in default.differences) == (differs or name in NOTED)
    assert not compatible.differences
