// The qpt tool run as a whole process on files in a fresh folder: exit status, the exact lines on
// stdout and stderr, and which files are left behind.

#include "rudd/qpt.h"
#include "tests/read_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using bytes = std::vector<uint8_t>;

struct run_result {
    int status;
    std::string out, err;
};

class Tool : public ::testing::Test {
protected:
    void SetUp() override {
        const char *binary = std::getenv("QPT_BINARY");
        ASSERT_NE(binary, nullptr) << "QPT_BINARY must name the qpt binary";
        qpt = binary;
        char name[] = "/tmp/qpt_tool_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder = name;
        ASSERT_EQ(mkdir((folder + "/files").c_str(), 0755), 0);
    }
    void TearDown() override {
        std::string command = "rm -rf '" + folder + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    std::string path(const std::string &name) const { return folder + "/files/" + name; }

    // Runs qpt in the files folder with the arguments; stdout and stderr go to files outside it.
    // stdout may go to a device instead (never read back).
    run_result run(std::vector<std::string> arguments, const std::string &out_name = "") {
        arguments.insert(arguments.begin(), qpt);
        std::vector<char *> argv;
        for (auto &a : arguments)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        std::string out = out_name.empty() ? folder + "/stdout" : out_name, err = folder + "/stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::string files = folder + "/files";
        pid_t pid;
        std::string previous(4096, 0);
        EXPECT_NE(getcwd(&previous[0], previous.size()), nullptr);
        EXPECT_EQ(chdir(files.c_str()), 0);
        int spawned = posix_spawn(&pid, qpt.c_str(), &actions, nullptr, argv.data(), environ);
        EXPECT_EQ(chdir(previous.c_str()), 0);
        posix_spawn_file_actions_destroy(&actions);
        run_result r{-1, "", ""};
        if (spawned != 0)
            return r;
        int status;
        waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (out_name.empty())
            r.out = text(out);
        r.err = text(err);
        return r;
    }

    static std::string text(const std::string &name) {
        bytes data = read(name);
        return std::string(data.begin(), data.end());
    }
    static bytes read(const std::string &name) { return readFile(name); }
    void write(const std::string &name, const bytes &data) {
        FILE *fp = std::fopen(path(name).c_str(), "wb");
        ASSERT_NE(fp, nullptr);
        if (!data.empty()) {
            ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), fp), data.size());
        }
        ASSERT_EQ(std::fclose(fp), 0);
    }
    bool exists(const std::string &name) { return access(path(name).c_str(), F_OK) == 0; }

    // The names in the files folder, sorted: what a run left behind.
    std::vector<std::string> listing() {
        std::vector<std::string> names;
        DIR *dir = opendir((folder + "/files").c_str());
        while (dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

    // Two versions of a file that differ in a few places and in length.
    void make_pair() {
        old_data.resize(3000);
        for (size_t i = 0; i < old_data.size(); i++)
            old_data[i] = uint8_t(i * 31 + 7);
        new_data = old_data;
        new_data[0] ^= 1;
        new_data[1500] ^= 0x80;
        new_data.resize(3100, 0x42);
        write("old.bin", old_data);
        write("new.bin", new_data);
    }

    std::string qpt, folder;
    bytes old_data, new_data;
};

using names = std::vector<std::string>;

TEST_F(Tool, create_then_apply_both_ways) {
    make_pair();
    run_result made = run({"create", "old.bin", "new.bin"});
    EXPECT_EQ(made.status, 0);
    EXPECT_EQ(made.err, "");
    EXPECT_EQ(made.out, "");
    // The default name is the source's with its extension replaced.
    EXPECT_EQ(listing(), (names{"new.bin", "old.bin", "old.qpt"}));
    // The same bytes as the engine writes.
    rudd::qpt engine;
    std::string direct = folder + "/direct.qpt";
    ASSERT_EQ(engine.create(old_data.data(), 3000, new_data.data(), 3100, direct.c_str()),
              rudd::qpt::result::success);
    EXPECT_EQ(read(path("old.qpt")), read(direct));

    run_result forward = run({"apply", "old.qpt", "old.bin", "out.bin"});
    EXPECT_EQ(forward.status, 0);
    EXPECT_EQ(forward.err, "");
    EXPECT_EQ(read(path("out.bin")), new_data);
    EXPECT_EQ(read(path("old.bin")), old_data);
    // Backwards, replacing the existing output.
    run_result backward = run({"apply", "old.qpt", "new.bin", "out.bin"});
    EXPECT_EQ(backward.status, 0);
    EXPECT_EQ(read(path("out.bin")), old_data);
    EXPECT_EQ(listing(), (names{"new.bin", "old.bin", "old.qpt", "out.bin"}));

    // An explicit patch name, and empty files.
    write("empty", {});
    EXPECT_EQ(run({"create", "empty", "empty", "e.qpt"}).status, 0);
    EXPECT_EQ(read(path("e.qpt")).size(), 18u);
    EXPECT_EQ(run({"apply", "e.qpt", "empty", "e.out"}).status, 0);
    EXPECT_TRUE(exists("e.out"));
    EXPECT_TRUE(read(path("e.out")).empty());
}

TEST_F(Tool, info_describes_the_patch_and_a_file) {
    make_pair();
    ASSERT_EQ(run({"create", "old.bin", "new.bin", "p.qpt"}).status, 0);
    char expected[512];
    std::snprintf(expected, sizeof expected,
                  "p.qpt: QPT patch of %zu bytes, checksum correct\n"
                  "source: 3000 bytes, CRC-32 %08x\n"
                  "target: 3100 bytes, CRC-32 %08x\n"
                  "hunks: 3\n"
                  "changed bytes: 102\n",
                  read(path("p.qpt")).size(), rudd::qpt::crc32(old_data.data(), 3000),
                  rudd::qpt::crc32(new_data.data(), 3100));
    run_result info = run({"info", "p.qpt"});
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.out, expected);
    EXPECT_EQ(info.err, "");

    run_result source = run({"info", "p.qpt", "old.bin"});
    EXPECT_EQ(source.status, 0);
    EXPECT_EQ(source.out, std::string(expected) + "old.bin: the patch's source\n");
    run_result target = run({"info", "p.qpt", "new.bin"});
    EXPECT_EQ(target.status, 0);
    EXPECT_EQ(target.out, std::string(expected) + "new.bin: the patch's target\n");
    // A name is printed as in every other line: it cannot forge a line or send the terminal a command.
    ASSERT_EQ(rename(path("p.qpt").c_str(), path("x\nsource: 1 bytes.qpt").c_str()), 0);
    ASSERT_EQ(rename(path("old.bin").c_str(), path("evil\033[31mRED").c_str()), 0);
    run_result named = run({"info", "x\nsource: 1 bytes.qpt", "evil\033[31mRED"});
    EXPECT_EQ(named.status, 0);
    EXPECT_EQ(named.out, std::string(expected).replace(0, 5, "'x'$'\\n''source: 1 bytes.qpt'") +
                             "'evil'$'\\033''[31mRED': the patch's source\n");
    ASSERT_EQ(rename(path("x\nsource: 1 bytes.qpt").c_str(), path("p.qpt").c_str()), 0);

    write("short.bin", bytes(10, 1));
    run_result size = run({"info", "p.qpt", "short.bin"});
    EXPECT_EQ(size.status, 1);
    EXPECT_EQ(size.err,
              "qpt: 'short.bin' is neither source nor target of 'p.qpt': size 10 bytes, expected 3000 "
              "(source) or 3100 (target)\n");
    bytes changed = old_data;
    changed[5] ^= 1;
    write("changed.bin", changed);
    run_result checksum = run({"info", "p.qpt", "changed.bin"});
    EXPECT_EQ(checksum.status, 1);
    char line[256];
    std::snprintf(
        line, sizeof line,
        "qpt: 'changed.bin' is neither source nor target of 'p.qpt': CRC-32 %08x, expected %08x (source)\n",
        rudd::qpt::crc32(changed.data(), 3000), rudd::qpt::crc32(old_data.data(), 3000));
    EXPECT_EQ(checksum.err, line);
}

TEST_F(Tool, failed_apply_leaves_the_files_as_they_were) {
    make_pair();
    ASSERT_EQ(run({"create", "old.bin", "new.bin", "p.qpt"}).status, 0);
    write("out.bin", {'k', 'e', 'e', 'p'});
    names before = listing();

    write("wrong.bin", bytes(3000, 9));
    before = listing();
    run_result wrong = run({"apply", "p.qpt", "wrong.bin", "out.bin"});
    EXPECT_EQ(wrong.status, 1);
    char line[256];
    std::snprintf(
        line, sizeof line,
        "qpt: 'wrong.bin' is neither source nor target of 'p.qpt': CRC-32 %08x, expected %08x (source)\n",
        rudd::qpt::crc32(bytes(3000, 9).data(), 3000), rudd::qpt::crc32(old_data.data(), 3000));
    EXPECT_EQ(wrong.err, line);
    EXPECT_EQ(listing(), before);
    EXPECT_EQ(text(path("out.bin")), "keep");

    // A damaged patch: refused before anything is written.
    bytes patch = read(path("p.qpt"));
    patch[8] ^= 0x10;
    write("bad.qpt", patch);
    before = listing();
    run_result damaged = run({"apply", "bad.qpt", "old.bin", "out.bin"});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_EQ(damaged.err, "qpt: 'bad.qpt' is a damaged QPT patch: its checksum does not match\n");
    EXPECT_EQ(listing(), before);
    EXPECT_EQ(text(path("out.bin")), "keep");

    // A patch whose checksum was made to match its damaged hunks: the result is refused after the
    // run, and the temporary output goes with it.
    patch = read(path("p.qpt"));
    ASSERT_EQ(patch[9], 0x01); // the first hunk's exclusive-or byte
    patch[9] ^= 0x10;
    uint32_t check = rudd::qpt::crc32(patch.data(), uint32_t(patch.size() - 4));
    for (int i = 0; i < 4; i++)
        patch[patch.size() - 4 + i] = uint8_t(check >> (8 * i));
    write("bent.qpt", patch);
    before = listing();
    run_result bent = run({"apply", "bent.qpt", "old.bin", "out.bin"});
    EXPECT_EQ(bent.status, 1);
    EXPECT_EQ(bent.err,
              "qpt: 'bent.qpt' does not turn 'old.bin' into the file it records (the patch is damaged); "
              "'out.bin' not written\n");
    EXPECT_EQ(listing(), before);
    EXPECT_EQ(text(path("out.bin")), "keep");

    // Not a patch at all.
    run_result foreign = run({"apply", "old.bin", "old.bin", "new.out"});
    EXPECT_EQ(foreign.status, 1);
    EXPECT_EQ(foreign.err, "qpt: 'old.bin' is not a QPT patch\n");
    EXPECT_EQ(listing(), before);
}

// A file size limit stands in for a full disk: the run must fail with its cause, not be killed by the
// limit's signal with a partial file left behind, and an existing output must stay as it was.
TEST_F(Tool, file_size_limit_fails_cleanly) {
    bytes source(200000), target(200000);
    for (size_t i = 0; i < source.size(); i++) {
        source[i] = uint8_t(i * 13 + i / 300);
        target[i] = uint8_t(i * 29 + 5);
    }
    write("a.bin", source);
    write("b.bin", target);
    ASSERT_EQ(run({"create", "a.bin", "b.bin", "full.qpt"}).status, 0);
    write("keep.qpt", {'k'});
    write("keep.out", {'k'});
    names before = listing();

    rlimit previous;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 64 * 1024; // inherited by the spawned run
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    run_result created = run({"create", "a.bin", "b.bin", "keep.qpt"});
    run_result applied = run({"apply", "full.qpt", "a.bin", "keep.out"});
    run_result fresh = run({"apply", "full.qpt", "b.bin", "new.out"});
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &previous), 0);

    EXPECT_EQ(created.status, 1);
    EXPECT_EQ(created.err, "qpt: cannot write 'keep.qpt': File too large\n");
    EXPECT_EQ(applied.status, 1);
    EXPECT_EQ(applied.err, "qpt: cannot write 'keep.out': File too large\n");
    EXPECT_EQ(fresh.status, 1);
    EXPECT_EQ(fresh.err, "qpt: cannot write 'new.out': File too large\n");
    EXPECT_EQ(listing(), before);
    EXPECT_EQ(text(path("keep.qpt")), "k");
    // One line per failed run, also where the file given is neither side.
    for (const char *file : {"a.bin", "keep.out"}) {
        run_result info = run({"info", "full.qpt", file}, "/dev/full");
        EXPECT_EQ(info.status, 1);
        EXPECT_EQ(info.err, "qpt: write error: No space left on device\n") << file;
    }
    EXPECT_EQ(text(path("keep.out")), "k");
}

TEST_F(Tool, refuses_inputs_and_outputs_it_cannot_use) {
    make_pair();
    ASSERT_EQ(run({"create", "old.bin", "new.bin", "p.qpt"}).status, 0);
    ASSERT_EQ(mkdir(path("folder").c_str(), 0755), 0);
    ASSERT_EQ(symlink("folder", path("to-folder").c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", path("to-null").c_str()), 0);
    write("short.bin", {'a', 'b', 'c'});
    bytes damaged = read(path("p.qpt"));
    damaged[8] ^= 0x10;
    write("damaged.qpt", damaged);
    // A checksum made right over a hunk that skips past both one-byte files.
    bytes structural = {'Q', 'P', 'T', '1', 0x81, 0x81, 0x85, 0, 0, 0, 0, 0, 0, 0, 0};
    uint32_t check = rudd::qpt::crc32(structural.data(), uint32_t(structural.size()));
    for (int i = 0; i < 4; i++)
        structural.push_back(uint8_t(check >> (8 * i)));
    write("structural.qpt", structural);
    // Sizes of five bytes each that end inside the trailer, under a checksum made right.
    bytes sizes = {'Q', 'P', 'T', '1', 0x7F, 0x7E, 0x7E, 0x7E, 0x8E, 0x7F, 0x7E, 0x7E, 0x7E, 0x8E};
    check = rudd::qpt::crc32(sizes.data(), uint32_t(sizes.size()));
    for (int i = 0; i < 4; i++)
        sizes.push_back(uint8_t(check >> (8 * i)));
    write("sizes.qpt", sizes);
    write("one.bin", {'1'});
    // A file an in-place run is patching: it holds the lock.
    write("locked.bin", old_data);
    int locked = open(path("locked.bin").c_str(), O_RDONLY);
    ASSERT_EQ(flock(locked, LOCK_EX), 0);
    names before = listing();
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"apply", "p.qpt", "missing.bin", "out"},
         "qpt: cannot open 'missing.bin': No such file or directory\n"},
        {{"apply", "p.qpt", "folder", "out"}, "qpt: 'folder' is a folder, not a file\n"},
        {{"create", "old.bin", "/dev/null"}, "qpt: '/dev/null' is not a regular file\n"},
        {{"apply", "p.qpt", "old.bin", "old.bin"},
         "qpt: 'old.bin' is the same file as 'old.bin'; choose another OUTPUT\n"},
        {{"apply", "p.qpt", "old.bin", "p.qpt"},
         "qpt: 'p.qpt' is the same file as 'p.qpt'; choose another OUTPUT\n"},
        {{"apply", "p.qpt", "old.bin", "folder"},
         "qpt: 'folder' exists and is not a regular file; it is not replaced\n"},
        {{"apply", "p.qpt", "old.bin", "to-folder"},
         "qpt: 'to-folder' exists and is not a regular file; it is not replaced\n"},
        {{"create", "old.bin", "new.bin", "to-null"},
         "qpt: 'to-null' exists and is not a regular file; it is not replaced\n"},
        {{"apply", "p.qpt", "old.bin", "/dev/full"},
         "qpt: '/dev/full' exists and is not a regular file; it is not replaced\n"},
        // OUTPUT is refused before the input is locked or read, and before the patch is read.
        {{"apply", "damaged.qpt", "locked.bin", "folder"},
         "qpt: 'folder' exists and is not a regular file; it is not replaced\n"},
        {{"apply", "p.qpt", "locked.bin", "out"}, "qpt: 'locked.bin' is being patched by another run\n"},
        {{"create", "p.qpt", "new.bin"}, "qpt: 'p.qpt' is the same file as 'p.qpt'; choose another PATCH\n"},
        {{"create", "old.bin", "new.bin", "no/such/p.qpt"},
         "qpt: cannot write 'no/such/p.qpt': No such file or directory\n"},
        {{"apply", "p.qpt", "old.bin", "no/such/out"},
         "qpt: cannot write 'no/such/out': No such file or directory\n"},
        {{"info", "structural.qpt"},
         "qpt: 'structural.qpt' is a damaged QPT patch: a hunk runs past the recorded size\n"},
        {{"info", "sizes.qpt"},
         "qpt: 'sizes.qpt' is a damaged QPT patch: its recorded sizes run past its end\n"},
        // In place: the window's text, then why.
        {{"apply", "p.qpt", "missing.bin"},
         "qpt: Target file does not exist: cannot open 'missing.bin': No such file or directory\n"},
        {{"apply", "p.qpt", "folder"}, "qpt: Patching failed: 'folder' is a folder, not a file\n"},
        {{"apply", "p.qpt", "short.bin"},
         "qpt: Patching failed: 'short.bin' is neither source nor target of "
         "'p.qpt': size 3 bytes, expected 3000 (source) or 3100 (target)\n"},
        {{"apply", "damaged.qpt", "old.bin"},
         "qpt: Patching failed: 'damaged.qpt' is a damaged QPT patch: its checksum does not match\n"},
        {{"apply", "structural.qpt", "one.bin"},
         "qpt: Patching failed: 'structural.qpt' is a damaged QPT patch: a hunk runs past the recorded "
         "size\n"},
    };
    for (auto &[arguments, message] : cases) {
        run_result r = run(arguments);
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.err, message);
        EXPECT_EQ(listing(), before) << message;
    }
    EXPECT_EQ(read(path("old.bin")), old_data);
    close(locked);

    // A file of 4 GiB (sparse, so it costs nothing) is refused before it is opened.
    int fd = open(path("big").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t(1) << 32), 0);
    close(fd);
    run_result big = run({"create", "big", "old.bin", "big.qpt"});
    EXPECT_EQ(big.status, 1);
    EXPECT_EQ(big.err, "qpt: 'big' is too large: files must be smaller than 4 GiB\n");
    EXPECT_FALSE(exists("big.qpt"));
}

TEST_F(Tool, usage_in_the_manner_of_common_tools) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "qpt: missing command (try 'qpt --help')\n"},
        {{"frob"}, "qpt: unknown command 'frob' (try 'qpt --help')\n"},
        {{"--frob"}, "qpt: unknown option '--frob' (try 'qpt --help')\n"},
        {{"fr\nob"}, "qpt: unknown command 'fr'$'\\n''ob' (try 'qpt --help')\n"},
        {{"--\033]0;"}, "qpt: unknown option '--'$'\\033'']0;' (try 'qpt --help')\n"},
        {{"create", "a"}, "qpt: usage: qpt create SOURCE TARGET [PATCH] (try 'qpt --help')\n"},
        {{"create", "a", "b", "c", "d"}, "qpt: usage: qpt create SOURCE TARGET [PATCH] (try 'qpt --help')\n"},
        {{"info"}, "qpt: usage: qpt info PATCH [FILE] (try 'qpt --help')\n"},
    };
    for (auto &[arguments, message] : cases) {
        run_result r = run(arguments);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.err, message);
        EXPECT_EQ(r.out, "");
    }
    run_result apply = run({"apply", "a"});
    EXPECT_EQ(apply.status, 2);
    EXPECT_EQ(apply.err.rfind("qpt: usage: qpt apply PATCH INPUT OUTPUT", 0), 0u) << apply.err;
    run_result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: qpt create SOURCE TARGET [PATCH]\n", 0), 0u);
    EXPECT_EQ(help.err, "");
    run_result version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "qpt (vopra) 0.4\n");
    // What cannot be written to stdout is a failure, not a silent success.
    ASSERT_EQ(access("/dev/full", W_OK), 0) << "/dev/full is needed to show a full disk";
    for (auto arguments : {std::vector<std::string>{"--help"}, std::vector<std::string>{"--version"}}) {
        run_result full = run(arguments, "/dev/full");
        EXPECT_EQ(full.status, 1) << arguments[0];
        EXPECT_EQ(full.err, "qpt: write error: No space left on device\n") << arguments[0];
    }
    // An operand that looks like an option follows "--".
    make_pair();
    ASSERT_EQ(rename(path("old.bin").c_str(), path("-old").c_str()), 0);
    run_result dashed = run({"create", "--", "-old", "new.bin", "-old.qpt"});
    EXPECT_EQ(dashed.status, 0) << dashed.err;
    EXPECT_TRUE(exists("-old.qpt"));
    EXPECT_TRUE(listing().size() == 3);
}

} // namespace
