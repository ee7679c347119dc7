#include "app/event_queue.h"

#include <algorithm>

namespace taktor {

void EventQueue::Post(const UiEvent& event) {
    if (!events_.empty() && events_.back() == event) {
        return;
    }
    events_.push_back(event);
}

bool EventQueue::Take(UiEvent& event) {
    if (events_.empty()) {
        return false;
    }
    event = events_.front();
    events_.pop_front();
    return true;
}

void EventQueue::DropWindow(int window) {
    events_.erase(std::remove_if(events_.begin(), events_.end(),
                                 [window](const UiEvent& e) { return e.window == window; }),
                  events_.end());
}

}  // namespace taktor
