// The extension module `_internal`: multi-phase initialisation, no module
// state, four functions.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "python/binding.h"
#include "python/entry.h"
#include "python/errors.h"

namespace strokegraph::py {
namespace {

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) return add_functions(module, {});
  if (!init_panic_exception() || !expose_panic_exception(module)) return -1;
  return add_functions(module, {&inflate_curves_def, &triangulate_curves_def, &topologize_def,
                                &topologize_batch_def});
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_internal",  // m_name
    "",           // m_doc
    0,            // m_size: no per-module state
    nullptr,      // m_methods
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace strokegraph::py

PyMODINIT_FUNC PyInit__internal(void) { return PyModuleDef_Init(&strokegraph::py::module_def); }
