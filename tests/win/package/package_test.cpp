// The release package as a technician uses it, unpacked by run-package-test.sh into a fresh Wine
// prefix: under a path with a blank and Cyrillic letters with the cable registered on COM5 in
// the prefix's device database (UnpackedPackage), or under C:\Taktor on a Linux laptop that the
// script fakes in a mount namespace (LinuxLaptop, one phase of the script per test). Taktor.exe
// is started from the unpacked folder and finds the cable through the package's own
// Kanalyst.exe.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

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

class PackageFolder : public ::testing::Test {
protected:
    void SetUp() override {
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

    // The package's Kanalyst.exe /report /nowindow: the report it leaves beside itself, or where
    // the folder refuses it in the temporary folder; printed for the log.
    std::string Report() {
        EXPECT_EQ(kanalyst::RunAndWait(folder_ + L"Kanalyst.exe", folder_, L"/report /nowindow"),
                  0);
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        std::string report;
        for (const std::wstring& dir : {folder_, std::wstring(temp)}) {
            if (kanalyst::ReadBytes(dir + L"Отчёт о шнуре.txt", report)) {
                DeleteFileW((dir + L"Отчёт о шнуре.txt").c_str());
                break;
            }
        }
        std::printf("%s", report.c_str());
        return report;
    }

    SimulatorFiles controller_;
    std::wstring folder_;
};

using UnpackedPackage = PackageFolder;

TEST_F(UnpackedPackage, WritesThroughItsOwnKanalystAndReportsASilentController) {
    ASSERT_TRUE(controller_.Find()) << "run under with-simulator.sh";
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

// The laptop of run-package-test.sh: SetupAPI knows no cable; Linux knows a PL2303 on ttyUSB0
// and a CH340 on ttyUSB1, which Wine's mount manager links as COM1 and COM2.
using LinuxLaptop = PackageFolder;

TEST_F(LinuxLaptop, WritesThroughTheCableLinuxKnows) {
    ASSERT_TRUE(controller_.Find()) << "run under with-simulator.sh";
    Program program(Program::Installed{folder_ + L"Taktor.exe"});
    std::size_t frames = 0;
    const MessageBoxSeen done = Write(program, "confirm", frames);
    EXPECT_EQ(done.title, L"Выполнено");
    EXPECT_EQ(frames, 1u);
    std::string list;
    EXPECT_TRUE(kanalyst::ReadBytes(folder_ + L"listport.txt", list));
    EXPECT_EQ(list, "PROLIFIC USB-TO-SERIAL COMM PORT (COM1)\nUSB-SERIAL CH340 (COM2)\n");
    std::printf("listport.txt written by the package's Kanalyst.exe:\n%s", list.c_str());
    AnswerMessageBox(done.box, IDOK);
}

TEST_F(LinuxLaptop, ReportsATerminalTheUserMayNotOpen) {
    // An FTDI adapter plugged in after Wine started: its terminal has no COM port yet.
    const HANDLE late = CreateFileW(L"\\\\?\\unix\\dev\\ttyUSB2", GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(late, INVALID_HANDLE_VALUE);
    CloseHandle(late);
    const std::string report = Report();
    DeleteFileW(L"\\\\?\\unix\\dev\\ttyUSB2");
    for (const char* line : {"ИТОГ: Шнур CH340 на COM2 найден, но Linux не даёт открыть его "
                             "терминал /dev/ttyUSB1: у пользователя нет на это прав.\r\n",
                             "«sudo usermod -aG dialout $USER»",
                             "   COM-порт: нет — ни один COM-порт Wine не ведёт к /dev/ttyUSB2; "
                             "добавить его: «"}) {
        EXPECT_EQ(CountOccurrences(report, line), 1u) << line;
    }
}

}  // namespace
}  // namespace e2e
