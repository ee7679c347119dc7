#include "tools/kanalyst/port_list.h"

#include "common/text.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace kanalyst {
namespace {

struct KnownAdapter {
    std::uint16_t vendor;
    std::uint16_t product;
    Cable cable;
};

// Prolific PL2303 in its generations, and the WCH CH340/CH341 with the ids it also ships under.
constexpr KnownAdapter kKnownAdapters[] = {
    {0x067b, 0x2303, Cable::Prolific}, {0x067b, 0x2304, Cable::Prolific},
    {0x067b, 0x23a3, Cable::Prolific}, {0x067b, 0x23b3, Cable::Prolific},
    {0x067b, 0x23c3, Cable::Prolific}, {0x067b, 0x23d3, Cable::Prolific},
    {0x067b, 0x23e3, Cable::Prolific}, {0x067b, 0x23f3, Cable::Prolific},
    {0x1a86, 0x7523, Cable::Ch340},    {0x1a86, 0x7522, Cable::Ch340},
    {0x1a86, 0x5523, Cable::Ch340},    {0x4348, 0x5523, Cable::Ch340},
    {0x9986, 0x7523, Cable::Ch340},    {0x2184, 0x0057, Cable::Ch340},
};

constexpr char32_t kReplacement = 0xFFFD;

// Decodes the code point at text[at], advancing at. A malformed sequence gives U+FFFD and
// consumes one byte, so decoding always moves on.
char32_t NextCodePoint(const std::string& text, std::size_t& at) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        ++at;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    } else {
        ++at;
        return kReplacement;
    }
    if (text.size() - at < length) {
        ++at;
        return kReplacement;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = byte(at + k);
        if ((next & 0xC0) != 0x80) {
            ++at;
            return kReplacement;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++at;
        return kReplacement;
    }
    at += length;
    return cp;
}

bool BreaksLine(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Splits a port name into the text before its trailing digits and those digits.
std::pair<std::string, std::string> SplitTrailingNumber(const std::string& name) {
    std::size_t start = name.size();
    while (start > 0 && IsDigit(name[start - 1])) {
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

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The value of the four hex digits that follow key in an upper-cased hardware id.
std::optional<std::uint16_t> HexAfter(const std::string& upperId, const std::string& key) {
    const std::size_t at = upperId.find(key);
    if (at == std::string::npos || upperId.size() - at - key.size() < 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (std::size_t k = at + key.size(); k < at + key.size() + 4; ++k) {
        const int digit = HexDigit(upperId[k]);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

Cable RecogniseCable(const UsbId& id) {
    for (const KnownAdapter& known : kKnownAdapters) {
        if (known.vendor == id.vendor && known.product == id.product) {
            return known.cable;
        }
    }
    return Cable::Unknown;
}

std::string CableDescription(Cable cable) {
    switch (cable) {
        case Cable::Prolific:
            return "PROLIFIC USB-TO-SERIAL COMM PORT";
        case Cable::Ch340:
            return "USB-SERIAL CH340";
        case Cable::Unknown:
            break;
    }
    return std::string();
}

std::string UpperCaseAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

std::string SanitiseText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    bool pendingBlank = false;
    for (std::size_t at = 0; at < text.size();) {
        char32_t cp = NextCodePoint(text, at);
        if (BreaksLine(cp) || cp == U' ') {
            pendingBlank = true;
            continue;
        }
        if (cp == U'(') {
            cp = U'[';
        } else if (cp == U')') {
            cp = U']';
        }
        if (pendingBlank && !out.empty()) {
            out.push_back(' ');
        }
        pendingBlank = false;
        taktor::AppendUtf8(out, cp);
    }
    return out;
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
    return description + " (" + SanitiseText(record.port) + ")";
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
        return PortNameLess(a.port, b.port);
    });
    std::string text;
    for (const PortRecord& record : records) {
        text += FormatPortLine(record);
        text += '\n';
    }
    return text;
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

}  // namespace kanalyst
