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
#include "workload_file.h"

using namespace strokegraph;

namespace {

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
  const std::optional<Workload> workload = read_workload(argv[1]);
  if (!workload) {
    std::fprintf(stderr, "cannot read workload %s\n", argv[1]);
    return 1;
  }
  const double radius = workload->buffer_distance;
  const std::vector<Polyline>& curves = workload->curves;
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
