#pragma once

#include <cstdint>

namespace rudd {

// The one text type of the system: an owned, zero-terminated, growable buffer. A new string has capacity
// 64; growth is to exactly the capacity asked for and the capacity never shrinks. Copies are deep and
// start again from capacity 64, so a copy never inherits a large buffer it does not need.
class string {
public:
    string();
    string(const char *text);
    string(const string &source);
    // Builds a text from pieces (texts or strings), appended in order.
    template <typename First, typename Second, typename... Rest>
    string(const First &first, const Second &second, const Rest &...rest) : string() {
        append(first);
        append(second);
        (append(rest), ...);
    }
    ~string();

    string &operator=(const string &source);
    string &operator=(const char *text);

    void reserve(uint32_t capacity);
    string &assign(const char *text);
    string &append(const char *text);
    string &append(const string &text) { return append(text.data); }

    uint32_t length() const;
    uint32_t capacity() const { return size; }
    bool empty() const { return data[0] == 0; }

    // Growing access: an index beyond the capacity grows the buffer instead of overrunning it.
    char &operator[](uint32_t index);
    operator const char *() const { return data; }
    const char *text() const { return data; }

private:
    char *data; // owned, malloc'd, always size + 1 bytes and zero-terminated
    uint32_t size;
};

bool operator==(const string &left, const string &right);
bool operator!=(const string &left, const string &right);

// A list of strings with power-of-two growth; the toolkit splits filters, rows and entries with it.
class string_list {
public:
    string_list() = default;
    string_list(const string_list &) = delete;
    string_list &operator=(const string_list &) = delete;
    ~string_list() { reset(); }

    void reserve(uint32_t count);
    void resize(uint32_t count);
    void reset();
    // Replaces the content with the pieces of text between separators: k separators give k + 1 pieces.
    void split(const char *separator, const char *text);

    uint32_t count() const { return objectsize; }
    uint32_t capacity() const { return poolsize; }
    // Growing access for writing: an index at or past the end first resizes the list to index + 1.
    string &operator[](uint32_t index);
    const string &operator[](uint32_t index) const { return pool[index]; }

private:
    string *pool = nullptr; // owned, malloc'd; slots at and above objectsize are unconstructed
    uint32_t poolsize = 0;
    uint32_t objectsize = 0;
};

// True when text ends with suffix, ASCII letter case ignored.
bool iendswith(const char *text, const char *suffix);
// Cuts the last component's extension: "a/b.c/d" stays, "pack.tar.gz" gives "pack.tar".
string remove_extension(const char *path);
// The part after the last '/' or '\'.
string file_name(const char *path);
string decimal(uint32_t value);

} // namespace rudd
