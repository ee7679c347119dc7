// Events of the window layer, and the numbers by which windows, controls and timers are known.
#pragma once

#include <cstddef>
#include <deque>

namespace taktor {

enum UiEventKind : int {
    ControlEvent = 13100,
    TimerEvent = 13110,
    CloseEvent = 13116,
};

// Types of a ControlEvent besides the control's own notification codes.
constexpr int kButtonPressed = 0;
constexpr int kFieldFocusGained = 14000;
constexpr int kFieldFocusLost = 14001;

// Window numbers.
constexpr int kMainWindowId = 1;
constexpr int kWaitWindowId = 2;

// Control numbers in MainWindow, in creation order (also the Tab order).
constexpr int kBannerId = 1;
constexpr int kFirstPhaseFieldId = 2;  // phase fields 2..9, phase 1 first
constexpr int kWriteButtonId = 10;
constexpr int kWaitLabelId = 1;  // in WaitWindow

constexpr int kValidationTimerId = 1;
constexpr unsigned kValidationPeriodMs = 250;

struct UiEvent {
    int kind = 0;
    int window = 0;
    int control = 0;
    int timer = 0;
    int type = 0;

    bool operator==(const UiEvent& other) const {
        return kind == other.kind && window == other.window && control == other.control &&
               timer == other.timer && type == other.type;
    }
};

// The per-thread queue of waiting events. An event equal to the newest one still waiting is not
// queued again, so timer ticks that fall while the loop is busy do not pile up.
class EventQueue {
public:
    void Post(const UiEvent& event);
    bool Take(UiEvent& event);
    // Drops every waiting event of a window that is being closed.
    void DropWindow(int window);
    bool Empty() const { return events_.empty(); }
    std::size_t Size() const { return events_.size(); }

private:
    std::deque<UiEvent> events_;
};

}  // namespace taktor
