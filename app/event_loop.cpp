#include "app/event_loop.h"

#include "app/window_ids.h"

namespace taktor {

void RunEventLoop(EventSource& source, ValidationState& state, EventLoopActions& actions) {
    state.BlinkPhase = 1;
    UiEvent event;
    while (source.WaitForEvent(event)) {
        if (event.window != kMainWindowId) {
            continue;
        }
        switch (event.kind) {
            case TimerEvent:
                if (event.timer == kValidationTimerId) {
                    actions.OnValidationTick();
                }
                break;
            case CloseEvent:
                actions.OnCloseRequest();
                break;
            case ControlEvent:
                if (event.control == kWriteButtonId) {
                    actions.OnWriteButton(event.type);
                }
                break;
            default:
                break;
        }
    }
}

}  // namespace taktor
