// The release package as a technician uses it: unpacked (by run-package-test.sh) into a fresh
// Wine prefix under a path with a blank and Cyrillic letters, the simulated controller behind
// COM5 and the cable on COM5 in the prefix's device database; then under C:\Taktor on a Linux
// laptop that the script fakes, one test for each of its phases. Taktor.exe is started from the
// unpacked folder and finds the cable through the package's own Kanalyst.exe.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
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

class UnpackedPackage : public ::testing::Test {
protected:
    void SetUp() override {
        controller_.Find();  // the writes need the simulator, the reports not
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

// The Linux laptop of linux-laptop.sh: SetupAPI knows no cable; Linux knows a PL2303 on ttyUSB0
// and a CH340 on ttyUSB1, which Wine's mount manager links as COM1 and COM2.
using LinuxLaptop = UnpackedPackage;

TEST_F(LinuxLaptop, WritesThroughTheCableLinuxKnows) {
    Program program(Program::Installed{folder_ + L"Taktor.exe"});
    std::size_t frames = 0;
    const MessageBoxSeen done = Write(program, "confirm", frames);
    EXPECT_EQ(done.title, L"Выполнено");
    EXPECT_EQ(frames, 1u);
    const std::string list = taktor::wintest::ReadFileText(folder_ + L"listport.txt");
    EXPECT_EQ(list, "PROLIFIC USB-TO-SERIAL COMM PORT (COM1)\nUSB-SERIAL CH340 (COM2)\n");
    std::printf("listport.txt written by the package's Kanalyst.exe:\n%s", list.c_str());
    AnswerMessageBox(done.box, IDOK);
}

// The report on the laptop as each phase of the script (TAKTOR_LINUX_PHASE) leaves it: its
// verdict and what the next step must name. In the refusing phase, an FTDI adapter is plugged in
// after Wine started, and has no COM port yet.
TEST_F(LinuxLaptop, ReportsWhatTheMachineLacks) {
    const std::map<std::wstring, std::vector<std::string>> phases = {
        {L"refusing",
         {"ИТОГ: Шнур CH340 на COM2 найден, но Linux не даёт открыть его терминал /dev/ttyUSB1: "
          "у пользователя нет на это прав.\r\n",
          "«sudo usermod -aG dialout $USER»",
          "   COM-порт: нет — ни один COM-порт Wine не ведёт к /dev/ttyUSB2; добавить его: «",
          " wine reg add 'HKLM\\Software\\Wine\\Ports' /v COM3 /d /dev/ttyUSB2 /f»\r\n"}},
        {L"confined",
         {"ИТОГ: Шнур CH340 на COM2 найден, но Linux не даёт открыть его терминал /dev/ttyUSB1, "
          "хотя вы в группе dialout: ",
          "serial-port"}},
        {L"sandbox",
         {", но этот Wine не видит такого устройства: он работает в изолированной среде",
          "«flatpak override --user --device=all org.winehq.Wine»"}},
        {L"no-mount-manager",
         {"Внимание: Wine не сообщил, куда ведут его COM-порты; ",
          "ИТОГ: Шнур CH340 на COM2 работает: порт открывается.\r\n",
          "   PROLIFIC USB-TO-SERIAL COMM PORT (COM1)\r\n   USB-SERIAL CH340 (COM2)\r\n"}},
        {L"refusing-folder",
         {"ИТОГ: Kanalyst не может создать файл в папке программы «C:\\Taktor\\»: ",
          "КОНФИГУРАТОР ВОЗЬМЁТ: ничего;"}},
    };
    const auto phase = phases.find(Environment(L"TAKTOR_LINUX_PHASE"));
    ASSERT_NE(phase, phases.end()) << "run by linux-laptop.sh";
    const wchar_t late[] = L"\\\\?\\unix\\dev\\ttyUSB2";
    ASSERT_TRUE(phase->first != L"refusing" || taktor::wintest::WriteFileText(late, ""));
    EXPECT_EQ(kanalyst::RunAndWait(folder_ + L"Kanalyst.exe", folder_, L"/report /nowindow"), 0);
    DeleteFileW(late);
    // Beside the tool, or in the temporary folder where the tool's folder refuses it.
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    std::string report;
    for (const std::wstring& dir : {folder_, std::wstring(temp)}) {
        report += taktor::wintest::ReadFileText(dir + L"Отчёт о шнуре.txt");
        DeleteFileW((dir + L"Отчёт о шнуре.txt").c_str());
    }
    std::printf("%s", report.c_str());
    for (const std::string& line : phase->second) {
        EXPECT_EQ(CountOccurrences(report, line), 1u) << line;
    }
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
    const std::string list = taktor::wintest::ReadFileText(folder_ + L"listport.txt");
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
    kanalyst::RemoveFakeDevices(Cable());  // the Linux laptop comes next, in the same prefix
}

}  // namespace
}  // namespace e2e
