#include "tests/support/scenarios.h"
#include "core/copyroad.h"

#include "core/files.h"
#include "core/replacement.h"
#include "rudd/file.h"
#include "rudd/qpt.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using Kind = vopra::Outcome::Kind;
using Bytes = std::string;

std::string freshFolder(const char *prefix) {
    std::string name = (std::filesystem::temp_directory_path() / prefix).string() + "-XXXXXX";
    EXPECT_NE(nullptr, mkdtemp(name.data()));
    return name;
}

namespace {

Bytes pattern(size_t count, unsigned seed) {
    Bytes bytes(count, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (auto &byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = char(state >> 24);
    }
    return bytes;
}

// A fresh folder of its own for one scenario, removed afterwards whatever was planted in it.
class Folder {
public:
    Folder() {
        root = freshFolder("vopra");
        chmod(root.c_str(), 0755);
    }
    ~Folder() {
        std::error_code error;
        for (auto &entry : std::filesystem::recursive_directory_iterator(root, error))
            if (entry.is_directory(error) && !entry.is_symlink(error))
                chmod(entry.path().c_str(), 0755);
        chmod(root.c_str(), 0755);
        std::filesystem::remove_all(root, error);
    }
    std::string operator/(const std::string &name) const { return root + "/" + name; }

    void write(const std::string &name, const Bytes &bytes, mode_t mode = 0644) const {
        std::filesystem::create_directories(std::filesystem::path(*this / name).parent_path());
        std::ofstream(*this / name, std::ios::binary | std::ios::trunc) << bytes;
        chmod((*this / name).c_str(), mode);
    }
    Bytes read(const std::string &name) const {
        std::ifstream in(*this / name, std::ios::binary);
        EXPECT_TRUE(in.good()) << name << " cannot be read";
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    // Nothing under the name, not even a dangling link.
    bool absent(const std::string &name) const {
        struct stat status;
        return lstat((*this / name).c_str(), &status) != 0;
    }
    mode_t permissions(const std::string &name) const {
        struct stat status;
        EXPECT_EQ(0, lstat((*this / name).c_str(), &status));
        return status.st_mode & 07777;
    }
    void sparse(const std::string &name, uint64_t size) const {
        int fd = open((*this / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, ftruncate(fd, off_t(size)));
        close(fd);
    }
    void folder(const std::string &name) const { std::filesystem::create_directories(*this / name); }
    void link(const std::string &name, const std::string &target) const {
        ASSERT_EQ(0, symlink(target.c_str(), (*this / name).c_str()));
    }

    // Everything in the tree, with contents, permissions and link texts; folders carry their time of
    // change, which settle() set far back, so a file created and removed again still shows.
    std::map<std::string, std::string> snapshot() const {
        std::map<std::string, std::string> seen;
        describe("", seen);
        return seen;
    }
    void settle() const {
        struct timespec past[2] = {{946684800, 0}, {946684800, 0}};
        utimensat(AT_FDCWD, root.c_str(), past, AT_SYMLINK_NOFOLLOW);
        for (auto &entry : std::filesystem::recursive_directory_iterator(root))
            if (entry.is_directory() && !entry.is_symlink())
                utimensat(AT_FDCWD, entry.path().c_str(), past, AT_SYMLINK_NOFOLLOW);
    }
    // The names directly in the folder, sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (auto &entry : std::filesystem::directory_iterator(root))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    std::string root;

private:
    void describe(const std::string &relative, std::map<std::string, std::string> &seen) const {
        std::string path = relative.empty() ? root : *this / relative;
        struct stat status;
        if (lstat(path.c_str(), &status) != 0)
            return;
        std::ostringstream text;
        text << std::oct << (status.st_mode & 07777) << std::dec << ' ';
        if (S_ISLNK(status.st_mode)) {
            text << "link " << std::filesystem::read_symlink(path).string();
        } else if (S_ISDIR(status.st_mode)) {
            text << "folder " << status.st_mtim.tv_sec << '.' << status.st_mtim.tv_nsec;
            for (auto &entry : std::filesystem::directory_iterator(path))
                describe((relative.empty() ? "" : relative + "/") + entry.path().filename().string(), seen);
        } else if (S_ISREG(status.st_mode) && status.st_size < (1 << 20)) {
            Bytes bytes = read(relative);
            text << "file of " << bytes.size() << " bytes, hash " << std::hash<Bytes>()(bytes);
        } else {
            text << "other " << status.st_mode << ' ' << status.st_size;
        }
        seen[relative] = text.str();
    }
};

Bytes makePatch(const Bytes &from, const Bytes &to) {
    char name[] = "/tmp/vopra-patch-XXXXXX";
    int fd = mkstemp(name);
    close(fd);
    unlink(name);
    rudd::qpt engine;
    EXPECT_EQ(rudd::qpt::result::success,
              engine.create(reinterpret_cast<const uint8_t *>(from.data()), uint32_t(from.size()),
                            reinterpret_cast<const uint8_t *>(to.data()), uint32_t(to.size()), name));
    std::ifstream in(name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    unlink(name);
    return bytes.str();
}

// The patch's own checksum (its last four bytes) made right again after a deliberate change.
void resealPatch(Bytes &patch) {
    uint32_t crc =
        rudd::qpt::crc32(reinterpret_cast<const uint8_t *>(patch.data()), uint32_t(patch.size() - 4));
    for (int i = 0; i < 4; i++)
        patch[patch.size() - 4 + i] = char(crc >> (8 * i));
}

void expectOutcome(const Seen &seen, Kind kind, const std::string &message) {
    EXPECT_EQ(message, seen.message);
    EXPECT_EQ(kind == Kind::Warning ? "warning" : "information",
              seen.kind == Kind::Warning ? "warning" : "information");
}
void expectCause(const Seen &seen, const std::string &cause) {
    EXPECT_EQ(cause, seen.cause);
}
void expectWarning(const Seen &seen, const std::string &message) {
    expectOutcome(seen, Kind::Warning, message);
}

// A run that must leave everything exactly as it was: contents, names, links and no file created even
// for a moment.
void expectRefusedUntouched(Driver &driver, const Folder &folder, Operation operation,
                            const std::string &first, const std::string &second, const std::string &message) {
    folder.settle();
    auto before = folder.snapshot();
    expectWarning(driver.run(operation, first, second), message);
    EXPECT_EQ(before, folder.snapshot());
}

const Bytes oldData = pattern(70000, 1);
Bytes newData() {
    Bytes bytes = oldData;
    for (size_t i = 100; i < bytes.size(); i += 997)
        bytes[i] = char(bytes[i] ^ 0x5a);
    bytes += pattern(333, 2);
    return bytes;
}

// The usual layout: game.qpt turns game.sfc (old) into the new version.
struct GameFolder : Folder {
    GameFolder() {
        write("game.qpt", makePatch(oldData, newData()));
        write("game.sfc", oldData);
    }
};

// An unprivileged user for the duration of a scope, so a read-only folder is read-only even when the
// tests run as root.
struct Unprivileged {
    Unprivileged() {
        if (geteuid() == 0) {
            EXPECT_EQ(0, seteuid(65534));
        }
    }
    ~Unprivileged() {
        if (getuid() == 0) {
            EXPECT_EQ(0, seteuid(0));
        }
    }
};

// A file size limit, as on a full disk: writes beyond it fail instead of killing the process.
struct SizeLimit {
    explicit SizeLimit(rlim_t bytes) {
        signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        struct rlimit limit = saved;
        limit.rlim_cur = bytes;
        EXPECT_EQ(0, setrlimit(RLIMIT_FSIZE, &limit));
    }
    ~SizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }
    struct rlimit saved;
};

// Makes the n-th rename of the workflow (counted from 1) fail as on a faulty file system.
struct FailingRename {
    explicit FailingRename(int which, bool onwards = false) {
        count = 0;
        failing = which;
        later = onwards;
        vopra::renameFile = [](int folder, const char *from, const char *to, unsigned flags) {
            if (++count == failing || (later && count > failing)) {
                errno = EIO;
                return -1;
            }
            return saved(folder, from, to, flags);
        };
    }
    ~FailingRename() { vopra::renameFile = saved; }
    static inline int count, failing;
    static inline bool later; // every rename after the failing one fails too
    static inline int (*saved)(int, const char *, const char *, unsigned) = vopra::renameFile;
};

// Stands for a file system that shares blocks (each range copied and recorded) or refuses with refusal.
struct SharingSystem {
    explicit SharingSystem(int refusal) {
        ranges.clear();
        failing = refusal;
        vopra::shareRange = [](int from, int to, uint64_t offset, uint64_t length) {
            ranges.push_back({offset, length});
            off64_t in = off64_t(offset), out = off64_t(offset);
            if (failing == 0 && vopra::copyRange(from, &in, to, &out, length) == ssize_t(length))
                return 0;
            errno = failing;
            return -1;
        };
    }
    ~SharingSystem() { vopra::shareRange = saved; }
    static inline std::vector<std::pair<uint64_t, uint64_t>> ranges;
    static inline int failing;
    static inline int (*saved)(int, int, uint64_t, uint64_t) = vopra::shareRange;
};

// Takes the system's copy and sharing away: the engine's pass must do the work.
struct NoCopy {
    NoCopy() {
        calls = 0;
        vopra::copyRange = [](int, off64_t *, int, off64_t *, size_t) -> ssize_t {
            calls++;
            errno = EOPNOTSUPP;
            return -1;
        };
    }
    ~NoCopy() { vopra::copyRange = saved; }
    SharingSystem refusing{EOPNOTSUPP};
    static inline int calls;
    static inline ssize_t (*saved)(int, off64_t *, int, off64_t *, size_t) = vopra::copyRange;
};

const Bytes earlierBackup = "an earlier backup that must survive\n";

// ---- apply: the checks, in their order, each run also breaking every later check where it can ----

// A file a check's folder holds: its bytes, or a sparse file of sparse bytes.
struct Laid {
    const char *name;
    Bytes bytes;
    uint64_t sparse = 0;
};
struct Check {
    const char *first, *second, *message;
    std::vector<Laid> files;
};

// Each check refused in a folder of its own, laid out so that it also breaks every later check it can.
void expectChecks(Driver &driver, Operation operation, const std::vector<Check> &checks) {
    for (const Check &check : checks) {
        Folder folder;
        for (const Laid &file : check.files) {
            if (file.sparse)
                folder.sparse(file.name, file.sparse);
            else
                folder.write(file.name, file.bytes);
        }
        expectRefusedUntouched(driver, folder, operation, folder / check.first, folder / check.second,
                               check.message);
    }
}

const uint64_t fourGiB = uint64_t(1) << 32;

void applyChecksInOrder(Driver &driver) {
    Bytes patch = makePatch(oldData, newData());
    expectChecks(driver, Operation::Apply,
                 {
                     {"missing.dat", "missing.bak", "QPT patch does not exist", {{"game.bak", oldData}}},
                     {"patch.dat", "missing.qpt", "Target file does not exist", {{"patch.dat", "x"}}},
                     // The same file in both boxes is refused before the extensions are looked at.
                     {"a.qpt", "a.qpt", "Source file and target file cannot be the same", {{"a.qpt", patch}}},
                     {"game.patch",
                      "game.qpt",
                      "QPT patch extension must be .qpt",
                      {{"game.patch", patch}, {"game.qpt", oldData}}},
                     {"a.qpt",
                      "b.QpT",
                      "Target file extension must not be .qpt",
                      {{"a.qpt", patch}, {"b.QpT", oldData}}},
                     // Its backup or its temporary name would be the target itself.
                     {"huge.qpt",
                      "game.BAK",
                      "Target file extension must not be .bak",
                      {{"a.qpt", patch}, {"game.BAK", oldData}, {"huge.qpt", "", fourGiB}}},
                     {"a.qpt",
                      "game.tmp",
                      "Target file extension must not be .tmp",
                      {{"a.qpt", patch}, {"game.tmp", oldData}}},
                     {"huge.qpt",
                      "huge.sfc",
                      "QPT patch must be smaller than 4 GiB",
                      {{"huge.qpt", "", fourGiB}, {"huge.sfc", "", fourGiB}}},
                     {"game.qpt",
                      "huge.sfc",
                      "Target file must be smaller than 4 GiB",
                      {{"game.qpt", patch}, {"huge.sfc", "", fourGiB + 4096}}},
                 });
}

// ---- apply: outcomes ----

void applySucceeds(Driver &driver) {
    GameFolder folder;
    folder.write("game.sfc", oldData, 0751);
    Seen seen = driver.run(Operation::Apply, folder / "game.qpt", folder / "game.sfc");
    expectOutcome(seen, Kind::Information, "Patching was successful!\nBackup file name: game.bak");
    EXPECT_TRUE(folder.read("game.sfc") == newData());
    EXPECT_TRUE(folder.read("game.bak") == oldData);
    EXPECT_EQ((std::vector<std::string>{"game.bak", "game.qpt", "game.sfc"}), folder.names());
    // The patched file keeps the permission bits of the file it replaced.
    EXPECT_EQ(0751u, folder.permissions("game.sfc"));
}

void applyScatteredAndSparseChanges(Driver &driver) {
    // A first chunk of the copy changed on one page in two (written whole), a second changed once
    // (copied, the change written over it), and the file grown: the same file either way.
    Folder folder;
    Bytes old = pattern(9 << 20, 3), changed = old;
    for (size_t i = 100; i < (1 << 20); i += 8192)
        changed[i] = char(changed[i] ^ 0x5a);
    changed[(8 << 20) + 5] = char(changed[(8 << 20) + 5] ^ 1);
    changed += "grown";
    folder.write("big.qpt", makePatch(old, changed));
    folder.write("big.bin", old);
    expectOutcome(driver.run(Operation::Apply, folder / "big.qpt", folder / "big.bin"), Kind::Information,
                  "Patching was successful!\nBackup file name: big.bak");
    EXPECT_TRUE(folder.read("big.bin") == changed);
    EXPECT_TRUE(folder.read("big.bak") == old);
}

void applyWithoutCopy(Driver &driver) {
    // Unchanged blocks to copy: the copy is asked for once.
    NoCopy unavailable;
    applyScatteredAndSparseChanges(driver);
    EXPECT_EQ(1, NoCopy::calls);
}

void applySharingBlocks(Driver &driver) {
    // Changes on every other block, across a block's and the chunk's edge, in the last block, with the
    // file grown and shrunk: whole unchanged blocks alone are shared, all but runs shorter than 8
    // between changed ones (7 are written, 8 shared) and chunks where a call would keep too few; a file
    // system that refuses is asked once, and one that fails fails the apply.
    for (int refusal : {0, EOPNOTSUPP, EIO}) {
        for (Bytes tail : {"grown by more than a block" + pattern(5000, 4), Bytes("")}) {
            Folder folder;
            struct statvfs fs;
            ASSERT_EQ(0, statvfs(folder.root.c_str(), &fs));
            const uint64_t block = fs.f_bsize, chunk = 8 << 20;
            Bytes old = pattern(chunk + 3 * block + 100, 5), changed = old;
            for (uint64_t at : {uint64_t(7), 2 * block + 1, 4 * block, 5 * block - 1, 5 * block, 10 * block,
                                18 * block, 27 * block, chunk - 1, chunk + block, old.size() - 1})
                changed[at] = char(changed[at] ^ 0x5a);
            changed = tail.empty() ? changed.substr(0, old.size() - 50) : changed + tail;
            folder.write("big.qpt", makePatch(old, changed));
            folder.write("big.bin", old);
            SharingSystem sharing(refusal);
            Seen seen = driver.run(Operation::Apply, folder / "big.qpt", folder / "big.bin");
            EXPECT_EQ(refusal == EIO ? old : changed, folder.read("big.bin")) << refusal;
            uint64_t common = tail.empty() ? changed.size() : old.size(), shared = 0;
            for (auto [offset, length] : SharingSystem::ranges) {
                EXPECT_TRUE(offset % block == 0 && (length % block == 0 || offset + length == common));
                EXPECT_EQ(old.substr(offset, length), changed.substr(offset, length)) << offset;
                shared += length;
            }
            if (refusal == EIO)
                expectWarning(seen, "Patching failed");
            // Written: blocks 0 to 18, 27, 2047 and the second chunk whole, too short for a share call
            // to keep 16 blocks from being written.
            EXPECT_EQ(refusal ? 1 : (chunk / block - 21) * block,
                      refusal ? SharingSystem::ranges.size() : shared);
        }
    }
}

void applyReadOnlyTarget(Driver &driver) {
    // An ordinary user patches a read-only file in a folder of their own; it stays read-only.
    GameFolder folder;
    folder.write("game.sfc", oldData, 0444);
    chmod(folder.root.c_str(), 0777);
    Seen seen;
    {
        Unprivileged user;
        seen = driver.run(Operation::Apply, folder / "game.qpt", folder / "game.sfc");
    }
    expectOutcome(seen, Kind::Information, "Patching was successful!\nBackup file name: game.bak");
    // Root's file cannot stay root's when another user replaces it, and the run says so.
    struct stat now;
    ASSERT_EQ(0, stat((folder / "game.sfc").c_str(), &now));
    expectCause(seen,
                "'" + (folder / "game.sfc") +
                    "' could not keep its owner (user 0, group 0): it now belongs to user 65534, group " +
                    std::to_string(now.st_gid));
    EXPECT_TRUE(folder.read("game.sfc") == newData());
    EXPECT_EQ(0444u, folder.permissions("game.sfc"));
    EXPECT_EQ((std::vector<std::string>{"game.bak", "game.qpt", "game.sfc"}), folder.names());
}

void applyBackwardsWithCapitalExtension(Driver &driver) {
    // One patch turns either file into the other; ".QPT" passes the extension check.
    Folder folder;
    folder.write("up.QPT", makePatch(oldData, newData()));
    folder.write("pack.tar.gz", newData(), 0600);
    Seen seen = driver.run(Operation::Apply, folder / "up.QPT", folder / "pack.tar.gz");
    expectOutcome(seen, Kind::Information, "Patching was successful!\nBackup file name: pack.tar.bak");
    expectCause(seen, "'" + (folder / "pack.tar.gz") +
                          "' was the patch's target and now holds its source: the patch was undone");
    EXPECT_TRUE(folder.read("pack.tar.gz") == oldData);
    EXPECT_TRUE(folder.read("pack.tar.bak") == newData());
    EXPECT_EQ(0600u, folder.permissions("pack.tar.gz"));
    EXPECT_EQ((std::vector<std::string>{"pack.tar.bak", "pack.tar.gz", "up.QPT"}), folder.names());
}

void applyBackslashInName(Driver &driver) {
    // A backslash is part of a name here: the decoys that cutting at it would name stay untouched.
    GameFolder folder;
    ASSERT_EQ(0, rename((folder / "game.sfc").c_str(), (folder / "a\\b.sfc").c_str()));
    folder.write("b.sfc", "decoy");
    folder.write("b.bak", "older backup");
    expectOutcome(driver.run(Operation::Apply, folder / "game.qpt", folder / "a\\b.sfc"), Kind::Information,
                  "Patching was successful!\nBackup file name: b.bak");
    EXPECT_TRUE(folder.read("a\\b.sfc") == newData());
    EXPECT_TRUE(folder.read("a\\b.bak") == oldData);
    EXPECT_EQ("decoy", folder.read("b.sfc"));
    EXPECT_EQ("older backup", folder.read("b.bak"));
}

void applyNamesWithoutExtension(Driver &driver) {
    // A dot in the folder's name is no extension of the file.
    Folder folder;
    folder.write("p.qpt", makePatch(oldData, newData()));
    folder.write("release.2/rom", oldData);
    expectOutcome(driver.run(Operation::Apply, folder / "p.qpt", folder / "release.2/rom"), Kind::Information,
                  "Patching was successful!\nBackup file name: rom.bak");
    EXPECT_TRUE(folder.read("release.2/rom") == newData());
    EXPECT_TRUE(folder.read("release.2/rom.bak") == oldData);
    EXPECT_EQ((std::vector<std::string>{"p.qpt", "release.2"}), folder.names());
}

void applyToEmptyOutput(Driver &driver) {
    Folder folder;
    folder.write("wipe.qpt", makePatch(oldData, ""));
    folder.write("data", oldData);
    expectOutcome(driver.run(Operation::Apply, folder / "wipe.qpt", folder / "data"), Kind::Information,
                  "Patching was successful!\nBackup file name: data.bak");
    EXPECT_EQ("", folder.read("data"));
    EXPECT_TRUE(folder.read("data.bak") == oldData);
}

void applyReplacesEarlierBackup(Driver &driver) {
    GameFolder folder;
    folder.write("game.bak", earlierBackup);
    expectOutcome(driver.run(Operation::Apply, folder / "game.qpt", folder / "game.sfc"), Kind::Information,
                  "Patching was successful!\nBackup file name: game.bak");
    EXPECT_TRUE(folder.read("game.sfc") == newData());
    EXPECT_TRUE(folder.read("game.bak") == oldData);
    EXPECT_EQ((std::vector<std::string>{"game.bak", "game.qpt", "game.sfc"}), folder.names());
}

// ---- apply: failures leave every file as it was, an earlier backup included ----

void applyWrongFile(Driver &driver) {
    // Verified before any output file exists, so not even a backup appears for a moment.
    GameFolder folder;
    folder.write("game.sfc", pattern(oldData.size(), 9));
    folder.write("game.bak", earlierBackup);
    expectRefusedUntouched(driver, folder, Operation::Apply, folder / "game.qpt", folder / "game.sfc",
                           "Patching failed");
}

void applyDamagedPatch(Driver &driver) {
    GameFolder folder;
    Bytes patch = folder.read("game.qpt");
    patch[patch.size() - 20] = char(patch[patch.size() - 20] ^ 0x10);
    folder.write("game.qpt", patch);
    expectRefusedUntouched(driver, folder, Operation::Apply, folder / "game.qpt", folder / "game.sfc",
                           "Patching failed");
}

void applyEngineFailureKeepsBackup(Driver &driver) {
    // A hunk changed and the patch's checksum made right again: the patch passes every check before the
    // run, and only the engine finds the output wrong.
    GameFolder folder;
    Bytes patch = folder.read("game.qpt");
    size_t hunkByte = patch.size() - 14; // the last exclusive-or byte before the last hunk's end
    ASSERT_NE('\0', patch[hunkByte]);
    patch[hunkByte] = char(patch[hunkByte] == 1 ? 2 : 1);
    resealPatch(patch);
    folder.write("game.qpt", patch);
    folder.write("game.bak", earlierBackup);
    folder.settle();
    auto before = folder.snapshot();
    expectWarning(driver.run(Operation::Apply, folder / "game.qpt", folder / "game.sfc"), "Patching failed");
    folder.settle();
    EXPECT_EQ(before, folder.snapshot());
    EXPECT_TRUE(folder.read("game.bak") == earlierBackup);
    EXPECT_TRUE(folder.read("game.sfc") == oldData);
}

void applyToFolderDeviceAndFifo(Driver &driver) {
    // None of them reaches the engine, and a FIFO without a writer does not hang the run.
    Folder folder;
    folder.write("p.qpt", makePatch("", oldData));
    folder.folder("dir.sfc");
    ASSERT_EQ(0, mkfifo((folder / "pipe.sfc").c_str(), 0644));
    ASSERT_EQ(0, mkfifo((folder / "pipe.qpt").c_str(), 0644));
    folder.folder("dir.qpt");
    folder.write("game.sfc", "");
    expectRefusedUntouched(driver, folder, Operation::Apply, folder / "p.qpt", folder / "dir.sfc",
                           "Patching failed");
    expectRefusedUntouched(driver, folder, Operation::Apply, folder / "p.qpt", folder / "pipe.sfc",
                           "Patching failed");
    expectRefusedUntouched(driver, folder, Operation::Apply, folder / "pipe.qpt", folder / "game.sfc",
                           "Patching failed");
    expectRefusedUntouched(driver, folder, Operation::Apply, folder / "dir.qpt", folder / "game.sfc",
                           "Patching failed");
    // A patch that no empty input matches, so that not even a device taken for an empty file could
    // pass on to the renames.
    folder.write("q.qpt", makePatch(oldData, newData()));
    expectWarning(driver.run(Operation::Apply, folder / "q.qpt", "/dev/null"), "Patching failed");
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

void applyUnwritableFolder(Driver &driver) {
    // A writable earlier backup in the folder is no way in: it is never opened for writing.
    GameFolder folder;
    folder.write("game.bak", earlierBackup, 0666);
    chmod(folder.root.c_str(), 0555);
    folder.settle();
    auto before = folder.snapshot();
    {
        Unprivileged user;
        expectWarning(driver.run(Operation::Apply, folder / "game.qpt", folder / "game.sfc"),
                      "Cannot open target file for writing");
    }
    EXPECT_EQ(before, folder.snapshot());
}

void applyDiskFull(Driver &driver) {
    // The output cannot be given its full size: nothing is left behind and the earlier backup stays.
    GameFolder folder;
    folder.write("game.bak", earlierBackup);
    folder.settle();
    auto before = folder.snapshot();
    {
        SizeLimit limit(4096);
        expectWarning(driver.run(Operation::Apply, folder / "game.qpt", folder / "game.sfc"),
                      "Patching failed");
    }
    folder.settle();
    EXPECT_EQ(before, folder.snapshot());
}

// The swap is undone whichever rename fails: the target holds the original again and no output remains.
void expectSwapUndone(const GameFolder &folder, const std::vector<std::string> &names) {
    EXPECT_TRUE(folder.read("game.sfc") == oldData);
    EXPECT_EQ(names, folder.names());
}

// A file the user keeps under the temporary name, which the swap must never replace.
const Bytes userTemporary = "the user's own game.tmp\n";

void applyFirstRenameFails(Driver &driver) {
    GameFolder folder;
    folder.write("game.bak", earlierBackup);
    folder.write("game.tmp", userTemporary);
    FailingRename failing(1);
    expectWarning(driver.run(Operation::Apply, folder / "game.qpt", folder / "game.sfc"), "Patching failed");
    expectSwapUndone(folder, {"game.bak", "game.qpt", "game.sfc", "game.tmp"});
    EXPECT_TRUE(folder.read("game.bak") == earlierBackup);
    EXPECT_EQ(userTemporary, folder.read("game.tmp"));
}

void applySecondRenameFails(Driver &driver) {
    GameFolder folder;
    folder.write("game.bak", earlierBackup);
    folder.write("game.tmp", userTemporary);
    FailingRename failing(2);
    expectWarning(driver.run(Operation::Apply, folder / "game.qpt", folder / "game.sfc"), "Patching failed");
    expectSwapUndone(folder, {"game.bak", "game.qpt", "game.sfc", "game.tmp"});
    EXPECT_TRUE(folder.read("game.bak") == earlierBackup);
    EXPECT_EQ(userTemporary, folder.read("game.tmp"));
}

void applyUndoFails(Driver &driver) {
    // The backup rename fails and so does its undo: the run says where the original is now.
    GameFolder folder;
    Seen seen;
    {
        FailingRename failing(2, true);
        seen = driver.run(Operation::Apply, folder / "game.qpt", folder / "game.sfc");
    }
    expectWarning(seen, "Patching failed");
    expectCause(seen, "cannot rename the original to '" + (folder / "game.bak") +
                          "': Input/output error; the original is kept as '" + (folder / "game.tmp") + "'");
    EXPECT_TRUE(folder.read("game.tmp") == oldData);
    EXPECT_TRUE(folder.read("game.sfc") == newData());
}

void applyLongestNames(Driver &driver) {
    // Names of 255 bytes, the most a file system takes: the cause names the file whole, and every box
    // stays within the screen (the window's driver checks each).
    Folder folder;
    const std::string stem(251, 'n');
    folder.write("game.qpt", makePatch(oldData, newData()));
    folder.write(stem + ".sfc", "another file");
    Seen wrong = driver.run(Operation::Apply, folder / "game.qpt", folder / (stem + ".sfc"));
    expectWarning(wrong, "Patching failed");
    EXPECT_EQ(0u, wrong.cause.find("'" + (folder / (stem + ".sfc")) + "' is neither source nor target"));
    folder.write(stem + ".sfc", oldData);
    expectOutcome(driver.run(Operation::Apply, folder / "game.qpt", folder / (stem + ".sfc")),
                  Kind::Information, "Patching was successful!\nBackup file name: " + stem + ".bak");
}

void applyKeepsFileUnderTemporaryName(Driver &driver) {
    // The old target is parked under a free name beside game.tmp, which stays as it was.
    GameFolder folder;
    folder.write("game.tmp", userTemporary);
    folder.folder("game.tmp.1");
    expectOutcome(driver.run(Operation::Apply, folder / "game.qpt", folder / "game.sfc"), Kind::Information,
                  "Patching was successful!\nBackup file name: game.bak");
    EXPECT_TRUE(folder.read("game.sfc") == newData());
    EXPECT_TRUE(folder.read("game.bak") == oldData);
    EXPECT_EQ(userTemporary, folder.read("game.tmp"));
    EXPECT_EQ((std::vector<std::string>{"game.bak", "game.qpt", "game.sfc", "game.tmp", "game.tmp.1"}),
              folder.names());
}

void applyTargetLinkedToItsBackup(Driver &driver) {
    // The file to patch is reached through its backup name (a link made to go back to the old
    // version): the swap would replace the only copy of the old data, so nothing is done. The same for a
    // hard link and for a patch kept under the backup name.
    GameFolder folder;
    folder.write("game.bak", oldData);
    ASSERT_EQ(0, unlink((folder / "game.sfc").c_str()));
    folder.link("game.sfc", "game.bak");
    expectRefusedUntouched(driver, folder, Operation::Apply, folder / "game.qpt", folder / "game.sfc",
                           "Patching failed");
    ASSERT_EQ(0, unlink((folder / "game.sfc").c_str()));
    ASSERT_EQ(0, link((folder / "game.bak").c_str(), (folder / "game.sfc").c_str()));
    expectRefusedUntouched(driver, folder, Operation::Apply, folder / "game.qpt", folder / "game.sfc",
                           "Patching failed");
    ASSERT_EQ(0, unlink((folder / "game.sfc").c_str()));
    folder.write("game.sfc", oldData);
    ASSERT_EQ(0, rename((folder / "game.qpt").c_str(), (folder / "fix.bak").c_str()));
    folder.link("fix.qpt", "fix.bak");
    ASSERT_EQ(0, rename((folder / "game.sfc").c_str(), (folder / "fix.sfc").c_str()));
    ASSERT_EQ(0, unlink((folder / "game.bak").c_str()));
    expectRefusedUntouched(driver, folder, Operation::Apply, folder / "fix.qpt", folder / "fix.sfc",
                           "Patching failed");
}

void applyTargetLinkedElsewhere(Driver &driver) {
    // A target that is a link to a file in another folder: the link's own name is swapped, as for any
    // file, and the file it pointed to is never written. The backup is then that link, and so still
    // reaches the old content.
    GameFolder folder;
    folder.write("shared/game.sfc", oldData, 0640);
    ASSERT_EQ(0, unlink((folder / "game.sfc").c_str()));
    folder.link("game.sfc", folder / "shared/game.sfc");
    expectOutcome(driver.run(Operation::Apply, folder / "game.qpt", folder / "game.sfc"), Kind::Information,
                  "Patching was successful!\nBackup file name: game.bak");
    EXPECT_TRUE(folder.read("shared/game.sfc") == oldData);
    EXPECT_FALSE(std::filesystem::is_symlink(folder / "game.sfc"));
    EXPECT_TRUE(folder.read("game.sfc") == newData());
    EXPECT_EQ(0640u, folder.permissions("game.sfc"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "game.bak"));
    EXPECT_TRUE(folder.read("game.bak") == oldData);
    EXPECT_EQ((std::vector<std::string>{"game.bak", "game.qpt", "game.sfc", "shared"}), folder.names());
}

void applyThirdRenameFails(Driver &driver) {
    GameFolder folder;
    folder.write("game.bak/keep", "a folder in the way of the backup name");
    expectWarning(driver.run(Operation::Apply, folder / "game.qpt", folder / "game.sfc"), "Patching failed");
    expectSwapUndone(folder, {"game.bak", "game.qpt", "game.sfc"});
    EXPECT_EQ("a folder in the way of the backup name", folder.read("game.bak/keep"));
}

void applyThroughPlantedLinks(Driver &driver) {
    // Links planted under the backup and temporary names are replaced, never written through.
    GameFolder folder;
    const Bytes precious = "the file a planted link points to\n";
    folder.write("elsewhere/victim", precious);
    folder.write("elsewhere/other", precious);
    folder.link("game.bak", folder / "elsewhere/victim");
    folder.link("game.tmp", folder / "elsewhere/other");
    // First a failing run, then one that succeeds.
    folder.write("wrong.qpt", makePatch(pattern(10, 3), pattern(10, 4)));
    expectWarning(driver.run(Operation::Apply, folder / "wrong.qpt", folder / "game.sfc"), "Patching failed");
    expectOutcome(driver.run(Operation::Apply, folder / "game.qpt", folder / "game.sfc"), Kind::Information,
                  "Patching was successful!\nBackup file name: game.bak");
    EXPECT_EQ(precious, folder.read("elsewhere/victim"));
    EXPECT_EQ(precious, folder.read("elsewhere/other"));
    EXPECT_FALSE(std::filesystem::is_symlink(folder / "game.bak"));
    EXPECT_TRUE(folder.read("game.bak") == oldData);
    EXPECT_TRUE(folder.read("game.sfc") == newData());
    // The temporary name was taken, so the link there was left alone.
    EXPECT_EQ(folder / "elsewhere/other", std::filesystem::read_symlink(folder / "game.tmp").string());
    EXPECT_EQ(
        (std::vector<std::string>{"elsewhere", "game.bak", "game.qpt", "game.sfc", "game.tmp", "wrong.qpt"}),
        folder.names());
}

// ---- create ----

void createChecksInOrder(Driver &driver) {
    expectChecks(driver, Operation::Create,
                 {
                     {"old.qpt", "new.qpt", "Source file does not exist", {}},
                     {"old.qpt", "new.qpt", "Target file does not exist", {{"old.qpt", oldData}}},
                     {"old.QPT",
                      "new.qpt",
                      "Source file extension must not be .qpt",
                      {{"old.QPT", oldData}, {"new.qpt", newData()}}},
                     {"old.sfc",
                      "new.Qpt",
                      "Target file extension must not be .qpt",
                      {{"old.sfc", "", fourGiB}, {"new.Qpt", newData()}}},
                     {"old.sfc",
                      "new.sfc",
                      "Source file must be smaller than 4 GiB",
                      {{"old.sfc", "", fourGiB}, {"new.sfc", "", fourGiB * 2}}},
                     {"old.sfc",
                      "new.sfc",
                      "Target file must be smaller than 4 GiB",
                      {{"old.sfc", oldData}, {"new.sfc", "", fourGiB}}},
                 });
}

void createSucceeds(Driver &driver) {
    // The patch is named after the source, lies beside it, and replaces an earlier file of that name.
    Folder folder;
    folder.write("old.sfc", oldData);
    folder.write("new.sfc", newData());
    folder.write("old.qpt", "an earlier patch\n");
    expectOutcome(driver.run(Operation::Create, folder / "old.sfc", folder / "new.sfc"), Kind::Information,
                  "Patch creation was successful!\nOutput file name: old.qpt");
    EXPECT_TRUE(folder.read("old.qpt") == makePatch(oldData, newData()));
    EXPECT_TRUE(folder.read("old.sfc") == oldData);
    EXPECT_TRUE(folder.read("new.sfc") == newData());
    EXPECT_EQ((std::vector<std::string>{"new.sfc", "old.qpt", "old.sfc"}), folder.names());
}

void createWithoutExtensionSameFileAndEmpty(Driver &driver) {
    Folder folder;
    folder.write("release.2/game", oldData);
    expectOutcome(driver.run(Operation::Create, folder / "release.2/game", folder / "release.2/game"),
                  Kind::Information, "Patch creation was successful!\nOutput file name: game.qpt");
    EXPECT_TRUE(folder.read("release.2/game.qpt") == makePatch(oldData, oldData));
    folder.write("empty.a", "");
    folder.write("empty.b", "");
    expectOutcome(driver.run(Operation::Create, folder / "empty.a", folder / "empty.b"), Kind::Information,
                  "Patch creation was successful!\nOutput file name: empty.qpt");
    EXPECT_TRUE(folder.read("empty.qpt") == makePatch("", ""));
}

void createThroughPlantedLinks(Driver &driver) {
    // A link under the patch name or the temporary name is replaced, never written through.
    Folder folder;
    const Bytes precious = "the file a planted link points to\n";
    folder.write("elsewhere/victim", precious);
    folder.write("old.sfc", oldData);
    folder.write("new.sfc", newData());
    folder.link("old.qpt", folder / "elsewhere/victim");
    folder.link("old.qpt.tmp", folder / "elsewhere/victim");
    expectOutcome(driver.run(Operation::Create, folder / "old.sfc", folder / "new.sfc"), Kind::Information,
                  "Patch creation was successful!\nOutput file name: old.qpt");
    EXPECT_EQ(precious, folder.read("elsewhere/victim"));
    EXPECT_FALSE(std::filesystem::is_symlink(folder / "old.qpt"));
    EXPECT_TRUE(folder.read("old.qpt") == makePatch(oldData, newData()));
    EXPECT_EQ((std::vector<std::string>{"elsewhere", "new.sfc", "old.qpt", "old.qpt.tmp", "old.sfc"}),
              folder.names());
}

void createOverItsOwnInput(Driver &driver) {
    // The patch's name is where the target's (or the source's) data lives, reached through a link: the
    // new patch would replace the very data it was made from, so nothing is done.
    Folder folder;
    folder.write("old.sfc", oldData);
    folder.write("old.qpt", newData());
    folder.link("new.sfc", "old.qpt");
    expectRefusedUntouched(driver, folder, Operation::Create, folder / "old.sfc", folder / "new.sfc",
                           "Patch creation failed");
    folder.link("old", "old.qpt");
    expectRefusedUntouched(driver, folder, Operation::Create, folder / "old", folder / "old.sfc",
                           "Patch creation failed");
}

void createFromFolderAndFifo(Driver &driver) {
    Folder folder;
    folder.write("old.sfc", oldData);
    folder.folder("new.d");
    ASSERT_EQ(0, mkfifo((folder / "pipe").c_str(), 0644));
    expectRefusedUntouched(driver, folder, Operation::Create, folder / "old.sfc", folder / "new.d",
                           "Patch creation failed");
    expectRefusedUntouched(driver, folder, Operation::Create, folder / "pipe", folder / "old.sfc",
                           "Patch creation failed");
}

void createDiskFull(Driver &driver) {
    // A patch that cannot be written whole leaves nothing behind and the earlier patch as it was.
    Folder folder;
    folder.write("old.sfc", oldData);
    folder.write("new.sfc", pattern(70000, 7));
    folder.write("old.qpt", "an earlier patch\n");
    folder.settle();
    auto before = folder.snapshot();
    {
        SizeLimit limit(8192);
        expectWarning(driver.run(Operation::Create, folder / "old.sfc", folder / "new.sfc"),
                      "Patch creation failed");
    }
    folder.settle();
    EXPECT_EQ(before, folder.snapshot());
}

void createUnwritableFolder(Driver &driver) {
    Folder folder;
    folder.write("old.sfc", oldData);
    folder.write("new.sfc", newData());
    chmod(folder.root.c_str(), 0555);
    folder.settle();
    auto before = folder.snapshot();
    {
        Unprivileged user;
        expectWarning(driver.run(Operation::Create, folder / "old.sfc", folder / "new.sfc"),
                      "Patch creation failed");
    }
    EXPECT_EQ(before, folder.snapshot());
}

void createOntoFolder(Driver &driver) {
    // The final rename fails: the partial patch is removed and the folder in the way is kept.
    Folder folder;
    folder.write("old.sfc", oldData);
    folder.write("new.sfc", newData());
    folder.write("old.qpt/keep", "kept");
    expectWarning(driver.run(Operation::Create, folder / "old.sfc", folder / "new.sfc"),
                  "Patch creation failed");
    EXPECT_EQ((std::vector<std::string>{"new.sfc", "old.qpt", "old.sfc"}), folder.names());
    EXPECT_EQ("kept", folder.read("old.qpt/keep"));
}

} // namespace

const std::vector<Scenario> &scenarios() {
    static const std::vector<Scenario> all = {
        {"applyChecksInOrder", Operation::Apply, applyChecksInOrder, false},
        {"applySucceeds", Operation::Apply, applySucceeds, false},
        {"applyWithoutCopy", Operation::Apply, applyWithoutCopy, true},
        {"applyScatteredAndSparseChanges", Operation::Apply, applyScatteredAndSparseChanges, false},
        {"applySharingBlocks", Operation::Apply, applySharingBlocks, true},
        {"applyReadOnlyTarget", Operation::Apply, applyReadOnlyTarget, false},
        {"applyBackwardsWithCapitalExtension", Operation::Apply, applyBackwardsWithCapitalExtension, false},
        {"applyNamesWithoutExtension", Operation::Apply, applyNamesWithoutExtension, false},
        {"applyBackslashInName", Operation::Apply, applyBackslashInName, false},
        {"applyToEmptyOutput", Operation::Apply, applyToEmptyOutput, false},
        {"applyReplacesEarlierBackup", Operation::Apply, applyReplacesEarlierBackup, false},
        {"applyWrongFile", Operation::Apply, applyWrongFile, false},
        {"applyDamagedPatch", Operation::Apply, applyDamagedPatch, false},
        {"applyEngineFailureKeepsBackup", Operation::Apply, applyEngineFailureKeepsBackup, false},
        {"applyToFolderDeviceAndFifo", Operation::Apply, applyToFolderDeviceAndFifo, false},
        {"applyUnwritableFolder", Operation::Apply, applyUnwritableFolder, false},
        {"applyDiskFull", Operation::Apply, applyDiskFull, false},
        {"applyFirstRenameFails", Operation::Apply, applyFirstRenameFails, true},
        {"applySecondRenameFails", Operation::Apply, applySecondRenameFails, true},
        {"applyThirdRenameFails", Operation::Apply, applyThirdRenameFails, false},
        {"applyThroughPlantedLinks", Operation::Apply, applyThroughPlantedLinks, false},
        {"applyUndoFails", Operation::Apply, applyUndoFails, true},
        {"applyLongestNames", Operation::Apply, applyLongestNames, false},
        {"applyKeepsFileUnderTemporaryName", Operation::Apply, applyKeepsFileUnderTemporaryName, false},
        {"applyTargetLinkedToItsBackup", Operation::Apply, applyTargetLinkedToItsBackup, false},
        {"applyTargetLinkedElsewhere", Operation::Apply, applyTargetLinkedElsewhere, false},
        {"createChecksInOrder", Operation::Create, createChecksInOrder, false},
        {"createSucceeds", Operation::Create, createSucceeds, false},
        {"createWithoutExtensionSameFileAndEmpty", Operation::Create, createWithoutExtensionSameFileAndEmpty,
         false},
        {"createThroughPlantedLinks", Operation::Create, createThroughPlantedLinks, false},
        {"createOverItsOwnInput", Operation::Create, createOverItsOwnInput, false},
        {"createFromFolderAndFifo", Operation::Create, createFromFolderAndFifo, false},
        {"createDiskFull", Operation::Create, createDiskFull, false},
        {"createUnwritableFolder", Operation::Create, createUnwritableFolder, false},
        {"createOntoFolder", Operation::Create, createOntoFolder, false},
    };
    return all;
}
