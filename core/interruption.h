#pragma once

#include <csignal>

// The process's one run that writes a file under a temporary name, and the signals that may end it:
// SIGINT, SIGTERM, SIGHUP and SIGPIPE remove that name before they end the process, and are held back
// while names change, so that a sequence of renames ends as one step.
namespace vopra {

// Catches the signals while at least one watcher lives.
void watchInterruptions();
void unwatchInterruptions();

// The temporary name the run has made (a path), removed when a signal ends the run; forgotten again once
// the file has its final name or is removed.
void rememberPending(const char *path);
void forgetPending();

// From the first change of a name on, the run ends as it reports, whatever arrives: a signal held back
// meanwhile is then ignored, so that a failure status never stands for files that did change.
void commitNames();
void uncommitNames();

// Ends this process's part in a run that has changed no name yet: removes the temporary name of its
// file not put in place, if it has one, so that nothing of the run is left once the process ends, as
// the caller then makes it do at once. false, removing nothing, once names have begun to change.
bool abandonUnplaced();

// Holds the watched signals back while names change.
class HeldSignals {
public:
    HeldSignals();
    ~HeldSignals();
    HeldSignals(const HeldSignals &) = delete;
    HeldSignals &operator=(const HeldSignals &) = delete;

private:
    sigset_t saved;
};

} // namespace vopra
