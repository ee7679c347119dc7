// Where the cable report goes and how it is shown: the file beside the tool (or in the
// temporary folder), Notepad, and a message box when Notepad cannot start.
#pragma once

#include <string>

namespace kanalyst {

// Writes the report file whole beside the tool or, when that fails (a read-only folder, or one
// that UAC virtualization would redirect), into the user's temporary folder. Returns its full
// path, or empty when neither could be written.
std::wstring WriteReportFile(const std::string& bytes);

// Opens the file in Notepad without waiting for it; false when Notepad cannot be started.
bool ShowInNotepad(const std::wstring& path);

// A message box with the report's summary (UTF-8) and where the report lies, or that it could
// not be saved when path is empty.
void ShowSummaryBox(const std::string& summary, const std::wstring& path);

}  // namespace kanalyst
