#include "tools/simulator/pty_controller.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace taktor::sim {
namespace {

using namespace std::chrono_literals;

const std::string kDefaultFrame(
    "\x3C\x00\x05\x00\x3C\x00\x05\x00\x3C\x00\x05\x00\x3C\x00\x05\x00"
    "\x04\x01",
    18);

// The configurator's end of the line, opened on the slave without the channel.
class Peer {
public:
    explicit Peer(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios tio{};
        if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~Peer() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int fd() const { return fd_; }

    bool Write(const std::string& bytes) {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads until `count` bytes came or the time is up.
    std::string Read(std::size_t count, std::chrono::milliseconds timeout = 5000ms) {
        std::string got;
        const auto deadline = Clock::now() + timeout;
        while (got.size() < count && Clock::now() < deadline) {
            pollfd p = {fd_, POLLIN, 0};
            if (poll(&p, 1, 20) > 0) {
                char buffer[512];
                const ssize_t n = read(fd_, buffer, std::min(sizeof(buffer), count - got.size()));
                if (n <= 0) {
                    break;
                }
                got.append(buffer, static_cast<std::size_t>(n));
            }
        }
        return got;
    }

private:
    int fd_;
};

PtyOptions WithBehaviour(const char* name) {
    PtyOptions options;
    options.behaviour = *ParseBehaviour(name);
    return options;
}

TEST(PtyController, StrayLeavesAStaleLineAtStart) {
    PtyController controller(WithBehaviour("stray"));
    Peer peer(controller.SlavePath());
    const std::string stale = StaleLine();
    EXPECT_EQ(peer.Read(stale.size()), stale);
    ASSERT_TRUE(peer.Write(kDefaultFrame));
    EXPECT_EQ(peer.Read(4), "of#\r");
    // Once the line has been quiet for a while, the next stale line waits.
    EXPECT_EQ(peer.Read(stale.size()), stale);
}

// Raw bytes sent; stray bytes dropped; a frame answered and recorded.
TEST(PtyController, ServesTheSlave) {
    std::atomic<std::size_t> reported{0};
    PtyOptions options;
    options.onDiscarded = [&reported](std::size_t count) { reported += count; };
    PtyController controller(options);
    Peer peer(controller.SlavePath());
    controller.Send("leftover");
    EXPECT_TRUE(controller.WaitForOutput(5s));
    EXPECT_EQ(peer.Read(8), "leftover");

    ASSERT_TRUE(peer.Write("\x01\x02\x03"));
    std::this_thread::sleep_for(150ms);  // longer than the frame gap
    ASSERT_TRUE(peer.Write(kDefaultFrame));
    EXPECT_EQ(peer.Read(4), "on#\r");
    EXPECT_EQ(controller.DiscardedBytes(), 3u);
    EXPECT_EQ(reported.load(), 3u);
    const std::vector<ReceivedFrame> frames = controller.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(std::string(frames[0].bytes.begin(), frames[0].bytes.end()), kDefaultFrame);
    EXPECT_TRUE(frames[0].checksumOk);
}

TEST(PtyController, SuspendedLineRefusesTheConfiguratorsWrites) {
    PtyController controller;
    Peer peer(controller.SlavePath());
    fcntl(peer.fd(), F_SETFL, fcntl(peer.fd(), F_GETFL) | O_NONBLOCK);
    ASSERT_TRUE(controller.SuspendLine());
    errno = 0;
    EXPECT_LT(write(peer.fd(), kDefaultFrame.data(), kDefaultFrame.size()), 0);
    EXPECT_EQ(errno, EAGAIN);

    ASSERT_TRUE(controller.ResumeLine());
    ASSERT_TRUE(peer.Write(kDefaultFrame));
    EXPECT_EQ(peer.Read(4), "on#\r");
}

// The link replaces what is at its path and goes with the line: when the cable is pulled (the
// configurator's end sees a hang-up) and when the simulator stops. Plugged in again, a new line
// comes back under the same link.
TEST(PtyController, LinkFollowsTheLine) {
    char directory[] = "/tmp/taktor-sim-test-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string link = std::string(directory) + "/com5";
    ASSERT_EQ(symlink("/nonexistent", link.c_str()), 0);
    struct stat info {};
    {
        PtyOptions options = WithBehaviour("hangup-mid-reply");
        options.linkPath = link;
        PtyController controller(options);
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof(target) - 1), 0);
        EXPECT_EQ(controller.SlavePath(), target);
        Peer peer(link);
        ASSERT_TRUE(peer.Write(kDefaultFrame));
        EXPECT_EQ(peer.Read(3, 2s), "on");  // what was written before the line went
        EXPECT_FALSE(controller.PluggedIn());
        EXPECT_EQ(write(peer.fd(), "x", 1), -1);  // EIO: the other end is gone
        EXPECT_NE(lstat(link.c_str(), &info), 0);

        ASSERT_TRUE(controller.PlugIn());
        controller.SetBehaviour(*ParseBehaviour("confirm"));
        Peer again(link);
        ASSERT_TRUE(again.Write(kDefaultFrame));
        EXPECT_EQ(again.Read(4), "on#\r");
        ASSERT_TRUE(controller.HangUp());  // and by hand
        EXPECT_TRUE(controller.SlavePath().empty());
        EXPECT_TRUE(controller.HangUp());
        ASSERT_TRUE(controller.PlugIn());
        EXPECT_FALSE(controller.SlavePath().empty());
    }
    EXPECT_NE(lstat(link.c_str(), &info), 0);
    rmdir(directory);
}

TEST(PtyController, PacedOutputTakesTheLinesTime) {
    PtyOptions options = WithBehaviour("flood");
    options.paced = true;
    PtyController controller(options);
    Peer peer(controller.SlavePath());
    ASSERT_TRUE(peer.Write(kDefaultFrame));
    ASSERT_TRUE(controller.WaitForFrames(1, 5s));
    const auto start = Clock::now();
    EXPECT_EQ(peer.Read(1000, 10s).size(), 1000u);
    // 1,000 bytes at 9600 baud take about a second; unpaced they come at once.
    EXPECT_GT(Clock::now() - start, 600ms);
}

}  // namespace
}  // namespace taktor::sim
