#pragma once

#include "rudd/file.h"

#include <csetjmp>
#include <csignal>

namespace rudd {

// Runs pass() so that a bus error on the bytes of one of the maps (its file truncated by another
// program while mapped) makes it return false instead of ending the program.
//
// The contract: a bus error leaves pass() by siglongjmp, so between run() and the code that touches
// the maps there may only be frames without destructors to run (the engine's loops, checksums and
// number readers: plain values, no owning objects), and pass() must hold nothing it would have to give
// back (memory, a lock, a descriptor) while it touches the maps; what it calls and returns from in
// between (the progress callback, the event loop) is free. What pass() wrote before the jump stays as
// written; the caller discards it. Guards nest: an inner guard's maps are its own, and a fault outside every
// guarded map ends the program as it would have without a guard.
class bus_guard {
public:
    // The maps are an array, so that the compiler counts them.
    template <int N> explicit bus_guard(const filemap *const (&maps)[N]) : bus_guard(maps, N) {}
    ~bus_guard();
    template <typename Pass> bool run(Pass pass) {
        if (sigsetjmp(landing, 1) != 0)
            return false;
        armed = true;
        pass();
        armed = false;
        return true;
    }

    static void caught(int signal, siginfo_t *info, void *context);

private:
    bus_guard(const filemap *const *maps, int count);

    sigjmp_buf landing;
    volatile bool armed = false;
    const filemap *const *maps;
    int count;
    struct sigaction saved;
    bus_guard *outer;
};

} // namespace rudd
