#include "driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tests/win/win_files.h"

namespace e2e {

bool WaitUntil(const std::function<bool()>& condition, milliseconds timeout, milliseconds step) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(step);
    }
}

std::wstring WindowText(HWND window) {
    wchar_t buffer[1024] = {};
    DWORD_PTR length = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer),
                            SMTO_ABORTIFHUNG, 5000, &length)) {
        return std::wstring(buffer, length);
    }
    // The program's thread is busy (inside a write): the text the window was given still shows.
    const int got = GetWindowTextW(window, buffer, 1024);
    return std::wstring(buffer, got > 0 ? got : 0);
}

std::wstring ClassName(HWND window) {
    wchar_t buffer[256] = {};
    const int length = GetClassNameW(window, buffer, 256);
    return std::wstring(buffer, length > 0 ? length : 0);
}

RECT ClientRectOnScreen(HWND window) {
    RECT rect = {};
    GetClientRect(window, &rect);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT RectInParent(HWND child) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

COLORREF ScreenPixel(int x, int y) {
    HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    return colour;
}

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[2048] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 2048);
    return length > 0 && length < 2048 ? std::wstring(buffer, length) : std::wstring();
}

std::wstring WinePath(const std::wstring& unixPath) {
    if (unixPath.empty() || unixPath[0] != L'/') {
        return unixPath;
    }
    std::wstring path = L"Z:" + unixPath;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::string ReadFileBytes(const std::wstring& path) {
    return taktor::wintest::ReadFileText(path);
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    taktor::wintest::WriteFileText(path, bytes);
}

std::wstring FreshDirectory(const wchar_t* prefix) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    for (;;) {
        const std::wstring dir = std::wstring(temp) + prefix + L"-" +
                                 std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(++counter) + L"\\";
        if (CreateDirectoryW(dir.c_str(), nullptr)) {
            return dir;
        }
    }
}

namespace {

struct Search {
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectVisible(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<Search*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search.process && IsWindowVisible(window)) {
        search.found.push_back(window);
    }
    return TRUE;
}

}  // namespace

Program::Program(const std::wstring& tool, const std::string& portList, int toolDelayMs) {
    directory_ = FreshDirectory(L"taktor");
    const std::wstring exe = directory_ + L"Taktor.exe";
    if (!CopyFileW(Environment(L"TAKTOR_EXE").c_str(), exe.c_str(), FALSE)) {
        std::fprintf(stderr, "cannot copy the program: error %lu\n", GetLastError());
        return;
    }
    if (!tool.empty()) {
        CopyFileW(tool.c_str(), (directory_ + L"Kanalyst.exe").c_str(), FALSE);
        WriteFileBytes(directory_ + L"fake_list.txt", portList);
        if (toolDelayMs > 0) {
            WriteFileBytes(directory_ + L"fake_delay.txt", std::to_string(toolDelayMs));
        }
    }
    Start(exe);
}

Program::Program(const Installed& installed) {
    directory_ = installed.exe.substr(0, installed.exe.find_last_of(L'\\') + 1);
    Start(installed.exe);
}

void Program::Start(const std::wstring& exe) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    std::wstring commandLine = L"\"" + exe + L"\"";
    // A refused start is reported and tried again a few times: the program has not run then,
    // so the test stays the same.
    auto started = Clock::now();
    bool running = false;
    for (int attempt = 0; attempt < 5 && !running; ++attempt) {
        if (attempt > 0) {
            Sleep(200);
            started = Clock::now();
        }
        running = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                 directory_.c_str(), &startup, &process_) != FALSE;
        if (!running) {
            std::fprintf(stderr, "cannot start the program: error %lu\n", GetLastError());
        }
    }
    if (!running) {
        return;
    }
    WaitUntil(
        [this] {
            for (HWND window : VisibleWindows()) {
                if (WindowText(window).rfind(L"Конфигуратор", 0) == 0) {
                    main_ = window;
                    return true;
                }
            }
            return false;
        },
        milliseconds(20000), milliseconds(5));
    if (main_ == nullptr) {
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        std::fprintf(stderr, "no main window; process %s (code %lu)\n",
                     code == STILL_ACTIVE ? "still running" : "ended", code);
    }
    startSeconds_ = std::chrono::duration<double>(Clock::now() - started).count();
}

Program::~Program() {
    if (process_.hProcess != nullptr) {
        if (Running()) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, 5000);
        }
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
}

HWND Program::Field(int phase) const {
    return GetDlgItem(main_, 2 + phase);
}

HWND Program::Button() const {
    return GetDlgItem(main_, 10);
}

bool Program::Running() const {
    return process_.hProcess != nullptr &&
           WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

DWORD Program::WaitForExit(milliseconds timeout) {
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) !=
        WAIT_OBJECT_0) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

void Program::SetFieldText(int phase, const std::wstring& text) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(Field(phase), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 5000, &result);
}

std::wstring Program::FieldText(int phase) const {
    return WindowText(Field(phase));
}

void Program::PressWriteButton() {
    PostMessageW(Button(), BM_CLICK, 0, 0);
}

void Program::RequestClose() {
    PostMessageW(main_, WM_CLOSE, 0, 0);
}

std::vector<HWND> Program::VisibleWindows() const {
    Search search{process_.dwProcessId, {}};
    EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

MessageBoxSeen Program::WaitForMessageBox(milliseconds timeout) const {
    MessageBoxSeen seen;
    WaitUntil(
        [&] {
            for (HWND window : VisibleWindows()) {
                if (ClassName(window) == L"#32770") {
                    seen.box = window;
                    return true;
                }
            }
            return false;
        },
        timeout);
    if (seen.box != nullptr) {
        // The box's text control may be filled a moment after the box appears.
        WaitUntil([&] { return !WindowText(GetDlgItem(seen.box, 0xFFFF)).empty(); },
                  milliseconds(2000));
        seen.title = WindowText(seen.box);
        seen.text = WindowText(GetDlgItem(seen.box, 0xFFFF));
    }
    return seen;
}

HWND Program::FindWaitWindow() const {
    for (HWND window : VisibleWindows()) {
        if (window != main_ && ClassName(window) == L"TaktorWindow" &&
            (GetWindowLongPtrW(window, GWL_STYLE) & WS_POPUP) != 0) {
            return window;
        }
    }
    return nullptr;
}

void AnswerMessageBox(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

std::vector<COLORREF> ColoursSeen(int x, int y, milliseconds duration) {
    std::vector<COLORREF> seen;
    const auto end = Clock::now() + duration;
    while (Clock::now() < end) {
        const COLORREF colour = ScreenPixel(x, y);
        if (std::find(seen.begin(), seen.end(), colour) == seen.end()) {
            seen.push_back(colour);
        }
        std::this_thread::sleep_for(milliseconds(15));
    }
    return seen;
}

POINT BlankPointIn(HWND field) {
    RECT rect = {};
    GetWindowRect(field, &rect);
    return POINT{rect.right - 8, (rect.top + rect.bottom) / 2};
}

namespace {

// The pixels of a screen rectangle, row by row.
std::vector<COLORREF> CaptureScreen(const RECT& rect) {
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    std::vector<COLORREF> pixels;
    if (width <= 0 || height <= 0) {
        return pixels;
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const auto* raw = static_cast<const DWORD*>(bits);
    for (int i = 0; i < width * height; ++i) {
        const DWORD p = raw[i];  // 0x00RRGGBB
        pixels.push_back(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

SIZE InkSize(const std::vector<COLORREF>& pixels, int width, int height) {
    int left = width, right = -1, top = height, bottom = -1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const COLORREF c = pixels[static_cast<size_t>(y * width + x)];
            if (GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 128) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return right < 0 ? SIZE{0, 0} : SIZE{right - left + 1, bottom - top + 1};
}

// Draws into a fresh 32-bit bitmap filled with a colour; returns its pixels.
std::vector<COLORREF> Render(int width, int height, COLORREF fill,
                             const std::function<void(HDC)>& draw) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH brush = CreateSolidBrush(fill);
    RECT all = {0, 0, width, height};
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    draw(memory);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.push_back(GetPixel(memory, x, y));
        }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

bool Near(COLORREF a, COLORREF b) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= 8 &&
           std::abs(GetGValue(a) - GetGValue(b)) <= 8 && std::abs(GetBValue(a) - GetBValue(b)) <= 8;
}

}  // namespace

SIZE ShownInk(HWND control, int inset) {
    RECT rect = ClientRectOnScreen(control);
    InflateRect(&rect, -inset, -inset);
    return InkSize(CaptureScreen(rect), rect.right - rect.left, rect.bottom - rect.top);
}

SIZE DrawnInk(HFONT font, const std::wstring& text) {
    const int width = 600;
    const int height = 100;
    const auto drawn = Render(width, height, RGB(255, 255, 255), [&](HDC dc) {
        HGDIOBJ old = SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0, 0, 0));
        TextOutW(dc, 10, 10, text.c_str(), static_cast<int>(text.size()));
        SelectObject(dc, old);
    });
    return InkSize(drawn, width, height);
}

bool TextInkMatches(HWND control, HFONT font) {
    const SIZE shown = ShownInk(control, 3);  // clear of borders and edges
    const SIZE expected = DrawnInk(font, WindowText(control));
    return expected.cx > 0 && std::abs(shown.cx - expected.cx) <= 1 &&
           std::abs(shown.cy - expected.cy) <= 1;
}

bool CaptionShowsProgramIcon(HWND window) {
    HMODULE module = LoadLibraryExW(Environment(L"TAKTOR_EXE").c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        return false;
    }
    const int size = GetSystemMetrics(SM_CXSMICON);
    auto icon =
        static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
    if (icon == nullptr) {
        FreeLibrary(module);
        return false;
    }
    // The icon drawn on black and on white: where both agree, the icon is opaque.
    auto draw = [&](HDC dc) { DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL); };
    const auto onBlack = Render(size, size, RGB(0, 0, 0), draw);
    const auto onWhite = Render(size, size, RGB(255, 255, 255), draw);
    DestroyIcon(icon);
    FreeLibrary(module);

    RECT outer = {};
    GetWindowRect(window, &outer);
    const RECT area = {outer.left, outer.top, outer.left + 48, outer.top + 40};
    const auto shown = CaptureScreen(area);
    const int areaWidth = 48;
    for (int dy = 0; dy + size <= 40; ++dy) {
        for (int dx = 0; dx + size <= areaWidth; ++dx) {
            bool match = true;
            int opaque = 0;
            for (int y = 0; y < size && match; ++y) {
                for (int x = 0; x < size && match; ++x) {
                    const size_t i = static_cast<size_t>(y * size + x);
                    if (onBlack[i] != onWhite[i]) {
                        continue;
                    }
                    ++opaque;
                    match =
                        Near(shown[static_cast<size_t>((dy + y) * areaWidth + dx + x)], onBlack[i]);
                }
            }
            if (match && opaque > size) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace e2e
