// UnixFiles over the local file system, for the Linux tool.
#pragma once

#include "tools/kanalyst/unix_files.h"

namespace kanalyst {

class LocalFiles : public UnixFiles {
public:
    std::vector<std::string> ListDirectory(const std::string& dir) override;
    std::optional<std::string> ReadLink(const std::string& path) override;
    std::optional<std::string> ReadSmallFile(const std::string& path) override;
    bool Exists(const std::string& path) override;
    std::string RealDirectory(const std::string& dir) override;
};

}  // namespace kanalyst
