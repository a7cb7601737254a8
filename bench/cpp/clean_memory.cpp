// Peak memory of the clean centerlines call, step by step, on one benchmark
// workload: a sampler thread reads the resident set (/proc/self/statm) every
// millisecond and charges it to the step running at the time, named by the
// call's progress (its stage, and within the graph, cleanup and chains stages
// the share of the stage reported so far). Also prints a hash of the output,
// to check that a change leaves the result bit for bit as it was.
//
// Usage: clean_memory WORKLOAD.bin [TILES]
//   TILES: "auto" (default), "on", "off" or a tile side
// Prints one JSON object: per step [seconds, resident MiB at its start, peak
// resident MiB during it, peak MiB allocated (mallinfo2) during it], then the peak resident set of the process
// (getrusage), the chain count and the hash.
// The allocated figure is sampled every 20 ms (mallinfo2 locks every arena);
// the resident set every millisecond.
// The workload file comes from bench/workloads.py (write_binary).

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/progress.h"
#include "pipeline/centerlines.h"
#include "workload_file.h"

using namespace strokegraph;

namespace {

double resident_mib() {
  static const long page = sysconf(_SC_PAGESIZE);
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0.0;
  long size = 0, resident = 0;
  const int got = std::fscanf(f, "%ld %ld", &size, &resident);
  std::fclose(f);
  return got == 2 ? static_cast<double>(resident) * static_cast<double>(page) / 1048576.0 : 0.0;
}

// Bytes the allocator has handed out and not had back, in MiB.
double allocated_mib() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<double>(m.uordblks + m.hblkhd) / 1048576.0;
}

struct Step {
  std::string name;
  double start_seconds = 0.0;
  double start_mib = 0.0;
  double peak_mib = 0.0;
  double peak_allocated_mib = 0.0;
};

// FNV-1a over the bytes of the values.
struct Hash {
  std::uint64_t h = 1469598103934665603ull;
  template <class T>
  void add(const T& v) {
    unsigned char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    for (unsigned char c : b) h = (h ^ c) * 1099511628211ull;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s WORKLOAD.bin [auto|on|off|SIDE]\n", argv[0]);
    return 2;
  }
  const std::optional<Workload> w = read_workload(argv[1]);
  if (!w) {
    std::fprintf(stderr, "cannot read workload %s\n", argv[1]);
    return 1;
  }
  CenterlinesOptions options;
  options.feature_size = w->feature_size;
  const std::string tiles = argc > 2 ? argv[2] : "auto";
  if (tiles == "on") options.tiles = true;
  else if (tiles == "off") options.tiles = false;
  else if (tiles != "auto") options.tiles = std::atof(tiles.c_str());

  Progress progress;
  std::vector<Step> steps;
  std::mutex mu;
  std::atomic<bool> done{false};
  const auto t0 = std::chrono::steady_clock::now();
  auto now = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
  auto step_name = [&] {
    const char* stage = progress.stage.load(std::memory_order_relaxed);
    std::string name = stage == nullptr ? "load" : stage;
    if (name == "graph" || name == "cleanup" || name == "chains") {
      char share[32];
      const double span = progress.end - progress.begin;
      const double f = span > 0.0 ? (progress.fraction.load() - progress.begin) / span : 0.0;
      std::snprintf(share, sizeof share, "@%.2f", f < 0.0 ? 0.0 : f);
      name += share;
    }
    return name;
  };
  auto sample = [&] {
    // mallinfo2 walks every arena under its lock: only every 20th sample.
    static std::size_t count = 0;
    static double allocated = 0.0;
    const double mib = resident_mib();
    if (count++ % 20 == 0) allocated = allocated_mib();
    const std::string name = step_name();
    std::lock_guard<std::mutex> lock(mu);
    if (steps.empty() || steps.back().name != name) steps.push_back({name, now(), mib, mib, allocated});
    steps.back().peak_mib = std::max(steps.back().peak_mib, mib);
    steps.back().peak_allocated_mib = std::max(steps.back().peak_allocated_mib, allocated);
  };
  std::thread sampler([&] {
    while (!done.load()) {
      sample();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  Result<CenterlinesOutput> result = [&] {
    ProgressScope scope(&progress);
    return centerlines_inner(w->curves, w->buffer_distance, options);
  }();
  sample();
  done = true;
  sampler.join();
  const double total = now();
  const auto* out = std::get_if<CenterlinesOutput>(&result);
  if (out == nullptr) {
    std::fprintf(stderr, "centerlines failed: %s\n", std::get<PipelineError>(result).message.c_str());
    return 1;
  }
  Hash hash;
  for (const Polyline& c : out->graph.chains) {
    hash.add(c.size());
    for (const Point& p : c) hash.add(p.x), hash.add(p.y);
  }
  for (const Point& p : out->graph.nodes) hash.add(p.x), hash.add(p.y);
  for (const auto& [a, b] : out->graph.chain_node_ids) hash.add(a), hash.add(b);
  for (const auto& s : out->sources) {
    hash.add(s.size());
    for (std::size_t i : s) hash.add(i);
  }
  std::size_t points = 0;
  for (const Polyline& c : w->curves) points += c.size();
  std::printf("{\"points\": %zu, \"steps\": {", points);
  for (std::size_t k = 0; k < steps.size(); ++k) {
    const double end = k + 1 < steps.size() ? steps[k + 1].start_seconds : total;
    std::printf("%s\n  \"%s\": [%.2f, %.0f, %.0f, %.0f]", k ? "," : "", steps[k].name.c_str(),
                end - steps[k].start_seconds, steps[k].start_mib, steps[k].peak_mib,
                steps[k].peak_allocated_mib);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("},\n \"seconds\": %.2f, \"peak_rss_mib\": %.0f, \"chains\": %zu, \"hash\": \"%016llx\"}\n",
              total, static_cast<double>(usage.ru_maxrss) / 1024.0, out->graph.chains.size(),
              static_cast<unsigned long long>(hash.h));
  return 0;
}
