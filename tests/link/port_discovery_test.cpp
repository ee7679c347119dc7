// Port discovery: the whole discovery with a stand-in for the port-listing tool, and how the
// tool is started.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/port_discovery.h"
#include "tests/link/posix_discovery.h"

namespace taktor {
namespace {

namespace fs = std::filesystem;

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

// A directory with a stand-in for the port-listing tool.
class FindPort : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/taktor-discovery-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { fs::remove_all(dir_); }

    void WriteFile(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    // A tool that runs `script` in its own directory.
    void WriteTool(const std::string& script) {
        WriteFile("Kanalyst.exe", "#!/bin/sh\ncd \"$(dirname \"$0\")\" || exit 1\n" + script);
        fs::permissions(dir_ / "Kanalyst.exe", fs::perms::owner_all);
    }
    Text Find() {
        PosixDiscovery platform(TextFromUtf8(dir_.string() + "/"));
        return FindControllerPort(platform);
    }

    fs::path dir_;
};

TEST_F(FindPort, ReadsTheListTheToolWrote) {
    WriteFile("listport.txt", "USB-SERIAL CH340 (COM9)\n");  // left from an earlier run
    WriteFile("given.txt", "COM1\n" + kCh340_7 + "\n");
    // The list only appears at the tool's end, so it must have been waited for.
    WriteTool("sleep 0.3\ncp given.txt listport.txt\n");
    EXPECT_EQ(Find(), u"COM7");
}

TEST_F(FindPort, NoToolOrNoListGivesNothing) {
    WriteFile("listport.txt", kCh340_7 + "\n");
    EXPECT_EQ(Find(), u"");  // a missing tool: the old list is not read

    fs::remove(dir_ / "listport.txt");
    WriteTool("exit 0\n");
    EXPECT_EQ(Find(), u"");
}

}  // namespace
}  // namespace taktor
