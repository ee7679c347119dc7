// taktor-sim: the traffic-light controller's side of the serial link, on a pseudo-terminal or a
// serial device, for trying the configurator and for its tests without a controller.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>

#include "tools/simulator/controller_model.h"
#include "tools/simulator/pty_controller.h"

namespace {

using namespace taktor::sim;

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

// The options with a value, as given or by default; "--paced" only when given.
using Options = std::map<std::string, std::string>;

// Returns 0 to go on, or the exit code.
int ParseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(DescribeBehaviours().c_str(), stdout);
            return -1;
        }
        if (option == "--paced") {
            options[option] = "yes";
        } else if (options.count(option) == 0) {
            std::fprintf(stderr, "taktor-sim: unknown option %s (see --help)\n", option.c_str());
            return 2;
        } else if (i + 1 >= argc) {
            std::fprintf(stderr, "taktor-sim: %s needs a value (see --help)\n", option.c_str());
            return 2;
        } else {
            options[option] = argv[++i];
        }
    }
    if (!options["--pty-link"].empty() && !options["--device"].empty()) {
        std::fputs("taktor-sim: --pty-link and --device exclude each other\n", stderr);
        return 2;
    }
    return 0;
}

// The value of a numeric option, or a message and false.
bool ReadNumber(const Options& options, const std::string& name, long most, long& value) {
    const std::string& text = options.at(name);
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    if (errno == 0 && end != text.c_str() && *end == '\0' && value >= 0 && value <= most) {
        return true;
    }
    std::fprintf(stderr, "taktor-sim: bad option %s %s (see --help)\n", name.c_str(), text.c_str());
    return false;
}

// Applies the first line of the control file to the controller, word by word: a behaviour name,
// "suspend", "hangup" (the cable pulled) or "plug" (plugged in again under the same link).
struct Control {
    std::string path;
    int lateMs;
    std::function<void(const std::string&)> log;
    std::mutex busy{};
    std::string applied{};  // the line last applied

    // Called on the main thread and, before each reply, on the serving thread: whichever finds
    // the other applying the file leaves it to that one.
    void Apply(PtyController& controller) {
        std::unique_lock<std::mutex> lock(busy, std::try_to_lock);
        std::ifstream file(path);
        std::string line;
        if (!lock || path.empty() || !file || !std::getline(file, line)) {
            return;
        }
        const auto first = line.find_first_not_of(" \t\r\n");
        const auto last = line.find_last_not_of(" \t\r\n");
        line = first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
        if (line.empty() || line == applied) {
            return;
        }
        applied = line;
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            ApplyWord(controller, word);
        }
    }

    void ApplyWord(PtyController& controller, const std::string& word) {
        const std::string kOnDevice = ": not possible on a device";
        if (word == "suspend") {
            log("# control suspend" + (controller.SuspendLine() ? "" : kOnDevice));
        } else if (word == "hangup" || word == "plug") {
            const bool done = word == "hangup" ? controller.HangUp() : controller.PlugIn();
            log("# control " + word + (done ? "" : kOnDevice));
            if (done && word == "plug") {
                log("# serving " + controller.SlavePath());
            }
        } else if (const std::optional<Behaviour> behaviour = ParseBehaviour(word, lateMs)) {
            controller.ResumeLine();
            controller.SetBehaviour(*behaviour);
            log("# control " + word);
        } else {
            log("# control " + word + ": unknown behaviour, ignored");
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    Options options = {{"--pty-link", ""},     {"--device", ""}, {"--behaviour", "confirm"},
                       {"--control-file", ""}, {"--log", ""},    {"--ready-file", ""},
                       {"--late-ms", "400"},   {"--frames", "0"}};
    const int parsed = ParseArguments(argc, argv, options);
    long lateMs = 0;
    long frames = 0;
    if (parsed != 0) {
        return parsed < 0 ? 0 : parsed;
    }
    if (!ReadNumber(options, "--late-ms", 600000, lateMs) ||
        !ReadNumber(options, "--frames", LONG_MAX, frames)) {
        return 2;
    }
    const std::string& link = options["--pty-link"];
    const std::string& readyFile = options["--ready-file"];
    const std::optional<Behaviour> behaviour =
        ParseBehaviour(options["--behaviour"], static_cast<int>(lateMs));
    if (!behaviour) {
        std::fprintf(stderr, "taktor-sim: unknown behaviour %s (see --help)\n",
                     options["--behaviour"].c_str());
        return 2;
    }

    std::FILE* out = stdout;
    if (!options["--log"].empty()) {
        out = std::fopen(options["--log"].c_str(), "a");
        if (out == nullptr) {
            std::fprintf(stderr, "taktor-sim: cannot open %s: %s\n", options["--log"].c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    // One call per line: stdio locks the stream for it, whichever thread logs.
    const auto log = [out](const std::string& line) {
        std::fputs((line + "\n").c_str(), out);
        std::fflush(out);
    };
    Control control{options["--control-file"], static_cast<int>(lateMs), log};

    // SIGINT and SIGTERM end the program through the main thread's wait below; every thread,
    // the serving one started later too, leaves them to it.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // The served pseudo-terminals become this session's controlling terminals (see
    // PtyOptions::claimTerminal): a session of its own, and no end when a line hangs up.
    signal(SIGHUP, SIG_IGN);

    std::atomic<PtyController*> served{nullptr};
    PtyOptions settings;
    settings.behaviour = *behaviour;
    settings.paced = options.count("--paced") > 0;
    settings.claimTerminal = setsid() >= 0;
    settings.linkPath = link;
    settings.devicePath = options["--device"];
    settings.onHangUp = [&] { log("# hung up"); };
    settings.onDiscarded = [&](std::size_t count) {
        log("# dropped " + std::to_string(count) + " byte(s) of an incomplete frame");
    };
    settings.onFrame = [&](const ReceivedFrame& frame) {
        log(FormatFrame(frame));
        if (PtyController* controller = served.load()) {
            control.Apply(*controller);
        }
    };

    std::unique_ptr<PtyController> controller;
    try {
        controller = std::make_unique<PtyController>(settings);
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "taktor-sim: %s\n", error.what());
        return 1;
    }
    served.store(controller.get());
    log("# serving " + controller->SlavePath() + (link.empty() ? "" : " as " + link) +
        ", behaviour " + BehaviourName(*behaviour));
    control.Apply(*controller);

    if (!readyFile.empty() && !(std::ofstream(readyFile) << controller->SlavePath() << '\n')) {
        std::fprintf(stderr, "taktor-sim: cannot create %s\n", readyFile.c_str());
        return 1;
    }

    const timespec tick = {0, 20 * 1000 * 1000};
    while (sigtimedwait(&stop, nullptr, &tick) < 0) {
        if (frames > 0 && controller->WaitForFrames(frames, std::chrono::seconds(0))) {
            controller->WaitForOutput(std::chrono::seconds(5) + std::chrono::milliseconds(lateMs));
            break;
        }
        control.Apply(*controller);
    }

    served.store(nullptr);
    controller.reset();
    if (!readyFile.empty()) {
        std::remove(readyFile.c_str());
    }
    log("# stopped");
    if (out != stdout) {
        std::fclose(out);
    }
    return 0;
}
