#pragma once

#include "rudd/error.h"
#include "rudd/function.h"
#include "rudd/string.h"
#include "rudd/words.h"

#include <vector>

// The two operations of vopra without any window: every check, every file name and every file
// operation of applying and creating a patch. The window shows the outcome in a message box and the
// qpt tool prints it, so both front ends refuse and report exactly the same things.
namespace vopra {

struct Outcome {
    enum class Kind {
        Warning,     // a refused check or a failure; the files are as they were
        Information, // the operation succeeded
    };
    Kind kind;
    rudd::words message; // the window's text; for the tool's own forms, its line (empty on success)
    // Why a run failed, in the user's terms: the file concerned, the recorded sizes and CRC-32s
    // against the file's, the system's error text, and where an original is kept when a failure
    // could not be undone. On success, what the user should know of the result: that the patch was
    // undone, or that the file could not keep its owner. A note each; none where the message says it all.
    std::vector<rudd::words> notes;
};

// How every check and step of the two workflows refuses or fails, and how a run ends well.
inline Outcome warning(const rudd::words &message, const rudd::words &cause = rudd::words()) {
    Outcome outcome{Outcome::Kind::Warning, message, {}};
    if (!cause.empty())
        outcome.notes.push_back(cause);
    return outcome;
}
inline Outcome information(const rudd::words &message, const std::vector<rudd::words> &notes = {}) {
    return Outcome{Outcome::Kind::Information, message, notes};
}

// How the tool's own forms end: a success with what the user should know of output, or the failure's
// account; where that was a fault of the files rather than of the system, it says output was not written.
Outcome toolOutcome(const rudd::either<std::vector<rudd::words>> &written, const char *output);

// Called as progress(offset, total) while the engine works.
using Progress = rudd::function<void(unsigned, unsigned)>;

// Patches targetPath in place with the QPT patch at patchPath; the old content is kept under the
// target's name with the extension ".bak".
Outcome applyPatch(const rudd::string &patchPath, const rudd::string &targetPath, const Progress &progress);

// Writes the patch from sourcePath to targetPath under the source's name with the extension ".qpt".
Outcome createPatch(const rudd::string &sourcePath, const rudd::string &targetPath, const Progress &progress);

// The command-line tool's own forms, with its own texts: the other side of the patch for inputPath
// written to outputPath (inputPath untouched), and the patch written under a name of the caller's.
// An existing output is replaced only on success, and keeps what it carried.
Outcome applyPatchTo(const rudd::string &patchPath, const rudd::string &inputPath,
                     const rudd::string &outputPath, const Progress &progress);
Outcome createPatchAs(const rudd::string &sourcePath, const rudd::string &targetPath,
                      const rudd::string &patchPath, const Progress &progress);

} // namespace vopra
