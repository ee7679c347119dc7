// Reply bytes of any kind, split into two reads at every position and read one byte at a time.
//
// A zero byte ends the text of the read it arrives in, so the collected text depends on where the
// reads split when the bytes hold one. What holds for every split: the text is each read's bytes
// up to its first zero byte, every ASCII byte standing for itself and no other byte for an ASCII
// character; and the reply is complete exactly when a full search of that text finds the
// terminator. Without a zero byte the text, its completion and its tokens are those of the whole
// reply in one read, which the raw bytes decide.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "link/reply.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using taktor::Text;

// The bytes of one read that reach the text: those before its first zero byte.
std::string ReadPart(const std::uint8_t* bytes, std::size_t count) {
    const void* zero = std::memchr(bytes, 0, count);
    const std::size_t length =
        zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes) : count;
    return std::string(reinterpret_cast<const char*>(bytes), length);
}

// The text matches the bytes one to one, ASCII exactly and everything else outside ASCII.
bool MatchesBytes(const Text& text, const std::string& bytes) {
    if (text.size() != bytes.size()) {
        return false;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80 ? text[i] != byte : text[i] < 0x80) {
            return false;
        }
    }
    return true;
}

void CheckCollected(const Text& text, const taktor::ReplyCollector& collector,
                    const std::string& expectedBytes) {
    FUZZ_CHECK(MatchesBytes(text, expectedBytes));
    FUZZ_CHECK(collector.Complete() == (text.find(taktor::kReplyTerminator) != Text::npos));
    FUZZ_CHECK(collector.Complete() == taktor::ReplyComplete(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool hasZero = std::memchr(data, 0, size) != nullptr;
    const int count = static_cast<int>(size);
    const Text whole = taktor::ReplyChunkText(data, count);

    // Every split into two reads (one of them possibly empty).
    for (int split = 0; split <= count; ++split) {
        Text text;
        taktor::ReplyCollector collector(text);
        collector.Add(data, split);
        collector.Add(data + split, count - split);
        CheckCollected(text, collector,
                       ReadPart(data, static_cast<std::size_t>(split)) +
                           ReadPart(data + split, size - static_cast<std::size_t>(split)));
        FUZZ_CHECK(hasZero || text == whole);
    }

    // One byte per read: every zero byte is dropped alone.
    Text text;
    taktor::ReplyCollector collector(text);
    std::string nonZero;
    for (int i = 0; i < count; ++i) {
        collector.Add(data + i, 1);
        if (data[i] != 0) {
            nonZero.push_back(static_cast<char>(data[i]));
        }
    }
    CheckCollected(text, collector, nonZero);
    FUZZ_CHECK(hasZero || text == whole);

    if (!hasZero) {
        // The whole reply in one read, and its tokens as the raw bytes give them.
        const std::string bytes(reinterpret_cast<const char*>(data), size);
        FUZZ_CHECK(taktor::ReplyComplete(whole) == (bytes.find("#\r") != std::string::npos));
        const taktor::ReplyTokens tokens = taktor::ReadReplyTokens(whole);
        FUZZ_CHECK(tokens.confirmed == (bytes.find("on#") != std::string::npos));
        FUZZ_CHECK(tokens.mcuDamaged == (bytes.find("os#") != std::string::npos));
        FUZZ_CHECK(tokens.externalDamaged == (bytes.find("ol#") != std::string::npos));
    }
    return 0;
}
