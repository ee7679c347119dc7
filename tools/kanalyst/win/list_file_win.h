// Where Kanalyst.exe writes listport.txt and its report, and writing a file in one piece.
#pragma once

#include <string>

namespace kanalyst {

// The directory of the running executable with its trailing backslash; empty when the system
// gives no file name, so that the list then lands in the current directory.
std::wstring ExecutableDirectory();

// Replaces <directory><name> with bytes in one piece: they go into a temporary file in the same
// directory, which is flushed, closed and then moved over the file, so a reader sees the old
// file or the new one, never part of one. False when any step fails; the temporary file is
// removed then.
bool ReplaceFileWhole(const std::wstring& directory, const std::wstring& name,
                      const std::string& bytes);

// Whether a new file can be made in directory, as the list's write must: a probe file is made
// and removed again. Windows' Controlled Folder Access refuses an unknown program one in the
// Desktop or Documents, and a 64-bit program gets none in Program Files.
bool CanCreateFileIn(const std::wstring& directory);

// Replaces <directory>listport.txt with text in one piece.
bool WriteListFile(const std::wstring& directory, const std::string& text);

}  // namespace kanalyst
