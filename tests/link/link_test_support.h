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
#include "link/worker.h"

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

// A clean channel table with the platform's backend and a new grace period, closed again at
// the end of the test.
class ChannelScope {
public:
    ChannelScope() {
        SetSerialDeviceOpener(nullptr);
        InitChannelTable();
        AllocateFrameStorage();
        StartGracePeriod();
    }
    ~ChannelScope() {
        StartGracePeriod();
        CloseAllChannels();
        SetSerialDeviceOpener(nullptr);
    }
};

// A port whose operations the test holds up. Its writes take a set time unless cancelled. Its
// status queries answer at once, or hang while a write is in progress until the port is
// cancelled (as one queued behind a write on a synchronous Windows handle does). A deaf
// operation hangs, cancelled or not, until the test lets it go: a driver that never completes a
// cancelled operation.
struct FakeLine {
    enum class Queries { Answer, HangWhileWriting, DeafWhileWriting, Deaf };

    std::mutex mutex;
    std::condition_variable changed;
    Queries queries = Queries::HangWhileWriting;
    bool deafWrites = false;
    bool letGo = false;  // ends every deaf operation
    bool cancelled = false;
    int cancels = 0;
    Millis writeTime{1500};
    int writesStarted = 0;
    int writesFinished = 0;
    int queriesDuringWrites = 0;
    int deafInside = 0;   // deaf operations in progress
    bool closed = false;  // the device was destroyed: the port is closed

    void LetGo() {
        std::lock_guard<std::mutex> guard(mutex);
        letGo = true;
        changed.notify_all();
    }
    template <typename Read>
    auto Locked(Read read) {
        std::lock_guard<std::mutex> guard(mutex);
        return read(*this);
    }
};

class FakeDevice : public SerialDevice {
public:
    explicit FakeDevice(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}
    ~FakeDevice() override {
        std::lock_guard<std::mutex> guard(line_->mutex);
        line_->closed = true;
        line_->changed.notify_all();
    }
    ChannelHandle Handle() const override { return 7; }

    std::int32_t QueuedInput() override {
        std::unique_lock<std::mutex> lock(line_->mutex);
        const bool writing = line_->writesStarted != line_->writesFinished;
        line_->queriesDuringWrites += writing ? 1 : 0;
        switch (line_->queries) {
            case FakeLine::Queries::Answer:
                break;
            case FakeLine::Queries::HangWhileWriting:
                if (writing) {
                    Hang(lock, [this] { return line_->cancelled; });
                }
                break;
            case FakeLine::Queries::DeafWhileWriting:
                if (writing) {
                    Hang(lock, [this] { return line_->letGo; });
                }
                break;
            case FakeLine::Queries::Deaf:
                Hang(lock, [this] { return line_->letGo; });
                break;
        }
        return 0;
    }
    std::int32_t Read(void*, std::int32_t) override { return 0; }
    std::int32_t Write(const void*, std::int32_t length) override {
        std::unique_lock<std::mutex> lock(line_->mutex);
        ++line_->writesStarted;
        if (line_->deafWrites) {
            Hang(lock, [this] { return line_->letGo; });
        } else {
            line_->changed.wait_for(lock, line_->writeTime, [this] { return line_->cancelled; });
        }
        ++line_->writesFinished;
        line_->changed.notify_all();
        return line_->cancelled ? 0 : length;
    }
    void Cancel() override {
        std::lock_guard<std::mutex> guard(line_->mutex);
        line_->cancelled = true;
        ++line_->cancels;
        line_->changed.notify_all();
    }
    void Resume() override {
        std::lock_guard<std::mutex> guard(line_->mutex);
        line_->cancelled = false;
    }

private:
    // Bounded, so that a fault shows as a failure rather than a hung test.
    template <typename Until>
    void Hang(std::unique_lock<std::mutex>& lock, Until until) {
        ++line_->deafInside;
        line_->changed.wait_for(lock, std::chrono::seconds(30), until);
        --line_->deafInside;
    }

    std::shared_ptr<FakeLine> line_;
};

// Opens FakeDevices on the line, refusing while the last one is still open, as a port opened
// without sharing does.
inline void OpenFakeDevicesOn(const std::shared_ptr<FakeLine>& line) {
    line->closed = true;
    SetSerialDeviceOpener([line](const Text&, const LineSettings&) {
        std::unique_ptr<SerialDevice> device;
        {
            std::lock_guard<std::mutex> guard(line->mutex);
            if (!line->closed) {
                return device;
            }
            line->closed = false;
        }
        device = std::make_unique<FakeDevice>(line);
        return device;
    });
}

}  // namespace taktor
