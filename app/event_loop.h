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

class EventLoopActions {
public:
    virtual ~EventLoopActions() = default;
    virtual void ValidatePhaseFields() = 0;
    virtual void WriteCommand(int type) = 0;
    virtual void ConfirmExit() = 0;
};

// Sets BlinkPhase to +1, then takes one event at a time and reacts to the three events of
// MainWindow: a tick of the validation timer, a press of the write button and a close request.
void RunEventLoop(EventSource& source, ValidationState& state, EventLoopActions& actions);

}  // namespace taktor
