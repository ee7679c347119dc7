// Finding the serial port of the controller's cable: the port-listing tool writes a list of the
// serial ports, and the last line that names one of the two known cables gives the port.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/text.h"

namespace taktor {

constexpr char16_t kListingToolName[] = u"Kanalyst.exe";
constexpr char16_t kPortListName[] = u"listport.txt";

// An open file, read in blocks.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to capacity bytes; 0 at the end of the file or on an error.
    virtual int ReadBytes(std::uint8_t* buffer, int capacity) = 0;
};

// Lines of 8-bit text through a 4,096-byte read-ahead buffer. A line ends at LF, CR, CR LF, a
// zero byte or the end of the file; it has no length limit and is decoded as UTF-8.
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

// The port name of the last cable line of the list (see CablePortOfLine), or the empty text.
Text ScanPortList(TextLineReader& reader);

// What port discovery needs of the platform.
class DiscoveryPlatform {
public:
    virtual ~DiscoveryPlatform() = default;
    // The directory of the configurator's executable, ending in its separator.
    virtual Text ProgramDirectory() = 0;
    // 1 when the program was started and has ended, 0 when it cannot be started.
    virtual int RunProgramAndWait(const Text& program, const Text& arguments,
                                  const Text& directory) = 0;
    virtual std::unique_ptr<ByteSource> OpenForReading(const Text& path) = 0;
};

// Runs the listing tool, waits for it, and reads the port name from its list.
Text FindControllerPort(DiscoveryPlatform& platform);

// The command line that starts a program: the path in double quotes (unchanged when it already
// begins with one), then a blank and the arguments if there are any.
Text CommandLineFor(const Text& program, const Text& arguments);

// The directory a program started through the shell runs in when none is given: the path up to
// and including its last backslash, if it has one after its first character.
Text ShellDirectoryFor(const Text& program);

}  // namespace taktor
