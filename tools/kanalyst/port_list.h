// The port list that Kanalyst writes into listport.txt: the USB-serial converters it knows by
// their USB ids (the two cables the configurator works with and the common converters of other
// types, in one table that the list and the report both read), one record per serial port, and
// the text form of the list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// One serial port as the system reports it. Texts are UTF-8.
struct PortRecord {
    std::string description;   // as the driver or the device gives it; may be empty
    std::optional<UsbId> usb;  // when the port sits on a USB device with known ids
    std::string port;          // COM3 on Windows, /dev/ttyUSB0 on Linux
    bool removable = false;    // the system says that its device can be unplugged
};

// The description the configurator searches for (the cables of common/list_file.h, as UTF-8);
// empty for an unknown adapter.
std::string CableDescription(Cable cable);

// Stands in for a port whose description is empty.
inline constexpr const char* kFallbackDescription = "SERIAL PORT";

// Maps a-z to A-Z and leaves every other byte alone. Deliberately blind to locale: under
// Turkish rules a locale-aware mapping would turn "i" into a dotted capital and break the match.
std::string UpperCaseAscii(std::string text);

// Makes a text one line: malformed UTF-8 becomes U+FFFD (one per malformed sequence, as
// TextFromUtf8 decodes it), control characters and line or paragraph separators become blanks,
// runs of blanks shrink to one, and blanks at either end go.
std::string OneLineText(const std::string& text);

// OneLineText, with "(" and ")" turned into "[" and "]" so that the text can stand in a list
// line: the reader takes the port name from the first pair of round brackets.
std::string SanitiseText(const std::string& text);

// A printer port (LPT1...), which shares the Ports setup class with the serial ports.
bool IsPrinterPort(const std::string& port);

// The record's list line (FormatListLine), without a line end. The description is the cable's
// canonical one for a recognised adapter, otherwise the sanitised description upper-cased.
std::string FormatPortLine(const PortRecord& record);

// Order of ports in the list: by the text before the trailing number, then by that number, so
// COM2 comes before COM10 and /dev/ttyACM0 before /dev/ttyUSB0.
bool PortNameLess(const std::string& a, const std::string& b);

// The whole file: one line per port, each ending in LF: first the ports of devices not known to
// be removable, then those of removable ones, each group in port order. The configurator takes
// the last cable line, so a chip built into the computer never wins over a cable plugged in.
// Records without a port name are left out, since the configurator could do nothing with them.
std::string FormatPortList(std::vector<PortRecord> records);

// One to four hex digits in either case and nothing else, as sysfs writes an id ("067b").
std::optional<std::uint16_t> ParseHex(const std::string& text);

// Vendor and product id from a Windows hardware id such as "USB\VID_067B&PID_2303&REV_0300" or
// "FTDIBUS\COMPORT&VID_0403&PID_6001" (case ignored); nothing when the id holds none.
std::optional<UsbId> ParseHardwareId(const std::string& hardwareId);

// The revision in an id such as "USB\VID_067B&PID_2303&REV_0300" (case ignored), or nothing.
std::optional<std::uint16_t> ParseRevision(const std::string& hardwareId);

}  // namespace kanalyst
