// Kanalyst's list from ports with any descriptions and names: every line is one port, its first
// "(" opens the port name, and the configurator's scan reads back the port of the last cable line.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/list_file.h"
#include "common/text.h"
#include "tests/fuzz/fuzz_check.h"
#include "tools/kanalyst/port_list.h"

namespace {

// Sanitised text: valid UTF-8 without brackets, control characters, line or paragraph
// separators, runs of blanks or blanks at either end, and unchanged by a second cleaning.
void CheckSanitised(const std::string& clean) {
    const taktor::Text text = taktor::TextFromUtf8(clean);
    FUZZ_CHECK(taktor::Utf8FromText(text) == clean);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        FUZZ_CHECK(c >= 0x20 && !(c >= 0x7F && c <= 0x9F) && c != 0x2028 && c != 0x2029);
        FUZZ_CHECK(c != u'(' && c != u')');
        FUZZ_CHECK(c != u' ' || (i > 0 && i + 1 < text.size() && text[i + 1] != u' '));
    }
    FUZZ_CHECK(kanalyst::SanitiseText(clean) == clean);
}

bool NamesCable(const std::string& line) {
    return line.find(taktor::Utf8FromText(taktor::kProlificCable)) != std::string::npos ||
           line.find(taktor::Utf8FromText(taktor::kCh340Cable)) != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<kanalyst::PortRecord> records(input.ConsumeIntegralInRange<std::size_t>(0, 6));
    for (kanalyst::PortRecord& record : records) {
        if (input.ConsumeBool()) {
            record.usb = kanalyst::UsbId{input.ConsumeIntegral<std::uint16_t>(),
                                         input.ConsumeIntegral<std::uint16_t>()};
        }
        record.description = input.ConsumeRandomLengthString(200);
        record.port = input.ConsumeRandomLengthString(40);
        record.removable = input.ConsumeBool();
    }

    // Each record's line: the first "(" opens the sanitised port name, which ends the line.
    std::vector<std::string> expectedLines;
    for (const kanalyst::PortRecord& record : records) {
        const std::string port = kanalyst::SanitiseText(record.port);
        CheckSanitised(port);
        CheckSanitised(kanalyst::SanitiseText(record.description));
        const std::string line = kanalyst::FormatPortLine(record);
        FUZZ_CHECK(line.find_first_of(std::string("\n\r\0", 3)) == std::string::npos);
        FUZZ_CHECK(line.size() >= port.size() + 4);
        FUZZ_CHECK(line.find('(') == line.size() - port.size() - 2);
        FUZZ_CHECK(
            line.compare(line.size() - port.size() - 3, std::string::npos, " (" + port + ")") == 0);
        if (!port.empty()) {
            expectedLines.push_back(line);
        }
    }

    // The list holds the same lines in some order, each ending in LF.
    const std::string list = kanalyst::FormatPortList(records);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t end = list.find('\n', at);
        FUZZ_CHECK(end != std::string::npos);
        lines.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    FUZZ_CHECK(lines.size() == expectedLines.size());
    std::string expectedPort;
    for (const std::string& line : lines) {
        FUZZ_CHECK(std::count(expectedLines.begin(), expectedLines.end(), line) ==
                   std::count(lines.begin(), lines.end(), line));
        if (NamesCable(line)) {
            const std::size_t open = line.find('(');
            expectedPort = line.substr(open + 1, line.size() - open - 2);
        }
    }
    FUZZ_CHECK(taktor::ScanPortList(list) == taktor::TextFromUtf8(expectedPort));
    return 0;
}
