#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "link/serial_channel.h"

namespace taktor {
namespace {

// A configuration as a driver might report it, with every field away from what the settings
// write, so that a field that is changed by mistake shows.
PortConfig DriverConfig() {
    PortConfig config;
    config.BaudRate = 1200;
    config.fParity = false;
    config.Parity = 2;
    config.ByteSize = 7;
    config.StopBits = 2;
    config.fOutxCtsFlow = true;
    config.fRtsControl = 3;
    config.fOutX = false;
    config.fInX = true;
    config.XonChar = 0x21;
    config.XoffChar = 0x22;
    config.XonLim = 1234;
    config.XoffLim = 4321;
    return config;
}

LineSettings Settings(std::int32_t parity, float stopBits, std::int32_t handshake) {
    LineSettings settings = ControllerLineSettings;
    settings.parity = parity;
    settings.stopBits = stopBits;
    settings.handshake = handshake;
    return settings;
}

void ExpectFlowUnchanged(const PortConfig& config) {
    const PortConfig driver = DriverConfig();
    EXPECT_EQ(config.fOutX, driver.fOutX);
    EXPECT_EQ(config.fInX, driver.fInX);
    EXPECT_EQ(config.XonChar, driver.XonChar);
    EXPECT_EQ(config.XoffChar, driver.XoffChar);
    EXPECT_EQ(config.XonLim, driver.XonLim);
    EXPECT_EQ(config.XoffLim, driver.XoffLim);
}

TEST(ApplyLineSettings, ControllerSettings) {
    PortConfig config = DriverConfig();
    ApplyLineSettings(config, ControllerLineSettings);
    EXPECT_EQ(config.BaudRate, 9600u);
    EXPECT_TRUE(config.fParity);
    EXPECT_EQ(config.Parity, 0);
    EXPECT_EQ(config.ByteSize, 8);
    EXPECT_EQ(config.StopBits, 0);
    EXPECT_FALSE(config.fOutxCtsFlow);
    EXPECT_EQ(config.fRtsControl, 0);
    ExpectFlowUnchanged(config);
}

TEST(ApplyLineSettings, ParityIsStoredAsGivenWithCheckingOn) {
    for (std::int32_t parity : {0, 1, 2, 3, 4}) {
        PortConfig config = DriverConfig();
        ApplyLineSettings(config, Settings(parity, 1.0f, 0));
        EXPECT_EQ(config.Parity, parity);
        EXPECT_TRUE(config.fParity);
    }
    PortConfig config = DriverConfig();
    ApplyLineSettings(config, Settings(0x104, 1.0f, 0));  // low eight bits only
    EXPECT_EQ(config.Parity, 4);
    LineSettings bytes = ControllerLineSettings;
    bytes.dataBits = 0x207;
    ApplyLineSettings(config, bytes);
    EXPECT_EQ(config.ByteSize, 7);
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
        EXPECT_EQ(config.StopBits, c.code) << c.stopBits;
    }
}

TEST(ApplyLineSettings, HandshakeCodes) {
    PortConfig none = DriverConfig();
    ApplyLineSettings(none, Settings(0, 1.0f, 0));
    EXPECT_FALSE(none.fOutxCtsFlow);
    EXPECT_EQ(none.fRtsControl, 0);
    ExpectFlowUnchanged(none);

    PortConfig rtsOn = DriverConfig();
    ApplyLineSettings(rtsOn, Settings(0, 1.0f, 1));
    EXPECT_FALSE(rtsOn.fOutxCtsFlow);
    EXPECT_EQ(rtsOn.fRtsControl, 1);
    ExpectFlowUnchanged(rtsOn);

    PortConfig hardware = DriverConfig();
    hardware.fOutxCtsFlow = false;
    ApplyLineSettings(hardware, Settings(0, 1.0f, 2));
    EXPECT_TRUE(hardware.fOutxCtsFlow);
    EXPECT_EQ(hardware.fRtsControl, 2);
    ExpectFlowUnchanged(hardware);

    for (std::int32_t other : {4, -1, 100}) {
        PortConfig config = DriverConfig();
        ApplyLineSettings(config, Settings(0, 1.0f, other));
        EXPECT_TRUE(config.fOutxCtsFlow) << other;
        EXPECT_EQ(config.fRtsControl, 3) << other;
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
        EXPECT_TRUE(config.fOutX);
        EXPECT_TRUE(config.fInX);
        EXPECT_EQ(config.XonChar, 0x11);
        EXPECT_EQ(config.XoffChar, 0x13);
        EXPECT_EQ(config.XonLim, c.xonLim) << c.inputQueue;
        EXPECT_EQ(config.XoffLim, c.xoffLim) << c.inputQueue;
        // RTS and CTS stay as the driver had them.
        EXPECT_TRUE(config.fOutxCtsFlow);
        EXPECT_EQ(config.fRtsControl, 3);
    }
}

}  // namespace
}  // namespace taktor
