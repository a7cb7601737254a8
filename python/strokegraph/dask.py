"""Trace many drawings on a Dask cluster (`pip install 'strokegraph[dask]'`).

    from dask.distributed import Client
    import strokegraph.dask

    client = Client("tcp://scheduler:8786")      # or Client() for a local cluster
    results = strokegraph.dask.centerlines(drawings, 1.5, client=client)

Drawings travel to the workers in chunks; each worker traces a chunk on its
native pool of threads (the batch) and sends the `Centerlines` back. Results
come in input order and equal those of `strokegraph.centerlines` run locally
drawing by drawing. A Dask bag is mapped partition by partition instead and
stays lazy.

One drawing too large for one machine goes tile by tile instead:

    result = strokegraph.dask.centerlines_tiled(curves, 1.5, client=client)

The client cuts the drawing into tiles, each tile runs as a task on a worker,
and the client stitches the results: the `Centerlines` of
`strokegraph.centerlines(curves, 1.5, tiles=True)`, bit for bit.
"""

from __future__ import annotations

import math
from typing import Any, Dict, List, Optional, Sequence, Union

try:
    import dask.bag as _bag
    import distributed as _distributed
except ImportError as e:  # pragma: no cover - depends on the installation
    raise ImportError("strokegraph.dask needs Dask: pip install 'strokegraph[dask]'") from e

from . import _core
from ._trace import trace_many
from ._native import Progress
from .api import prepare_call, wrap
from .result import Centerlines

__all__ = ["centerlines", "centerlines_tiled"]

CHUNKS_PER_THREAD = 4   # a few chunks per worker thread keep the cluster balanced
SCATTER_GROUPS = 16     # tile tasks sent to the workers at once


def _chunk(drawings: Sequence[Any], radii: Sequence[float], options: Dict[str, Any]) -> List[Any]:
    return trace_many(drawings, radii, **options)


def _partition(drawings: Any, radius: float, options: Dict[str, Any]) -> List[Any]:
    drawings = list(drawings)
    return trace_many(drawings, [radius] * len(drawings), **options)


def centerlines(drawings: Union[Sequence[Any], "_bag.Bag"], radius: Union[float, Sequence[float]], *,
                client: Optional["_distributed.Client"] = None, chunk_size: Optional[int] = None,
                **options: Any) -> Union[List[Any], "_bag.Bag"]:
    """`strokegraph.centerlines` over many drawings on a Dask cluster.

    - `drawings`: a sequence of drawings (each anything `centerlines` takes,
      e.g. a list of curves), or a `dask.bag.Bag` of them.
    - `radius`: one band radius for all, or one per drawing (sequence only).
    - `client`: the `distributed.Client` to run on; default the current one.
    - `chunk_size`: drawings per task; default so that every worker thread
      gets about four chunks.
    - `options`: keyword options of `strokegraph.centerlines`.

    Returns the list of `Centerlines` in input order, or for a bag a bag of
    them (lazy; `.compute()` runs it). The first drawing that fails raises its
    error here.
    """
    if isinstance(drawings, _bag.Bag):
        if not isinstance(radius, (int, float)):
            raise TypeError("a bag of drawings takes one radius for all")
        bag: Any = drawings
        return bag.map_partitions(_partition, float(radius), options)  # type: ignore[no-any-return]
    drawings = list(drawings)
    if isinstance(radius, (int, float)):
        radii = [float(radius)] * len(drawings)
    else:
        radii = [float(r) for r in radius]
        if len(radii) != len(drawings):
            raise ValueError(f"{len(radii)} radii for {len(drawings)} drawings")
    if not drawings:
        return []
    client = client if client is not None else _distributed.get_client()
    c: Any = client
    if chunk_size is None:
        threads = max(1, sum(c.nthreads().values()))
        chunk_size = math.ceil(len(drawings) / (CHUNKS_PER_THREAD * threads))
    if chunk_size < 1:
        raise ValueError(f"chunk_size must be at least 1, got {chunk_size}")
    starts = range(0, len(drawings), chunk_size)
    # Scattered first, so that the drawings do not travel inside the task graph.
    data = c.scatter([drawings[s:s + chunk_size] for s in starts])
    futures = c.map(_chunk, data, [radii[s:s + chunk_size] for s in starts], options=options,
                         pure=False)
    results = c.gather(futures)
    return [r for chunk in results for r in chunk]


def _run_tiles(tasks: List[bytes]) -> List[bytes]:
    return [_core.tile_run(task) for task in tasks]


def _run_on_cluster(c: Any, tasks: List[bytes], tiles_per_task: int,
                    progress: Optional[Progress]) -> List[bytes]:
    """The results of the tile tasks, in task order; empties `tasks` once they are sent.

    `progress` hears ("skeleton", f) as groups finish, f from 0.4 to 0.8 (the
    share of the skeleton in the local call); an exception it raises cancels
    the tasks and propagates.
    """
    # Largest tasks first, so that no worker is left with a large one at the
    # end; the results go back to task order.
    order = sorted(range(len(tasks)), key=lambda k: -len(tasks[k]))
    groups = [[tasks[k] for k in order[s:s + tiles_per_task]]
              for s in range(0, len(order), tiles_per_task)]
    tasks.clear()
    # Scattered, so that the bands do not travel inside the task graph, a few
    # groups at a time: the first tiles run while the next are being sent.
    futures: List[Any] = []
    for s in range(0, len(groups), SCATTER_GROUPS):
        futures += c.map(_run_tiles, c.scatter(groups[s:s + SCATTER_GROUPS]), pure=False)
        groups[s:s + SCATTER_GROUPS] = [[]] * len(groups[s:s + SCATTER_GROUPS])
    if progress is not None:
        try:
            finished: Any = _distributed.as_completed(futures)  # type: ignore[no-untyped-call]
            for done, _ in enumerate(finished, 1):
                progress("skeleton", 0.4 + 0.4 * done / len(futures))
        except BaseException:
            c.cancel(futures)
            raise
    results: List[bytes] = [b""] * len(order)
    for k, r in zip(order, (r for group in c.gather(futures) for r in group)):
        results[k] = r
    return results


def _whole(curves: Any, radius: float, feature_size: Optional[float],
           options: Dict[str, Any]) -> Any:
    return _core.centerlines(curves, radius, feature_size, **options)


def centerlines_tiled(curves: Any, radius: float, *, client: Optional["_distributed.Client"] = None,
                      tiles: Union[bool, float, None] = True, tiles_per_task: int = 1,
                      progress: Optional[Progress] = None, **options: Any) -> Centerlines:
    """`strokegraph.centerlines` of one large drawing, its tiles run on a Dask cluster.

    - `curves`, `radius`: as for `strokegraph.centerlines`.
    - `client`: the `distributed.Client` to run on; default the current one.
    - `tiles`: as for `strokegraph.centerlines`; by default ``True`` (tiles
      with the side chosen from the point density). When the choice keeps the
      drawing in one piece (``False``, ``clean=False``, or ``None`` on a
      drawing too small to tile), the whole call runs as one task.
    - `tiles_per_task`: tiles run one after the other in one task; more than
      one saves scheduling for very small tiles.
    - `progress`: as for `strokegraph.centerlines`, on the calling thread:
      ("start", 0.0), the client's own stages (`inflate`, then `graph`,
      `cleanup`, `chains`), ("skeleton", f) as the tasks finish, and ("done",
      1.0). An exception it raises cancels the call (and the tasks sent).
    - `options`: the other keyword options of `strokegraph.centerlines`.

    The client conditions the curves, cuts the bands into tiles and sends
    each tile with the bands it needs to a worker; the skeleton pieces come
    back and the client stitches them and cleans up the graph. Returns the
    `Centerlines` of ``strokegraph.centerlines(curves, radius, tiles=tiles,
    **options)`` run locally, bit for bit, for any number of workers.
    """
    if isinstance(tiles_per_task, bool) or not isinstance(tiles_per_task, int) or tiles_per_task < 1:
        raise ValueError(f"tiles_per_task must be an integer of at least 1, got {tiles_per_task!r}")
    call = prepare_call(curves, radius, tiles=tiles, progress=progress, **options)
    c: Any = client if client is not None else _distributed.get_client()
    if progress is not None:
        progress("start", 0.0)
    shared, tasks = _core.tiles_prepare(call.curves, call.radius, call.feature_size,
                                        progress=progress, **call.options)
    if shared is None:
        [data] = c.scatter([call.curves])
        raw = c.submit(_whole, data, call.radius, call.feature_size, call.options,
                       pure=False).result()
    else:
        results = _run_on_cluster(c, tasks, tiles_per_task, progress)
        raw = _core.tiles_assemble(shared, results, call.curves, call.radius, call.feature_size,
                                   progress=progress, **call.options)
    if progress is not None:
        progress("done", 1.0)
    return wrap(raw, call.curves, call.owners, call.radius, call.feature_size)
