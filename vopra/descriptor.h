#pragma once

namespace vopra {

// A descriptor closed with its owner.
struct Descriptor {
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor();
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int fd;
};

} // namespace vopra
