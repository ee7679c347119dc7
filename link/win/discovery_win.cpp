// Port discovery on Windows: the program's directory, the listing tool's run and its list.
#include "link/win/discovery_win.h"

#include <shellapi.h>

#include "common/win/wide.h"

namespace taktor {

namespace {

// ERROR_ELEVATION_REQUIRED, which not every SDK's headers name.
constexpr DWORD kElevationRequired = 740;

class FileSource : public ByteSource {
public:
    explicit FileSource(HANDLE file) : file_(file) {}
    ~FileSource() override { CloseHandle(file_); }
    int ReadBytes(std::uint8_t* buffer, int capacity) override {
        DWORD got = 0;
        return ReadFile(file_, buffer, static_cast<DWORD>(capacity), &got, nullptr) ? got : 0;
    }

private:
    HANDLE file_;
};

}  // namespace

Text WindowsDiscovery::ProgramDirectory() {
    wchar_t path[256] = {};
    const UINT length = GetWindowModuleFileNameW(mainWindow_, path, 255);
    return DirectoryPart(FromWide(path, length < 255 ? length : 255));
}

int WindowsDiscovery::RunProgramAndWait(const Text& program, const Text& arguments,
                                        const Text& directory) {
    Text commandLine = CommandLineFor(program, arguments);  // CreateProcessW may write into it
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    const wchar_t* workDir = directory.empty() ? nullptr : Wide(directory);
    const auto waitFor = [](HANDLE started) {
        WaitForSingleObject(started, INFINITE);
        CloseHandle(started);
        return 1;
    };
    if (CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(&commandLine[0]), nullptr, nullptr,
                       FALSE, NORMAL_PRIORITY_CLASS, nullptr, workDir, &startup, &process)) {
        CloseHandle(process.hThread);
        return waitFor(process.hProcess);
    }

    // A program that asks for elevation would only bring up a consent prompt through the shell.
    if (GetLastError() == kElevationRequired) {
        return 0;
    }
    // The second way: through the shell, in the tool's own directory when none is given. It must
    // neither wait on a DDE conversation (the main thread has no message loop running here) nor
    // show anything: no error box, and no security warning for a file that came from the
    // internet (the program runs it before every write, unattended).
    const Text shellDir = directory.empty() ? ShellDirectoryFor(program) : directory;
    SHELLEXECUTEINFOW shell = {};
    shell.cbSize = sizeof(shell);
    shell.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
    // No owner window, the default verb.
    shell.lpFile = Wide(program);
    shell.lpParameters = Wide(arguments);
    shell.lpDirectory = shellDir.empty() ? nullptr : Wide(shellDir);
    shell.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&shell)) {
        return 0;
    }
    return shell.hProcess != nullptr ? waitFor(shell.hProcess) : 1;
}

std::unique_ptr<ByteSource> WindowsDiscovery::OpenForReading(const Text& path) {
    HANDLE file = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return std::make_unique<FileSource>(file);
}

}  // namespace taktor
