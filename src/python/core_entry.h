// The functions of the `_core` module, in the fast calling convention.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "pipeline/centerlines.h"

namespace strokegraph::py {

// Binds and converts the arguments of one centerlines call (messages name
// `name`, which takes `leading` positional arguments of its own before
// these); `progress` (borrowed) receives the callback, or stays nullptr when
// there is none or the caller cannot take one (nullptr: a batch job).
bool to_centerlines_job(const char* name, PyObject* const* args, size_t nargsf, PyObject* kwnames,
                        CenterlinesJob& job, PyObject** progress, Py_ssize_t leading = 0);

extern PyMethodDef centerlines_def;
extern PyMethodDef centerlines_batch_def;
extern PyMethodDef tiles_prepare_def;
extern PyMethodDef tile_run_def;
extern PyMethodDef tiles_assemble_def;

}  // namespace strokegraph::py
