// The extension module `_core`: the centerlines pipeline with its clean-up
// and provenance. Multi-phase initialisation, no module state.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "python/binding.h"
#include "python/core_entry.h"
#include "python/errors.h"

namespace strokegraph::py {
namespace {

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) return add_functions(module, {});
  if (!share_panic_exception(module)) return -1;
  return add_functions(module, {&centerlines_def, &centerlines_batch_def, &tiles_prepare_def,
                                &tile_run_def, &tiles_assemble_def});
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_core", "", 0, nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace strokegraph::py

PyMODINIT_FUNC PyInit__core(void) { return PyModuleDef_Init(&strokegraph::py::module_def); }
