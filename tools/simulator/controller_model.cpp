#include "tools/simulator/controller_model.h"

#include <cstdio>
#include <string>

namespace taktor::sim {

namespace {

using namespace std::string_view_literals;

struct NamedKind {
    const char* name;
    ReplyKind kind;
    std::string_view reply;  // the whole reply, written at once, of a kind that needs nothing more
    const char* description;
};

constexpr NamedKind kKinds[] = {
    {"confirm", ReplyKind::Confirm, "on#\r", "\"on#\" CR"},
    {"silent", ReplyKind::Silent, "", "no reply"},
    {"mcu-damaged", ReplyKind::McuDamaged, "os#\r", "\"os#\" CR (microcontroller EEPROM damaged)"},
    {"ext-damaged", ReplyKind::ExtDamaged, "ol#\r", "\"ol#\" CR (external EEPROM damaged)"},
    {"both-damaged", ReplyKind::BothDamaged, "os#ol#\r", "\"os#ol#\" CR"},
    {"wrong-case", ReplyKind::WrongCase, "ON#\r", "\"ON#\" CR"},
    {"no-cr", ReplyKind::NoCr, "on#", "\"on#\" without the carriage return"},
    {"split", ReplyKind::Split, "", "\"on#\", then CR in a second write 30 ms later"},
    {"late", ReplyKind::Late, "", "\"on#\" CR after a delay (late=MS, default --late-ms)"},
    {"confirm-from", ReplyKind::ConfirmFrom, "",
     "confirm-from=N: silent for the first N-1 good frames, then \"on#\" CR"},
    {"flood", ReplyKind::Flood, "", "about 1,000 bytes of noise, no token and no terminator"},
    {"stray", ReplyKind::Stray, "of#\r",
     "\"of#\" CR; a stale line (noise ending in \"on#\" CR) is left\n"
     "                         waiting at start and after 1 s of quiet following a frame"},
    {"off", ReplyKind::Off, "of#\r", "\"of#\" CR"},
    {"zero-byte", ReplyKind::ZeroByte, "on\0#\r"sv, "\"on\" NUL \"#\" CR"},
    {"confirmed-mcu-damaged", ReplyKind::ConfirmedMcuDamaged, "on#os#\r", "\"on#os#\" CR"},
    {"hangup-on-frame", ReplyKind::HangUp, "",
     "the line goes down when a frame arrives, before any reply"},
    {"hangup-after", ReplyKind::HangUpAfter, "",
     "hangup-after=N: confirms N frames, then the line goes down"},
    {"hangup-mid-reply", ReplyKind::HangUpMidReply, "",
     "\"on\", then the line goes down 100 ms later, before \"#\" CR"},
};

// The kinds whose name takes "=N", a count of frames from 1 that must be given, and Late, whose
// "=MS" may be left out.
bool TakesCount(ReplyKind kind) {
    return kind == ReplyKind::ConfirmFrom || kind == ReplyKind::HangUpAfter;
}
bool TakesNumber(ReplyKind kind) {
    return TakesCount(kind) || kind == ReplyKind::Late;
}

// A decimal number of at most seven digits, or nothing.
std::optional<int> ParseCount(std::string_view digits) {
    if (digits.empty() || digits.size() > 7 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    return std::stoi(std::string(digits));
}

// Lower-case letters that never form a token, a terminator or a flow-control byte.
std::string Noise(std::size_t count, unsigned seed) {
    std::string noise;
    noise.reserve(count);
    unsigned state = seed;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        noise.push_back(static_cast<char>('a' + (state >> 16) % 26));
    }
    return noise;
}

}  // namespace

std::optional<Behaviour> ParseBehaviour(std::string_view name, int defaultLateMs) {
    const std::size_t equals = name.find('=');
    for (const NamedKind& entry : kKinds) {
        if (name.substr(0, equals) != entry.name) {
            continue;
        }
        Behaviour behaviour{entry.kind, entry.kind == ReplyKind::Late ? defaultLateMs : 0};
        if (equals == std::string_view::npos) {
            return TakesCount(entry.kind) ? std::nullopt : std::optional<Behaviour>(behaviour);
        }
        const std::optional<int> number = ParseCount(name.substr(equals + 1));
        if (!TakesNumber(entry.kind) || !number || (TakesCount(entry.kind) && *number < 1)) {
            return std::nullopt;
        }
        behaviour.value = *number;
        return behaviour;
    }
    return std::nullopt;
}

std::string BehaviourName(const Behaviour& behaviour) {
    for (const NamedKind& entry : kKinds) {
        if (entry.kind == behaviour.kind) {
            return entry.name +
                   (TakesNumber(entry.kind) ? "=" + std::to_string(behaviour.value) : "");
        }
    }
    return "?";
}

std::string DescribeBehaviours() {
    std::string text;
    for (const NamedKind& entry : kKinds) {
        char line[48];
        std::snprintf(line, sizeof(line), "  %-23s", entry.name);
        text += line + std::string(entry.description) + "\n";
    }
    return text;
}

std::string FormatFrame(const ReceivedFrame& frame) {
    std::string line = "frame=";
    for (const std::uint8_t byte : frame.bytes) {
        char hex[4];
        std::snprintf(hex, sizeof(hex), "%02X ", byte);
        line += hex;
    }
    line += "durations=";
    for (std::size_t i = 0; i < frame.durations.size(); ++i) {
        line += (i > 0 ? "," : "") + std::to_string(frame.durations[i]);
    }
    return line + (frame.checksumOk ? " checksum=ok" : " checksum=bad");
}

std::string StaleLine() {
    return Noise(246, 7) + "on#\r";
}

std::vector<ReplyChunk> ReplyTo(const Behaviour& behaviour, int nth) {
    using std::chrono::milliseconds;
    // A line that goes down takes with it what the other end has not read yet: it goes a little
    // after the reply, so that the reply is read before.
    constexpr milliseconds kHangUpDelay{100};
    const ReplyChunk confirm{milliseconds(0), "on#\r"};
    switch (behaviour.kind) {
        case ReplyKind::Split:
            return {{milliseconds(0), "on#"}, {milliseconds(30), "\r"}};
        case ReplyKind::Late:
            return {{milliseconds(behaviour.value), confirm.bytes}};
        case ReplyKind::ConfirmFrom:
            return nth < behaviour.value ? std::vector<ReplyChunk>() : std::vector{confirm};
        case ReplyKind::Flood:
            return {{milliseconds(0), Noise(1000, 11)}};
        case ReplyKind::HangUp:
            return {{milliseconds(0), "", true}};
        case ReplyKind::HangUpAfter:
            if (nth == behaviour.value) {
                return {confirm, {kHangUpDelay, "", true}};
            }
            return {confirm};
        case ReplyKind::HangUpMidReply:
            return {{milliseconds(0), "on"}, {kHangUpDelay, "", true}};
        default:
            break;
    }
    for (const NamedKind& entry : kKinds) {
        if (entry.kind == behaviour.kind && !entry.reply.empty()) {
            return {{milliseconds(0), std::string(entry.reply)}};
        }
    }
    return {};
}

void ControllerModel::SetBehaviour(const Behaviour& behaviour, Clock::time_point now) {
    if (behaviour == behaviour_) {
        return;
    }
    if (behaviour.kind != ReplyKind::Stray) {
        staleDue_.reset();
    } else if (behaviour_.kind != ReplyKind::Stray) {
        staleDue_ = now;
    }
    behaviour_ = behaviour;
    goodFrames_ = 0;
}

std::vector<ReceivedFrame> ControllerModel::Receive(const std::uint8_t* data, std::size_t count,
                                                    Clock::time_point now) {
    std::vector<ReceivedFrame> frames;
    if (count == 0) {
        return frames;
    }
    if (partialSize_ > 0 && now - lastByte_ > kFrameGap) {
        discarded_ += partialSize_;
        partialSize_ = 0;
    }
    lastByte_ = now;
    if (staleDue_ && *staleDue_ > now) {
        staleDue_ = now + kQuietBeforeStale;
    }
    for (std::size_t i = 0; i < count; ++i) {
        partial_[partialSize_++] = data[i];
        if (partialSize_ < kFrameSize) {
            continue;
        }
        ReceivedFrame frame;
        frame.bytes = partial_;
        std::uint16_t sum = 0;
        for (std::size_t k = 0; k < 8; ++k) {
            frame.durations[k] =
                static_cast<std::uint16_t>(partial_[2 * k] | (partial_[2 * k + 1] << 8));
            sum = static_cast<std::uint16_t>(sum + frame.durations[k]);
        }
        frame.checksum = static_cast<std::uint16_t>(partial_[16] | (partial_[17] << 8));
        frame.checksumOk = frame.checksum == sum;
        frames.push_back(frame);
        partialSize_ = 0;
    }
    return frames;
}

std::vector<ReplyChunk> ControllerModel::Reply(const ReceivedFrame& frame) {
    if (behaviour_.kind == ReplyKind::Stray) {
        staleDue_ = lastByte_ + kQuietBeforeStale;
    }
    if (!frame.checksumOk) {
        return {};
    }
    return ReplyTo(behaviour_, ++goodFrames_);
}

std::string ControllerModel::TakeStaleLine(Clock::time_point now) {
    if (!staleDue_ || *staleDue_ > now) {
        return {};
    }
    staleDue_.reset();
    return StaleLine();
}

}  // namespace taktor::sim
