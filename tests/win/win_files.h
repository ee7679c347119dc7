// Small file and environment helpers for the tests that run under Wine, and the controller
// simulator's files as tests/win/with-simulator.sh hands them over.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

namespace taktor {
namespace wintest {

// The Windows form of a path: a Unix path (as the scripts pass them) becomes one on drive Z:,
// anything else is taken as it is.
inline std::wstring WinePath(const std::string& path) {
    std::wstring result = !path.empty() && path[0] == '/' ? L"Z:" : L"";
    for (char c : path) {
        result += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return result;
}

inline std::string Environment(const char* name) {
    char value[1024];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof(value));
    return n > 0 && n < sizeof(value) ? std::string(value, n) : std::string();
}

inline bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadFileText(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    std::string text;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &n, nullptr) && n > 0) {
        text.append(buffer, n);
    }
    CloseHandle(file);
    return text;
}

inline bool WriteFileText(const std::wstring& path, const std::string& text) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD n = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(file);
    return ok && n == text.size();
}

// Occurrences of line in text, overlapping ones included.
inline std::size_t CountOccurrences(const std::string& text, const std::string& line) {
    std::size_t count = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
        ++count;
    }
    return count;
}

// The simulator's control file (a behaviour per line) and its log.
class SimulatorFiles {
public:
    // False when the test was not started through with-simulator.sh.
    bool Find() {
        const std::string log = Environment("TAKTOR_SIM_LOG");
        const std::string control = Environment("TAKTOR_SIM_CONTROL");
        if (log.empty() || control.empty()) {
            return false;
        }
        log_ = WinePath(log);
        control_ = WinePath(control);
        return true;
    }
    bool Found() const { return !control_.empty(); }

    std::string Log() const { return ReadFileText(log_); }

    // Writes the control file and waits until the simulator has taken it.
    // One or more words for the control file ("confirm", "plug confirm"); true once the
    // simulator has applied the last.
    bool SetBehaviour(const std::string& name) const {
        if (!WriteFileText(control_, name + "\n")) {
            return false;
        }
        const std::string applied = "# control " + name.substr(name.rfind(' ') + 1) + "\n";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string log = Log();
            const std::size_t last = log.rfind("# control ");
            if (last != std::string::npos && log.compare(last, applied.size(), applied) == 0) {
                return true;
            }
            Sleep(10);
        }
        return false;
    }

private:
    std::wstring log_;
    std::wstring control_;
};

}  // namespace wintest
}  // namespace taktor
