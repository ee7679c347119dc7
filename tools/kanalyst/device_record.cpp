#include "tools/kanalyst/device_record.h"

#include <tuple>
#include <utility>

namespace kanalyst {
namespace {

// CM_Get_DevNode_Status: return codes and status bits.
constexpr std::uint32_t kNodeAnswered = 0x00;     // CR_SUCCESS
constexpr std::uint32_t kNoSuchNode = 0x0D;       // CR_NO_SUCH_DEVNODE
constexpr std::uint32_t kNodeStarted = 0x08;      // DN_STARTED
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
    {1, "устройство настроено неправильно"},
    {3, "драйвер повреждён, или системе не хватает памяти"},
    {10, "запуск этого устройства невозможен"},
    {12, "устройству не хватает свободных ресурсов"},
    {14, "устройство заработает только после перезагрузки компьютера"},
    {18, "драйверы устройства нужно установить заново"},
    {19, "сведения о настройке устройства в реестре повреждены"},
    {21, "Windows удаляет это устройство"},
    {22, "устройство выключено в Диспетчере устройств"},
    {24, "устройство отсутствует или работает неправильно"},
    {28, "драйверы для устройства не установлены"},
    {29, "устройство выключено: встроенное ПО компьютера не дало ему ресурсов"},
    {31, "Windows не удаётся загрузить драйверы устройства"},
    {32, "запуск службы драйвера запрещён"},
    {37, "драйвер устройства не запустился"},
    {39, "драйвер устройства повреждён или отсутствует"},
    {43, "Windows остановила устройство: оно сообщило о неполадке"},
    {45, "устройство сейчас не подключено к компьютеру"},
    {47, "устройство подготовлено к безопасному извлечению"},
    {48, "драйвер устройства заблокирован: известно, что он не работает в этой системе"},
    {52, "не удаётся проверить цифровую подпись драйвера"},
};

// PL2303 chips under product id 2303 tell their family by their revision (bcdDevice), as
// Prolific's data sheets give it; clones copy it too.
struct ChipFamily {
    std::uint16_t revision;
    const char* family;
};

constexpr ChipFamily kPl2303Families[] = {
    {0x0300, "вероятно PL2303HXA или PL2303XA (сняты с производства) либо PL2303TA"},
    {0x0400, "вероятно PL2303HXD, PL2303EA, PL2303RA или PL2303SA"},
    {0x0500, "вероятно PL2303TB"},
};

// Prolific's newer drivers rename a chip they refuse to work with; the phrases are in English in
// every language of Windows, and the chip may show any problem code, none included.
constexpr const char* kProlificRefusals[] = {
    "PHASED OUT",  // "PL2303HXA PHASED OUT SINCE 2012. PLEASE CONTACT..."
    "CONTACT YOUR SUPPLIER",
    "PLEASE INSTALL CORRESPONDING",  // "...PL2303 DRIVER TO SUPPORT WINDOWS 11 AND FURTHER OS"
    "THIS IS NOT PROLIFIC PL2303",   // a chip the driver takes for a counterfeit
    "NOT SUPPORT WINDOWS",           // "PL2303TA DO NOT SUPPORT WINDOWS 11 OR LATER"
};

bool SaysProlificRefuses(const DeviceRecord& device) {
    if (!device.usb || device.usb->vendor != kProlificVendor) {
        return false;
    }
    for (const std::string* text :
         {&device.friendlyName, &device.description, &device.busDescription}) {
        const std::string upper = UpperCaseAscii(*text);
        for (const char* phrase : kProlificRefusals) {
            if (upper.find(phrase) != std::string::npos) {
                return true;
            }
        }
    }
    return false;
}

bool HasNoDriver(const DeviceRecord& device) {
    return device.service.empty() && device.setupClass.empty();  // under "Other devices"
}

}  // namespace

bool operator<(const LocalTime& a, const LocalTime& b) {
    return std::tie(a.year, a.month, a.day, a.hour, a.minute) <
           std::tie(b.year, b.month, b.day, b.hour, b.minute);
}

std::optional<std::uint32_t> ReportedProblem(const DeviceRecord& device) {
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
    return std::nullopt;
}

std::optional<std::uint32_t> ProblemCode(const DeviceRecord& device) {
    if (const std::optional<std::uint32_t> reported = ReportedProblem(device)) {
        return reported;
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

std::optional<std::uint32_t> CurrentProblem(const DeviceRecord& device) {
    const std::optional<std::uint32_t> problem = ProblemCode(device);
    if (IsConnected(device) == false || !problem || *problem == 0 || *problem == kProblemPhantom) {
        return std::nullopt;
    }
    return problem;
}

std::optional<bool> IsStarted(const DeviceRecord& device) {
    if (device.node.result != kNodeAnswered || device.node.status == NodeStatus::kNotWritten) {
        return std::nullopt;
    }
    return (device.node.status & kNodeStarted) != 0;
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
    if (device.terminal) {
        return device.terminal->node.empty() ? DriverState::NoDriver : DriverState::Working;
    }
    if (SaysProlificRefuses(device)) {
        return DriverState::ProlificRefused;
    }
    const std::optional<std::uint32_t> problem = ProblemCode(device);
    if (IsConnected(device) == false || problem == kProblemPhantom) {
        return HasNoDriver(device) ? DriverState::NoDriver : DriverState::Absent;
    }
    if (!problem) {
        return HasNoDriver(device) ? DriverState::NoDriver : DriverState::Unread;
    }
    const std::pair<std::uint32_t, DriverState> states[] = {
        {0, DriverState::Working},
        {kProblemNotConfigured, DriverState::NoDriver},
        {kProblemFailedInstall, DriverState::NoDriver},
        {kProblemFailedStart, DriverState::StartFailed},
        {kProblemDisabled, DriverState::Disabled},
        {kProblemFailedPostStart, DriverState::DeviceFailed},
        {kProblemNeedRestart, DriverState::NeedsRestart},
        {kProblemUnsignedDriver, DriverState::Unsigned}};
    for (const auto& [code, state] : states) {
        if (code == *problem) {
            return state;
        }
    }
    return DriverState::OtherProblem;
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
    if (device.usb) {
        if (const KnownAdapter* known = FindKnownAdapter(*device.usb)) {
            return known->cable != Cable::Unknown ? AdapterKind::Cable : AdapterKind::Foreign;
        }
    }
    // A device whose descriptor could not be read gets made-up ids of vendor 0000.
    if (ProblemCode(device) == kProblemFailedPostStart &&
        UpperCaseAscii(device.instanceId).rfind("USB\\", 0) == 0 &&
        (!device.usb || device.usb->vendor == 0)) {
        return AdapterKind::Unidentified;
    }
    if (IsPortsClass(device) && device.usb && device.usb->vendor != 0 && device.removable == true) {
        return AdapterKind::Unknown;
    }
    return AdapterKind::None;
}

std::string AdapterName(const DeviceRecord& device) {
    if (!device.usb || device.usb->vendor == 0) {
        return "неопознанное USB-устройство";
    }
    if (const KnownAdapter* known = FindKnownAdapter(*device.usb)) {
        return known->chip;
    }
    const std::string description = OneLineText(device.description);
    return description.empty() ? "USB-устройство неизвестного типа"
                               : "USB-устройство «" + description + "»";
}

std::string LikelyFamily(const DeviceRecord& device) {
    if (!device.usb || device.usb->vendor != kProlificVendor || device.usb->product != 0x2303 ||
        !device.revision) {
        return std::string();
    }
    for (const ChipFamily& known : kPl2303Families) {
        if (known.revision == *device.revision) {
            return known.family;
        }
    }
    return std::string();
}

bool IsPortsClass(const DeviceRecord& device) {
    return UpperCaseAscii(device.setupClass) == "PORTS";
}

bool IsListed(const DeviceRecord& device) {
    if (!IsPortsClass(device) || SanitiseText(device.port).empty() || IsPrinterPort(device.port) ||
        IsConnected(device) == false) {
        return false;
    }
    const std::optional<std::uint32_t> problem = ReportedProblem(device);
    return !problem || *problem == 0 || IsStarted(device) == true;
}

std::vector<PortRecord> ListedPorts(const std::vector<DeviceRecord>& devices) {
    std::vector<PortRecord> ports;
    for (const DeviceRecord& device : devices) {
        if (IsListed(device)) {
            ports.push_back(
                {device.description, device.usb, device.port, device.removable == true});
        }
    }
    return ports;
}

}  // namespace kanalyst
