// Finding the serial port of the controller's cable: the port-listing tool writes a list of the
// serial ports, and the last line that names one of the two known cables gives the port.
#pragma once

#include <memory>
#include <string>

#include "common/list_file.h"
#include "common/text.h"

namespace taktor {

constexpr char16_t kListingToolName[] = u"Kanalyst.exe";

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
