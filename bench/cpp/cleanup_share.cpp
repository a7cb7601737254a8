// Share of the centerlines pipeline's time spent in its clean-up stages and
// in provenance, on one benchmark workload at several radius / feature-size
// ratios.
//
// Usage: cleanup_share WORKLOAD.bin RUNS RATIO...
// Prints one JSON object: per ratio the median seconds of the whole call
// (`total`), of the clean-up (`cleanup`) and of provenance (`sources`).
// The workload file comes from bench/workloads.py (write_binary).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "pipeline/centerlines.h"

using namespace strokegraph;

namespace {

template <typename T>
bool read_value(std::ifstream& in, T& value) {
  return static_cast<bool>(in.read(reinterpret_cast<char*>(&value), sizeof value));
}

bool read_workload(const char* path, double& radius, std::vector<Polyline>& curves) {
  std::ifstream in(path, std::ios::binary);
  char magic[4];
  std::uint32_t version = 0;
  double feature_size = 0.0;
  std::uint64_t count = 0;
  if (!in.read(magic, 4) || std::string(magic, 4) != "SGWL" || !read_value(in, version) ||
      version != 1 || !read_value(in, radius) || !read_value(in, feature_size) || !read_value(in, count))
    return false;
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t n = 0;
    if (!read_value(in, n) || n > (std::uint64_t{1} << 32)) return false;
    Polyline curve(n);
    for (Point& p : curve)
      if (!read_value(in, p.x) || !read_value(in, p.y)) return false;
    curves.push_back(std::move(curve));
  }
  return true;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.empty() ? 0.0 : v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2.0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s WORKLOAD.bin RUNS RATIO...\n", argv[0]);
    return 2;
  }
  double radius = 0.0;
  std::vector<Polyline> curves;
  if (!read_workload(argv[1], radius, curves)) {
    std::fprintf(stderr, "cannot read workload %s\n", argv[1]);
    return 1;
  }
  const int runs = std::max(1, std::atoi(argv[2]));
  std::printf("{");
  for (int a = 3; a < argc; ++a) {
    const double ratio = std::atof(argv[a]);
    CenterlinesOptions options;
    options.feature_size = radius / ratio;
    std::vector<double> total, cleanup, sources;
    for (int r = 0; r < runs; ++r) {
      const auto t0 = std::chrono::steady_clock::now();
      auto result = centerlines_inner(curves, radius, options);
      total.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
      const auto* out = std::get_if<CenterlinesOutput>(&result);
      if (out == nullptr) {
        std::fprintf(stderr, "centerlines failed\n");
        return 1;
      }
      cleanup.push_back(out->cleanup_seconds);
      sources.push_back(out->sources_seconds);
    }
    std::printf("%s\"%s\": {\"total\": %.6f, \"cleanup\": %.6f, \"sources\": %.6f}", a > 3 ? ", " : "",
                argv[a], median(total), median(cleanup), median(sources));
  }
  std::printf("}\n");
  return 0;
}
