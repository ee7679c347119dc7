// MainWindow: the cycle banner, the eight phase fields and the write button.
#pragma once

#include "app/validation.h"
#include "app/win/configurator_state_win.h"
#include "app/win/window_layer_win.h"

namespace taktor {

class MainWindowView : public PhaseFieldAccess {
public:
    MainWindowView(WindowLayer& layer, ConfiguratorState& state) : layer_(layer), state_(state) {}

    // Opens MainWindow centred on the screen with its controls and starts the validation timer.
    // When the window cannot be opened, nothing else is made and MainWindow stays nullptr.
    void BuildMainWindow();

    // What the validation pass and the write command do with the fields and the button.
    Text ReadFieldText(int field) override;
    void SetFieldBackground(int field, Colour colour) override;
    void SetWriteButtonDisabled(bool disabled) override;

private:
    WindowLayer& layer_;
    ConfiguratorState& state_;
};

}  // namespace taktor
