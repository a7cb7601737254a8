// Offsetting of curves into bands and union of the bands into polygons.
#pragma once

#include <optional>
#include <vector>

#include "common/geometry.h"

namespace strokegraph {

// The band outline(s) of every curve, in curve order, before the union.
// Without `caps` every band has square caps and joins (the exact layer's
// bands); with them (one entry per curve) each end takes its own cap, joins
// are round unless both ends are square, and a curve that closes on itself
// (last point equal to the first) is offset as a loop unless squared.
// With caps, the bands of uniform radius and round joins are drawn as
// outlines (inflate/outline.h); with `outlines` too they are left raw, rings
// that may cross themselves, for unite_bands only; without it each is
// resolved into rings without holes, as the tiles need them.
std::vector<Ring> offset_bands(const std::vector<Polyline>& curves,
                               const std::optional<WidthLists>& per_curve_widths,
                               double buffer_distance, double feature_size,
                               const std::vector<EndCaps>* caps = nullptr,
                               bool outlines = false);

// Union of band outlines (Positive: the region of positive winding, one
// union per cluster of bands as in band_union.h) sorted into outer rings and
// their holes. Resolved bands are counter-clockwise without holes, where
// Positive and NonZero agree.
std::vector<BufferPolygon> unite_bands(std::vector<Ring> bands, double feature_size);

// The union of the bands of curves that all have round caps and joins and
// the one radius `buffer_distance`, traced from the distance to the curves on
// a grid of side `cell` (inflate/field_union.h) instead of offset and united,
// sorted into polygons as unite_bands sorts the union. Nothing where the grid
// would be too large for the points.
std::optional<std::vector<BufferPolygon>> unite_round_bands(const std::vector<Polyline>& curves,
                                                            double buffer_distance, double cell,
                                                            double feature_size);

// offset_bands followed by unite_bands.
std::vector<BufferPolygon> inflate(const std::vector<Polyline>& curves,
                                   const std::optional<WidthLists>& per_curve_widths,
                                   double buffer_distance, double feature_size);

// Offsets one curve with one radius per vertex; returns the outline rings.
// Caps as in offset_bands (square by default).
std::vector<Ring> inflate_curve_variable(const std::vector<Point>& pts,
                                         const std::vector<double>& widths, double feature_size,
                                         EndCaps caps = {});

}  // namespace strokegraph
