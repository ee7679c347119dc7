#include "tools/kanalyst/posix/local_files_posix.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace kanalyst {
namespace fs = std::filesystem;

std::vector<std::string> LocalFiles::ListDirectory(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator entries(dir, ec);
    for (; !ec && entries != fs::directory_iterator(); entries.increment(ec)) {
        names.push_back(entries->path().filename().string());
    }
    return names;
}

std::optional<std::string> LocalFiles::ReadLink(const std::string& path) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(path, ec);
    if (ec) {
        return std::nullopt;
    }
    return target.string();
}

std::optional<std::string> LocalFiles::ReadSmallFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return std::nullopt;
    }
    char buffer[4096];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
    std::fclose(f);
    return std::string(buffer, n);
}

bool LocalFiles::Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::string LocalFiles::RealDirectory(const std::string& dir) {
    std::error_code ec;
    const fs::path real = fs::canonical(dir, ec);
    return !ec && fs::is_directory(real, ec) ? real.string() : std::string();
}

}  // namespace kanalyst
