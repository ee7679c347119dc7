// The per-thread queue of waiting events of the window layer.
#pragma once

#include <cstddef>
#include <deque>

#include "app/ui_event.h"

namespace taktor {

// An event equal to the newest one still waiting is not queued again, so timer ticks that fall
// while the loop is busy do not pile up.
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
