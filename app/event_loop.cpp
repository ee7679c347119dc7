#include "app/event_loop.h"

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
                    actions.ValidatePhaseFields();
                }
                break;
            case CloseEvent:
                actions.ConfirmExit();
                break;
            case ControlEvent:
                if (event.control == kWriteButtonId) {
                    actions.WriteCommand(event.type);
                }
                break;
            default:
                break;
        }
    }
}

}  // namespace taktor
