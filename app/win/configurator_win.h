// The configurator on Windows: start-up, the event loop's actions, the exit confirmation and
// shutdown, over the portable logic of the loop, the validation pass and the write command.
#pragma once

#include <windows.h>

#include "app/event_loop.h"
#include "app/win/configurator_state_win.h"
#include "app/win/main_window_win.h"
#include "app/win/wait_window_win.h"
#include "app/win/window_layer_win.h"
#include "app/write_command.h"
#include "common/win/show_message_win.h"
#include "link/controller_link.h"

namespace taktor {

class Configurator : public EventLoopActions, public PortFinder {
public:
    // Runs the start-up steps and then the event loop; the process ends in ConfirmExit.
    [[noreturn]] void Run(HINSTANCE instance);

private:
    void OnValidationTick() override;
    void OnWriteButton(int type) override;
    void OnCloseRequest() override;

    // Returns when the user declines; on Yes closes MainWindow and shuts down with code 0.
    void ConfirmExit();
    // Releases everything still held and ends the process with the given code.
    [[noreturn]] void ShutDown(UINT exitCode);

    Text FindCablePort() override;

    WindowLayer layer_;
    ConfiguratorState state_;
    MainWindowView mainWindow_{layer_, state_};
    WaitWindowView waitWindow_{layer_, state_};
    WindowsMessageDialog messages_;
    // The controller link with its channel table, made with the configurator at start-up.
    ControllerLink link_;
};

}  // namespace taktor
