#include "link/posix/termios_config.h"

namespace taktor {

namespace {

// The Windows device namespace prefix that DevicePath puts in front of every port name.
const Text kDevicePrefix = u"\\\\.\\";

struct BaudEntry {
    std::uint32_t rate;
    speed_t speed;
};

constexpr BaudEntry kBaudRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

bool SpeedFor(std::uint32_t rate, speed_t& speed) {
    for (const BaudEntry& entry : kBaudRates) {
        if (entry.rate == rate) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

std::uint32_t RateFor(speed_t speed) {
    for (const BaudEntry& entry : kBaudRates) {
        if (entry.speed == speed) {
            return entry.rate;
        }
    }
    return 0;
}

}  // namespace

std::string PosixDevicePath(const Text& devicePath) {
    Text name = devicePath;
    if (name.compare(0, kDevicePrefix.size(), kDevicePrefix) == 0) {
        name.erase(0, kDevicePrefix.size());
    }
    std::string path = Utf8FromText(name);
    if (path.find('/') == std::string::npos) {
        path.insert(0, "/dev/");
    }
    return path;
}

PortConfig ConfigFromTermios(const termios& tio, bool rtsOn) {
    PortConfig config;
    config.baudRate = RateFor(cfgetospeed(&tio));
    config.parityCheck = (tio.c_iflag & INPCK) != 0;
    if ((tio.c_cflag & PARENB) == 0) {
        config.parity = 0;
    } else {
        const bool odd = (tio.c_cflag & PARODD) != 0;
#ifdef CMSPAR
        if ((tio.c_cflag & CMSPAR) != 0) {
            config.parity = odd ? 3 : 4;
        } else
#endif
        {
            config.parity = odd ? 1 : 2;
        }
    }
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            config.byteSize = 5;
            break;
        case CS6:
            config.byteSize = 6;
            break;
        case CS7:
            config.byteSize = 7;
            break;
        default:
            config.byteSize = 8;
            break;
    }
    if ((tio.c_cflag & CSTOPB) != 0) {
        config.stopBits = config.byteSize == 5 ? 1 : 2;
    } else {
        config.stopBits = 0;
    }
    const bool ctsRts = (tio.c_cflag & CRTSCTS) != 0;
    config.outxCtsFlow = ctsRts;
    if (ctsRts) {
        config.rtsControl = 2;
    } else {
        config.rtsControl = rtsOn ? 1 : 0;
    }
    config.outX = (tio.c_iflag & IXON) != 0;
    config.inX = (tio.c_iflag & IXOFF) != 0;
    config.xonChar = static_cast<char>(tio.c_cc[VSTART]);
    config.xoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    return config;
}

bool TermiosFromConfig(const PortConfig& config, termios& tio) {
    speed_t speed = 0;
    if (!SpeedFor(config.baudRate, speed)) {
        return false;
    }
    tcflag_t size = 0;
    switch (config.byteSize) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return false;
    }

    cfmakeraw(&tio);
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
        return false;
    }
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    tio.c_cflag &= ~CMSPAR;
#endif
    tio.c_cflag |= size | CLOCAL | CREAD;

    switch (config.parity) {
        case 0:
            break;
        case 1:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            tio.c_cflag |= PARENB;
            break;
#ifdef CMSPAR
        case 3:
            tio.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
#endif
        default:
            return false;
    }
    tio.c_iflag &= ~(INPCK | IGNPAR | PARMRK);
    if (config.parityCheck && config.parity != 0) {
        tio.c_iflag |= INPCK;
    }
    // One and a half stop bits exist only with five data bits; elsewhere the line sends two.
    if (config.stopBits != 0) {
        tio.c_cflag |= CSTOPB;
    }
    // One switch covers both directions of hardware handshake here.
    if (config.outxCtsFlow || config.rtsControl == 2) {
        tio.c_cflag |= CRTSCTS;
    }
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (config.outX) {
        tio.c_iflag |= IXON;
    }
    if (config.inX) {
        tio.c_iflag |= IXOFF;
    }
    tio.c_cc[VSTART] = static_cast<cc_t>(config.xonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(config.xoffChar);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return true;
}

}  // namespace taktor
