// Shared by the Kanalyst tests under Wine: the tool's path, files and directories, and
// starting a program the way the configurator does.
#pragma once

#include <windows.h>

#include <set>
#include <string>

#include "tests/win/win_files.h"

namespace kanalyst {

#ifdef KANALYST_EXE
// The tool as built, named by its Wine drive path (Z: is the Unix root).
inline std::wstring ToolPath() {
    std::wstring path = L"Z:";
    for (const char c : std::string(KANALYST_EXE)) {
        path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return path;
}
#endif

inline std::set<std::wstring> FileNames(const std::wstring& dir) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((dir + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") {
            names.insert(name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

// Starts the program as the configurator does (quoted path, no arguments unless given, handles
// not inherited) in the given current directory and returns its exit code, or -1.
inline long RunAndWait(const std::wstring& program, const std::wstring& currentDirectory,
                       const std::wstring& arguments = std::wstring()) {
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, currentDirectory.c_str(), &startup, &process)) {
        return -1;
    }
    CloseHandle(process.hThread);
    // Far above the tool's own limit; only a tool that never ends reaches it.
    const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0;
    const bool ended = waited == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &code);
    if (!ended) {
        TerminateProcess(process.hProcess, 99);
    }
    CloseHandle(process.hProcess);
    return ended ? static_cast<long>(code) : -1;
}

}  // namespace kanalyst
