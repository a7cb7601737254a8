#include "python/core_entry.h"

#include <exception>
#include <optional>
#include <utility>
#include <variant>

#include "pipeline/centerlines.h"
#include "pipeline/runner.h"
#include "python/binding.h"
#include "python/convert.h"
#include "python/core_convert.h"
#include "python/errors.h"
#include "python/watch.h"

namespace strokegraph::py {
namespace {

constexpr Py_ssize_t kParams = 17;
constexpr Py_ssize_t kPositional = 3;  // the rest are keyword-only
const char* const centerlines_params[kParams] = {
    "curves",           "radius",           "feature_size",      "simplification",
    "min_tip_fraction", "junction_merge_fraction", "per_curve_widths", "compute_widths",
    "subdivision_ratio", "max_nodes",       "resample",          "boundary_simplification",
    "merge_tolerance",  "clean",            "tiles",             "caps",
    "progress"};
const Signature centerlines_sig{"centerlines", centerlines_params, kParams, 2};

template <class Convert>
bool arg(const char* name, Convert&& convert) {
  if (convert()) return true;
  prefix_type_error(name);
  return false;
}

bool to_job(PyObject* const* args, size_t nargsf, PyObject* kwnames, CenterlinesJob& job,
            PyObject** progress) {
  return to_centerlines_job("centerlines", args, nargsf, kwnames, job, progress);
}

}  // namespace

bool to_centerlines_job(const char* name, PyObject* const* args, size_t nargsf, PyObject* kwnames,
                        CenterlinesJob& job, PyObject** progress, Py_ssize_t leading) {
  const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (nargs > kPositional) {
    PyErr_Format(PyExc_TypeError, "%s() takes from %zd to %zd positional arguments but %zd were given",
                 name, leading + 2, leading + kPositional, leading + nargs);
    return false;
  }
  PyObject* a[kParams];
  Signature sig = centerlines_sig;
  sig.name = name;
  if (!bind_arguments(sig, args, nargsf, kwnames, a)) return false;
  TopologizeOptions& o = job.options.topologize;
  bool clean = true;
  if (!arg("curves", [&] { return to_core_curves(a[0], job.curves); }) ||
      !arg("radius", [&] { return to_number(a[1], job.radius); }) ||
      !arg("feature_size", [&] { return to_optional_number(a[2], job.options.feature_size); }) ||
      !arg("simplification", [&] { return to_optional_number(a[3], o.simplification); }) ||
      !arg("min_tip_fraction", [&] { return to_optional_number(a[4], o.min_tip_fraction); }) ||
      !arg("junction_merge_fraction", [&] { return to_optional_number(a[5], o.junction_merge_fraction); }) ||
      !arg("per_curve_widths", [&] { return to_core_widths(a[6], o.per_curve_widths); }) ||
      !arg("compute_widths", [&] { return to_flag(a[7], o.compute_widths); }) ||
      !arg("subdivision_ratio", [&] { return to_optional_number(a[8], o.subdivision_ratio); }) ||
      !arg("max_nodes", [&] { return to_optional_count(a[9], o.max_nodes); }) ||
      !arg("resample", [&] { return to_optional_number(a[10], o.resample); }) ||
      !arg("boundary_simplification", [&] { return to_optional_number(a[11], o.boundary_simplification); }) ||
      !arg("merge_tolerance", [&] { return to_optional_number(a[12], o.merge_tolerance); }) ||
      !arg("clean", [&] { return a[13] == nullptr || to_flag(a[13], clean); }) ||
      !arg("tiles", [&] { return to_core_tiles(a[14], job.options.tiles); }) ||
      !arg("caps", [&] { return to_core_caps(a[15], job.options.caps); })) {
    return false;
  }
  if (a[16] != nullptr && a[16] != Py_None) {
    if (progress == nullptr) {
      PyErr_SetString(PyExc_TypeError, "a batch job takes no progress callback");
      return false;
    }
    if (!PyCallable_Check(a[16])) {
      PyErr_Format(PyExc_TypeError, "argument 'progress': expected a callable or None, got '%.200s'",
                   Py_TYPE(a[16])->tp_name);
      return false;
    }
    *progress = a[16];
  }
  job.options.clean = clean;
  return true;
}

namespace {

// The exact layer drops a polygon whose triangulation fails without a word;
// a caller of centerlines hears of it. `job` is -1 outside a batch. False
// when the warning was turned into an error.
bool warn_untriangulated(const CenterlinesOutput& r, Py_ssize_t job) {
  const std::size_t n = r.graph.untriangulated;
  if (n == 0) return true;
  const char* plural = n == 1 ? "" : "s";
  const char* verb = n == 1 ? "is" : "are";
  const char* fix = "the clean pipeline (clean=True) retries such polygons with their rings repaired";
  if (job < 0) {
    return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "%zu band polygon%s could not be triangulated and %s missing from the "
                            "result; %s",
                            n, plural, verb, fix) == 0;
  }
  return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                          "job %zd: %zu band polygon%s could not be triangulated and %s missing "
                          "from the result; %s",
                          job, n, plural, verb, fix) == 0;
}

// A call without a progress callback whose band options are the defaults and
// whose drawing is small enough to finish in a few milliseconds.
bool is_short_call(const CenterlinesJob& job, const PyObject* progress) {
  const TopologizeOptions& o = job.options.topologize;
  const bool* tiles = std::get_if<bool>(&job.options.tiles);
  if (progress != nullptr || o.per_curve_widths || o.resample || o.subdivision_ratio ||
      o.boundary_simplification || std::holds_alternative<double>(job.options.tiles) ||
      (tiles != nullptr && *tiles)) {
    return false;
  }
  const double fs = job.options.feature_size.value_or(job.radius * kDefaultFeatureRatio);
  return band_work(job.curves, job.radius, fs) <= kShortCallWork;
}

PyObject* py_centerlines(PyObject*, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  CenterlinesJob job;
  PyObject* progress = nullptr;
  if (!to_job(args, nargsf, kwnames, job, &progress)) return nullptr;
  if (auto error = check_centerlines_scale(job.radius, job.options.feature_size)) {
    raise_pipeline_error(*error);
    return nullptr;
  }
  const bool with_widths = job.options.topologize.compute_widths;
  const WatchOptions watch{true, progress, is_short_call(job, progress)};
  return run_pipeline<CenterlinesOutput>(
      watch,
      [job = std::move(job)] { return centerlines_inner(job.curves, job.radius, job.options); },
      [&](const CenterlinesOutput& r) -> PyObject* {
        if (!warn_untriangulated(r, -1)) return nullptr;
        return from_centerlines(r, with_widths);
      });
}

// A job is a dict of keyword arguments of centerlines, or a tuple of its
// positional ones (curves, radius[, feature_size]).
bool to_batch_job(PyObject* item, Py_ssize_t index, CenterlinesJob& job) {
  bool ok = false;
  if (PyDict_Check(item)) {
    const Py_ssize_t n = PyDict_Size(item);
    PyObject* kwnames = PyTuple_New(n);
    if (kwnames == nullptr) return false;
    std::vector<PyObject*> values;
    Py_ssize_t pos = 0, k = 0;
    PyObject *key, *value;
    bool keys_ok = true;
    while (PyDict_Next(item, &pos, &key, &value)) {
      if (!PyUnicode_Check(key)) {
        PyErr_SetString(PyExc_TypeError, "keywords must be strings");
        keys_ok = false;
        break;
      }
      Py_INCREF(key);
      PyTuple_SET_ITEM(kwnames, k++, key);
      Py_INCREF(value);
      values.push_back(value);
    }
    ok = keys_ok && to_job(values.data(), 0, kwnames, job, nullptr);
    for (PyObject* v : values) Py_DECREF(v);
    Py_DECREF(kwnames);
  } else if (PyTuple_Check(item)) {
    ok = to_job(&PyTuple_GET_ITEM(item, 0), static_cast<size_t>(PyTuple_GET_SIZE(item)), nullptr, job,
                nullptr);
  } else {
    PyErr_Format(PyExc_TypeError, "expected a dict of keyword arguments or a tuple, got '%.200s'",
                 Py_TYPE(item)->tp_name);
  }
  if (!ok) {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    PyObject* text = value != nullptr ? PyObject_Str(value) : nullptr;
    if (text != nullptr) {
      PyObject* message = PyUnicode_FromFormat("job %zd: %U", index, text);
      Py_DECREF(text);
      if (message != nullptr) {
        PyObject* renamed = PyObject_CallOneArg(type, message);
        Py_DECREF(message);
        if (renamed != nullptr) {
          PyException_SetCause(renamed, value);
          value = nullptr;
          PyErr_SetObject(type, renamed);
          Py_DECREF(renamed);
          Py_XDECREF(type);
          Py_XDECREF(tb);
          return false;
        }
      }
    }
    if (PyErr_Occurred()) {  // the error raised on the way stands
      Py_XDECREF(type);
      Py_XDECREF(value);
      Py_XDECREF(tb);
    } else {
      PyErr_Restore(type, value, tb);
    }
  }
  return ok;
}

const char* const batch_params[] = {"jobs"};
const Signature batch_sig{"centerlines_batch", batch_params, 1, 1};

PyObject* py_centerlines_batch(PyObject*, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  PyObject* a[1];
  if (!bind_arguments(batch_sig, args, nargsf, kwnames, a)) return nullptr;
  PyObject* seq = PySequence_Fast(a[0], "argument 'jobs': expected a sequence of jobs");
  if (seq == nullptr) return nullptr;
  std::vector<CenterlinesJob> jobs(static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq)));
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq); ++i) {
    if (!to_batch_job(PySequence_Fast_GET_ITEM(seq, i), i, jobs[static_cast<std::size_t>(i)])) {
      Py_DECREF(seq);
      return nullptr;
    }
  }
  Py_DECREF(seq);
  if (auto error = check_centerlines_jobs(jobs)) {
    raise_pipeline_error(*error);
    return nullptr;
  }
  std::vector<bool> with_widths;
  for (const CenterlinesJob& job : jobs) with_widths.push_back(job.options.topologize.compute_widths);
  return run_pipeline<std::vector<CenterlinesOutput>>(
      WatchOptions{true, nullptr}, [jobs = std::move(jobs)] { return run_centerlines_batch(jobs); },
      [&](const std::vector<CenterlinesOutput>& results) -> PyObject* {
        PyObject* list = PyList_New(static_cast<Py_ssize_t>(results.size()));
        if (list == nullptr) return nullptr;
        for (std::size_t i = 0; i < results.size(); ++i) {
          if (!warn_untriangulated(results[i], static_cast<Py_ssize_t>(i))) {
            Py_DECREF(list);
            return nullptr;
          }
          PyObject* item = from_centerlines(results[i], with_widths[i]);
          if (item == nullptr) {
            Py_DECREF(list);
            return nullptr;
          }
          PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
        }
        return list;
      });
}

}  // namespace

PyMethodDef centerlines_def = {
    "centerlines", SG_FASTCALL(py_centerlines), METH_FASTCALL | METH_KEYWORDS,
    "centerlines(curves, radius, feature_size=None, *, simplification=None, "
    "min_tip_fraction=None, junction_merge_fraction=None, per_curve_widths=None, "
    "compute_widths=False, subdivision_ratio=None, max_nodes=None, resample=None, "
    "boundary_simplification=None, merge_tolerance=None, clean=True, tiles=None, caps=None, "
    "progress=None)\n"
    "--\n"
    "\n"
    "The centerline graph of the curves, banded with `radius`.\n"
    "\n"
    "Returns (points, offsets, nodes, edges, widths, source_index, source_offsets),\n"
    "each bytes of native little-endian values (read with numpy.frombuffer):\n"
    "points float64 pairs of all chains, offsets int64 chain starts (m + 1),\n"
    "nodes float64 pairs, edges int64 (start, end) node per chain, widths float64\n"
    "per point (None unless compute_widths), source_index int64 sorted curve\n"
    "indices per chain, source_offsets int64 (m + 1).\n"
    "\n"
    "feature_size None: radius x the default ratio. clean=False: the chains of\n"
    "topologize(curves, radius, feature_size, ...) exactly. caps: None (round),\n"
    "'round', 'square' or 'butt', or one of them per curve. progress: None or\n"
    "progress(stage, fraction), called with the lock held about ten times a\n"
    "second at most; an exception from it cancels the call. Ctrl-C stops it."};

PyMethodDef centerlines_batch_def = {
    "centerlines_batch", SG_FASTCALL(py_centerlines_batch), METH_FASTCALL | METH_KEYWORDS,
    "centerlines_batch(jobs)\n"
    "--\n"
    "\n"
    "Runs many centerlines calls in parallel on the worker pool without the\n"
    "interpreter lock. Each job is a dict of keyword arguments of centerlines\n"
    "(curves and radius required) or a tuple (curves, radius[, feature_size]).\n"
    "Returns one centerlines result tuple per job, in job order."};

}  // namespace strokegraph::py
