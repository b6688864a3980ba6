"""Binding of call arguments to parameters: shape errors, their order and wording."""

import pytest
from hypothesis import example, given, settings, strategies as st

import _veltrane

shannon = _veltrane.shannon_entropy
strings_frag = _veltrane.strings_frag

FIND = strings_frag.find_non_overlapping_fragments
FUNCTIONS = [
    (_veltrane.ping, "ping", ("x",)),
    (shannon.measure_entropy, "measure_entropy", ("data",)),
    (shannon.measure_metric_entropy, "measure_metric_entropy", ("data",)),
    (shannon.measure_normalized_metric_entropy, "measure_normalized_metric_entropy", ("data",)),
    (_veltrane.min_entropy.measure_entropy, "measure_entropy", ("data",)),
    (FIND, "find_non_overlapping_fragments", ("data", "count", "times", "global_non_overlap")),
]
# Per parameter, a value that converts, and one that does not with the error it raises.
GOOD = {"x": 21, "data": b"abab", "count": 3, "times": 2, "global_non_overlap": False}
BAD = {"x": (-1, OverflowError), "data": (None, TypeError), "count": (-1, OverflowError),
       "times": (1.5, TypeError), "global_non_overlap": (1, TypeError)}
STRAY_KEYWORDS = ("other", "Data", "data_", "X", "count ", "x", "data", "times")


def expected_binding_error(name, params, npos, keywords):
    """The interpreter-style message for a malformed call, or None when the call binds."""
    if npos > len(params):
        verb = "was" if npos == 1 else "were"
        return f"{name}() takes {len(params)} positional arguments but {npos} {verb} given"
    filled = set(params[:npos])
    for kw in keywords:
        if kw not in params:
            return f"{name}() got an unexpected keyword argument '{kw}'"
        if kw in filled:
            return f"{name}() got multiple values for argument '{kw}'"
        filled.add(kw)
    missing = [f"'{p}'" for p in params if p not in filled]
    if not missing:
        return None
    if len(missing) == 1:
        listed = missing[0]
    elif len(missing) == 2:
        listed = " and ".join(missing)
    else:
        listed = ", ".join(missing[:-1]) + ", and " + missing[-1]
    word = "argument" if len(missing) == 1 else "arguments"
    return f"{name}() missing {len(missing)} required positional {word}: {listed}"


def call_outcome(func, args, kwargs):
    try:
        result = func(*args, **kwargs)
    except Exception as exc:
        return exc
    return result


def assert_good_result(func, result):
    if func is FIND:
        assert result == FIND(GOOD["data"], GOOD["count"], GOOD["times"], GOOD["global_non_overlap"])
    elif func is _veltrane.ping:
        assert result == 2 * GOOD["x"]
    else:
        assert not isinstance(result, BaseException), repr(result)
        assert result.hex() == func(GOOD["data"]).hex()


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: shannon.measure_entropy(), "measure_entropy() missing 1 required positional argument: 'data'"),
        (lambda: FIND(b"ab"), "find_non_overlapping_fragments() missing 3 required positional arguments: "
                              "'count', 'times', and 'global_non_overlap'"),
        (lambda: FIND(b"ab", 1), "find_non_overlapping_fragments() missing 2 required positional arguments: "
                                 "'times' and 'global_non_overlap'"),
        (lambda: FIND(count=1, times=2), "find_non_overlapping_fragments() missing 2 required positional "
                                         "arguments: 'data' and 'global_non_overlap'"),
        (lambda: shannon.measure_entropy(b"a", b"b"),
         "measure_entropy() takes 1 positional arguments but 2 were given"),
        (lambda: _veltrane.ping(1, 2), "ping() takes 1 positional arguments but 2 were given"),
        (lambda: FIND(1, 2, 3, 4, 5),
         "find_non_overlapping_fragments() takes 4 positional arguments but 5 were given"),
        (lambda: shannon.measure_entropy(b"a", data=b"b"),
         "measure_entropy() got multiple values for argument 'data'"),
        (lambda: shannon.measure_entropy(b"a", other=1),
         "measure_entropy() got an unexpected keyword argument 'other'"),
        (lambda: shannon.measure_entropy(other=1), "measure_entropy() got an unexpected keyword argument 'other'"),
        # Too many positionals wins over a bad keyword; the first bad keyword wins over later ones.
        (lambda: _veltrane.ping(1, 2, y=3), "ping() takes 1 positional arguments but 2 were given"),
        (lambda: _veltrane.ping(1, x=2, y=3), "ping() got multiple values for argument 'x'"),
        (lambda: _veltrane.ping(1, y=3, x=2), "ping() got an unexpected keyword argument 'y'"),
        # Matching is exact: no case folding, and a name that is not valid UTF-8 matches nothing.
        (lambda: shannon.measure_entropy(DATA=b"a"), "measure_entropy() got an unexpected keyword argument 'DATA'"),
        (lambda: _veltrane.ping(**{"x\ud800": 1}), "ping() got an unexpected keyword argument 'x\ud800'"),
    ],
)
def test_binding_messages(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert str(info.value) == message
    assert not hasattr(info.value, "__notes__")


@settings(max_examples=400, deadline=None)
@given(
    which=st.integers(0, len(FUNCTIONS) - 1),
    npos=st.integers(0, 6),
    keywords=st.lists(st.sampled_from(STRAY_KEYWORDS + ("count", "global_non_overlap")), unique=True, max_size=5),
    bad=st.frozensets(st.sampled_from(tuple(GOOD))),
)
@example(which=5, npos=0, keywords=["global_non_overlap", "times", "count", "data"], bad=frozenset())
@example(which=5, npos=2, keywords=["global_non_overlap", "times"], bad=frozenset())
@example(which=0, npos=0, keywords=["x"], bad=frozenset())
def test_random_call_shapes_follow_the_binding_rules(which, npos, keywords, bad):
    func, name, params = FUNCTIONS[which]
    slot_names = list(params) + ["extra"] * max(0, npos - len(params))
    value = lambda p: BAD[p][0] if p in bad else GOOD.get(p, 0)  # noqa: E731
    args = [value(p) for p in slot_names[:npos]]
    kwargs = {kw: value(kw) for kw in keywords}
    got = call_outcome(func, args, kwargs)

    message = expected_binding_error(name, params, npos, keywords)
    if message is not None:
        # Shape errors come before any conversion, so bad values never show through.
        assert type(got) is TypeError and str(got) == message
        assert not hasattr(got, "__notes__")
    elif any(p in bad for p in params):
        first_bad = next(p for p in params if p in bad)
        assert type(got) is BAD[first_bad][1], repr(got)
        assert got.__notes__ == [f"while processing '{first_bad}'"]
    else:
        assert_good_result(func, got)
    # Whatever happened, nothing lingers for the next call.
    assert _veltrane.ping(5) == 10
    assert shannon.measure_entropy(b"ab") == 1.0
