// The few file operations Kanalyst.exe needs on the Unix side of a machine under Wine, through
// Wine's paths to the Unix side; its tests give the same through the local file system.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kanalyst {

// A small file is read up to this many bytes: enough for /etc/group and any sysfs attribute.
inline constexpr unsigned kSmallFileLimit = 65536;

// Paths are absolute Unix paths in UTF-8.
class UnixFiles {
public:
    virtual ~UnixFiles() = default;
    // The names in a directory, without "." and ".."; empty when it cannot be read.
    virtual std::vector<std::string> ListDirectory(const std::string& dir) = 0;
    // The target of a symbolic link as stored in it; nothing when path is not a link.
    virtual std::optional<std::string> ReadLink(const std::string& path) = 0;
    // The text of a small file (up to kSmallFileLimit bytes); nothing when it cannot be read.
    virtual std::optional<std::string> ReadSmallFile(const std::string& path) = 0;
    // Whether something exists at path, links followed.
    virtual bool Exists(const std::string& path) = 0;
    // The directory's path with every link resolved, as realpath(3) gives it; empty when path
    // is not a directory. Never opens anything else: opening a terminal raises its DTR.
    virtual std::string RealDirectory(const std::string& dir) = 0;
};

}  // namespace kanalyst
