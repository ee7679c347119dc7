// Figures for the Windows program under Wine (not a test): the time from start to MainWindow
// shown, and from a press of the write button to the result message of a confirmed write, the
// port-listing tool's run included. Run by tests/bench/wine-bench.sh.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "driver.h"

using namespace e2e;

namespace {

void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %7.1f ms   min %7.1f   max %7.1f   (%zu runs)\n", what,
                ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
}

}  // namespace

int main() {
    const int runs = 7;
    std::vector<double> start;
    std::vector<double> write;
    const std::wstring tool = Environment(L"TAKTOR_FAKE_TOOL");
    for (int i = 0; i < runs; ++i) {
        Program program(tool, "USB-SERIAL CH340 (COM5)\n");
        if (program.Main() == nullptr) {
            std::fputs("the configurator did not start\n", stderr);
            return 1;
        }
        start.push_back(program.StartSeconds() * 1000.0);
        // Let the first validation passes run, as a user would.
        Sleep(700);
        const auto pressed = Clock::now();
        program.PressWriteButton();
        const MessageBoxSeen box = program.WaitForMessageBox(milliseconds(20000));
        const double took =
            std::chrono::duration<double, std::milli>(Clock::now() - pressed).count();
        if (box.box == nullptr || box.title != L"Выполнено") {
            std::fputs("the write was not confirmed\n", stderr);
            return 1;
        }
        write.push_back(took);
        AnswerMessageBox(box.box, IDOK);
    }
    Report("start to MainWindow shown", start);
    Report("press to result message (confirmed write)", write);
    return 0;
}
