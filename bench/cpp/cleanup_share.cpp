// Share of the centerlines pipeline's time spent in its clean-up stages and
// in provenance, on one benchmark workload at several radius / feature-size
// ratios.
//
// Usage: cleanup_share WORKLOAD.bin RUNS RATIO...
// Prints one JSON object: per ratio the median seconds of the whole call
// (`total`), of the clean-up (`cleanup`) and of provenance (`sources`).
// The workload file comes from bench/workloads.py (write_binary). Given a
// directory of such files instead (many small drawings, each with its own
// radius: bench/real_share.py), a run calls each of them and sums.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
  std::vector<std::string> paths;
  if (std::filesystem::is_directory(argv[1])) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
      if (entry.path().extension() == ".bin") paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
  } else {
    paths.push_back(argv[1]);
  }
  std::vector<Workload> workloads;
  for (const std::string& path : paths) {
    std::optional<Workload> workload = read_workload(path.c_str());
    if (!workload) {
      std::fprintf(stderr, "cannot read workload %s\n", path.c_str());
      return 1;
    }
    workloads.push_back(std::move(*workload));
  }
  const int runs = std::max(1, std::atoi(argv[2]));
  std::printf("{");
  for (int a = 3; a < argc; ++a) {
    const double ratio = std::atof(argv[a]);
    std::vector<double> total, cleanup, sources;
    for (int r = 0; r < runs; ++r) {
      double t = 0.0, c = 0.0, s = 0.0;
      for (const Workload& workload : workloads) {
        const double radius = workload.buffer_distance;
        CenterlinesOptions options;
        options.feature_size = radius / ratio;
        const auto t0 = std::chrono::steady_clock::now();
        auto result = centerlines_inner(workload.curves, radius, options);
        t += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const auto* out = std::get_if<CenterlinesOutput>(&result);
        if (out == nullptr) {
          std::fprintf(stderr, "centerlines failed\n");
          return 1;
        }
        c += out->cleanup_seconds;
        s += out->sources_seconds;
      }
      total.push_back(t);
      cleanup.push_back(c);
      sources.push_back(s);
    }
    std::printf("%s\"%s\": {\"total\": %.6f, \"cleanup\": %.6f, \"sources\": %.6f}", a > 3 ? ", " : "",
                argv[a], median(total), median(cleanup), median(sources));
  }
  std::printf("}\n");
  return 0;
}
