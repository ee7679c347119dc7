// link_bench: how long one confirmed transfer attempt and one whole write take against the
// simulated controller paced at the line rate, and how much processor time an attempt costs; then
// how long a write takes, from the press to its message, for each fault of the line and of the
// driver. The simulator runs as a process of its own, so that only the configurator's side is
// measured.
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/ui_event.h"
#include "app/write_command.h"
#include "link/controller_link.h"
#include "link/write_timing.h"
#include "tests/link/link_test_support.h"

extern char** environ;

namespace taktor {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kAttemptRuns = 50;
// 18 bytes out and 4 back, ten bits each at 9600 baud.
constexpr double kWireMs = 22 * 10 * 1000.0 / 9600;
constexpr int kWriteRuns = 10;
const PhaseDurations kDefaults = {60, 5, 60, 5, 60, 5, 60, 5};

double MillisBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double ProcessCpuMillis() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct Figures {
    double median, low, p90, high;
};

Figures Summarise(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values[(n * 9 + 9) / 10 - 1], values.back()};
}

void PrintRow(const char* what, int runs, const std::vector<double>& values) {
    const Figures f = Summarise(values);
    std::printf("%-38s %4d %8.2f %8.2f %8.2f %8.2f\n", what, runs, f.median, f.low, f.p90, f.high);
}

class Answers : public MessageDialog {
public:
    int ShowMessage(const Text& title, const Text& text, unsigned) override {
        shownAt = Clock::now();
        lastTitle = title;
        lastText = text;
        return kAnswerOk;
    }
    Clock::time_point shownAt;
    Text lastTitle;
    Text lastText;
};

// The window layer and the port finder of a write, doing nothing but naming the line.
class Desk : public WaitIndicator, public PortFinder, public PhaseFieldReader {
public:
    explicit Desk(Text port) : port_(std::move(port)) {}
    void ShowWaitWindow() override {}
    void CloseWaitWindow() override {}
    Text FindCablePort() override { return port_; }
    Text ReadFieldText(int field) override { return field % 2 ? u"5" : u"60"; }

private:
    Text port_;
};

class Simulator {
public:
    Simulator(const std::string& program, const std::string& dir)
        : ready_(dir + "/ready"), control_(dir + "/control"), log_(dir + "/sim.log") {
        const std::string link = dir + "/com1";
        std::FILE* control = std::fopen(control_.c_str(), "w");
        if (control != nullptr) {
            std::fclose(control);
        }
        std::vector<std::string> args = {
            program, "--pty-link",     link,     "--paced", "--ready-file",
            ready_,  "--control-file", control_, "--log",   log_};
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
    }
    ~Simulator() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool WaitUntilReady() const {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        struct stat info {};
        while (pid_ > 0 && Clock::now() < deadline) {
            if (stat(ready_.c_str(), &info) == 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Writes words into the control file and waits until the simulator has applied the last.
    bool Control(const std::string& words) const {
        const std::string note = "# control " + words.substr(words.rfind(' ') + 1) + "\n";
        std::FILE* control = std::fopen(control_.c_str(), "w");
        if (control == nullptr) {
            return false;
        }
        std::fprintf(control, "%s\n", words.c_str());
        std::fclose(control);
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline) {
            std::string log;
            if (std::FILE* file = std::fopen(log_.c_str(), "r")) {
                char buffer[4096];
                for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
                    log.append(buffer, n);
                }
                std::fclose(file);
            }
            const std::size_t last = log.rfind("# control ");
            if (last != std::string::npos && log.compare(last, note.size(), note) == 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    std::string ready_;
    std::string control_;
    std::string log_;
    pid_t pid_ = -1;
};

// One write from the press to its message, in milliseconds, with the message's first line.
double TimedWrite(ControllerLink& link, const Text& port, Answers& answers, Text& message) {
    Desk desk(port);
    WriteCommandServices services{desk, desk, desk, answers, link};
    answers.lastText.clear();
    const auto start = Clock::now();
    WriteCommand(kButtonPressed, services);
    // The line that tells the messages apart: the first, or the second after "Запись отклонена!".
    message = answers.lastText;
    const std::size_t first = message.find(u'\n');
    if (first != Text::npos && first + 1 < message.size()) {
        message = message.substr(first + 1);
    }
    message = message.substr(0, message.find(u'\n'));
    return MillisBetween(start, answers.shownAt);
}

void PrintFault(const char* fault, double ms, const Text& message) {
    std::printf("%-38s %8.0f   %s\n", fault, ms, Utf8FromText(message).c_str());
}

// The faults of the line, each set up by words of the simulator's control file: each write's
// time from the press to its message, and the message.
void MeasureLineFaults(const Simulator& simulator, const Text& port, Answers& answers) {
    ControllerLink link;
    struct Fault {
        const char* what;
        const char* control;
    };
    const Fault faults[] = {
        {"silent controller", "silent"},
        {"cable pulled when the frame arrives", "hangup-on-frame"},
        {"cable pulled in the middle of the reply", "hangup-mid-reply"},
        {"cable pulled after the confirmation", "hangup-after=1"},
        {"  and the next write", nullptr},
        {"cable pulled before the press", "hangup"},
        {"cable plugged in again", "plug confirm"},
    };
    std::printf("\n%-38s %8s   %s\n", "Faults of the line", "ms", "message");
    for (const Fault& fault : faults) {
        if (fault.control != nullptr && !simulator.Control(fault.control)) {
            std::printf("%-38s the simulator did not take \"%s\"\n", fault.what, fault.control);
            continue;
        }
        Text message;
        const double ms = TimedWrite(link, port, answers, message);
        PrintFault(fault.what, ms, message);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // a line going down
        simulator.Control("plug confirm");
    }
}

// A driver that never ends an operation, cancelled or not: the device double of the tests.
void MeasureDeafDriver(Answers& answers) {
    using Queries = FakeLine::Queries;
    struct Fault {
        const char* what;
        Queries queries;
        bool deafWrites;
    };
    const Fault faults[] = {
        {"status query hangs before the frame", Queries::Deaf, false},
        {"status query hangs during the write", Queries::DeafWhileWriting, false},
        {"write hangs", Queries::Answer, true},
    };
    std::printf("\n%-38s %8s   %s\n", "A driver that never ends an operation", "ms", "message");
    for (const Fault& fault : faults) {
        auto line = std::make_shared<FakeLine>();
        line->queries = fault.queries;
        line->deafWrites = fault.deafWrites;
        ControllerLink link(FakeDevicesOn(line));
        Text message;
        const double ms = TimedWrite(link, u"COM1", answers, message);
        PrintFault(fault.what, ms, message);
        line->LetGo();
        line->WaitUntil([](FakeLine& l) { return l.closed; });
    }
    std::printf("(bound, link/write_timing.h: %lld ms)\n",
                static_cast<long long>(kWriteCommandBound.count()));
}

int Run() {
    char dirName[] = "/tmp/taktor-bench-XXXXXX";
    if (mkdtemp(dirName) == nullptr) {
        std::perror("link_bench: mkdtemp");
        return 1;
    }
    const std::string dir = dirName;
    const Text port = TextFromUtf8(dir + "/com1");
    int status = 0;
    {
        Simulator simulator(TAKTOR_SIM_PROGRAM, dir);
        if (!simulator.WaitUntilReady()) {
            std::fprintf(stderr, "link_bench: the simulator %s did not start\n",
                         TAKTOR_SIM_PROGRAM);
            return 1;
        }
        ControllerLink link;
        Answers answers;

        std::vector<double> attemptMs;
        std::vector<double> cpuMs;
        int confirmed = 0;
        if (link.OpenChannel(ControllerChannel, &port, ControllerLineSettings) < 1) {
            std::fprintf(stderr, "link_bench: cannot open %s/com1\n", dir.c_str());
            return 1;
        }
        for (int run = -2; run < kAttemptRuns; ++run) {  // two to warm up
            const double cpuBefore = ProcessCpuMillis();
            const auto start = Clock::now();
            const TransferResult result = link.TransferAttempt(kDefaults, answers);
            const auto end = Clock::now();
            const double cpu = ProcessCpuMillis() - cpuBefore;
            if (run >= 0) {
                attemptMs.push_back(MillisBetween(start, end));
                cpuMs.push_back(cpu);
                confirmed += result == TransferResult::Confirmed ? 1 : 0;
            }
        }
        link.CloseChannel(ControllerChannel);

        std::vector<double> writeMs;
        int succeeded = 0;
        Desk desk(port);
        for (int run = 0; run < kWriteRuns; ++run) {
            WriteCommandServices services{desk, desk, desk, answers, link};
            const auto start = Clock::now();
            WriteCommand(kButtonPressed, services);
            writeMs.push_back(MillisBetween(start, answers.shownAt));
            succeeded += answers.lastTitle == u"Выполнено" ? 1 : 0;
        }

        std::printf("Controller link against taktor-sim --paced (9600 baud, 8N1)\n");
        std::printf(
            "Wire time of one exchange: 18 bytes out and 4 back, 22 x 10 bits at 9600 baud "
            "= %.2f ms.\nThe simulator paces both directions: a byte arrives when its last bit "
            "would have.\n\n",
            kWireMs);
        std::printf("%-38s %4s %8s %8s %8s %8s\n", "", "runs", "median", "min", "p90", "max");
        PrintRow("TransferAttempt, confirmed (ms)", kAttemptRuns, attemptMs);
        PrintRow("  process CPU per attempt (ms)", kAttemptRuns, cpuMs);
        PrintRow("WriteCommand, press to message (ms)", kWriteRuns, writeMs);
        std::printf("\nconfirmed attempt, median, against the wire time: %.3f\n",
                    Summarise(attemptMs).median / kWireMs);
        std::printf("\nconfirmed attempts: %d of %d; successful writes: %d of %d\n", confirmed,
                    kAttemptRuns, succeeded, kWriteRuns);
        status = confirmed == kAttemptRuns && succeeded == kWriteRuns ? 0 : 1;

        MeasureLineFaults(simulator, port, answers);
        MeasureDeafDriver(answers);
    }
    std::remove((dir + "/sim.log").c_str());
    rmdir(dir.c_str());
    return status;
}

}  // namespace
}  // namespace taktor

int main() {
    return taktor::Run();
}
