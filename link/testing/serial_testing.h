// For tests only: serial devices of the test's own in place of the platform's backend.
#pragma once

#include <functional>
#include <memory>

#include "link/serial_device.h"

namespace taktor {

using SerialDeviceOpener =
    std::function<std::unique_ptr<SerialDevice>(const Text& devicePath, const LineSettings&)>;

// Every later OpenChannel opens its device through opener; an empty function restores the
// platform's backend.
void SetSerialDeviceOpener(SerialDeviceOpener opener);

}  // namespace taktor
