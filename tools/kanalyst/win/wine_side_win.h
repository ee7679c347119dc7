// Kanalyst.exe under Wine: notices Wine and reads the Linux side of the machine, so that a cable
// that Linux knows but Wine's SetupAPI does not is listed and reported as on Windows.
#pragma once

#include "tools/kanalyst/win/serial_ports_win.h"

namespace kanalyst {

// True when the program runs under Wine: its ntdll exports wine_get_version.
bool RunsUnderWine();

// Under Wine, adds the devices of the Linux side (ReadLinuxSide) whose port the sink does not
// hold yet, and sets what it learnt of the machine; elsewhere does nothing. The prefix is
// WINEPREFIX, or the one Wine names in WINECONFIGDIR.
void AddWineDevices(DeviceSink& sink);

}  // namespace kanalyst
