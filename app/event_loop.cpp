#include "app/event_loop.h"

#include "app/window_ids.h"

namespace taktor {

void RunEventLoop(EventSource& source, ValidationState& state, EventLoopActions& actions) {
    state.BlinkPhase = 1;
    UiEvent event;
    while (source.WaitForEvent(event)) {
        // Every other event, and every event of another window, is ignored.
        if (event.window != kMainWindowId) {
            continue;
        }
        if (event.kind == TimerEvent && event.timer == kValidationTimerId) {
            actions.OnValidationTick();
        } else if (event.kind == CloseEvent) {
            actions.OnCloseRequest();
        } else if (event.kind == ControlEvent && event.control == kWriteButtonId) {
            actions.OnWriteButton(event.type);
        }
    }
}

}  // namespace taktor
