#include "link/posix/termios_config.h"

#include <gtest/gtest.h>

namespace taktor {
namespace {

PortConfig Config(std::uint8_t parity, std::uint8_t byteSize, std::uint8_t stopBits) {
    PortConfig config;
    config.BaudRate = 9600;
    config.fParity = true;
    config.Parity = parity;
    config.ByteSize = byteSize;
    config.StopBits = stopBits;
    return config;
}

// A terminal as a login would leave it: cooked, echoing, with software handshake.
termios CookedTerminal() {
    termios tio{};
    tio.c_iflag = ICRNL | IXON | IXOFF | ISTRIP;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    tio.c_cflag = CS7 | PARENB | HUPCL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 5;
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    return tio;
}

TEST(PosixDevicePath, PrefixGoesAndBareNamesLiveUnderDev) {
    EXPECT_EQ(PosixDevicePath(u"\\\\.\\ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(PosixDevicePath(u"\\\\.\\/tmp/com5"), "/tmp/com5");
    EXPECT_EQ(PosixDevicePath(u"\\\\.\\pts/3"), "pts/3");
    EXPECT_EQ(PosixDevicePath(u"ttyS0"), "/dev/ttyS0");
    EXPECT_EQ(PosixDevicePath(u"\\\\.\\"), "/dev/");
    EXPECT_EQ(PosixDevicePath(u"\\\\.\\Порт"), "/dev/\xD0\x9F\xD0\xBE\xD1\x80\xD1\x82");
}

TEST(TermiosFromConfig, ParityCodes) {
    struct Case {
        std::uint8_t parity;
        tcflag_t flags;
    };
    const Case cases[] = {
        {0, 0},
        {1, PARENB | PARODD},
        {2, PARENB},
#ifdef CMSPAR
        {3, PARENB | PARODD | CMSPAR},
        {4, PARENB | CMSPAR},
#endif
    };
    tcflag_t all = PARENB | PARODD;
#ifdef CMSPAR
    all |= CMSPAR;
#endif
    for (const Case& c : cases) {
        termios tio = CookedTerminal();
        ASSERT_TRUE(TermiosFromConfig(Config(c.parity, 8, 0), tio)) << int(c.parity);
        EXPECT_EQ(tio.c_cflag & all, c.flags) << int(c.parity);
        EXPECT_EQ((tio.c_iflag & INPCK) != 0, c.parity != 0) << int(c.parity);
    }
    termios tio = CookedTerminal();
    EXPECT_FALSE(TermiosFromConfig(Config(5, 8, 0), tio));
}

TEST(TermiosFromConfig, SizesStopBitsAndRates) {
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    for (std::uint8_t bits = 5; bits <= 8; ++bits) {
        termios tio = CookedTerminal();
        ASSERT_TRUE(TermiosFromConfig(Config(0, bits, 0), tio));
        EXPECT_EQ(tio.c_cflag & CSIZE, sizes[bits - 5]);
    }
    for (std::uint8_t bits : {0, 4, 9, 16}) {
        termios tio = CookedTerminal();
        EXPECT_FALSE(TermiosFromConfig(Config(0, bits, 0), tio)) << int(bits);
    }
    for (std::uint8_t code : {1, 2}) {
        termios tio = CookedTerminal();
        ASSERT_TRUE(TermiosFromConfig(Config(0, 8, code), tio));
        EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    }
    termios tio = CookedTerminal();
    PortConfig odd = Config(0, 8, 0);
    odd.BaudRate = 115200;
    ASSERT_TRUE(TermiosFromConfig(odd, tio));
    EXPECT_EQ(cfgetospeed(&tio), speed_t{B115200});
    odd.BaudRate = 9601;
    EXPECT_FALSE(TermiosFromConfig(odd, tio));
}

}  // namespace
}  // namespace taktor
