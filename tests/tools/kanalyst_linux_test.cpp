// The Linux side, as Kanalyst.exe reads it under Wine, against a fake sysfs tree laid out as the
// kernel lays it out: class links into /sys/devices, a "device" link from each terminal, USB ids
// on the device above.
#include "tools/kanalyst/linux_side.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace kanalyst {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

// The Unix side through the local file system, as it is under Wine through Wine's paths.
class LocalFiles : public UnixFiles {
public:
    std::vector<std::string> ListDirectory(const std::string& dir) override {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir, ec_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }
    std::optional<std::string> ReadLink(const std::string& path) override {
        const fs::path target = fs::read_symlink(path, ec_);
        return ec_ ? std::nullopt : std::optional<std::string>(target.string());
    }
    std::optional<std::string> ReadSmallFile(const std::string& path) override {
        std::ifstream in(path, std::ios::binary);
        std::string text(kSmallFileLimit, '\0');
        in.read(&text[0], kSmallFileLimit);
        text.resize(static_cast<std::size_t>(in.gcount()));
        return in.is_open() ? std::optional<std::string>(text) : std::nullopt;
    }
    bool Exists(const std::string& path) override { return fs::exists(path, ec_); }
    std::string RealDirectory(const std::string& dir) override {
        const fs::path real = fs::canonical(dir, ec_);
        return !ec_ && fs::is_directory(real, ec_) ? real.string() : std::string();
    }

private:
    std::error_code ec_;
};

class FakeSystem : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kanalyst-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        base_ = pattern;
        fs::create_directories(Sysfs() / "class" / "tty");
        fs::create_directories(Dev());
    }
    void TearDown() override { fs::remove_all(base_); }

    fs::path Sysfs() const { return base_ / "sys"; }
    fs::path Dev() const { return base_ / "dev"; }

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
    const auto records = ReadLinuxSide(files_, {Sysfs(), Dev(), "", ""}).devices;
    ASSERT_EQ(records.size(), 1u);
    EXPECT_FALSE(records[0].usb.has_value());
}

TEST_F(FakeSystem, ScanToleratesBrokenEntries) {
    const std::string hub = "pci0000:00/usb2/";
    AddUsbSerial("ttyUSB1", AddUsbDevice(hub + "2-1", "XYZ!", "2303", "Bad vendor"));
    AddUsbSerial("ttyUSB3", AddUsbDevice(hub + "2-2", "1a86", "", ""));
    WriteFile(Dev() / "ttyUSB4", "");
    fs::create_directory_symlink("../../devices/nowhere", Sysfs() / "class" / "tty" / "ttyUSB4");

    const auto records = ReadLinuxSide(files_, {Sysfs(), Dev(), "", ""}).devices;
    ASSERT_EQ(records.size(), 3u);  // listed, but without ids
    for (const DeviceRecord& record : records) {
        EXPECT_FALSE(record.usb.has_value()) << record.port;
    }
    EXPECT_FALSE(ReadLinuxSide(files_, {base_ / "no-such-sysfs", Dev(), "", ""}).read);
}

// Kanalyst.exe under Wine reads the prefix's COM links and sysfs through this code.
TEST_F(FakeSystem, WinePortsAreTheLinksThatLeadToTerminalsInDev) {
    AddTypicalPorts();
    const fs::path usb = Sysfs() / "devices/pci0000:00/0000:00:14.0/usb1";
    fs::create_directories(Sysfs() / "bus/usb-serial/drivers/ch341-uart");
    fs::create_directories(Sysfs() / "bus/usb/drivers/usbfs");
    fs::create_directory_symlink("../../../../../../../bus/usb-serial/drivers/ch341-uart",
                                 usb / "1-2/1-2:1.0/ttyUSB2/driver");
    fs::create_directories(AddUsbDevice("pci0000:00/0000:00:14.0/usb1/1-5", "1a86", "7523", "") /
                           "1-5:1.0");
    fs::create_directory_symlink("../../../../../../bus/usb/drivers/usbfs",
                                 usb / "1-5/1-5:1.0/driver");
    fs::create_directories(Sysfs() / "bus/usb/devices");
    for (const char* name : {"1-1", "1-2", "1-3", "1-4", "1-5"}) {
        fs::create_directory_symlink(
            "../../../devices/pci0000:00/0000:00:14.0/usb1/" + std::string(name),
            Sysfs() / "bus/usb/devices" / name);
    }
    const fs::path dos = base_ / "Wine prefix/dosdevices";
    fs::create_directories(dos);
    fs::create_directory_symlink("../drive_c", dos / "c:");
    fs::create_directories(Dev() / "serial/by-id");
    fs::create_symlink("../../ttyUSB2", Dev() / "serial/by-id/usb-1a86-port0");
    // The FTDI adapter has a serial number, and so a name of its own under by-id.
    WriteFile(usb / "1-3/serial", "A50285BI\n");
    const std::string ftdiById = "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    fs::create_symlink("../../ttyUSB10", Dev() / ftdiById);
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
                     ReadLinuxSide(files_, {Sysfs(), Dev(), base_ / "Wine prefix", base_}).devices);
    EXPECT_EQ(FormatPortList(ListedPorts(devices)),
              "USB-SERIAL CH340 (COM5)\nUSB-SERIAL CH340 (COM33)\n");
    std::multiset<std::string> found;  // terminal, driver, the command that would give it a port
    for (const DeviceRecord& device : devices) {
        if (device.terminal) {
            found.insert(device.terminal->node + "|" + device.service + "|" +
                         device.terminal->linkCommand);
        }
    }
    const std::string dev = Dev().string();
    const std::string reg =
        "|WINEPREFIX=~/'Wine prefix' wine reg add 'HKLM\\Software\\Wine\\Ports' "
        "/v COM41 /d ~/dev/";
    EXPECT_EQ(found, (std::multiset<std::string>{
                         dev + "/ttyUSB2|ch341-uart|", dev + "/ttyACM0|" + reg + "ttyACM0 /f",
                         dev + "/ttyUSB10|" + reg + ftdiById + " /f",
                         dev + "/ttyUSB7||",  // the PL2303 whose terminal has no node
                         "|usbfs|"}));        // a program took the CH340
    // An adapter of a kind the configurator does not name goes by its product string.
    EXPECT_EQ(
        std::count_if(devices.begin(), devices.end(),
                      [](const DeviceRecord& d) { return d.description == "FT232R USB UART"; }),
        1);
}

// Without the mount manager's link query, the COM ports are those of the prefix that Wine's
// mount manager would have made: the terminals' nodes in its order, each kind up to a gap.
TEST_F(FakeSystem, WithoutLinkQueryWinePortsAreInferredFromTheNodes) {
    AddTypicalPorts();
    const fs::path dos = base_ / "Wine prefix/dosdevices";
    fs::create_directories(dos);
    for (const char* port : {"com1", "com2", "com3"}) {
        WriteFile(dos / port, "");
    }
    const LinuxSide side = ReadLinuxSide(files_, {Sysfs(), Dev(), base_ / "Wine prefix", ""});
    EXPECT_TRUE(side.linksInferred);
    EXPECT_EQ(FormatPortList(ListedPorts(side.devices)),
              "SERIAL PORT (COM3)\nPROLIFIC USB-TO-SERIAL COMM PORT (COM2)\n");  // ttyS0 is COM1
}

}  // namespace
}  // namespace kanalyst
