#include "tools/kanalyst/linux_side.h"

#include <algorithm>
#include <map>

namespace kanalyst {
namespace {

// Unix path arithmetic: "/a/b" and "c" give "/a/b/c"; the last component of "/dev/ttyUSB0" is
// "ttyUSB0" and its parent "/dev" (the parent of "/dev" is "/"); a link's target as an absolute
// path (a relative target counts from the link's directory), nothing when path is not one;
// whether path lies strictly below dir, component by component.
std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts(1);
    for (const char c : path) {
        if (c != '/') {
            parts.back() += c;
        } else if (!parts.back().empty()) {
            parts.emplace_back();
        }
    }
    if (parts.back().empty()) {
        parts.pop_back();
    }
    return parts;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    return dir + (!dir.empty() && dir.back() == '/' ? "" : "/") + name;
}

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string()
           : slash == 0               ? std::string("/")
                                      : path.substr(0, slash);
}

std::optional<std::string> LinkTarget(UnixFiles& files, const std::string& path) {
    std::optional<std::string> target = files.ReadLink(path);
    if (target && !target->empty() && target->front() != '/') {
        target = JoinPath(ParentOf(path), *target);
    }
    return target;
}

bool LiesBelow(const std::string& path, const std::string& dir) {
    const std::vector<std::string> p = Components(path);
    const std::vector<std::string> d = Components(dir);
    return p.size() > d.size() && std::equal(d.begin(), d.end(), p.begin());
}

// A terminal sits a few levels below its USB device (port, interface); a chain of links from
// comN to the terminal (through /dev/serial/by-id, say) is short.
constexpr int kMaxWalk = 16;
constexpr int kMaxHops = 8;
constexpr int kMaxPort = 256;

bool StartsWith(const std::string& text, const std::string& start) {
    return text.rfind(start, 0) == 0;
}

// The text of a sysfs attribute without its trailing line end; empty when it cannot be read.
std::string ReadAttribute(UnixFiles& files, const std::string& dir, const char* name) {
    std::string text = files.ReadSmallFile(JoinPath(dir, name)).value_or(std::string());
    return text.erase(text.find_last_not_of("\n\r ") + 1);
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
    int number =
        name.size() > 3 && name.size() <= 6 && UpperCaseAscii(name.substr(0, 3)) == "COM" ? 0 : -1;
    for (std::size_t k = 3; number >= 0 && k < name.size(); ++k) {
        number = name[k] >= '0' && name[k] <= '9' ? number * 10 + (name[k] - '0') : -1;
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

// Wine's mount manager, at each start of Wine, links the terminals it finds as com1, com2...
// in this order, each run of numbers from 0 up to the first node that is missing (skipping the
// numbers that HKLM\Software\Wine\Ports gives, which this inference does not read).
constexpr const char* kDetectedTerminals[] = {"ttyS", "ttyUSB", "ttyACM"};

// Whether the user is in group dialout: its id among the Gid and Groups of /proc/self/status,
// which under Wine is the wineserver's, running with the same user and groups.
bool InDialout(UnixFiles& files) {
    const std::string group = "\n" + files.ReadSmallFile("/etc/group").value_or("");
    const std::size_t at = group.find("\ndialout:");
    const std::size_t field = at == std::string::npos ? at : group.find(':', at + 9);
    if (field == std::string::npos) {
        return false;
    }
    const std::string gid =
        group.substr(field + 1, group.find_first_of(":\n", field + 1) - field - 1);
    const std::string status = "\n" + files.ReadSmallFile("/proc/self/status").value_or("");
    for (const std::string key : {"\nGid:", "\nGroups:"}) {
        const std::size_t line = status.find(key);
        std::string ids =
            line == std::string::npos
                ? std::string()
                : status.substr(line + key.size(), status.find('\n', line + 1) - line - key.size());
        std::replace(ids.begin(), ids.end(), '\t', ' ');
        if (!gid.empty() && (" " + ids + " ").find(" " + gid + " ") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The command that gives a terminal a COM port for good: an entry of HKLM\Software\Wine\Ports,
// which Wine's mount manager links at each start and keeps its number from the ports it finds
// itself. Its target is the name under /dev/serial/by-id where the adapter has a serial number
// (names without one collide between two of the same kind), else the node.
std::string LastingPortCommand(UnixFiles& files, const LinuxLayout& layout,
                               const std::string& devDir, const DeviceRecord& terminal,
                               const std::string& serial, int number) {
    std::string target = terminal.terminal->node;
    const std::string byId = JoinPath(layout.dev, "serial/by-id");
    for (const std::string& entry :
         serial.empty() ? std::vector<std::string>() : files.ListDirectory(byId)) {
        const std::optional<std::string> linked = LinkTarget(files, JoinPath(byId, entry));
        if (linked && FileNameOf(*linked) == FileNameOf(target) &&
            files.RealDirectory(ParentOf(*linked)) == devDir) {
            target = JoinPath(byId, entry);
            break;
        }
    }
    const std::string prefix = layout.prefix == JoinPath(layout.home, ".wine")
                                   ? std::string()
                                   : "WINEPREFIX=" + ShellPath(layout.prefix, layout.home) + " ";
    return prefix + "wine reg add 'HKLM\\Software\\Wine\\Ports' /v COM" + std::to_string(number) +
           " /d " + ShellPath(target, layout.home) + " /f";
}

// Gives each visible terminal the lowest-numbered comN of the prefix that leads to it, and the
// others the command that gives them one, numbered above the highest port of the prefix. When
// the mount manager cannot tell where links lead (its query is Wine's own and older releases lack
// it; the prefix's c: is always a link), the links are inferred from the nodes in the order the
// mount manager makes them, for those of the prefix's comN that exist; nothing is opened.
bool LinkComPorts(UnixFiles& files, const LinuxLayout& layout, std::vector<DeviceRecord>& terminals,
                  const std::vector<std::string>& serials) {
    const std::string devDir = files.RealDirectory(layout.dev);
    const std::string dosdevices = JoinPath(layout.prefix, "dosdevices");
    const std::vector<std::string> entries = files.ListDirectory(dosdevices);
    const bool inferred = !files.ReadLink(JoinPath(dosdevices, "c:"));
    std::map<std::string, int> portOf;
    int highest = 0;
    for (const std::string& entry : entries) {
        const int number = ComNumber(entry);
        highest = std::max(highest, number);
        const std::string name =
            number == 0 || inferred
                ? std::string()
                : TerminalOfLink(files, JoinPath(dosdevices, entry), devDir, terminals);
        if (!name.empty() && (portOf.count(name) == 0 || number < portOf[name])) {
            portOf[name] = number;
        }
    }
    int number = 0;
    for (const char* kind : kDetectedTerminals) {
        for (int k = 0; inferred && files.Exists(JoinPath(layout.dev, kind + std::to_string(k)));
             ++k) {
            const std::string com = "com" + std::to_string(++number);
            if (std::count(entries.begin(), entries.end(), com) != 0) {
                portOf.emplace(kind + std::to_string(k), number);
            }
        }
    }
    for (std::size_t k = 0; k < terminals.size(); ++k) {
        LinuxTerminal& terminal = *terminals[k].terminal;
        const auto port = portOf.find(FileNameOf(terminal.node));
        if (port != portOf.end() && terminal.visible) {
            terminals[k].port = "COM" + std::to_string(port->second);
        } else if (terminal.visible) {
            terminal.linkCommand = LastingPortCommand(files, layout, devDir, terminals[k],
                                                      inferred ? "" : serials[k], highest + 1);
        }
    }
    return inferred;
}

}  // namespace

LinuxSide ReadLinuxSide(UnixFiles& files, const LinuxLayout& layout) {
    LinuxSide side;
    std::vector<DeviceRecord>& devices = side.devices;
    std::vector<std::string> usbDirs, serials;  // of the terminals' USB devices
    const std::string root = files.RealDirectory(layout.sysfs);
    if (root.empty()) {
        return side;
    }
    side.read = true;
    const std::string classDir = JoinPath(root, "class/tty");
    for (const std::string& name : files.ListDirectory(classDir)) {
        if (!StartsWith(name, "ttyUSB") && !StartsWith(name, "ttyACM")) {
            continue;
        }
        const std::string node = JoinPath(layout.dev, name);
        DeviceRecord device;
        device.setupClass = "Ports";
        device.problemProperty = 0;
        device.presentProperty = true;
        device.terminal = LinuxTerminal{node, std::string(), files.Exists(node)};
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
        serials.push_back(device.usb ? ReadAttribute(files, dir, "serial") : std::string());
        devices.push_back(std::move(device));
    }
    side.linksInferred = LinkComPorts(files, layout, devices, serials);
    side.inDialout = InDialout(files);

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
    return side;
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
