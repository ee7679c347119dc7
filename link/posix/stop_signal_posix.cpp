// The stop signal on POSIX: a pipe that becomes readable once the signal is set, in the poll set
// of every wait of the serial backend.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

#include "link/stop_signal.h"

namespace taktor {

StopSignal::StopSignal() {
    int fds[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wait_ = fds[0];
        post_ = fds[1];
    }
}

StopSignal::~StopSignal() {
    for (const std::intptr_t fd : {wait_, post_}) {
        if (fd >= 0) {
            close(static_cast<int>(fd));
        }
    }
}

bool StopSignal::Ready() const {
    return wait_ >= 0;
}

void StopSignal::Set() {
    if (!set_.exchange(true) && post_ >= 0) {
        const char byte = 1;
        while (write(static_cast<int>(post_), &byte, 1) < 0 && errno == EINTR) {
        }
    }
}

}  // namespace taktor
