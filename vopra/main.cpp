#include "tamber/toolkit.h"
#include "vopra/application.h"

#include <csignal>
#include <cstdio>

// The one window of the program. It is built before main; no GTK widget exists until initialize().
Application application;

// The program has no command line: its arguments are ignored and never reach GTK.
int main(int, char **) {
    if (!tamber::Toolkit::ready()) {
        std::fputs("vopra: cannot open the X display (is DISPLAY set?)\n", stderr);
        return 1;
    }
    // Past a file size limit a write then fails and the run ends in its warning with nothing left
    // behind, instead of the signal killing the program with a half-written side file.
    std::signal(SIGXFSZ, SIG_IGN);
    application.initialize();
    application.setVisible(true);
    tamber::Toolkit::main();
    return 0;
}
