// The devices Windows knows of, gathered within a time limit: the present serial ports for
// listport.txt, or every device that may be a USB-serial adapter, connected or remembered, for
// the cable report.
#pragma once

#include <windows.h>

#include <mutex>
#include <vector>

#include "tools/kanalyst/cable_report.h"

namespace kanalyst {

struct DeviceCollection {
    std::vector<DeviceRecord> devices;
    MachineFacts machine;
    bool complete = false;  // false: time ran out, or no thread could be started
};

// Where an enumeration puts the devices it finds, and what it learns of the machine on the way;
// the collector may read it while the enumeration still runs on another thread.
class DeviceSink {
public:
    void Add(DeviceRecord record);
    // The devices of the Linux side whose port the sink does not hold yet (AddUnlistedPorts),
    // and what reading it told of the machine.
    void AddLinuxSide(std::vector<DeviceRecord> found, const MachineFacts& machine);
    DeviceCollection Snapshot();

private:
    std::mutex mutex_;
    DeviceCollection collected_;
};

using DeviceEnumerator = void (*)(DeviceSink& sink);

// Runs enumerate on a taktor::Worker and waits at most limitMs for it. When time runs out the
// devices found so far are returned and the worker is abandoned: it may be stuck inside a
// driver. The sink it fills is shared with it and lives as long as either side needs it. The
// caller then ends the process instead of returning from it.
DeviceCollection CollectDevicesWithin(DeviceEnumerator enumerate, DWORD limitMs);

// Windows text as UTF-8, up to its first zero.
std::string Utf8FromWide(const wchar_t* text);

// A SYSTEMTIME to the minute.
LocalTime LocalTimeOf(const SYSTEMTIME& time);

// The present devices of the Ports class that have a port name, except printer (LPT) ports;
// under Wine also the ports of its prefix that lead to Linux's USB terminals.
void EnumerateSerialPorts(DeviceSink& sink);

// The devices of every class, connected or remembered, that are of the Ports class, carry USB
// ids or sit on the USB bus; under Wine also what Linux knows of USB-serial adapters.
void EnumerateAdapters(DeviceSink& sink);

}  // namespace kanalyst
