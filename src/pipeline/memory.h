// Handing freed memory back to the system between the stages of a large call.
#pragma once

namespace strokegraph {

// Returns the allocator's free memory (of every thread's arena) to the
// system where it can. Between stages that free gigabytes this keeps the
// resident set near what is in use: freed blocks in the middle of a heap, and
// blocks freed on another thread than the one that allocated them, otherwise
// stay resident. Does nothing where the allocator offers no such call.
void release_free_memory();

}  // namespace strokegraph
