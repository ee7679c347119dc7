// Shared pieces of the transfer-attempt and write-command tests: scripted answers to message
// boxes, and the controller channel opened on the simulator's pseudo-terminal.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <deque>
#include <string>
#include <vector>

#include "common/message_dialog.h"
#include "link/serial_channel.h"
#include "link/serial_device.h"
#include "link/testing/serial_testing.h"
#include "link/transfer.h"

namespace taktor {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

inline Millis MillisSince(Clock::time_point start) {
    return std::chrono::duration_cast<Millis>(Clock::now() - start);
}

constexpr PhaseDurations kDefaultDurations = {60, 5, 60, 5, 60, 5, 60, 5};

// Every box shown, with the answers taken from a script (OK once the script has run out).
class ScriptedMessages : public MessageDialog {
public:
    struct Shown {
        Text title;
        Text text;
        unsigned flags;
    };

    explicit ScriptedMessages(std::deque<int> answers = {}) : answers_(std::move(answers)) {}

    int ShowMessage(const Text& title, const Text& text, unsigned flags) override {
        shown.push_back({title, text, flags});
        if (answers_.empty()) {
            return kAnswerOk;
        }
        const int answer = answers_.front();
        answers_.pop_front();
        return answer;
    }

    std::vector<Shown> shown;

private:
    std::deque<int> answers_;
};

inline const Text kDamageTitle = u"Внимание!";
inline const Text kMcuDamageText =
    u"Повреждена EEPROM микроконтроллера\nДля повтора операции нажмите “ДА”\n"
    u"Для разрыва связи нажмите “НЕТ”\n";
inline const Text kExternalDamageText =
    u"Повреждена EEPROM внешняя\nДля повтора операции нажмите “ДА”\n"
    u"Для разрыва связи нажмите “НЕТ”\n";

// Opens the controller channel on a device path with the controller's settings.
inline ChannelHandle OpenControllerOn(const std::string& path) {
    const Text name = TextFromUtf8(path);
    return OpenChannel(kControllerChannel, &name, kControllerLineSettings);
}

// A clean channel table with the platform's backend, closed again at the end of the test.
class ChannelScope {
public:
    ChannelScope() {
        SetSerialDeviceOpener(nullptr);
        InitChannelTable();
        AllocateFrameStorage();
    }
    ~ChannelScope() {
        FinishPendingWriter();
        CloseAllChannels();
        SetSerialDeviceOpener(nullptr);
    }
};

// A port whose status query, made while a write is in progress, hangs until its input side is
// cancelled, as one queued behind a write on a synchronous Windows handle does; its writes take a
// set time.
struct FakeLine {
    std::mutex mutex;
    std::condition_variable changed;
    bool hangQueries = true;
    bool inputCancelled = false;
    bool outputCancelled = false;
    int inputCancels = 0;
    Millis writeTime{1500};
    int writesStarted = 0;
    int writesFinished = 0;
    bool checkNextQuery = false;
    bool queriedDuringWrite = false;
};

class FakeDevice : public SerialDevice {
public:
    explicit FakeDevice(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}
    ChannelHandle Handle() const override { return 7; }

    std::int32_t QueuedInput() override {
        std::unique_lock<std::mutex> lock(line_->mutex);
        if (line_->checkNextQuery) {
            line_->checkNextQuery = false;
            line_->queriedDuringWrite = line_->writesStarted != line_->writesFinished;
        }
        if (line_->hangQueries && line_->writesStarted != line_->writesFinished) {
            // Bounded, so that a fault shows as a failure rather than a hung test.
            line_->changed.wait_for(lock, std::chrono::seconds(5),
                                    [this] { return line_->inputCancelled; });
        }
        return 0;
    }
    std::int32_t Read(void*, std::int32_t) override { return 0; }
    std::int32_t Write(const void*, std::int32_t length) override {
        std::unique_lock<std::mutex> lock(line_->mutex);
        ++line_->writesStarted;
        line_->changed.wait_for(lock, line_->writeTime, [this] { return line_->outputCancelled; });
        ++line_->writesFinished;
        return length;
    }
    void Cancel(IoSide side) override {
        std::lock_guard<std::mutex> guard(line_->mutex);
        if (side == IoSide::Input) {
            line_->inputCancelled = true;
            ++line_->inputCancels;
        } else {
            line_->outputCancelled = true;
        }
        line_->changed.notify_all();
    }
    void Resume() override {
        std::lock_guard<std::mutex> guard(line_->mutex);
        line_->inputCancelled = line_->outputCancelled = false;
    }

private:
    std::shared_ptr<FakeLine> line_;
};

}  // namespace taktor
