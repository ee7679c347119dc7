// kanalyst for Linux: lists the USB serial ports into listport.txt beside its own executable.
//
//   kanalyst [--sysfs DIR] [--dev DIR] [--out DIR]
//
// Without arguments it reads /sys, names ports under /dev and writes next to itself; the options
// point it at another sysfs tree, device directory or output directory (used by the tests).
// Exit codes: 0 list written, 1 list could not be written, 2 bad arguments.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "tools/kanalyst/port_list.h"
#include "tools/kanalyst/posix/list_file_posix.h"
#include "tools/kanalyst/posix/local_files_posix.h"
#include "tools/kanalyst/linux_side.h"

namespace {

namespace fs = std::filesystem;

struct Options {
    fs::path sysfs = "/sys";
    fs::path dev = "/dev";
    fs::path out;  // empty: the executable's directory
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[i + 1];
        if (std::strcmp(argv[i], "--sysfs") == 0) {
            options.sysfs = value;
        } else if (std::strcmp(argv[i], "--dev") == 0) {
            options.dev = value;
        } else if (std::strcmp(argv[i], "--out") == 0) {
            options.out = value;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: kanalyst [--sysfs DIR] [--dev DIR] [--out DIR]\n");
        return 2;
    }
    if (options.out.empty()) {
        std::error_code ec;
        const fs::path self = fs::read_symlink("/proc/self/exe", ec);
        if (ec) {
            std::fprintf(stderr, "kanalyst: cannot find own executable: %s\n",
                         ec.message().c_str());
            return 1;
        }
        options.out = self.parent_path();
    }
    kanalyst::LocalFiles files;
    const std::string list = kanalyst::FormatPortList(kanalyst::ListedPorts(
        kanalyst::ReadLinuxDevices(files, {options.sysfs.string(), options.dev.string(), "", ""})));
    if (!kanalyst::WriteListFile(options.out.string(), list)) {
        std::fprintf(stderr, "kanalyst: cannot write %s/listport.txt\n", options.out.c_str());
        return 1;
    }
    return 0;
}
