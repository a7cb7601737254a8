// Python values to native values and back. Every converter returns false with
// a Python exception set when the value is not accepted.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "common/geometry.h"
#include "pipeline/batch.h"
#include "pipeline/topologize.h"

namespace strokegraph::py {

bool to_curves(PyObject* obj, std::vector<Polyline>& out);
bool to_number(PyObject* obj, double& out);
bool to_optional_number(PyObject* obj, std::optional<double>& out);  // nullptr or None: absent
bool to_optional_widths(PyObject* obj, std::optional<WidthLists>& out);
bool to_flag(PyObject* obj, bool& out);                               // nullptr: false
bool to_optional_count(PyObject* obj, std::optional<std::size_t>& out);
bool to_jobs(PyObject* obj, std::vector<BatchJob>& out);

// New references, or nullptr with an exception set.
PyObject* from_topologize(const TopologizeOutput& result);
PyObject* from_batch(const std::vector<TopologizeOutput>& results);
PyObject* from_polygons(const std::vector<BufferPolygon>& polygons);
PyObject* from_triangles(const std::vector<Triangle>& triangles);

}  // namespace strokegraph::py
