#include "tools/kanalyst/usb_adapters.h"

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

}  // namespace kanalyst
