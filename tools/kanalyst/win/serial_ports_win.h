// The serial ports Windows has present now, gathered within a time limit.
#pragma once

#include <windows.h>

#include <vector>

#include "tools/kanalyst/port_list.h"

namespace kanalyst {

// Where an enumeration puts the ports it finds; the collector may read it while the enumeration
// still runs on another thread.
class PortSink {
public:
    PortSink() { InitializeCriticalSection(&lock_); }
    ~PortSink() { DeleteCriticalSection(&lock_); }
    PortSink(const PortSink&) = delete;
    PortSink& operator=(const PortSink&) = delete;

    void Add(PortRecord record);
    std::vector<PortRecord> Snapshot();

private:
    CRITICAL_SECTION lock_;
    std::vector<PortRecord> ports_;
};

using PortEnumerator = void (*)(PortSink& sink);

struct PortCollection {
    std::vector<PortRecord> ports;
    bool complete = false;  // false: time ran out, or no thread could be started
};

// Runs enumerate on a worker thread and waits at most limitMs for it. When time runs out the
// ports found so far are returned and the worker is left running: it may be stuck inside a
// driver, and stopping a thread from outside can leave a system lock held. The caller then ends
// the process instead of returning from it.
PortCollection CollectPortsWithin(PortEnumerator enumerate, DWORD limitMs);

// The present devices of the Ports class except printer (LPT) ports, each with its device
// description, the USB ids from its hardware ids, and its PortName. Devices without a port name
// are skipped.
void EnumerateSerialPorts(PortSink& sink);

}  // namespace kanalyst
