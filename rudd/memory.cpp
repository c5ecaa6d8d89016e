#include "rudd/memory.h"

#include <cstdio>
#include <cstdlib>

namespace rudd {

[[noreturn]] void out_of_memory(std::size_t bytes) {
    std::fprintf(stderr, "out of memory: could not allocate %zu bytes\n", bytes);
    std::abort();
}

void *allocate(std::size_t bytes) {
    void *block = std::malloc(bytes ? bytes : 1);
    if (!block)
        out_of_memory(bytes);
    return block;
}

void *reallocate(void *block, std::size_t bytes) {
    void *grown = std::realloc(block, bytes ? bytes : 1);
    if (!grown)
        out_of_memory(bytes);
    return grown;
}

} // namespace rudd
