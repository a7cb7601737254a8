// The extension module `_core`: the centerlines pipeline with its clean-up
// and provenance. Multi-phase initialisation, no module state.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "python/core_entry.h"
#include "python/errors.h"

namespace strokegraph::py {
namespace {

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    PyErr_Format(PyExc_TypeError, "expected a module object, got '%.200s'", Py_TYPE(module)->tp_name);
    return -1;
  }
  if (!share_panic_exception(module)) return -1;
  PyObject* module_name = PyModule_GetNameObject(module);
  if (module_name == nullptr) return -1;
  int rc = 0;
  for (PyMethodDef* def : {&centerlines_def, &centerlines_batch_def}) {
    PyObject* function = PyCFunction_NewEx(def, module, module_name);
    rc = function != nullptr ? PyModule_AddObjectRef(module, def->ml_name, function) : -1;
    Py_XDECREF(function);
    if (rc < 0) break;
  }
  Py_DECREF(module_name);
  return rc;
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
