// The serial devices of Linux as a Wine prefix sees them: each comN of the prefix's dosdevices
// that leads to a USB terminal, the USB terminals that no comN leads to, and the known adapters
// the kernel made no terminal for, as device records for the list and the cable report. Portable:
// Kanalyst.exe reads through Wine's drive Z:, the tests read fake trees directly.
#pragma once

#include <string>
#include <vector>

#include "tools/kanalyst/device_record.h"
#include "tools/kanalyst/unix_files.h"

namespace kanalyst {

struct WinePrefixLayout {
    std::string sysfs = "/sys";
    std::string dev = "/dev";
    std::string prefix;  // the Wine prefix: "/home/ivan/.wine"
    std::string home;    // the user's home, so that commands can say "~/.wine"; may be empty
};

// Wine links a port to a terminal at each of its starts as com1, com2... (the built-in ports
// first); a port added by hand gets a number above those: 33 or more.
inline constexpr int kFirstHandMadePort = 33;

// One record per USB terminal (ports of the Ports class, port "COMn" from the lowest-numbered
// comN that leads to it, or none), then one per known adapter without a terminal (no class, no
// port). Every record has its terminal set.
std::vector<DeviceRecord> ReadWinePrefixDevices(UnixFiles& files, const WinePrefixLayout& layout);

// Appends the records of found whose port none of devices has already: what SetupAPI reports
// stays as it is, and a port found both ways is listed once.
void AddUnlistedPorts(std::vector<DeviceRecord>& devices, std::vector<DeviceRecord> found);

}  // namespace kanalyst
