// Serial ports of a Linux system as sysfs shows them: the USB (ttyUSB) and modem-class (ttyACM)
// terminals, each with the ids and product string of the USB device it belongs to.
#pragma once

#include <filesystem>
#include <vector>

#include "tools/kanalyst/port_list.h"

namespace kanalyst {

// Reads <sysfsRoot>/class/tty and returns one record per ttyUSB* or ttyACM* terminal whose device
// node exists under devRoot; the port name is that node's path (devRoot/ttyUSB0). The USB device
// is found by walking up from the terminal's device directory to the first directory holding
// idVendor, never above sysfsRoot. Missing or unreadable entries give fewer records, never an
// error.
std::vector<PortRecord> ScanSysfsPorts(const std::filesystem::path& sysfsRoot,
                                       const std::filesystem::path& devRoot);

}  // namespace kanalyst
