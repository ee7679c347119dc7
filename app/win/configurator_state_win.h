// The configurator's state on Windows: created empty at start-up, kept for the whole run and
// touched by the main thread only. Items keep the names the design gives them.
#pragma once

#include <windows.h>

#include <array>

#include "app/validation.h"

namespace taktor {

struct ConfiguratorState {
    HWND MainWindow = nullptr;
    HWND bannerPicture = nullptr;
    std::array<HWND, kPhaseCount> PhaseField{};
    HWND WriteButton = nullptr;
    HBITMAP cycleBanner = nullptr;  // the decoded picture; nullptr when it could not be decoded

    HWND WaitWindow = nullptr;
    HWND waitLabel = nullptr;
    HFONT labelFont = nullptr;  // outlives the wait window; made anew at every opening

    ValidationState validation;  // BlinkPhase and FieldsInvalid
};

}  // namespace taktor
