"""Conversion of Python arguments and the messages of failed conversions."""

import collections
import collections.abc

import numpy as np
import pytest

from strokegraph import _internal

CURVE = [(0, 0), (10, 0)]


class Seq:
    """A sequence that only supports item access and len."""

    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class BadLen(Seq):
    def __len__(self):
        raise RuntimeError("no length")


class FloatLike:
    def __float__(self):
        return 2.5


class IndexLike:
    def __index__(self):
        return 3


Pt = collections.namedtuple("Pt", "x y")


class RegisteredOnly:
    pass


collections.abc.Sequence.register(RegisteredOnly)


FLOATS = [[(0.0, 0.0), (10.0, 0.0)]]


@pytest.mark.parametrize(
    "curves, reference",
    [
        ([CURVE], FLOATS),
        ([tuple(CURVE)], FLOATS),
        ((CURVE,), FLOATS),
        ([[Pt(0, 0), Pt(10.0, 0)]], FLOATS),
        ([Seq(CURVE)], FLOATS),
        (Seq([CURVE]), FLOATS),
        (BadLen([BadLen(CURVE)]), FLOATS),
        ([[(np.float64(0), np.int64(0)), (FloatLike(), IndexLike())]], [[(0.0, 0.0), (2.5, 3.0)]]),
    ],
)
def test_accepted_curve_lists(curves, reference):
    assert _internal.inflate_curves(curves, 1, 1) == _internal.inflate_curves(reference, 1, 1) != []
    assert _internal.topologize(curves, 1, 1) == _internal.topologize(reference, 1, 1)


@pytest.mark.parametrize("curves", [range(0), [], (), [[]], [()]])
def test_empty_curve_lists(curves):
    assert _internal.topologize(curves, 1, 1) == ([], [], [], [])
    assert _internal.inflate_curves(curves, 1, 1) == []


@pytest.mark.parametrize(
    "curves, exc, message",
    [
        ([[[0, 0], [10, 0]]], TypeError, "argument 'curves': 'list' object cannot be converted to 'tuple'"),
        ([[(0, 0, 0)]], ValueError, "expected tuple of length 3, but got tuple of length 3".replace("length 3, but", "length 2, but")),
        ([[(0,)]], ValueError, "expected tuple of length 2, but got tuple of length 1"),
        ("abc", TypeError, "argument 'curves': Can't extract `str` to `Vec`"),
        (["abc"], TypeError, "argument 'curves': Can't extract `str` to `Vec`"),
        ({"a": 1}, TypeError, "argument 'curves': 'dict' object cannot be converted to 'Sequence'"),
        ({(0, 0)}, TypeError, "argument 'curves': 'set' object cannot be converted to 'Sequence'"),
        (iter([CURVE]), TypeError, "argument 'curves': 'list_iterator' object cannot be converted to 'Sequence'"),
        ((c for c in [CURVE]), TypeError, "argument 'curves': 'generator' object cannot be converted to 'Sequence'"),
        (RegisteredOnly(), TypeError, "argument 'curves': 'RegisteredOnly' object cannot be converted to 'Sequence'"),
        (5, TypeError, "argument 'curves': 'int' object cannot be converted to 'Sequence'"),
        ([[("a", 0)]], TypeError, "argument 'curves': must be real number, not str"),
        ([[(None, 0)]], TypeError, "argument 'curves': must be real number, not NoneType"),
    ],
)
def test_rejected_curve_lists(curves, exc, message):
    with pytest.raises(exc) as info:
        _internal.topologize(curves, 1.0, 1.0)
    assert str(info.value) == message
    assert type(info.value) is exc


def test_number_conversion_errors_name_the_parameter():
    with pytest.raises(TypeError, match=r"^argument 'buffer_distance': must be real number, not str$"):
        _internal.topologize([], "1", 1.0)
    with pytest.raises(TypeError, match=r"^argument 'feature_size': must be real number, not NoneType$"):
        _internal.inflate_curves([], 1.0, None)
    with pytest.raises(TypeError, match=r"^argument 'resample': must be real number, not list$"):
        _internal.triangulate_curves([], 1.0, 1.0, resample=[])
    with pytest.raises(OverflowError):
        _internal.topologize([], 10**400, 1.0)


def test_conversion_stops_at_the_first_failing_argument():
    # curves fails before the bad feature_size is even looked at.
    with pytest.raises(TypeError, match="argument 'curves'"):
        _internal.topologize("abc", 1.0, "x")


@pytest.mark.parametrize("flag", [True, False, np.bool_(True), np.bool_(False)])
def test_compute_widths_accepts_bools(flag):
    assert _internal.topologize([], 1.0, 1.0, compute_widths=flag) == ([], [], [], [])


@pytest.mark.parametrize("flag, type_name", [(None, "NoneType"), (1, "int"), (0, "int"), (1.0, "float"), ("yes", "str")])
def test_compute_widths_rejects_non_bools(flag, type_name):
    with pytest.raises(TypeError) as info:
        _internal.topologize([], 1.0, 1.0, compute_widths=flag)
    assert str(info.value) == f"argument 'compute_widths': '{type_name}' object cannot be converted to 'bool'"


@pytest.mark.parametrize("value", [None, 0, 5, np.int64(5), True, 2**63])
def test_max_nodes_accepts_non_negative_ints(value):
    assert _internal.topologize([], 1.0, 1.0, max_nodes=value) == ([], [], [], [])


def test_max_nodes_rejections():
    with pytest.raises(OverflowError):
        _internal.topologize([], 1.0, 1.0, max_nodes=-1)
    with pytest.raises(OverflowError):
        _internal.topologize([], 1.0, 1.0, max_nodes=2**70)
    with pytest.raises(TypeError) as info:
        _internal.topologize([], 1.0, 1.0, max_nodes=10.0)
    assert str(info.value) == "argument 'max_nodes': 'float' object cannot be interpreted as an integer"


def test_per_curve_widths_conversion():
    reference = _internal.topologize([CURVE], 1.0, 1.0, per_curve_widths=[[1.0, 2.0]])
    assert reference[0]
    assert _internal.topologize([CURVE], 1.0, 1.0, per_curve_widths=[[1, 2.0]]) == reference
    assert _internal.topologize([CURVE], 1.0, 1.0, per_curve_widths=((np.float32(1), 2),)) == reference
    with pytest.raises(TypeError, match=r"^argument 'per_curve_widths': Can't extract `str` to `Vec`$"):
        _internal.topologize([CURVE], 1.0, 1.0, per_curve_widths=["ab"])
    with pytest.raises(TypeError, match=r"^argument 'per_curve_widths': 'float' object cannot be converted to 'Sequence'$"):
        _internal.topologize([CURVE], 1.0, 1.0, per_curve_widths=[1.0])


def test_none_is_the_same_as_leaving_a_parameter_out():
    names = [
        "simplification",
        "min_tip_fraction",
        "junction_merge_fraction",
        "per_curve_widths",
        "subdivision_ratio",
        "max_nodes",
        "resample",
        "boundary_simplification",
        "merge_tolerance",
    ]
    for name in names:
        assert _internal.topologize([CURVE], 1.0, 1.0, **{name: None}) == _internal.topologize([CURVE], 1.0, 1.0)


def test_the_type_error_keeps_its_cause():
    with pytest.raises(TypeError) as info:
        _internal.topologize([[[0, 0]]], 1.0, 1.0)
    assert isinstance(info.value.__cause__, TypeError)
    assert str(info.value.__cause__) == "'list' object cannot be converted to 'tuple'"


def test_a_list_mutated_while_converting_is_read_safely():
    curve = [(0.0, 0.0)]

    class Shrinker:
        def __float__(self):
            curve.clear()
            return 1.0

    curve.append((Shrinker(), 0.0))
    curve.append((2.0, 0.0))
    # The item being converted stays alive; the shortened list ends the walk.
    assert _internal.inflate_curves([curve], 1.0, 1.0) == _internal.inflate_curves([[(0.0, 0.0), (1.0, 0.0)]], 1.0, 1.0)
