// The serial devices of a Linux system as sysfs shows them, as device records for the list and
// the cable report: each USB (ttyUSB) and modem-class (ttyACM) terminal with the ids, product
// string and kernel driver of the USB device it belongs to, then each USB device with a known
// adapter's ids for which the kernel made no terminal. Read through UnixFiles, so that the tests
// run it over fake trees.
#pragma once

#include <string>
#include <vector>

#include "tools/kanalyst/device_record.h"
#include "tools/kanalyst/unix_files.h"

namespace kanalyst {

struct LinuxLayout {
    std::string sysfs = "/sys";
    std::string dev = "/dev";
    std::string prefix;  // the Wine prefix: "/home/ivan/.wine"
    std::string home;    // the user's home, so that commands can say "~/.wine"; may be empty
};

struct LinuxSide {
    std::vector<DeviceRecord> devices;  // every one with its terminal set
    bool read = false;                  // sysfs could be read
    bool linksInferred = false;         // the COM ports' links were inferred, not read
    bool inDialout = false;             // under Wine: the user is in group dialout
};

// A terminal's record is of the Ports class; its port is the lowest-numbered comN of the
// prefix's dosdevices whose chain of links leads to its node ("COM33"), or none; a file named like
// a terminal elsewhere does not count. A terminal whose device node does not exist (a sandbox shows
// sysfs, not /dev) is kept without a port. Its USB device is the first directory holding idVendor
// above the terminal's device directory, never above the sysfs root. Missing or unreadable entries
// give fewer records or fields, never an error.
LinuxSide ReadLinuxSide(UnixFiles& files, const LinuxLayout& layout);

// Appends the records of found whose port none of devices has already: what SetupAPI reports
// stays as it is, and a port found both ways is listed once.
void AddUnlistedPorts(std::vector<DeviceRecord>& devices, std::vector<DeviceRecord> found);

}  // namespace kanalyst
