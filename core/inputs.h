#pragma once

#include "core/files.h"
#include "core/match.h"
#include "core/workflow.h"

#include "rudd/error.h"
#include "rudd/qpt.h"

// The record of one apply, whatever its form (in place, into a file of its own, or only described):
// the patch and the input, each opened once by its name, and what was learned of them step by step.
// The form makes its own checks between the steps, on what the record holds; from the first step to
// the last write no name is looked up again.
namespace vopra {

struct ApplyInputs {
    OpenedFile patch, input;
    rudd::qpt::summary recorded{}; // what the patch records, once read
    Matched matched;               // the input's side, its CRC-32, and the output's size and CRC-32

    // Opens the two files by their names, the patch first: "cannot open 'x': ...".
    rudd::done openPatch(const char *name) { return openFile(name, patch); }
    rudd::done openInput(const char *name) { return openFile(name, input); }
    // Both opened and found fit for reading (regular files under 4 GiB), the patch first; the input only
    // where inputName is given. The forms that word no checks of their own take this.
    rudd::done openFit(const char *patchName, const char *inputName);
    // Locks the input against a second run on the same file at the same time ("'x' is being patched by
    // another run"): exclusively where the input is to be replaced, shared where it is only read.
    rudd::done lockInput(bool replacing);
    // Maps the patch and reads what it records; then maps the input, when it is open.
    rudd::done read();
    // Matches the input to one of the patch's files, reading its CRC-32 with progress(done, size).
    rudd::done match(const Progress &progress);
};

} // namespace vopra
