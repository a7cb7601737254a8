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
"""

from __future__ import annotations

import math
from typing import Any, Dict, List, Optional, Sequence, Union

try:
    import dask.bag as _bag
    import distributed as _distributed
except ImportError as e:  # pragma: no cover - depends on the installation
    raise ImportError("strokegraph.dask needs Dask: pip install 'strokegraph[dask]'") from e

from ._trace import trace_many

__all__ = ["centerlines"]

CHUNKS_PER_THREAD = 4   # a few chunks per worker thread keep the cluster balanced


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
