"""GeoPandas frames, CRS rules and the GIS file formats, on a small projected
street grid written by geopandas / pyogrio themselves."""

import json
import warnings

import numpy as np
import pytest

gpd = pytest.importorskip("geopandas")
pytest.importorskip("pyogrio")
pytest.importorskip("pyarrow")
shapely = pytest.importorskip("shapely")

import strokegraph  # noqa: E402
from strokegraph import cli, io  # noqa: E402

UTM = "EPSG:32616"
ORIGIN = np.array([688000.0, 3290000.0])   # Apalachicola, Florida, in UTM zone 16N


def street_grid(dual_gap=None):
    """A 4 x 4 block grid of 100 m, each street segment one row; with `dual_gap`
    the middle avenue also runs as two carriageways that far apart."""
    rows = []
    for k in range(5):
        for j in range(4):
            rows.append(("Avenue %d" % k, 2 + k % 2, [(j * 100, k * 100), ((j + 1) * 100, k * 100)]))
            rows.append(("Street %d" % k, 1, [(k * 100, j * 100), (k * 100, (j + 1) * 100)]))
    if dual_gap:
        for side in (-0.5, 0.5):
            rows.append(("Boulevard", 4, [(0, 450 + side * dual_gap), (400, 450 + side * dual_gap)]))
    geoms = [shapely.LineString(np.asarray(c, float) + ORIGIN) for _, _, c in rows]
    frame = gpd.GeoDataFrame({"name": [r[0] for r in rows], "lanes": np.array([r[1] for r in rows], np.int64)},
                             geometry=geoms, crs=UTM, index=[f"w{i}" for i in range(len(rows))])
    return frame


# ---------------------------------------------------------------- CRS rules

def test_geographic_crs_is_refused_with_the_way_out():
    streets = street_grid().to_crs("EPSG:4326")
    with pytest.raises(strokegraph.GeographicCRSError, match=r"EPSG:4326.*to_crs\(.*estimate_utm_crs.*to_crs='local'"):
        strokegraph.centerlines(streets, 10)
    with pytest.raises(strokegraph.GeographicCRSError):
        strokegraph.centerlines([np.array([[0, 0], [1, 1.0]])], 1, crs="OGC:CRS84")
    with pytest.raises(ValueError, match="to_crs needs the drawing's CRS"):
        strokegraph.centerlines([np.array([[0, 0], [1, 1.0]])], 1, to_crs="local")


def test_local_projection_gives_metres_back_in_degrees():
    projected = street_grid()
    metric = strokegraph.centerlines(projected, 6)
    degrees = strokegraph.centerlines(projected.to_crs("EPSG:4326"), 6, to_crs="local")
    assert degrees.crs.to_epsg() == 4326 and metric.crs.to_epsg() == 32616
    assert len(degrees) == len(metric) and len(degrees.junctions) == len(metric.junctions) == 21
    # Lengths in metres (a local projection against UTM: well under 0.1 % apart), points in degrees.
    np.testing.assert_allclose(np.sort(degrees.lengths), np.sort(metric.lengths), rtol=1e-3)
    assert np.abs(degrees.points).max() < 180 and degrees.radius == 6
    back = gpd.GeoSeries(degrees.to_shapely(), crs=degrees.crs).to_crs(UTM)
    assert back.length.sum() == pytest.approx(metric.lengths.sum(), rel=1e-3)


def test_mercator_units_warn_and_plain_metres_do_not():
    streets = street_grid()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        strokegraph.centerlines(streets, 6)
    with pytest.warns(UserWarning, match=r"spans 0\.8\d+ m on the ground.*to_crs='local'"):
        result = strokegraph.centerlines(streets.to_crs("EPSG:3857"), 6)
    assert result.crs.to_epsg() == 3857


# ---------------------------------------------------------------- GeoDataFrame out

def test_to_geopandas_labels_attributes_and_dtypes():
    streets = street_grid(dual_gap=10)
    result = strokegraph.centerlines(streets, 7, compute_widths=True)
    chains, nodes = result.to_geopandas(["name", "lanes"], rule={"name": "list", "lanes": "majority"}, nodes=True)
    assert chains.crs == streets.crs and nodes.crs == streets.crs
    assert chains["lanes"].dtype == np.int64 and chains["start_deg"].dtype == np.int64
    # Sources are the frame's labels; the two carriageways, 1.4 radii apart,
    # each keep a line of their own.
    boulevard = [i for i, names in enumerate(chains["name"]) if "Boulevard" in names]
    assert sorted(chains["sources"][i] for i in boulevard) == [["w40"], ["w41"]]
    assert all(chains["lanes"][i] == 4 for i in boulevard)
    assert set(chains["sources"].explode()) <= set(streets.index)
    assert (chains["width"] > 0).all() and np.allclose(chains.length, chains["length"], rtol=1e-9)
    ends = chains[["start", "end"]].to_numpy()
    np.testing.assert_array_equal(chains["start_deg"], nodes["degree"].to_numpy()[ends[:, 0]])
    assert nodes.loc[nodes["kind"] == "junction", "degree"].min() >= 3
    # "first" takes the first source row's value; a chain without sources gets a
    # nullable integer rather than a float.
    first = result.to_geopandas("lanes")
    assert first["lanes"].tolist() == [int(streets["lanes"].iloc[s[0]]) for s in result.sources]
    gap = strokegraph.Centerlines(result.points, result.offsets, result.nodes, result.edges,
                                  source_index=np.zeros(0, np.int64), source_offsets=np.zeros(len(result) + 1, np.int64))
    holes = gap.to_geopandas("lanes", frame=streets)
    assert str(holes["lanes"].dtype) == "Int64" and holes["lanes"].isna().all()
    # A row without geometry is an item without curves: the labels of the others stay right.
    gappy = streets.copy()
    gappy.loc["none", ["name", "lanes", "geometry"]] = ["Nowhere", 9, None]
    gappy = gappy.iloc[np.r_[len(gappy) - 1, 0:len(gappy) - 1]]
    again = strokegraph.centerlines(gappy, 7).to_geopandas("name", rule="list")
    assert "none" not in set(again["sources"].explode()) and "Nowhere" not in set(again["name"].explode())
    assert sorted(again["sources"].map(tuple)) == sorted(chains["sources"].map(tuple))
    with pytest.raises(ValueError, match="rule must be one of"):
        result.to_geopandas("lanes", rule="mean")
    with pytest.raises(KeyError, match="'speed'"):
        result.to_geopandas("speed")


# ---------------------------------------------------------------- files

FORMATS = [("gpkg", "streets.gpkg"), ("parquet", "streets.parquet"), ("shp", "streets.shp"), ("fgb", "streets.fgb")]


def _write_with_geopandas(frame, path, fmt):
    if fmt == "parquet":
        frame.to_parquet(path)
    else:
        frame.to_file(path, engine="pyogrio")


def _read_with_geopandas(path, fmt, layer=None):
    return gpd.read_parquet(path) if fmt == "parquet" else gpd.read_file(path, layer=layer, engine="pyogrio")


@pytest.mark.parametrize("fmt, name", FORMATS)
def test_gis_round_trip(tmp_path, fmt, name):
    streets = street_grid(dual_gap=10)
    src = tmp_path / name
    _write_with_geopandas(streets, src, fmt)
    drawing = io.read(src)
    assert drawing.format == fmt and drawing.crs.to_epsg() == 32616
    assert len(drawing.curves) == len(streets) and drawing.columns["lanes"].dtype == np.int64
    # (FlatGeobuf's spatial index puts the rows in an order of its own.)
    for curve, geometry in zip(drawing.curves, _read_with_geopandas(src, fmt).geometry):
        np.testing.assert_array_equal(curve, shapely.get_coordinates(geometry))
    result = strokegraph.centerlines(drawing.curves, 7, compute_widths=True)
    out = tmp_path / ("out" + src.suffix)
    io.write(result, out, drawing)
    chains = _read_with_geopandas(out, fmt, layer="chains" if fmt == "gpkg" else None)
    assert chains.crs.to_epsg() == 32616 and len(chains) == len(result)
    assert chains["lanes"].dtype.kind == "i" and chains["start_deg"].dtype.kind == "i"
    assert [json.loads(s) for s in chains["sources"]] == io._drawing.source_items(result, drawing)
    np.testing.assert_allclose(chains.length, result.lengths, rtol=1e-12)
    if fmt == "gpkg":
        nodes = gpd.read_file(out, layer="nodes", engine="pyogrio")
        assert len(nodes) == len(result.nodes) and set(nodes["kind"]) == {"junction", "end", "node"} - {"node"}
    # Our own output reads back: the chains are the curves (a GeoPackage's chains layer by default).
    again = io.read(out)
    assert len(again.curves) == len(result) and again.crs.to_epsg() == 32616


def test_layers_and_command_line(tmp_path, capsys):
    streets = street_grid(dual_gap=10)
    src = tmp_path / "town.gpkg"
    streets.to_file(src, layer="streets", engine="pyogrio")
    streets.iloc[:5].to_file(src, layer="rivers", engine="pyogrio")
    with pytest.raises(io.DrawingError, match=r"several layers.*streets \(LineString\), rivers"):
        io.read(src)
    with pytest.raises(io.DrawingError, match="no layer 'roads'"):
        io.read(src, layer="roads")
    out = tmp_path / "out" / "town.gpkg"
    assert cli.main(["trace", str(src), "--layer", "streets", "-o", str(out)]) == 0
    err = capsys.readouterr().err
    assert "radius 7.5, 3/4 of the typical spacing of parallel strokes (10;" in err
    assert gpd.read_file(out, layer="chains").crs.to_epsg() == 32616
    assert cli.main(["info", str(out)]) == 0
    assert "crs:              EPSG:32616" in capsys.readouterr().out
    # Web Mercator's units are not metres on the ground: the command line says so, once per file.
    streets.to_crs("EPSG:3857").to_file(tmp_path / "mercator.fgb", engine="pyogrio")
    assert cli.main(["trace", str(tmp_path / "mercator.fgb"), "-o", str(tmp_path / "m.fgb"), "--radius", "8"]) == 0
    err = capsys.readouterr().err
    assert err.count("mercator.fgb: warning: one unit of EPSG:3857, WGS 84 / Pseudo-Mercator spans 0.8") == 1


def test_geojson_crs_member_survives_the_command_line(tmp_path, capsys):
    streets = street_grid()
    src = tmp_path / "town.geojson"
    streets.to_file(src, engine="pyogrio")   # GDAL names the CRS in a crs member
    doc = json.loads(src.read_text())
    assert doc["crs"]["properties"]["name"] == "urn:ogc:def:crs:EPSG::32616"
    for suffix in (".geojson", ".json"):
        out = tmp_path / ("out" + suffix)
        assert cli.main(["trace", str(src), "-o", str(out), "--radius", "6", "-q"]) == 0
        written = json.loads(out.read_text())
        assert written["crs"] == (doc["crs"] if suffix == ".geojson" else "EPSG:32616")
    assert gpd.read_file(tmp_path / "out.geojson", engine="pyogrio").crs.to_epsg() == 32616
    assert written["node_kinds"].count("junction") == 21
    assert all(k == ("junction" if d >= 3 else "end" if d == 1 else "node")
               for k, d in zip(written["node_kinds"], written["degrees"]))
    # In longitude / latitude the command line refuses, and says how to go on.
    (tmp_path / "lonlat.geojson").write_text(streets.to_crs("EPSG:4326").to_json())
    doc = json.loads((tmp_path / "lonlat.geojson").read_text())
    doc["crs"] = {"type": "name", "properties": {"name": "urn:ogc:def:crs:OGC:1.3:CRS84"}}
    (tmp_path / "lonlat.geojson").write_text(json.dumps(doc))
    capsys.readouterr()
    assert cli.main(["trace", str(tmp_path / "lonlat.geojson"), "-o", str(tmp_path / "ll.geojson"), "-q"]) == 1
    assert "is geographic" in capsys.readouterr().err
    assert cli.main(["trace", str(tmp_path / "lonlat.geojson"), "-o", str(tmp_path / "ll.geojson"),
                     "--to-crs", "local", "-q"]) == 0
    assert len(gpd.read_file(tmp_path / "ll.geojson").query("kind == 'junction'")) == 21
    # Without a crs member GeoJSON is longitude / latitude, which --to-crs takes it for.
    del doc["crs"]
    (tmp_path / "plain.geojson").write_text(json.dumps(doc))
    assert cli.main(["trace", str(tmp_path / "plain.geojson"), "-o", str(tmp_path / "pl.json"),
                     "--to-crs", "local", "-q"]) == 0
    assert json.loads((tmp_path / "pl.json").read_text())["node_kinds"].count("junction") == 21


# ---------------------------------------------------------------- --radius auto

@pytest.mark.parametrize("gap", [6.0, 12.0])
def test_auto_radius_follows_the_drawing_not_its_extent(gap):
    small = street_grid(dual_gap=gap)
    # The same town drawn four times side by side: four times the extent.
    large = gpd.GeoDataFrame(geometry=[shapely.affinity.translate(g, dx, dy) for g in small.geometry
                                       for dx in (0, 5000) for dy in (0, 5000)], crs=UTM)
    radii = [io.gis.from_frame(f).suggested_radius() for f in (small, large)]
    assert radii[0][0] == pytest.approx(0.75 * gap) and radii[1][0] == pytest.approx(radii[0][0])
    assert "parallel strokes" in radii[0][1]
    plain, how = io.gis.from_frame(street_grid()).suggested_radius()
    assert how.startswith("1/20 of the median stroke length") and plain == pytest.approx(5)


# ---------------------------------------------------------------- notebooks

def test_notebook_pictures_are_bounded():
    small = strokegraph.centerlines(street_grid(), 6)
    svg = small._repr_svg_()
    assert svg.count("<path") == len(small) and "points drawn" not in svg
    html = small._repr_html_()
    assert f"{len(small)} chains" in html and "EPSG:32616" in html and svg in html
    # A large result: about REPR_MAX_VERTICES points, every chain still drawn, and the picture says so.
    rng = np.random.default_rng(1)
    walks = [np.cumsum(rng.normal(size=(2000, 2)), axis=0) + [i * 200, 0] for i in range(8)]
    large = strokegraph.centerlines(walks, 0.5)
    large.REPR_MAX_VERTICES = 3000
    assert len(large.points) > 3 * large.REPR_MAX_VERTICES
    svg = large._repr_svg_()
    drawn = sum(len(p.split('"')[0].split(" ")) for p in svg.split('d="M')[1:])
    assert drawn <= large.REPR_MAX_VERTICES and svg.count("<path") == len(large)
    assert f"{drawn:,} of {len(large.points):,} points drawn</text>" in svg
    # More chains than half the budget: the longest ones, end to end.
    large.REPR_MAX_VERTICES = 1000
    svg = large._repr_svg_()
    assert svg.count("<path") == 500 and f"(500 of {len(large):,} chains)" in svg
    assert svg.count("<circle") == min(1000, len(large.junctions) + len(large.ends)) and len(svg) < 200 * large.REPR_MAX_VERTICES


def test_geojson_properties_keep_their_types(tmp_path):
    import pyogrio

    streets = street_grid()
    result = strokegraph.centerlines(streets, 6)
    doc = result.to_geojson(["name", "lanes"], rule={"lanes": "majority"})
    props = [f["properties"] for f in doc["features"]]
    assert all(type(p["lanes"]) is int and isinstance(p["name"], str) for p in props)
    assert doc["crs"]["properties"]["name"] == "urn:ogc:def:crs:EPSG::32616"
    json.dumps(doc)
    # GeoJSON in, GeoPackage out: an integer property that some features lack stays an integer field.
    source = json.loads(streets.to_json())
    del source["features"][0]["properties"]["lanes"]
    (tmp_path / "in.geojson").write_text(json.dumps(source))
    drawing = io.read(tmp_path / "in.geojson")
    io.write(strokegraph.centerlines(drawing.curves, 6), tmp_path / "out.gpkg", drawing)
    info = pyogrio.read_info(tmp_path / "out.gpkg", layer="chains")
    assert dict(zip(info["fields"], info["dtypes"]))["lanes"] == "int64"


def test_bands_of_a_local_trace_are_drawn_in_metres():
    pytest.importorskip("matplotlib")
    from matplotlib.figure import Figure

    streets = street_grid().to_crs("EPSG:4326")
    result = strokegraph.centerlines(streets, 20, to_crs="local")
    ax = Figure().subplots()
    result.plot(ax=ax, show_bands=True)
    bands = np.concatenate([p.get_path().vertices for p in ax.patches])
    # 400 m of streets plus 20 m of band either side: about 440 m, in degrees.
    width = gpd.GeoSeries(gpd.points_from_xy(bands[:, 0], bands[:, 1]), crs=4326).to_crs(UTM).total_bounds
    assert width[2] - width[0] == pytest.approx(440, rel=0.01)


def test_auto_radius_of_one_stroke_coiled_tight():
    # A spiral 2 pi between turns, all in one stroke and one search cell: the
    # turns count as parallel strokes, and the work stays bounded.
    t = np.linspace(0, 60 * np.pi, 60000)
    radius, how = io._spacing.spacing_radius([np.column_stack([t * np.cos(t), t * np.sin(t)])])
    assert radius == pytest.approx(0.75 * 2 * np.pi, rel=0.01) and "parallel strokes" in how
    # Two tiny strokes a world apart: the search cells still fit their keys.
    assert io._spacing.spacing_radius([np.array([[0, 0], [1, 0.0]]), np.array([[1e15, 0], [1e15 + 1, 0]])])[0] == 0.05
