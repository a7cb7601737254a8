// Handing freed memory back to the system between the stages of a large call.
#pragma once

#include <cstddef>

namespace strokegraph {

// Returns the allocator's free memory (of every thread's arena) to the
// system where it can. Between stages that free gigabytes this keeps the
// resident set near what is in use: freed blocks in the middle of a heap, and
// blocks freed on another thread than the one that allocated them, otherwise
// stay resident. `working_set` is about how many bytes the call works with:
// below kReleaseWorkingSet it does nothing, since walking every arena then
// costs more than it gives back (a batch of small drawings would pay it for
// every drawing). Does nothing where the allocator offers no such call.
inline constexpr std::size_t kReleaseWorkingSet = std::size_t{64} << 20;
void release_free_memory(std::size_t working_set);

}  // namespace strokegraph
