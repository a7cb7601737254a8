#include "common/progress.h"

#include <algorithm>

namespace strokegraph {
namespace {

void publish(Progress& p, double fraction) {
  // Never decreasing, whatever the stages claim, also when tasks of one call
  // report from several threads.
  fraction = std::min(fraction, 1.0);
  double previous = p.fraction.load(std::memory_order_relaxed);
  while (fraction > previous &&
         !p.fraction.compare_exchange_weak(previous, fraction, std::memory_order_relaxed)) {
  }
}

}  // namespace

void enter_stage(const char* name, double begin, double end) {
  if (Progress* p = current_progress(); p != nullptr && p->detailed) {
    p->begin = begin;
    p->end = end;
    p->stage.store(name, std::memory_order_relaxed);
    publish(*p, begin);
  }
  checkpoint();
}

void advance(double done) {
  if (Progress* p = current_progress(); p != nullptr && p->detailed) {
    publish(*p, p->begin + (p->end - p->begin) * std::clamp(done, 0.0, 1.0));
  }
  checkpoint();
}

}  // namespace strokegraph
