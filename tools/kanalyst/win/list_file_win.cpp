// Writes a file beside the tool in one piece, through a temporary file moved over it.
#include "tools/kanalyst/win/list_file_win.h"

#include <windows.h>

#include "common/list_file.h"
#include "common/win/wide.h"

namespace kanalyst {
namespace {

// A reader or a virus scanner may hold the old file for a moment; the move is retried for
// about a second before the tool gives up.
constexpr int kMoveAttempts = 10;
constexpr DWORD kMoveRetryMs = 100;

std::wstring DecimalText(DWORD value) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

bool WriteAll(HANDLE file, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const DWORD chunk = left > 0x100000 ? 0x100000 : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

}  // namespace

std::wstring ExecutableDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768) {  // longer than any path Windows accepts
            return std::wstring();
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool ReplaceFileWhole(const std::wstring& directory, const std::wstring& name,
                      const std::string& bytes) {
    const std::wstring target = directory + name;
    // The process id keeps two tools started at once from writing into the same temporary file.
    const std::wstring temp = directory + name.substr(0, name.find_last_of(L'.')) + L"." +
                              DecimalText(GetCurrentProcessId()) + L".tmp";

    const HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = WriteAll(file, bytes) && FlushFileBuffers(file);
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

bool WriteListFile(const std::wstring& directory, const std::string& text) {
    return ReplaceFileWhole(directory, taktor::Wide(taktor::kPortListName), text);
}

}  // namespace kanalyst
