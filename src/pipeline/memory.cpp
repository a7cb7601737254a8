#include "pipeline/memory.h"

#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace strokegraph {

void release_free_memory(std::size_t working_set) {
  if (working_set < kReleaseWorkingSet) return;
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace strokegraph
