#include "python/binding.h"

#include <string>

namespace strokegraph::py {
namespace {

Py_ssize_t find_param(const Signature& sig, PyObject* key) {
  for (Py_ssize_t i = 0; i < sig.total; ++i) {
    if (PyUnicode_CompareWithASCIIString(key, sig.params[i]) == 0) return i;
  }
  return -1;
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string join_names(const Signature& sig, PyObject** out) {
  std::string names;
  Py_ssize_t count = 0, seen = 0;
  for (Py_ssize_t i = 0; i < sig.required; ++i) count += out[i] == nullptr;
  for (Py_ssize_t i = 0; i < sig.required; ++i) {
    if (out[i] != nullptr) continue;
    ++seen;
    if (seen > 1) names += count == 2 ? " and " : (seen == count ? ", and " : ", ");
    names += '\'';
    names += sig.params[i];
    names += '\'';
  }
  return names;
}

}  // namespace

bool bind_arguments(const Signature& sig, PyObject* const* args, size_t nargsf,
                    PyObject* kwnames, PyObject** out) {
  const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (nargs > sig.total) {
    if (sig.required == sig.total) {
      PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments but %zd were given",
                   sig.name, sig.total, nargs);
    } else {
      PyErr_Format(PyExc_TypeError,
                   "%s() takes from %zd to %zd positional arguments but %zd were given", sig.name,
                   sig.required, sig.total, nargs);
    }
    return false;
  }
  for (Py_ssize_t i = 0; i < sig.total; ++i) out[i] = i < nargs ? args[i] : nullptr;

  const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    const Py_ssize_t i = find_param(sig, key);
    if (i < 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.name, key);
      return false;
    }
    if (out[i] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.name,
                   sig.params[i]);
      return false;
    }
    out[i] = args[nargs + k];
  }

  Py_ssize_t missing = 0;
  for (Py_ssize_t i = 0; i < sig.required; ++i) missing += out[i] == nullptr;
  if (missing > 0) {
    const std::string names = join_names(sig, out);
    PyErr_Format(PyExc_TypeError, "%s() missing %zd required positional argument%s: %s", sig.name,
                 missing, missing == 1 ? "" : "s", names.c_str());
    return false;
  }
  return true;
}

int add_functions(PyObject* module, std::initializer_list<PyMethodDef*> defs) {
  if (!PyModule_Check(module)) {
    PyErr_Format(PyExc_TypeError, "expected a module object, got '%.200s'",
                 Py_TYPE(module)->tp_name);
    return -1;
  }
  PyObject* module_name = PyModule_GetNameObject(module);
  if (module_name == nullptr) return -1;
  int rc = 0;
  for (PyMethodDef* def : defs) {
    PyObject* function = PyCFunction_NewEx(def, module, module_name);
    rc = function != nullptr ? PyModule_AddObjectRef(module, def->ml_name, function) : -1;
    Py_XDECREF(function);
    if (rc < 0) break;
  }
  Py_DECREF(module_name);
  return rc;
}

}  // namespace strokegraph::py
