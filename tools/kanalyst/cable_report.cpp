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

// Adapters such as FTDI's appear twice, as the USB device and as the port on it: the USB device
// is left out when it works (or its state is unknown) and a port with the same ids is there.
bool IsShadowedByItsPort(const std::vector<DeviceRecord>& devices, std::size_t index) {
    const DeviceRecord& device = devices[index];
    const std::optional<std::uint32_t> problem = ProblemCode(device);
    if (device.terminal || HasPort(device) || (problem && *problem != 0)) {
        return false;
    }
    for (std::size_t other = 0; other < devices.size(); ++other) {
        const std::optional<UsbId>& ids = devices[other].usb;
        if (other != index && device.usb && ids && ids->vendor == device.usb->vendor &&
            ids->product == device.usb->product && HasPort(devices[other]) &&
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
        taktor::Text port;
        if (IsListed(device) && SanitiseText(device.port) == takenPort &&
            taktor::CablePortOfLine(
                taktor::TextFromUtf8(FormatPortLine({device.description, device.usb, device.port})),
                port)) {
            found = k;
        }
    }
    return found;
}

bool DriverWorksOrUnread(DriverState state) {
    return state == DriverState::Working || state == DriverState::Unread;
}

// The verdict about one device, with its facts filled in.
Finding About(Verdict verdict, const std::vector<DeviceRecord>& devices, std::size_t index) {
    const DeviceRecord& device = devices[index];
    Finding finding;
    finding.verdict = verdict;
    finding.device = index;
    finding.chip = AdapterName(device);
    finding.port = OneLineText(device.port);
    finding.cable = device.usb ? RecogniseCable(*device.usb) : Cable::Unknown;
    finding.usb = device.usb.value_or(UsbId{});
    finding.driver = StateOfDriver(device);
    finding.problem = CurrentProblem(device);
    if (device.terminal) {
        finding.node = device.terminal->node;
        finding.linkCommand = device.terminal->linkCommand;
        finding.kernelDriver = OneLineText(device.service);
    }
    finding.lastSeen = LastSeen(device);
    return finding;
}

// The verdict on the port the configurator takes, after its test open.
Finding FindingForTaken(const std::vector<DeviceRecord>& devices, std::size_t index,
                        const MachineFacts& machine, const OpenPort& open) {
    const DeviceRecord& device = devices[index];
    Finding finding = About(Verdict::PickedBroken, devices, index);
    if (device.usb) {
        finding.open = open(SanitiseText(device.port));
    }
    const PortOpen result = finding.open.result;
    if (!DriverWorksOrUnread(finding.driver)) {
        finding.trouble = Trouble::Driver;
    } else if (result == PortOpen::Free) {
        finding.verdict = Verdict::Works;
    } else if (result == PortOpen::Busy) {
        // Wine does not keep a port to one program, so a refused terminal means missing rights,
        // or a sandbox when the user has them.
        finding.verdict = !device.terminal    ? Verdict::Busy
                          : machine.inDialout ? Verdict::Confined
                                              : Verdict::NoPermission;
    } else if (result == PortOpen::NotTried) {
        finding = Finding{};
        finding.verdict = Verdict::PickedUnchecked;
    } else {
        finding.trouble = Trouble::Open;
    }
    return finding;
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

// What a device's test open gave, for its description. Wine lets a second program open a port
// that one holds, so there an open port is not known to be free.
std::string OpenWords(const DeviceRecord& device, const OpenOutcome& open, bool underWine) {
    switch (open.result) {
        case PortOpen::Free:
            return underWine ? "открывается" : "открывается, свободен";
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
std::string TroubleWords(const Finding& f) {
    switch (f.trouble) {
        case Trouble::Driver:
            return StateWords(f.driver, f.problem, true);
        case Trouble::Unlisted:
            return "его порт не попадает в список портов";
        case Trouble::NoPort:
            return "у него нет COM-порта";
        case Trouble::Open:
        case Trouble::None:
            break;
    }
    const PortOpen result = f.open.result;
    return result == PortOpen::Missing ? "порта " + f.port + " в системе нет"
           : result == PortOpen::Failed
               ? "порт не открывается (ошибка " + std::to_string(f.open.error) + ")"
           : result == PortOpen::NoAnswer ? "драйвер не ответил, когда порт открывали"
                                          : "порт не открывается";
}

// The chip and the port, as a verdict names the device: "CH340 на COM5".
std::string CableOn(const Finding& f) {
    return f.port.empty() ? f.chip : f.chip + " на " + f.port;
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

const char kReplugOnLinux[] =
    "Выньте шнур, подождите 10 секунд и вставьте его в другой разъём USB, затем закройте "
    "программы Wine, выполните в терминале «wineserver -k» и снова запустите Taktor.exe. Если "
    "ошибка останется, посмотрите, что говорит о шнуре ядро Linux, сразу после того, как вставите "
    "его: «sudo dmesg | tail -n 20».";

const char kDistributionWine[] =
    "поставьте Wine из дистрибутива: «sudo apt install wine» (в Fedora — «sudo dnf install "
    "wine»).";

std::string Reinstall() {
    return std::string(
               "Выньте шнур, подождите 10 секунд и вставьте его в другой разъём USB. "
               "Если не поможет, удалите шнур вместе с драйвером: ") +
           kRemoveWithDriver;
}

std::string StepForDriver(const Finding& f, bool windows7) {
    switch (f.driver) {
        case DriverState::NoDriver:
            return std::string("Установите ") +
                   (f.cable == Cable::Ch340 ? "драйвер CH340/CH341 (CH341SER) с сайта "
                                              "производителя чипа, компании WCH"
                                            : "драйвер Prolific PL2303 с сайта компании Prolific") +
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
            return windows7 ? "Windows 7 без обновлений не может проверить подпись драйвера, "
                              "подписанного только по SHA-2: установите обновление KB4474419 "
                              "(поддержка подписи кода SHA-2; перед ним — обновление стека "
                              "обслуживания KB4490628, а в Windows 7 SP1 без них — хотя бы "
                              "KB3033929) из каталога Центра обновления Майкрософт, перезагрузите "
                              "компьютер, затем выньте шнур и вставьте его снова."
                            : "Windows не принимает подпись драйвера: удалите драйвер и "
                              "установите подписанный драйвер с сайта производителя чипа.";
        default:
            return Reinstall();
    }
}

// A verdict's ИТОГ line and its ЧТО СДЕЛАТЬ line.
struct Lines {
    std::string summary;
    std::string step;
};

// The two lines of a verdict, made of its facts: one case per finding.
Lines Say(const Finding& f, const Diagnosis& d) {
    switch (f.verdict) {
        case Verdict::FolderRefuses:
            return {
                "Kanalyst не может создать файл в папке программы «" + d.machine.refusingFolder +
                    "»: туда не запишется список портов listport.txt, и конфигуратор сообщит "
                    "«Система не обнаружила соединительный шнур». Так бывает, когда папку "
                    "защищает контролируемый доступ к папкам или она лежит в Program Files.",
                "Перенесите папку Taktor в папку, которую вы создадите сами, например C:\\Taktor, "
                "и запускайте Taktor.exe оттуда; Program Files для неё не годится. Если включён "
                "контролируемый доступ к папкам, разрешите Kanalyst.exe: «Безопасность Windows» "
                "→ «Защита от вирусов и угроз» → «Защита от программ-шантажистов» → "
                "«Контролируемый доступ к папкам» → «Разрешить работу приложения через "
                "контролируемый доступ к папкам» → «Добавить разрешённое приложение»."};
        case Verdict::Works:
            return {"Шнур " + CableOn(f) + " работает: порт открывается" +
                        (d.machine.underWine ? "." : " и свободен."),
                    "Повторите запись. Если она снова не удастся, проверьте, что шнур плотно "
                    "вставлен в разъём контроллера и что контроллер включён."};
        case Verdict::Busy:
            return {
                "Шнур " + CableOn(f) + " найден, но его порт занят другой программой.",
                "Выньте шнур и вставьте его снова, лучше в другой разъём USB: так освобождается "
                "порт, который драйвер держит после записи, прерванной выдернутым шнуром. Если "
                "порт всё равно занят, закройте программы, которые могут работать с " +
                    f.port +
                    ": терминалы, программы для прошивки, другие конфигураторы, вторую копию "
                    "Taktor.exe, — и повторите запись. Если и это не поможет, перезагрузите "
                    "компьютер."};
        case Verdict::PickedBroken:
            return {"Конфигуратор возьмёт шнур " + CableOn(f) +
                        ", но шнур не работает: " + TroubleWords(f) + ".",
                    f.trouble == Trouble::Driver ? StepForDriver(f, d.machine.windows7)
                    : f.node.empty()             ? Reinstall()
                                                 : kReplugOnLinux};
        case Verdict::PickedUnchecked:
            return {"Конфигуратор возьмёт порт " + d.takenPort +
                        ": он назван как шнур контроллера, но это не USB-переходник, поэтому порт "
                        "не проверялся.",
                    "Повторите запись. Если конфигуратор сообщит, что порт занят или шнур "
                    "неисправен, откройте Диспетчер устройств, раздел «Порты (COM и LPT)», и "
                    "посмотрите, какое устройство назначено на " +
                        d.takenPort + "."};
        case Verdict::NoPermission:
            return {"Шнур " + CableOn(f) + " найден, но Linux не даёт открыть его терминал " +
                        f.node + ": у пользователя нет на это прав.",
                    "Добавьте себя в группу dialout: откройте терминал и выполните «sudo usermod "
                    "-aG dialout $USER» (в Fedora и других дистрибутивах на RPM — та же команда), "
                    "затем выйдите из системы и войдите снова или перезагрузите компьютер: новая "
                    "группа действует только с нового входа. Если вы уже в группе dialout, "
                    "достаточно войти заново."};
        case Verdict::Confined:
            return {"Шнур " + CableOn(f) + " найден, но Linux не даёт открыть его терминал " +
                        f.node +
                        ", хотя вы в группе dialout: этот Wine заперт в изолированной среде "
                        "(например, это пакет Snap), которая не пускает его к последовательным "
                        "портам.",
                    std::string("Дайте этой среде доступ к последовательным портам (у пакета Snap "
                                "для этого подключают его интерфейс serial-port; подключённые "
                                "интерфейсы показывает «snap connections») или ") +
                        kDistributionWine};
        case Verdict::NoDeviceNode:
            return {"Шнур " + f.chip + " подключён, и Linux знает его как " + f.node +
                        ", но этот Wine не видит такого устройства: он работает в изолированной "
                        "среде (Flatpak, Snap, некоторые установки Bottles).",
                    (d.machine.flatpakId.empty()
                         ? std::string("Дайте этому Wine доступ к устройствам в настройках "
                                       "его среды (для Flatpak: «flatpak override --user "
                                       "--device=all» с именем приложения Wine)")
                         : "Дайте этому Wine доступ к устройствам: «flatpak override --user "
                           "--device=all " +
                               d.machine.flatpakId +
                               "», затем закройте программы Wine и снова запустите "
                               "Taktor.exe") +
                        ". Или " + kDistributionWine};
        case Verdict::NoComLink:
            return {
                "Шнур " + f.chip + " подключён (" + f.node +
                    "), но ни один COM-порт Wine не ведёт к нему.",
                "Wine назначает шнурам COM-порты только при своём запуске. Закройте "
                "конфигуратор и другие программы Wine, выполните в терминале «wineserver -k» и "
                "снова запустите Taktor.exe. Если порт не появится, закрепите его за шнуром: «" +
                    f.linkCommand + "», затем снова «wineserver -k» — и повторите запись."};
        case Verdict::NoKernelDriver:
            if (!f.kernelDriver.empty()) {
                return {
                    "Шнур " + f.chip +
                        " подключён, но Linux не создал для него терминал: "
                        "устройство занял драйвер " +
                        f.kernelDriver + " — обычно так его забирает программа brltty.",
                    "Удалите программу для дисплеев Брайля brltty, если она не нужна: «sudo apt "
                    "remove brltty» (в Fedora — «sudo dnf remove brltty»), затем выньте шнур и "
                    "вставьте его снова."};
            }
            return {
                "Шнур " + f.chip +
                    " подключён, но Linux не создал для него терминал: в ядре "
                    "нет драйвера " +
                    KernelModule(f.cable) + " или он не загружен.",
                "Выполните в терминале «sudo modprobe " + KernelModule(f.cable) +
                    "», затем выньте шнур и вставьте его снова. Если modprobe ответит, что "
                    "модуль не найден, установите полный набор модулей ядра дистрибутива (в "
                    "Debian — пакет linux-image-amd64, в Ubuntu — linux-modules-extra для своего "
                    "ядра, в Fedora — kernel-modules) и перезагрузите компьютер."};
        case Verdict::CableNotWorking:
            return {"Шнур " + f.chip + " подключён, но не работает: " + TroubleWords(f) + ".",
                    StepForDriver(f, d.machine.windows7)};
        case Verdict::WrongAdapter:
            return {"Подключён не шнур контроллера, а другой переходник: " + f.chip + " (USB " +
                        Hex4(f.usb.vendor) + ":" + Hex4(f.usb.product) +
                        "). Конфигуратор работает только со шнурами на чипах Prolific PL2303 и "
                        "CH340.",
                    "Выньте этот переходник и вставьте вместо него шнур контроллера на чипе "
                    "Prolific PL2303 или CH340."};
        case Verdict::UnidentifiedUsb:
            return {
                "Подключено USB-устройство, которое Windows не смогла опознать (код 43): "
                "скорее всего, плохой контакт или неисправный шнур.",
                kReplugElsewhere};
        case Verdict::OnlyRemembered:
            return {
                "Шнур " + f.chip + " сейчас не подключён; " +
                    (f.lastSeen ? "последний раз он был подключён " + FormatLocalTime(*f.lastSeen)
                                : std::string("дата последнего подключения неизвестна")) +
                    ".",
                "Вставьте шнур в разъём USB, подождите 10 секунд, пока Windows его настроит, и "
                "повторите запись."};
        case Verdict::LinuxUnread:
            return {
                "Kanalyst не смог прочитать, какие USB-устройства видит Linux, поэтому не "
                "знает, подключён ли шнур.",
                "Распакуйте архив в папку drive_c этого Wine (например, в ~/.wine/drive_c) и "
                "запускайте конфигуратор оттуда: «wine 'C:\\Taktor\\Taktor.exe'». Видит ли Linux "
                "шнур, покажет команда «ls -l /dev/ttyUSB*»."};
        case Verdict::NothingFound:
            return {d.shown.empty() ? "Компьютер не видит ни шнура контроллера, ни другого "
                                      "USB-переходника на COM-порт."
                                    : "Компьютер не видит шнура контроллера; другие переходники, "
                                      "которые он видит, перечислены ниже, но конфигуратор их не "
                                      "возьмёт.",
                    "Вставьте шнур в другой разъём USB прямо на компьютере, без разветвителя, "
                    "подождите 10 секунд и запустите проверку ещё раз. Если шнур так и не "
                    "появится, он неисправен или это не шнур контроллера."};
    }
    return {};
}

std::string StepWithExtraCables(const Diagnosis& diagnosis, std::string step) {
    // A folder that refuses the list is mended first, whatever is plugged in.
    if (diagnosis.connectedCables <= 1 || diagnosis.finding.verdict == Verdict::FolderRefuses) {
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
                     const OpenOutcome& open, bool underWine) {
    const std::string indent = "   ";
    const std::string family = LikelyFamily(device);
    out += std::to_string(number) + ". " + AdapterName(device) +
           (family.empty() ? "" : ", " + family) + '\n';
    if (device.usb) {
        out += indent + "USB " + Hex4(device.usb->vendor) + ":" + Hex4(device.usb->product) +
               (device.revision ? ", ревизия " + Hex4(*device.revision) : "") + '\n';
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
        out += indent + "Подключён сейчас" +
               (device.lastArrival ? ", с " + FormatLocalTime(*device.lastArrival) : "") + '\n';
    } else {
        out += indent + "Подключён ли сейчас, неизвестно\n";
    }
    if (device.terminal) {
        const LinuxTerminal& terminal = *device.terminal;
        out += indent +
               "Терминал Linux: " + (terminal.node.empty() ? std::string("нет") : terminal.node) +
               (terminal.visible ? "" : " — этот Wine его не видит") + '\n';
    }
    out += indent + "Драйвер: " + DriverWords(device) + '\n';
    out += indent + "COM-порт: ";
    if (HasPort(device)) {
        out += OneLineText(device.port) + " — " + OpenWords(device, open, underWine);
    } else if (device.terminal && !device.terminal->node.empty() && device.terminal->visible) {
        out += "нет — ни один COM-порт Wine не ведёт к " + device.terminal->node +
               "; добавить его: «" + device.terminal->linkCommand + "»";
    } else {
        out += "нет";
    }
    out += '\n';
}

}  // namespace

Diagnosis Diagnose(const std::vector<DeviceRecord>& devices, const MachineFacts& machine,
                   const OpenPort& open) {
    Diagnosis diagnosis;
    diagnosis.machine = machine;
    diagnosis.list = FormatPortList(ListedPorts(devices));
    if (machine.refusingFolder.empty()) {
        diagnosis.takenPort = taktor::Utf8FromText(taktor::ScanPortList(diagnosis.list));
    }

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

    // The first connected device of each kind, a cable with a problem code before one without;
    // none that is built in.
    std::optional<std::size_t> cable, brokenCable, foreign, unidentified, rememberedCable;
    for (const std::size_t k : diagnosis.shown) {
        const AdapterKind kind =
            devices[k].removable == false ? AdapterKind::None : KindOfAdapter(devices[k]);
        const std::optional<std::uint32_t> problem = ProblemCode(devices[k]);
        const auto first = [k](std::optional<std::size_t>& found, bool is) {
            found = found || !is ? found : k;
        };
        diagnosis.connectedCables += kind == AdapterKind::Cable ? 1 : 0;
        first(cable, kind == AdapterKind::Cable);
        first(brokenCable, kind == AdapterKind::Cable && problem && *problem != 0);
        first(foreign, kind == AdapterKind::Foreign);
        first(unidentified, kind == AdapterKind::Unidentified);
    }
    for (const std::size_t k : remembered) {
        if (KindOfAdapter(devices[k]) == AdapterKind::Cable && !rememberedCable) {
            rememberedCable = k;
        }
    }
    diagnosis.shown.insert(diagnosis.shown.end(), remembered.begin(), remembered.end());

    Finding& finding = diagnosis.finding;
    if (!machine.refusingFolder.empty()) {
        finding.verdict = Verdict::FolderRefuses;
    } else if (!diagnosis.takenPort.empty()) {
        const std::optional<std::size_t> taken = TakenDevice(devices, diagnosis.takenPort);
        finding.verdict = Verdict::PickedUnchecked;
        if (taken) {
            finding = FindingForTaken(devices, *taken, machine, open);
        }
    } else if (cable) {
        const std::size_t k = brokenCable ? *brokenCable : *cable;
        const std::optional<LinuxTerminal>& terminal = devices[k].terminal;
        finding = About(!terminal                ? Verdict::CableNotWorking
                        : terminal->node.empty() ? Verdict::NoKernelDriver
                        : !terminal->visible     ? Verdict::NoDeviceNode
                                                 : Verdict::NoComLink,
                        devices, k);
        finding.trouble = !DriverWorksOrUnread(finding.driver) ? Trouble::Driver
                          : HasPort(devices[k])                ? Trouble::Unlisted
                                                               : Trouble::NoPort;
    } else if (foreign) {
        finding = About(Verdict::WrongAdapter, devices, *foreign);
    } else if (unidentified) {
        finding = About(Verdict::UnidentifiedUsb, devices, *unidentified);
    } else if (rememberedCable) {
        finding = About(Verdict::OnlyRemembered, devices, *rememberedCable);
    } else if (machine.underWine && !machine.linuxRead) {
        finding.verdict = Verdict::LinuxUnread;
    }
    return diagnosis;
}

std::string ReportSummary(const Diagnosis& diagnosis) {
    const Lines lines = Say(diagnosis.finding, diagnosis);
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
    if (diagnosis.machine.linksInferred) {
        out +=
            "Внимание: Wine не сообщил, куда ведут его COM-порты; они выведены из устройств /dev "
            "в том порядке, в каком их назначает Wine, и могут не совпасть с настоящими.\n";
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
                        diagnosis.finding.device == k ? diagnosis.finding.open : OpenOutcome{},
                        diagnosis.machine.underWine);
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
    for (const char c : text) {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    return bytes;
}

std::string FormatLocalTime(const LocalTime& time) {
    char text[40];
    std::snprintf(text, sizeof text, "%02d.%02d.%d %02d:%02d", time.day % 100, time.month % 100,
                  time.year, time.hour % 100, time.minute % 100);
    return text;
}

}  // namespace kanalyst
