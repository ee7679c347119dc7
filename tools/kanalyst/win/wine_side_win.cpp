// Reads Linux's sysfs, /dev and the Wine prefix through Wine's drive Z:, and symbolic links
// through Wine's mount manager.
#include "tools/kanalyst/win/wine_side_win.h"

#include <winioctl.h>

#include <algorithm>

#include "common/win/wide.h"
#include "tools/kanalyst/wine_prefix.h"

namespace kanalyst {
namespace {

// Wine's mount manager answers this with the target of a symbolic link, whose name it takes as
// an NT path (UTF-16, no terminating zero), as bytes ending in a zero: winecfg reads the links of
// the shell folders with it. Windows has no such request.
constexpr DWORD kQueryShellFolder = CTL_CODE(0x6d, 35, METHOD_BUFFERED, FILE_READ_ACCESS);

std::wstring Environment(const wchar_t* name) {
    wchar_t value[4096];
    const DWORD length = GetEnvironmentVariableW(name, value, sizeof value / sizeof value[0]);
    return length > 0 && length < sizeof value / sizeof value[0] ? std::wstring(value, length)
                                                                 : std::wstring();
}

std::string Utf8(const std::wstring& text) {
    return taktor::Utf8FromText(taktor::FromWide(text.c_str(), text.size()));
}

// The Unix path of a Windows path on drive Z: ("\??\Z:\home\ivan" or "Z:\home\ivan"), which Wine
// maps onto the Unix root; empty for any other path.
std::string UnixPathOf(std::wstring path) {
    if (path.compare(0, 4, L"\\??\\") == 0) {
        path.erase(0, 4);
    }
    if (path.size() < 2 || (path[0] != L'Z' && path[0] != L'z') || path[1] != L':') {
        return std::string();
    }
    std::string unixPath = Utf8(path.substr(2));
    for (char& c : unixPath) {
        c = c == '\\' ? '/' : c;
    }
    return unixPath.empty() ? std::string("/") : unixPath;
}

// The file operations on drive Z:.
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

    std::vector<std::string> ListDirectory(const std::string& dir) override {
        std::vector<std::string> names;
        WIN32_FIND_DATAW found;
        const HANDLE find = FindFirstFileW((OnDriveZ(dir) + L"\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") {
                names.push_back(Utf8(name));
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
        return names;
    }

    std::optional<std::string> ReadLink(const std::string& path) override {
        const std::wstring name = L"\\??\\" + OnDriveZ(path);
        char target[4096];
        DWORD size = 0;
        if (mountManager_ == INVALID_HANDLE_VALUE ||
            !DeviceIoControl(mountManager_, kQueryShellFolder, const_cast<wchar_t*>(name.data()),
                             static_cast<DWORD>(name.size() * sizeof(wchar_t)), target,
                             sizeof target, &size, nullptr) ||
            size == 0 || size > sizeof target) {
            return std::nullopt;
        }
        return std::string(target, std::find(target, target + size, '\0'));
    }

    std::optional<std::string> ReadSmallFile(const std::string& path) override {
        const HANDLE file = CreateFileW(OnDriveZ(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return std::nullopt;
        }
        char buffer[4096];
        DWORD got = 0;
        const BOOL read = ReadFile(file, buffer, sizeof buffer, &got, nullptr);
        CloseHandle(file);
        return read ? std::optional<std::string>(std::string(buffer, got)) : std::nullopt;
    }

    // Wine answers GetFileAttributesW for no device node; its directory listing shows them.
    bool Exists(const std::string& path) override {
        WIN32_FIND_DATAW found;
        const HANDLE find = FindFirstFileW(OnDriveZ(path).c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) {
            return false;
        }
        FindClose(find);
        return true;
    }

private:
    // "/sys/class" as "Z:\sys\class".
    static std::wstring OnDriveZ(const std::string& unixPath) {
        std::wstring path = L"Z:";
        path += taktor::Wide(taktor::TextFromUtf8(unixPath));
        for (wchar_t& c : path) {
            c = c == L'/' ? L'\\' : c;
        }
        return path;
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
    // Wine names the prefix and the home directory in its own variables, also when WINEPREFIX
    // is not set and the prefix is ~/.wine.
    WinePrefixLayout layout;
    layout.prefix = UnixPathOf(Environment(L"WINECONFIGDIR"));
    layout.home = UnixPathOf(Environment(L"WINEHOMEDIR"));
    const std::string fakeSysfs = Utf8(Environment(L"TAKTOR_SYSFS_ROOT"));
    if (!fakeSysfs.empty()) {
        layout.sysfs = fakeSysfs;
        layout.dev = JoinPath(ParentOf(fakeSysfs), "dev");
    }
    if (layout.prefix.empty()) {
        return;
    }
    WineFiles files;
    std::vector<DeviceRecord> devices = sink.Snapshot();
    const std::size_t known = devices.size();
    AddUnlistedPorts(devices, ReadWinePrefixDevices(files, layout));
    for (std::size_t k = known; k < devices.size(); ++k) {
        sink.Add(std::move(devices[k]));
    }
}

}  // namespace kanalyst
