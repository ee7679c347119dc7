// The release package as a technician uses it: unpacked (by run-package-test.sh) into a fresh
// Wine prefix under a path with a blank and Cyrillic letters, the simulated controller behind
// COM5, and the cable either on a Linux laptop (a fake sysfs tree) or on COM5 in the prefix's
// device database. Taktor.exe is started from the unpacked folder and finds the cable through
// the package's own Kanalyst.exe.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "common/win/wide.h"
#include "driver.h"
#include "taktor_version.h"
#include "tests/win/kanalyst/fake_devices.h"
#include "tests/win/kanalyst/tool_run.h"
#include "tests/win/win_files.h"

namespace e2e {
namespace {

using taktor::wintest::CountOccurrences;
using taktor::wintest::SimulatorFiles;

const std::vector<kanalyst::FakeDevice>& Cable() {
    using namespace std::string_literals;
    static const std::vector<kanalyst::FakeDevice> ports = {
        kanalyst::FakePort(L"USB\\VID_1A86&PID_7523\\TAKTORPACKAGE", L"USB-SERIAL CH340",
                           L"USB\\VID_1A86&PID_7523&REV_0264\0USB\\VID_1A86&PID_7523"s, L"COM5"),
    };
    return ports;
}

const char kDefaultsFrame[] = "frame=3C 00 05 00 3C 00 05 00 3C 00 05 00 3C 00 05 00 04 01";

class UnpackedPackage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(controller_.Find()) << "run under with-simulator.sh";
        folder_ = WinePath(Environment(L"TAKTOR_PACKAGE_DIR"));
        ASSERT_FALSE(folder_.empty()) << "TAKTOR_PACKAGE_DIR names the unpacked folder";
        if (folder_.back() != L'\\') {
            folder_ += L'\\';
        }
    }

    // Presses the write button with the controller behaving as given; returns the result
    // message and the frames the controller received meanwhile.
    MessageBoxSeen Write(Program& program, const std::string& behaviour, std::size_t& frames) {
        EXPECT_TRUE(controller_.SetBehaviour(behaviour));
        const std::size_t before = CountOccurrences(controller_.Log(), kDefaultsFrame);
        program.PressWriteButton();
        // Generous: the tool's start under Wine and six silent attempts take a few seconds.
        const MessageBoxSeen box = program.WaitForMessageBox(milliseconds(60000));
        frames = CountOccurrences(controller_.Log(), kDefaultsFrame) - before;
        return box;
    }

    SimulatorFiles controller_;
    std::wstring folder_;
};

// A Linux laptop (run before the cable below is registered): SetupAPI knows no cable, Linux
// knows a CH340 on COM33 and a PL2303 on COM4 (run-package-test.sh's fake trees).
using LinuxLaptop = UnpackedPackage;

TEST_F(LinuxLaptop, WritesThroughTheCableLinuxKnows) {
    const std::wstring laptop = Environment(L"TAKTOR_LINUX_LAPTOP");
    ASSERT_TRUE(SetEnvironmentVariableW(L"TAKTOR_SYSFS_ROOT", (laptop + L"/sys").c_str()));
    Program program(Program::Installed{folder_ + L"Taktor.exe"});
    std::size_t frames = 0;
    const MessageBoxSeen done = Write(program, "confirm", frames);
    EXPECT_EQ(done.title, L"Выполнено");
    EXPECT_EQ(frames, 1u);
    std::string list;
    EXPECT_TRUE(kanalyst::ReadBytes(folder_ + L"listport.txt", list));
    EXPECT_EQ(list, "PROLIFIC USB-TO-SERIAL COMM PORT (COM4)\nUSB-SERIAL CH340 (COM33)\n");
    std::printf("listport.txt written by the package's Kanalyst.exe:\n%s", list.c_str());
    AnswerMessageBox(done.box, IDOK);
}

TEST_F(LinuxLaptop, ReportsATerminalTheUserMayNotOpen) {
    const std::wstring laptop = Environment(L"TAKTOR_LINUX_LAPTOP");
    ASSERT_TRUE(SetEnvironmentVariableW(L"TAKTOR_SYSFS_ROOT", (laptop + L"/refusing/sys").c_str()));
    ASSERT_EQ(kanalyst::RunAndWait(folder_ + L"Kanalyst.exe", folder_, L"/report /nowindow"), 0);
    std::string report;
    EXPECT_TRUE(kanalyst::ReadBytes(folder_ + L"Отчёт о шнуре.txt", report));
    const std::string dev =
        taktor::Utf8FromText(taktor::FromWide(laptop.c_str())) + "/refusing/dev";
    const std::string lines[] = {
        "ИТОГ: Шнур CH340 на COM36 найден, но Linux не даёт открыть его терминал " + dev +
            "/ttyUSB0: у пользователя нет на это прав.\r\n",
        "«sudo usermod -aG dialout $USER»",
        "   COM-порт: нет — ни один COM-порт Wine не ведёт к " + dev +
            "/ttyUSB1; добавить его: «ln -s " + dev + "/ttyUSB1 "};
    for (const std::string& line : lines) {
        EXPECT_EQ(CountOccurrences(report, line), 1u) << line;
    }
    std::printf("%s", report.c_str());
    // What follows starts from the unpacked folder as it was.
    SetEnvironmentVariableW(L"TAKTOR_SYSFS_ROOT", nullptr);
    DeleteFileW((folder_ + L"Отчёт о шнуре.txt").c_str());
    DeleteFileW((folder_ + L"listport.txt").c_str());
}

TEST_F(UnpackedPackage, WritesThroughItsOwnKanalystAndReportsASilentController) {
    // The prefix is the test's own, made afresh for this run.
    ASSERT_TRUE(kanalyst::AddFakeDevices(Cable()));
    ASSERT_EQ(kanalyst::FileNames(folder_),
              (std::set<std::wstring>{L"Check-cable.cmd", L"Kanalyst.exe", L"README.txt",
                                      L"Taktor.exe"}));

    Program program(Program::Installed{folder_ + L"Taktor.exe"});
    ASSERT_NE(program.Main(), nullptr);
    EXPECT_EQ(WindowText(program.Main()),
              L"Конфигуратор                  Taktor v. " TAKTOR_VERSION);

    std::size_t frames = 0;
    const MessageBoxSeen done = Write(program, "confirm", frames);
    ASSERT_NE(done.box, nullptr) << "no result message";
    EXPECT_EQ(done.title, L"Выполнено");
    EXPECT_EQ(done.text, L"Операция записи выполнена удачно.");
    EXPECT_EQ(frames, 1u);
    // The list that led to COM5 was written by the package's Kanalyst.exe, beside itself.
    std::string list;
    EXPECT_TRUE(kanalyst::ReadBytes(folder_ + L"listport.txt", list));
    EXPECT_EQ(CountOccurrences(list, "USB-SERIAL CH340 (COM5)\n"), 1u) << list;
    AnswerMessageBox(done.box, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(done.box); }, milliseconds(5000)));

    const MessageBoxSeen silent = Write(program, "silent", frames);
    ASSERT_NE(silent.box, nullptr) << "no result message";
    EXPECT_EQ(silent.title, L"Внимание");
    EXPECT_EQ(silent.text, L"Запись отклонена!\nУстройство не отвечает.");
    EXPECT_EQ(frames, 6u);
    AnswerMessageBox(silent.box, IDOK);

    EXPECT_EQ(kanalyst::FileNames(folder_),
              (std::set<std::wstring>{L"Check-cable.cmd", L"Kanalyst.exe", L"README.txt",
                                      L"Taktor.exe", L"listport.txt"}));
}

}  // namespace
}  // namespace e2e
