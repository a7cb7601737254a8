# The native layer under `strokegraph.centerlines`: results are flat bytes of
# native float64 / int64 values, read with numpy.frombuffer.
from typing import Any, Callable, Optional, Sequence, Union

_Result = tuple[bytes, bytes, bytes, bytes, Optional[bytes], bytes, bytes]

def centerlines(
    curves: Sequence[Any],
    radius: float,
    feature_size: Optional[float] = None,
    *,
    simplification: Optional[float] = None,
    min_tip_fraction: Optional[float] = None,
    junction_merge_fraction: Optional[float] = None,
    per_curve_widths: Optional[Sequence[Any]] = None,
    compute_widths: bool = False,
    subdivision_ratio: Optional[float] = None,
    max_nodes: Optional[int] = None,
    resample: Optional[float] = None,
    boundary_simplification: Optional[float] = None,
    merge_tolerance: Optional[float] = None,
    clean: bool = True,
    tiles: Union[bool, float, None] = None,
    caps: Union[str, Sequence[str], None] = None,
    progress: Optional[Callable[[str, float], object]] = None,
) -> _Result: ...
def centerlines_batch(jobs: Sequence[Any]) -> list[_Result]: ...
def tiles_prepare(
    curves: Sequence[Any],
    radius: float,
    feature_size: Optional[float] = None,
    **options: Any,
) -> tuple[Optional[bytes], list[bytes]]: ...
def tile_run(task: bytes) -> bytes: ...
def tiles_assemble(
    shared: bytes,
    results: Sequence[bytes],
    /,
    curves: Sequence[Any],
    radius: float,
    feature_size: Optional[float] = None,
    **options: Any,
) -> _Result: ...
