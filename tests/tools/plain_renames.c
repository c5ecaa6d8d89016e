/* Preloaded into qpt to make its folder behave as a file system without unnamed files or
 * exchanging renames (vfat, many network and FUSE file systems): O_TMPFILE fails with EOPNOTSUPP
 * and a rename with flags with EINVAL, as they do there; copy_file_range fails with EOPNOTSUPP, as
 * where the system cannot copy, so these runs take the engine's pass. Everything else is the plain
 * system call. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

int openat(int folder, const char *path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return (int)syscall(SYS_openat, folder, path, flags, mode);
}

int renameat2(int from_folder, const char *from, int to_folder, const char *to, unsigned int flags) {
    if (flags) {
        errno = EINVAL;
        return -1;
    }
    return renameat(from_folder, from, to_folder, to);
}

ssize_t copy_file_range(int in, off_t *in_offset, int out, off_t *out_offset, size_t length,
                        unsigned int flags) {
    (void)in, (void)in_offset, (void)out, (void)out_offset, (void)length, (void)flags;
    errno = EOPNOTSUPP;
    return -1;
}
