// Where Kanalyst.exe writes listport.txt, and writing it in one piece.
#pragma once

#include <string>

namespace kanalyst {

// The directory of the running executable with its trailing backslash; empty when the system
// gives no file name, so that the list then lands in the current directory.
std::wstring ExecutableDirectory();

// Replaces <directory>listport.txt with text in one piece: the text goes into a temporary file
// in the same directory, which is flushed, closed and then moved over the list, so a reader sees
// the old list or the new one, never part of one. False when any step fails; the temporary file
// is removed then.
bool WriteListFile(const std::wstring& directory, const std::string& text);

}  // namespace kanalyst
