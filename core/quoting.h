#pragma once

#include "rudd/string.h"
#include "rudd/words.h"

#include <vector>

namespace vopra {

// How a front end shows the names in its words. The window shows them as they are (GTK draws what it
// can); a front end that prints on a terminal shows them escaped: a name's control characters and
// invalid bytes written out in the shell's $'...' manner, so that no name can forge a line of output or
// send a terminal command.
enum class NameStyle { plain, escaped };

// The words as one text: 'game.sfc' where a name is quoted, or 'a'$'\n''b' in the escaped style; a
// bare name unquoted unless the escaped style must quote it.
rudd::string shown(const rudd::words &text, NameStyle style);
// Several, a line each.
rudd::string shown(const std::vector<rudd::words> &lines, NameStyle style);

} // namespace vopra
