"""Validation messages of the entry operations."""

import math

import pytest

from strokegraph import _internal

CURVE = [(0.0, 0.0), (10.0, 0.0)]


@pytest.mark.parametrize(
    "fs, text",
    [(0.0, "0"), (-0.0, "-0"), (-1.0, "-1"), (math.nan, "NaN"), (math.inf, "inf"), (-math.inf, "-inf"), (-2.5, "-2.5"), (-1e22, "-10000000000000000000000")],
)
@pytest.mark.parametrize(
    "call",
    [
        lambda fs: _internal.topologize([CURVE], 1.0, fs),
        lambda fs: _internal.inflate_curves([CURVE], 1.0, fs),
        lambda fs: _internal.triangulate_curves([CURVE], 1.0, fs),
        lambda fs: _internal.topologize_batch([([CURVE], 1.0, fs) + (None,) * 8]),
    ],
)
def test_feature_size_must_be_positive_and_finite(call, fs, text):
    with pytest.raises(ValueError) as info:
        call(fs)
    assert str(info.value) == f"feature_size must be a positive finite number, got {text}"
    assert info.value.args == (str(info.value),)


def test_smallest_subnormal_feature_size_passes():
    assert _internal.topologize([], 1.0, 5e-324) == ([], [], [], [])


@pytest.mark.parametrize(
    "fn", [_internal.topologize, _internal.inflate_curves, _internal.triangulate_curves]
)
def test_per_curve_widths_validation(fn):
    with pytest.raises(ValueError) as info:
        fn([], 1.0, 1.0, per_curve_widths=[[1.0, 1.0]])
    assert str(info.value) == "per_curve_widths has an entry for curve 0 but only 0 curve(s) were given"
    with pytest.raises(ValueError) as info:
        fn([CURVE], 1.0, 1.0, per_curve_widths=[[1.0]])
    assert str(info.value) == (
        "per_curve_widths[0] has 1 entries but curve 0 has 2 points; they must match "
        "(or pass an empty list to use the uniform buffer)"
    )
    # Empty entries are never checked, also beyond the last curve; fewer entries are fine.
    fn([CURVE], 1.0, 1.0, per_curve_widths=[[], [], []])
    fn([CURVE, CURVE], 1.0, 1.0, per_curve_widths=[[1.0, 2.0]])
    fn([CURVE], 1.0, 1.0, per_curve_widths=[])


def test_feature_size_is_checked_before_widths():
    with pytest.raises(ValueError, match="feature_size"):
        _internal.inflate_curves([], 1.0, 0.0, per_curve_widths=[[1.0]])


def test_buffer_distance_and_optional_values_are_never_rejected():
    for bd in (0.0, -1.0, math.nan, math.inf):
        _internal.topologize([CURVE], bd, 1.0)
    _internal.topologize(
        [CURVE], 1.0, 1.0, simplification=math.nan, min_tip_fraction=-1, junction_merge_fraction=0,
        subdivision_ratio=math.inf, resample=-3, boundary_simplification=math.nan, merge_tolerance=-1,
    )


JOB = ([CURVE], 1.0, 1.0, None, None, None, None, None, None, None, None)


def test_batch_job_conversion_messages():
    with pytest.raises(TypeError) as info:
        _internal.topologize_batch([list(JOB)])
    assert str(info.value) == "argument 'jobs': 'list' object cannot be converted to 'tuple'"
    with pytest.raises(ValueError) as info:
        _internal.topologize_batch([JOB[:10]])
    assert str(info.value) == "expected tuple of length 11, but got tuple of length 10"
    with pytest.raises(TypeError, match=r"^argument 'jobs': must be real number, not NoneType$"):
        _internal.topologize_batch([([CURVE], None) + JOB[2:]])
    with pytest.raises(TypeError, match=r"^argument 'jobs': Can't extract `str` to `Vec`$"):
        _internal.topologize_batch("jobs")
    with pytest.raises(OverflowError):
        _internal.topologize_batch([JOB[:6] + (-1,) + JOB[7:]])


def test_batch_accepts_tuple_subclasses_and_checks_every_feature_size_first():
    Job = type("Job", (tuple,), {})
    assert _internal.topologize_batch([Job(JOB)]) == _internal.topologize_batch([JOB]) != [([], [], [])]
    bad = JOB[:2] + (0.0,) + JOB[3:]
    # A job that would fail in the pipeline comes first; the feature size still wins.
    failing = JOB[:6] + (0,) + JOB[7:]
    with pytest.raises(ValueError) as info:
        _internal.topologize_batch([failing, JOB, bad])
    assert str(info.value) == "feature_size must be a positive finite number, got 0"
