// Port discovery: the whole discovery over a stand-in for the platform, and how the tool is
// started.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "link/port_discovery.h"

namespace taktor {
namespace {

const std::string kCh340_7 = "USB-SERIAL CH340 (COM7)";

TEST(ProcessStart, CommandLineAndShellDirectory) {
    EXPECT_EQ(CommandLineFor(u"C:\\T\\Kanalyst.exe", u""), u"\"C:\\T\\Kanalyst.exe\"");
    EXPECT_EQ(CommandLineFor(u"C:\\T\\Kanalyst.exe", u"-v"), u"\"C:\\T\\Kanalyst.exe\" -v");
    EXPECT_EQ(CommandLineFor(u"\"C:\\T\\K.exe\"", u""), u"\"C:\\T\\K.exe\"");
    EXPECT_EQ(CommandLineFor(u"Kanalyst.exe", u""), u"\"Kanalyst.exe\"");

    EXPECT_EQ(ShellDirectoryFor(u"C:\\T\\Kanalyst.exe"), u"C:\\T\\");
    EXPECT_EQ(ShellDirectoryFor(u"\\\\srv\\share\\K.exe"), u"\\\\srv\\share\\");
    EXPECT_EQ(ShellDirectoryFor(u"Kanalyst.exe"), u"");
    EXPECT_EQ(ShellDirectoryFor(u"\\Kanalyst.exe"), u"");  // no backslash after the first
}

// The program's directory as a set of files, and a stand-in for the port-listing tool that
// changes them when it runs.
class FindPort : public ::testing::Test, public DiscoveryPlatform {
protected:
    Text ProgramDirectory() override { return u"C:\\T\\"; }
    int RunProgramAndWait(const Text& program, const Text& arguments,
                          const Text& directory) override {
        EXPECT_EQ(program, u"C:\\T\\Kanalyst.exe");
        EXPECT_TRUE(arguments.empty() && directory.empty());
        if (!tool_) {
            return 0;
        }
        tool_(files_);
        return 1;
    }
    std::unique_ptr<ByteSource> OpenForReading(const Text& path) override {
        const auto file = files_.find(path);
        return file == files_.end() ? nullptr : std::make_unique<Bytes>(file->second);
    }

    struct Bytes : ByteSource {
        explicit Bytes(std::string text) : text(std::move(text)) {}
        int ReadBytes(std::uint8_t* buffer, int capacity) override {
            const std::size_t count = text.copy(reinterpret_cast<char*>(buffer), capacity, at);
            at += count;
            return static_cast<int>(count);
        }
        std::string text;
        std::size_t at = 0;
    };
    std::map<Text, std::string> files_;
    std::function<void(std::map<Text, std::string>&)> tool_;  // none: it cannot be started
};

TEST_F(FindPort, ReadsTheListTheToolWrote) {
    files_[u"C:\\T\\listport.txt"] = "USB-SERIAL CH340 (COM9)\n";  // left from an earlier run
    tool_ = [](auto& files) { files[u"C:\\T\\listport.txt"] = "COM1\n" + kCh340_7 + "\n"; };
    EXPECT_EQ(FindControllerPort(*this), u"COM7");
}

TEST_F(FindPort, NoToolOrNoListGivesNothing) {
    files_[u"C:\\T\\listport.txt"] = kCh340_7 + "\n";
    EXPECT_EQ(FindControllerPort(*this), u"");  // a missing tool: the old list is not read

    tool_ = [](auto& files) { files.clear(); };
    EXPECT_EQ(FindControllerPort(*this), u"");
}

}  // namespace
}  // namespace taktor
