#include "python/core_convert.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "python/convert.h"

namespace strokegraph::py {
namespace {

static_assert(std::endian::native == std::endian::little, "results are little-endian bytes");

// Re-raises the pending TypeError, ValueError or OverflowError with
// "{what} {index}: " in front of its message, the original as its cause.
void prefix_error(const char* what, Py_ssize_t index) {
  PyObject* type = nullptr;
  if (PyErr_ExceptionMatches(PyExc_TypeError)) type = PyExc_TypeError;
  else if (PyErr_ExceptionMatches(PyExc_OverflowError)) type = PyExc_OverflowError;
  else if (PyErr_ExceptionMatches(PyExc_ValueError)) type = PyExc_ValueError;
  if (type == nullptr) return;
  PyObject *etype = nullptr, *original = nullptr, *traceback = nullptr;
  PyErr_Fetch(&etype, &original, &traceback);
  PyErr_NormalizeException(&etype, &original, &traceback);
  if (traceback != nullptr) PyException_SetTraceback(original, traceback);
  Py_XDECREF(etype);
  Py_XDECREF(traceback);
  PyObject* text = PyObject_Str(original);
  PyObject* message = text != nullptr ? PyUnicode_FromFormat("%s %zd: %U", what, index, text) : nullptr;
  Py_XDECREF(text);
  PyObject* renamed = message != nullptr ? PyObject_CallOneArg(type, message) : nullptr;
  Py_XDECREF(message);
  if (renamed == nullptr) {
    Py_DECREF(original);
    return;
  }
  PyException_SetCause(renamed, original);  // steals `original`
  PyErr_SetObject(type, renamed);
  Py_DECREF(renamed);
}

bool is_float64(const Py_buffer& view) {
  const char* f = view.format != nullptr ? view.format : "B";
  return view.itemsize == 8 && (std::strcmp(f, "d") == 0 || std::strcmp(f, "<d") == 0 ||
                                std::strcmp(f, "=d") == 0 || std::strcmp(f, "@d") == 0);
}

std::string shape_text(const Py_buffer& view) {
  std::string s = "(";
  for (int k = 0; k < view.ndim; ++k) {
    if (k) s += ", ";
    s += std::to_string(view.shape[k]);
  }
  if (view.ndim == 1) s += ",";
  return s + ")";
}

// Reads a buffer of `ndim` dimensions (second of length 2 when ndim is 2) of
// float64 values; sets a TypeError describing what came instead.
template <class Store>
bool read_buffer(PyObject* obj, int ndim, const char* expected, Store&& store) {
  Py_buffer view;
  if (PyObject_GetBuffer(obj, &view, PyBUF_RECORDS_RO) < 0) return false;
  struct Release {  // also when storing throws (an allocation failure)
    Py_buffer* v;
    ~Release() { PyBuffer_Release(v); }
  } release{&view};
  bool ok = is_float64(view) && view.ndim == ndim && (ndim == 1 || view.shape[1] == 2);
  if (!ok) {
    PyErr_Format(PyExc_TypeError, "expected %s of float64, got a buffer of format '%s' and shape %s",
                 expected, view.format != nullptr ? view.format : "B", shape_text(view).c_str());
  } else {
    const auto* base = static_cast<const char*>(view.buf);
    const Py_ssize_t s0 = view.strides != nullptr ? view.strides[0] : 8 * (ndim == 2 ? 2 : 1);
    const Py_ssize_t s1 = ndim == 2 ? (view.strides != nullptr ? view.strides[1] : 8) : 0;
    store(view.shape[0], [&](Py_ssize_t i, Py_ssize_t j) {
      double v;
      std::memcpy(&v, base + i * s0 + j * s1, sizeof v);
      return v;
    });
  }
  return ok;
}

// Runs convert(item, index) over every item of a sequence argument.
template <class Convert>
bool each_item(PyObject* obj, Convert&& convert) {
  if (PyUnicode_Check(obj) || PyBytes_Check(obj) || !PySequence_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "expected a sequence, got '%.200s'", Py_TYPE(obj)->tp_name);
    return false;
  }
  PyObject* iter = PyObject_GetIter(obj);
  if (iter == nullptr) return false;
  Py_ssize_t index = 0;
  while (PyObject* item = PyIter_Next(iter)) {
    const bool ok = convert(item, index++);
    Py_DECREF(item);
    if (!ok) {
      Py_DECREF(iter);
      return false;
    }
  }
  Py_DECREF(iter);
  return !PyErr_Occurred();
}

// One item converted by a converter of lists: the item wrapped in a 1-tuple.
template <class Vec, class Convert>
bool convert_one(PyObject* item, Vec& out, Convert&& convert) {
  PyObject* wrapped = PyTuple_Pack(1, item);
  if (wrapped == nullptr) return false;
  const bool ok = convert(wrapped, out);
  Py_DECREF(wrapped);
  return ok;
}

PyObject* new_bytes(const void* data, std::size_t bytes) {
  return PyBytes_FromStringAndSize(static_cast<const char*>(data), static_cast<Py_ssize_t>(bytes));
}

template <class T>
PyObject* bytes_of(const std::vector<T>& v) {
  return new_bytes(v.data(), v.size() * sizeof(T));
}

}  // namespace

bool to_core_curves(PyObject* obj, std::vector<Polyline>& out) {
  return each_item(obj, [&out](PyObject* item, Py_ssize_t index) {
    Polyline curve;
    bool ok;
    if (PyObject_CheckBuffer(item)) {
      ok = read_buffer(item, 2, "a (k, 2) array", [&](Py_ssize_t n, auto&& at) {
        curve.resize(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) curve[i] = {at(i, 0), at(i, 1)};
      });
    } else {
      std::vector<Polyline> one;
      ok = convert_one(item, one, to_curves);
      if (ok) curve = std::move(one[0]);
    }
    if (!ok) {
      prefix_error("curve", index);
      return false;
    }
    out.push_back(std::move(curve));
    return true;
  });
}

bool to_core_tiles(PyObject* obj, TileChoice& out) {
  out = std::monostate{};
  if (obj == nullptr || obj == Py_None) return true;
  if (PyBool_Check(obj)) {
    out = obj == Py_True;
    return true;
  }
  double side;
  if (!to_number(obj, side)) return false;
  out = side;
  return true;
}

namespace {

bool to_cap(PyObject* obj, Cap& out) {
  if (!PyUnicode_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "expected 'round', 'square' or 'butt', got '%.200s'",
                 Py_TYPE(obj)->tp_name);
    return false;
  }
  const char* name = PyUnicode_AsUTF8(obj);
  if (name == nullptr) return false;
  const std::string_view text(name);
  if (text == "round") {
    out = Cap::Round;
  } else if (text == "square") {
    out = Cap::Square;
  } else if (text == "butt") {
    out = Cap::Butt;
  } else {
    PyErr_Format(PyExc_ValueError, "caps must be 'round', 'square' or 'butt', got %R", obj);
    return false;
  }
  return true;
}

}  // namespace

bool to_core_caps(PyObject* obj, std::vector<Cap>& out) {
  out.clear();
  if (obj == nullptr || obj == Py_None) return true;
  Cap cap;
  if (PyUnicode_Check(obj)) {
    if (!to_cap(obj, cap)) return false;
    out.push_back(cap);
    return true;
  }
  return each_item(obj, [&out, &cap](PyObject* item, Py_ssize_t) {
    if (!to_cap(item, cap)) return false;
    out.push_back(cap);
    return true;
  });
}

bool to_core_widths(PyObject* obj, std::optional<WidthLists>& out) {
  out.reset();
  if (obj == nullptr || obj == Py_None) return true;
  WidthLists lists;
  const bool ok = each_item(obj, [&lists](PyObject* item, Py_ssize_t index) {
    std::vector<double> widths;
    bool fine;
    if (PyObject_CheckBuffer(item)) {
      fine = read_buffer(item, 1, "a 1-D array", [&](Py_ssize_t n, auto&& at) {
        widths.resize(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) widths[i] = at(i, 0);
      });
    } else {
      std::optional<WidthLists> one;
      fine = convert_one(item, one, to_optional_widths);
      if (fine) widths = std::move((*one)[0]);
    }
    if (!fine) {
      prefix_error("per_curve_widths entry", index);
      return false;
    }
    lists.push_back(std::move(widths));
    return true;
  });
  if (ok) out = std::move(lists);
  return ok;
}

PyObject* from_centerlines(const CenterlinesOutput& r, bool with_widths) {
  const TopologizeOutput& g = r.graph;
  std::vector<double> points, nodes, widths;
  std::vector<std::int64_t> offsets{0}, edges, source_index, source_offsets{0};
  for (const Polyline& chain : g.chains) {
    for (const Point& p : chain) points.push_back(p.x), points.push_back(p.y);
    offsets.push_back(static_cast<std::int64_t>(points.size() / 2));
  }
  for (const Point& p : g.nodes) nodes.push_back(p.x), nodes.push_back(p.y);
  for (const auto& [a, b] : g.chain_node_ids) {
    edges.push_back(static_cast<std::int64_t>(a));
    edges.push_back(static_cast<std::int64_t>(b));
  }
  for (const std::vector<double>& w : g.widths) widths.insert(widths.end(), w.begin(), w.end());
  for (const std::vector<std::size_t>& s : r.sources) {
    for (std::size_t c : s) source_index.push_back(static_cast<std::int64_t>(c));
    source_offsets.push_back(static_cast<std::int64_t>(source_index.size()));
  }
  PyObject* items[7] = {bytes_of(points), bytes_of(offsets), bytes_of(nodes), bytes_of(edges),
                        nullptr, bytes_of(source_index), bytes_of(source_offsets)};
  if (with_widths) {
    items[4] = bytes_of(widths);
  } else {
    items[4] = Py_None;
    Py_INCREF(Py_None);
  }
  PyObject* t = nullptr;
  bool complete = true;
  for (PyObject* item : items) complete = complete && item != nullptr;
  if (complete) t = PyTuple_New(7);
  if (t == nullptr) {
    for (PyObject* item : items) Py_XDECREF(item);
    return nullptr;
  }
  for (Py_ssize_t i = 0; i < 7; ++i) PyTuple_SET_ITEM(t, i, items[i]);
  return t;
}

}  // namespace strokegraph::py
