#include "link/posix/termios_config.h"

#include <iterator>

namespace taktor {

namespace {

// The Windows device namespace prefix that DevicePath puts in front of every port name.
const Text kDevicePrefix = u"\\\\.\\";

struct BaudEntry {
    std::uint32_t rate;
    speed_t speed;
};

constexpr BaudEntry kBaudRates[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

// Data bits 5 to 8, and the parity codes 0 to 4 (none, odd, even, mark, space).
constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
#ifdef CMSPAR
constexpr tcflag_t kParities[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                  PARENB | CMSPAR};
#else
constexpr tcflag_t kParities[] = {0, PARENB | PARODD, PARENB};
#endif

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
    config.fOutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    config.fRtsControl = config.fOutxCtsFlow ? 2 : rtsOn ? 1 : 0;
    config.fOutX = (tio.c_iflag & IXON) != 0;
    config.fInX = (tio.c_iflag & IXOFF) != 0;
    config.XonChar = static_cast<char>(tio.c_cc[VSTART]);
    config.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    return config;
}

bool TermiosFromConfig(const PortConfig& config, termios& tio) {
    const BaudEntry* baud = std::begin(kBaudRates);
    while (baud != std::end(kBaudRates) && baud->rate != config.BaudRate) {
        ++baud;
    }
    if (baud == std::end(kBaudRates) || config.ByteSize < 5 || config.ByteSize > 8 ||
        config.Parity >= std::size(kParities)) {
        return false;
    }
    cfmakeraw(&tio);
    if (cfsetispeed(&tio, baud->speed) != 0 || cfsetospeed(&tio, baud->speed) != 0) {
        return false;
    }
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    tio.c_cflag &= ~CMSPAR;
#endif
    tio.c_cflag |= kSizes[config.ByteSize - 5] | kParities[config.Parity] | CLOCAL | CREAD;
    tio.c_iflag &= ~(INPCK | IGNPAR | PARMRK | IXON | IXOFF | IXANY);
    if (config.fParity && config.Parity != 0) {
        tio.c_iflag |= INPCK;
    }
    // One and a half stop bits exist only with five data bits; elsewhere the line sends two.
    if (config.StopBits != 0) {
        tio.c_cflag |= CSTOPB;
    }
    // One switch covers both directions of hardware handshake here.
    if (config.fOutxCtsFlow || config.fRtsControl == 2) {
        tio.c_cflag |= CRTSCTS;
    }
    tio.c_iflag |= (config.fOutX ? IXON : 0) | (config.fInX ? IXOFF : 0);
    tio.c_cc[VSTART] = static_cast<cc_t>(config.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(config.XoffChar);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return true;
}

}  // namespace taktor
