// The lines of listport.txt, the list of serial ports that the port-listing tool writes and the
// configurator reads before every write: "<DESCRIPTION> (<PORT>)", one port per line.
#pragma once

#include <string>

#include "common/text.h"

namespace taktor {

// The descriptions of the two cables the configurator looks for (ASCII).
constexpr char16_t kProlificCable[] = u"PROLIFIC USB-TO-SERIAL COMM PORT";
constexpr char16_t kCh340Cable[] = u"USB-SERIAL CH340";

// "<description> (<port>)" as 8-bit text, without a line end. The writer keeps round brackets
// out of the description, so that the first "(" of the line opens the port name.
std::string FormatListLine(const std::string& description, const std::string& port);

// True when the line names one of the two cables (anywhere, in exactly this case) and its first
// "(" stands before its first ")"; port is then every character strictly between the two, blanks
// included, possibly none.
bool CablePortOfLine(const Text& line, Text& port);

}  // namespace taktor
