#include "app/win/configurator_win.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstring>

#include "assets/resource_ids.h"
#include "common/win/wide.h"
#include "link/serial_channel.h"
#include "link/transfer.h"
#include "link/win/discovery_win.h"
#include "taktor_version.h"

namespace taktor {

namespace {

const Text kMainCaption = u"Конфигуратор                  Taktor v. " TAKTOR_VERSION;
constexpr int kClientWidth = 708;
constexpr int kClientHeight = 167;
constexpr int kRequestedX = 440;
constexpr int kRequestedY = 161;
constexpr DWORD kMainStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

const Text kExitTitle = u"Выход";
const Text kExitText = u"Вы действительно хотите выйти из программы?";

const Text kWriteButtonText = u"Запись в EEPROM";
const std::array<const char16_t*, kPhaseCount> kDefaultDurations = {u"60", u"5", u"60", u"5",
                                                                    u"60", u"5", u"60", u"5"};
constexpr std::array<int, kPhaseCount> kFieldX = {125, 196, 268, 340, 412, 484, 556, 629};
constexpr int kFieldY = 142;
constexpr int kFieldWidth = 70;
constexpr int kFieldHeight = 20;

constexpr int kWaitWidth = 170;
constexpr int kWaitHeight = 50;
const Text kWaitText = u"ЖДИТЕ!!!";
constexpr int kWaitFontPoints = 24;

// A bitmap file held in memory as a 24-bit picture, or nullptr when it is not one.
HBITMAP DecodeBitmapFile(const std::uint8_t* data, size_t size) {
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    if (size < sizeof(file) + sizeof(info)) {
        return nullptr;
    }
    std::memcpy(&file, data, sizeof(file));
    std::memcpy(&info, data + sizeof(file), sizeof(info));
    if (file.bfType != 0x4D42 || info.biSize < sizeof(info) || info.biPlanes != 1 ||
        info.biBitCount != 24 || info.biCompression != BI_RGB || info.biWidth <= 0 ||
        info.biWidth > 32768 || info.biHeight == 0 || info.biHeight < -32768 ||
        info.biHeight > 32768) {
        return nullptr;
    }
    const size_t stride = ((static_cast<size_t>(info.biWidth) * 24 + 31) / 32) * 4;
    const size_t rows = static_cast<size_t>(info.biHeight < 0 ? -info.biHeight : info.biHeight);
    const size_t pixels = stride * rows;
    if (file.bfOffBits > size || size - file.bfOffBits < pixels) {
        return nullptr;
    }
    BITMAPINFO bitmap = {};
    bitmap.bmiHeader = info;
    bitmap.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bitmap.bmiHeader.biSizeImage = 0;
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(nullptr, &bitmap, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (picture != nullptr && bits != nullptr) {
        std::memcpy(bits, data + file.bfOffBits, pixels);
        GdiFlush();
    }
    return picture;
}

}  // namespace

void Configurator::Run(HINSTANCE instance) {
    instance_ = instance;

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    CoInitialize(nullptr);
    layer_.Initialise(instance);
    InitChannelTable();

    DecodeBanner();
    AllocateFrameStorage();
    BuildMainWindow();
    if (MainWindow == nullptr) {
        // Without its window the program could only wait, unseen, for events that never come.
        ExitProcess(1);
    }
    RunEventLoop(layer_, validation_, *this);
    // The loop only ends if the window layer itself breaks down.
    ShutDown();
}

void Configurator::DecodeBanner() {
    HRSRC found = FindResourceW(instance_, MAKEINTRESOURCEW(IDR_CYCLE_BANNER), RT_RCDATA);
    HGLOBAL loaded = found != nullptr ? LoadResource(instance_, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data != nullptr) {
        banner_ = DecodeBitmapFile(static_cast<const std::uint8_t*>(data),
                                   SizeofResource(instance_, found));
    }
}

void Configurator::BuildMainWindow() {
    const SIZE outer = WindowLayer::OuterSize(kMainStyle, kClientWidth, kClientHeight);
    MainWindow = layer_.OpenWindow(kMainWindowId, nullptr, kMainCaption, kMainStyle, kRequestedX,
                                   kRequestedY, outer.cx, outer.cy);
    if (MainWindow == nullptr) {
        return;
    }
    bannerPicture_ =
        layer_.CreateControl(MainWindow, kBannerId, L"STATIC", Text(),
                             WS_CHILD | WS_VISIBLE | SS_NOTIFY | SS_BITMAP, 0, 5, 5, 698, 132);
    if (bannerPicture_ != nullptr && banner_ != nullptr) {
        SendMessageW(bannerPicture_, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner_));
    }
    for (int i = 0; i < kPhaseCount; ++i) {
        PhaseField[i] = layer_.CreateControl(
            MainWindow, kFirstPhaseFieldId + i, L"Edit", kDefaultDurations[i],
            WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL,
            WS_EX_CLIENTEDGE, kFieldX[i], kFieldY, kFieldWidth, kFieldHeight);
    }
    WriteButton = layer_.CreateControl(
        MainWindow, kWriteButtonId, L"Button", kWriteButtonText,
        WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON, 0, 5, 142, 110, 20);
    SetTimer(MainWindow, kValidationTimerId, kValidationPeriodMs, nullptr);
    WindowLayer::ShowAgain(MainWindow);
}

Text Configurator::ReadFieldText(int field) {
    HWND control = PhaseField[field];
    if (control == nullptr) {
        return Text();
    }
    const int length = GetWindowTextLengthW(control);
    if (length <= 0) {
        return Text();
    }
    Text text(static_cast<size_t>(length) + 1, u'\0');
    const int got = GetWindowTextW(control, reinterpret_cast<wchar_t*>(&text[0]), length + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

void Configurator::SetFieldBackground(int field, Colour colour) {
    layer_.SetFieldBackground(PhaseField[field], colour);
}

void Configurator::SetWriteButtonDisabled(bool disabled) {
    if (WriteButton != nullptr) {
        EnableWindow(WriteButton, disabled ? FALSE : TRUE);
    }
}

void Configurator::ValidatePhaseFields() {
    taktor::ValidatePhaseFields(validation_, *this);
}

void Configurator::WriteCommand(int type) {
    WriteCommandServices services{*this, *this, *this, messages_};
    taktor::WriteCommand(type, services);
}

void Configurator::ConfirmExit() {
    if (ShowMessage(kExitTitle, kExitText, kWarningQuestion) != kAnswerYes) {
        return;
    }
    layer_.CloseWindow(MainWindow);
    MainWindow = nullptr;
    ShutDown();
}

void Configurator::ShutDown() {
    FinishPendingWriter();
    CloseAllChannels();
    if (WaitWindow != nullptr) {
        layer_.CloseWindow(WaitWindow);
    }
    if (MainWindow != nullptr) {
        layer_.CloseWindow(MainWindow);
    }
    if (banner_ != nullptr) {
        DeleteObject(banner_);
    }
    if (labelFont_ != nullptr) {
        DeleteObject(labelFont_);
    }
    layer_.Release();
    ReleaseFrameStorage();
    CoUninitialize();
    ExitProcess(0);
}

void Configurator::ShowWaitWindow() {
    if (waiting_) {
        return;
    }
    waiting_ = true;
    EnableWindow(MainWindow, FALSE);
    WaitWindow = layer_.OpenWindow(kWaitWindowId, MainWindow, Text(), WS_POPUP, 0, 0, kWaitWidth,
                                   kWaitHeight);
    if (WaitWindow == nullptr) {
        return;
    }
    waitLabel_ =
        layer_.CreateControl(WaitWindow, kWaitLabelId, L"Static", kWaitText,
                             WS_CHILD | WS_VISIBLE | WS_GROUP | SS_NOPREFIX, 0, 10, 10, 150, 30);
    if (labelFont_ != nullptr) {
        DeleteObject(labelFont_);
        labelFont_ = nullptr;
    }
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    labelFont_ = CreateFontW(-MulDiv(kWaitFontPoints, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                             FALSE, DEFAULT_CHARSET, 0, 0, DEFAULT_QUALITY, 0, L"Arial");
    if (labelFont_ != nullptr && waitLabel_ != nullptr) {
        SendMessageW(waitLabel_, WM_SETFONT, reinterpret_cast<WPARAM>(labelFont_), TRUE);
    }
    // The write takes no events until it ends: paint the wait window now so that it is seen.
    RedrawWindow(WaitWindow, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    RedrawWindow(MainWindow, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void Configurator::CloseWaitWindow() {
    if (!waiting_) {
        return;
    }
    waiting_ = false;
    // MainWindow is enabled before the wait window goes, so that the activation can return to
    // it rather than to some other program's window.
    EnableWindow(MainWindow, TRUE);
    if (WaitWindow != nullptr) {
        layer_.CloseWindow(WaitWindow);
        WaitWindow = nullptr;
    }
}

Text Configurator::FindControllerPort() {
    WindowsDiscovery discovery(MainWindow);
    return taktor::FindControllerPort(discovery);
}

}  // namespace taktor
