#include "tamber/toolkit.h"
#include "vopra/application.h"

#include <cstdio>

// The one window of the program. It is built before main; no GTK widget exists until initialize().
Application application;

// The program has no command line: its arguments are ignored and never reach GTK.
int main(int, char **) {
    if (!tamber::Toolkit::ready()) {
        std::fputs("vopra: cannot open the X display (is DISPLAY set?)\n", stderr);
        return 1;
    }
    application.initialize();
    application.setVisible(true);
    tamber::Toolkit::main();
    return 0;
}
