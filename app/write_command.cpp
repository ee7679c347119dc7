#include "app/write_command.h"

#include "app/field_value.h"
#include "app/ui_event.h"
#include "link/write_timing.h"

namespace taktor {

namespace {

const Text kFailureTitle = u"Внимание";
const Text kNoCableText =
    u"Запись отклонена!\n"
    u"Система не обнаружила соединительный шнур.\n"
    u"1.Установите драйвер к шнуру\n"
    u"2. Соедините компьютер с устройством посредством шнура.\n"
    u"3. Повторите попытку\n";
const Text kPortBusyText =
    u"Запись отклонена!\n"
    u"Не удалось открыть COM порт.\n"
    u"Вероятно, он занят другим приложением\n\n";
const Text kLinkBrokenText =
    u"Запись отклонена!\n"
    u"Не удалось открыть COM порт.\n"
    u"Вероятно проблемы с соединительным шнуром\n\n";
const Text kNoAnswerText =
    u"Запись отклонена!\n"
    u"Устройство не отвечает.";
const Text kSuccessTitle = u"Выполнено";
const Text kSuccessText = u"Операция записи выполнена удачно.";

PhaseDurations ReadDurations(PhaseFieldReader& fields) {
    PhaseDurations durations{};
    for (int i = 0; i < kPhaseCount; ++i) {
        durations[i] = static_cast<std::uint16_t>(FieldValue(fields.ReadFieldText(i)));
    }
    return durations;
}

struct Message {
    const Text& title;
    const Text& text;
    unsigned flags;
};

// The attempts on the open channel, until one is confirmed, one is aborted or six have failed;
// the result message they end with.
Message SendUntilDone(WriteCommandServices& services) {
    const PhaseDurations durations = ReadDurations(services.fields);
    for (int failed = 0;;) {
        switch (services.link.TransferAttempt(durations, services.messages)) {
            case TransferResult::Aborted:
                return {kFailureTitle, kLinkBrokenText, kErrorMessage};
            case TransferResult::Stalled:
            case TransferResult::Unconfirmed:
                if (++failed == kMostAttempts) {
                    return {kFailureTitle, kNoAnswerText, kErrorMessage};
                }
                break;
            case TransferResult::Confirmed:
                return {kSuccessTitle, kSuccessText, kInformMessage};
        }
    }
}

void CloseControllerChannel(ControllerLink& link) {
    if (link.IsChannelOpen(ControllerChannel)) {
        link.CloseChannel(ControllerChannel);
    }
}

}  // namespace

void WriteCommand(int type, WriteCommandServices& services) {
    if (type != kButtonPressed) {
        return;
    }
    // The button follows the fields with a delay, so a press can come just after a field went
    // wrong; such a cycle is not sent (the next validation pass disables the button).
    if (!CycleAccepted(ReadPhaseTexts(services.fields))) {
        return;
    }
    services.wait.ShowWaitWindow();
    const Text port = services.ports.FindCablePort();
    if (port.empty()) {
        services.messages.ShowMessage(kFailureTitle, kNoCableText, kErrorMessage);
    } else {
        CloseControllerChannel(services.link);
        if (services.link.OpenChannel(ControllerChannel, &port, ControllerLineSettings) < 1) {
            services.wait.CloseWaitWindow();
            services.messages.ShowMessage(kFailureTitle, kPortBusyText, kErrorMessage);
        } else {
            const Message result = SendUntilDone(services);
            services.wait.CloseWaitWindow();
            services.messages.ShowMessage(result.title, result.text, result.flags);
        }
    }
    CloseControllerChannel(services.link);
    services.wait.CloseWaitWindow();
}

}  // namespace taktor
