// Serial ports of a Linux system as sysfs shows them: the USB (ttyUSB) and modem-class (ttyACM)
// terminals, each with the ids and product string of the USB device it belongs to, and the USB
// devices with the ids of a known adapter, terminal or not. Read through UnixFiles, so that the
// Linux tool and Kanalyst.exe under Wine share it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/kanalyst/port_list.h"
#include "tools/kanalyst/unix_files.h"

namespace kanalyst {

// A ttyUSB* or ttyACM* terminal.
struct SysfsTerminal {
    std::string name;  // "ttyUSB0"
    std::string node;  // its device node under devRoot: "/dev/ttyUSB0"
    std::optional<UsbId> usb;
    std::string product;    // the USB device's product string
    std::string driver;     // the kernel driver of the terminal's device: "ch341-uart", "pl2303"
    std::string usbDevice;  // the USB device's directory, resolved; empty when none was found
};

// A USB device whose ids are in the table of known adapters.
struct SysfsUsbAdapter {
    UsbId usb;
    std::string product;
    std::string driver;     // the driver that took its first interface; empty when none did
    std::string directory;  // resolved
};

// One record per ttyUSB* or ttyACM* in <sysfsRoot>/class/tty whose device node exists under
// devRoot. The USB device is found by walking up from the terminal's device directory to the
// first directory holding idVendor, never above sysfsRoot. Missing or unreadable entries give
// fewer records or fields, never an error.
std::vector<SysfsTerminal> ScanSysfsTerminals(UnixFiles& files, const std::string& sysfsRoot,
                                              const std::string& devRoot);

// The USB devices of <sysfsRoot>/bus/usb/devices whose ids are in the table of known adapters.
std::vector<SysfsUsbAdapter> ScanSysfsUsbAdapters(UnixFiles& files, const std::string& sysfsRoot);

// The terminals as list records: the port name is the device node's path (/dev/ttyUSB0).
std::vector<PortRecord> ScanSysfsPorts(UnixFiles& files, const std::string& sysfsRoot,
                                       const std::string& devRoot);

}  // namespace kanalyst
