#include "tools/kanalyst/cable_report.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "common/list_file.h"
#include "common/text.h"

namespace kanalyst {
namespace {

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

std::string TwoDigits(int value) {
    return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
           static_cast<char>('0' + value % 10);
}

bool IsCableLine(const std::string& line) {
    taktor::Text port;
    return taktor::CablePortOfLine(taktor::TextFromUtf8(line), port);
}

// The later of the two dates, or nothing.
std::optional<LocalTime> LastSeen(const DeviceRecord& device) {
    if (device.lastArrival && device.lastRemoval) {
        return std::max(*device.lastArrival, *device.lastRemoval);
    }
    return device.lastArrival ? device.lastArrival : device.lastRemoval;
}

bool HasPort(const DeviceRecord& device) {
    return !SanitiseText(device.port).empty();
}

bool SameIds(const DeviceRecord& a, const DeviceRecord& b) {
    return a.usb && b.usb && a.usb->vendor == b.usb->vendor && a.usb->product == b.usb->product;
}

// Adapters such as FTDI's appear twice, as the USB device and as the port on it: the USB device
// is left out when it works (or its state is unknown) and a port with the same ids is there.
bool IsShadowedByItsPort(const std::vector<DeviceRecord>& devices, std::size_t index) {
    const DeviceRecord& device = devices[index];
    const std::optional<std::uint32_t> problem = ProblemCode(device);
    if (device.terminal || HasPort(device) || (problem && *problem != 0)) {
        return false;
    }
    for (std::size_t other = 0; other < devices.size(); ++other) {
        if (other != index && SameIds(device, devices[other]) && HasPort(devices[other]) &&
            IsConnected(devices[other]) == IsConnected(device)) {
            return true;
        }
    }
    return false;
}

// The list as the tool writes it and the port the configurator's own scan takes from it.
std::string TakenPort(const std::string& list) {
    return taktor::Utf8FromText(taktor::ScanPortList(list));
}

// The listed device whose line the configurator takes: the last cable line with that port.
std::optional<std::size_t> TakenDevice(const std::vector<DeviceRecord>& devices,
                                       const std::string& takenPort) {
    std::optional<std::size_t> found;
    for (std::size_t k = 0; k < devices.size(); ++k) {
        const DeviceRecord& device = devices[k];
        if (IsListed(device) && SanitiseText(device.port) == takenPort &&
            IsCableLine(FormatPortLine({device.description, device.usb, device.port}))) {
            found = k;
        }
    }
    return found;
}

bool DriverWorksOrUnread(const DeviceRecord& device) {
    const DriverState state = StateOfDriver(device);
    return state == DriverState::Working || state == DriverState::Unread;
}

Verdict VerdictForTaken(const DeviceRecord& device) {
    if (!DriverWorksOrUnread(device)) {
        return Verdict::PickedBroken;
    }
    // Wine does not keep a port to one program, so a refused terminal means missing rights.
    if (device.terminal && device.open == PortOpen::Busy) {
        return Verdict::NoPermission;
    }
    switch (device.open) {
        case PortOpen::Free:
            return Verdict::Works;
        case PortOpen::Busy:
            return Verdict::Busy;
        case PortOpen::NotTried:
            return Verdict::PickedUnchecked;
        case PortOpen::Missing:
        case PortOpen::Failed:
        case PortOpen::NoAnswer:
            break;
    }
    return Verdict::PickedBroken;
}

std::string OpenWords(const DeviceRecord& device) {
    switch (device.open) {
        case PortOpen::Free:
            return "открывается, свободен";
        case PortOpen::Busy:
            return device.terminal ? "не открывается: нет прав на " + device.terminal->node
                                   : "занят другой программой (доступ запрещён)";
        case PortOpen::Missing:
            return "такого порта в системе нет";
        case PortOpen::Failed:
            return "не открывается (ошибка " + std::to_string(device.openError) + ")";
        case PortOpen::NoAnswer:
            return "не открылся: драйвер не ответил";
        case PortOpen::NotTried:
            break;
    }
    if (IsConnected(device) == false) {
        return "не проверялся: устройство не подключено";
    }
    return device.usb ? "не открывался: конфигуратор его не возьмёт"
                      : "не проверялся: это не USB-порт";
}

// The driver's state in words: "работает", "устройство выключено ... (код 22)".
std::string StateWords(const DeviceRecord& device) {
    const std::optional<std::uint32_t> problem = ProblemCode(device);
    const bool problemNow =
        IsConnected(device) != false && problem && *problem != 0 && *problem != kProblemPhantom;
    switch (StateOfDriver(device)) {
        case DriverState::Working:
            return "работает";
        case DriverState::NoDriver:
            return problemNow ? ProblemWords(*problem) : "не установлен";
        case DriverState::ProlificRefused:
            return (problemNow ? ProblemWords(*problem) + "; " : std::string()) +
                   "драйвер Prolific отказывается работать с этим чипом";
        case DriverState::Unread:
            return "состояние прочитать не удалось";
        case DriverState::Absent:
            return device.service.empty() ? "нет сведений" : "установлен";
        default:
            break;
    }
    return ProblemWords(*problem);
}

// The kernel driver of a device read from Linux: the terminal's, or what took the USB device.
std::string KernelDriverWords(const DeviceRecord& device) {
    const std::string driver = OneLineText(device.service);
    if (!device.terminal->node.empty()) {
        return "работает; драйвер ядра " + (driver.empty() ? "неизвестен" : driver);
    }
    return driver.empty() ? "драйвер ядра не подключился, терминала нет"
                          : "устройство занял драйвер " + driver + ", терминала нет";
}

// The state with the driver's service and version.
std::string DriverWords(const DeviceRecord& device) {
    if (device.terminal) {
        return KernelDriverWords(device);
    }
    std::string words = StateWords(device);
    if (!device.service.empty()) {
        words += "; служба " + OneLineText(device.service);
    }
    if (!device.driverVersion.empty()) {
        words += ", версия " + OneLineText(device.driverVersion);
    }
    return words;
}

// Why a port that the configurator takes does not work, as far as its test open tells.
std::string OpenTrouble(const DeviceRecord& device) {
    switch (device.open) {
        case PortOpen::Missing:
            return "порта " + OneLineText(device.port) + " в системе нет";
        case PortOpen::Failed:
            return "порт не открывается (ошибка " + std::to_string(device.openError) + ")";
        case PortOpen::NoAnswer:
            return "драйвер не ответил, когда порт открывали";
        case PortOpen::NotTried:
        case PortOpen::Free:
        case PortOpen::Busy:
            break;
    }
    return "порт не открывается";
}

// The chip and the port, as a verdict names the device: "CH340 на COM5".
std::string CableOn(const DeviceRecord& device) {
    std::string text = AdapterName(device);
    if (HasPort(device)) {
        text += " на " + OneLineText(device.port);
    }
    return text;
}

std::string DriverName(const DeviceRecord& device) {
    if (device.usb && RecogniseCable(*device.usb) == Cable::Ch340) {
        return "драйвер CH340/CH341 (CH341SER) с сайта производителя чипа, компании WCH";
    }
    return "драйвер Prolific PL2303 с сайта компании Prolific";
}

// The Linux module that makes terminals for the cable.
std::string KernelModule(const DeviceRecord& device) {
    return device.usb && RecogniseCable(*device.usb) == Cable::Ch340 ? "ch341" : "pl2303";
}

const char kRemoveWithDriver[] =
    "в Диспетчере устройств щёлкните шнур правой кнопкой мыши, выберите «Удалить устройство» "
    "(в Windows 7 — «Удалить»), отметьте «Удалить программы драйверов для этого устройства» и "
    "нажмите «Удалить»; затем установите драйвер заново.";

const char kReplugElsewhere[] =
    "Выньте шнур и вставьте его в другой разъём USB прямо на компьютере, без удлинителя и "
    "разветвителя. Если ошибка останется, шнур неисправен: замените его.";

std::string Reinstall() {
    return std::string(
               "Выньте шнур, подождите 10 секунд и вставьте его в другой разъём USB. "
               "Если не поможет, удалите шнур вместе с драйвером: ") +
           kRemoveWithDriver;
}

std::string StepForDriver(const DeviceRecord& device) {
    switch (StateOfDriver(device)) {
        case DriverState::NoDriver:
            return "Установите " + DriverName(device) + ", затем выньте шнур и вставьте его снова.";
        case DriverState::ProlificRefused:
            return "Надёжнее всего заменить шнур на шнур с чипом CH340. Если замены нет, поставьте "
                   "старый драйвер Prolific версии 3.3.2.102 вручную: установите его, затем в "
                   "Диспетчере устройств щёлкните шнур правой кнопкой мыши и выберите «Обновить "
                   "драйвер» → «Выполнить поиск драйверов на этом компьютере» → «Выбрать драйвер "
                   "из списка», отметьте версию 3.3.2.102 и нажмите «Далее». Центр обновления "
                   "Windows может снова поставить новый драйвер — тогда повторите выбор.";
        case DriverState::StartFailed:
            return std::string(
                       "Выньте шнур и вставьте его в другой разъём USB. Если код 10 "
                       "останется, удалите шнур вместе с драйвером: ") +
                   kRemoveWithDriver;
        case DriverState::Disabled:
            return "Включите шнур: в Диспетчере устройств щёлкните шнур правой кнопкой мыши и "
                   "выберите «Включить устройство» (в Windows 7 — «Задействовать»).";
        case DriverState::DeviceFailed:
            return kReplugElsewhere;
        case DriverState::NeedsRestart:
            return "Перезагрузите компьютер.";
        case DriverState::Unsigned:
            return "Windows не принимает подпись драйвера: удалите драйвер и установите "
                   "подписанный драйвер с сайта производителя чипа.";
        case DriverState::Working:
        case DriverState::OtherProblem:
        case DriverState::Unread:
        case DriverState::Absent:
            break;
    }
    return Reinstall();
}

// What a verdict speaks of: its device, resolved once (none for some verdicts), and the rest of
// the diagnosis.
struct Subject {
    const DeviceRecord* device;
    const Diagnosis& diagnosis;
};

// One row per verdict: its ИТОГ line and its ЧТО СДЕЛАТЬ line.
struct VerdictWords {
    Verdict verdict;
    std::string (*summary)(const Subject&);
    std::string (*step)(const Subject&);
};

const VerdictWords kVerdictWords[] = {
    {Verdict::Works,
     [](const Subject& s) {
         return "Шнур " + CableOn(*s.device) + " работает: порт открывается и свободен.";
     },
     [](const Subject&) -> std::string {
         return "Повторите запись. Если она снова не удастся, проверьте, что шнур плотно вставлен "
                "в "
                "разъём контроллера и что контроллер включён.";
     }},
    {Verdict::Busy,
     [](const Subject& s) {
         return "Шнур " + CableOn(*s.device) + " найден, но его порт занят другой программой.";
     },
     [](const Subject& s) {
         return "Закройте программы, которые могут работать с " + OneLineText(s.device->port) +
                ": терминалы, программы для прошивки, другие конфигураторы, вторую копию "
                "Taktor.exe. Затем повторите запись. Если не поможет, перезагрузите компьютер.";
     }},
    {Verdict::PickedBroken,
     [](const Subject& s) {
         const std::string why =
             DriverWorksOrUnread(*s.device) ? OpenTrouble(*s.device) : StateWords(*s.device);
         return "Конфигуратор возьмёт шнур " + CableOn(*s.device) +
                ", но шнур не работает: " + why + ".";
     },
     [](const Subject& s) {
         return DriverWorksOrUnread(*s.device) ? Reinstall() : StepForDriver(*s.device);
     }},
    {Verdict::PickedUnchecked,
     [](const Subject& s) {
         return "Конфигуратор возьмёт порт " + s.diagnosis.takenPort +
                ": он назван как шнур контроллера, но это не USB-переходник, поэтому порт не "
                "проверялся.";
     },
     [](const Subject& s) {
         return "Повторите запись. Если конфигуратор сообщит, что порт занят или шнур "
                "неисправен, откройте Диспетчер устройств, раздел «Порты (COM и LPT)», и "
                "посмотрите, какое устройство назначено на " +
                s.diagnosis.takenPort + ".";
     }},
    {Verdict::NoPermission,
     [](const Subject& s) {
         return "Шнур " + CableOn(*s.device) + " найден, но Linux не даёт открыть его терминал " +
                s.device->terminal->node + ": у пользователя нет на это прав.";
     },
     [](const Subject&) -> std::string {
         return "Добавьте себя в группу dialout: откройте терминал и выполните «sudo usermod -aG "
                "dialout $USER» (в Fedora и других дистрибутивах на RPM — та же команда), затем "
                "выйдите из системы и войдите снова или перезагрузите компьютер: новая группа "
                "действует только с нового входа. Если вы уже в группе dialout, достаточно войти "
                "заново.";
     }},
    {Verdict::NoComLink,
     [](const Subject& s) {
         return "Шнур " + AdapterName(*s.device) + " подключён (" + s.device->terminal->node +
                "), но ни один COM-порт Wine не ведёт к нему.";
     },
     [](const Subject& s) {
         return "Wine назначает шнурам COM-порты только при своём запуске. Закройте конфигуратор "
                "и другие программы Wine, выполните в терминале «wineserver -k» и снова "
                "запустите Taktor.exe. Если порт не появится, добавьте его сами: «" +
                s.device->terminal->linkCommand + "» — и повторите запись.";
     }},
    {Verdict::NoKernelDriver,
     [](const Subject& s) {
         const std::string why =
             s.device->service.empty()
                 ? "в ядре нет драйвера " + KernelModule(*s.device) + " или он не загружен"
                 : "устройство занял драйвер " + OneLineText(s.device->service) +
                       " — обычно так его забирает программа brltty";
         return "Шнур " + AdapterName(*s.device) +
                " подключён, но Linux не создал для него терминал: " + why + ".";
     },
     [](const Subject& s) {
         if (!s.device->service.empty()) {
             return std::string(
                 "Удалите программу для дисплеев Брайля brltty, если она не нужна: «sudo apt "
                 "remove brltty» (в Fedora — «sudo dnf remove brltty»), затем выньте шнур и "
                 "вставьте его снова.");
         }
         return "Выполните в терминале «sudo modprobe " + KernelModule(*s.device) +
                "», затем выньте шнур и вставьте его снова. Если modprobe ответит, что модуль не "
                "найден, установите полный набор модулей ядра дистрибутива (в Debian — пакет "
                "linux-image-amd64, в Ubuntu — linux-modules-extra для своего ядра, в Fedora — "
                "kernel-modules) и перезагрузите компьютер.";
     }},
    {Verdict::CableNotWorking,
     [](const Subject& s) {
         const std::string why = !DriverWorksOrUnread(*s.device) ? StateWords(*s.device)
                                 : HasPort(*s.device) ? "его порт не попадает в список портов"
                                                      : "у него нет COM-порта";
         return "Шнур " + AdapterName(*s.device) + " подключён, но не работает: " + why + ".";
     },
     [](const Subject& s) { return StepForDriver(*s.device); }},
    {Verdict::WrongAdapter,
     [](const Subject& s) {
         return "Подключён не шнур контроллера, а другой переходник: " + AdapterName(*s.device) +
                " (USB " + Hex4(s.device->usb->vendor) + ":" + Hex4(s.device->usb->product) +
                "). Конфигуратор работает только со шнурами на чипах Prolific PL2303 и CH340.";
     },
     [](const Subject&) -> std::string {
         return "Выньте этот переходник и вставьте вместо него шнур контроллера на чипе "
                "Prolific PL2303 или CH340.";
     }},
    {Verdict::UnidentifiedUsb,
     [](const Subject&) -> std::string {
         return "Подключено USB-устройство, которое Windows не смогла опознать (код 43): скорее "
                "всего, плохой контакт или неисправный шнур.";
     },
     [](const Subject&) -> std::string { return kReplugElsewhere; }},
    {Verdict::OnlyRemembered,
     [](const Subject& s) {
         const std::optional<LocalTime> seen = LastSeen(*s.device);
         return "Шнур " + AdapterName(*s.device) + " сейчас не подключён; " +
                (seen ? "последний раз он был подключён " + FormatLocalTime(*seen)
                      : std::string("дата последнего подключения неизвестна")) +
                ".";
     },
     [](const Subject&) -> std::string {
         return "Вставьте шнур в разъём USB, подождите 10 секунд, пока Windows его настроит, и "
                "повторите запись.";
     }},
    {Verdict::NothingFound,
     [](const Subject&) -> std::string {
         return "Компьютер не видит ни шнура контроллера, ни другого USB-переходника на "
                "COM-порт.";
     },
     [](const Subject&) -> std::string {
         return "Вставьте шнур в другой разъём USB прямо на компьютере, без разветвителя, "
                "подождите 10 секунд и запустите проверку ещё раз. Если шнур так и не появится, "
                "он неисправен или это не шнур контроллера.";
     }},
};

const VerdictWords& WordsFor(Verdict verdict) {
    for (const VerdictWords& words : kVerdictWords) {
        if (words.verdict == verdict) {
            return words;
        }
    }
    return kVerdictWords[std::size(kVerdictWords) - 1];
}

std::string StepWithExtraCables(const Subject& subject, std::string step) {
    const Diagnosis& diagnosis = subject.diagnosis;
    if (diagnosis.connectedCables <= 1) {
        return step;
    }
    std::string extra = "Подключено несколько шнуров (" +
                        std::to_string(diagnosis.connectedCables) +
                        "): выньте лишние, оставьте только шнур контроллера";
    if (!diagnosis.takenPort.empty()) {
        extra += "; сейчас конфигуратор возьмёт " + diagnosis.takenPort;
    }
    return extra + ". " + step;
}

void DescribeAdapter(std::string& out, std::size_t number, const DeviceRecord& device) {
    const std::string indent = "   ";
    out += std::to_string(number) + ". " + AdapterName(device);
    const std::string family = LikelyFamily(device);
    if (!family.empty()) {
        out += ", " + family;
    }
    out += '\n';
    if (device.usb) {
        out += indent + "USB " + Hex4(device.usb->vendor) + ":" + Hex4(device.usb->product);
        if (device.revision) {
            out += ", ревизия " + Hex4(*device.revision);
        }
        out += '\n';
    }
    const std::string description = OneLineText(device.description);
    const std::string friendly = OneLineText(device.friendlyName);
    const std::string shown = friendly.empty() ? description : friendly;
    if (device.terminal) {
        if (!description.empty()) {
            out += indent + "Устройство называет себя: «" + description + "»\n";
        }
    } else if (!shown.empty()) {
        out += indent + "Название в Диспетчере устройств: «" + shown + "»\n";
    }
    const std::string product = OneLineText(device.busDescription);
    if (!device.terminal && !product.empty() && product != description && product != shown) {
        out += indent + "Устройство называет себя: «" + product + "»\n";
    }
    const std::optional<bool> connected = IsConnected(device);
    if (connected == false) {
        const std::optional<LocalTime> seen = LastSeen(device);
        out += indent + "Сейчас не подключён; " +
               (seen ? "последний раз был подключён " + FormatLocalTime(*seen)
                     : std::string("дата последнего подключения неизвестна")) +
               '\n';
    } else if (connected == true) {
        out += indent + "Подключён сейчас";
        if (device.lastArrival) {
            out += ", с " + FormatLocalTime(*device.lastArrival);
        }
        out += '\n';
    } else {
        out += indent + "Подключён ли сейчас, неизвестно\n";
    }
    if (device.terminal) {
        out += indent + "Терминал Linux: " +
               (device.terminal->node.empty() ? std::string("нет") : device.terminal->node) + '\n';
    }
    out += indent + "Драйвер: " + DriverWords(device) + '\n';
    out += indent + "COM-порт: ";
    if (HasPort(device)) {
        out += OneLineText(device.port) + " — " + OpenWords(device);
    } else if (device.terminal && !device.terminal->node.empty()) {
        out += "нет — ни один COM-порт Wine не ведёт к " + device.terminal->node +
               "; добавить его: «" + device.terminal->linkCommand + "»";
    } else {
        out += "нет";
    }
    out += '\n';
}

}  // namespace

Diagnosis Diagnose(const std::vector<DeviceRecord>& devices) {
    Diagnosis diagnosis;
    diagnosis.list = FormatPortList(ListedPorts(devices));
    diagnosis.takenPort = TakenPort(diagnosis.list);

    std::vector<std::size_t> remembered;
    for (std::size_t k = 0; k < devices.size(); ++k) {
        if (KindOfAdapter(devices[k]) == AdapterKind::None || IsShadowedByItsPort(devices, k)) {
            continue;
        }
        if (IsConnected(devices[k]) == false) {
            remembered.push_back(k);
        } else {
            diagnosis.shown.push_back(k);
        }
    }
    std::stable_sort(remembered.begin(), remembered.end(), [&](std::size_t a, std::size_t b) {
        return LastSeen(devices[b]).value_or(LocalTime{}) <
               LastSeen(devices[a]).value_or(LocalTime{});
    });
    if (remembered.size() > kRememberedShown) {
        diagnosis.rememberedLeftOut = remembered.size() - kRememberedShown;
        remembered.resize(kRememberedShown);
    }

    // The first connected device of each kind, a cable with a problem code before one without.
    std::optional<std::size_t> cable, brokenCable, foreign, unidentified;
    for (const std::size_t k : diagnosis.shown) {
        const std::optional<std::uint32_t> problem = ProblemCode(devices[k]);
        switch (KindOfAdapter(devices[k])) {
            case AdapterKind::Cable:
                ++diagnosis.connectedCables;
                cable = cable ? cable : k;
                if (problem && *problem != 0 && !brokenCable) {
                    brokenCable = k;
                }
                break;
            case AdapterKind::Foreign:
                foreign = foreign ? foreign : k;
                break;
            case AdapterKind::Unidentified:
                unidentified = unidentified ? unidentified : k;
                break;
            case AdapterKind::None:
                break;
        }
    }
    std::optional<std::size_t> rememberedCable;
    for (const std::size_t k : remembered) {
        if (KindOfAdapter(devices[k]) == AdapterKind::Cable && !rememberedCable) {
            rememberedCable = k;
        }
    }
    diagnosis.shown.insert(diagnosis.shown.end(), remembered.begin(), remembered.end());

    if (!diagnosis.takenPort.empty()) {
        diagnosis.subject = TakenDevice(devices, diagnosis.takenPort);
        diagnosis.verdict = diagnosis.subject ? VerdictForTaken(devices[*diagnosis.subject])
                                              : Verdict::PickedUnchecked;
        if (diagnosis.verdict == Verdict::PickedUnchecked) {
            diagnosis.subject.reset();
        }
    } else if (cable) {
        diagnosis.subject = brokenCable ? brokenCable : cable;
        const std::optional<LinuxTerminal>& terminal = devices[*diagnosis.subject].terminal;
        diagnosis.verdict = !terminal                ? Verdict::CableNotWorking
                            : terminal->node.empty() ? Verdict::NoKernelDriver
                                                     : Verdict::NoComLink;
    } else if (foreign) {
        diagnosis.verdict = Verdict::WrongAdapter;
        diagnosis.subject = foreign;
    } else if (unidentified) {
        diagnosis.verdict = Verdict::UnidentifiedUsb;
        diagnosis.subject = unidentified;
    } else if (rememberedCable) {
        diagnosis.verdict = Verdict::OnlyRemembered;
        diagnosis.subject = rememberedCable;
    }
    return diagnosis;
}

std::optional<std::size_t> PortToTestOpen(const std::vector<DeviceRecord>& devices) {
    const std::optional<std::size_t> taken =
        TakenDevice(devices, TakenPort(FormatPortList(ListedPorts(devices))));
    if (!taken || !devices[*taken].usb) {
        return std::nullopt;
    }
    return taken;
}

std::string ReportSummary(const std::vector<DeviceRecord>& devices, const Diagnosis& diagnosis) {
    const Subject subject{diagnosis.subject ? &devices[*diagnosis.subject] : nullptr, diagnosis};
    const VerdictWords& words = WordsFor(diagnosis.verdict);
    return "ИТОГ: " + words.summary(subject) +
           "\nЧТО СДЕЛАТЬ: " + StepWithExtraCables(subject, words.step(subject)) + "\n";
}

std::string FormatReport(const std::vector<DeviceRecord>& devices, const Diagnosis& diagnosis,
                         const ReportContext& context) {
    std::string out = "ОТЧЁТ О ШНУРЕ КОНТРОЛЛЕРА\n";
    out += "Составлен " + FormatLocalTime(context.madeAt) + ".\n";
    if (!context.complete) {
        out +=
            "Внимание: Windows слишком долго выдавала список устройств, и проверка его не "
            "дождалась; сведения могут быть неполными.\n";
    }
    out += '\n';
    out += ReportSummary(devices, diagnosis);
    out += "\nПЕРЕХОДНИКИ USB — COM-ПОРТ\n";
    if (diagnosis.shown.empty()) {
        out += "Не найдено ни одного.\n";
    }
    for (std::size_t n = 0; n < diagnosis.shown.size(); ++n) {
        DescribeAdapter(out, n + 1, devices[diagnosis.shown[n]]);
    }
    if (diagnosis.rememberedLeftOut > 0) {
        out += "Не показаны более старые переходники, которые сейчас не подключены: " +
               std::to_string(diagnosis.rememberedLeftOut) + ".\n";
    }
    out += "\nКОНФИГУРАТОР ВОЗЬМЁТ: ";
    out += diagnosis.takenPort.empty()
               ? "ничего; он сообщит «Система не обнаружила соединительный шнур».\n"
               : diagnosis.takenPort + "\n";
    out += "Список портов, который Kanalyst запишет для конфигуратора в listport.txt:\n";
    if (diagnosis.list.empty()) {
        out += "   (пусто)\n";
    }
    for (std::size_t start = 0; start < diagnosis.list.size();) {
        const std::size_t end = diagnosis.list.find('\n', start);
        out += "   " + diagnosis.list.substr(start, end - start) + '\n';
        start = end == std::string::npos ? diagnosis.list.size() : end + 1;
    }
    return out;
}

std::string ReportFileBytes(const std::string& text) {
    std::string bytes = "\xEF\xBB\xBF";
    bytes.reserve(text.size() + text.size() / 16 + 3);
    for (const char c : text) {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    return bytes;
}

std::string FormatLocalTime(const LocalTime& time) {
    return TwoDigits(time.day) + "." + TwoDigits(time.month) + "." + std::to_string(time.year) +
           " " + TwoDigits(time.hour) + ":" + TwoDigits(time.minute);
}

}  // namespace kanalyst
