#include "tools/kanalyst/cable_report.h"

#include <algorithm>
#include <cstdio>

#include "common/list_file.h"
#include "common/text.h"

namespace kanalyst {
namespace {

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

std::string TwoDigits(long value) {
    return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
           static_cast<char>('0' + value % 10);
}

bool IsCableLine(const std::string& line) {
    taktor::Text port;
    return taktor::CablePortOfLine(taktor::TextFromUtf8(line), port);
}

// The later of the two dates, or nothing.
std::optional<std::uint64_t> LastSeen(const DeviceRecord& device) {
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
    if (HasPort(device) || (problem && *problem != 0)) {
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

Verdict VerdictForTaken(const DeviceRecord& device) {
    const DriverState state = StateOfDriver(device);
    if (state != DriverState::Working && state != DriverState::Unread) {
        return Verdict::PickedBroken;
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
            return "занят другой программой (доступ запрещён)";
        case PortOpen::Missing:
            return "такого порта в системе нет";
        case PortOpen::Failed:
            return "не открывается (ошибка " + std::to_string(device.openError) + ")";
        case PortOpen::NoAnswer:
            return "не ответил: драйвер завис при открытии";
        case PortOpen::NotTried:
            break;
    }
    return IsConnected(device) == false ? "не проверялся: устройство не подключено"
                                        : "не проверялся: это не USB-порт";
}

// The driver's state in words: "работает", "устройство отключено (код 22)".
std::string StateWords(const DeviceRecord& device) {
    const std::optional<std::uint32_t> problem = ProblemCode(device);
    switch (StateOfDriver(device)) {
        case DriverState::Working:
            return "работает";
        case DriverState::NoDriver:
            return problem ? ProblemWords(*problem) : "не установлен";
        case DriverState::ProlificRefused:
            return ProblemWords(*problem) + "; драйвер Prolific отказывается работать с этим чипом";
        case DriverState::Unread:
            if (IsConnected(device) == false) {
                return device.service.empty() ? "нет сведений" : "установлен";
            }
            return "состояние прочитать не удалось";
        default:
            break;
    }
    return ProblemWords(*problem);
}

// The state with the driver's service and version.
std::string DriverWords(const DeviceRecord& device) {
    std::string words = StateWords(device);
    if (!device.service.empty()) {
        words += "; служба " + SanitiseText(device.service);
    }
    if (!device.driverVersion.empty()) {
        words += ", версия " + SanitiseText(device.driverVersion);
    }
    return words;
}

// Why a port that the configurator takes does not work, as far as its test open tells.
std::string OpenTrouble(const DeviceRecord& device) {
    switch (device.open) {
        case PortOpen::Missing:
            return "порта " + SanitiseText(device.port) + " в системе нет";
        case PortOpen::Failed:
            return "порт не открывается (ошибка " + std::to_string(device.openError) + ")";
        case PortOpen::NoAnswer:
            return "порт не ответил: драйвер завис при открытии";
        case PortOpen::NotTried:
        case PortOpen::Free:
        case PortOpen::Busy:
            break;
    }
    return "порт не открывается";
}

// The chip and the port, as a verdict names the device: "CH340 на COM5".
std::string CableOn(const DeviceRecord& device) {
    std::string text = ChipName(device);
    if (HasPort(device)) {
        text += " на " + SanitiseText(device.port);
    }
    return text;
}

std::string DriverName(const DeviceRecord& device) {
    if (device.usb && RecogniseCable(*device.usb) == Cable::Ch340) {
        return "драйвер CH340/CH341 (CH341SER) с сайта производителя чипа, компании WCH";
    }
    return "драйвер Prolific PL2303 с сайта компании Prolific";
}

const char kReplugElsewhere[] =
    "Выньте шнур и вставьте его в другой разъём USB прямо на компьютере, без удлинителя и "
    "разветвителя. Если ошибка останется, шнур неисправен: замените его.";

const char kReinstall[] =
    "Выньте шнур, подождите 10 секунд и вставьте его в другой разъём USB. Если не поможет, "
    "удалите устройство в Диспетчере устройств вместе с драйвером и установите драйвер заново.";

std::string StepForDriver(const DeviceRecord& device) {
    const bool prolific = device.usb && RecogniseCable(*device.usb) == Cable::Prolific;
    switch (StateOfDriver(device)) {
        case DriverState::NoDriver:
            return "Установите " + DriverName(device) + ", затем выньте шнур и вставьте снова.";
        case DriverState::ProlificRefused:
            return "Новые драйверы Prolific не работают с этим чипом. Установите старый драйвер "
                   "Prolific версии 3.3.2.102 или замените шнур на шнур с чипом CH340.";
        case DriverState::StartFailed:
            return std::string(
                       "Выньте шнур и вставьте его в другой разъём USB. Если код 10 "
                       "останется, удалите устройство в Диспетчере устройств вместе с "
                       "драйвером и установите драйвер заново.") +
                   (prolific ? " Старым чипам Prolific нужен драйвер версии 3.3.2.102; или "
                               "замените шнур на шнур с чипом CH340."
                             : "");
        case DriverState::Disabled:
            return "Включите устройство: Диспетчер устройств, правой кнопкой по шнуру, «Включить "
                   "устройство».";
        case DriverState::DeviceFailed:
            return kReplugElsewhere;
        case DriverState::NeedsRestart:
            return "Перезагрузите компьютер.";
        case DriverState::Unsigned:
            return "Windows не принимает подпись драйвера: удалите его и установите подписанный "
                   "драйвер с сайта производителя чипа.";
        case DriverState::Working:
        case DriverState::OtherProblem:
        case DriverState::Unread:
            break;
    }
    return kReinstall;
}

std::string VerdictText(const std::vector<DeviceRecord>& devices, const Diagnosis& diagnosis) {
    const DeviceRecord* device = diagnosis.subject ? &devices[*diagnosis.subject] : nullptr;
    switch (diagnosis.verdict) {
        case Verdict::Works:
            return "Шнур " + CableOn(*device) + " работает: порт открывается и свободен.";
        case Verdict::Busy:
            return "Шнур " + CableOn(*device) + " найден, но порт занят другой программой.";
        case Verdict::PickedBroken: {
            const DriverState state = StateOfDriver(*device);
            const std::string why = state == DriverState::Working || state == DriverState::Unread
                                        ? OpenTrouble(*device)
                                        : StateWords(*device);
            return "Конфигуратор возьмёт шнур " + CableOn(*device) + ", но он не работает: " + why +
                   ".";
        }
        case Verdict::PickedUnchecked:
            return "Конфигуратор возьмёт порт " + diagnosis.takenPort +
                   ": он назван как шнур контроллера, но это не USB-переходник, и порт не "
                   "проверялся.";
        case Verdict::CableNotWorking: {
            const std::optional<std::uint32_t> problem = ProblemCode(*device);
            const std::string why = problem && *problem != 0 ? StateWords(*device)
                                    : HasPort(*device) ? "порт не попадает в список портов"
                                                       : "у него нет COM-порта";
            return "Шнур " + ChipName(*device) + " подключён, но не работает: " + why + ".";
        }
        case Verdict::WrongAdapter:
            return "Подключён не тот переходник: " + ChipName(*device) + " (USB " +
                   Hex4(device->usb->vendor) + ":" + Hex4(device->usb->product) +
                   "). Конфигуратор работает только со шнурами на чипах Prolific PL2303 и CH340.";
        case Verdict::UnidentifiedUsb:
            return "Подключено USB-устройство, которое Windows не смогла опознать (код 43): "
                   "плохой контакт или неисправный шнур.";
        case Verdict::OnlyRemembered: {
            std::string text = "Шнур " + ChipName(*device) + " сейчас не подключён";
            if (const std::optional<std::uint64_t> seen = LastSeen(*device)) {
                text += "; последний раз он был подключён " + FormatLocalTime(*seen);
            }
            return text + ".";
        }
        case Verdict::NothingFound:
            break;
    }
    return "Компьютер не видит ни шнура контроллера, ни другого USB-переходника на COM-порт.";
}

std::string StepText(const std::vector<DeviceRecord>& devices, const Diagnosis& diagnosis) {
    const DeviceRecord* device = diagnosis.subject ? &devices[*diagnosis.subject] : nullptr;
    std::string step;
    switch (diagnosis.verdict) {
        case Verdict::Works:
            step =
                "Повторите запись. Если она снова не удастся, проверьте разъём шнура у "
                "контроллера и питание контроллера.";
            break;
        case Verdict::Busy:
            step = "Закройте программы, которые могут держать " + SanitiseText(device->port) +
                   " (терминалы, программы прошивки, другие конфигураторы), и повторите запись. "
                   "Если не поможет, перезагрузите компьютер.";
            break;
        case Verdict::PickedBroken: {
            const DriverState state = StateOfDriver(*device);
            step = state == DriverState::Working || state == DriverState::Unread
                       ? kReinstall
                       : StepForDriver(*device);
            break;
        }
        case Verdict::PickedUnchecked:
            step =
                "Повторите запись. Если конфигуратор сообщит, что порт занят или шнур "
                "неисправен, проверьте в Диспетчере устройств, что за устройство " +
                diagnosis.takenPort + ".";
            break;
        case Verdict::CableNotWorking:
            step = StepForDriver(*device);
            break;
        case Verdict::WrongAdapter:
            step =
                "Возьмите шнур контроллера на чипе Prolific PL2303 или CH340 и вставьте его "
                "вместо этого переходника.";
            break;
        case Verdict::UnidentifiedUsb:
            step = kReplugElsewhere;
            break;
        case Verdict::OnlyRemembered:
            step =
                "Вставьте шнур в разъём USB, подождите 10 секунд, пока Windows его подключит, и "
                "повторите запись.";
            break;
        case Verdict::NothingFound:
            step =
                "Вставьте шнур в другой разъём USB прямо на компьютере, без разветвителя. "
                "Проверьте, что это шнур контроллера, а не шнур только для зарядки. Затем "
                "проверьте шнур ещё раз.";
            break;
    }
    if (diagnosis.connectedCables > 1) {
        std::string extra = "Подключено шнуров: " + std::to_string(diagnosis.connectedCables) +
                            ". Отключите лишний, оставьте только шнур контроллера";
        extra += diagnosis.takenPort.empty()
                     ? ". "
                     : " (конфигуратор возьмёт " + diagnosis.takenPort + "). ";
        step = extra + step;
    }
    return step;
}

void DescribeAdapter(std::string& out, std::size_t number, const DeviceRecord& device) {
    const std::string indent = "   ";
    out += std::to_string(number) + ". " + ChipName(device);
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
    const std::string description = SanitiseText(device.description);
    if (!description.empty()) {
        out += indent + "Название в системе: «" + description + "»\n";
    }
    const std::string product = SanitiseText(device.busDescription);
    if (!product.empty() && product != description) {
        out += indent + "Название от устройства: «" + product + "»\n";
    }
    const std::optional<bool> connected = IsConnected(device);
    if (connected == false) {
        const std::optional<std::uint64_t> seen = LastSeen(device);
        out += indent + "Сейчас не подключён; последний раз был подключён " +
               (seen ? FormatLocalTime(*seen) : std::string("неизвестно когда")) + '\n';
    } else if (connected == true) {
        out += indent + "Подключён сейчас";
        if (device.lastArrival) {
            out += " (с " + FormatLocalTime(*device.lastArrival) + ")";
        }
        out += '\n';
    } else {
        out += indent + "Подключён ли сейчас, неизвестно\n";
    }
    out += indent + "Драйвер: " + DriverWords(device) + '\n';
    out += indent + "COM-порт: ";
    out += HasPort(device) ? SanitiseText(device.port) + " — " + OpenWords(device) : "нет";
    out += '\n';
}

}  // namespace

Diagnosis Diagnose(const std::vector<DeviceRecord>& devices) {
    Diagnosis diagnosis;
    diagnosis.list = FormatPortList(ListedPorts(devices));
    diagnosis.takenPort = taktor::Utf8FromText(taktor::ScanPortList(diagnosis.list));

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
        return LastSeen(devices[a]).value_or(0) > LastSeen(devices[b]).value_or(0);
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
        diagnosis.verdict = Verdict::CableNotWorking;
        diagnosis.subject = brokenCable ? brokenCable : cable;
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

std::string ReportSummary(const std::vector<DeviceRecord>& devices, const Diagnosis& diagnosis) {
    return "ИТОГ: " + VerdictText(devices, diagnosis) +
           "\nЧТО СДЕЛАТЬ: " + StepText(devices, diagnosis) + "\n";
}

std::string FormatReport(const std::vector<DeviceRecord>& devices, const Diagnosis& diagnosis,
                         const ReportContext& context) {
    std::string out = "ОТЧЁТ О ШНУРЕ КОНТРОЛЛЕРА\n";
    out += "Составлен " + FormatLocalTime(context.madeAt) + ".\n";
    if (!context.complete) {
        out +=
            "Внимание: Windows не перечислила устройства до конца за отведённое время, "
            "сведения могут быть неполными.\n";
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
        out += "Ещё отключённых и не показанных, более старых: " +
               std::to_string(diagnosis.rememberedLeftOut) + ".\n";
    }
    out += "\nКОНФИГУРАТОР ВОЗЬМЁТ: ";
    out += diagnosis.takenPort.empty()
               ? "ничего; он сообщит, что система не обнаружила соединительный шнур.\n"
               : diagnosis.takenPort + "\n";
    out += "Список портов для него (listport.txt), как его запишет Kanalyst:\n";
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

std::string FormatLocalTime(std::uint64_t ticks) {
    const std::uint64_t minutes = ticks / 600000000u;
    // Days since 1970-01-01 (1601 lies 134774 days before), then the civil date.
    long days = static_cast<long>(minutes / 1440) - 134774;
    const long minuteOfDay = static_cast<long>(minutes % 1440);
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long dayOfEra = days - era * 146097;
    const long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long monthIndex = (5 * dayOfYear + 2) / 153;
    const long day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const long month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return TwoDigits(day) + "." + TwoDigits(month) + "." + std::to_string(year) + " " +
           TwoDigits(minuteOfDay / 60) + ":" + TwoDigits(minuteOfDay % 60);
}

}  // namespace kanalyst
