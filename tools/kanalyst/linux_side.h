// The serial devices of a Linux system as sysfs shows them, as device records for the list and
// the cable report: each USB (ttyUSB) and modem-class (ttyACM) terminal with the ids, product
// string and kernel driver of the USB device it belongs to, then each USB device with a known
// adapter's ids for which the kernel made no terminal. Read through UnixFiles, so that the Linux
// tool and Kanalyst.exe under Wine share it.
#pragma once

#include <string>
#include <vector>

#include "tools/kanalyst/device_record.h"
#include "tools/kanalyst/unix_files.h"

namespace kanalyst {

struct LinuxLayout {
    std::string sysfs = "/sys";
    std::string dev = "/dev";
    std::string prefix;  // the Wine prefix ("/home/ivan/.wine")
    std::string home;    // the user's home, so that commands can say "~/.wine"; may be empty
};

// A terminal's record is of the Ports class; its port is the lowest-numbered comN of the prefix's
// dosdevices whose chain of links leads to the node ("COM33"), or none; a file named like a
// terminal elsewhere does not count. A terminal is left out when its device node does not exist;
// its USB device is the first directory holding idVendor above the terminal's device directory,
// never above the sysfs root. Missing or unreadable entries give fewer records or fields, never an
// error. Every record has its terminal set.
std::vector<DeviceRecord> ReadLinuxDevices(UnixFiles& files, const LinuxLayout& layout);

// Appends the records of found whose port none of devices has already: what SetupAPI reports
// stays as it is, and a port found both ways is listed once.
void AddUnlistedPorts(std::vector<DeviceRecord>& devices, std::vector<DeviceRecord> found);

}  // namespace kanalyst
