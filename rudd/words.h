#pragma once

#include "rudd/string.h"

#include <vector>

namespace rudd {

// A file's name as it stands in words: quoted ('game.sfc') in running text, bare where it stands alone.
struct quoted {
    explicit quoted(const char *path) : path(path) {}
    string path;
};
struct bare {
    explicit bare(const char *path) : path(path) {}
    string path;
};

// Words for the user with the names of files held apart, so that whoever shows them words each name in
// its own manner: a terminal escapes what could forge a line or send a command, a window shows it as it is.
class words {
public:
    enum class kind { text, quoted, bare };
    struct piece {
        kind is;
        string content;
    };

    words() = default;
    // Pieces (texts, strings, quoted and bare names, other words), in order.
    template <typename... Pieces> words(const Pieces &...pieces) { (add(pieces), ...); }

    words &append(const words &more);
    bool empty() const { return pieces.empty(); }
    const std::vector<piece> &parts() const { return pieces; }
    // The words as one text, each name given by show(name, kind).
    string shown(string (*show)(const char *name, kind as)) const;

private:
    void add(const char *text) { pieces.push_back(piece{kind::text, string(text)}); }
    void add(const string &text) { pieces.push_back(piece{kind::text, text}); }
    void add(const quoted &name) { pieces.push_back(piece{kind::quoted, name.path}); }
    void add(const bare &name) { pieces.push_back(piece{kind::bare, name.path}); }
    void add(const words &more) { append(more); }

    std::vector<piece> pieces;
};

bool operator==(const words &left, const words &right);

} // namespace rudd
