#pragma once

// Drops from another program: the tests' drag source (drag_source.cpp) runs as a second X client and is
// dragged with real input (XTest) onto a point of this program's windows.

#include <string>
#include <vector>

#include "support_more.h"

namespace support {

// Presses the first button on the drag source, moves in steps to the point, waits there until the
// target has had time to answer, and releases. This program's GTK loop runs all the while, so the drop
// is handled when it returns. Files are offered as a URI list (and the same list as text, as file
// managers do); text alone as plain text. Answers whether the source saw its drag end.
bool dropFiles(Point to, const std::vector<std::string> &uris);
bool dropText(Point to, const std::string &text);

// The URI of a local file name, as a file manager writes it (escaped, bytes that are not UTF-8 as %XX).
std::string fileUri(const std::string &name);

} // namespace support
