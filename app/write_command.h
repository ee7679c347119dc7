// What a press of the write button does: find the cable's port, open it, and send the eight
// durations until the controller confirms, refuses, or six attempts have failed.
#pragma once

#include "app/validation.h"
#include "common/message_dialog.h"
#include "common/text.h"
#include "link/controller_link.h"

namespace taktor {

// The wait window, shown while a write runs.
class WaitIndicator {
public:
    virtual ~WaitIndicator() = default;
    virtual void ShowWaitWindow() = 0;
    virtual void CloseWaitWindow() = 0;
};

class PortFinder {
public:
    virtual ~PortFinder() = default;
    // The port name of the controller's cable, or the empty text (FindControllerPort).
    virtual Text FindCablePort() = 0;
};

struct WriteCommandServices {
    WaitIndicator& wait;
    PortFinder& ports;
    PhaseFieldReader& fields;
    MessageDialog& messages;
    ControllerLink& link;
};

// type: the type of the write button's event; only a press (0) acts.
void WriteCommand(int type, WriteCommandServices& services);

}  // namespace taktor
