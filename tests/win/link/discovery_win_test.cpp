// Port discovery on Windows: the program's directory from its window, and the listing tool run
// and waited for, played by a test double (TAKTOR_FAKE_TOOL) copied into a fresh directory.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/win/wide.h"
#include "link/port_discovery.h"
#include "link/win/discovery_win.h"
#include "tests/win/win_files.h"

namespace taktor {
namespace {

using namespace wintest;

const char kCableList[] =
    "Communications Port (COM1)\r\n"
    "USB-SERIAL CH340 (COM5)\r\n";

Text TextOf(const std::wstring& text) {
    return FromWide(text.c_str(), text.size());
}

// A fresh directory under the temporary one, removed with everything in it at the end.
class ScratchDirectory {
public:
    ScratchDirectory() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        for (unsigned n = GetTickCount(); path_.empty(); ++n) {
            const std::wstring candidate = std::wstring(temp) + L"taktor-discovery-" +
                                           std::to_wstring(GetCurrentProcessId()) + L"-" +
                                           std::to_wstring(n) + L"\\";
            if (CreateDirectoryW(candidate.c_str(), nullptr)) {
                path_ = candidate;
            } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
                break;
            }
        }
    }
    ~ScratchDirectory() {
        if (path_.empty()) {
            return;
        }
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW((path_ + L"*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileW((path_ + found.cFileName).c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(path_.c_str());
    }

    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const wchar_t* name) const { return path_ + name; }

private:
    std::wstring path_;
};

// The Windows discovery with its program directory pointed at a directory of the test's choice.
class DiscoveryIn : public WindowsDiscovery {
public:
    explicit DiscoveryIn(const std::wstring& directory)
        : WindowsDiscovery(nullptr), directory_(TextOf(directory)) {}
    Text ProgramDirectory() override { return directory_; }

private:
    Text directory_;
};

class WinDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string tool = Environment("TAKTOR_FAKE_TOOL");
        if (tool.empty()) {
            GTEST_SKIP() << "TAKTOR_FAKE_TOOL names the listing tool's test double";
        }
        tool_ = WinePath(tool);
        ASSERT_TRUE(FileExists(tool_)) << "no test double at " << tool;
        ASSERT_FALSE(dir_.Path().empty());
    }

    void InstallTool(const wchar_t* name = L"Kanalyst.exe") {
        ASSERT_TRUE(CopyFileW(tool_.c_str(), (dir_ / name).c_str(), FALSE));
    }

    // How often the test double has run in the directory.
    std::size_t ToolRuns() const {
        return CountOccurrences(ReadFileText(dir_ / L"fake_runs.txt"), "run\n");
    }

    Text ToolPath(const wchar_t* name = L"Kanalyst.exe") const { return TextOf(dir_ / name); }

    std::wstring tool_;
    ScratchDirectory dir_;
};

TEST_F(WinDiscovery, RunsTheToolToItsEndAndTakesThePortFromItsList) {
    InstallTool();
    ASSERT_TRUE(WriteFileText(dir_ / L"fake_list.txt", kCableList));
    DiscoveryIn discovery(dir_.Path());

    // A Wine process takes far longer to start than this check: the list is there only
    // because the call waited for the tool's end.
    EXPECT_EQ(discovery.RunProgramAndWait(ToolPath(), Text(), Text()), 1);
    EXPECT_TRUE(FileExists(dir_ / L"listport.txt"));
    EXPECT_EQ(ToolRuns(), 1u);

    ASSERT_TRUE(DeleteFileW((dir_ / L"listport.txt").c_str()));
    EXPECT_EQ(FindControllerPort(discovery), u"COM5");
    EXPECT_EQ(ToolRuns(), 2u);
}

TEST_F(WinDiscovery, MissingToolLeavesAnOldListUnread) {
    ASSERT_TRUE(WriteFileText(dir_ / L"listport.txt", kCableList));
    DiscoveryIn discovery(dir_.Path());
    EXPECT_EQ(discovery.RunProgramAndWait(ToolPath(), Text(), Text()), 0);
    EXPECT_EQ(FindControllerPort(discovery), u"");
}

TEST_F(WinDiscovery, ToolThatWritesNoListGivesNoPort) {
    InstallTool();  // without fake_list.txt it writes nothing
    DiscoveryIn discovery(dir_.Path());
    EXPECT_EQ(FindControllerPort(discovery), u"");
    EXPECT_EQ(ToolRuns(), 1u);
    EXPECT_FALSE(FileExists(dir_ / L"listport.txt"));
}

// Another program writing the list, and sharing it with nobody or with readers only: the list
// cannot be opened for reading, and no port is found until the writer lets go.
TEST_F(WinDiscovery, ListHeldOpenForWritingGivesNoPort) {
    InstallTool();
    ASSERT_TRUE(WriteFileText(dir_ / L"fake_list.txt", kCableList));
    ASSERT_TRUE(WriteFileText(dir_ / L"listport.txt", kCableList));
    DiscoveryIn discovery(dir_.Path());
    for (const DWORD share : {DWORD{0}, DWORD{FILE_SHARE_READ}}) {
        SCOPED_TRACE(share);
        const HANDLE writer = CreateFileW((dir_ / L"listport.txt").c_str(), GENERIC_WRITE, share,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        EXPECT_EQ(FindControllerPort(discovery), u"");
        CloseHandle(writer);
        EXPECT_EQ(FindControllerPort(discovery), u"COM5");
    }
}

// A bare program name registered under the shell's App Paths: CreateProcessW does not find it,
// the shell does. The call still waits for the tool's end.
class AppPath {
public:
    static constexpr wchar_t kName[] = L"TaktorKanalystTest.exe";

    explicit AppPath(const std::wstring& target) {
        // Windows looks in both hives; Wine only in the machine's.
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            HKEY key = nullptr;
            if (RegCreateKeyExW(root, Key().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                nullptr) != ERROR_SUCCESS) {
                continue;
            }
            const DWORD size = static_cast<DWORD>((target.size() + 1) * sizeof(wchar_t));
            if (RegSetValueExW(key, nullptr, 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(target.c_str()),
                               size) == ERROR_SUCCESS) {
                registered = true;
            }
            RegCloseKey(key);
        }
    }
    ~AppPath() {
        RegDeleteKeyW(HKEY_CURRENT_USER, Key().c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, Key().c_str());
    }

    bool registered = false;

private:
    static std::wstring Key() {
        return std::wstring(L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\") + kName;
    }
};

TEST_F(WinDiscovery, ShellStartsWhatCreateProcessCannotFind) {
    InstallTool();
    ASSERT_TRUE(WriteFileText(dir_ / L"fake_list.txt", kCableList));
    const AppPath appPath(dir_ / L"Kanalyst.exe");
    ASSERT_TRUE(appPath.registered);

    std::wstring commandLine = std::wstring(L"\"") + AppPath::kName + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_FALSE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &process));

    DiscoveryIn discovery(dir_.Path());
    EXPECT_EQ(discovery.RunProgramAndWait(TextOf(AppPath::kName), Text(), Text()), 1);
    EXPECT_TRUE(FileExists(dir_ / L"listport.txt"));
    EXPECT_EQ(ToolRuns(), 1u);
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(WinProgramDirectory, IsTheDirectoryOfTheWindowsModule) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"TaktorDiscoveryTest";
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    const HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0,
                                        0, 100, 100, nullptr, nullptr, instance, nullptr);
    ASSERT_NE(window, nullptr);

    wchar_t exe[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    ASSERT_GT(length, 0u);
    std::wstring expected(exe, length);
    expected.erase(expected.find_last_of(L'\\') + 1);

    const Text directory = WindowsDiscovery(window).ProgramDirectory();
    EXPECT_EQ(directory, TextOf(expected));
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(directory.back(), u'\\');

    DestroyWindow(window);
    UnregisterClassW(windowClass.lpszClassName, instance);
}

}  // namespace
}  // namespace taktor
