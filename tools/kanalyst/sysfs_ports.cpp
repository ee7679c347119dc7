#include "tools/kanalyst/sysfs_ports.h"

#include <cstdio>
#include <optional>
#include <string>
#include <system_error>

namespace kanalyst {
namespace fs = std::filesystem;
namespace {

// A bound on the walk up: a terminal sits a few levels below its USB device (port, interface).
constexpr int kMaxWalk = 16;

// The text of a sysfs attribute without its trailing line end; empty when it cannot be read.
std::string ReadAttribute(const fs::path& file) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (f == nullptr) {
        return std::string();
    }
    char buffer[4096];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
    std::fclose(f);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

std::optional<std::uint16_t> ReadHexAttribute(const fs::path& file) {
    const std::string text = ReadAttribute(file);
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

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// True when path lies strictly below root (both canonical).
bool LiesBelow(const fs::path& path, const fs::path& root) {
    auto p = path.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++p) {
        if (p == path.end() || *p != *r) {
            return false;
        }
    }
    return p != path.end();
}

// Fills in ids and product string from the USB device above the terminal's device directory.
void ReadUsbDevice(const fs::path& terminal, const fs::path& root, PortRecord& record) {
    std::error_code ec;
    fs::path dir = fs::canonical(terminal / "device", ec);
    for (int step = 0; !ec && step < kMaxWalk && LiesBelow(dir, root); ++step) {
        if (fs::exists(dir / "idVendor", ec)) {
            const std::optional<std::uint16_t> vendor = ReadHexAttribute(dir / "idVendor");
            const std::optional<std::uint16_t> product = ReadHexAttribute(dir / "idProduct");
            if (vendor && product) {
                record.usb = UsbId{*vendor, *product};
            }
            record.description = ReadAttribute(dir / "product");
            return;
        }
        dir = dir.parent_path();
    }
}

}  // namespace

std::vector<PortRecord> ScanSysfsPorts(const fs::path& sysfsRoot, const fs::path& devRoot) {
    std::vector<PortRecord> records;
    std::error_code ec;
    const fs::path root = fs::canonical(sysfsRoot, ec);
    if (ec) {
        return records;
    }
    fs::directory_iterator entries(root / "class" / "tty", ec);
    for (; !ec && entries != fs::directory_iterator(); entries.increment(ec)) {
        const std::string name = entries->path().filename().string();
        if (!StartsWith(name, "ttyUSB") && !StartsWith(name, "ttyACM")) {
            continue;
        }
        const fs::path node = devRoot / name;
        std::error_code nodeError;
        if (!fs::exists(node, nodeError)) {
            continue;
        }
        PortRecord record;
        record.port = node.string();
        ReadUsbDevice(entries->path(), root, record);
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace kanalyst
