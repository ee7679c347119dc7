#include "tools/kanalyst/wine_prefix.h"

#include <algorithm>
#include <map>

#include "tools/kanalyst/sysfs_ports.h"

namespace kanalyst {
namespace {

// A chain of links from comN to the terminal (through /dev/serial/by-id, say) is short.
constexpr int kMaxHops = 8;
constexpr int kMaxPort = 256;

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
// the device directory under a terminal's name. Empty when none does.
std::string TerminalOfLink(UnixFiles& files, std::string path, const std::string& devDir,
                           const std::vector<SysfsTerminal>& terminals) {
    for (int hop = 0; hop < kMaxHops; ++hop) {
        const std::optional<std::string> target = LinkTarget(files, path);
        if (!target) {
            break;
        }
        const std::string name = FileNameOf(*target);
        const bool known = std::any_of(terminals.begin(), terminals.end(),
                                       [&](const SysfsTerminal& t) { return t.name == name; });
        if (known && ResolvePath(files, ParentOf(*target)) == devDir) {
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

DeviceRecord TerminalRecord(const SysfsTerminal& terminal) {
    DeviceRecord device;
    device.description = terminal.product;
    device.usb = terminal.usb;
    device.setupClass = "Ports";
    device.service = terminal.driver;
    device.removable = terminal.usb.has_value();
    device.problemProperty = 0;
    device.presentProperty = true;
    device.terminal = LinuxTerminal{terminal.node, std::string()};
    return device;
}

}  // namespace

std::vector<DeviceRecord> ReadWinePrefixDevices(UnixFiles& files, const WinePrefixLayout& layout) {
    const std::vector<SysfsTerminal> terminals =
        ScanSysfsTerminals(files, layout.sysfs, layout.dev);
    const std::string devDir = ResolvePath(files, layout.dev);
    const std::string dosdevices = JoinPath(layout.prefix, "dosdevices");

    // The lowest port number leading to each terminal, and the highest port number in use.
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

    std::vector<DeviceRecord> devices;
    for (const SysfsTerminal& terminal : terminals) {
        DeviceRecord device = TerminalRecord(terminal);
        if (portOf.count(terminal.name) != 0) {
            device.port = "COM" + std::to_string(portOf[terminal.name]);
        } else {
            device.terminal->linkCommand = "ln -s " + ShellPath(terminal.node, layout.home) + " " +
                                           ShellPath(JoinPath(dosdevices, freePort), layout.home);
        }
        devices.push_back(std::move(device));
    }
    for (const SysfsUsbAdapter& adapter : ScanSysfsUsbAdapters(files, layout.sysfs)) {
        if (std::any_of(terminals.begin(), terminals.end(),
                        [&](const SysfsTerminal& t) { return t.usbDevice == adapter.directory; })) {
            continue;
        }
        DeviceRecord device;
        device.description = adapter.product;
        device.usb = adapter.usb;
        device.service = adapter.driver;
        device.removable = true;
        device.presentProperty = true;
        device.terminal = LinuxTerminal{};
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
