// One device as Windows describes it, with the readings of its state that may or may not be
// there, and what follows from them: is it connected, its problem code, the state of its driver,
// what kind of adapter it is, and whether its port goes into listport.txt.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/kanalyst/port_list.h"

namespace kanalyst {

// What CM_Get_DevNode_Status gave: its return code and the two words it should have written.
// The caller presets both words to kNotWritten, because a stub may answer success and write
// nothing.
struct NodeStatus {
    static constexpr std::uint32_t kNotAsked = 0xFFFFFFFF;
    static constexpr std::uint32_t kNotWritten = 0xFFFFFFFF;
    std::uint32_t result = kNotAsked;
    std::uint32_t status = kNotWritten;
    std::uint32_t problem = kNotWritten;
};

// The outcome of opening a device's port once, as a program would.
enum class PortOpen {
    NotTried,  // not a connected USB port, or no port at all
    Free,      // it opened, so no other program holds it
    Busy,      // access denied, also after a second try: another program holds it
    Missing,   // no such port in the system
    Failed,    // another error; openError has it
    NoAnswer,  // the open did not return within the time limit
};

struct DeviceRecord {
    std::string instanceId;      // USB\VID_1A86&PID_7523\5&2B3C7D0&0&2
    std::string description;     // the device description, from the driver or the device
    std::string busDescription;  // the product string the USB device reports about itself
    std::optional<UsbId> usb;
    std::optional<std::uint16_t> revision;  // REV_xxxx of the hardware ids
    std::string setupClass;  // "Ports", "USB"...; empty for a device that no driver has claimed
    std::string service;     // the function driver's service; empty without one
    std::string driverVersion;
    std::string port;  // PortName (COM3); empty when the device has none
    std::optional<std::uint32_t> configFlags;
    // Read as device properties.
    std::optional<std::uint32_t> problemProperty;
    std::optional<bool> presentProperty;
    std::optional<std::uint64_t> lastArrival;  // local time, 100 ns units since 1601
    std::optional<std::uint64_t> lastRemoval;
    // The fallback for problem and presence.
    NodeStatus node;
    // The test open of its port.
    PortOpen open = PortOpen::NotTried;
    std::uint32_t openError = 0;
};

// Device Manager's problem codes that the diagnosis tells apart.
inline constexpr std::uint32_t kProblemNotConfigured = 1;
inline constexpr std::uint32_t kProblemFailedStart = 10;
inline constexpr std::uint32_t kProblemNeedRestart = 14;
inline constexpr std::uint32_t kProblemDisabled = 22;
inline constexpr std::uint32_t kProblemFailedInstall = 28;
inline constexpr std::uint32_t kProblemFailedPostStart = 43;
inline constexpr std::uint32_t kProblemPhantom = 45;
inline constexpr std::uint32_t kProblemUnsignedDriver = 52;

// The device's problem code: the property when it was read, else the node status when it was
// really written, else a disabled or failed installation in the config flags; nothing when none
// of them tells. 0 means the device works.
std::optional<std::uint32_t> ProblemCode(const DeviceRecord& device);

// Whether the device is connected now: the property, else code 45 ("not connected"), else the
// node status (written: yes; no such node: no); nothing when none of them tells.
std::optional<bool> IsConnected(const DeviceRecord& device);

enum class DriverState {
    Working,          // no problem code
    NoDriver,         // code 28 or 1, or no driver and no setup class at all
    ProlificRefused,  // code 10 on a Prolific chip whose driver says it refuses it
    StartFailed,      // code 10
    Disabled,         // code 22
    DeviceFailed,     // code 43
    NeedsRestart,     // code 14
    Unsigned,         // code 52
    OtherProblem,     // any other code
    Unread,           // the state could not be read, or the device is not connected
};

// From the problem code, the vendor, the descriptions (for Prolific's refusal only), the setup
// class and the service.
DriverState StateOfDriver(const DeviceRecord& device);

// The problem code in Russian words as Device Manager states it, with the code: "драйверы для
// устройства не установлены (код 28)".
std::string ProblemWords(std::uint32_t code);

enum class AdapterKind {
    None,          // not a USB-serial adapter
    Cable,         // one of the two cables the configurator knows
    Foreign,       // a USB-serial adapter of another type
    Unidentified,  // a USB device Windows could not identify (code 43, no ids of its own)
};

// Classified by ids, setup class and problem code, never by description.
AdapterKind KindOfAdapter(const DeviceRecord& device);

// The chip by its USB ids: "CH340", "Prolific PL2303GT", "FTDI FT232R".
std::string ChipName(const DeviceRecord& device);

// For 067B:2303, the chip family its revision suggests ("вероятно PL2303HXD, ..."); otherwise
// empty.
std::string LikelyFamily(const DeviceRecord& device);

// Of the Ports (COM and LPT) setup class.
bool IsPortsClass(const DeviceRecord& device);

// True when the device's port goes into listport.txt: a Ports-class device with a port name that
// is not a printer port, not known to be disconnected and not known to have a problem. When
// presence or problem cannot be read, the port is listed.
bool IsListed(const DeviceRecord& device);

// The listed ports as list records, in device order.
std::vector<PortRecord> ListedPorts(const std::vector<DeviceRecord>& devices);

}  // namespace kanalyst
