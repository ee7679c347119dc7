#include "tools/kanalyst/posix/list_file_posix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/list_file.h"

namespace kanalyst {
namespace {

bool WriteAll(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool WriteListFile(const std::string& directory, const std::string& text) {
    std::string prefix = directory;
    if (!prefix.empty() && prefix.back() != '/') {
        prefix += '/';
    }
    const std::string target = prefix + taktor::Utf8FromText(taktor::kPortListName);
    std::string pattern = target + ".XXXXXX";
    std::vector<char> temp(pattern.begin(), pattern.end());
    temp.push_back('\0');

    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    // mkstemp makes the file private; the list is meant to be read by anyone.
    bool ok = ::fchmod(fd, 0644) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temp.data(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.data());
    }
    return ok;
}

}  // namespace kanalyst
