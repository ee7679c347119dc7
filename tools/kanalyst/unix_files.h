// The few file operations Kanalyst needs on the Unix side of a machine, and Unix path arithmetic
// over them: Kanalyst.exe reads sysfs and a Wine prefix through Wine's paths to the Unix side; its
// tests give the same through the local file system.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kanalyst {

// Paths are absolute Unix paths in UTF-8.
class UnixFiles {
public:
    virtual ~UnixFiles() = default;
    // The names in a directory, without "." and ".."; empty when it cannot be read.
    virtual std::vector<std::string> ListDirectory(const std::string& dir) = 0;
    // The target of a symbolic link as stored in it; nothing when path is not a link.
    virtual std::optional<std::string> ReadLink(const std::string& path) = 0;
    // The text of a small file (its first 4,096 bytes); nothing when it cannot be read.
    virtual std::optional<std::string> ReadSmallFile(const std::string& path) = 0;
    // Whether something exists at path, links followed.
    virtual bool Exists(const std::string& path) = 0;
    // The directory's path with every link resolved, as realpath(3) gives it; empty when path
    // is not a directory. Never opens anything else: opening a terminal raises its DTR.
    virtual std::string RealDirectory(const std::string& dir) = 0;
};

// "/a/b" and "c" give "/a/b/c".
std::string JoinPath(const std::string& dir, const std::string& name);

// The last component ("ttyUSB0" of "/dev/ttyUSB0") and everything before it ("/dev"; "/" for
// "/dev").
std::string FileNameOf(const std::string& path);
std::string ParentOf(const std::string& path);

// The target of a link as an absolute path: a relative target counts from the link's directory.
// Nothing when path is not a link.
std::optional<std::string> LinkTarget(UnixFiles& files, const std::string& path);

// True when path lies strictly below dir, component by component.
bool LiesBelow(const std::string& path, const std::string& dir);

}  // namespace kanalyst
