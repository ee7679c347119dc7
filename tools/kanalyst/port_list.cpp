#include "tools/kanalyst/port_list.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "common/list_file.h"
#include "common/text.h"

namespace kanalyst {
namespace {
constexpr KnownAdapter kKnownAdapters[] = {
    // Prolific PL2303 in its generations.
    {0x067b, 0x2303, Cable::Prolific, "Prolific PL2303"},
    {0x067b, 0x2304, Cable::Prolific, "Prolific PL2303TB"},
    {0x067b, 0x23a3, Cable::Prolific, "Prolific PL2303GC"},
    {0x067b, 0x23b3, Cable::Prolific, "Prolific PL2303GB"},
    {0x067b, 0x23c3, Cable::Prolific, "Prolific PL2303GT"},
    {0x067b, 0x23d3, Cable::Prolific, "Prolific PL2303GL"},
    {0x067b, 0x23e3, Cable::Prolific, "Prolific PL2303GE"},
    {0x067b, 0x23f3, Cable::Prolific, "Prolific PL2303GS"},
    // WCH CH340/CH341, also under the ids it ships with in other makers' cables.
    {0x1a86, 0x7523, Cable::Ch340, "CH340"},
    {0x1a86, 0x7522, Cable::Ch340, "CH340"},
    {0x1a86, 0x5523, Cable::Ch340, "CH341"},
    {0x4348, 0x5523, Cable::Ch340, "CH341"},
    {0x9986, 0x7523, Cable::Ch340, "CH340"},
    {0x2184, 0x0057, Cable::Ch340, "CH340"},
    // Converters common in the field that the configurator does not use.
    {0x0403, 0x6001, Cable::Unknown, "FTDI FT232R"},
    {0x0403, 0x6010, Cable::Unknown, "FTDI FT2232"},
    {0x0403, 0x6011, Cable::Unknown, "FTDI FT4232"},
    {0x0403, 0x6014, Cable::Unknown, "FTDI FT232H"},
    {0x0403, 0x6015, Cable::Unknown, "FTDI FT230X/FT231X"},
    {0x10c4, 0xea60, Cable::Unknown, "Silicon Labs CP2102/CP2104"},
    {0x10c4, 0xea70, Cable::Unknown, "Silicon Labs CP2105"},
    {0x10c4, 0xea71, Cable::Unknown, "Silicon Labs CP2108"},
    {0x1a86, 0x55d3, Cable::Unknown, "WCH CH343"},
    {0x1a86, 0x55d4, Cable::Unknown, "WCH CH9102"},
    {0x0557, 0x2008, Cable::Unknown, "ATEN UC-232A"},
};

bool BreaksLine(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// Splits a port name into the text before its trailing digits and those digits.
std::pair<std::string, std::string> SplitTrailingNumber(const std::string& name) {
    std::size_t start = name.size();
    while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') {
        --start;
    }
    return {name.substr(0, start), name.substr(start)};
}

// Compares two digit strings by value, whatever their length and leading zeros.
int CompareNumbers(const std::string& a, const std::string& b) {
    const std::size_t skipA = std::min(a.find_first_not_of('0'), a.size());
    const std::size_t skipB = std::min(b.find_first_not_of('0'), b.size());
    const std::size_t lengthA = a.size() - skipA;
    const std::size_t lengthB = b.size() - skipB;
    if (lengthA != lengthB) {
        return lengthA < lengthB ? -1 : 1;
    }
    return a.compare(skipA, lengthA, b, skipB, lengthB);
}

// The value of the four hex digits that follow key in an upper-cased hardware id.
std::optional<std::uint16_t> HexAfter(const std::string& upperId, const std::string& key) {
    const std::size_t at = upperId.find(key);
    if (at == std::string::npos || upperId.size() - at - key.size() < 4) {
        return std::nullopt;
    }
    return ParseHex(upperId.substr(at + key.size(), 4));
}

}  // namespace

const KnownAdapter* FindKnownAdapter(const UsbId& id) {
    for (const KnownAdapter& known : kKnownAdapters) {
        if (known.vendor == id.vendor && known.product == id.product) {
            return &known;
        }
    }
    return nullptr;
}

Cable RecogniseCable(const UsbId& id) {
    const KnownAdapter* known = FindKnownAdapter(id);
    return known != nullptr ? known->cable : Cable::Unknown;
}

std::string CableDescription(Cable cable) {
    return cable == Cable::Unknown
               ? std::string()
               : taktor::Utf8FromText(cable == Cable::Prolific ? taktor::kProlificCable
                                                               : taktor::kCh340Cable);
}

std::string UpperCaseAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

std::string OneLineText(const std::string& text) {
    // Surrogate pairs pass through unchanged: no blank or control character is one.
    const taktor::Text decoded = taktor::TextFromUtf8(text);
    taktor::Text out;
    out.reserve(decoded.size());
    bool pendingBlank = false;
    for (const char16_t c : decoded) {
        if (BreaksLine(c) || c == u' ') {
            pendingBlank = true;
            continue;
        }
        if (pendingBlank && !out.empty()) {
            out.push_back(u' ');
        }
        pendingBlank = false;
        out.push_back(c);
    }
    return taktor::Utf8FromText(out);
}

std::string SanitiseText(const std::string& text) {
    std::string line = OneLineText(text);
    std::replace(line.begin(), line.end(), '(', '[');
    std::replace(line.begin(), line.end(), ')', ']');
    return line;
}

bool IsPrinterPort(const std::string& port) {
    return UpperCaseAscii(OneLineText(port)).compare(0, 3, "LPT") == 0;
}

std::string FormatPortLine(const PortRecord& record) {
    std::string description;
    if (record.usb) {
        description = CableDescription(RecogniseCable(*record.usb));
    }
    if (description.empty()) {
        description = UpperCaseAscii(SanitiseText(record.description));
    }
    if (description.empty()) {
        description = kFallbackDescription;
    }
    return taktor::FormatListLine(description, SanitiseText(record.port));
}

bool PortNameLess(const std::string& a, const std::string& b) {
    const auto [textA, numberA] = SplitTrailingNumber(a);
    const auto [textB, numberB] = SplitTrailingNumber(b);
    if (const int byText = textA.compare(textB); byText != 0) {
        return byText < 0;
    }
    if (const int byNumber = CompareNumbers(numberA, numberB); byNumber != 0) {
        return byNumber < 0;
    }
    return a < b;  // COM01 and COM1: any fixed order will do
}

std::string FormatPortList(std::vector<PortRecord> records) {
    records.erase(std::remove_if(records.begin(), records.end(),
                                 [](const PortRecord& r) { return SanitiseText(r.port).empty(); }),
                  records.end());
    std::stable_sort(records.begin(), records.end(), [](const PortRecord& a, const PortRecord& b) {
        return a.removable != b.removable ? b.removable : PortNameLess(a.port, b.port);
    });
    std::string text;
    for (const PortRecord& record : records) {
        text += FormatPortLine(record);
        text += '\n';
    }
    return text;
}

std::optional<std::uint16_t> ParseHex(const std::string& text) {
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : text) {
        const char lower = static_cast<char>(c | 0x20);
        if (c >= '0' && c <= '9') {
            value = value * 16 + static_cast<unsigned>(c - '0');
        } else if (lower >= 'a' && lower <= 'f') {
            value = value * 16 + static_cast<unsigned>(lower - 'a' + 10);
        } else {
            return std::nullopt;
        }
    }
    return static_cast<std::uint16_t>(value);
}

std::optional<UsbId> ParseHardwareId(const std::string& hardwareId) {
    const std::string upper = UpperCaseAscii(hardwareId);
    const std::optional<std::uint16_t> vendor = HexAfter(upper, "VID_");
    const std::optional<std::uint16_t> product = HexAfter(upper, "PID_");
    if (!vendor || !product) {
        return std::nullopt;
    }
    return UsbId{*vendor, *product};
}

std::optional<std::uint16_t> ParseRevision(const std::string& hardwareId) {
    return HexAfter(UpperCaseAscii(hardwareId), "REV_");
}

}  // namespace kanalyst
