// The four functions the module offers, in the fast calling convention.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace strokegraph::py {

extern PyMethodDef inflate_curves_def;
extern PyMethodDef triangulate_curves_def;
extern PyMethodDef topologize_def;
extern PyMethodDef topologize_batch_def;

}  // namespace strokegraph::py
