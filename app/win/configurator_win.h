// The configurator on Windows: its state, start-up, main window, wait window and shutdown, over
// the portable logic of the event loop, the validation pass and the write command.
#pragma once

#include <windows.h>

#include <array>

#include "app/event_loop.h"
#include "app/validation.h"
#include "app/win/window_layer_win.h"
#include "common/win/show_message_win.h"
#include "link/write_command.h"

namespace taktor {

class Configurator : public PhaseFieldAccess,
                     public EventLoopActions,
                     public WaitIndicator,
                     public PortFinder {
public:
    // Runs the start-up steps and then the event loop; the process ends in ConfirmExit.
    [[noreturn]] void Run(HINSTANCE instance);

private:
    void DecodeBanner();
    void BuildMainWindow();
    [[noreturn]] void ShutDown();

    // The validation pass's window operations.
    Text ReadFieldText(int field) override;
    void SetFieldBackground(int field, Colour colour) override;
    void SetWriteButtonDisabled(bool disabled) override;

    // What the event loop runs.
    void ValidatePhaseFields() override;
    void WriteCommand(int type) override;
    void ConfirmExit() override;

    // The wait window.
    void ShowWaitWindow() override;
    void CloseWaitWindow() override;

    Text FindControllerPort() override;

    HINSTANCE instance_ = nullptr;
    WindowLayer layer_;
    WindowsMessagePort messages_;
    ValidationState validation_;

    HBITMAP banner_ = nullptr;
    HWND MainWindow = nullptr;
    HWND bannerPicture_ = nullptr;
    std::array<HWND, kPhaseCount> PhaseField{};
    HWND WriteButton = nullptr;

    HWND WaitWindow = nullptr;
    HWND waitLabel_ = nullptr;
    HFONT labelFont_ = nullptr;
    // MainWindow is disabled for a write, also when the wait window itself could not be opened.
    bool waiting_ = false;
};

}  // namespace taktor
