#include "vopra/busguard.h"

#include <cstring>

namespace vopra {

static BusGuard *guarding = nullptr;

BusGuard::BusGuard(const rudd::filemap *const *maps, int count) : maps(maps), count(count), outer(guarding) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = caught;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &saved);
    guarding = this;
}

BusGuard::~BusGuard() {
    sigaction(SIGBUS, &saved, nullptr);
    guarding = outer;
}

void BusGuard::caught(int signal, siginfo_t *info, void *) {
    BusGuard *guard = guarding;
    if (guard && guard->armed) {
        auto address = static_cast<const uint8_t *>(info->si_addr);
        for (int i = 0; i < guard->count; i++) {
            const rudd::filemap *map = guard->maps[i];
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

} // namespace vopra
