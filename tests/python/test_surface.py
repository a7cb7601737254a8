"""The module surface: initialisation, signatures, docstrings, argument binding."""

import ast
import inspect
import pathlib
import shutil
import subprocess

import pytest

import strokegraph
from strokegraph import _internal

FUNCTIONS = ["inflate_curves", "topologize", "topologize_batch", "triangulate_curves"]

SIGNATURES = {
    "topologize": "(curves, buffer_distance, feature_size, simplification=None, min_tip_fraction=None, "
    "junction_merge_fraction=None, per_curve_widths=None, compute_widths=False, subdivision_ratio=None, "
    "max_nodes=None, resample=None, boundary_simplification=None, merge_tolerance=None)",
    "topologize_batch": "(jobs)",
    "inflate_curves": "(curves, buffer_distance, feature_size, per_curve_widths=None, merge_tolerance=None)",
    "triangulate_curves": "(curves, buffer_distance, feature_size, per_curve_widths=None, "
    "subdivision_ratio=None, resample=None, boundary_simplification=None, merge_tolerance=None)",
}

DOCS = {
    "topologize": "Topologize a list of polylines into clean centerline chains.",
    "topologize_batch": "\n".join(
        [
            "Process multiple independent curve-sets in parallel using Rayon.",
            "",
            "Each element of `jobs` is a tuple of (curves, buffer_distance,",
            "feature_size, simplification, min_tip_fraction, junction_merge_fraction,",
            "max_nodes, subdivision_ratio, resample, boundary_simplification,",
            "merge_tolerance) \u2014 one independent topologize invocation with its own",
            "parameters, matching the boundary-preprocessing knobs of the single",
            "[`topologize`] entry point. The GIL is released for the parallel work.",
            "",
            "Returns a list of (chains, nodes, chain_node_ids) tuples, one per job.",
        ]
    ),
    "inflate_curves": "\n".join(
        [
            "Inflate a list of polylines by `buffer_distance`, union all results,",
            "and return the buffer polygons as (outer_ring, holes) pairs.",
            "",
            "The same input decimation applied inside `topologize` is used here so",
            "the polygons match exactly what the skeleton sees.",
            "",
            "Parameters",
            "----------",
            "curves : list of lists of (x, y) tuples",
            "buffer_distance : float",
            "    Uniform inflation radius (used for curves without per-vertex widths).",
            "feature_size : float",
            "    Scale parameter for input decimation and derived thresholds.",
            "per_curve_widths : list of lists of float, default None",
            "    Per-vertex radii for each curve (one list per curve). If provided,",
            "    each sub-list must have the same length as the corresponding curve.",
            "    Curves with an empty sub-list (or missing entry) use `buffer_distance`.",
            "",
            "Returns",
            "-------",
            "list of (outer, holes) where outer and each hole is a list of (x, y) tuples",
        ]
    ),
    "triangulate_curves": "\n".join(
        [
            "Return the CDT triangles for each inflated polygon, using the same",
            "boundary preprocessing (RDP simplification + subdivision) as `topologize`.",
            "Useful for visualising and debugging the triangulation step.",
            "",
            "Returns a flat list of triangles across all polygons, each as",
            "((x0,y0),(x1,y1),(x2,y2)).",
        ]
    ),
}


def test_module_holds_only_the_four_functions():
    assert _internal.__doc__ == ""
    assert [n for n in dir(_internal) if not n.startswith("__")] == FUNCTIONS
    for name in FUNCTIONS:
        assert getattr(strokegraph, name) is getattr(_internal, name)
    assert sorted(strokegraph.__all__) == ["Centerlines", "PanicException", "centerlines"] + FUNCTIONS


def test_panic_exception_is_a_base_exception_not_an_exception():
    assert issubclass(strokegraph.PanicException, BaseException)
    assert not issubclass(strokegraph.PanicException, Exception)
    assert strokegraph.PanicException.__name__ == "PanicException"


@pytest.mark.parametrize("name", FUNCTIONS)
def test_docstring_and_text_signature(name):
    f = getattr(_internal, name)
    assert f.__text_signature__ == SIGNATURES[name]
    assert f.__doc__ == DOCS[name]
    assert f.__name__ == name
    assert f.__module__ == "strokegraph._internal"


@pytest.mark.parametrize("name", FUNCTIONS)
def test_stub_matches_text_signature(name):
    stub = pathlib.Path(strokegraph.__file__).with_name("_internal.pyi")
    tree = ast.parse(stub.read_text())
    (node,) = [n for n in tree.body if isinstance(n, ast.FunctionDef) and n.name == name]
    args = node.args
    assert not args.posonlyargs and not args.kwonlyargs and args.vararg is None and args.kwarg is None
    defaults = [None] * (len(args.args) - len(args.defaults)) + list(args.defaults)
    stub_params = [(a.arg, None if d is None else ast.literal_eval(d)) for a, d in zip(args.args, defaults)]
    real = inspect.signature(getattr(_internal, name)).parameters.values()
    real_params = [(p.name, None if p.default is inspect.Parameter.empty else p.default) for p in real]
    assert stub_params == real_params
    for p in real:
        assert p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD


def test_package_ships_type_information():
    here = pathlib.Path(strokegraph.__file__).parent
    assert (here / "py.typed").is_file()
    assert (here / "_internal.pyi").is_file()


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm not available")
def test_only_the_init_function_is_exported():
    out = subprocess.run(
        ["nm", "-D", "--defined-only", _internal.__file__], capture_output=True, text=True, check=True
    ).stdout
    symbols = [line.split()[-1] for line in out.splitlines() if line.strip()]
    assert symbols == ["PyInit__internal"]


CURVE = [[(0.0, 0.0), (10.0, 0.0)]]


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: _internal.topologize(CURVE, 1.0), "topologize() missing 1 required positional argument: 'feature_size'"),
        (
            lambda: _internal.topologize(CURVE),
            "topologize() missing 2 required positional arguments: 'buffer_distance' and 'feature_size'",
        ),
        (
            lambda: _internal.topologize(),
            "topologize() missing 3 required positional arguments: 'curves', 'buffer_distance', and 'feature_size'",
        ),
        (
            lambda: _internal.inflate_curves(buffer_distance=1.0),
            "inflate_curves() missing 2 required positional arguments: 'curves' and 'feature_size'",
        ),
        (lambda: _internal.topologize_batch(), "topologize_batch() missing 1 required positional argument: 'jobs'"),
        (lambda: _internal.topologize_batch([], []), "topologize_batch() takes 1 positional arguments but 2 were given"),
        (
            lambda: _internal.topologize(*([CURVE, 1.0, 1.0] + [None] * 11)),
            "topologize() takes from 3 to 13 positional arguments but 14 were given",
        ),
        (
            lambda: _internal.inflate_curves(CURVE, 1, 1, None, None, None),
            "inflate_curves() takes from 3 to 5 positional arguments but 6 were given",
        ),
        (
            lambda: _internal.triangulate_curves(CURVE, 1, 1, None, None, None, None, None, None),
            "triangulate_curves() takes from 3 to 8 positional arguments but 9 were given",
        ),
        (
            lambda: _internal.topologize(CURVE, 1.0, 1.0, bogus=3),
            "topologize() got an unexpected keyword argument 'bogus'",
        ),
        (
            lambda: _internal.topologize(CURVE, 1.0, 1.0, curves=CURVE),
            "topologize() got multiple values for argument 'curves'",
        ),
        (lambda: _internal.topologize_batch([], jobs=[]), "topologize_batch() got multiple values for argument 'jobs'"),
    ],
)
def test_binding_messages(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_every_parameter_binds_by_keyword_in_any_order():
    assert _internal.topologize(feature_size=1.0, buffer_distance=2.0, curves=[]) == ([], [], [], [])
    kwargs = dict(
        merge_tolerance=None,
        boundary_simplification=None,
        resample=None,
        max_nodes=None,
        subdivision_ratio=None,
        compute_widths=False,
        per_curve_widths=None,
        junction_merge_fraction=None,
        min_tip_fraction=None,
        simplification=None,
        feature_size=1.0,
        buffer_distance=1.0,
        curves=[],
    )
    assert _internal.topologize(**kwargs) == ([], [], [], [])
    assert _internal.topologize_batch(jobs=[]) == []
    assert _internal.inflate_curves(merge_tolerance=None, per_curve_widths=None, feature_size=1, buffer_distance=1, curves=[]) == []
    assert (
        _internal.triangulate_curves(
            merge_tolerance=None,
            boundary_simplification=None,
            resample=None,
            subdivision_ratio=None,
            per_curve_widths=None,
            feature_size=1,
            buffer_distance=1,
            curves=[],
        )
        == []
    )


def test_empty_input_gives_empty_results():
    assert _internal.topologize([], 1.0, 1.0) == ([], [], [], [])
    assert _internal.topologize([], 1.0, 1.0, compute_widths=True, max_nodes=0) == ([], [], [], [])
    assert _internal.inflate_curves([], 1.0, 1.0) == []
    assert _internal.triangulate_curves([], 1.0, 1.0) == []
    assert _internal.topologize_batch([]) == []
    assert _internal.topologize_batch(()) == []
