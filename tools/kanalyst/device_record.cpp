#include "tools/kanalyst/device_record.h"

namespace kanalyst {
namespace {

// CM_Get_DevNode_Status: return codes and status bits.
constexpr std::uint32_t kNodeAnswered = 0x00;     // CR_SUCCESS
constexpr std::uint32_t kNoSuchNode = 0x0D;       // CR_NO_SUCH_DEVNODE
constexpr std::uint32_t kNodeHasProblem = 0x400;  // DN_HAS_PROBLEM

// The config flags of a device's registry entry.
constexpr std::uint32_t kConfigDisabled = 0x01;       // CONFIGFLAG_DISABLED
constexpr std::uint32_t kConfigReinstall = 0x20;      // CONFIGFLAG_REINSTALL
constexpr std::uint32_t kConfigFailedInstall = 0x40;  // CONFIGFLAG_FAILEDINSTALL
constexpr std::uint32_t kProblemReinstall = 18;

constexpr std::uint16_t kProlificVendor = 0x067b;

struct ProblemText {
    std::uint32_t code;
    const char* words;
};

constexpr ProblemText kProblemTexts[] = {
    {1, "устройство не настроено, драйвер не подобран"},
    {3, "драйвер повреждён, или системе не хватает памяти"},
    {10, "запуск этого устройства невозможен"},
    {12, "устройству не хватает свободных ресурсов"},
    {14, "устройство заработает только после перезагрузки компьютера"},
    {18, "драйверы устройства нужно установить заново"},
    {19, "сведения о настройке устройства в реестре повреждены"},
    {21, "Windows удаляет это устройство"},
    {22, "устройство отключено"},
    {24, "устройство отсутствует или работает неправильно"},
    {28, "драйверы для устройства не установлены"},
    {29, "устройство отключено: встроенное ПО не дало ему ресурсов"},
    {31, "Windows не удаётся загрузить драйверы устройства"},
    {32, "служба драйвера отключена"},
    {37, "драйвер устройства не запустился"},
    {39, "драйвер устройства повреждён или отсутствует"},
    {43, "Windows остановила устройство: оно сообщило о неполадке"},
    {45, "устройство сейчас не подключено к компьютеру"},
    {47, "устройство подготовлено к безопасному извлечению"},
    {48, "драйвер устройства заблокирован: известно, что он не работает в этой системе"},
    {52, "не удаётся проверить цифровую подпись драйвера"},
};

struct ForeignAdapter {
    std::uint16_t vendor;
    std::uint16_t product;
    const char* chip;
};

// USB-serial adapters that are common in the field and that the configurator does not use.
constexpr ForeignAdapter kForeignAdapters[] = {
    {0x0403, 0x6001, "FTDI FT232R"},         {0x0403, 0x6010, "FTDI FT2232"},
    {0x0403, 0x6011, "FTDI FT4232"},         {0x0403, 0x6014, "FTDI FT232H"},
    {0x0403, 0x6015, "FTDI FT230X/FT231X"},  {0x10c4, 0xea60, "Silicon Labs CP2102/CP2104"},
    {0x10c4, 0xea70, "Silicon Labs CP2105"}, {0x10c4, 0xea71, "Silicon Labs CP2108"},
    {0x1a86, 0x55d3, "WCH CH343"},           {0x1a86, 0x55d4, "WCH CH9102"},
    {0x0557, 0x2008, "ATEN UC-232A"},
};

struct ChipByProduct {
    std::uint16_t vendor;
    std::uint16_t product;
    const char* chip;
};

constexpr ChipByProduct kCableChips[] = {
    {0x067b, 0x2303, "Prolific PL2303"},
    {0x067b, 0x2304, "Prolific PL2303TB"},
    {0x067b, 0x23a3, "Prolific PL2303GC"},
    {0x067b, 0x23b3, "Prolific PL2303GB"},
    {0x067b, 0x23c3, "Prolific PL2303GT"},
    {0x067b, 0x23d3, "Prolific PL2303GL"},
    {0x067b, 0x23e3, "Prolific PL2303GE"},
    {0x067b, 0x23f3, "Prolific PL2303GS"},
    {0x1a86, 0x5523, "CH341"},
    {0x4348, 0x5523, "CH341"},
};

const ForeignAdapter* FindForeign(const UsbId& id) {
    for (const ForeignAdapter& known : kForeignAdapters) {
        if (known.vendor == id.vendor && known.product == id.product) {
            return &known;
        }
    }
    return nullptr;
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

// Prolific's newer drivers rename a chip they refuse to work with ("PL2303HXA PHASED OUT SINCE
// 2012. PLEASE CONTACT YOUR SUPPLIER."); these phrases are in English in every language.
bool SaysProlificRefuses(const DeviceRecord& device) {
    for (const std::string* text : {&device.description, &device.busDescription}) {
        const std::string upper = UpperCaseAscii(*text);
        if (upper.find("PHASED OUT") != std::string::npos ||
            upper.find("CONTACT YOUR SUPPLIER") != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::uint32_t> ProblemCode(const DeviceRecord& device) {
    if (device.problemProperty) {
        return device.problemProperty;
    }
    const NodeStatus& node = device.node;
    if (node.result == kNodeAnswered && node.status != NodeStatus::kNotWritten) {
        if ((node.status & kNodeHasProblem) == 0) {
            return 0u;
        }
        if (node.problem != NodeStatus::kNotWritten) {
            return node.problem;
        }
    }
    if (device.configFlags) {
        if (*device.configFlags & kConfigDisabled) {
            return kProblemDisabled;
        }
        if (*device.configFlags & kConfigFailedInstall) {
            return kProblemFailedInstall;
        }
        if (*device.configFlags & kConfigReinstall) {
            return kProblemReinstall;
        }
    }
    return std::nullopt;
}

std::optional<bool> IsConnected(const DeviceRecord& device) {
    if (device.presentProperty) {
        return device.presentProperty;
    }
    if (device.problemProperty == kProblemPhantom) {
        return false;
    }
    if (device.node.result == kNodeAnswered && device.node.status != NodeStatus::kNotWritten) {
        return device.node.problem != kProblemPhantom;
    }
    if (device.node.result == kNoSuchNode) {
        return false;
    }
    return std::nullopt;
}

DriverState StateOfDriver(const DeviceRecord& device) {
    const std::optional<std::uint32_t> problem = ProblemCode(device);
    if (problem && *problem != kProblemPhantom) {
        switch (*problem) {
            case 0:
                return DriverState::Working;
            case kProblemNotConfigured:
            case kProblemFailedInstall:
                return DriverState::NoDriver;
            case kProblemFailedStart:
                return device.usb && device.usb->vendor == kProlificVendor &&
                               SaysProlificRefuses(device)
                           ? DriverState::ProlificRefused
                           : DriverState::StartFailed;
            case kProblemDisabled:
                return DriverState::Disabled;
            case kProblemFailedPostStart:
                return DriverState::DeviceFailed;
            case kProblemNeedRestart:
                return DriverState::NeedsRestart;
            case kProblemUnsignedDriver:
                return DriverState::Unsigned;
            default:
                return DriverState::OtherProblem;
        }
    }
    if (device.service.empty() && device.setupClass.empty()) {
        return DriverState::NoDriver;  // listed under "Other devices"
    }
    return DriverState::Unread;
}

std::string ProblemWords(std::uint32_t code) {
    std::string words = "неполадка устройства";
    for (const ProblemText& text : kProblemTexts) {
        if (text.code == code) {
            words = text.words;
        }
    }
    return words + " (код " + std::to_string(code) + ")";
}

AdapterKind KindOfAdapter(const DeviceRecord& device) {
    if (device.usb && RecogniseCable(*device.usb) != Cable::Unknown) {
        return AdapterKind::Cable;
    }
    // A device whose descriptor could not be read gets made-up ids of vendor 0000.
    if (ProblemCode(device) == kProblemFailedPostStart &&
        StartsWith(UpperCaseAscii(device.instanceId), "USB\\") &&
        (!device.usb || device.usb->vendor == 0)) {
        return AdapterKind::Unidentified;
    }
    if (device.usb && device.usb->vendor != 0 &&
        (FindForeign(*device.usb) != nullptr || IsPortsClass(device))) {
        return AdapterKind::Foreign;
    }
    return AdapterKind::None;
}

std::string ChipName(const DeviceRecord& device) {
    if (!device.usb || device.usb->vendor == 0) {
        return "неопознанное USB-устройство";
    }
    const UsbId& id = *device.usb;
    for (const ChipByProduct& known : kCableChips) {
        if (known.vendor == id.vendor && known.product == id.product) {
            return known.chip;
        }
    }
    if (RecogniseCable(id) == Cable::Ch340) {
        return "CH340";
    }
    if (const ForeignAdapter* foreign = FindForeign(id)) {
        return foreign->chip;
    }
    return "переходник неизвестного типа";
}

std::string LikelyFamily(const DeviceRecord& device) {
    // The chip's revision (bcdDevice), from Prolific's data sheets; clones copy it too.
    if (!device.usb || device.usb->vendor != kProlificVendor || device.usb->product != 0x2303 ||
        !device.revision) {
        return std::string();
    }
    const std::uint16_t revision = *device.revision;
    if (revision < 0x0300) {
        return "вероятно ранний PL2303H или PL2303X (снят с производства)";
    }
    if (revision == 0x0300) {
        return "вероятно PL2303HXA или PL2303XA (сняты с производства) либо PL2303TA";
    }
    if (revision == 0x0400) {
        return "вероятно PL2303HXD, PL2303EA, PL2303RA или PL2303SA";
    }
    if (revision == 0x0500) {
        return "вероятно PL2303TB";
    }
    return std::string();
}

bool IsPortsClass(const DeviceRecord& device) {
    return UpperCaseAscii(device.setupClass) == "PORTS";
}

bool IsListed(const DeviceRecord& device) {
    if (!IsPortsClass(device) || SanitiseText(device.port).empty() ||
        StartsWith(UpperCaseAscii(device.port), "LPT")) {
        return false;
    }
    const std::optional<std::uint32_t> problem = ProblemCode(device);
    return IsConnected(device) != false && (!problem || *problem == 0);
}

std::vector<PortRecord> ListedPorts(const std::vector<DeviceRecord>& devices) {
    std::vector<PortRecord> ports;
    for (const DeviceRecord& device : devices) {
        if (IsListed(device)) {
            ports.push_back({device.description, device.usb, device.port});
        }
    }
    return ports;
}

}  // namespace kanalyst
