// One event of the window layer, as the event loop takes it.
#pragma once

namespace taktor {

// The kinds are the window layer's own codes, part of the interface between the layer and the
// event loop; they are not Windows message numbers. On Windows the layer makes a ControlEvent of
// WM_COMMAND, a TimerEvent of WM_TIMER and a CloseEvent of WM_CLOSE.
enum UiEventKind : int {
    ControlEvent = 13100,
    TimerEvent = 13110,
    CloseEvent = 13116,
};

// Types of a ControlEvent besides the control's own notification codes.
constexpr int kButtonPressed = 0;
constexpr int kFieldFocusGained = 14000;
constexpr int kFieldFocusLost = 14001;

struct UiEvent {
    int kind = 0;
    int window = 0;   // the window's number (window_ids.h)
    int control = 0;  // ControlEvent: the control's number
    int timer = 0;    // TimerEvent: the timer's id
    int type = 0;     // ControlEvent: what happened at the control

    bool operator==(const UiEvent& other) const {
        return kind == other.kind && window == other.window && control == other.control &&
               timer == other.timer && type == other.type;
    }
};

}  // namespace taktor
