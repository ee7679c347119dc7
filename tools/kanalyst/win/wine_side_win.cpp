// Reads Linux's sysfs, /dev and the Wine prefix through Wine's drive Z:, and symbolic links
// through Wine's mount manager.
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

std::string Utf8(const std::wstring& text) {
    return taktor::Utf8FromText(taktor::FromWide(text.c_str(), text.size()));
}

// The Unix path of a Windows path on drive Z: ("\??\Z:\home\ivan", "\\?\Z:\sys" or
// "Z:\home\ivan"), which Wine maps onto the Unix root; empty for any other path.
std::string UnixPathOf(std::wstring path) {
    if (path.compare(0, 4, L"\\??\\") == 0 || path.compare(0, 4, L"\\\\?\\") == 0) {
        path.erase(0, 4);
    }
    if (path.size() < 2 || (path[0] != L'Z' && path[0] != L'z') || path[1] != L':') {
        return std::string();
    }
    std::string unixPath = Utf8(path.substr(2));
    std::replace(unixPath.begin(), unixPath.end(), '\\', '/');
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
        char target[kLongPath];
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
        char buffer[kLongPath];
        DWORD got = 0;
        const BOOL read = ReadFile(file, buffer, sizeof buffer, &got, nullptr);
        CloseHandle(file);
        return read ? std::optional<std::string>(std::string(buffer, got)) : std::nullopt;
    }

    bool Exists(const std::string& path) override { return Attributes(path).has_value(); }

    // Wine gives the final path of a handle as the kernel resolved it.
    std::string RealDirectory(const std::string& dir) override {
        const std::optional<DWORD> attributes = Attributes(dir);
        if (!attributes || (*attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return std::string();
        }
        const HANDLE handle = CreateFileW(
            OnDriveZ(dir).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return std::string();
        }
        wchar_t path[kLongPath];
        const DWORD length = GetFinalPathNameByHandleW(handle, path, kLongPath, 0);
        CloseHandle(handle);
        return length > 0 && length < kLongPath ? UnixPathOf(std::wstring(path, length))
                                                : std::string();
    }

private:
    // Nothing when path is not there. Wine answers GetFileAttributesW for no device node, and
    // its directory listing leaves out a directory that is a mount point: each tells of the
    // other, and neither opens anything.
    static std::optional<DWORD> Attributes(const std::string& path) {
        const std::wstring name = OnDriveZ(path);
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

    // "/sys/class" as "Z:\sys\class".
    static std::wstring OnDriveZ(const std::string& unixPath) {
        std::wstring path = std::wstring(L"Z:") + taktor::Wide(taktor::TextFromUtf8(unixPath));
        std::replace(path.begin(), path.end(), L'/', L'\\');
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
    LinuxLayout layout;
    layout.prefix = UnixPathOf(Environment(L"WINECONFIGDIR"));
    layout.home = UnixPathOf(Environment(L"WINEHOMEDIR"));
    if (layout.prefix.empty()) {
        return;
    }
    WineFiles files;
    std::vector<DeviceRecord> devices = sink.Snapshot();
    const std::size_t known = devices.size();
    AddUnlistedPorts(devices, ReadLinuxDevices(files, layout));
    for (std::size_t k = known; k < devices.size(); ++k) {
        sink.Add(std::move(devices[k]));
    }
}

}  // namespace kanalyst
