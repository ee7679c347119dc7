#include "link/port_discovery.h"

#include <string>

namespace taktor {

Text FindControllerPort(DiscoveryPlatform& platform) {
    const Text directory = platform.ProgramDirectory();
    if (platform.RunProgramAndWait(directory + kListingToolName, Text(), Text()) == 0) {
        return Text();
    }
    std::unique_ptr<ByteSource> list = platform.OpenForReading(directory + kPortListName);
    if (!list) {
        return Text();
    }
    TextLineReader reader(*list);
    return ScanPortList(reader);
}

Text CommandLineFor(const Text& program, const Text& arguments) {
    Text line = (!program.empty() && program[0] == u'"') ? program : u"\"" + program + u"\"";
    if (!arguments.empty()) {
        line += u" " + arguments;
    }
    return line;
}

Text ShellDirectoryFor(const Text& program) {
    const size_t last = program.rfind(u'\\');
    if (last == Text::npos || last == 0) {
        return Text();
    }
    return program.substr(0, last + 1);
}

}  // namespace taktor
