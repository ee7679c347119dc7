#include "tools/kanalyst/unix_files.h"

#include <algorithm>

namespace kanalyst {
namespace {

// More links than this in one path is a loop (Linux gives up after 40 as well).
constexpr int kMaxLinks = 40;

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

std::string ResolvePath(UnixFiles& files, const std::string& path) {
    // The components still to walk, the next one last.
    std::vector<std::string> pending = Components(path);
    std::reverse(pending.begin(), pending.end());
    std::string resolved;  // empty stands for "/"
    int links = 0;
    while (!pending.empty()) {
        const std::string part = pending.back();
        pending.pop_back();
        if (part == ".") {
            continue;
        }
        if (part == "..") {
            resolved = ParentOf(resolved);
            resolved = resolved == "/" ? std::string() : resolved;
            continue;
        }
        const std::string next = resolved + "/" + part;
        const std::optional<std::string> target = files.ReadLink(next);
        if (!target || target->empty()) {
            resolved = next;
            continue;
        }
        if (++links > kMaxLinks) {
            return std::string();
        }
        if (target->front() == '/') {
            resolved.clear();
        }
        const std::vector<std::string> parts = Components(*target);
        pending.insert(pending.end(), parts.rbegin(), parts.rend());
    }
    return resolved.empty() ? std::string("/") : resolved;
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
