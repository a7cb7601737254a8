// The functions of the `_core` module, in the fast calling convention.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace strokegraph::py {

extern PyMethodDef centerlines_def;
extern PyMethodDef centerlines_batch_def;

}  // namespace strokegraph::py
