// The Linux kanalyst against a fake sysfs tree laid out as the kernel lays it out: class links
// into /sys/devices, a "device" link from each terminal, USB ids on the device above.
#include "tools/kanalyst/linux_side.h"
#include "tools/kanalyst/posix/list_file_posix.h"
#include "tools/kanalyst/posix/local_files_posix.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

extern char** environ;

namespace kanalyst {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> FileNames(const fs::path& dir) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Runs a program with arguments and returns its exit code, or -1.
int RunProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

class FakeSystem : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kanalyst-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        base_ = pattern;
        fs::create_directories(Sysfs() / "class" / "tty");
        fs::create_directories(Dev());
        fs::create_directories(Out());
    }
    void TearDown() override { fs::remove_all(base_); }

    fs::path Sysfs() const { return base_ / "sys"; }
    fs::path Dev() const { return base_ / "dev"; }
    fs::path Out() const { return base_ / "out"; }

    // A USB device under /sys/devices with the attributes the kernel gives it.
    fs::path AddUsbDevice(const std::string& path, const std::string& vendor,
                          const std::string& product, const std::string& productName) {
        const fs::path dir = Sysfs() / "devices" / path;
        fs::create_directories(dir);
        WriteFile(dir / "idVendor", vendor + "\n");
        WriteFile(dir / "idProduct", product + "\n");
        if (!productName.empty()) {
            WriteFile(dir / "product", productName + "\n");
        }
        return dir;
    }

    // A terminal whose device directory is deviceDir: deviceDir/tty/<name>, its "device" link,
    // the class link and (unless told otherwise) the device node.
    void AddTerminal(const std::string& name, const fs::path& deviceDir, bool node = true) {
        const fs::path tty = deviceDir / "tty" / name;
        fs::create_directories(tty);
        fs::create_directory_symlink(fs::relative(deviceDir, tty), tty / "device");
        const fs::path classDir = Sysfs() / "class" / "tty";
        fs::create_directory_symlink(fs::relative(tty, classDir), classDir / name);
        if (node) {
            WriteFile(Dev() / name, "");
        }
    }

    // The "driver" link of a device directory, to the driver's directory under /sys/bus.
    void AddDriver(const fs::path& deviceDir, const std::string& driver) {
        const fs::path target = Sysfs() / "bus" / driver;
        fs::create_directories(target);
        fs::create_directory_symlink(fs::relative(target, deviceDir), deviceDir / "driver");
    }

    // A USB-serial port: interface directory under the device, port directory under that.
    void AddUsbSerial(const std::string& name, const fs::path& usbDevice, bool node = true) {
        const fs::path port = usbDevice / (usbDevice.filename().string() + ":1.0") / name;
        fs::create_directories(port);
        AddTerminal(name, port, node);
    }

    // The usual mix: a Prolific, a CH340, an FTDI adapter and a modem-class port without USB ids,
    // plus a built-in UART and a port whose device node is gone.
    void AddTypicalPorts() {
        const std::string hub = "pci0000:00/0000:00:14.0/usb1/";
        AddUsbSerial("ttyUSB0", AddUsbDevice(hub + "1-1", "067b", "2303", "USB-Serial Controller"));
        AddUsbSerial("ttyUSB2", AddUsbDevice(hub + "1-2", "1a86", "7523", "USB Serial"));
        AddUsbSerial("ttyUSB10", AddUsbDevice(hub + "1-3", "0403", "6001", "FT232R USB UART"));
        const fs::path acm = Sysfs() / "devices" / "platform" / "gadget.0";
        fs::create_directories(acm);
        AddTerminal("ttyACM0", acm);
        const fs::path uart = Sysfs() / "devices" / "platform" / "serial8250";
        fs::create_directories(uart);
        AddTerminal("ttyS0", uart);
        AddUsbSerial("ttyUSB7", AddUsbDevice(hub + "1-4", "067b", "23a3", "Gone"), false);
    }

    std::string ExpectedTypicalList() const {
        const std::string dev = Dev().string();
        return "SERIAL PORT (" + dev + "/ttyACM0)\n" + "PROLIFIC USB-TO-SERIAL COMM PORT (" + dev +
               "/ttyUSB0)\n" + "USB-SERIAL CH340 (" + dev + "/ttyUSB2)\n" + "FT232R USB UART (" +
               dev + "/ttyUSB10)\n";
    }

    fs::path base_;
    LocalFiles files_;
};

TEST_F(FakeSystem, ScanNeverClimbsAboveTheSysfsRoot) {
    // Ids lying beside the sysfs root belong to no device of it.
    WriteFile(base_ / "idVendor", "067b\n");
    WriteFile(base_ / "idProduct", "2303\n");
    const fs::path orphan = Sysfs() / "devices" / "virtual";
    fs::create_directories(orphan);
    AddTerminal("ttyACM1", orphan);
    const std::vector<DeviceRecord> records = ReadLinuxDevices(files_, {Sysfs(), Dev(), "", ""});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_FALSE(records[0].usb.has_value());
}

TEST_F(FakeSystem, ScanToleratesBrokenEntries) {
    const std::string hub = "pci0000:00/usb2/";
    AddUsbSerial("ttyUSB1", AddUsbDevice(hub + "2-1", "XYZ!", "2303", "Bad vendor"));
    AddUsbSerial("ttyUSB3", AddUsbDevice(hub + "2-2", "1a86", "", ""));
    WriteFile(Dev() / "ttyUSB4", "");
    fs::create_directory_symlink("../../devices/nowhere", Sysfs() / "class" / "tty" / "ttyUSB4");

    const std::vector<DeviceRecord> records = ReadLinuxDevices(files_, {Sysfs(), Dev(), "", ""});
    ASSERT_EQ(records.size(), 3u);  // listed, but without ids
    for (const DeviceRecord& record : records) {
        EXPECT_FALSE(record.usb.has_value()) << record.port;
    }
    EXPECT_TRUE(ReadLinuxDevices(files_, {base_ / "no-such-sysfs", Dev(), "", ""}).empty());
}

// Kanalyst.exe under Wine reads the prefix's COM links and sysfs through this code.
TEST_F(FakeSystem, WinePortsAreTheLinksThatLeadToTerminalsInDev) {
    AddTypicalPorts();
    const fs::path usb = Sysfs() / "devices/pci0000:00/0000:00:14.0/usb1";
    AddDriver(usb / "1-2/1-2:1.0/ttyUSB2", "usb-serial/drivers/ch341-uart");
    fs::create_directories(AddUsbDevice("pci0000:00/0000:00:14.0/usb1/1-5", "1a86", "7523", "") /
                           "1-5:1.0");
    AddDriver(usb / "1-5/1-5:1.0", "usb/drivers/usbfs");
    fs::create_directories(Sysfs() / "bus/usb/devices");
    for (const char* name : {"1-1", "1-2", "1-3", "1-4", "1-5"}) {
        fs::create_directory_symlink(
            "../../../devices/pci0000:00/0000:00:14.0/usb1/" + std::string(name),
            Sysfs() / "bus/usb/devices" / name);
    }
    const fs::path dos = base_ / "Wine prefix/dosdevices";
    fs::create_directories(dos);
    fs::create_directories(Dev() / "serial/by-id");
    fs::create_symlink("../../ttyUSB2", Dev() / "serial/by-id/usb-1a86-port0");
    fs::create_symlink(Dev() / "serial/by-id/usb-1a86-port0", dos / "com33");
    fs::create_symlink(Dev() / "ttyUSB2", dos / "com40");  // the lower number counts
    fs::create_symlink(Dev() / "ttyUSB0", dos / "com5");   // SetupAPI has COM5 already
    fs::create_symlink(Dev() / "ttyS0", dos / "com1");     // not a USB terminal
    WriteFile(base_ / "ttyUSB10", "");
    fs::create_symlink(base_ / "ttyUSB10", dos / "com7");  // named like a terminal, not in dev

    DeviceRecord setupApi;
    setupApi.description = "USB-SERIAL CH340";
    setupApi.usb = UsbId{0x1a86, 0x7523};
    setupApi.setupClass = "Ports";
    setupApi.port = "COM5";
    std::vector<DeviceRecord> devices = {setupApi};
    AddUnlistedPorts(devices,
                     ReadLinuxDevices(files_, {Sysfs(), Dev(), base_ / "Wine prefix", base_}));
    EXPECT_EQ(FormatPortList(ListedPorts(devices)),
              "USB-SERIAL CH340 (COM5)\nUSB-SERIAL CH340 (COM33)\n");
    std::multiset<std::string> found;  // terminal, driver, the command that would link it
    for (const DeviceRecord& device : devices) {
        if (device.terminal) {
            found.insert(device.terminal->node + "|" + device.service + "|" +
                         device.terminal->linkCommand);
        }
    }
    const std::string dev = Dev().string();
    EXPECT_EQ(found, (std::multiset<std::string>{
                         dev + "/ttyUSB2|ch341-uart|",
                         dev + "/ttyACM0||ln -s ~/dev/ttyACM0 ~/'Wine prefix/dosdevices/com41'",
                         dev + "/ttyUSB10||ln -s ~/dev/ttyUSB10 ~/'Wine prefix/dosdevices/com41'",
                         "||",          // the PL2303 whose terminal has no node
                         "|usbfs|"}));  // a program took the CH340
}

TEST_F(FakeSystem, ToolWritesBesideItsOwnExecutableByDefault) {
    AddTypicalPorts();
    const fs::path tool = Out() / "kanalyst";
    fs::copy_file(KANALYST_TOOL, tool);
    WriteFile(Out() / "listport.txt", "an old list without brackets\n");
    ASSERT_EQ(RunProgram({tool.string(), "--sysfs", Sysfs().string(), "--dev", Dev().string()}), 0);
    EXPECT_EQ(ReadFile(Out() / "listport.txt"), ExpectedTypicalList());
    EXPECT_EQ(FileNames(Out()), (std::set<std::string>{"kanalyst", "listport.txt"}));
    EXPECT_EQ(fs::status(Out() / "listport.txt").permissions() & fs::perms::others_read,
              fs::perms::others_read);
}

TEST_F(FakeSystem, ToolWritesAnEmptyListOrFailsCleanly) {
    WriteFile(Out() / "listport.txt", "PROLIFIC USB-TO-SERIAL COMM PORT (/dev/ttyUSB0)\n");
    ASSERT_EQ(
        RunProgram({KANALYST_TOOL, "--sysfs", (base_ / "none").string(), "--out", Out().string()}),
        0);
    EXPECT_EQ(ReadFile(Out() / "listport.txt"), "");

    EXPECT_EQ(RunProgram({KANALYST_TOOL, "--sysfs", Sysfs().string(), "--out",
                          (base_ / "missing").string()}),
              1);
    EXPECT_FALSE(fs::exists(base_ / "missing"));
    EXPECT_EQ(RunProgram({KANALYST_TOOL, "--out"}), 2);
    EXPECT_EQ(RunProgram({KANALYST_TOOL, "--colour", "red"}), 2);
}

TEST_F(FakeSystem, FailedWriteLeavesNoTemporaryFile) {
    // A directory standing where the list should go: the rename fails.
    fs::create_directory(Out() / "listport.txt");
    WriteFile(Out() / "listport.txt" / "keep", "");
    EXPECT_FALSE(WriteListFile(Out().string(), "text\n"));
    EXPECT_EQ(FileNames(Out()), std::set<std::string>{"listport.txt"});
}

}  // namespace
}  // namespace kanalyst
