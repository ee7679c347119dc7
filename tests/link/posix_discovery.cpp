#include "tests/link/posix_discovery.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace taktor {

namespace {

class FileSource : public ByteSource {
public:
    explicit FileSource(int fd) : fd_(fd) {}
    ~FileSource() override { close(fd_); }
    int ReadBytes(std::uint8_t* buffer, int capacity) override {
        ssize_t got;
        do {
            got = read(fd_, buffer, static_cast<size_t>(capacity));
        } while (got < 0 && errno == EINTR);
        return got > 0 ? static_cast<int>(got) : 0;
    }

private:
    int fd_;
};

}  // namespace

// The directory argument is always empty here, as the configurator gives it: the tool starts in
// the current directory.
int PosixDiscovery::RunProgramAndWait(const Text& program, const Text& arguments, const Text&) {
    std::string path = Utf8FromText(program);
    std::string argument = Utf8FromText(arguments);
    char* argv[] = {&path[0], argument.empty() ? nullptr : &argument[0], nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, path.c_str(), nullptr, nullptr, argv, environ) != 0) {
        return 0;
    }
    // glibc's posix_spawn reports a program that cannot be run as its own failure, above.
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return 1;
}

std::unique_ptr<ByteSource> PosixDiscovery::OpenForReading(const Text& path) {
    const int fd = open(Utf8FromText(path).c_str(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? nullptr : std::make_unique<FileSource>(fd);
}

}  // namespace taktor
