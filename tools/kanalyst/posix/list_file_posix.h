// Writing listport.txt on POSIX systems.
#pragma once

#include <string>

namespace kanalyst {

// Replaces <directory>/listport.txt with text in one piece: the text goes into a temporary file
// in the same directory, which is synced, closed and then renamed over the list, so a reader
// sees the old list or the new one, never part of one. False when any step fails; the temporary
// file is removed then.
bool WriteListFile(const std::string& directory, const std::string& text);

}  // namespace kanalyst
