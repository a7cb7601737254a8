#include "python/convert.h"

#include <cstring>

#include "python/errors.h"

namespace strokegraph::py {
namespace {

// Items reserved up front for a sequence other than a list or a tuple, whose
// reported length may be anything.
constexpr Py_ssize_t kMaxClaimed = 256;

// "'{type name}' object cannot be converted to '{target}'"
void cast_error(PyObject* obj, const char* target) {
  PyObject* name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__");
  if (name == nullptr) return;
  PyErr_Format(PyExc_TypeError, "'%S' object cannot be converted to '%s'", name, target);
  Py_DECREF(name);
}

// Runs `step`, turning an allocation failure into MemoryError. Returns
// false with the exception set when the step failed.
template <class Step>
bool no_throw(Step&& step) {
  try {
    return step();
  } catch (...) {
    raise_native_exception(std::current_exception());
    return false;
  }
}

// Calls convert(item) for every item of a list-valued argument, in order.
// `reserve(n)` receives the reported length when there is one. Neither may
// leave by an exception: a std::bad_alloc becomes MemoryError, with every
// reference released.
template <class Reserve, class Convert>
bool for_each_item(PyObject* obj, Reserve&& reserve, Convert&& convert) {
  if (PyUnicode_Check(obj)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(obj)) {
    cast_error(obj, "Sequence");
    return false;
  }
  auto one = [&convert](PyObject* item) { return no_throw([&] { return convert(item); }); };
  if (PyList_CheckExact(obj)) {
    // Same order and bounds checks as the list iterator: the list may change
    // under us while items convert.
    if (!no_throw([&] { return reserve(PyList_GET_SIZE(obj)), true; })) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(obj); ++i) {
      PyObject* item = PyList_GET_ITEM(obj, i);
      Py_INCREF(item);
      const bool ok = one(item);
      Py_DECREF(item);
      if (!ok) return false;
    }
    return true;
  }
  if (PyTuple_CheckExact(obj)) {
    if (!no_throw([&] { return reserve(PyTuple_GET_SIZE(obj)), true; })) return false;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(obj); ++i) {
      if (!one(PyTuple_GET_ITEM(obj, i))) return false;
    }
    return true;
  }
  // Any other sequence only claims a length: believe it up to a small bound
  // and let the list grow as items arrive.
  const Py_ssize_t hint = PyObject_Size(obj);
  if (hint < 0) {
    PyErr_Clear();  // the length only sizes the first allocation
  } else if (!no_throw([&] { return reserve(hint < kMaxClaimed ? hint : kMaxClaimed), true; })) {
    return false;
  }
  PyObject* iter = PyObject_GetIter(obj);
  if (iter == nullptr) return false;
  while (PyObject* item = PyIter_Next(iter)) {
    const bool ok = one(item);
    Py_DECREF(item);
    if (!ok) {
      Py_DECREF(iter);
      return false;
    }
  }
  Py_DECREF(iter);
  return !PyErr_Occurred();
}

template <class Vec>
auto reserver(Vec& v) {
  return [&v](Py_ssize_t n) { v.reserve(static_cast<std::size_t>(n)); };
}

bool tuple_of_length(PyObject* obj, Py_ssize_t length) {
  if (!PyTuple_Check(obj)) {
    cast_error(obj, "tuple");
    return false;
  }
  if (PyTuple_GET_SIZE(obj) != length) {
    PyErr_Format(PyExc_ValueError, "expected tuple of length %zd, but got tuple of length %zd",
                 length, PyTuple_GET_SIZE(obj));
    return false;
  }
  return true;
}

bool to_point(PyObject* obj, Point& out) {
  return tuple_of_length(obj, 2) && to_number(PyTuple_GET_ITEM(obj, 0), out.x) &&
         to_number(PyTuple_GET_ITEM(obj, 1), out.y);
}

bool to_polyline(PyObject* obj, Polyline& out) {
  return for_each_item(obj, reserver(out), [&out](PyObject* item) {
    Point p;
    if (!to_point(item, p)) return false;
    out.push_back(p);
    return true;
  });
}

bool to_number_list(PyObject* obj, std::vector<double>& out) {
  return for_each_item(obj, reserver(out), [&out](PyObject* item) {
    double v;
    if (!to_number(item, v)) return false;
    out.push_back(v);
    return true;
  });
}

bool is_numpy_bool(PyObject* obj) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  PyObject* module = PyObject_GetAttrString(type, "__module__");
  if (module == nullptr) {
    PyErr_Clear();
    return false;
  }
  PyObject* name = PyObject_GetAttrString(type, "__name__");
  if (name == nullptr) {
    PyErr_Clear();
    Py_DECREF(module);
    return false;
  }
  const bool match = PyUnicode_Check(module) && PyUnicode_Check(name) &&
                     PyUnicode_CompareWithASCIIString(module, "numpy") == 0 &&
                     (PyUnicode_CompareWithASCIIString(name, "bool_") == 0 ||
                      PyUnicode_CompareWithASCIIString(name, "bool") == 0);
  Py_DECREF(module);
  Py_DECREF(name);
  return match;
}

bool to_job(PyObject* obj, BatchJob& job) {
  if (!tuple_of_length(obj, 11)) return false;
  auto item = [obj](Py_ssize_t i) { return PyTuple_GET_ITEM(obj, i); };
  TopologizeOptions& o = job.options;
  // Fields in job order: max_nodes comes right after junction_merge_fraction.
  return to_curves(item(0), job.curves) && to_number(item(1), job.buffer_distance) &&
         to_number(item(2), job.feature_size) && to_optional_number(item(3), o.simplification) &&
         to_optional_number(item(4), o.min_tip_fraction) &&
         to_optional_number(item(5), o.junction_merge_fraction) &&
         to_optional_count(item(6), o.max_nodes) &&
         to_optional_number(item(7), o.subdivision_ratio) &&
         to_optional_number(item(8), o.resample) &&
         to_optional_number(item(9), o.boundary_simplification) &&
         to_optional_number(item(10), o.merge_tolerance);
}

// ---- results -------------------------------------------------------------

PyObject* new_point(const Point& p) {
  PyObject* x = PyFloat_FromDouble(p.x);
  PyObject* y = x != nullptr ? PyFloat_FromDouble(p.y) : nullptr;
  PyObject* t = y != nullptr ? PyTuple_New(2) : nullptr;
  if (t == nullptr) {
    Py_XDECREF(x);
    Py_XDECREF(y);
    return nullptr;
  }
  PyTuple_SET_ITEM(t, 0, x);
  PyTuple_SET_ITEM(t, 1, y);
  return t;
}

// A new list of make(item) for every item; nullptr on the first failure.
template <class Vec, class Make>
PyObject* new_list(const Vec& items, Make&& make) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(items.size()));
  if (list == nullptr) return nullptr;
  Py_ssize_t i = 0;
  for (const auto& item : items) {
    PyObject* value = make(item);
    if (value == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, i++, value);
  }
  return list;
}

PyObject* new_points(const std::vector<Point>& points) { return new_list(points, new_point); }

PyObject* new_point_lists(const std::vector<std::vector<Point>>& lists) {
  return new_list(lists, new_points);
}

// A new tuple made of the given new references; all of them are released if
// one is missing.
template <std::size_t N>
PyObject* new_tuple(PyObject* (&&items)[N]) {
  PyObject* t = nullptr;
  bool complete = true;
  for (PyObject* item : items) complete = complete && item != nullptr;
  if (complete) t = PyTuple_New(N);
  if (t == nullptr) {
    for (PyObject* item : items) Py_XDECREF(item);
    return nullptr;
  }
  for (std::size_t i = 0; i < N; ++i) PyTuple_SET_ITEM(t, static_cast<Py_ssize_t>(i), items[i]);
  return t;
}

PyObject* new_id_pairs(const std::vector<std::pair<std::size_t, std::size_t>>& pairs) {
  return new_list(pairs, [](const std::pair<std::size_t, std::size_t>& p) {
    return new_tuple({PyLong_FromSize_t(p.first), PyLong_FromSize_t(p.second)});
  });
}

PyObject* new_float_lists(const std::vector<std::vector<double>>& lists) {
  return new_list(lists, [](const std::vector<double>& values) {
    return new_list(values, [](double v) { return PyFloat_FromDouble(v); });
  });
}

}  // namespace

bool to_number(PyObject* obj, double& out) {
  if (PyFloat_CheckExact(obj)) {
    out = PyFloat_AS_DOUBLE(obj);
    return true;
  }
  out = PyFloat_AsDouble(obj);
  return !(out == -1.0 && PyErr_Occurred());
}

bool to_optional_number(PyObject* obj, std::optional<double>& out) {
  out.reset();
  if (obj == nullptr || obj == Py_None) return true;
  double v;
  if (!to_number(obj, v)) return false;
  out = v;
  return true;
}

bool to_curves(PyObject* obj, std::vector<Polyline>& out) {
  return for_each_item(obj, reserver(out), [&out](PyObject* item) {
    Polyline curve;
    if (!to_polyline(item, curve)) return false;
    out.push_back(std::move(curve));
    return true;
  });
}

bool to_optional_widths(PyObject* obj, std::optional<WidthLists>& out) {
  out.reset();
  if (obj == nullptr || obj == Py_None) return true;
  WidthLists lists;
  const bool ok = for_each_item(obj, reserver(lists), [&lists](PyObject* item) {
    std::vector<double> widths;
    if (!to_number_list(item, widths)) return false;
    lists.push_back(std::move(widths));
    return true;
  });
  if (ok) out = std::move(lists);
  return ok;
}

bool to_flag(PyObject* obj, bool& out) {
  if (obj == nullptr || obj == Py_False) {
    out = false;
    return true;
  }
  if (obj == Py_True) {
    out = true;
    return true;
  }
  if (is_numpy_bool(obj)) {
    const int truth = PyObject_IsTrue(obj);
    if (truth < 0) return false;
    out = truth != 0;
    return true;
  }
  cast_error(obj, "bool");
  return false;
}

bool to_optional_count(PyObject* obj, std::optional<std::size_t>& out) {
  out.reset();
  if (obj == nullptr || obj == Py_None) return true;
  PyObject* index = PyNumber_Index(obj);
  if (index == nullptr) return false;
  const std::size_t v = PyLong_AsSize_t(index);
  Py_DECREF(index);
  if (v == static_cast<std::size_t>(-1) && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool to_jobs(PyObject* obj, std::vector<BatchJob>& out) {
  return for_each_item(obj, reserver(out), [&out](PyObject* item) {
    BatchJob job;
    if (!to_job(item, job)) return false;
    out.push_back(std::move(job));
    return true;
  });
}

PyObject* from_topologize(const TopologizeOutput& r) {
  return new_tuple({new_point_lists(r.chains), new_points(r.nodes), new_id_pairs(r.chain_node_ids),
                    new_float_lists(r.widths)});
}

PyObject* from_batch(const std::vector<TopologizeOutput>& results) {
  return new_list(results, [](const TopologizeOutput& r) {
    return new_tuple(
        {new_point_lists(r.chains), new_points(r.nodes), new_id_pairs(r.chain_node_ids)});
  });
}

PyObject* from_polygons(const std::vector<BufferPolygon>& polygons) {
  return new_list(polygons, [](const BufferPolygon& p) {
    return new_tuple({new_points(p.outer), new_point_lists(p.holes)});
  });
}

PyObject* from_triangles(const std::vector<Triangle>& triangles) {
  return new_list(triangles, [](const Triangle& t) {
    return new_tuple({new_point(t[0]), new_point(t[1]), new_point(t[2])});
  });
}

}  // namespace strokegraph::py
