#include "common/list_file.h"

#include <algorithm>

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

namespace {

class MemorySource : public ByteSource {
public:
    explicit MemorySource(const std::string& bytes) : bytes_(bytes) {}
    int ReadBytes(std::uint8_t* buffer, int capacity) override {
        const std::size_t count =
            std::min(bytes_.size() - at_, static_cast<std::size_t>(capacity > 0 ? capacity : 0));
        std::copy_n(bytes_.data() + at_, count, buffer);
        at_ += count;
        return static_cast<int>(count);
    }

private:
    const std::string& bytes_;
    std::size_t at_ = 0;
};

}  // namespace

Text ScanPortList(const std::string& list) {
    MemorySource source(list);
    TextLineReader reader(source);
    return ScanPortList(reader);
}

}  // namespace taktor
