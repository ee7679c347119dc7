// The test open of the connected USB serial ports, each on a worker with a time limit.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/kanalyst/device_record.h"

namespace kanalyst {

// Whether the report opens this device's port: a connected (or possibly connected) USB device
// of the Ports class with a port name.
bool ShouldTestOpen(const DeviceRecord& device);

// Opens \\.\<port> for reading and writing without sharing and closes it again. "Access denied"
// is tried once more after 200 ms, since a port closed a moment ago may still answer so.
PortOpen OpenPortOnce(const std::wstring& port, std::uint32_t& error);

// Test-opens the ports ShouldTestOpen picks, one after another, each on a worker thread that
// gets limitMs; fills open and openError. A worker that does not return in time is left to the
// end of the process (its port shows as NoAnswer), and the result is then false: the caller
// must end the process instead of returning from it.
bool TestOpenPorts(std::vector<DeviceRecord>& devices, DWORD limitMs);

}  // namespace kanalyst
