// Port discovery on Windows: the listing tool beside the configurator's executable.
#pragma once

#include <windows.h>

#include "link/port_discovery.h"

namespace taktor {

class WindowsDiscovery : public DiscoveryPlatform {
public:
    // mainWindow: the window whose module names the configurator's directory.
    explicit WindowsDiscovery(HWND mainWindow) : mainWindow_(mainWindow) {}

    Text ProgramDirectory() override;
    int RunProgramAndWait(const Text& program, const Text& arguments,
                          const Text& directory) override;
    std::unique_ptr<ByteSource> OpenForReading(const Text& path) override;

private:
    HWND mainWindow_;
};

}  // namespace taktor
