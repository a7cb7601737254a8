"""Typical use of the high-level API, type-checked by test_centerlines (not run)."""

from typing import Any, Optional

import numpy as np
import numpy.typing as npt

import strokegraph
from strokegraph import Centerlines, centerlines


def summary(drawing: list[npt.NDArray[np.float64]]) -> str:
    result: Centerlines = centerlines(drawing, 1.5, feature_size=2.0, compute_widths=True)
    chain: npt.NDArray[np.float64] = result.chains[0]
    widths: Optional[list[npt.NDArray[np.float64]]] = result.widths
    sources: list[npt.NDArray[np.int64]] = result.sources
    total: float = float(result.lengths.sum())
    junctions: int = len(result.junctions)
    geojson: dict[str, Any] = result.to_geojson()
    svg: str = result.to_svg(size=400)
    del chain, widths, sources, geojson
    return f"{result!r} {total} {junctions} {len(svg)} {len(result)}"


def low_level(curves: list[list[tuple[float, float]]]) -> int:
    chains, nodes, ids, widths = strokegraph.topologize(curves, 2.0, 1.0)
    return len(chains) + len(nodes) + len(ids) + len(widths)


def with_progress() -> Centerlines:
    def report(stage: str, fraction: float) -> None:
        print(stage, fraction)

    return strokegraph.centerlines([[(0, 0), (10, 0)]], 1, progress=report, clean=False)


def in_a_gis(streets: Any) -> tuple[Any, str]:
    result = strokegraph.centerlines(streets, 6.0, to_crs="local")
    chains, nodes = result.to_geopandas(["highway"], rule={"highway": "majority"}, nodes=True)
    del nodes
    return chains, result._repr_html_()
