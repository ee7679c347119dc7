// The window layer on Windows: windows and controls of the configurator's one window class, and
// the event queue that their window procedure fills and WaitForEvent empties.
#pragma once

#include <windows.h>

#include <map>

#include "app/event_loop.h"
#include "app/event_queue.h"
#include "app/validation.h"
#include "common/text.h"

namespace taktor {

class WindowLayer : public EventSource {
public:
    // Registers the window class with the program icon, the arrow cursor and the 3D-face
    // background.
    void Initialise(HINSTANCE instance);

    // Opens a top-level window of the given outer size and shows it, activated, at the position
    // the centring gives: over the owner when there is one, else on the primary screen.
    // (x, y) is the requested position, which the centring always overrides.
    HWND OpenWindow(int number, HWND owner, const Text& caption, DWORD style, int x, int y,
                    int width, int height);

    // Outer size of a window of the given style around a client area.
    static SIZE OuterSize(DWORD style, int clientWidth, int clientHeight);

    // A child control in the default GUI font.
    HWND CreateControl(HWND parent, int id, const wchar_t* windowClass, const Text& text,
                       DWORD style, DWORD exStyle, int x, int y, int width, int height);

    // Activates the owner, destroys the window, and drops its waiting events.
    void CloseWindow(HWND window);

    // Shows a window again in the state it has: minimised, maximised or normal.
    static void ShowAgain(HWND window);

    // Background of an edit field, applied through WM_CTLCOLOREDIT.
    void SetFieldBackground(HWND field, Colour colour);

    // False only when the message wait itself fails; a quit message is ignored.
    bool WaitForEvent(UiEvent& event) override;

    // Releases the brushes of the field backgrounds.
    void Release();

private:
    // What the window procedure keeps for each of our top-level windows.
    struct WindowData {
        WindowLayer* layer;
        int number;
        HWND focus;  // the control that had the focus when the window was deactivated
    };

    // One handler per message; the window procedure only dispatches.
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void OnNcCreate(HWND window, const CREATESTRUCTW& create);
    static void OnNcDestroy(HWND window, WindowData* data);
    // True when the focus was given back, so that the default handling must not move it.
    static bool OnActivate(HWND window, WindowData& data, WORD state);
    // False for a command that does not come from a control.
    bool OnCommand(int number, WPARAM wParam, HWND control);
    // The brush of a field whose background was set, else nullptr (default colours).
    HBRUSH OnControlColour(HWND field, HDC dc);

    HINSTANCE instance_ = nullptr;
    ATOM windowClass_ = 0;
    HFONT guiFont_ = nullptr;
    EventQueue queue_;
    std::map<HWND, Colour> fieldColours_;
    std::map<Colour, HBRUSH> brushes_;
};

}  // namespace taktor
