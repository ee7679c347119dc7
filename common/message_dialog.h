// The configurator's one modal message box, as the logic that speaks to the user sees it: the
// Windows program shows a real box, tests answer from a script.
#pragma once

#include "common/text.h"

namespace taktor {

// Message-box flag words, passed to the platform unchanged.
constexpr unsigned kErrorMessage = 16;     // OK, error icon
constexpr unsigned kErrorQuestion = 20;    // Yes and No, error icon
constexpr unsigned kWarningQuestion = 52;  // Yes and No, exclamation icon
constexpr unsigned kInformMessage = 64;    // OK, information icon

// Button codes a box returns.
constexpr int kAnswerOk = 1;
constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;

class MessageDialog {
public:
    virtual ~MessageDialog() = default;
    // Shows the box and returns the code of the button pressed.
    virtual int ShowMessage(const Text& title, const Text& text, unsigned flags) = 0;
};

}  // namespace taktor
