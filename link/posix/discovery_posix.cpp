#include "link/posix/discovery_posix.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace taktor {

namespace {

class FileSource : public ByteSource {
public:
    explicit FileSource(int fd) : fd_(fd) {}
    ~FileSource() override { close(fd_); }
    int ReadBytes(std::uint8_t* buffer, int capacity) override {
        for (;;) {
            const ssize_t got = read(fd_, buffer, static_cast<size_t>(capacity));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return got > 0 ? static_cast<int>(got) : 0;
        }
    }

private:
    int fd_;
};

}  // namespace

int PosixDiscovery::RunProgramAndWait(const Text& program, const Text& arguments,
                                      const Text& directory) {
    const std::string path = Utf8FromText(program);
    const std::string argument = Utf8FromText(arguments);
    const std::string workDir = Utf8FromText(directory);
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    if (!argument.empty()) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    // The child reports a failed start through a close-on-exec pipe.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return 0;
    }
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return 0;
    }
    if (child == 0) {
        if (workDir.empty() || chdir(workDir.c_str()) == 0) {
            execv(path.c_str(), argv.data());
        }
        const char failed = 1;
        (void)!write(report[1], &failed, 1);
        _exit(127);
    }
    close(report[1]);
    char failed = 0;
    ssize_t got;
    do {
        got = read(report[0], &failed, 1);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return got == 1 ? 0 : 1;
}

std::unique_ptr<ByteSource> PosixDiscovery::OpenForReading(const Text& path) {
    const int fd = open(Utf8FromText(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<FileSource>(fd);
}

}  // namespace taktor
