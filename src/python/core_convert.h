// Argument and result conversion of the `_core` module: curves and width
// lists from sequences or, as a fast path, from float64 buffers; results as
// flat bytes of native little-endian numbers.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <vector>

#include "common/geometry.h"
#include "pipeline/centerlines.h"

namespace strokegraph::py {

// Every item is a (k, 2) float64 buffer or what `_internal` accepts as a
// curve. Errors name the curve index.
bool to_core_curves(PyObject* obj, std::vector<Polyline>& out);

// None, or one entry per curve: a 1-D float64 buffer or a sequence of numbers.
bool to_core_widths(PyObject* obj, std::optional<WidthLists>& out);

// None (or absent): automatic; True or False; else a number (checked by the
// pipeline).
bool to_core_tiles(PyObject* obj, TileChoice& out);

// None (or absent): round caps; a str ("round", "square" or "butt") for every
// curve; else a sequence of such str, one per curve. An unknown name is a
// ValueError, anything else a TypeError.
bool to_core_caps(PyObject* obj, std::vector<Cap>& out);

// (points, offsets, nodes, edges, widths or None, source_index, source_offsets)
PyObject* from_centerlines(const CenterlinesOutput& result, bool with_widths);

}  // namespace strokegraph::py
