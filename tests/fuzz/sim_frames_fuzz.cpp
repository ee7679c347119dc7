// The simulated controller's frame reader over any bytes arriving at any times: its frames and
// the bytes it drops must be those of a plain model of the line, and only a frame with a good
// checksum is answered.
//
// Input: a behaviour byte, then reads, each a gap in milliseconds since the previous read, a
// length and the bytes. A read without bytes is a wait that ends nothing by itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "tools/simulator/controller_model.h"

namespace {

using taktor::sim::kFrameSize;

// The line as the controller should see it: bytes gather until eighteen make a frame, and a
// partial frame is dropped when more than the frame gap of silence precedes the next read.
struct PlainLine {
    std::vector<std::uint8_t> partial;
    std::size_t dropped = 0;
    std::vector<std::vector<std::uint8_t>> frames;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using std::chrono::milliseconds;
    FuzzedDataProvider input(data, size);
    taktor::sim::Behaviour behaviour;
    behaviour.kind = static_cast<taktor::sim::ReplyKind>(input.ConsumeIntegralInRange<int>(
        0, static_cast<int>(taktor::sim::ReplyKind::ConfirmedMcuDamaged)));
    behaviour.value = input.ConsumeIntegralInRange<int>(1, 4);
    taktor::sim::ControllerModel model;
    taktor::sim::Clock::time_point now{std::chrono::hours(1)};
    model.SetBehaviour(behaviour, now);

    PlainLine line;
    taktor::sim::Clock::time_point lastBytes = now;
    while (input.remaining_bytes() > 0) {
        now += milliseconds(input.ConsumeIntegralInRange<int>(0, 120));
        const std::vector<std::uint8_t> bytes =
            input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 40));

        if (!bytes.empty()) {
            if (now - lastBytes > taktor::sim::ControllerModel::kFrameGap) {
                line.dropped += line.partial.size();
                line.partial.clear();
            }
            lastBytes = now;
        }
        std::vector<std::vector<std::uint8_t>> expected;
        for (const std::uint8_t byte : bytes) {
            line.partial.push_back(byte);
            if (line.partial.size() == kFrameSize) {
                expected.push_back(line.partial);
                line.partial.clear();
            }
        }

        const std::vector<taktor::sim::ReceivedFrame> frames =
            model.Receive(bytes.data(), bytes.size(), now);
        FUZZ_CHECK(frames.size() == expected.size());
        for (std::size_t f = 0; f < frames.size(); ++f) {
            const taktor::sim::ReceivedFrame& frame = frames[f];
            FUZZ_CHECK(std::equal(frame.bytes.begin(), frame.bytes.end(), expected[f].begin()));
            unsigned sum = 0;
            for (std::size_t k = 0; k < 8; ++k) {
                const unsigned duration = expected[f][2 * k] + 256u * expected[f][2 * k + 1];
                FUZZ_CHECK(frame.durations[k] == duration);
                sum += duration;
            }
            const unsigned checksum = expected[f][16] + 256u * expected[f][17];
            FUZZ_CHECK(frame.checksum == checksum);
            FUZZ_CHECK(frame.checksumOk == (sum % 65536 == checksum));
            const std::vector<taktor::sim::ReplyChunk> reply = model.Reply(frame);
            FUZZ_CHECK(frame.checksumOk || reply.empty());
        }
        FUZZ_CHECK(model.DiscardedBytes() == line.dropped);
    }
    return 0;
}
