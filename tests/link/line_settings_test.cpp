#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "link/line_settings.h"

namespace taktor {
namespace {

// A configuration as a driver might report it, with every field away from what the settings
// write, so that a field that is changed by mistake shows.
PortConfig DriverConfig() {
    PortConfig config;
    config.baudRate = 1200;
    config.parityCheck = false;
    config.parity = 2;
    config.byteSize = 7;
    config.stopBits = 2;
    config.outxCtsFlow = true;
    config.rtsControl = 3;
    config.outX = false;
    config.inX = true;
    config.xonChar = 0x21;
    config.xoffChar = 0x22;
    config.xonLim = 1234;
    config.xoffLim = 4321;
    return config;
}

LineSettings Settings(std::int32_t parity, float stopBits, std::int32_t handshake) {
    LineSettings settings = kControllerLineSettings;
    settings.parity = parity;
    settings.stopBits = stopBits;
    settings.handshake = handshake;
    return settings;
}

void ExpectFlowUnchanged(const PortConfig& config) {
    const PortConfig driver = DriverConfig();
    EXPECT_EQ(config.outX, driver.outX);
    EXPECT_EQ(config.inX, driver.inX);
    EXPECT_EQ(config.xonChar, driver.xonChar);
    EXPECT_EQ(config.xoffChar, driver.xoffChar);
    EXPECT_EQ(config.xonLim, driver.xonLim);
    EXPECT_EQ(config.xoffLim, driver.xoffLim);
}

TEST(ApplyLineSettings, ControllerSettings) {
    PortConfig config = DriverConfig();
    ApplyLineSettings(config, kControllerLineSettings);
    EXPECT_EQ(config.baudRate, 9600u);
    EXPECT_TRUE(config.parityCheck);
    EXPECT_EQ(config.parity, 0);
    EXPECT_EQ(config.byteSize, 8);
    EXPECT_EQ(config.stopBits, 0);
    EXPECT_FALSE(config.outxCtsFlow);
    EXPECT_EQ(config.rtsControl, 0);
    ExpectFlowUnchanged(config);
}

TEST(ApplyLineSettings, ParityIsStoredAsGivenWithCheckingOn) {
    for (std::int32_t parity : {0, 1, 2, 3, 4}) {
        PortConfig config = DriverConfig();
        ApplyLineSettings(config, Settings(parity, 1.0f, 0));
        EXPECT_EQ(config.parity, parity);
        EXPECT_TRUE(config.parityCheck);
    }
    PortConfig config = DriverConfig();
    ApplyLineSettings(config, Settings(0x104, 1.0f, 0));  // low eight bits only
    EXPECT_EQ(config.parity, 4);
    LineSettings bytes = kControllerLineSettings;
    bytes.dataBits = 0x207;
    ApplyLineSettings(config, bytes);
    EXPECT_EQ(config.byteSize, 7);
}

TEST(ApplyLineSettings, OnlyExactlyOneAndTwoAreThemselves) {
    struct Case {
        float stopBits;
        std::uint8_t code;
    };
    const Case cases[] = {
        {1.0f, 0},
        {2.0f, 2},
        {1.5f, 1},
        {0.0f, 1},
        {std::nextafter(1.0f, 2.0f), 1},
        {std::nextafter(2.0f, 1.0f), 1},
        {-1.0f, 1},
        {3.0f, 1},
        {std::numeric_limits<float>::quiet_NaN(), 1},
    };
    for (const Case& c : cases) {
        PortConfig config = DriverConfig();
        ApplyLineSettings(config, Settings(0, c.stopBits, 0));
        EXPECT_EQ(config.stopBits, c.code) << c.stopBits;
    }
}

TEST(ApplyLineSettings, HandshakeCodes) {
    PortConfig none = DriverConfig();
    ApplyLineSettings(none, Settings(0, 1.0f, 0));
    EXPECT_FALSE(none.outxCtsFlow);
    EXPECT_EQ(none.rtsControl, 0);
    ExpectFlowUnchanged(none);

    PortConfig rtsOn = DriverConfig();
    ApplyLineSettings(rtsOn, Settings(0, 1.0f, 1));
    EXPECT_FALSE(rtsOn.outxCtsFlow);
    EXPECT_EQ(rtsOn.rtsControl, 1);
    ExpectFlowUnchanged(rtsOn);

    PortConfig hardware = DriverConfig();
    hardware.outxCtsFlow = false;
    ApplyLineSettings(hardware, Settings(0, 1.0f, 2));
    EXPECT_TRUE(hardware.outxCtsFlow);
    EXPECT_EQ(hardware.rtsControl, 2);
    ExpectFlowUnchanged(hardware);

    for (std::int32_t other : {4, -1, 100}) {
        PortConfig config = DriverConfig();
        ApplyLineSettings(config, Settings(0, 1.0f, other));
        EXPECT_TRUE(config.outxCtsFlow) << other;
        EXPECT_EQ(config.rtsControl, 3) << other;
        ExpectFlowUnchanged(config);
    }
}

TEST(ApplyLineSettings, SoftwareHandshakeLimitsFollowTheInputQueue) {
    struct Case {
        std::int32_t inputQueue;
        std::uint16_t xonLim;
        std::uint16_t xoffLim;
    };
    for (const Case& c : {Case{255, 25, 175}, Case{4096, 409, 2863}, Case{9, 0, 0}}) {
        PortConfig config = DriverConfig();
        LineSettings settings = Settings(0, 1.0f, 3);
        settings.inputQueue = c.inputQueue;
        ApplyLineSettings(config, settings);
        EXPECT_TRUE(config.outX);
        EXPECT_TRUE(config.inX);
        EXPECT_EQ(config.xonChar, 0x11);
        EXPECT_EQ(config.xoffChar, 0x13);
        EXPECT_EQ(config.xonLim, c.xonLim) << c.inputQueue;
        EXPECT_EQ(config.xoffLim, c.xoffLim) << c.inputQueue;
        // RTS and CTS stay as the driver had them.
        EXPECT_TRUE(config.outxCtsFlow);
        EXPECT_EQ(config.rtsControl, 3);
    }
}

}  // namespace
}  // namespace taktor
