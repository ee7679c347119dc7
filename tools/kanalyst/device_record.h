// One device as Windows describes it (or, under Wine, as Linux does), with the readings of its
// state that may or may not be there, and what follows from them: is it connected, its problem
// code, the state of its driver, what kind of adapter it is, and whether its port goes into
// listport.txt.
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

// A local date and time to the minute.
struct LocalTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
};

bool operator<(const LocalTime& a, const LocalTime& b);

// What Linux says of a device read from its sysfs (see linux_side.h).
struct LinuxTerminal {
    std::string node;         // "/dev/ttyUSB0"; empty: the kernel made no terminal for the device
    std::string linkCommand;  // for a terminal that no COM port leads to: the command adding one
    bool visible = true;      // false: sysfs has the terminal, but this Wine sees no such node
};

struct DeviceRecord {
    std::string instanceId;      // USB\VID_1A86&PID_7523\5&2B3C7D0&0&2
    std::string description;     // the device description, from the driver or the device
    std::string friendlyName;    // the name Device Manager shows, often with "(COM5)" at the end
    std::string busDescription;  // the product string the USB device reports about itself
    std::optional<UsbId> usb;
    std::optional<std::uint16_t> revision;  // REV_xxxx of the hardware ids
    std::string setupClass;  // "Ports", "USB"...; empty for a device that no driver has claimed
    std::string service;     // the function driver's service; empty without one
    std::string driverVersion;
    std::string port;  // PortName (COM3); empty when the device has none
    std::optional<std::uint32_t> configFlags;
    // Windows may let the device be unplugged (CM_DEVCAP_REMOVABLE of the device or, for a
    // function of a composite device, of the USB device itself). Built-in devices say no.
    std::optional<bool> removable;
    // Read as device properties; Windows 7 has neither presence nor the two dates.
    std::optional<std::uint32_t> problemProperty;
    std::optional<bool> presentProperty;
    std::optional<LocalTime> lastArrival;
    std::optional<LocalTime> lastRemoval;
    // The fallback for problem and presence, and the only source of "started".
    NodeStatus node;
    // Set for a device read from Linux: its port is a link in the Wine prefix, its service the
    // kernel driver of its terminal ("ch341-uart") or of its USB interface ("usbfs": a program
    // took the device).
    std::optional<LinuxTerminal> terminal;
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

// The problem code Windows reports for the device now: the property when it was read, else the
// node status when it was really written; nothing when neither tells. 0 means no problem.
std::optional<std::uint32_t> ReportedProblem(const DeviceRecord& device);

// ReportedProblem, else a disabled or failed installation in the config flags, which may be
// stale: good enough to explain a device, never to hide its port.
std::optional<std::uint32_t> ProblemCode(const DeviceRecord& device);

// The problem code that stands for the device now: ProblemCode while it is connected (or not
// known to be absent), unless that is 0 or "not connected" (45).
std::optional<std::uint32_t> CurrentProblem(const DeviceRecord& device);

// Whether its driver has started the device (DN_STARTED of the node status); nothing when the
// node status tells nothing.
std::optional<bool> IsStarted(const DeviceRecord& device);

// Whether the device is connected now: the property, else code 45 ("not connected"), else the
// node status (written: yes; no such node: no); nothing when none of them tells.
std::optional<bool> IsConnected(const DeviceRecord& device);

enum class DriverState {
    Working,          // no problem code
    NoDriver,         // code 28 or 1, or no driver and no setup class at all
    ProlificRefused,  // a Prolific chip whose name says that its driver refuses it, any code
    StartFailed,      // code 10
    Disabled,         // code 22
    DeviceFailed,     // code 43
    NeedsRestart,     // code 14
    Unsigned,         // code 52
    OtherProblem,     // any other code
    Unread,           // connected, but the state could not be read
    Absent,           // not connected: the driver is installed, its state means nothing now
};

// From presence, the problem code, the vendor, the names (for Prolific's refusal only), the
// setup class and the service. A device read from Linux works when it has a terminal and has no
// driver otherwise.
DriverState StateOfDriver(const DeviceRecord& device);

// The problem code in Russian words as Device Manager states it, with the code: "драйверы для
// устройства не установлены (код 28)".
std::string ProblemWords(std::uint32_t code);

enum class AdapterKind {
    None,          // not a USB-serial adapter
    Cable,         // one of the two cables the configurator knows
    Foreign,       // a USB-serial adapter of another known type
    Unknown,       // a COM port on a removable USB device of no known type
    Unidentified,  // a USB device Windows could not identify (code 43, no ids of its own)
};

// Classified by ids, setup class, problem code and whether it can be unplugged, never by
// description: a COM port on an unknown USB device counts only when it is removable, so that a
// GPS receiver or modem built into the laptop is not even described. Whether a known chip may be
// blamed is the diagnosis's to say: one that Windows reports as not removable (the firmware's
// word for a DB-9 port or a port replicator built in) never is.
AdapterKind KindOfAdapter(const DeviceRecord& device);

// What the device is: the chip by its USB ids ("CH340", "Prolific PL2303GT", "FTDI FT232R"),
// else the device's own description.
std::string AdapterName(const DeviceRecord& device);

// For 067B:2303, the chip family its revision suggests ("вероятно PL2303HXD, ..."), for the
// revisions known from Prolific's data sheets only; otherwise empty.
std::string LikelyFamily(const DeviceRecord& device);

// Of the Ports (COM and LPT) setup class.
bool IsPortsClass(const DeviceRecord& device);

// True when the device's port goes into listport.txt: a Ports-class device with a port name that
// is not a printer port and not known to be disconnected, unless Windows reports a problem for
// it and has not started it (when the node status tells nothing, the problem alone decides).
// The config flags alone never leave a port out.
bool IsListed(const DeviceRecord& device);

// The listed ports as list records, in device order.
std::vector<PortRecord> ListedPorts(const std::vector<DeviceRecord>& devices);

}  // namespace kanalyst
