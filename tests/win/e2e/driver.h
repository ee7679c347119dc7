// Drives a running Taktor.exe from outside, through the Win32 calls any other program may use:
// finding its windows, reading and setting texts, pressing buttons, answering message boxes and
// reading the screen.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Polls until the condition holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition, milliseconds timeout,
               milliseconds step = milliseconds(20));

std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
RECT ClientRectOnScreen(HWND window);
// A child's rectangle in its parent's client coordinates.
RECT RectInParent(HWND child);
// The screen's colour (0x00BBGGRR) at a point.
COLORREF ScreenPixel(int x, int y);

std::wstring Environment(const wchar_t* name);
// A Unix path as Wine shows it (Z: and backslashes).
std::wstring WinePath(const std::wstring& unixPath);
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::wstring FreshDirectory(const wchar_t* prefix);

struct MessageBoxSeen {
    HWND box = nullptr;
    std::wstring title;
    std::wstring text;
};

// A Taktor.exe started in a directory of its own.
class Program {
public:
    // Copies the program (and, when tool is not empty, the tool as Kanalyst.exe with the port
    // list it is to write, after the given delay) into a fresh directory and starts it; waits
    // for MainWindow.
    explicit Program(const std::wstring& tool = L"", const std::string& portList = "",
                     int toolDelayMs = 0);
    // Starts the program where it lies, in its own directory as Explorer does; waits for
    // MainWindow.
    struct Installed {
        std::wstring exe;
    };
    explicit Program(const Installed& installed);
    ~Program();

    HWND Main() const { return main_; }
    HWND Field(int phase) const;  // 0..7
    HWND Button() const;
    DWORD ProcessId() const { return process_.dwProcessId; }
    const std::wstring& Directory() const { return directory_; }
    double StartSeconds() const { return startSeconds_; }

    bool Running() const;
    // Waits for the process to end; returns its exit code, or STILL_ACTIVE on time-out.
    DWORD WaitForExit(milliseconds timeout);

    void SetFieldText(int phase, const std::wstring& text);
    std::wstring FieldText(int phase) const;
    void PressWriteButton();
    void RequestClose();

    // The first message box of the program that appears within the time-out.
    MessageBoxSeen WaitForMessageBox(milliseconds timeout) const;
    // The top-level windows of the program, visible ones only.
    std::vector<HWND> VisibleWindows() const;
    // The wait window (a visible pop-up of the program other than MainWindow and boxes).
    HWND FindWaitWindow() const;

private:
    void Start(const std::wstring& exe);

    std::wstring directory_;
    PROCESS_INFORMATION process_ = {};
    HWND main_ = nullptr;
    double startSeconds_ = 0;
};

void AnswerMessageBox(HWND box, int button);
// Samples a point for the given time and returns the distinct colours seen.
std::vector<COLORREF> ColoursSeen(int x, int y, milliseconds duration);
// A point inside an edit field, clear of its text and border.
POINT BlankPointIn(HWND field);

// The size of the ink (the pixels darker than mid-grey) of a control on the screen, inside its
// client area less the inset; and of a text drawn here in a font.
SIZE ShownInk(HWND control, int inset);
SIZE DrawnInk(HFONT font, const std::wstring& text);

// Whether the text of a control shows on the screen as the same text drawn here in the given
// font would, borders left out.
bool TextInkMatches(HWND control, HFONT font);

// Whether the caption of a window shows the small form of Taktor.exe's icon 1.
bool CaptionShowsProgramIcon(HWND window);

}  // namespace e2e
