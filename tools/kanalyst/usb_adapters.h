// The USB-serial converters Kanalyst knows by their USB ids: the two cables the configurator
// works with and the common converters of other types. The list and the report both read this
// one table.
#pragma once

#include <cstdint>

namespace kanalyst {

// USB vendor and product id of a device.
struct UsbId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

// The two cable adapters the configurator knows; Unknown for every other device.
enum class Cable { Unknown, Prolific, Ch340 };

struct KnownAdapter {
    std::uint16_t vendor;
    std::uint16_t product;
    Cable cable;       // Unknown: a converter of another type, which the configurator does not use
    const char* chip;  // "CH340", "Prolific PL2303GT", "FTDI FT232R"
};

// The table's entry for these ids, or nullptr.
const KnownAdapter* FindKnownAdapter(const UsbId& id);

// The cable a vendor:product pair belongs to.
Cable RecogniseCable(const UsbId& id);

}  // namespace kanalyst
