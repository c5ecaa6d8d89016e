#include "rudd/string.h"

#include "rudd/memory.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace rudd {

static const uint32_t initial_capacity = 64;

// Capacities are 32-bit: a text longer than that cannot be held, and a wrapped count would let the
// copy that follows run past a small buffer.
static uint32_t capacity_for(std::size_t count) {
    if (count > UINT32_MAX)
        out_of_memory(count + 1);
    return uint32_t(count);
}

string::string() : data(static_cast<char *>(allocate(initial_capacity + 1))), size(initial_capacity) {
    data[0] = 0;
}

string::string(const char *text) : string() {
    append(text);
}

string::string(const string &source) : string() {
    append(source.data);
}

string::~string() {
    if (data)
        std::free(data);
}

string &string::operator=(const string &source) {
    return assign(source.data);
}

string &string::operator=(const char *text) {
    return assign(text);
}

void string::reserve(uint32_t capacity) {
    if (size >= capacity)
        return;
    data = static_cast<char *>(reallocate(data, std::size_t(capacity) + 1));
    size = capacity;
    data[capacity] = 0;
}

string &string::assign(const char *text) {
    if (text == data)
        return *this;
    std::size_t count = std::strlen(text);
    reserve(capacity_for(count));
    std::memmove(data, text, count + 1);
    return *this;
}

string &string::append(const char *text) {
    uint32_t current = length();
    std::size_t count = std::strlen(text);
    // The text may live inside this very buffer, which reserve may move.
    bool own = text >= data && text <= data + size;
    std::size_t at = own ? std::size_t(text - data) : 0;
    reserve(capacity_for(current + count));
    if (own)
        text = data + at;
    std::memmove(data + current, text, count);
    data[current + count] = 0;
    return *this;
}

uint32_t string::length() const {
    return uint32_t(std::strlen(data));
}

char &string::operator[](uint32_t index) {
    reserve(index);
    return data[index];
}

bool operator==(const string &left, const string &right) {
    return std::strcmp(left.text(), right.text()) == 0;
}

bool operator!=(const string &left, const string &right) {
    return !(left == right);
}

void string_list::reserve(uint32_t count) {
    if (poolsize >= count)
        return;
    // Counted in 64 bits so that a count past 2^31 cannot wrap the doubling into an endless loop.
    uint64_t slots = 1;
    while (slots < count)
        slots <<= 1;
    string *grown = static_cast<string *>(allocate(std::size_t(slots) * sizeof(string)));
    // The array only ever grows here, so every element fits and is copied (each copy a fresh string).
    for (uint32_t i = 0; i < objectsize; i++)
        new (&grown[i]) string(pool[i]);
    for (uint32_t i = 0; i < objectsize; i++)
        pool[i].~string();
    std::free(pool);
    pool = grown;
    poolsize = uint32_t(slots < UINT32_MAX ? slots : UINT32_MAX);
}

void string_list::resize(uint32_t count) {
    reserve(count);
    for (uint32_t i = count; i < objectsize; i++)
        pool[i].~string();
    for (uint32_t i = objectsize; i < count; i++)
        new (&pool[i]) string();
    objectsize = count;
}

void string_list::reset() {
    for (uint32_t i = 0; i < objectsize; i++)
        pool[i].~string();
    std::free(pool);
    pool = nullptr;
    poolsize = 0;
    objectsize = 0;
}

string &string_list::operator[](uint32_t index) {
    // A count of 2^32 elements cannot be held; index + 1 would wrap to an empty list.
    if (index == UINT32_MAX)
        out_of_memory((std::size_t(index) + 1) * sizeof(string));
    if (index >= objectsize)
        resize(index + 1);
    return pool[index];
}

void string_list::split(const char *separator, const char *text) {
    // The text or the separator may be one of this list's own elements, which the pieces overwrite and
    // growth moves.
    string source(text), between(separator);
    separator = between.text();
    std::size_t step = std::strlen(separator);
    uint32_t pieces = 0;
    const char *start = source.text();
    for (;;) {
        const char *end = step ? std::strstr(start, separator) : nullptr;
        std::size_t count = end ? std::size_t(end - start) : std::strlen(start);
        string &piece = (*this)[pieces++];
        piece.reserve(capacity_for(count));
        char *out = &piece[0];
        std::memcpy(out, start, count);
        out[count] = 0;
        if (!end)
            break;
        start = end + step;
    }
    resize(pieces);
}

static char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool iendswith(const char *text, const char *suffix) {
    std::size_t length = std::strlen(text), count = std::strlen(suffix);
    if (length < count)
        return false;
    const char *tail = text + length - count;
    for (std::size_t i = 0; i < count; i++) {
        if (lower(tail[i]) != lower(suffix[i]))
            return false;
    }
    return true;
}

string remove_extension(const char *path) {
    string result(path);
    for (uint32_t i = result.length(); i-- > 0;) {
        char c = result[i];
        if (c == '/' || c == '\\')
            break;
        if (c == '.') {
            result[i] = 0;
            break;
        }
    }
    return result;
}

string file_name(const char *path) {
    const char *name = path;
    for (const char *p = path; *p; p++) {
        if (*p == '/' || *p == '\\')
            name = p + 1;
    }
    return string(name);
}

string decimal(uint32_t value) {
    string result;
    uint32_t count = 0;
    do {
        result[count++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    result[count] = 0;
    for (uint32_t i = 0, j = count - 1; i < j; i++, j--) {
        char c = result[i];
        result[i] = result[j];
        result[j] = c;
    }
    return result;
}

} // namespace rudd
