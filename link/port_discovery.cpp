#include "link/port_discovery.h"

#include <string>

#include "common/list_line.h"

namespace taktor {

bool TextLineReader::NextByte(std::uint8_t& byte) {
    if (position_ == filled_) {
        const int got = source_.ReadBytes(buffer_, kReadAhead);
        if (got <= 0) {
            return false;
        }
        filled_ = got;
        position_ = 0;
    }
    byte = buffer_[position_++];
    return true;
}

bool TextLineReader::AtEnd() {
    std::uint8_t byte = 0;
    if (!NextByte(byte)) {
        return true;
    }
    PutBack();
    return false;
}

Text TextLineReader::ReadTextLine() {
    std::string bytes;
    std::uint8_t byte = 0;
    while (NextByte(byte)) {
        if (byte == 0 || byte == '\n') {
            break;
        }
        if (byte == '\r') {
            if (NextByte(byte) && byte != '\n') {
                PutBack();
            }
            break;
        }
        if (bytes.size() == bytes.capacity()) {
            bytes.reserve(bytes.capacity() + kReadAhead);
        }
        bytes.push_back(static_cast<char>(byte));
    }
    return TextFromUtf8(bytes);
}

Text ScanPortList(TextLineReader& reader) {
    Text result;
    while (!reader.AtEnd()) {
        Text port;
        if (CablePortOfLine(reader.ReadTextLine(), port)) {
            result = port;
        }
    }
    return result;
}

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
