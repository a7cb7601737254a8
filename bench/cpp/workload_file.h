// Reading the workload files that bench/workloads.py writes (write_binary):
// "SGWL", version 1, radius, feature size, curve count, then per curve its
// point count and its points, all little-endian.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/geometry.h"

namespace strokegraph {

struct Workload {
  double buffer_distance = 0.0;
  double feature_size = 0.0;
  std::vector<Polyline> curves;
};

template <typename T>
inline bool read_value(std::ifstream& in, T& value) {
  return static_cast<bool>(in.read(reinterpret_cast<char*>(&value), sizeof value));
}

// std::nullopt when the file is missing, truncated or not a workload.
inline std::optional<Workload> read_workload(const char* path) {
  std::ifstream in(path, std::ios::binary);
  char magic[4];
  std::uint32_t version = 0;
  Workload w;
  std::uint64_t count = 0;
  if (!in.read(magic, 4) || std::string(magic, 4) != "SGWL" || !read_value(in, version) ||
      version != 1 || !read_value(in, w.buffer_distance) || !read_value(in, w.feature_size) ||
      !read_value(in, count))
    return std::nullopt;
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t n = 0;
    if (!read_value(in, n) || n > (std::uint64_t{1} << 32)) return std::nullopt;
    Polyline curve(n);
    for (Point& p : curve)
      if (!read_value(in, p.x) || !read_value(in, p.y)) return std::nullopt;
    w.curves.push_back(std::move(curve));
  }
  return w;
}

}  // namespace strokegraph
