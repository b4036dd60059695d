// Writing the record's file: never through a link, only to a regular file, and a line either
// whole or not at all.
#pragma once

#include <string>

namespace clockagent {

// Appends `text` to the file at `path`, made if missing. A symbolic link, a reparse point or
// anything but a regular file there is refused; a write cut short (a full disk) is undone, the
// file cut back to its size before. Empty when the whole text was written; otherwise why not, in
// the system's words where it gave some.
std::string AppendToFile(const std::string& path, const std::string& text);

}  // namespace clockagent
