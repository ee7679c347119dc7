// The numbers by which the configurator's windows, controls and timer are known to the window
// layer and the event loop.
#pragma once

namespace taktor {

// Windows.
constexpr int kMainWindowId = 1;
constexpr int kWaitWindowId = 2;

// Controls of MainWindow, in creation order (also the Tab order).
constexpr int kBannerId = 1;
constexpr int kFirstPhaseFieldId = 2;  // phase fields 2..9, phase 1 first
constexpr int kWriteButtonId = 10;

// The one control of WaitWindow.
constexpr int kWaitLabelId = 1;

constexpr int kValidationTimerId = 1;
constexpr unsigned kValidationPeriodMs = 250;

}  // namespace taktor
