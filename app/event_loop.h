// The main thread's only long-running loop.
#pragma once

#include "app/ui_event.h"
#include "app/validation.h"

namespace taktor {

class EventSource {
public:
    virtual ~EventSource() = default;
    // Blocks until the next event. Returns false only when no event can ever come again (the
    // Windows program never gets there: it ends inside ConfirmExit).
    virtual bool WaitForEvent(UiEvent& event) = 0;
};

// What the loop runs for the three events of MainWindow it reacts to.
class EventLoopActions {
public:
    virtual ~EventLoopActions() = default;
    // A tick of the validation timer: one validation pass.
    virtual void OnValidationTick() = 0;
    // A ControlEvent of the write button, with its type: the write command.
    virtual void OnWriteButton(int type) = 0;
    // A close request: the exit confirmation.
    virtual void OnCloseRequest() = 0;
};

// Sets BlinkPhase to +1, then takes one event at a time and reacts to the three events of
// MainWindow: a tick of the validation timer, a press of the write button and a close request.
void RunEventLoop(EventSource& source, ValidationState& state, EventLoopActions& actions);

}  // namespace taktor
