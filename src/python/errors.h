// How native failures become Python exceptions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>

#include "common/errors.h"

namespace strokegraph::py {

// Creates the process-wide "PanicException" type (derived from BaseException)
// once. Returns false with an exception set on failure.
bool init_panic_exception();

// Makes the type reachable as `PanicException` on the package that holds
// `module`, so callers can catch it. The module itself holds only its
// functions.
bool expose_panic_exception(PyObject* module);

// For a second extension module of the package: makes this module raise the
// package's PanicException (loading `_internal`, which creates it, first), so
// that both modules raise one type. A module loaded on its own gets its own.
bool share_panic_exception(PyObject* module);

// ValueError carrying the message unchanged.
void raise_pipeline_error(const PipelineError& error);

// MemoryError for allocation failures, PanicException for everything else.
void raise_native_exception(std::exception_ptr failure);

// Replaces a pending TypeError by one whose message starts with
// "argument '<name>': ". Other exceptions stay as they are.
void prefix_type_error(const char* name);

}  // namespace strokegraph::py
