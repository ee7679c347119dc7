// The line settings of a Windows port expressed in termios, and the mapping of Windows device
// paths onto POSIX ones.
#pragma once

#include <termios.h>

#include <string>

#include "common/text.h"
#include "link/serial_channel.h"

namespace taktor {

// "\\.\ttyUSB0" -> "/dev/ttyUSB0", "\\.\/tmp/link" -> "/tmp/link" (UTF-8): the prefix goes, and a
// name without '/' is looked for under /dev.
std::string PosixDevicePath(const Text& devicePath);

// What the line settings may keep of termios as the driver reports it (the flow control), seen as
// the fields of a Windows device control block; the rest they always set. rtsOn: the RTS line
// is up (false when the device has no modem lines).
PortConfig ConfigFromTermios(const termios& tio, bool rtsOn);

// Puts the configuration onto termios in raw mode, as a Windows port always is. False when the
// configuration cannot be expressed (a baud rate, parity or byte size the terminal lacks).
bool TermiosFromConfig(const PortConfig& config, termios& tio);

}  // namespace taktor
