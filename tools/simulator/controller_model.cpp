#include "tools/simulator/controller_model.h"

#include <cstdio>
#include <cstdlib>

namespace taktor::sim {

namespace {

struct NamedKind {
    const char* name;
    ReplyKind kind;
    const char* description;
};

constexpr NamedKind kKinds[] = {
    {"confirm", ReplyKind::Confirm, "\"on#\" CR"},
    {"silent", ReplyKind::Silent, "no reply"},
    {"mcu-damaged", ReplyKind::McuDamaged, "\"os#\" CR (microcontroller EEPROM damaged)"},
    {"ext-damaged", ReplyKind::ExtDamaged, "\"ol#\" CR (external EEPROM damaged)"},
    {"both-damaged", ReplyKind::BothDamaged, "\"os#ol#\" CR"},
    {"wrong-case", ReplyKind::WrongCase, "\"ON#\" CR"},
    {"no-cr", ReplyKind::NoCr, "\"on#\" without the carriage return"},
    {"split", ReplyKind::Split, "\"on#\", then CR in a second write 30 ms later"},
    {"late", ReplyKind::Late, "\"on#\" CR after a delay (late=MS, default --late-ms)"},
    {"confirm-from", ReplyKind::ConfirmFrom,
     "confirm-from=N: silent for the first N-1 good frames, then \"on#\" CR"},
    {"flood", ReplyKind::Flood, "about 1,000 bytes of noise, no token and no terminator"},
    {"stray", ReplyKind::Stray,
     "\"of#\" CR; a stale line (noise ending in \"on#\" CR) is left\n"
     "                         waiting at start and after 1 s of quiet following a frame"},
    {"off", ReplyKind::Off, "\"of#\" CR"},
    {"zero-byte", ReplyKind::ZeroByte, "\"on\" NUL \"#\" CR"},
    {"confirmed-mcu-damaged", ReplyKind::ConfirmedMcuDamaged, "\"on#os#\" CR"},
    {"hangup-on-frame", ReplyKind::HangUp,
     "the line goes down when a frame arrives, before any reply"},
    {"hangup-after", ReplyKind::HangUpAfter,
     "hangup-after=N: confirms N frames, then the line goes down"},
    {"hangup-mid-reply", ReplyKind::HangUpMidReply,
     "\"on\", then the line goes down 100 ms later, before \"#\" CR"},
};

// Positive decimal number, or nothing.
std::optional<int> ParseCount(std::string_view digits) {
    if (digits.empty() || digits.size() > 7) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
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
    std::string_view base = name;
    std::optional<std::string_view> argument;
    const std::size_t equals = name.find('=');
    if (equals != std::string_view::npos) {
        base = name.substr(0, equals);
        argument = name.substr(equals + 1);
    }
    for (const NamedKind& entry : kKinds) {
        if (base != entry.name) {
            continue;
        }
        Behaviour behaviour;
        behaviour.kind = entry.kind;
        behaviour.lateMs = defaultLateMs;
        if (entry.kind == ReplyKind::ConfirmFrom || entry.kind == ReplyKind::HangUpAfter) {
            const std::optional<int> count = argument ? ParseCount(*argument) : std::nullopt;
            if (!count || *count < 1) {
                return std::nullopt;
            }
            (entry.kind == ReplyKind::ConfirmFrom ? behaviour.confirmFrom : behaviour.hangUpAfter) =
                *count;
        } else if (entry.kind == ReplyKind::Late && argument) {
            const std::optional<int> ms = ParseCount(*argument);
            if (!ms) {
                return std::nullopt;
            }
            behaviour.lateMs = *ms;
        } else if (argument) {
            return std::nullopt;
        }
        return behaviour;
    }
    return std::nullopt;
}

std::string BehaviourName(const Behaviour& behaviour) {
    for (const NamedKind& entry : kKinds) {
        if (entry.kind != behaviour.kind) {
            continue;
        }
        std::string name = entry.name;
        if (behaviour.kind == ReplyKind::ConfirmFrom) {
            name += "=" + std::to_string(behaviour.confirmFrom);
        } else if (behaviour.kind == ReplyKind::Late) {
            name += "=" + std::to_string(behaviour.lateMs);
        } else if (behaviour.kind == ReplyKind::HangUpAfter) {
            name += "=" + std::to_string(behaviour.hangUpAfter);
        }
        return name;
    }
    return "?";
}

std::string DescribeBehaviours() {
    std::string text;
    for (const NamedKind& entry : kKinds) {
        char line[48];
        std::snprintf(line, sizeof(line), "  %-23s", entry.name);
        text += line;
        text += entry.description;
        text += '\n';
    }
    return text;
}

std::string FormatFrame(const ReceivedFrame& frame) {
    std::string line = "frame=";
    char hex[4];
    for (std::size_t i = 0; i < frame.bytes.size(); ++i) {
        std::snprintf(hex, sizeof(hex), "%02X", frame.bytes[i]);
        if (i > 0) {
            line += ' ';
        }
        line += hex;
    }
    line += " durations=";
    for (std::size_t i = 0; i < frame.durations.size(); ++i) {
        if (i > 0) {
            line += ',';
        }
        line += std::to_string(frame.durations[i]);
    }
    line += frame.checksumOk ? " checksum=ok" : " checksum=bad";
    return line;
}

std::string StaleLine() {
    return Noise(246, 7) + "on#\r";
}

ControllerModel::ControllerModel(const Behaviour& behaviour) : behaviour_(behaviour) {}

void ControllerModel::SetBehaviour(const Behaviour& behaviour) {
    if (behaviour != behaviour_) {
        behaviour_ = behaviour;
        goodFrames_ = 0;
    }
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

// A line that goes down takes with it what the other end has not read yet.
constexpr std::chrono::milliseconds kHangUpDelay{100};

std::vector<ReplyChunk> ControllerModel::Reply(const ReceivedFrame& frame) {
    using std::chrono::milliseconds;
    if (!frame.checksumOk) {
        return {};
    }
    ++goodFrames_;
    switch (behaviour_.kind) {
        case ReplyKind::Confirm:
            return {{milliseconds(0), "on#\r"}};
        case ReplyKind::Silent:
            return {};
        case ReplyKind::McuDamaged:
            return {{milliseconds(0), "os#\r"}};
        case ReplyKind::ExtDamaged:
            return {{milliseconds(0), "ol#\r"}};
        case ReplyKind::BothDamaged:
            return {{milliseconds(0), "os#ol#\r"}};
        case ReplyKind::WrongCase:
            return {{milliseconds(0), "ON#\r"}};
        case ReplyKind::NoCr:
            return {{milliseconds(0), "on#"}};
        case ReplyKind::Split:
            return {{milliseconds(0), "on#"}, {milliseconds(30), "\r"}};
        case ReplyKind::Late:
            return {{milliseconds(behaviour_.lateMs), "on#\r"}};
        case ReplyKind::ConfirmFrom:
            if (goodFrames_ < behaviour_.confirmFrom) {
                return {};
            }
            return {{milliseconds(0), "on#\r"}};
        case ReplyKind::Flood:
            return {{milliseconds(0), Noise(1000, 11)}};
        case ReplyKind::Stray:
        case ReplyKind::Off:
            return {{milliseconds(0), "of#\r"}};
        case ReplyKind::ZeroByte:
            return {{milliseconds(0), std::string("on\0#\r", 5)}};
        case ReplyKind::ConfirmedMcuDamaged:
            return {{milliseconds(0), "on#os#\r"}};
        case ReplyKind::HangUp:
            return {{milliseconds(0), "", true}};
        case ReplyKind::HangUpAfter:
            // The line goes a little after the reply, so that the reply is read before.
            if (goodFrames_ == behaviour_.hangUpAfter) {
                return {{milliseconds(0), "on#\r"}, {kHangUpDelay, "", true}};
            }
            return {{milliseconds(0), "on#\r"}};
        case ReplyKind::HangUpMidReply:
            return {{milliseconds(0), "on"}, {kHangUpDelay, "", true}};
    }
    return {};
}

}  // namespace taktor::sim
