#include "python/entry.h"

#include <exception>
#include <optional>
#include <utility>

#include "pipeline/batch.h"
#include "pipeline/intermediates.h"
#include "pipeline/topologize.h"
#include "python/binding.h"
#include "python/convert.h"
#include "python/errors.h"
#include "python/watch.h"

namespace strokegraph::py {
namespace {

// Converts one argument; a TypeError gets the parameter's name in front.
template <class Convert>
bool arg(const char* name, Convert&& convert) {
  if (convert()) return true;
  prefix_type_error(name);
  return false;
}

// inflate_curves and triangulate_curves keep the interpreter lock for the
// whole call; topologize and topologize_batch release it while they compute.
// None of them reports progress.
const WatchOptions kHoldLock{false, nullptr};
const WatchOptions kReleaseLock{true, nullptr};

const char* const inflate_params[] = {"curves", "buffer_distance", "feature_size",
                                      "per_curve_widths", "merge_tolerance"};
const Signature inflate_sig{"inflate_curves", inflate_params, 5, 3};

const char* const triangulate_params[] = {
    "curves",           "buffer_distance", "feature_size",
    "per_curve_widths", "subdivision_ratio", "resample",
    "boundary_simplification", "merge_tolerance"};
const Signature triangulate_sig{"triangulate_curves", triangulate_params, 8, 3};

const char* const topologize_params[] = {
    "curves",           "buffer_distance",   "feature_size",   "simplification",
    "min_tip_fraction", "junction_merge_fraction", "per_curve_widths", "compute_widths",
    "subdivision_ratio", "max_nodes",        "resample",       "boundary_simplification",
    "merge_tolerance"};
const Signature topologize_sig{"topologize", topologize_params, 13, 3};

const char* const batch_params[] = {"jobs"};
const Signature batch_sig{"topologize_batch", batch_params, 1, 1};

PyObject* py_inflate_curves(PyObject*, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  PyObject* a[5];
  if (!bind_arguments(inflate_sig, args, nargsf, kwnames, a)) return nullptr;
  std::vector<Polyline> curves;
  double buffer_distance = 0.0, feature_size = 0.0;
  std::optional<WidthLists> widths;
  std::optional<double> merge_tolerance;
  if (!arg("curves", [&] { return to_curves(a[0], curves); }) ||
      !arg("buffer_distance", [&] { return to_number(a[1], buffer_distance); }) ||
      !arg("feature_size", [&] { return to_number(a[2], feature_size); }) ||
      !arg("per_curve_widths", [&] { return to_optional_widths(a[3], widths); }) ||
      !arg("merge_tolerance", [&] { return to_optional_number(a[4], merge_tolerance); })) {
    return nullptr;
  }
  return run_pipeline<std::vector<BufferPolygon>>(
      kHoldLock,
      [curves = std::move(curves), buffer_distance, feature_size, widths = std::move(widths),
       merge_tolerance] {
        return inflate_curves(curves, buffer_distance, feature_size, widths, merge_tolerance);
      },
      from_polygons);
}

PyObject* py_triangulate_curves(PyObject*, PyObject* const* args, size_t nargsf,
                                PyObject* kwnames) {
  PyObject* a[8];
  if (!bind_arguments(triangulate_sig, args, nargsf, kwnames, a)) return nullptr;
  std::vector<Polyline> curves;
  double buffer_distance = 0.0, feature_size = 0.0;
  std::optional<WidthLists> widths;
  BoundaryOptions boundary;
  std::optional<double> merge_tolerance;
  if (!arg("curves", [&] { return to_curves(a[0], curves); }) ||
      !arg("buffer_distance", [&] { return to_number(a[1], buffer_distance); }) ||
      !arg("feature_size", [&] { return to_number(a[2], feature_size); }) ||
      !arg("per_curve_widths", [&] { return to_optional_widths(a[3], widths); }) ||
      !arg("subdivision_ratio", [&] { return to_optional_number(a[4], boundary.subdivision_ratio); }) ||
      !arg("resample", [&] { return to_optional_number(a[5], boundary.resample); }) ||
      !arg("boundary_simplification",
           [&] { return to_optional_number(a[6], boundary.boundary_simplification); }) ||
      !arg("merge_tolerance", [&] { return to_optional_number(a[7], merge_tolerance); })) {
    return nullptr;
  }
  return run_pipeline<std::vector<Triangle>>(
      kHoldLock,
      [curves = std::move(curves), buffer_distance, feature_size, widths = std::move(widths),
       boundary, merge_tolerance] {
        return triangulate_curves(curves, buffer_distance, feature_size, widths, boundary,
                                  merge_tolerance);
      },
      from_triangles);
}

PyObject* py_topologize(PyObject*, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  PyObject* a[13];
  if (!bind_arguments(topologize_sig, args, nargsf, kwnames, a)) return nullptr;
  std::vector<Polyline> curves;
  double buffer_distance = 0.0, feature_size = 0.0;
  TopologizeOptions o;
  if (!arg("curves", [&] { return to_curves(a[0], curves); }) ||
      !arg("buffer_distance", [&] { return to_number(a[1], buffer_distance); }) ||
      !arg("feature_size", [&] { return to_number(a[2], feature_size); }) ||
      !arg("simplification", [&] { return to_optional_number(a[3], o.simplification); }) ||
      !arg("min_tip_fraction", [&] { return to_optional_number(a[4], o.min_tip_fraction); }) ||
      !arg("junction_merge_fraction",
           [&] { return to_optional_number(a[5], o.junction_merge_fraction); }) ||
      !arg("per_curve_widths", [&] { return to_optional_widths(a[6], o.per_curve_widths); }) ||
      !arg("compute_widths", [&] { return to_flag(a[7], o.compute_widths); }) ||
      !arg("subdivision_ratio", [&] { return to_optional_number(a[8], o.subdivision_ratio); }) ||
      !arg("max_nodes", [&] { return to_optional_count(a[9], o.max_nodes); }) ||
      !arg("resample", [&] { return to_optional_number(a[10], o.resample); }) ||
      !arg("boundary_simplification",
           [&] { return to_optional_number(a[11], o.boundary_simplification); }) ||
      !arg("merge_tolerance", [&] { return to_optional_number(a[12], o.merge_tolerance); })) {
    return nullptr;
  }
  // The feature size is checked before the lock is released.
  if (auto error = check_feature_size(feature_size)) {
    raise_pipeline_error(*error);
    return nullptr;
  }
  return run_pipeline<TopologizeOutput>(
      kReleaseLock,
      [curves = std::move(curves), buffer_distance, feature_size, o = std::move(o)] {
        return topologize_inner(curves, buffer_distance, feature_size, o);
      },
      from_topologize);
}

PyObject* py_topologize_batch(PyObject*, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  PyObject* a[1];
  if (!bind_arguments(batch_sig, args, nargsf, kwnames, a)) return nullptr;
  std::vector<BatchJob> jobs;
  if (!arg("jobs", [&] { return to_jobs(a[0], jobs); })) return nullptr;
  if (auto error = check_batch_feature_sizes(jobs)) {
    raise_pipeline_error(*error);
    return nullptr;
  }
  return run_pipeline<std::vector<TopologizeOutput>>(
      kReleaseLock, [jobs = std::move(jobs)] { return run_batch(jobs); }, from_batch);
}

// Every entry runs inside this: whatever allocation fails outside the guarded
// pipeline (argument binding, the feature-size message) is a MemoryError too.
// The functions hold no Python reference while anything can throw.
template <PyObject* (*F)(PyObject*, PyObject* const*, size_t, PyObject*)>
PyObject* guarded(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  touch_exception_state();
  try {
    return F(self, args, nargsf, kwnames);
  } catch (...) {
    raise_native_exception(std::current_exception());
    return nullptr;
  }
}

#define SG_FASTCALL(f) \
  reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(guarded<f>))

}  // namespace

PyMethodDef inflate_curves_def = {
    "inflate_curves", SG_FASTCALL(py_inflate_curves), METH_FASTCALL | METH_KEYWORDS,
    "inflate_curves(curves, buffer_distance, feature_size, per_curve_widths=None, "
    "merge_tolerance=None)\n"
    "--\n"
    "\n"
    "Inflate a list of polylines by `buffer_distance`, union all results,\n"
    "and return the buffer polygons as (outer_ring, holes) pairs.\n"
    "\n"
    "The same input decimation applied inside `topologize` is used here so\n"
    "the polygons match exactly what the skeleton sees.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "curves : list of lists of (x, y) tuples\n"
    "buffer_distance : float\n"
    "    Uniform inflation radius (used for curves without per-vertex widths).\n"
    "feature_size : float\n"
    "    Scale parameter for input decimation and derived thresholds.\n"
    "per_curve_widths : list of lists of float, default None\n"
    "    Per-vertex radii for each curve (one list per curve). If provided,\n"
    "    each sub-list must have the same length as the corresponding curve.\n"
    "    Curves with an empty sub-list (or missing entry) use `buffer_distance`.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "list of (outer, holes) where outer and each hole is a list of (x, y) tuples"};

PyMethodDef triangulate_curves_def = {
    "triangulate_curves", SG_FASTCALL(py_triangulate_curves), METH_FASTCALL | METH_KEYWORDS,
    "triangulate_curves(curves, buffer_distance, feature_size, per_curve_widths=None, "
    "subdivision_ratio=None, resample=None, boundary_simplification=None, "
    "merge_tolerance=None)\n"
    "--\n"
    "\n"
    "Return the CDT triangles for each inflated polygon, using the same\n"
    "boundary preprocessing (RDP simplification + subdivision) as `topologize`.\n"
    "Useful for visualising and debugging the triangulation step.\n"
    "\n"
    "Returns a flat list of triangles across all polygons, each as\n"
    "((x0,y0),(x1,y1),(x2,y2))."};

PyMethodDef topologize_def = {
    "topologize", SG_FASTCALL(py_topologize), METH_FASTCALL | METH_KEYWORDS,
    "topologize(curves, buffer_distance, feature_size, simplification=None, "
    "min_tip_fraction=None, junction_merge_fraction=None, per_curve_widths=None, "
    "compute_widths=False, subdivision_ratio=None, max_nodes=None, resample=None, "
    "boundary_simplification=None, merge_tolerance=None)\n"
    "--\n"
    "\n"
    "Topologize a list of polylines into clean centerline chains."};

PyMethodDef topologize_batch_def = {
    "topologize_batch", SG_FASTCALL(py_topologize_batch), METH_FASTCALL | METH_KEYWORDS,
    "topologize_batch(jobs)\n"
    "--\n"
    "\n"
    "Process multiple independent curve-sets in parallel using Rayon.\n"
    "\n"
    "Each element of `jobs` is a tuple of (curves, buffer_distance,\n"
    "feature_size, simplification, min_tip_fraction, junction_merge_fraction,\n"
    "max_nodes, subdivision_ratio, resample, boundary_simplification,\n"
    "merge_tolerance) \u2014 one independent topologize invocation with its own\n"
    "parameters, matching the boundary-preprocessing knobs of the single\n"
    "[`topologize`] entry point. The GIL is released for the parallel work.\n"
    "\n"
    "Returns a list of (chains, nodes, chain_node_ids) tuples, one per job."};

}  // namespace strokegraph::py
