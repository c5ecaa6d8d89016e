#include "core/interruption.h"

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace vopra {

static const int watched[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
static char pendingPath[PATH_MAX + NAME_MAX + 2];
static volatile sig_atomic_t pendingSet = 0;
static volatile sig_atomic_t committed = 0;
static struct sigaction previous[sizeof watched / sizeof watched[0]];
static int watchers = 0;

static void interrupted(int signal) {
    // A signal held back while names changed arrives once they have: the swap is done, and the run
    // goes on to report it.
    if (committed)
        return;
    if (pendingSet)
        unlink(pendingPath);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

void watchInterruptions() {
    if (watchers++ > 0)
        return;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = interrupted;
    sigemptyset(&action.sa_mask);
    for (int signal : watched)
        sigaddset(&action.sa_mask, signal);
    for (unsigned i = 0; i < sizeof watched / sizeof watched[0]; i++) {
        sigaction(watched[i], nullptr, &previous[i]);
        // A signal the program ignores stays ignored.
        if (previous[i].sa_handler != SIG_IGN)
            sigaction(watched[i], &action, nullptr);
    }
}

void unwatchInterruptions() {
    if (--watchers > 0)
        return;
    for (unsigned i = 0; i < sizeof watched / sizeof watched[0]; i++)
        sigaction(watched[i], &previous[i], nullptr);
}

void rememberPending(const char *path) {
    std::snprintf(pendingPath, sizeof pendingPath, "%s", path);
    pendingSet = 1;
}

void forgetPending() {
    pendingSet = 0;
}

void commitNames() {
    committed = 1;
}

void uncommitNames() {
    committed = 0;
}

bool abandonUnplaced() {
    if (committed)
        return false;
    if (pendingSet)
        unlink(pendingPath);
    pendingSet = 0;
    return true;
}

HeldSignals::HeldSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : watched)
        sigaddset(&set, signal);
    sigprocmask(SIG_BLOCK, &set, &saved);
}

HeldSignals::~HeldSignals() {
    sigprocmask(SIG_SETMASK, &saved, nullptr);
}

} // namespace vopra
