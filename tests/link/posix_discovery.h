// Port discovery on POSIX systems, for the tests of the logic: the listing tool is any executable
// file of the expected name.
#pragma once

#include "link/port_discovery.h"

namespace taktor {

class PosixDiscovery : public DiscoveryPlatform {
public:
    // directory: where the tool and its list lie, ending in '/'.
    explicit PosixDiscovery(Text directory) : directory_(std::move(directory)) {}

    Text ProgramDirectory() override { return directory_; }
    int RunProgramAndWait(const Text& program, const Text& arguments,
                          const Text& directory) override;
    std::unique_ptr<ByteSource> OpenForReading(const Text& path) override;

private:
    Text directory_;
};

}  // namespace taktor
