// qpt: creates, applies and describes QPT patches from the command line, over the same engine as vopra.
// Every failure ends the run with one line on stderr and a non-zero status; no output file, and no
// partial file, is left behind: results are written beside the output and take its name only when whole
// and on disk.

#include "core/inputs.h"
#include "core/quoting.h"
#include "core/workflow.h"

#include "rudd/error.h"
#include "rudd/qpt.h"
#include "rudd/string.h"
#include "rudd/words.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

using rudd::done;
using rudd::string;
using rudd::words;

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

// Every name on stdout and stderr, an unknown option's or command's too, is printed escaped.
string shown(const words &text) {
    return vopra::shown(text, vopra::NameStyle::escaped);
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
    vopra::Progress reporter() {
        return shown ? vopra::Progress(&progress_bar::update, this) : vopra::Progress();
    }
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

bool flush_output();

// Prints what a run came to, in the manner of the common tools: nothing more on a plain success; the
// window's own text for the in-place form; why, after the text, for a failure; and what the user
// should know of a success, a line each, every line starting with the tool's name, so no note reads as
// another's.
int report(const vopra::Outcome &outcome) {
    bool succeeded = outcome.kind == vopra::Outcome::Kind::Information;
    string message = shown(outcome.message);
    if (!succeeded && !outcome.notes.empty())
        say("%s: %s", message.text(), shown(outcome.notes.front()).text());
    else if (!message.empty())
        say("%s", message.text());
    for (size_t i = succeeded ? 0 : 1; i < outcome.notes.size(); i++)
        say("%s", shown(outcome.notes[i]).text());
    return succeeded ? 0 : status_failure;
}

int create_patch(int count, char **operands) {
    if (count < 2 || count > 3)
        return usage("qpt create SOURCE TARGET [PATCH]");
    string patch_name =
        count == 3 ? string(operands[2]) : string(rudd::remove_extension(operands[0]), ".qpt");
    progress_bar bar("creating");
    vopra::Outcome outcome = vopra::createPatchAs(operands[0], operands[1], patch_name, bar.reporter());
    bar.finish();
    return report(outcome);
}

int apply_patch(int count, char **operands) {
    if (count != 2 && count != 3)
        return usage("qpt apply PATCH INPUT OUTPUT | qpt apply PATCH FILE");
    progress_bar bar("applying");
    // In place, through vopra's own workflow: the same checks, names, file handling and messages.
    vopra::Outcome outcome = count == 2
                                 ? vopra::applyPatch(operands[0], operands[1], bar.reporter())
                                 : vopra::applyPatchTo(operands[0], operands[1], operands[2], bar.reporter());
    bar.finish();
    return report(outcome);
}

int describe_patch(int count, char **operands) {
    if (count < 1 || count > 2)
        return usage("qpt info PATCH [FILE]");
    const char *patch_name = operands[0], *file_name = count == 2 ? operands[1] : nullptr;
    vopra::ApplyInputs in;
    done read = in.openFit(patch_name, file_name);
    if (!read.failed())
        read = in.read();
    if (read.failed()) {
        say("%s", shown(read.failure().text()).text());
        return status_failure;
    }
    const rudd::qpt::summary &record = in.recorded;
    std::printf("%s: QPT patch of %u bytes, checksum correct\n"
                "source: %u bytes, CRC-32 %08x\n"
                "target: %u bytes, CRC-32 %08x\n"
                "hunks: %u\n"
                "changed bytes: %llu\n",
                shown(words(rudd::bare(patch_name))).text(), in.patch.map.size(), record.source_size,
                record.source_checksum, record.target_size, record.target_checksum, record.hunks,
                (unsigned long long)record.changed);
    if (!file_name)
        return 0;
    if (done matched = in.match(vopra::Progress()); matched.failed()) {
        // What could not be written is the first failure, and the one told.
        if (flush_output())
            say("%s", shown(matched.failure().text()).text());
        return status_failure;
    }
    vopra::Side side = in.matched.side;
    const char *what = side == vopra::Side::both ? "the patch's source and target (the patch changes nothing)"
                       : side == vopra::Side::source ? "the patch's source"
                                                     : "the patch's target";
    std::printf("%s: %s\n", shown(words(rudd::bare(file_name))).text(), what);
    return 0;
}

// What is printed on stdout is the result of info, --help and --version: when it cannot all be
// written (a full disk, a closed stdout), the run has failed, as with the common tools. The error of
// the first failed flush is kept: a later flush of the same stream no longer knows it.
int output_error = 0;

bool flush_output() {
    errno = 0;
    if (output_error == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        output_error = errno ? errno : EIO;
    return output_error == 0;
}

int finish_output(int status) {
    if (flush_output())
        return status;
    say("write error: %s", std::strerror(output_error));
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
            say("unknown option %s (try 'qpt --help')", shown(words(rudd::quoted(argument))).text());
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
    say("unknown command %s (try 'qpt --help')", shown(words(rudd::quoted(command))).text());
    return status_usage;
}

} // namespace

int main(int argc, char **argv) {
    return finish_output(run(argc, argv));
}
