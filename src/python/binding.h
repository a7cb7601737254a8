// Binding of positional and keyword arguments to parameter names, with the
// module's own messages.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <initializer_list>

namespace strokegraph::py {

struct Signature {
  const char* name;            // function name, without "()"
  const char* const* params;   // parameter names in order
  Py_ssize_t total;
  Py_ssize_t required;         // the first `required` parameters must be given
};

// Fills out[0..total) with borrowed references, nullptr for parameters not
// given. Returns false with a TypeError set when the arguments do not bind.
bool bind_arguments(const Signature& sig, PyObject* const* args, size_t nargsf,
                    PyObject* kwnames, PyObject** out);

// Adds the functions to a module being executed: checks that it is a module,
// then adds each definition under its own name. Returns 0, or -1 with an
// exception set.
int add_functions(PyObject* module, std::initializer_list<PyMethodDef*> defs);

}  // namespace strokegraph::py
