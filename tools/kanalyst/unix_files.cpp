#include "tools/kanalyst/unix_files.h"

#include <algorithm>

namespace kanalyst {
namespace {

std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        if (end > start) {
            parts.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

}  // namespace

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (!dir.empty() && dir.back() == '/') {
        return dir + name;
    }
    return dir + "/" + name;
}

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return std::string();
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
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

}  // namespace kanalyst
