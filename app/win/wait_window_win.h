// WaitWindow: the "ЖДИТЕ!!!" window over MainWindow while a write runs.
#pragma once

#include "app/win/configurator_state_win.h"
#include "app/win/window_layer_win.h"
#include "app/write_command.h"

namespace taktor {

class WaitWindowView : public WaitIndicator {
public:
    WaitWindowView(WindowLayer& layer, ConfiguratorState& state) : layer_(layer), state_(state) {}

    // Each does nothing when the window is already in the state it would bring about.
    void ShowWaitWindow() override;
    void CloseWaitWindow() override;

private:
    WindowLayer& layer_;
    ConfiguratorState& state_;
    // MainWindow is disabled for a write, also when the wait window itself could not be opened.
    bool waiting_ = false;
};

}  // namespace taktor
