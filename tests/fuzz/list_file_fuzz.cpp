// listport.txt of any bytes, read through pieces of any size: the lines and the port found must
// be those of the whole file split by hand, whatever the read boundaries.
//
// Input: one byte n, then n % 8 piece sizes (a byte b gives b + 1 bytes, 255 a whole read-ahead;
// they repeat in turn; none gives whole reads), then the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/list_file.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using taktor::Text;

class PieceSource : public taktor::ByteSource {
public:
    PieceSource(const std::string& bytes, const std::vector<int>& pieces)
        : bytes_(bytes), pieces_(pieces) {}

    int ReadBytes(std::uint8_t* buffer, int capacity) override {
        int want = capacity;
        if (!pieces_.empty()) {
            want = std::min(capacity, pieces_[turn_++ % pieces_.size()]);
        }
        const std::size_t count = std::min(bytes_.size() - at_, static_cast<std::size_t>(want));
        std::memcpy(buffer, bytes_.data() + at_, count);
        at_ += count;
        return static_cast<int>(count);
    }

private:
    const std::string& bytes_;
    const std::vector<int>& pieces_;
    std::size_t at_ = 0;
    std::size_t turn_ = 0;
};

// The file's lines, split by hand: each ends at LF, CR, CR LF, a zero byte or the end of the
// file; there is no empty line after the last line end.
std::vector<Text> SplitLines(const std::string& file) {
    std::vector<Text> lines;
    std::size_t at = 0;
    while (at < file.size()) {
        const std::size_t end = file.find_first_of(std::string("\n\r\0", 3), at);
        lines.push_back(taktor::TextFromUtf8(file.substr(at, end - at)));
        if (end == std::string::npos) {
            break;
        }
        at = end + (file.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

bool NamesCable(const Text& line) {
    return line.find(taktor::kProlificCable) != Text::npos ||
           line.find(taktor::kCh340Cable) != Text::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<int> pieces;
    std::size_t at = 0;
    if (size > 0) {
        const std::size_t count = data[0] % 8u;
        for (at = 1; at < size && pieces.size() < count; ++at) {
            pieces.push_back(data[at] == 255 ? taktor::TextLineReader::kReadAhead : data[at] + 1);
        }
    }
    const std::string file(reinterpret_cast<const char*>(data) + at, size - at);
    const std::vector<Text> expectedLines = SplitLines(file);

    std::vector<Text> lines;
    {
        PieceSource source(file, pieces);
        taktor::TextLineReader reader(source);
        while (!reader.AtEnd()) {
            lines.push_back(reader.ReadTextLine());
        }
    }
    FUZZ_CHECK(lines == expectedLines);

    PieceSource source(file, pieces);
    taktor::TextLineReader reader(source);
    const Text port = taktor::ScanPortList(reader);
    FUZZ_CHECK(port == taktor::ScanPortList(file));

    // The last cable line whose first "(" comes before its first ")" gives the port: what lies
    // between the two. Lines that name no cable, or are unbracketed, are passed over.
    Text expected;
    for (auto line = expectedLines.rbegin(); line != expectedLines.rend(); ++line) {
        const std::size_t open = line->find(u'(');
        const std::size_t close = line->find(u')');
        if (NamesCable(*line) && open != Text::npos && close != Text::npos && open < close) {
            expected = line->substr(open + 1, close - open - 1);
            break;
        }
    }
    FUZZ_CHECK(port == expected);
    FUZZ_CHECK(port.find_first_of(Text(u")\r\n\0", 4)) == Text::npos);
    return 0;
}
