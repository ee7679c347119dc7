// ShowMessage on Windows: a modal message box owned by the foreground window when it is one of
// ours, with the thread's other windows disabled while it is open.
#pragma once

#include "common/message_dialog.h"

namespace taktor {

class WindowsMessageDialog : public MessageDialog {
public:
    int ShowMessage(const Text& title, const Text& text, unsigned flags) override;
};

}  // namespace taktor
