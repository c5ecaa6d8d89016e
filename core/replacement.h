#pragma once

#include "core/path.h"

#include "rudd/descriptor.h"
#include "rudd/error.h"
#include "rudd/string.h"
#include "rudd/words.h"

#include <sys/stat.h>
#include <vector>

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
    rudd::done create();
    int descriptor() const { return fd.get(); }
    const rudd::string &name() const { return finalName; }
    // Gives the file its size, truly allocated, so that writes through a map cannot meet a full disk.
    rudd::done resize(uint32_t size);
    // The new file is to keep what the file it replaces carries, as `cp -p` keeps it: the owner and
    // group where the user may set them, the permission bits (set-ID bits only with the owner and group),
    // and, read from the open file (a duplicate of descriptor is kept), the extended attributes and the
    // access control list.
    void keepAttributesOf(const struct stat &status, int descriptor);
    // The same for the file now under the final name, if it is a regular file; one that cannot be read
    // still hands on its owner and bits.
    void keepAttributesOfReplaced();
    // Gives the file those attributes, or those of a new file (0666 less the umask), then puts data and
    // attributes on disk.
    rudd::done finish();
    // What the user should know of a file put in place: that it could not keep its owner, or that its
    // folder could not be put on disk; none when all went as it should.
    const std::vector<rudd::words> &notes() const { return keptNotes; }

    // Puts the finished file under the final name, replacing what was there.
    rudd::done replace();
    // Puts the finished file in the place of the final name's own file, which must still be the file
    // checked was taken of; that file moves to backup, replacing what was there.
    // A failure there says in its text where the original is when the swap could not be undone.
    rudd::done exchange(const rudd::string &backup, const struct stat &checked);

private:
    // Where the original was parked while the new file took its name.
    struct Parked {
        rudd::string name;
        bool linked; // a second name of the original, not the original moved
    };

    rudd::done takeAttributes();
    rudd::done swap(const rudd::string &backup, const struct stat &checked);
    void flushFolder(const rudd::words &state);
    template <typename Make> rudd::done takeFreeName(Make make);
    rudd::done nameTemporary();
    rudd::either<Parked> parkOriginal();
    rudd::done exchangeByRenames(const rudd::string &backupName, const rudd::string &backup);
    void forget();

    rudd::string finalName, stem, suffix, temporary, keptName;
    std::vector<rudd::words> keptNotes;
    PathParts place; // the final name's folder, and its name there
    struct stat like {};
    rudd::descriptor likeFile; // the file whose extended attributes and ACL the new one takes
    bool keeping = false;
    rudd::descriptor fd;
    rudd::descriptor folder;
    bool named = false; // the file has a name of its own, temporary (until placed)
    bool placed = false;
};

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
