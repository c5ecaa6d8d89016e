#pragma once

#include "rudd/string.h"
#include "vopra/error.h"
#include "vopra/path.h"

#include <sys/stat.h>

namespace vopra {

// A new file and the name it is to take, written so that a crash, a power loss or a failing call at
// any instant leaves every name the user trusts with a complete file, its old content or its new one:
// never a part, never nothing.
//
// Where the file system can, the file is made unnamed in the folder of its final name (O_TMPFILE), so
// that nothing of it has a name until it is whole and on disk. It is then given a free temporary name
// and renamed over the final name, or exchanged with the file it replaces in one step
// (RENAME_EXCHANGE), which then moves on to the backup name. Where the file system offers neither, the
// file is made under a free temporary name, the original is linked to a second one, and plain renames
// do the rest; only where it has no links either (vfat) is the original moved aside, and the target
// missing for the moment between two renames, which no plain rename can avoid.
//
// Every step acts on the descriptor of the file's creation, never on a name someone could have
// replaced since. Until it has been put in place, the file is removed again by the destructor, and by
// an interrupting SIGINT, SIGTERM, SIGHUP or SIGPIPE, which the steps that rename hold back until they
// are done.
class Replacement {
public:
    // name: the final name; the temporary name is stem + suffix, then stem + suffix + ".1", ... (shortened
    // to fit the folder's name limit), always the first one free.
    Replacement(const rudd::string &name, const rudd::string &stem, const char *suffix);
    ~Replacement();
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    // Makes the new, empty file, readable and writable by its descriptor whatever the umask.
    Error create();
    int descriptor() const { return fd; }
    const rudd::string &name() const { return finalName; }
    // Gives the file its size, truly allocated, so that writes through a map cannot meet a full disk.
    Error resize(uint32_t size);
    // The new file is to keep what the file it replaces carries, as `cp -p` keeps it: the owner and
    // group where the user may set them, the permission bits (set-ID bits only with the owner and group),
    // and, read from descriptor (-1: none), the extended attributes and the access control list.
    void keepAttributesOf(const struct stat &status, int descriptor);
    // The same for the file now under the final name, if it is a regular file; one that cannot be read
    // still hands on its owner and bits.
    void keepAttributesOfReplaced();
    // Gives the file those attributes, or those of a new file (0666 less the umask), then puts data and
    // attributes on disk.
    Error finish();
    // What the user should know of a file put in place: that it could not keep its owner, or that its
    // folder could not be put on disk; a line each, empty when all went as it should.
    const rudd::string &note() const { return keptNote; }

    // Puts the finished file under the final name, replacing what was there.
    Error replace();
    // Puts the finished file in the place of the final name's own file, which must still be the file
    // checked was taken of; that file moves to backup, replacing what was there.
    // A failure there says in its text where the original is when the swap could not be undone.
    Error exchange(const rudd::string &backup, const struct stat &checked);


private:
    Error takeAttributes();
    Error swap(const rudd::string &backup, const struct stat &checked);
    void flushFolder(const rudd::string &state);
    void addNote(const rudd::string &text);
    template <typename Make> Error takeFreeName(Make make);
    Error nameTemporary();
    Error parkOriginal(rudd::string &parked, bool &linked);
    Error exchangeByRenames(const rudd::string &backupName, const rudd::string &backup);
    void forget();

    rudd::string finalName, stem, suffix, temporary, keptName, keptNote;
    PathParts place; // the final name's folder, and its name there
    struct stat like {};
    int likeDescriptor = -1;
    bool ownsLike = false;
    bool keeping = false;
    int fd = -1;
    int folder = -1;
    bool named = false; // the file has a name of its own, temporary (until placed)
    bool placed = false;
};

// Ends this process's part in a run that has changed no name yet: removes the temporary name of its
// file not put in place, if it has one, so that nothing of the run is left once the process ends, as
// the caller then makes it do at once. false, removing nothing, once names have begun to change.
bool abandonUnplaced();

// How many temporary names a replacement tries, and the n-th of them for name (stem + suffix, then
// stem + suffix + ".1", ...) as a path beside it: where a run that was interrupted may have left a file.
const uint32_t temporaryNames = 1000;
rudd::string temporaryPath(const rudd::string &name, const rudd::string &stem, const char *suffix,
                           uint32_t n);

// The calls through which a replacement names files. Only tests replace them, to make one step fail as
// on a faulty file system, or as on one without unnamed files (EOPNOTSUPP) or exchanges (EINVAL).
extern int (*renameFile)(int folder, const char *from, const char *to, unsigned flags);
extern int (*openUnnamed)(int folder, mode_t permissions);

} // namespace vopra
