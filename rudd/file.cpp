#include "rudd/file.h"
#include "rudd/descriptor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rudd {

static const uint32_t page_size = 4096;
static const uint64_t size_limit = uint64_t(1) << 32; // sizes and offsets are 32-bit

file::file()
    : buffer(), buffer_offset(-1), buffer_dirty(false), fp(nullptr), file_offset(0), file_size(0),
      file_mode(mode::read), error(false) {}

file::~file() {
    close();
}

// Opens the stream for one mode. Read mode never blocks (a FIFO without a writer) and takes regular
// files only; create mode makes a new file and never goes through a symbolic link.
static FILE *open_stream(const char *name, file::mode m) {
    if (m == file::mode::write)
        return std::fopen(name, "wb+");
    int fd;
    if (m == file::mode::create) {
        fd = ::open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    } else {
        fd = ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat info;
        if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
            ::close(fd);
            return nullptr;
        }
        if (fd >= 0)
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    if (fd < 0)
        return nullptr;
    FILE *fp = fdopen(fd, m == file::mode::create ? "wb+" : "rb");
    if (!fp) {
        ::close(fd);
        // The name was made a moment ago by this call; leave nothing behind.
        if (m == file::mode::create)
            unlink(name);
    }
    return fp;
}

bool file::open(const char *name, mode m) {
    if (fp)
        return false;
    FILE *stream = open_stream(name, m);
    return stream && attach(stream, m);
}

bool file::open(int descriptor, mode m) {
    if (fp)
        return false;
    int own = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return false;
    FILE *stream = fdopen(own, m == mode::read ? "rb" : "rb+");
    if (!stream) {
        ::close(own);
        return false;
    }
    return attach(stream, m);
}

bool file::attach(FILE *stream, mode m) {
    // The page buffer is the only buffer: every page goes to the system in one call, and a write
    // error shows at once instead of at some later stdio flush.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    bool seekable = fseeko(stream, 0, SEEK_END) == 0;
    off_t end = seekable ? ftello(stream) : 0;
    if (end < 0 || uint64_t(end) >= size_limit) {
        std::fclose(stream);
        return false;
    }
    if (fseeko(stream, 0, SEEK_SET) != 0)
        seekable = false;
    fp = stream;
    file_mode = m;
    buffer_offset = -1;
    buffer_dirty = false;
    file_offset = 0;
    file_size = uint32_t(end);
    error = !seekable;
    return true;
}

bool file::close() {
    if (!fp)
        return true;
    flush();
    if (std::fclose(fp) != 0)
        error = true;
    fp = nullptr;
    buffer_offset = -1;
    buffer_dirty = false;
    return !error;
}

// Moves count bytes between the buffer and the cached page of the file; false (and recorded) on failure.
bool file::page_io(bool writing, uint32_t count) {
    if (count == 0)
        return true;
    if (fseeko(fp, off_t(buffer_offset), SEEK_SET) != 0) {
        error = true;
        return false;
    }
    size_t done = writing ? std::fwrite(buffer, 1, count, fp) : std::fread(buffer, 1, count, fp);
    if (done != count) {
        error = true;
        std::clearerr(fp);
        if (!writing)
            std::memset(buffer + done, 0, count - done);
        return false;
    }
    return true;
}

void file::flush() {
    if (file_mode == mode::read || buffer_offset < 0 || !buffer_dirty)
        return;
    uint32_t count = uint64_t(buffer_offset) + page_size <= file_size ? page_size : file_size % page_size;
    page_io(true, count);
    buffer_offset = -1;
    buffer_dirty = false;
}

void file::synchronize() {
    int64_t page = file_offset - file_offset % page_size;
    if (buffer_offset == page)
        return;
    flush();
    buffer_offset = page;
    uint32_t count = uint64_t(page) + page_size <= file_size ? page_size : file_size % page_size;
    page_io(false, count);
}

void file::write(uint8_t byte) {
    if (!fp || file_mode == mode::read)
        return;
    if (file_offset == UINT32_MAX) {
        error = true;
        return;
    }
    synchronize();
    buffer[file_offset % page_size] = byte;
    buffer_dirty = true;
    file_offset++;
    if (file_offset > file_size)
        file_size = file_offset;
}

void file::write(const uint8_t *bytes, uint32_t count) {
    if (!fp || file_mode == mode::read)
        return;
    while (count) {
        if (file_offset == UINT32_MAX) {
            error = true;
            return;
        }
        synchronize();
        uint32_t at = file_offset % page_size;
        uint32_t room = page_size - at;
        if (room > UINT32_MAX - file_offset)
            room = UINT32_MAX - file_offset;
        uint32_t step = count < room ? count : room;
        std::memcpy(buffer + at, bytes, step);
        buffer_dirty = true;
        file_offset += step;
        if (file_offset > file_size)
            file_size = file_offset;
        bytes += step;
        count -= step;
    }
}

bool file::read(uint8_t &byte) {
    if (!fp || file_offset >= file_size)
        return false;
    synchronize();
    byte = buffer[file_offset % page_size];
    file_offset++;
    return true;
}

// Forgets the cached page, which must be clean. A page read in before a zero fill holds, past the old
// end, bytes that were never read (left from an earlier page); once the fill has put zeros there on
// disk, a later write into that page would otherwise write those stale bytes back over the zeros.
void file::drop_page() {
    buffer_offset = -1;
    buffer_dirty = false;
}

// Grows the file from file_size to offset with zero bytes. The result on disk is what writing the
// zeros one by one would give, but the space is reserved in one call; where the file system cannot
// do that, zero pages are written instead. Either way no sparse hole is left.
bool file::extend(uint32_t offset) {
    return !allocate(fileno(fp), file_size, offset - file_size, words()).failed();
}

void file::seek(uint32_t offset) {
    if (!fp)
        return;
    flush();
    if (offset > file_size && file_mode == mode::read)
        offset = file_size;
    if (offset > file_size) {
        drop_page();
        if (extend(offset)) {
            file_size = offset;
        } else {
            // Take back whatever part of the extension was made, so the size on disk stays the known one.
            error = true;
            if (ftruncate(fileno(fp), off_t(file_size)) != 0)
                error = true;
            offset = file_size;
        }
    }
    file_offset = offset;
}

bool file::sync() {
    if (!fp)
        return false;
    flush();
    if (std::fflush(fp) != 0 || fsync(fileno(fp)) != 0)
        error = true;
    return !error;
}

bool file::exists(const char *name) {
    int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

filemap::~filemap() {
    close();
}

done filemap::open(const char *name, mode m) {
    close();
    int flags = (m == mode::readwrite ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    int opened = ::open(name, flags);
    if (opened < 0)
        return error::system(errno, words("cannot open ", quoted(name)));
    return map(opened, m, name, nullptr);
}

done filemap::open(int descriptor, mode m, const char *name, const struct stat *known) {
    close();
    int own = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return error::system(errno, words("cannot read ", quoted(name)));
    return map(own, m, name, known);
}

done filemap::map(int opened, mode m, const char *name, const struct stat *known) {
    map_size = 0;
    fd = opened;
    struct stat info;
    if (known)
        info = *known;
    else if (fstat(fd, &info) != 0) {
        int number = errno;
        close();
        return error::system(number, words("cannot read ", quoted(name)));
    }
    if (!S_ISREG(info.st_mode) || info.st_size < 0 || uint64_t(info.st_size) >= size_limit) {
        close();
        return error::fault(S_ISREG(info.st_mode)
                                ? words(quoted(name), " is too large: files must be smaller than 4 GiB")
                                : words(quoted(name), " is not a regular file"));
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // An empty file is an empty input: open, no bytes, no mapping (the platform refuses a zero length).
    if (info.st_size == 0)
        return done();
    int protection = m == mode::readwrite ? PROT_READ | PROT_WRITE : PROT_READ;
    void *mapped = mmap(nullptr, size_t(info.st_size), protection, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) {
        int number = errno;
        close();
        return error::system(number, words("cannot read ", quoted(name)));
    }
    map_data = static_cast<uint8_t *>(mapped);
    map_size = uint32_t(info.st_size);
    map_mode = m;
    return done();
}

void filemap::populate() {
#if defined(MADV_POPULATE_WRITE)
    if (!map_data)
        return;
    if (map_mode == mode::readwrite) {
        // New output pages made two megabytes at a time cost a fifth as much to write.
        madvise(map_data, map_size, MADV_HUGEPAGE);
        madvise(map_data, map_size, MADV_POPULATE_WRITE);
    } else {
        // An input is read in order: the system maps pages already cached sixteen at a fault, cheaper
        // than mapping them one by one ahead; it is only told to start reading what is not cached.
        madvise(map_data, map_size, MADV_WILLNEED);
    }
#endif
}

void filemap::close() {
    if (map_data) {
        munmap(map_data, map_size);
        map_data = nullptr;
    }
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    // Nothing is mapped any more, so no size may be reported either.
    map_size = 0;
}

bool filemap::sync() {
    if (fd < 0)
        return false;
    bool good = true;
    if (map_data && msync(map_data, map_size, MS_SYNC) != 0)
        good = false;
    if (fsync(fd) != 0)
        good = false;
    return good;
}

} // namespace rudd
