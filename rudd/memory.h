#pragma once

#include <cstddef>

namespace rudd {

// malloc/realloc that never return null: running out of memory ends the program with one clear line on
// stderr instead of a null dereference somewhere later. Text buffers and arrays use these; objects use new.
void *allocate(std::size_t bytes);
void *reallocate(void *block, std::size_t bytes);
// Ends the program with that line; also for a request that cannot even be expressed (a text past 4 GiB).
[[noreturn]] void out_of_memory(std::size_t bytes);

} // namespace rudd
