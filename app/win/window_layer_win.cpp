// The window layer: the configurator's window class, its controls and the event queue that the
// window procedure fills.
#include "app/win/window_layer_win.h"

#include <algorithm>

#include "assets/resource_ids.h"
#include "common/win/wide.h"

namespace taktor {

namespace {

const wchar_t kWindowClassName[] = L"TaktorWindow";

struct CreateParams {
    WindowLayer* layer;
    int number;
};

bool IsEditField(HWND control) {
    wchar_t name[16] = {};
    GetClassNameW(control, name, 16);
    return lstrcmpiW(name, L"Edit") == 0;
}

}  // namespace

void WindowLayer::Initialise(HINSTANCE instance) {
    instance_ = instance;
    guiFont_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM_ICON));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = kWindowClassName;
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM_ICON),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    windowClass_ = RegisterClassExW(&wc);
}

SIZE WindowLayer::OuterSize(DWORD style, int clientWidth, int clientHeight) {
    RECT rect = {0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&rect, style, FALSE, 0);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

HWND WindowLayer::OpenWindow(int number, HWND owner, const Text& caption, DWORD style, int x, int y,
                             int width, int height) {
    CreateParams params{this, number};
    HWND window = CreateWindowExW(0, kWindowClassName, Wide(caption), style & ~WS_VISIBLE, x, y,
                                  width, height, owner, nullptr, instance_, &params);
    if (window == nullptr) {
        return nullptr;
    }
    RECT outer = {};
    GetWindowRect(window, &outer);
    const int w = outer.right - outer.left;
    const int h = outer.bottom - outer.top;
    if (owner != nullptr) {
        RECT over = {};
        GetWindowRect(owner, &over);
        x = std::max(0L, over.left + ((over.right - over.left) - w) / 2);
        y = std::max(0L, over.top + ((over.bottom - over.top) - h) / 2);
    } else {
        const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
        const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
        x = (screenWidth - std::min(w, screenWidth)) / 2;
        y = (screenHeight - std::min(h, screenHeight)) / 2;
    }
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window, SW_SHOWNORMAL);
    return window;
}

HWND WindowLayer::CreateControl(HWND parent, int id, const wchar_t* windowClass, const Text& text,
                                DWORD style, DWORD exStyle, int x, int y, int width, int height) {
    HWND control =
        CreateWindowExW(exStyle, windowClass, Wide(text), style, x, y, width, height, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    if (control != nullptr) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(guiFont_), TRUE);
    }
    return control;
}

void WindowLayer::CloseWindow(HWND window) {
    if (window == nullptr || !IsWindow(window)) {
        return;
    }
    auto* data = reinterpret_cast<WindowData*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    const int number = data != nullptr ? data->number : 0;
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner != nullptr) {
        SetActiveWindow(owner);
    }
    for (auto entry = fieldColours_.begin(); entry != fieldColours_.end();) {
        entry = GetParent(entry->first) == window ? fieldColours_.erase(entry) : std::next(entry);
    }
    DestroyWindow(window);
    if (number != 0) {
        queue_.DropWindow(number);
    }
}

void WindowLayer::ShowAgain(HWND window) {
    if (IsIconic(window)) {
        ShowWindow(window, SW_SHOWMINIMIZED);
    } else if (IsZoomed(window)) {
        ShowWindow(window, SW_SHOWMAXIMIZED);
    } else {
        ShowWindow(window, SW_SHOWNORMAL);
    }
}

void WindowLayer::SetFieldBackground(HWND field, Colour colour) {
    if (field == nullptr) {
        return;
    }
    const auto [entry, added] = fieldColours_.emplace(field, colour);
    if (added || entry->second != colour) {
        entry->second = colour;
        InvalidateRect(field, nullptr, TRUE);
    }
}

void WindowLayer::Release() {
    for (const auto& entry : brushes_) {
        DeleteObject(entry.second);
    }
    brushes_.clear();
    fieldColours_.clear();
}

bool WindowLayer::WaitForEvent(UiEvent& event) {
    while (!queue_.Take(event)) {
        MSG msg;
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) {
            return false;
        }
        if (got == 0) {
            // A quit message, which any program can post to this thread: only the exit
            // confirmation ends the configurator.
            continue;
        }
        // Tab and Shift+Tab move the focus among the controls of our windows.
        HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
        if (root != nullptr && GetClassLongPtrW(root, GCW_ATOM) == windowClass_ &&
            IsDialogMessageW(root, &msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

LRESULT CALLBACK WindowLayer::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        OnNcCreate(window, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
    }
    auto* data = reinterpret_cast<WindowData*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (data == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    WindowLayer& layer = *data->layer;
    switch (message) {
        case WM_NCDESTROY:
            OnNcDestroy(window, data);
            break;
        case WM_ACTIVATE:
            if (OnActivate(window, *data, LOWORD(wParam))) {
                return 0;
            }
            break;
        case WM_CLOSE:
            // A close request never closes a window by itself; the program decides.
            layer.queue_.Post(UiEvent{CloseEvent, data->number, 0, 0, 0});
            return 0;
        case WM_TIMER:
            layer.queue_.Post(UiEvent{TimerEvent, data->number, 0, static_cast<int>(wParam), 0});
            return 0;
        case WM_COMMAND:
            if (layer.OnCommand(data->number, wParam, reinterpret_cast<HWND>(lParam))) {
                return 0;
            }
            break;
        case WM_CTLCOLOREDIT:
            if (HBRUSH brush = layer.OnControlColour(reinterpret_cast<HWND>(lParam),
                                                     reinterpret_cast<HDC>(wParam))) {
                return reinterpret_cast<LRESULT>(brush);
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void WindowLayer::OnNcCreate(HWND window, const CREATESTRUCTW& create) {
    const auto* params = static_cast<const CreateParams*>(create.lpCreateParams);
    auto* data = new WindowData{params->layer, params->number, nullptr};
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
}

void WindowLayer::OnNcDestroy(HWND window, WindowData* data) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    delete data;
}

bool WindowLayer::OnActivate(HWND window, WindowData& data, WORD state) {
    // The control with the focus is remembered when the window is left and gets the focus back
    // when the window is activated again.
    if (state == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window, focus)) {
            data.focus = focus;
        }
        return false;
    }
    if (data.focus != nullptr && IsWindow(data.focus) && IsChild(window, data.focus)) {
        SetFocus(data.focus);
        return true;
    }
    return false;
}

bool WindowLayer::OnCommand(int number, WPARAM wParam, HWND control) {
    if (control == nullptr) {
        return false;  // a menu or accelerator command: none of ours
    }
    int type = HIWORD(wParam);
    if (IsEditField(control)) {
        if (type == EN_SETFOCUS) {
            type = kFieldFocusGained;
        } else if (type == EN_KILLFOCUS) {
            type = kFieldFocusLost;
        }
    }
    queue_.Post(UiEvent{ControlEvent, number, LOWORD(wParam), 0, type});
    return true;
}

HBRUSH WindowLayer::OnControlColour(HWND field, HDC dc) {
    const auto entry = fieldColours_.find(field);
    if (entry == fieldColours_.end()) {
        return nullptr;
    }
    HBRUSH& brush = brushes_[entry->second];  // one brush per colour, made when first needed
    if (brush == nullptr && (brush = CreateSolidBrush(entry->second)) == nullptr) {
        brushes_.erase(entry->second);
        return nullptr;
    }
    SetBkColor(dc, entry->second);
    return brush;
}

}  // namespace taktor
