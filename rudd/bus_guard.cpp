#include "rudd/bus_guard.h"

#include <cstring>

namespace rudd {

static bus_guard *guarding = nullptr;

bus_guard::bus_guard(const filemap *const *maps, int count) : maps(maps), count(count), outer(guarding) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = caught;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &saved);
    guarding = this;
}

bus_guard::~bus_guard() {
    sigaction(SIGBUS, &saved, nullptr);
    guarding = outer;
}

void bus_guard::caught(int signal, siginfo_t *info, void *) {
    bus_guard *guard = guarding;
    if (guard && guard->armed) {
        auto address = static_cast<const uint8_t *>(info->si_addr);
        for (int i = 0; i < guard->count; i++) {
            const filemap *map = guard->maps[i];
            if (map->data() && address >= map->data() && address < map->data() + map->size()) {
                guard->armed = false;
                siglongjmp(guard->landing, 1);
            }
        }
    }
    // Not ours: the default action ends the program as it would have without the guard.
    std::signal(signal, SIG_DFL);
    raise(signal);
}

} // namespace rudd
