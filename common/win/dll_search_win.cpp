// Restricting the DLL search of a program to System32.
#include "common/win/dll_search_win.h"

#include <windows.h>

namespace taktor {

void RestrictDllSearch() {
    // Windows 7 has SetDefaultDllDirectories only with its 2011 update (KB2533623), so it is
    // looked up here: importing it would keep a Windows 7 without that update from starting us.
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto setDefaultDirectories = reinterpret_cast<SetDefaultDirectories>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDirectories != nullptr &&
        setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE) {
        return;
    }
    // Without it the program's folder stays first in the search; the current folder at least
    // leaves it.
    SetDllDirectoryW(L"");
}

}  // namespace taktor
