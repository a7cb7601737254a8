// The clean pipeline in three steps, for running its tiles elsewhere: the
// plan and tasks out as bytes, one task run, the results assembled.
#include <string>
#include <utility>
#include <vector>

#include "common/progress.h"
#include "pipeline/centerlines.h"
#include "pipeline/tile_bytes.h"
#include "python/binding.h"
#include "python/core_convert.h"
#include "python/core_entry.h"
#include "python/errors.h"
#include "python/watch.h"

namespace strokegraph::py {
namespace {

// The bytes of a bytes-like object, copied; a TypeError naming `name`
// otherwise.
bool to_byte_string(PyObject* obj, const char* name, std::string& out) {
  if (PyUnicode_Check(obj) || !PyObject_CheckBuffer(obj)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': expected a bytes-like object, got '%.200s'",
                 name, Py_TYPE(obj)->tp_name);
    return false;
  }
  Py_buffer view;
  if (PyObject_GetBuffer(obj, &view, PyBUF_CONTIG_RO) < 0) return false;
  struct Release {  // also when assigning throws (an allocation failure)
    Py_buffer* v;
    ~Release() { PyBuffer_Release(v); }
  } release{&view};
  out.assign(static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len));
  return true;
}

PyObject* bytes_of(const std::string& s) {
  return PyBytes_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

struct Prepared {
  bool tiled = false;
  std::string assembly;
  std::vector<std::string> tasks;
};

PyObject* py_tiles_prepare(PyObject*, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  CenterlinesJob job;
  PyObject* progress = nullptr;
  if (!to_centerlines_job("tiles_prepare", args, nargsf, kwnames, job, &progress)) return nullptr;
  if (auto error = check_centerlines_scale(job.radius, job.options.feature_size)) {
    raise_pipeline_error(*error);
    return nullptr;
  }
  return run_pipeline<Prepared>(
      WatchOptions{true, progress},
      [job = std::move(job)]() -> Result<Prepared> {
        Result<std::optional<CenterlinesTiles>> r =
            prepare_centerlines_tiles(job.curves, job.radius, job.options);
        if (auto* error = std::get_if<PipelineError>(&r)) return *error;
        std::optional<CenterlinesTiles>& tiles = std::get<0>(r);
        Prepared out;
        if (!tiles) return out;
        out.tiled = true;
        out.assembly = encode_tile_assembly(tiles->assembly);
        const TilePlan& plan = tiles->plan;
        for (std::size_t t : tiles->assembly.tiles) {
          checkpoint();
          out.tasks.push_back(encode_tile_task(t, plan.rect_of(t), plan.settings,
                                               plan.bands_of(t, tiles->bands)));
        }
        return out;
      },
      [](Prepared& p) -> PyObject* {
        if (!p.tiled) return Py_BuildValue("(O[])", Py_None);
        PyObject* tasks = PyList_New(static_cast<Py_ssize_t>(p.tasks.size()));
        if (tasks == nullptr) return nullptr;
        for (std::size_t k = 0; k < p.tasks.size(); ++k) {
          PyObject* task = bytes_of(p.tasks[k]);
          if (task == nullptr) {
            Py_DECREF(tasks);
            return nullptr;
          }
          PyList_SET_ITEM(tasks, static_cast<Py_ssize_t>(k), task);
          std::string().swap(p.tasks[k]);
        }
        PyObject* assembly = bytes_of(p.assembly);
        if (assembly == nullptr) {
          Py_DECREF(tasks);
          return nullptr;
        }
        PyObject* out = PyTuple_Pack(2, assembly, tasks);
        Py_DECREF(assembly);
        Py_DECREF(tasks);
        return out;
      });
}

const char* const run_params[] = {"task"};
const Signature run_sig{"tile_run", run_params, 1, 1};

PyObject* py_tile_run(PyObject*, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  PyObject* a[1];
  if (!bind_arguments(run_sig, args, nargsf, kwnames, a)) return nullptr;
  std::string task;
  if (!to_byte_string(a[0], "task", task)) return nullptr;
  return run_pipeline<std::string>(
      WatchOptions{true, nullptr},
      [task = std::move(task)]() -> Result<std::string> {
        Result<TileTask> decoded = decode_tile_task(task);
        if (auto* error = std::get_if<PipelineError>(&decoded)) return *error;
        const TileTask& t = std::get<TileTask>(decoded);
        std::vector<const Ring*> bands;
        bands.reserve(t.bands.size());
        for (const Ring& band : t.bands) bands.push_back(&band);
        return encode_tile_result(t.tile, run_tile(t.settings, t.own, bands));
      },
      [](const std::string& result) { return bytes_of(result); });
}

constexpr Py_ssize_t kLeading = 2;  // shared, results: positional only

PyObject* py_tiles_assemble(PyObject*, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (nargs < kLeading) {
    PyErr_Format(PyExc_TypeError,
                 "tiles_assemble() takes the plan and the results as its first two arguments, "
                 "got %zd positional arguments",
                 nargs);
    return nullptr;
  }
  std::string assembly;
  if (!to_byte_string(args[0], "shared", assembly)) return nullptr;
  std::vector<std::string> results;
  {
    if (PyBytes_Check(args[1]) || PyByteArray_Check(args[1]) || !PySequence_Check(args[1])) {
      PyErr_Format(PyExc_TypeError, "argument 'results': expected a sequence of bytes, got '%.200s'",
                   Py_TYPE(args[1])->tp_name);
      return nullptr;
    }
    // A tuple of its own (no item can go away while it is read), owned until
    // the end of the block, also when copying throws.
    struct Owned {
      PyObject* p;
      ~Owned() { Py_XDECREF(p); }
    } seq{PySequence_Tuple(args[1])};
    if (seq.p == nullptr) return nullptr;
    results.resize(static_cast<std::size_t>(PyTuple_GET_SIZE(seq.p)));
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(seq.p); ++k) {
      if (!to_byte_string(PyTuple_GET_ITEM(seq.p, k), "results",
                          results[static_cast<std::size_t>(k)]))
        return nullptr;
    }
  }
  CenterlinesJob job;
  PyObject* progress = nullptr;
  if (!to_centerlines_job("tiles_assemble", args + kLeading,
                          static_cast<size_t>(nargs - kLeading), kwnames, job, &progress,
                          kLeading))
    return nullptr;
  if (auto error = check_centerlines_scale(job.radius, job.options.feature_size)) {
    raise_pipeline_error(*error);
    return nullptr;
  }
  const bool with_widths = job.options.topologize.compute_widths;
  return run_pipeline<CenterlinesOutput>(
      WatchOptions{true, progress},
      [job = std::move(job), assembly = std::move(assembly),
       results = std::move(results)]() -> Result<CenterlinesOutput> {
        Result<TileAssembly> plan = decode_tile_assembly(assembly);
        if (auto* error = std::get_if<PipelineError>(&plan)) return *error;
        std::vector<std::pair<std::size_t, TileResult>> decoded;
        decoded.reserve(results.size());
        for (std::size_t k = 0; k < results.size(); ++k) {
          checkpoint();
          auto one = decode_tile_result(results[k]);
          if (auto* error = std::get_if<PipelineError>(&one)) {
            return PipelineError{"result " + std::to_string(k) + ": " + error->message};
          }
          decoded.push_back(std::get<0>(std::move(one)));
        }
        return assemble_centerlines_tiles(job.curves, job.radius, job.options,
                                          std::get<TileAssembly>(std::move(plan)),
                                          std::move(decoded));
      },
      [&](const CenterlinesOutput& r) { return from_centerlines(r, with_widths); });
}

}  // namespace

PyMethodDef tiles_prepare_def = {
    "tiles_prepare", SG_FASTCALL(py_tiles_prepare), METH_FASTCALL | METH_KEYWORDS,
    "tiles_prepare(curves, radius, feature_size=None, **options)\n"
    "--\n"
    "\n"
    "The first step of centerlines(curves, radius, feature_size, **options) run\n"
    "tile by tile elsewhere (same arguments). Returns (shared, tasks): shared\n"
    "bytes for tiles_assemble and one task (bytes) per tile with work, in tile\n"
    "order, for tile_run; or (None, []) when this call does not tile (clean off,\n"
    "tiles=False, or the automatic choice keeps the drawing in one piece)."};

PyMethodDef tile_run_def = {
    "tile_run", SG_FASTCALL(py_tile_run), METH_FASTCALL | METH_KEYWORDS,
    "tile_run(task)\n"
    "--\n"
    "\n"
    "Runs one task of tiles_prepare and returns its result (bytes). Needs\n"
    "nothing but the task; releases the interpreter lock. A malformed task\n"
    "raises ValueError."};

PyMethodDef tiles_assemble_def = {
    "tiles_assemble", SG_FASTCALL(py_tiles_assemble), METH_FASTCALL | METH_KEYWORDS,
    "tiles_assemble(shared, results, curves, radius, feature_size=None, **options)\n"
    "--\n"
    "\n"
    "The last step: the results of tile_run, in task order, stitched and cleaned\n"
    "up with the arguments given to tiles_prepare. Returns what\n"
    "centerlines(curves, radius, feature_size, **options) returns, bit for bit.\n"
    "A malformed buffer, results of other tasks or other arguments raise\n"
    "ValueError."};

}  // namespace strokegraph::py
