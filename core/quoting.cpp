#include "core/quoting.h"

#include <cstdint>
#include <cstdio>

using rudd::string;

namespace vopra {

// The length of the printable UTF-8 character at text, or 0 for a byte that must be escaped: a C0 or
// C1 control character, DEL, or a byte that does not begin a valid, shortest-form sequence.
static uint32_t printable(const unsigned char *text) {
    unsigned char lead = text[0];
    if (lead < 0x20 || lead == 0x7f)
        return 0;
    if (lead < 0x80)
        return 1;
    uint32_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 0;
    if (length == 0 || lead > 0xf4)
        return 0;
    uint32_t point = lead & (0x7f >> length);
    for (uint32_t i = 1; i < length; i++) {
        if ((text[i] & 0xc0) != 0x80)
            return 0;
        point = point << 6 | (text[i] & 0x3f);
    }
    bool shortest = length == 2 || (length == 3 && point >= 0x800) || (length == 4 && point >= 0x10000);
    bool valid = shortest && point <= 0x10ffff && !(point >= 0xd800 && point <= 0xdfff);
    return valid && !(point >= 0x80 && point < 0xa0) ? length : 0;
}

static bool needsEscaping(const char *name) {
    auto text = reinterpret_cast<const unsigned char *>(name);
    for (uint32_t i = 0; text[i];) {
        uint32_t length = printable(text + i);
        if (length == 0)
            return true;
        i += length;
    }
    return false;
}

static string escaped(const char *name) {
    auto text = reinterpret_cast<const unsigned char *>(name);
    string out("'");
    for (uint32_t i = 0; text[i];) {
        uint32_t length = printable(text + i);
        if (length > 0) {
            char piece[5] = {};
            for (uint32_t k = 0; k < length; k++)
                piece[k] = char(text[i + k]);
            out.append(text[i] == '\'' ? "'\\''" : piece);
            i += length;
            continue;
        }
        char code[8];
        const char *named = text[i] == '\n'   ? "\\n"
                            : text[i] == '\t' ? "\\t"
                            : text[i] == '\r' ? "\\r"
                                              : nullptr;
        if (!named)
            std::snprintf(code, sizeof code, "\\%03o", text[i]);
        out.append(string("'$'", named ? named : code, "''"));
        i++;
    }
    out.append("'");
    return out;
}

static string quotedName(const char *name, rudd::words::kind as, bool escaping) {
    if (escaping && needsEscaping(name))
        return escaped(name);
    return as == rudd::words::kind::bare ? string(name) : string("'", name, "'");
}

static string plainName(const char *name, rudd::words::kind as) {
    return quotedName(name, as, false);
}

static string escapedName(const char *name, rudd::words::kind as) {
    return quotedName(name, as, true);
}

string shown(const rudd::words &text, NameStyle style) {
    return text.shown(style == NameStyle::escaped ? escapedName : plainName);
}

string shown(const std::vector<rudd::words> &lines, NameStyle style) {
    string text;
    for (size_t i = 0; i < lines.size(); i++)
        text.append(string(i ? "\n" : "", shown(lines[i], style)));
    return text;
}

} // namespace vopra
