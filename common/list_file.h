// listport.txt, the list of serial ports that the port-listing tool writes and the configurator
// reads before every write: one port per line, "<DESCRIPTION> (<PORT>)", 8-bit text (UTF-8).
// Writing and reading live here together, so that the tool and the configurator agree.
#pragma once

#include <cstdint>
#include <string>

#include "common/text.h"

namespace taktor {

// The list's file name; it lies beside the tool and the configurator.
constexpr char16_t kPortListName[] = u"listport.txt";

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

// An open file, read in blocks.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to capacity bytes; 0 at the end of the file or on an error.
    virtual int ReadBytes(std::uint8_t* buffer, int capacity) = 0;
};

// Lines of 8-bit text through a 4,096-byte read-ahead buffer. A line ends at LF, CR, CR LF, a
// zero byte or the end of the file; it has no length limit and is decoded as UTF-8 (a
// byte-order mark stays part of the first line).
class TextLineReader {
public:
    static constexpr int kReadAhead = 4096;

    explicit TextLineReader(ByteSource& source) : source_(source) {}

    // Reads one byte ahead and puts it back.
    bool AtEnd();
    Text ReadTextLine();

private:
    bool NextByte(std::uint8_t& byte);
    void PutBack() { --position_; }

    ByteSource& source_;
    std::uint8_t buffer_[kReadAhead] = {};
    int filled_ = 0;
    int position_ = 0;
};

// The port name of the last cable line of the list (CablePortOfLine), or the empty text.
Text ScanPortList(TextLineReader& reader);

// The same scan over a whole list held in memory.
Text ScanPortList(const std::string& list);

}  // namespace taktor
