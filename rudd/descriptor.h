#pragma once

#include "rudd/error.h"

#include <cstddef>
#include <cstdint>

// An open file's descriptor, owned, and the writes made through one.
namespace rudd {

// A descriptor closed with its owner; moved, never copied.
class descriptor {
public:
    descriptor() = default;
    explicit descriptor(int fd) : fd(fd) {}
    descriptor(descriptor &&other) : fd(other.release()) {}
    descriptor &operator=(descriptor &&other);
    descriptor(const descriptor &) = delete;
    descriptor &operator=(const descriptor &) = delete;
    ~descriptor() { reset(); }

    int get() const { return fd; }
    bool is_open() const { return fd >= 0; }
    // Hands the descriptor over; this one is then closed.
    int release();
    void reset(int opened = -1);

private:
    int fd = -1;
};

// Whether a failed call's number says that this system or file system cannot do that here (no such
// call, not for this file system or these files), as against refusing or failing it: the caller then
// takes another way to the same result.
bool unsupported_here(int number);

// Writes count bytes at offset, every one: a short write is continued. The error, with failing's words,
// carries the number of the call that failed, or ENOSPC where the system took nothing more.
done write_all(int fd, const void *bytes, size_t count, uint64_t offset, const words &failing);

// Gives length bytes at offset truly allocated space holding zeros (never a sparse hole, so no later
// write there meets a full disk): reserved in one call, or written as zeros where the file system
// cannot reserve.
done allocate(int fd, uint64_t offset, uint64_t length, const words &failing);

// Puts what a sequential writer wrote on its way to disk as it goes: each call starts the writeback of
// what was written since the last one and waits for what came before that, so the disk works while
// the next stretch is written and the final fsync finds little left. Where much of what is written
// takes no new space (blocks shared with another file), the wait comes only once batch bytes of new
// data are waiting, not at every call. Only a head start: where it fails or the file system lacks it,
// nothing is lost, since the fsync that must follow reports every failure.
class write_behind {
public:
    explicit write_behind(int fd, uint64_t batch = 0) : fd(fd), batch(batch) {}
    // Everything below end has been written, fresh bytes of it new data since the last call (all of
    // it, unless said).
    void written(uint64_t end, uint64_t fresh = UINT64_MAX);
    // Waits for everything started.
    void wait();

private:
    int fd;
    uint64_t batch;
    uint64_t started = 0; // writeback started below this
    uint64_t waited = 0;  // on disk below this
    uint64_t pending = 0; // new data between waited and started
};

} // namespace rudd
