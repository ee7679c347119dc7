// Writes a file beside the tool in one piece, through a temporary file moved over it.
#include "tools/kanalyst/win/list_file_win.h"

#include <windows.h>

#include <string>

#include "common/list_file.h"
#include "common/win/wide.h"

namespace kanalyst {
namespace {

// A reader or a virus scanner may hold the old file for a moment; the move is retried for
// about a second before the tool gives up.
constexpr int kMoveAttempts = 10;
constexpr DWORD kMoveRetryMs = 100;

// The process id keeps two tools started at once from writing into the same temporary file.
std::wstring ProcessNumber() {
    const std::string number = std::to_string(GetCurrentProcessId());
    return std::wstring(number.begin(), number.end());
}

}  // namespace

std::wstring ExecutableDirectory() {
    std::wstring path(32768, L'\0');  // room for the longest path Windows accepts
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool ReplaceFileWhole(const std::wstring& directory, const std::wstring& name,
                      const std::string& bytes) {
    const std::wstring target = directory + name;
    const std::wstring temp =
        directory + name.substr(0, name.find_last_of(L'.')) + L"." + ProcessNumber() + L".tmp";

    const HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size() && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    for (int attempt = 1; ok; ++attempt) {
        if (MoveFileExW(temp.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        if (attempt == kMoveAttempts) {
            break;
        }
        Sleep(kMoveRetryMs);
    }
    DeleteFileW(temp.c_str());
    return false;
}

bool CanCreateFileIn(const std::wstring& directory) {
    const std::wstring probe = directory + L"Kanalyst." + ProcessNumber() + L".probe";
    const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    return file != INVALID_HANDLE_VALUE && CloseHandle(file);
}

bool WriteListFile(const std::wstring& directory, const std::string& text) {
    return ReplaceFileWhole(directory, taktor::Wide(taktor::kPortListName), text);
}

}  // namespace kanalyst
