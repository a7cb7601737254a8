#include "python/errors.h"

#include <new>
#include <stdexcept>

namespace strokegraph::py {
namespace {

// Owned for the life of the process, like the built-in exception types.
PyObject* panic_exception = nullptr;

}  // namespace

bool init_panic_exception() {
  if (panic_exception != nullptr) return true;
  panic_exception = PyErr_NewExceptionWithDoc(
      "strokegraph.PanicException",
      "An internal invariant of the native pipeline failed. This is a bug in strokegraph.",
      PyExc_BaseException, nullptr);
  return panic_exception != nullptr;
}

namespace {

// The name of the module's package ("strokegraph._internal" -> "strokegraph")
// as a new reference in *out, or nullptr for a module loaded on its own,
// which has no package to tell. False with an exception set on failure.
bool package_name_of(PyObject* module, PyObject** out) {
  *out = nullptr;
  PyObject* name = PyModule_GetNameObject(module);
  if (name == nullptr) return false;
  const Py_ssize_t dot = PyUnicode_FindChar(name, '.', 0, PyUnicode_GET_LENGTH(name), -1);
  *out = dot > 0 ? PyUnicode_Substring(name, 0, dot) : nullptr;
  Py_DECREF(name);
  return !(dot < -1 || (dot > 0 && *out == nullptr));
}

}  // namespace

bool expose_panic_exception(PyObject* module) {
  PyObject* package_name = nullptr;
  if (!package_name_of(module, &package_name)) return false;
  if (package_name == nullptr) return true;
  PyObject* package = PyImport_GetModule(package_name);
  Py_DECREF(package_name);
  if (package == nullptr) return !PyErr_Occurred();
  const int rc = PyObject_SetAttrString(package, "PanicException", panic_exception);
  Py_DECREF(package);
  return rc == 0;
}

bool share_panic_exception(PyObject* module) {
  if (panic_exception != nullptr) return true;
  PyObject* package_name = nullptr;
  if (!package_name_of(module, &package_name)) return false;
  if (package_name == nullptr) return init_panic_exception();
  PyObject* internal_name = PyUnicode_FromFormat("%U._internal", package_name);
  PyObject* internal = internal_name != nullptr ? PyImport_Import(internal_name) : nullptr;
  Py_XDECREF(internal_name);
  PyObject* package = internal != nullptr ? PyImport_GetModule(package_name) : nullptr;
  Py_XDECREF(internal);
  Py_DECREF(package_name);
  if (package == nullptr) return PyErr_Occurred() == nullptr && init_panic_exception();
  PyObject* type = PyObject_GetAttrString(package, "PanicException");
  Py_DECREF(package);
  if (type == nullptr) return false;
  if (!PyExceptionClass_Check(type)) {
    Py_DECREF(type);
    PyErr_SetString(PyExc_TypeError, "PanicException of the package is not an exception type");
    return false;
  }
  panic_exception = type;  // owned for the life of the process
  return true;
}

void raise_pipeline_error(const PipelineError& error) {
  PyObject* message =
      PyUnicode_DecodeUTF8(error.message.data(), static_cast<Py_ssize_t>(error.message.size()),
                           "replace");
  if (message == nullptr) return;
  PyErr_SetObject(PyExc_ValueError, message);
  Py_DECREF(message);
}

void raise_native_exception(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const MemoryLimitError& e) {
    PyErr_SetString(PyExc_MemoryError, e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(panic_exception, e.what());
  } catch (...) {
    PyErr_SetString(panic_exception, "unknown internal error in the native pipeline");
  }
}

void prefix_type_error(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
#if PY_VERSION_HEX >= 0x030C0000
  PyObject* original = PyErr_GetRaisedException();
#else
  PyObject *type = nullptr, *original = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &original, &traceback);
  PyErr_NormalizeException(&type, &original, &traceback);
  if (traceback != nullptr) PyException_SetTraceback(original, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
#endif
  PyObject* text = PyObject_Str(original);
  PyObject* message = text != nullptr ? PyUnicode_FromFormat("argument '%s': %U", name, text) : nullptr;
  Py_XDECREF(text);
  PyObject* renamed = message != nullptr ? PyObject_CallOneArg(PyExc_TypeError, message) : nullptr;
  Py_XDECREF(message);
  if (renamed == nullptr) {  // the error raised on the way stands
    Py_DECREF(original);
    return;
  }
  PyException_SetCause(renamed, original);  // steals `original`
  PyErr_SetObject(PyExc_TypeError, renamed);
  Py_DECREF(renamed);
}

}  // namespace strokegraph::py
