// qpt: creates, applies and describes QPT patches from the command line, over the same engine as vopra.
// Every failure ends the run with one line on stderr and a non-zero status; no output file, and no
// partial file, is left behind: results are written beside the output and take its name only when whole
// and on disk.

#include "rudd/file.h"
#include "rudd/qpt.h"
#include "rudd/string.h"
#include "vopra/files.h"
#include "vopra/patchfile.h"
#include "vopra/replacement.h"
#include "vopra/workflow.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

using rudd::file;
using rudd::filemap;
using rudd::qpt;
using rudd::string;

namespace {

const int status_failure = 1;
const int status_usage = 2;

const char help_text[] =
    "Usage: qpt create SOURCE TARGET [PATCH]\n"
    "       qpt apply PATCH INPUT OUTPUT\n"
    "       qpt apply PATCH FILE\n"
    "       qpt info PATCH [FILE]\n"
    "Create, apply or describe a QPT patch: the sizes, CRC-32 checksums and exclusive-or of the\n"
    "differing bytes of two files, so that one patch turns either file into the other.\n"
    "\n"
    "  create   write the patch from SOURCE to TARGET into PATCH (default: SOURCE with its\n"
    "           extension replaced by \".qpt\")\n"
    "  apply    write the other side of PATCH for INPUT (its source or its target) into OUTPUT;\n"
    "           INPUT is left untouched, an existing OUTPUT is replaced only on success\n"
    "  apply    with FILE alone: patch FILE in place as vopra does, keeping its old content\n"
    "           beside it under its name with the extension replaced by \".bak\"\n"
    "  info     check PATCH and show what it records; with FILE, tell whether FILE is the\n"
    "           patch's source, its target, or neither\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 on failure (for info: also when FILE is neither side), 2 on\n"
    "wrong usage. Files must be regular files smaller than 4 GiB.\n";

void say(const char *format, ...) __attribute__((format(printf, 1, 2)));

// One line on stderr in the manner of the common tools: "qpt: ...".
void say(const char *format, ...) {
    std::fputs("qpt: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}

int usage(const char *line) {
    say("usage: %s (try 'qpt --help')", line);
    return status_usage;
}

void watch_interruptions() {
    // Past a file size limit a write then fails with EFBIG, which is reported and cleaned up like a
    // full disk, instead of the signal killing the run with its partial file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
}

// A progress bar on stderr, drawn only when stderr is a terminal; redrawn when the percentage moves.
class progress_bar {
public:
    explicit progress_bar(const char *label) : label(label), shown(isatty(STDERR_FILENO) == 1) {}
    ~progress_bar() { finish(); }

    // What the workflow calls as it goes: this bar's update, or nothing when the bar is not shown.
    vopra::Progress reporter() { return shown ? vopra::Progress(&progress_bar::update, this) : vopra::Progress(); }
    void update(unsigned offset, unsigned total) {
        unsigned percent = total ? unsigned(uint64_t(offset) * 100 / total) : 100;
        if (percent > 100)
            percent = 100;
        if (percent == last)
            return;
        last = percent;
        char bar[41];
        unsigned filled = percent * 40 / 100;
        for (unsigned i = 0; i < 40; i++)
            bar[i] = i < filled ? '#' : '.';
        bar[40] = 0;
        std::fprintf(stderr, "\rqpt: %s [%s] %3u%%", label, bar, percent);
        drawn = true;
    }
    void finish() {
        if (drawn)
            std::fputs("\r\033[K", stderr);
        drawn = false;
    }

private:
    const char *label;
    bool shown;
    bool drawn = false;
    unsigned last = ~0u;
};

// Maps an input file, or says in the user's terms why it cannot.
bool map_input(filemap &map, const char *name) {
    string why;
    if (vopra::openInput(map, name, why))
        return true;
    say("%s", why.text());
    return false;
}

// An existing output is replaced only when it is a regular file and not one of the inputs.
bool check_output(const char *output, const char *role, const char *first, const char *second) {
    // A symbolic link is replaced by the new file, unless it leads to something other than a regular
    // file (a folder, a device): that is refused like the thing itself.
    struct stat info, target;
    if (lstat(output, &info) == 0 && !S_ISREG(info.st_mode) &&
        (!S_ISLNK(info.st_mode) || (stat(output, &target) == 0 && !S_ISREG(target.st_mode)))) {
        say("'%s' exists and is not a regular file; it is not replaced", output);
        return false;
    }
    for (const char *input : {first, second}) {
        if (vopra::sameFile(output, input)) {
            say("'%s' is the same file as '%s'; choose another %s", output, input, role);
            return false;
        }
    }
    // A write protection the user set holds, as when the file was opened for writing.
    if (vopra::writeProtected(output)) {
        say("'%s' is write-protected; it is not replaced", output);
        return false;
    }
    return true;
}

// Reads the patch's record; false with a message when it is no patch or a damaged one.
bool read_patch(const filemap &patch, const char *name, qpt::summary &recorded) {
    string why;
    if (vopra::readPatch(patch, name, recorded, why))
        return true;
    say("%s", why.text());
    return false;
}

// Says why the input is neither side of the patch.
int neither(const char *input_name, const char *patch_name, const string &reason) {
    say("'%s' is neither source nor target of '%s': %s", input_name, patch_name, reason.text());
    return status_failure;
}

int create_patch(int count, char **operands) {
    if (count < 2 || count > 3)
        return usage("qpt create SOURCE TARGET [PATCH]");
    const char *source_name = operands[0], *target_name = operands[1];
    string patch_name =
        count == 3 ? string(operands[2]) : string(rudd::remove_extension(source_name), ".qpt");
    filemap source, target;
    if (!map_input(source, source_name) || !map_input(target, target_name))
        return status_failure;
    if (!check_output(patch_name, "PATCH", source_name, target_name))
        return status_failure;

    vopra::Replacement written(patch_name, patch_name, ".tmp");
    if (!written.create()) {
        say("%s", written.cause().text());
        return status_failure;
    }
    progress_bar bar("creating");
    string why;
    vopra::Written outcome = vopra::writePatchFile(source, target, written, bar.reporter(), why);
    bar.finish();
    if (outcome == vopra::Written::changed) {
        say("'%s' or '%s' changed while it was read; '%s' not written", source_name, target_name,
            patch_name.text());
        return status_failure;
    }
    if (outcome != vopra::Written::done || !written.replace()) {
        say("%s", outcome == vopra::Written::done ? written.cause().text() : why.text());
        return status_failure;
    }
    return 0;
}

// In place, through vopra's own workflow: the same checks, names, file handling and messages.
int apply_in_place(const char *patch_name, const char *file_name) {
    progress_bar bar("applying");
    vopra::Outcome outcome = vopra::applyPatch(patch_name, file_name, bar.reporter());
    bar.finish();
    if (outcome.cause.empty())
        say("%s", outcome.message.text());
    else
        say("%s: %s", outcome.message.text(), outcome.cause.text());
    return outcome.kind == vopra::Outcome::Kind::Information ? 0 : status_failure;
}

int apply_patch(int count, char **operands) {
    if (count == 2)
        return apply_in_place(operands[0], operands[1]);
    if (count != 3)
        return usage("qpt apply PATCH INPUT OUTPUT | qpt apply PATCH FILE");
    const char *patch_name = operands[0], *input_name = operands[1], *output_name = operands[2];
    filemap patch, input;
    qpt::summary recorded;
    if (!map_input(patch, patch_name) || !read_patch(patch, patch_name, recorded) ||
        !map_input(input, input_name))
        return status_failure;
    string reason;
    if (input.size() != recorded.source_size && input.size() != recorded.target_size) {
        vopra::matchFile(recorded, input.data(), input.size(), reason);
        return neither(input_name, patch_name, reason);
    }
    if (!check_output(output_name, "OUTPUT", input_name, patch_name))
        return status_failure;

    vopra::Replacement written(output_name, output_name, ".tmp");
    if (!written.create()) {
        say("%s", written.cause().text());
        return status_failure;
    }
    progress_bar bar("applying");
    vopra::Written outcome = vopra::writeOtherSide(patch, input, written, vopra::defaultPermissions(), nullptr,
                                                   bar.reporter(), reason);
    bar.finish();
    switch (outcome) {
    case vopra::Written::done:
        break;
    case vopra::Written::changed:
        say("'%s' or '%s' changed while it was read; '%s' not written", patch_name, input_name, output_name);
        return status_failure;
    case vopra::Written::mismatched:
        vopra::matchFile(recorded, input.data(), input.size(), reason);
        return neither(input_name, patch_name, reason);
    case vopra::Written::damaged:
        say("'%s' does not turn '%s' into the file it records (the patch is damaged); '%s' not written",
            patch_name, input_name, output_name);
        return status_failure;
    case vopra::Written::failed:
        say("%s", reason.text());
        return status_failure;
    }
    if (!written.replace()) {
        say("%s", written.cause().text());
        return status_failure;
    }
    return 0;
}

int describe_patch(int count, char **operands) {
    if (count < 1 || count > 2)
        return usage("qpt info PATCH [FILE]");
    const char *patch_name = operands[0];
    filemap patch;
    qpt::summary recorded;
    filemap input;
    if (!map_input(patch, patch_name) || !read_patch(patch, patch_name, recorded) ||
        (count == 2 && !map_input(input, operands[1])))
        return status_failure;
    std::printf("%s: QPT patch of %u bytes, checksum correct\n"
                "source: %u bytes, CRC-32 %08x\n"
                "target: %u bytes, CRC-32 %08x\n"
                "hunks: %u\n"
                "changed bytes: %llu\n",
                patch_name, patch.size(), recorded.source_size, recorded.source_checksum,
                recorded.target_size, recorded.target_checksum, recorded.hunks,
                (unsigned long long)recorded.changed);
    if (count == 1)
        return 0;
    const char *file_name = operands[1];
    string reason;
    switch (vopra::matchFile(recorded, input.data(), input.size(), reason)) {
    case vopra::Side::source:
        std::printf("%s: the patch's source\n", file_name);
        return 0;
    case vopra::Side::target:
        std::printf("%s: the patch's target\n", file_name);
        return 0;
    case vopra::Side::both:
        std::printf("%s: the patch's source and target (the patch changes nothing)\n", file_name);
        return 0;
    case vopra::Side::neither:
        break;
    }
    std::fflush(stdout);
    return neither(file_name, patch_name, reason);
}

// What is printed on stdout is the result of info, --help and --version: when it cannot all be
// written (a full disk, a closed stdout), the run has failed, as with the common tools.
int finish_output(int status) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    say("write error: %s", errno ? std::strerror(errno) : "output failed");
    return status_failure;
}

int run(int argc, char **argv) {
    // Operands may follow "--"; an operand that starts with '-' needs it.
    char *operands[8];
    int count = 0;
    bool options = true;
    for (int i = 1; i < argc; i++) {
        const char *argument = argv[i];
        if (options && std::strcmp(argument, "--") == 0) {
            options = false;
        } else if (options && (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0)) {
            std::fputs(help_text, stdout);
            return 0;
        } else if (options && (std::strcmp(argument, "--version") == 0 || std::strcmp(argument, "-V") == 0)) {
            std::printf("qpt (vopra) %s\n", VOPRA_VERSION);
            return 0;
        } else if (options && argument[0] == '-' && argument[1] != 0) {
            say("unknown option '%s' (try 'qpt --help')", argument);
            return status_usage;
        } else if (count < int(sizeof operands / sizeof operands[0])) {
            operands[count++] = argv[i];
        } else {
            say("too many operands (try 'qpt --help')");
            return status_usage;
        }
    }
    if (count == 0) {
        say("missing command (try 'qpt --help')");
        return status_usage;
    }
    watch_interruptions();
    const char *command = operands[0];
    if (std::strcmp(command, "create") == 0)
        return create_patch(count - 1, operands + 1);
    if (std::strcmp(command, "apply") == 0)
        return apply_patch(count - 1, operands + 1);
    if (std::strcmp(command, "info") == 0)
        return describe_patch(count - 1, operands + 1);
    say("unknown command '%s' (try 'qpt --help')", command);
    return status_usage;
}

} // namespace

int main(int argc, char **argv) {
    return finish_output(run(argc, argv));
}
