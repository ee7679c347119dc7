#include "common/list_line.h"

namespace taktor {

std::string FormatListLine(const std::string& description, const std::string& port) {
    return description + " (" + port + ")";
}

bool CablePortOfLine(const Text& line, Text& port) {
    if (FindText(line, kProlificCable) == 0 && FindText(line, kCh340Cable) == 0) {
        return false;
    }
    // Both brackets are searched from the start of the line, not from the description.
    const long open = FindText(line, u"(");
    const long close = FindText(line, u")");
    if (open == 0 || close == 0 || close < open) {
        return false;
    }
    port = MiddleText(line, open + 1, close - open - 1);
    return true;
}

}  // namespace taktor
