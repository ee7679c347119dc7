// taktor-sim: the traffic-light controller's side of the serial link, on a pseudo-terminal or a
// serial device, for trying the configurator and for its tests without a controller.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

#include "tools/simulator/controller_model.h"
#include "tools/simulator/pty_controller.h"

namespace {

using namespace taktor::sim;

volatile sig_atomic_t gStop = 0;

void OnSignal(int) {
    gStop = 1;
}

const char kUsage[] =
    "Usage: taktor-sim [--pty-link PATH | --device PATH] [--behaviour NAME]\n"
    "                  [--control-file PATH] [--log PATH] [--paced] [--late-ms N]\n"
    "                  [--frames N] [--ready-file PATH]\n"
    "\n"
    "Plays the traffic-light controller on a serial line: takes the configurator's 18-byte\n"
    "parameter frames (eight 16-bit durations and their sum, least significant byte first)\n"
    "and answers them. Without --pty-link or --device it serves a new pseudo-terminal and\n"
    "prints its path.\n"
    "\n"
    "  --pty-link PATH     serve a new pseudo-terminal and make PATH a symbolic link to it\n"
    "                      (replacing what is there; removed on exit). For Wine:\n"
    "                      --pty-link \"$WINEPREFIX/dosdevices/com5\" makes COM5.\n"
    "  --device PATH       serve an existing serial device instead (9600 baud, 8N1)\n"
    "  --behaviour NAME    how frames are answered (default confirm), see below\n"
    "  --control-file PATH read the first line of this file before every reply and every\n"
    "                      20 ms, and apply its words when it changes: a behaviour name;\n"
    "                      \"suspend\" stops the line so that the configurator cannot send (a\n"
    "                      behaviour name lets it send again); \"hangup\" pulls the cable (the\n"
    "                      pseudo-terminal and its link go); \"plug\" plugs it in again under\n"
    "                      the same link. For example \"plug confirm\".\n"
    "  --log PATH          append the log to PATH instead of printing it\n"
    "  --paced             carry both directions at the line's pace, 1.04 ms per byte\n"
    "  --late-ms N         the delay of \"late\" (default 400)\n"
    "  --frames N          exit after N frames have been received and answered\n"
    "  --ready-file PATH   created once the line is served; removed on exit\n"
    "  --help              this text\n"
    "\n"
    "The log has one line per frame received, for example\n"
    "  frame=3C 00 05 00 3C 00 05 00 3C 00 05 00 3C 00 05 00 04 01 "
    "durations=60,5,60,5,60,5,60,5 checksum=ok\n"
    "and notes that start with \"#\". A frame with a bad checksum is logged and not answered;\n"
    "a partial frame followed by 50 ms of silence is dropped.\n"
    "\n"
    "Behaviours:\n";

struct Arguments {
    std::string ptyLink;
    std::string device;
    std::string behaviour = "confirm";
    std::string controlFile;
    std::string log;
    std::string readyFile;
    bool paced = false;
    int lateMs = 400;
    long frames = 0;
};

bool ParseNumber(const char* text, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= 0;
}

// Returns 0 to go on, or the exit code.
int ParseArguments(int argc, char** argv, Arguments& args) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(DescribeBehaviours().c_str(), stdout);
            return -1;
        }
        if (option == "--paced") {
            args.paced = true;
            continue;
        }
        static const char* const kValued[] = {"--pty-link",     "--device", "--behaviour",
                                              "--control-file", "--log",    "--ready-file",
                                              "--late-ms",      "--frames"};
        if (std::find(std::begin(kValued), std::end(kValued), option) == std::end(kValued)) {
            std::fprintf(stderr, "taktor-sim: unknown option %s (see --help)\n", option.c_str());
            return 2;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "taktor-sim: %s needs a value (see --help)\n", option.c_str());
            return 2;
        }
        const char* value = argv[++i];
        long number = 0;
        if (option == "--pty-link") {
            args.ptyLink = value;
        } else if (option == "--device") {
            args.device = value;
        } else if (option == "--behaviour") {
            args.behaviour = value;
        } else if (option == "--control-file") {
            args.controlFile = value;
        } else if (option == "--log") {
            args.log = value;
        } else if (option == "--ready-file") {
            args.readyFile = value;
        } else if (option == "--late-ms" && ParseNumber(value, number) && number <= 600000) {
            args.lateMs = static_cast<int>(number);
        } else if (option == "--frames" && ParseNumber(value, number)) {
            args.frames = number;
        } else {
            std::fprintf(stderr, "taktor-sim: bad option %s %s (see --help)\n", option.c_str(),
                         value);
            return 2;
        }
    }
    if (!args.ptyLink.empty() && !args.device.empty()) {
        std::fputs("taktor-sim: --pty-link and --device exclude each other\n", stderr);
        return 2;
    }
    return 0;
}

class Log {
public:
    explicit Log(std::FILE* out) : out_(out) {}
    void Line(const std::string& line) {
        std::lock_guard<std::mutex> guard(mutex_);
        std::fputs(line.c_str(), out_);
        std::fputc('\n', out_);
        std::fflush(out_);
    }

private:
    std::mutex mutex_;
    std::FILE* out_;
};

// Applies the first line of the control file to the controller, word by word: a behaviour name,
// "suspend", "hangup" (the cable pulled) or "plug" (plugged in again under the same link).
class Control {
public:
    Control(std::string path, int lateMs, Log& log)
        : path_(std::move(path)), lateMs_(lateMs), log_(log) {}

    void Apply(PtyController& controller) {
        if (path_.empty()) {
            return;
        }
        std::ifstream file(path_);
        std::string line;
        if (!file || !std::getline(file, line)) {
            return;
        }
        const auto first = line.find_first_not_of(" \t\r\n");
        const auto last = line.find_last_not_of(" \t\r\n");
        line = first == std::string::npos ? std::string() : line.substr(first, last - first + 1);

        std::lock_guard<std::mutex> guard(mutex_);
        if (line.empty() || line == applied_) {
            return;
        }
        applied_ = line;
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            ApplyWord(controller, word);
        }
    }

private:
    void ApplyWord(PtyController& controller, const std::string& word) {
        if (word == "suspend") {
            log_.Line(controller.SuspendLine() ? "# control suspend"
                                               : "# control suspend: not possible on a device");
            return;
        }
        if (word == "hangup" || word == "plug") {
            const bool done = word == "hangup" ? controller.HangUp() : controller.PlugIn();
            log_.Line("# control " + word + (done ? "" : ": not possible on a device"));
            if (done && word == "plug") {
                log_.Line("# serving " + controller.SlavePath());
            }
            return;
        }
        const std::optional<Behaviour> behaviour = ParseBehaviour(word, lateMs_);
        if (!behaviour) {
            log_.Line("# control " + word + ": unknown behaviour, ignored");
            return;
        }
        controller.ResumeLine();
        controller.SetBehaviour(*behaviour);
        log_.Line("# control " + word);
    }

private:
    std::string path_;
    int lateMs_;
    Log& log_;
    std::mutex mutex_;
    std::string applied_;
};

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    const int parsed = ParseArguments(argc, argv, args);
    if (parsed != 0) {
        return parsed < 0 ? 0 : parsed;
    }
    const std::optional<Behaviour> behaviour = ParseBehaviour(args.behaviour, args.lateMs);
    if (!behaviour) {
        std::fprintf(stderr, "taktor-sim: unknown behaviour %s (see --help)\n",
                     args.behaviour.c_str());
        return 2;
    }

    std::FILE* out = stdout;
    if (!args.log.empty()) {
        out = std::fopen(args.log.c_str(), "a");
        if (out == nullptr) {
            std::fprintf(stderr, "taktor-sim: cannot open %s: %s\n", args.log.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    Log log(out);
    Control control(args.controlFile, args.lateMs, log);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // The served pseudo-terminals become this session's controlling terminals (see
    // PtyOptions::claimTerminal): a session of its own, and no end when a line hangs up.
    signal(SIGHUP, SIG_IGN);
    const bool ownSession = setsid() >= 0;

    std::atomic<PtyController*> served{nullptr};
    PtyOptions options;
    options.behaviour = *behaviour;
    options.paced = args.paced;
    options.claimTerminal = ownSession;
    options.linkPath = args.ptyLink;
    options.devicePath = args.device;
    options.onHangUp = [&] { log.Line("# hung up"); };
    options.onDiscarded = [&](std::size_t count) {
        log.Line("# dropped " + std::to_string(count) + " byte(s) of an incomplete frame");
    };
    options.onFrame = [&](const ReceivedFrame& frame) {
        log.Line(FormatFrame(frame));
        if (PtyController* controller = served.load()) {
            control.Apply(*controller);
        }
    };

    std::unique_ptr<PtyController> controller;
    try {
        controller = std::make_unique<PtyController>(options);
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "taktor-sim: %s\n", error.what());
        return 1;
    }
    served.store(controller.get());
    log.Line("# serving " + controller->SlavePath() +
             (args.ptyLink.empty() ? std::string() : " as " + args.ptyLink) + ", behaviour " +
             BehaviourName(*behaviour));
    control.Apply(*controller);

    if (!args.readyFile.empty()) {
        std::FILE* ready = std::fopen(args.readyFile.c_str(), "w");
        if (ready == nullptr) {
            std::fprintf(stderr, "taktor-sim: cannot create %s\n", args.readyFile.c_str());
            return 1;
        }
        std::fprintf(ready, "%s\n", controller->SlavePath().c_str());
        std::fclose(ready);
    }

    while (!gStop) {
        if (args.frames > 0 &&
            controller->Frames().size() >= static_cast<std::size_t>(args.frames)) {
            controller->WaitForOutput(std::chrono::seconds(5) +
                                      std::chrono::milliseconds(args.lateMs));
            break;
        }
        control.Apply(*controller);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    served.store(nullptr);
    controller.reset();
    if (!args.readyFile.empty()) {
        std::remove(args.readyFile.c_str());
    }
    log.Line("# stopped");
    if (out != stdout) {
        std::fclose(out);
    }
    return 0;
}
