// Reads Linux's sysfs, /dev and the Wine prefix by Wine's own form of Unix paths, which needs no
// drive letter, and symbolic links through Wine's mount manager.
#include "tools/kanalyst/win/wine_side_win.h"

#include <winioctl.h>

#include <algorithm>

#include "common/win/wide.h"
#include "tools/kanalyst/linux_side.h"

namespace kanalyst {
namespace {

// Wine's mount manager answers this with the target of a symbolic link, whose name it takes as
// an NT path (UTF-16, no terminating zero), as bytes ending in a zero: winecfg reads the links of
// the shell folders with it. Windows has no such request.
constexpr DWORD kQueryShellFolder = CTL_CODE(0x6d, 35, METHOD_BUFFERED, FILE_READ_ACCESS);

constexpr DWORD kLongPath = 4096;

std::wstring Environment(const wchar_t* name) {
    wchar_t value[kLongPath];
    const DWORD length = GetEnvironmentVariableW(name, value, kLongPath);
    return length > 0 && length < kLongPath ? std::wstring(value, length) : std::wstring();
}

// "/sys/class" as Wine's "\\?\unix\sys\class", which reaches it whatever drives the prefix has.
std::wstring WinePath(const std::string& unixPath) {
    std::wstring path = std::wstring(L"\\\\?\\unix") + taktor::Wide(taktor::TextFromUtf8(unixPath));
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// The file operations by Wine's paths; one opening of the mount manager, whose link query is
// given up at its first "not supported".
class WineFiles : public UnixFiles {
public:
    WineFiles()
        : mountManager_(CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr)) {}
    ~WineFiles() override {
        if (mountManager_ != INVALID_HANDLE_VALUE) {
            CloseHandle(mountManager_);
        }
    }
    WineFiles(const WineFiles&) = delete;
    WineFiles& operator=(const WineFiles&) = delete;

    // The Unix path of a path in any form Wine gives one: "\??\unix\home\ivan" in a prefix
    // without drive Z:, else on a drive ("\??\Z:\home\ivan", "\\?\Z:\sys"), which Wine's own
    // conversion gives through the prefix's link of that drive; empty for none.
    static std::string UnixPathOf(std::wstring path) {
        if (path.compare(0, 4, L"\\??\\") == 0 || path.compare(0, 4, L"\\\\?\\") == 0) {
            path.erase(0, 4);
        }
        if (path.compare(0, 5, L"unix\\") != 0) {
            return ConvertedByWine(path);
        }
        std::string unixPath = Utf8FromWide(path.c_str() + 4);
        std::replace(unixPath.begin(), unixPath.end(), '\\', '/');
        return unixPath;
    }

    std::vector<std::string> ListDirectory(const std::string& dir) override {
        std::vector<std::string> names;
        WIN32_FIND_DATAW found;
        const HANDLE find = FindFirstFileW((WinePath(dir) + L"\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") {
                names.push_back(Utf8FromWide(name.c_str()));
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
        return names;
    }

    std::optional<std::string> ReadLink(const std::string& path) override {
        const std::wstring name = L"\\??\\unix" + WinePath(path).substr(8);
        char target[kLongPath];
        DWORD size = 0;
        if (mountManager_ == INVALID_HANDLE_VALUE) {
            return std::nullopt;
        }
        if (!DeviceIoControl(mountManager_, kQueryShellFolder, const_cast<wchar_t*>(name.data()),
                             static_cast<DWORD>(name.size() * sizeof(wchar_t)), target,
                             sizeof target, &size, nullptr)) {
            if (GetLastError() == ERROR_NOT_SUPPORTED || GetLastError() == ERROR_INVALID_FUNCTION) {
                CloseHandle(mountManager_);
                mountManager_ = INVALID_HANDLE_VALUE;
            }
            return std::nullopt;
        }
        if (size == 0 || size > sizeof target) {
            return std::nullopt;
        }
        return std::string(target, std::find(target, target + size, '\0'));
    }

    std::optional<std::string> ReadSmallFile(const std::string& path) override {
        const HANDLE file = CreateFileW(WinePath(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return std::nullopt;
        }
        std::string text(kSmallFileLimit, '\0');
        DWORD got = 0;
        const BOOL read = ReadFile(file, &text[0], kSmallFileLimit, &got, nullptr);
        CloseHandle(file);
        text.resize(got);
        return read ? std::optional<std::string>(text) : std::nullopt;
    }

    bool Exists(const std::string& path) override { return Attributes(path).has_value(); }

    // Wine gives the final path of a handle as the kernel resolved it.
    std::string RealDirectory(const std::string& dir) override {
        const std::optional<DWORD> attributes = Attributes(dir);
        const std::wstring path = attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                                      ? FinalPath(WinePath(dir))
                                      : std::wstring();
        return path.empty() ? std::string() : UnixPathOf(path);
    }

private:
    // The final path of a directory ("\\?\Z:\sys\devices"); empty when it cannot be opened.
    static std::wstring FinalPath(const std::wstring& dir) {
        const HANDLE handle =
            CreateFileW(dir.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return std::wstring();
        }
        wchar_t path[kLongPath];
        const DWORD length = GetFinalPathNameByHandleW(handle, path, kLongPath, 0);
        CloseHandle(handle);
        return length > 0 && length < kLongPath ? std::wstring(path, length) : std::wstring();
    }

    // Nothing when path is not there. Wine answers GetFileAttributesW for no device node, and
    // its directory listing leaves out a directory that is a mount point: each tells of the
    // other, and neither opens anything.
    static std::optional<DWORD> Attributes(const std::string& path) {
        const std::wstring name = WinePath(path);
        const DWORD attributes = GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            return attributes;
        }
        WIN32_FIND_DATAW found;
        const HANDLE find = FindFirstFileW(name.c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) {
            return std::nullopt;
        }
        FindClose(find);
        return found.dwFileAttributes;
    }

    // kernel32's wine_get_unix_file_name, which gives the path through the prefix's drive link.
    static std::string ConvertedByWine(const std::wstring& path) {
        using Convert = char*(CDECL*)(const wchar_t*);
        const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
        char* unixPath = convert != nullptr ? convert(path.c_str()) : nullptr;
        const std::string converted = unixPath != nullptr ? unixPath : "";
        HeapFree(GetProcessHeap(), 0, unixPath);
        return converted;
    }

    HANDLE mountManager_;
};

}  // namespace

bool RunsUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void AddWineDevices(DeviceSink& sink) {
    if (!RunsUnderWine()) {
        return;
    }
    WineFiles files;
    // WINEPREFIX as the user set it; Wine names the prefix and the home in its own variables
    // also when it is not set and the prefix is ~/.wine.
    LinuxLayout layout;
    layout.prefix = Utf8FromWide(Environment(L"WINEPREFIX").c_str());
    if (layout.prefix.empty() || layout.prefix[0] != '/') {
        layout.prefix = files.UnixPathOf(Environment(L"WINECONFIGDIR"));
    }
    layout.home = files.UnixPathOf(Environment(L"WINEHOMEDIR"));
    MachineFacts machine;
    machine.underWine = true;
    machine.flatpakId = Utf8FromWide(Environment(L"FLATPAK_ID").c_str());
    LinuxSide side;
    if (!layout.prefix.empty()) {
        side = ReadLinuxSide(files, layout);
    }
    machine.linuxRead = side.read;
    machine.linksInferred = side.linksInferred;
    machine.inDialout = side.inDialout;
    sink.AddLinuxSide(std::move(side.devices), machine);
}

}  // namespace kanalyst
