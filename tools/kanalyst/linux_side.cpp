#include "tools/kanalyst/linux_side.h"

#include <algorithm>
#include <map>

namespace kanalyst {
namespace {

// A terminal sits a few levels below its USB device (port, interface); a chain of links from
// comN to the terminal (through /dev/serial/by-id, say) is short.
constexpr int kMaxWalk = 16;
constexpr int kMaxHops = 8;
constexpr int kMaxPort = 256;
// Wine links a port to a terminal at each of its starts as com1, com2... (the built-in ports
// first); a port added by hand gets a number above those: 33 or more.
constexpr int kFirstHandMadePort = 33;

bool StartsWith(const std::string& text, const std::string& start) {
    return text.rfind(start, 0) == 0;
}

// The text of a sysfs attribute without its trailing line end; empty when it cannot be read.
std::string ReadAttribute(UnixFiles& files, const std::string& dir, const char* name) {
    std::string text = files.ReadSmallFile(JoinPath(dir, name)).value_or(std::string());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

std::optional<UsbId> ReadUsbId(UnixFiles& files, const std::string& dir) {
    const std::optional<std::uint16_t> vendor = ParseHex(ReadAttribute(files, dir, "idVendor"));
    const std::optional<std::uint16_t> product = ParseHex(ReadAttribute(files, dir, "idProduct"));
    if (!vendor || !product) {
        return std::nullopt;
    }
    return UsbId{*vendor, *product};
}

// The name of the driver a device directory is bound to ("driver" links to the driver's
// directory); empty when none is.
std::string DriverOf(UnixFiles& files, const std::string& dir) {
    return FileNameOf(files.RealDirectory(JoinPath(dir, "driver")));
}

// The number of "comN" (Wine writes it in lower case), or 0.
int ComNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || UpperCaseAscii(name.substr(0, 3)) != "COM") {
        return 0;
    }
    int number = 0;
    for (std::size_t k = 3; k < name.size(); ++k) {
        if (name[k] < '0' || name[k] > '9') {
            return 0;
        }
        number = number * 10 + (name[k] - '0');
    }
    return number >= 1 && number <= kMaxPort ? number : 0;
}

// The terminal a dosdevices entry leads to: the first target on its chain of links that lies in
// the device directory under the name of one of the terminals. Empty when none does.
std::string TerminalOfLink(UnixFiles& files, std::string path, const std::string& devDir,
                           const std::vector<DeviceRecord>& terminals) {
    for (int hop = 0; hop < kMaxHops; ++hop) {
        const std::optional<std::string> target = LinkTarget(files, path);
        if (!target) {
            break;
        }
        const std::string name = FileNameOf(*target);
        const bool known = std::any_of(
            terminals.begin(), terminals.end(),
            [&](const DeviceRecord& d) { return FileNameOf(d.terminal->node) == name; });
        if (known && files.RealDirectory(ParentOf(*target)) == devDir) {
            return name;
        }
        path = *target;
    }
    return std::string();
}

// A path as a shell command takes it: quoted unless it is plain, "~/" for the home directory.
std::string ShellPath(const std::string& path, const std::string& home) {
    const auto quoted = [](const std::string& text) {
        const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '/' || c == '.' || c == '_' || c == '-' || c == ':';
        });
        return plain ? text : "'" + text + "'";
    };
    if (!home.empty() && LiesBelow(path, home)) {
        return "~/" + quoted(path.substr(home.size() + (home.back() == '/' ? 0 : 1)));
    }
    return quoted(path);
}

// Gives each terminal the lowest-numbered comN of the prefix that leads to it, and the others
// the command that links one, numbered above the highest port of the prefix.
void LinkComPorts(UnixFiles& files, const LinuxLayout& layout,
                  std::vector<DeviceRecord>& terminals) {
    const std::string devDir = files.RealDirectory(layout.dev);
    const std::string dosdevices = JoinPath(layout.prefix, "dosdevices");
    std::map<std::string, int> portOf;
    int highest = 0;
    for (const std::string& entry : files.ListDirectory(dosdevices)) {
        const int number = ComNumber(entry);
        if (number == 0) {
            continue;
        }
        highest = std::max(highest, number);
        const std::string name =
            TerminalOfLink(files, JoinPath(dosdevices, entry), devDir, terminals);
        if (!name.empty() && (portOf.count(name) == 0 || number < portOf[name])) {
            portOf[name] = number;
        }
    }
    const std::string freePort = "com" + std::to_string(std::max(kFirstHandMadePort, highest + 1));
    for (DeviceRecord& device : terminals) {
        const std::string name = FileNameOf(device.terminal->node);
        if (portOf.count(name) != 0) {
            device.port = "COM" + std::to_string(portOf[name]);
        } else {
            device.terminal->linkCommand = "ln -s " +
                                           ShellPath(device.terminal->node, layout.home) + " " +
                                           ShellPath(JoinPath(dosdevices, freePort), layout.home);
        }
    }
}

}  // namespace

std::vector<DeviceRecord> ReadLinuxDevices(UnixFiles& files, const LinuxLayout& layout) {
    std::vector<DeviceRecord> devices;
    std::vector<std::string> usbDirs;  // of the terminals' USB devices
    const std::string root = files.RealDirectory(layout.sysfs);
    if (root.empty()) {
        return devices;
    }
    const std::string classDir = JoinPath(root, "class/tty");
    for (const std::string& name : files.ListDirectory(classDir)) {
        const std::string node = JoinPath(layout.dev, name);
        if ((!StartsWith(name, "ttyUSB") && !StartsWith(name, "ttyACM")) || !files.Exists(node)) {
            continue;
        }
        DeviceRecord device;
        device.setupClass = "Ports";
        device.problemProperty = 0;
        device.presentProperty = true;
        device.terminal = LinuxTerminal{node, std::string()};
        const std::string deviceDir = files.RealDirectory(JoinPath(classDir, name + "/device"));
        device.service = DriverOf(files, deviceDir);
        std::string dir = deviceDir;
        for (int step = 0; step < kMaxWalk && LiesBelow(dir, root); ++step, dir = ParentOf(dir)) {
            if (files.Exists(JoinPath(dir, "idVendor"))) {
                device.usb = ReadUsbId(files, dir);
                device.description = ReadAttribute(files, dir, "product");
                break;
            }
        }
        device.removable = device.usb.has_value();
        usbDirs.push_back(device.usb ? dir : std::string());
        devices.push_back(std::move(device));
    }
    LinkComPorts(files, layout, devices);

    const std::string busDir = JoinPath(root, "bus/usb/devices");
    for (const std::string& name : files.ListDirectory(busDir)) {
        // The ids first, so that only a known adapter's directory is resolved.
        const std::optional<UsbId> usb = ReadUsbId(files, JoinPath(busDir, name));
        const std::string dir = usb && FindKnownAdapter(*usb) != nullptr
                                    ? files.RealDirectory(JoinPath(busDir, name))
                                    : std::string();
        if (!LiesBelow(dir, root) || std::count(usbDirs.begin(), usbDirs.end(), dir) != 0) {
            continue;
        }
        DeviceRecord device;
        device.description = ReadAttribute(files, dir, "product");
        device.usb = usb;
        device.removable = true;
        device.presentProperty = true;
        device.terminal = LinuxTerminal{};
        // The driver that took its first interface; interfaces are named after it: "1-1:1.0".
        std::vector<std::string> interfaces;
        for (const std::string& entry : files.ListDirectory(dir)) {
            if (StartsWith(entry, FileNameOf(dir) + ":")) {
                interfaces.push_back(entry);
            }
        }
        if (!interfaces.empty()) {
            device.service = DriverOf(
                files, JoinPath(dir, *std::min_element(interfaces.begin(), interfaces.end())));
        }
        devices.push_back(std::move(device));
    }
    return devices;
}

void AddUnlistedPorts(std::vector<DeviceRecord>& devices, std::vector<DeviceRecord> found) {
    const std::size_t known = devices.size();
    for (DeviceRecord& device : found) {
        const std::string port = UpperCaseAscii(SanitiseText(device.port));
        const bool seen =
            !port.empty() &&
            std::any_of(devices.begin(), devices.begin() + known, [&](const DeviceRecord& d) {
                return UpperCaseAscii(SanitiseText(d.port)) == port;
            });
        if (!seen) {
            devices.push_back(std::move(device));
        }
    }
}

}  // namespace kanalyst
