// DLL planting under Wine: a DLL named like one of Windows' own, dropped beside the program, is
// not what the running Taktor.exe or Kanalyst.exe gets when it loads a DLL of that name.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/win/win_files.h"

namespace {

using taktor::wintest::FileExists;
using taktor::wintest::WinePath;

// Has the process call LoadLibraryW(name) on a thread of its own, as its code or a system DLL
// in it would. True when some module was loaded.
bool LoadInProcess(HANDLE process, const std::wstring& name) {
    const SIZE_T size = (name.size() + 1) * sizeof(wchar_t);
    void* remote = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    WriteProcessMemory(process, remote, name.c_str(), size, nullptr);
    // kernel32.dll lies at the same address in every process of a session.
    const auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    const HANDLE thread = CreateRemoteThread(process, nullptr, 0, loadLibrary, remote, 0, nullptr);
    DWORD module = 0;
    if (thread != nullptr && WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0) {
        GetExitCodeThread(thread, &module);
    }
    CloseHandle(thread);
    return module != 0;
}

// Each program as a technician runs it, kept up by a window: the configurator's main window,
// the cable report's summary box (Notepad is unavailable; see CMakeLists.txt). The planted
// winmm.dll is a DLL of Windows that is not a KnownDLL and that neither program loads itself.
TEST(Planting, ADllBesideTheProgramDoesNotStandInForWindowsOwn) {
    const struct {
        const char* program;
        const wchar_t* name;
        const wchar_t* arguments;
    } cases[] = {{TAKTOR_EXE, L"Taktor", L""}, {KANALYST_EXE, L"Kanalyst", L" /report"}};
    CreateDirectoryW(WinePath(PLANTING_DIR).c_str(), nullptr);
    for (const auto& c : cases) {
        const std::wstring folder = WinePath(PLANTING_DIR) + L"\\" + c.name;
        const std::wstring exe = folder + L"\\" + c.name + L".exe";
        const std::wstring planted = folder + L"\\winmm.dll";
        const std::wstring mark = planted + L".loaded";
        SCOPED_TRACE(exe);
        CreateDirectoryW(folder.c_str(), nullptr);
        DeleteFileW(mark.c_str());
        ASSERT_TRUE(CopyFileW(WinePath(c.program).c_str(), exe.c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(WinePath(PLANTED_DLL).c_str(), planted.c_str(), FALSE));

        std::wstring commandLine = L"\"" + exe + L"\"" + c.arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started{};
        ASSERT_TRUE(CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                   nullptr, folder.c_str(), &startup, &started));
        // Waiting for input in its window or box, the program is past its start.
        const bool waiting = WaitForInputIdle(started.hProcess, 60000) == 0;
        EXPECT_TRUE(waiting) << "the program showed no window";
        if (waiting) {
            EXPECT_TRUE(LoadInProcess(started.hProcess, L"winmm.dll"));
            EXPECT_FALSE(FileExists(mark)) << "the program loaded the winmm.dll beside it";
            // Loaded by its path, the planted DLL does run in the program and leave its mark.
            EXPECT_TRUE(LoadInProcess(started.hProcess, planted));
            EXPECT_TRUE(FileExists(mark)) << "the planted DLL left no mark even when loaded";
        }
        TerminateProcess(started.hProcess, 0);
        WaitForSingleObject(started.hProcess, 10000);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
}

}  // namespace
