// Start-up and shutdown of the configurator, and what its event loop runs.
#include "app/win/configurator_win.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/win/bitmap_win.h"
#include "assets/resource_ids.h"
#include "link/win/discovery_win.h"

namespace taktor {

namespace {

// Exit codes other than 0, which only the exit confirmation gives.
constexpr UINT kNoMainWindow = 1;
constexpr UINT kMessageWaitFailed = 2;

const Text kExitTitle = u"Выход";
const Text kExitText = u"Вы действительно хотите выйти из программы?";

}  // namespace

void Configurator::Run(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    CoInitialize(nullptr);
    layer_.Initialise(instance);

    state_.cycleBanner = LoadBitmapResource(instance, IDR_CYCLE_BANNER);
    mainWindow_.BuildMainWindow();
    if (state_.MainWindow == nullptr) {
        // Without its window the program could only wait, unseen, for events that never come.
        ExitProcess(kNoMainWindow);
    }
    RunEventLoop(layer_, state_.validation, *this);
    // The loop only ends if the message wait itself fails: a failure, not an exit.
    ShutDown(kMessageWaitFailed);
}

void Configurator::OnValidationTick() {
    ValidatePhaseFields(state_.validation, mainWindow_);
}

void Configurator::OnWriteButton(int type) {
    WriteCommandServices services{waitWindow_, *this, mainWindow_, messages_, link_};
    WriteCommand(type, services);
}

void Configurator::OnCloseRequest() {
    ConfirmExit();
}

void Configurator::ConfirmExit() {
    if (messages_.ShowMessage(kExitTitle, kExitText, kWarningQuestion) != kAnswerYes) {
        return;
    }
    layer_.CloseWindow(state_.MainWindow);
    state_.MainWindow = nullptr;
    ShutDown(0);
}

void Configurator::ShutDown(UINT exitCode) {
    link_.CloseAllChannels();
    // Each of these does nothing for a window or object that is not there.
    layer_.CloseWindow(state_.WaitWindow);
    layer_.CloseWindow(state_.MainWindow);
    DeleteObject(state_.cycleBanner);
    DeleteObject(state_.labelFont);
    layer_.Release();
    CoUninitialize();
    ExitProcess(exitCode);
}

Text Configurator::FindCablePort() {
    WindowsDiscovery discovery(state_.MainWindow);
    return FindControllerPort(discovery);
}

}  // namespace taktor
