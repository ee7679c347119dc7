#include "link/transfer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "link/reply.h"
#include "link/serial_channel.h"
#include "link/testing/transfer_testing.h"

namespace taktor {

namespace {

using std::chrono::milliseconds;

// A worker thread whose end can be awaited with a time-out. A worker is never killed: one that
// must be stopped has its channel operation cancelled and is then joined.
class Worker {
public:
    Worker() = default;
    Worker(Worker&&) = default;
    Worker& operator=(Worker&& other) {
        Join();
        shared_ = std::move(other.shared_);
        thread_ = std::move(other.thread_);
        return *this;
    }
    ~Worker() { Join(); }

    // False when no thread could be started.
    bool Start(std::function<void()> body) {
        auto shared = std::make_shared<Shared>();
        try {
            thread_ = std::thread([shared, body = std::move(body)] {
                body();
                std::lock_guard<std::mutex> lock(shared->mutex);
                shared->done = true;
                shared->ended.notify_all();
            });
        } catch (const std::system_error&) {
            return false;
        }
        shared_ = std::move(shared);
        return true;
    }

    // True when the worker has ended (or there is none) within the time-out.
    bool WaitFor(milliseconds timeout) {
        if (!shared_) {
            return true;
        }
        std::unique_lock<std::mutex> lock(shared_->mutex);
        return shared_->ended.wait_for(lock, timeout, [this] { return shared_->done; });
    }

    void Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
        shared_.reset();
    }

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

// The attempt's process-wide state, in one place. Each item is written by one thread at a time,
// in an order fixed by thread start, thread end and the attempt's waits; only the two stop flags
// are written by one thread while another reads them, so those are atomic.
struct AttemptState {
    // The frame of the current attempt: allocated at start-up, written by the main thread before
    // FrameWriter starts, then only read by FrameWriter.
    std::unique_ptr<FrameWords> FrameStorage;

    // The reply text: emptied by ReplyReader when it starts and appended to while it runs; read
    // by the main thread only after the reader has ended by itself.
    Text DeviceReply;

    // Set to 0 by ReplyReader when it starts and to 1 by the main thread when the reader has had
    // its time; each poll must see the latest store.
    std::atomic<int> ReaderStopFlag{0};

    // Set by the main thread when the reader must be stopped by force. Unlike ReaderStopFlag the
    // reader never clears it, so a reader that started too late to see the stop still ends.
    std::atomic<bool> ReaderForcedStop{false};

    // A FrameWriter that a stalled attempt left finishing its write.
    Worker PendingWriter;

    // Runs in the reader thread before the reader itself (tests only).
    std::function<void()> ReaderStartHook;
};

AttemptState attempt;

// More reads than a real line could fill while the drain runs: the drain ends even against a
// peer that never stops sending.
constexpr int kMaxDrainReads = 64;

const Text kDamageTitle = u"Внимание!";
const Text kMcuDamageText =
    u"Повреждена EEPROM микроконтроллера\n"
    u"Для повтора операции нажмите “ДА”\n"
    u"Для разрыва связи нажмите “НЕТ”\n";
const Text kExternalDamageText =
    u"Повреждена EEPROM внешняя\n"
    u"Для повтора операции нажмите “ДА”\n"
    u"Для разрыва связи нажмите “НЕТ”\n";

void FrameWriter() {
    if (IsChannelOpen(kControllerChannel)) {
        const ParameterFrame bytes = WireBytes(*attempt.FrameStorage);
        WriteChannel(kControllerChannel, bytes.data(), kFrameBytes);
    }
}

void ReplyReader() {
    ReplyCollector reply(attempt.DeviceReply);  // empties DeviceReply
    attempt.ReaderStopFlag.store(0);
    std::vector<std::uint8_t> buffer(kReceiveBufferSize);
    for (;;) {
        const std::int32_t waiting = AvailableInput(kControllerChannel);
        if (waiting > 0) {
            const std::int32_t got = ReadChannel(kControllerChannel, buffer.data(),
                                                 std::min(waiting, kReceiveBufferSize));
            reply.Add(buffer.data(), got);
        }
        if (reply.Complete() || attempt.ReaderStopFlag.load() == 1 ||
            attempt.ReaderForcedStop.load()) {
            break;
        }
    }
}

// Drops whatever is waiting on the line, so that bytes left from an earlier exchange can never
// confirm this one.
void DrainInput() {
    std::vector<std::uint8_t> buffer(kReceiveBufferSize);
    for (int read = 0; read < kMaxDrainReads; ++read) {
        const std::int32_t waiting = AvailableInput(kControllerChannel);
        if (waiting <= 0) {
            break;
        }
        ReadChannel(kControllerChannel, buffer.data(), std::min(waiting, kReceiveBufferSize));
    }
}

void AskAboutDamage(const Text& text, MessageDialog& messages, TransferResult& result) {
    const int answer = messages.ShowMessage(kDamageTitle, text, kErrorQuestion);
    if (answer == kAnswerYes) {
        result = TransferResult::Unconfirmed;
    } else if (answer == kAnswerNo) {
        result = TransferResult::Aborted;
    }
}

}  // namespace

void AllocateFrameStorage() {
    attempt.FrameStorage = std::make_unique<FrameWords>();
}

void ReleaseFrameStorage() {
    attempt.FrameStorage.reset();
}

void FinishPendingWriter() {
    attempt.PendingWriter.Join();
}

void SetReaderStartHook(std::function<void()> hook) {
    attempt.ReaderStartHook = std::move(hook);
}

Text LastDeviceReply() {
    return attempt.DeviceReply;
}

TransferResult TransferAttempt(const PhaseDurations& durations, MessageDialog& messages) {
    FinishPendingWriter();
    if (!attempt.FrameStorage) {
        AllocateFrameStorage();
    }
    *attempt.FrameStorage = FrameWordsOf(durations);
    if (!IsChannelOpen(kControllerChannel)) {
        return TransferResult::Aborted;
    }
    ResumeChannelIo(kControllerChannel);
    DrainInput();

    Worker writer;
    Worker reader;
    if (!writer.Start(FrameWriter)) {
        return TransferResult::Unconfirmed;  // nothing was sent
    }
    attempt.ReaderForcedStop.store(false);
    if (!reader.Start([hook = attempt.ReaderStartHook] {
            if (hook) {
                hook();
            }
            ReplyReader();
        })) {
        // Without a reader there is no reply to judge; the last one must not stand in for it.
        writer.Join();
        return TransferResult::Unconfirmed;
    }

    if (!reader.WaitFor(milliseconds(kWorkerWaitMs))) {
        attempt.ReaderStopFlag.store(1);
        if (!reader.WaitFor(milliseconds(kWorkerWaitMs))) {
            // The reader hangs inside the channel, or started so late that it cleared the stop
            // flag after it was set: stop it, cancel its operation and join it. The writer
            // finishes its write on its own; the next use of the channel waits for it.
            attempt.ReaderForcedStop.store(true);
            CancelChannelIo(kControllerChannel, IoSide::Input);
            reader.Join();
            attempt.PendingWriter = std::move(writer);
            return TransferResult::Stalled;
        }
    }
    reader.Join();
    if (!writer.WaitFor(milliseconds(kWorkerWaitMs))) {
        CancelChannelIo(kControllerChannel, IoSide::Output);
        writer.Join();
        return TransferResult::Stalled;
    }
    writer.Join();

    const ReplyTokens tokens = ReadReplyTokens(attempt.DeviceReply);
    TransferResult result =
        tokens.confirmed ? TransferResult::Confirmed : TransferResult::Unconfirmed;
    if (tokens.mcuDamaged) {
        AskAboutDamage(kMcuDamageText, messages, result);
    }
    if (tokens.externalDamaged) {
        AskAboutDamage(kExternalDamageText, messages, result);
    }
    return result;
}

}  // namespace taktor
