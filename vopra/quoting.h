#pragma once

#include "rudd/string.h"

namespace vopra {

// How the texts of outcomes show file names. The window shows them as they are (GTK draws what it
// can); a front end that prints on a terminal asks for the escaped style, in which a name's control
// characters and invalid bytes are written out in the shell's $'...' manner, so that no name can
// forge a line of output or send a terminal command.
enum class NameStyle { plain, escaped };
void setNameStyle(NameStyle style);

// The name in single quotes: 'game.sfc', or 'a'$'\n''b' in the escaped style.
rudd::string quoted(const char *name);
// The name as it stands in running text: unquoted unless the escaped style must quote it.
rudd::string bare(const char *name);

} // namespace vopra
