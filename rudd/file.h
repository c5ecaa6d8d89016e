#pragma once

#include "rudd/error.h"

#include <cstdint>
#include <cstdio>
#include <sys/stat.h>

namespace rudd {

// A file written (or read) a byte at a time through one 4096-byte page buffer over a stdio stream.
// Sizes and offsets are 32-bit: a file of 4 GiB or more is refused at open, and nothing ever wraps.
// Any failed write, seek, flush or close is remembered: close() and failed() report it, so no caller
// can take a file that was not written whole for a good one.
class file {
public:
    enum class mode {
        read = 0,   // writes are ignored, seeks are clamped to the size
        write = 1,  // "wb+": create, or truncate an existing file
        create = 2, // a new file only: fails when the name exists, never follows a symbolic link
    };

    file();
    ~file();
    file(const file &) = delete;
    file &operator=(const file &) = delete;

    // False when this object is already open or the file cannot be opened (or is 4 GiB or more).
    // Read mode takes regular files only; write mode truncates; create mode makes the file (0666 & ~umask).
    bool open(const char *name, mode m = mode::read);
    // The same over a file the caller has open (a duplicate of descriptor is used and closed here): an
    // unnamed file, say, that no other program can reach. Write modes do not truncate it.
    bool open(int descriptor, mode m);
    // Flushes and closes. False when anything since open failed (a full disk, a bad seek, ...).
    // Closing a closed file does nothing and returns true.
    bool close();
    // Ignored when closed or in read mode; a write that would carry the file past 4 GiB - 1 bytes is
    // refused and recorded as a failure.
    void write(uint8_t byte);
    // The same as writing the bytes one by one: through the page buffer, a page at a time.
    void write(const uint8_t *bytes, uint32_t count);
    // Reads the byte at the current position and advances; false at the end of the file or when closed.
    bool read(uint8_t &byte);
    // In write modes a seek past the end extends the file with zero bytes, truly allocated (never a
    // sparse hole, so a later write through a shared mapping cannot meet a full disk). In read mode the
    // offset is clamped to the size. A failed extension is recorded and leaves the size as it was.
    void seek(uint32_t offset);
    // Flushes the buffer and the stream and asks the system to put the data on disk. False when this or
    // any earlier operation since open failed.
    bool sync();

    bool is_open() const { return fp != nullptr; }
    bool failed() const { return error; }
    uint32_t offset() const { return file_offset; }
    uint32_t size() const { return file_size; }

    // True when the name can be opened for reading. Never blocks (a FIFO without a writer answers at once).
    static bool exists(const char *name);

private:
    bool attach(FILE *stream, mode m);
    void flush();
    void synchronize();
    void drop_page();
    bool extend(uint32_t offset);
    bool page_io(bool writing, uint32_t count);

    uint8_t buffer[4096];
    int64_t buffer_offset; // wide enough for pages past 2 GiB; -1 when no page is cached
    bool buffer_dirty;
    FILE *fp;
    uint32_t file_offset;
    uint32_t file_size;
    mode file_mode;
    bool error; // any write, seek, flush or close failed since open
};

// A whole regular file mapped into memory. A map without data always has size 0: an empty file opens
// successfully with no data; a folder, device, FIFO or a file of 4 GiB or more fails to open and leaves
// the map closed, so no caller can be handed a size without bytes behind it.
class filemap {
public:
    enum class mode {
        read,      // O_RDONLY, PROT_READ
        readwrite, // O_RDWR, PROT_READ | PROT_WRITE; writes reach the file (MAP_SHARED)
    };

    filemap() = default;
    ~filemap();
    filemap(const filemap &) = delete;
    filemap &operator=(const filemap &) = delete;

    // Maps the whole file. An open map is closed first. On failure the map stays closed: size() is 0 and
    // data() null. An empty regular file succeeds with size 0 and no data.
    done open(const char *name, mode m = mode::read);
    // The same over a file the caller has open under name; a duplicate of descriptor is kept, so the map
    // reaches the very file that was opened or made, whatever happens to its name meanwhile. known, when
    // given, is what fstat of it said a moment ago: it is not asked again.
    done open(int descriptor, mode m, const char *name, const struct stat *known = nullptr);
    // Unmaps and closes; afterwards size() is 0, like any map without data.
    void close();
    // Writes the mapped bytes and the file to disk (msync and fsync); false on any failure.
    bool sync();
    // Prepares the map for a pass over it. A read-write map gets every page now rather than at one fault
    // per page, which is most of the cost of a large run, and its new pages two megabytes at a time; a
    // read map has the system start reading what is not cached (cached pages are mapped sixteen at a
    // fault, cheaper than one by one ahead). Only a hint: a system without it takes the faults as they come.
    void populate();

    uint8_t *data() const { return map_data; }
    uint32_t size() const { return map_size; }
    // The mapped file's own descriptor (-1 when closed), for calls that copy from it.
    int descriptor() const { return fd; }

private:
    done map(int opened, mode m, const char *name, const struct stat *known);

    uint32_t map_size = 0;
    uint8_t *map_data = nullptr; // owned mapping
    int fd = -1;                 // owned descriptor
    mode map_mode = mode::read;
};

} // namespace rudd
