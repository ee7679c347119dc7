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

bool DriverWorksOrUnread(DriverState state) {
    return state == DriverState::Working || state == DriverState::Unread;
}

// The verdict about one device, with its facts filled in.
Verdict About(VerdictKind kind, const std::vector<DeviceRecord>& devices, std::size_t index) {
    const DeviceRecord& device = devices[index];
    Verdict verdict;
    verdict.kind = kind;
    verdict.device = index;
    verdict.chip = AdapterName(device);
    verdict.port = OneLineText(device.port);
    verdict.cable = device.usb ? RecogniseCable(*device.usb) : Cable::Unknown;
    verdict.usb = device.usb.value_or(UsbId{});
    verdict.driver = StateOfDriver(device);
    verdict.problem = CurrentProblem(device);
    if (device.terminal) {
        verdict.node = device.terminal->node;
        verdict.linkCommand = device.terminal->linkCommand;
        verdict.kernelDriver = OneLineText(device.service);
    }
    verdict.lastSeen = LastSeen(device);
    return verdict;
}

// The verdict on the port the configurator takes, after its test open.
Verdict VerdictForTaken(const std::vector<DeviceRecord>& devices, std::size_t index,
                        const OpenPort& open) {
    const DeviceRecord& device = devices[index];
    Verdict verdict = About(VerdictKind::PickedBroken, devices, index);
    if (device.usb) {
        verdict.open = open(SanitiseText(device.port));
    }
    if (!DriverWorksOrUnread(verdict.driver)) {
        verdict.trouble = Trouble::Driver;
        return verdict;
    }
    switch (verdict.open.result) {
        case PortOpen::Free:
            verdict.kind = VerdictKind::Works;
            break;
        case PortOpen::Busy:
            // Wine does not keep a port to one program, so a refused terminal means missing rights.
            verdict.kind = device.terminal ? VerdictKind::NoPermission : VerdictKind::Busy;
            break;
        case PortOpen::NotTried:
            verdict = Verdict{};
            verdict.kind = VerdictKind::PickedUnchecked;
            break;
        case PortOpen::Missing:
        case PortOpen::Failed:
        case PortOpen::NoAnswer:
            verdict.trouble = Trouble::Open;
            break;
    }
    return verdict;
}

// The driver's state in words: "работает", "устройство выключено ... (код 22)".
std::string StateWords(DriverState state, std::optional<std::uint32_t> problem, bool installed) {
    const std::string code = problem ? ProblemWords(*problem) : std::string();
    switch (state) {
        case DriverState::Working:
            return "работает";
        case DriverState::NoDriver:
            return problem ? code : "не установлен";
        case DriverState::ProlificRefused:
            return (problem ? code + "; " : std::string()) +
                   "драйвер Prolific отказывается работать с этим чипом";
        case DriverState::Unread:
            return "состояние прочитать не удалось";
        case DriverState::Absent:
            return installed ? "установлен" : "нет сведений";
        default:
            return code;
    }
}

// The driver in a device's description: its state with its service and version, or for a
// device read from Linux the kernel driver of its terminal or what took the USB device.
std::string DriverWords(const DeviceRecord& device) {
    const std::string service = OneLineText(device.service);
    if (device.terminal) {
        if (!device.terminal->node.empty()) {
            return "работает; драйвер ядра " + (service.empty() ? "неизвестен" : service);
        }
        return service.empty() ? "драйвер ядра не подключился, терминала нет"
                               : "устройство занял драйвер " + service + ", терминала нет";
    }
    std::string words = StateWords(StateOfDriver(device), CurrentProblem(device), !service.empty());
    if (!service.empty()) {
        words += "; служба " + service;
    }
    if (!device.driverVersion.empty()) {
        words += ", версия " + OneLineText(device.driverVersion);
    }
    return words;
}

// What a device's test open gave, for its description.
std::string OpenWords(const DeviceRecord& device, const OpenOutcome& open) {
    switch (open.result) {
        case PortOpen::Free:
            return "открывается, свободен";
        case PortOpen::Busy:
            return device.terminal ? "не открывается: нет прав на " + device.terminal->node
                                   : "занят другой программой (доступ запрещён)";
        case PortOpen::Missing:
            return "такого порта в системе нет";
        case PortOpen::Failed:
            return "не открывается (ошибка " + std::to_string(open.error) + ")";
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

// Why the verdict's cable does not work.
std::string TroubleWords(const Verdict& v) {
    switch (v.trouble) {
        case Trouble::Driver:
            return StateWords(v.driver, v.problem, true);
        case Trouble::Unlisted:
            return "его порт не попадает в список портов";
        case Trouble::NoPort:
            return "у него нет COM-порта";
        case Trouble::Open:
        case Trouble::None:
            break;
    }
    switch (v.open.result) {
        case PortOpen::Missing:
            return "порта " + v.port + " в системе нет";
        case PortOpen::Failed:
            return "порт не открывается (ошибка " + std::to_string(v.open.error) + ")";
        case PortOpen::NoAnswer:
            return "драйвер не ответил, когда порт открывали";
        default:
            return "порт не открывается";
    }
}

// The chip and the port, as a verdict names the device: "CH340 на COM5".
std::string CableOn(const Verdict& v) {
    return v.port.empty() ? v.chip : v.chip + " на " + v.port;
}

std::string DriverName(Cable cable) {
    return cable == Cable::Ch340
               ? "драйвер CH340/CH341 (CH341SER) с сайта производителя чипа, компании WCH"
               : "драйвер Prolific PL2303 с сайта компании Prolific";
}

// The Linux module that makes terminals for the cable.
std::string KernelModule(Cable cable) {
    return cable == Cable::Ch340 ? "ch341" : "pl2303";
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

std::string StepForDriver(const Verdict& v) {
    switch (v.driver) {
        case DriverState::NoDriver:
            return "Установите " + DriverName(v.cable) +
                   ", затем выньте шнур и вставьте его снова.";
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
        default:
            return Reinstall();
    }
}

// A verdict's ИТОГ line and its ЧТО СДЕЛАТЬ line.
struct Lines {
    std::string summary;
    std::string step;
};

// One row per verdict: its two lines, made of the verdict's facts.
struct VerdictWords {
    VerdictKind kind;
    Lines (*say)(const Verdict&, const Diagnosis&);
};

const VerdictWords kVerdictWords[] = {
    {VerdictKind::Works,
     [](const Verdict& v, const Diagnosis&) -> Lines {
         return {"Шнур " + CableOn(v) + " работает: порт открывается и свободен.",
                 "Повторите запись. Если она снова не удастся, проверьте, что шнур плотно "
                 "вставлен в разъём контроллера и что контроллер включён."};
     }},
    {VerdictKind::Busy,
     [](const Verdict& v, const Diagnosis&) -> Lines {
         return {"Шнур " + CableOn(v) + " найден, но его порт занят другой программой.",
                 "Закройте программы, которые могут работать с " + v.port +
                     ": терминалы, программы для прошивки, другие конфигураторы, вторую копию "
                     "Taktor.exe. Затем повторите запись. Если не поможет, перезагрузите "
                     "компьютер."};
     }},
    {VerdictKind::PickedBroken,
     [](const Verdict& v, const Diagnosis&) -> Lines {
         return {"Конфигуратор возьмёт шнур " + CableOn(v) +
                     ", но шнур не работает: " + TroubleWords(v) + ".",
                 v.trouble == Trouble::Driver ? StepForDriver(v) : Reinstall()};
     }},
    {VerdictKind::PickedUnchecked,
     [](const Verdict&, const Diagnosis& d) -> Lines {
         return {"Конфигуратор возьмёт порт " + d.takenPort +
                     ": он назван как шнур контроллера, но это не USB-переходник, поэтому порт "
                     "не проверялся.",
                 "Повторите запись. Если конфигуратор сообщит, что порт занят или шнур "
                 "неисправен, откройте Диспетчер устройств, раздел «Порты (COM и LPT)», и "
                 "посмотрите, какое устройство назначено на " +
                     d.takenPort + "."};
     }},
    {VerdictKind::NoPermission,
     [](const Verdict& v, const Diagnosis&) -> Lines {
         return {"Шнур " + CableOn(v) + " найден, но Linux не даёт открыть его терминал " + v.node +
                     ": у пользователя нет на это прав.",
                 "Добавьте себя в группу dialout: откройте терминал и выполните «sudo usermod "
                 "-aG dialout $USER» (в Fedora и других дистрибутивах на RPM — та же команда), "
                 "затем выйдите из системы и войдите снова или перезагрузите компьютер: новая "
                 "группа действует только с нового входа. Если вы уже в группе dialout, "
                 "достаточно войти заново."};
     }},
    {VerdictKind::NoComLink,
     [](const Verdict& v, const Diagnosis&) -> Lines {
         return {"Шнур " + v.chip + " подключён (" + v.node +
                     "), но ни один COM-порт Wine не ведёт к нему.",
                 "Wine назначает шнурам COM-порты только при своём запуске. Закройте "
                 "конфигуратор и другие программы Wine, выполните в терминале «wineserver -k» и "
                 "снова запустите Taktor.exe. Если порт не появится, добавьте его сами: «" +
                     v.linkCommand + "» — и повторите запись."};
     }},
    {VerdictKind::NoKernelDriver,
     [](const Verdict& v, const Diagnosis&) -> Lines {
         if (!v.kernelDriver.empty()) {
             return {"Шнур " + v.chip +
                         " подключён, но Linux не создал для него терминал: "
                         "устройство занял драйвер " +
                         v.kernelDriver + " — обычно так его забирает программа brltty.",
                     "Удалите программу для дисплеев Брайля brltty, если она не нужна: «sudo apt "
                     "remove brltty» (в Fedora — «sudo dnf remove brltty»), затем выньте шнур и "
                     "вставьте его снова."};
         }
         return {"Шнур " + v.chip +
                     " подключён, но Linux не создал для него терминал: в ядре "
                     "нет драйвера " +
                     KernelModule(v.cable) + " или он не загружен.",
                 "Выполните в терминале «sudo modprobe " + KernelModule(v.cable) +
                     "», затем выньте шнур и вставьте его снова. Если modprobe ответит, что "
                     "модуль не найден, установите полный набор модулей ядра дистрибутива (в "
                     "Debian — пакет linux-image-amd64, в Ubuntu — linux-modules-extra для своего "
                     "ядра, в Fedora — kernel-modules) и перезагрузите компьютер."};
     }},
    {VerdictKind::CableNotWorking,
     [](const Verdict& v, const Diagnosis&) -> Lines {
         return {"Шнур " + v.chip + " подключён, но не работает: " + TroubleWords(v) + ".",
                 StepForDriver(v)};
     }},
    {VerdictKind::WrongAdapter,
     [](const Verdict& v, const Diagnosis&) -> Lines {
         return {"Подключён не шнур контроллера, а другой переходник: " + v.chip + " (USB " +
                     Hex4(v.usb.vendor) + ":" + Hex4(v.usb.product) +
                     "). Конфигуратор работает только со шнурами на чипах Prolific PL2303 и "
                     "CH340.",
                 "Выньте этот переходник и вставьте вместо него шнур контроллера на чипе "
                 "Prolific PL2303 или CH340."};
     }},
    {VerdictKind::UnidentifiedUsb,
     [](const Verdict&, const Diagnosis&) -> Lines {
         return {
             "Подключено USB-устройство, которое Windows не смогла опознать (код 43): "
             "скорее всего, плохой контакт или неисправный шнур.",
             kReplugElsewhere};
     }},
    {VerdictKind::OnlyRemembered,
     [](const Verdict& v, const Diagnosis&) -> Lines {
         return {"Шнур " + v.chip + " сейчас не подключён; " +
                     (v.lastSeen ? "последний раз он был подключён " + FormatLocalTime(*v.lastSeen)
                                 : std::string("дата последнего подключения неизвестна")) +
                     ".",
                 "Вставьте шнур в разъём USB, подождите 10 секунд, пока Windows его настроит, и "
                 "повторите запись."};
     }},
    {VerdictKind::NothingFound,
     [](const Verdict&, const Diagnosis&) -> Lines {
         return {
             "Компьютер не видит ни шнура контроллера, ни другого USB-переходника на "
             "COM-порт.",
             "Вставьте шнур в другой разъём USB прямо на компьютере, без разветвителя, "
             "подождите 10 секунд и запустите проверку ещё раз. Если шнур так и не "
             "появится, он неисправен или это не шнур контроллера."};
     }},
};

Lines Say(const Diagnosis& diagnosis) {
    for (const VerdictWords& words : kVerdictWords) {
        if (words.kind == diagnosis.verdict.kind) {
            return words.say(diagnosis.verdict, diagnosis);
        }
    }
    return kVerdictWords[std::size(kVerdictWords) - 1].say(diagnosis.verdict, diagnosis);
}

std::string StepWithExtraCables(const Diagnosis& diagnosis, std::string step) {
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

void DescribeAdapter(std::string& out, std::size_t number, const DeviceRecord& device,
                     const OpenOutcome& open) {
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
        out += OneLineText(device.port) + " — " + OpenWords(device, open);
    } else if (device.terminal && !device.terminal->node.empty()) {
        out += "нет — ни один COM-порт Wine не ведёт к " + device.terminal->node +
               "; добавить его: «" + device.terminal->linkCommand + "»";
    } else {
        out += "нет";
    }
    out += '\n';
}

}  // namespace

Diagnosis Diagnose(const std::vector<DeviceRecord>& devices, const OpenPort& open) {
    Diagnosis diagnosis;
    diagnosis.list = FormatPortList(ListedPorts(devices));
    diagnosis.takenPort = taktor::Utf8FromText(taktor::ScanPortList(diagnosis.list));

    std::vector<std::size_t> remembered;
    for (std::size_t k = 0; k < devices.size(); ++k) {
        if (KindOfAdapter(devices[k]) == AdapterKind::None || IsShadowedByItsPort(devices, k)) {
            continue;
        }
        (IsConnected(devices[k]) == false ? remembered : diagnosis.shown).push_back(k);
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
    std::optional<std::size_t> cable, brokenCable, foreign, unidentified, rememberedCable;
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
    for (const std::size_t k : remembered) {
        if (KindOfAdapter(devices[k]) == AdapterKind::Cable && !rememberedCable) {
            rememberedCable = k;
        }
    }
    diagnosis.shown.insert(diagnosis.shown.end(), remembered.begin(), remembered.end());

    Verdict& verdict = diagnosis.verdict;
    if (!diagnosis.takenPort.empty()) {
        const std::optional<std::size_t> taken = TakenDevice(devices, diagnosis.takenPort);
        verdict.kind = VerdictKind::PickedUnchecked;
        if (taken) {
            verdict = VerdictForTaken(devices, *taken, open);
        }
    } else if (cable) {
        const std::size_t k = brokenCable ? *brokenCable : *cable;
        const std::optional<LinuxTerminal>& terminal = devices[k].terminal;
        verdict = About(!terminal                ? VerdictKind::CableNotWorking
                        : terminal->node.empty() ? VerdictKind::NoKernelDriver
                                                 : VerdictKind::NoComLink,
                        devices, k);
        verdict.trouble = !DriverWorksOrUnread(verdict.driver) ? Trouble::Driver
                          : HasPort(devices[k])                ? Trouble::Unlisted
                                                               : Trouble::NoPort;
    } else if (foreign) {
        verdict = About(VerdictKind::WrongAdapter, devices, *foreign);
    } else if (unidentified) {
        verdict = About(VerdictKind::UnidentifiedUsb, devices, *unidentified);
    } else if (rememberedCable) {
        verdict = About(VerdictKind::OnlyRemembered, devices, *rememberedCable);
    }
    return diagnosis;
}

std::string ReportSummary(const Diagnosis& diagnosis) {
    const Lines lines = Say(diagnosis);
    return "ИТОГ: " + lines.summary +
           "\nЧТО СДЕЛАТЬ: " + StepWithExtraCables(diagnosis, lines.step) + "\n";
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
    out += ReportSummary(diagnosis);
    out += "\nПЕРЕХОДНИКИ USB — COM-ПОРТ\n";
    if (diagnosis.shown.empty()) {
        out += "Не найдено ни одного.\n";
    }
    for (std::size_t n = 0; n < diagnosis.shown.size(); ++n) {
        const std::size_t k = diagnosis.shown[n];
        DescribeAdapter(out, n + 1, devices[k],
                        diagnosis.verdict.device == k ? diagnosis.verdict.open : OpenOutcome{});
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
