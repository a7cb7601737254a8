"""`--radius auto` on a real street network, and what the result looks like.

Usage: python bench/street_radius.py [--streets build/data/apalachicola_original.parquet]
(`python tools/fetch_street_sample.py` fetches the file).

Prints, for the town's streets in their UTM zone and for four copies of the
town side by side (four times the extent, drawn alike): the radius of the
former rule (1/200 of the drawing's diagonal) and of the current one (the
spacing of parallel strokes), the time the rule takes and the time of the
trace at that radius, with the chains, junctions and ends it gives.
"""

import argparse
import math
import time

import geopandas as gpd
import shapely

import strokegraph
from strokegraph.io.gis import from_frame


def report(name, frame):
    drawing = from_frame(frame)
    x0, y0, x1, y1 = drawing.extent
    start = time.perf_counter()
    radius, how = drawing.suggested_radius()
    rule = time.perf_counter() - start
    start = time.perf_counter()
    result = strokegraph.centerlines(frame, radius)
    traced = time.perf_counter() - start
    print(f"{name}: {len(frame)} streets, extent {x1 - x0:.0f} x {y1 - y0:.0f} m")
    print(f"  former rule (1/200 of the diagonal): {math.hypot(x1 - x0, y1 - y0) / 200:.2f} m")
    print(f"  --radius auto: {radius:.2f} m, {how}; {rule:.2f} s")
    print(f"  traced in {traced:.2f} s: {len(result)} chains, {len(result.junctions)} junctions, "
          f"{len(result.ends)} ends")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--streets", default="build/data/apalachicola_original.parquet")
    args = parser.parse_args()
    streets = gpd.read_parquet(args.streets)
    streets = streets.to_crs(streets.estimate_utm_crs())
    report("town", streets)
    copies = [shapely.affinity.translate(g, dx, dy) for dx in (0, 20000) for dy in (0, 20000) for g in streets.geometry]
    report("four towns", gpd.GeoDataFrame(geometry=copies, crs=streets.crs))


if __name__ == "__main__":
    main()
