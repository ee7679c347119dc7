#include "tools/kanalyst/sysfs_ports.h"

#include <algorithm>

namespace kanalyst {
namespace {

// A bound on the walk up: a terminal sits a few levels below its USB device (port, interface).
constexpr int kMaxWalk = 16;

// The text of a sysfs attribute without its trailing line end; empty when it cannot be read.
std::string ReadAttribute(UnixFiles& files, const std::string& file) {
    std::string text = files.ReadSmallFile(file).value_or(std::string());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

std::optional<std::uint16_t> ReadHexAttribute(UnixFiles& files, const std::string& file) {
    const std::string text = ReadAttribute(files, file);
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return static_cast<std::uint16_t>(value);
}

std::optional<UsbId> ReadUsbId(UnixFiles& files, const std::string& dir) {
    const std::optional<std::uint16_t> vendor = ReadHexAttribute(files, JoinPath(dir, "idVendor"));
    const std::optional<std::uint16_t> product =
        ReadHexAttribute(files, JoinPath(dir, "idProduct"));
    if (!vendor || !product) {
        return std::nullopt;
    }
    return UsbId{*vendor, *product};
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The name of the driver a device directory is bound to ("driver" links to the driver's
// directory); empty when none is.
std::string DriverOf(UnixFiles& files, const std::string& dir) {
    const std::optional<std::string> target = files.ReadLink(JoinPath(dir, "driver"));
    return target ? FileNameOf(*target) : std::string();
}

// Fills in ids, product string and the USB device from the first directory holding idVendor
// above the terminal's device directory.
void ReadUsbDevice(UnixFiles& files, const std::string& deviceDir, const std::string& root,
                   SysfsTerminal& terminal) {
    std::string dir = ResolvePath(files, deviceDir);
    for (int step = 0; step < kMaxWalk && LiesBelow(dir, root); ++step) {
        if (files.Exists(JoinPath(dir, "idVendor"))) {
            terminal.usb = ReadUsbId(files, dir);
            terminal.product = ReadAttribute(files, JoinPath(dir, "product"));
            terminal.usbDevice = dir;
            return;
        }
        dir = ParentOf(dir);
    }
}

}  // namespace

std::vector<SysfsTerminal> ScanSysfsTerminals(UnixFiles& files, const std::string& sysfsRoot,
                                              const std::string& devRoot) {
    std::vector<SysfsTerminal> terminals;
    const std::string root = ResolvePath(files, sysfsRoot);
    const std::string classDir = JoinPath(JoinPath(root, "class"), "tty");
    for (const std::string& name : files.ListDirectory(classDir)) {
        if (!StartsWith(name, "ttyUSB") && !StartsWith(name, "ttyACM")) {
            continue;
        }
        SysfsTerminal terminal;
        terminal.name = name;
        terminal.node = JoinPath(devRoot, name);
        if (!files.Exists(terminal.node)) {
            continue;
        }
        const std::string deviceDir = JoinPath(JoinPath(classDir, name), "device");
        terminal.driver = DriverOf(files, deviceDir);
        ReadUsbDevice(files, deviceDir, root, terminal);
        terminals.push_back(std::move(terminal));
    }
    return terminals;
}

std::vector<SysfsUsbAdapter> ScanSysfsUsbAdapters(UnixFiles& files, const std::string& sysfsRoot) {
    std::vector<SysfsUsbAdapter> adapters;
    const std::string root = ResolvePath(files, sysfsRoot);
    const std::string busDir = JoinPath(root, "bus/usb/devices");
    for (const std::string& name : files.ListDirectory(busDir)) {
        // The ids first: resolving a path costs a link query per component under Wine.
        const std::optional<UsbId> usb = ReadUsbId(files, JoinPath(busDir, name));
        if (!usb || FindKnownAdapter(*usb) == nullptr) {
            continue;
        }
        const std::string dir = ResolvePath(files, JoinPath(busDir, name));
        if (!LiesBelow(dir, root)) {
            continue;
        }
        SysfsUsbAdapter adapter{*usb, ReadAttribute(files, JoinPath(dir, "product")), "", dir};
        // Its interfaces are named after it: "1-1:1.0".
        std::vector<std::string> interfaces;
        for (const std::string& entry : files.ListDirectory(dir)) {
            if (StartsWith(entry, FileNameOf(dir) + ":")) {
                interfaces.push_back(entry);
            }
        }
        if (!interfaces.empty()) {
            adapter.driver = DriverOf(
                files, JoinPath(dir, *std::min_element(interfaces.begin(), interfaces.end())));
        }
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

std::vector<PortRecord> ScanSysfsPorts(UnixFiles& files, const std::string& sysfsRoot,
                                       const std::string& devRoot) {
    std::vector<PortRecord> records;
    for (const SysfsTerminal& terminal : ScanSysfsTerminals(files, sysfsRoot, devRoot)) {
        records.push_back({terminal.product, terminal.usb, terminal.node});
    }
    return records;
}

}  // namespace kanalyst
