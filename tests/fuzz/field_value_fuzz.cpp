// Any eight phase-field texts through the value rule and the validation decision. An independent
// reading of each numeral's exact value (any number of digits, never more than a small int)
// says which fields are in 0..2000; an accepted cycle must send exactly those values.
//
// Input: the fields as UTF-8, separated by line feeds; fewer than eight repeat in turn, so that
// one numeral fills a whole cycle.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/field_value.h"
#include "app/validation.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using taktor::Text;

// The exact value of the numeral the text starts with (blanks, a sign, '$' or '%', digits) when
// it lies in 0..2000; nothing when it lies outside, a minus sign before a non-zero magnitude
// included. The magnitude only grows with every further digit, so the reading stops as soon as
// it passes 2000 and never wraps, however long the numeral.
std::optional<int> ExactValueInRange(const Text& text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == u' ' || text[at] == u'\t')) {
        ++at;
    }
    bool minus = false;
    if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) {
        minus = text[at] == u'-';
        ++at;
    }
    int base = 10;
    if (at < text.size() && text[at] == u'$') {
        base = 16;
        ++at;
    } else if (at < text.size() && text[at] == u'%') {
        base = 2;
        ++at;
    }
    static const Text kDigits = u"0123456789abcdef";
    int magnitude = 0;
    for (; at < text.size(); ++at) {
        char16_t c = text[at];
        if (c >= u'A' && c <= u'F') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
        const std::size_t digit = kDigits.find(c);
        if (digit == Text::npos || digit >= static_cast<std::size_t>(base)) {
            break;
        }
        magnitude = magnitude * base + static_cast<int>(digit);
        if (magnitude > static_cast<int>(taktor::kLongestPhase)) {
            return std::nullopt;
        }
    }
    if (minus && magnitude != 0) {
        return std::nullopt;
    }
    return magnitude;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<Text> fields;
    std::string field;
    for (std::size_t i = 0; i <= size && fields.size() < taktor::kPhaseCount; ++i) {
        if (i == size || data[i] == '\n') {
            fields.push_back(taktor::TextFromUtf8(field));
            field.clear();
        } else {
            field.push_back(static_cast<char>(data[i]));
        }
    }
    taktor::PhaseTexts texts;
    for (int i = 0; i < taktor::kPhaseCount; ++i) {
        texts[i] = fields[static_cast<std::size_t>(i) % fields.size()];
    }

    std::array<std::optional<int>, taktor::kPhaseCount> exact;
    bool allAccepted = true;
    bool allZero = true;
    for (int i = 0; i < taktor::kPhaseCount; ++i) {
        if (!texts[i].empty()) {
            exact[i] = ExactValueInRange(texts[i]);
        }
        const bool accepted = taktor::FieldAccepted(texts[i]);
        FUZZ_CHECK(accepted == exact[i].has_value());
        allAccepted = allAccepted && accepted;
        allZero = allZero && accepted && *exact[i] == 0;
    }
    const bool cycleAccepted = taktor::CycleAccepted(texts);
    FUZZ_CHECK(cycleAccepted == (allAccepted && !allZero));

    if (cycleAccepted) {
        // The durations as the write command puts them into the frame.
        for (int i = 0; i < taktor::kPhaseCount; ++i) {
            const auto duration = static_cast<std::uint16_t>(taktor::FieldValue(texts[i]));
            FUZZ_CHECK(taktor::FieldValue(texts[i]) == *exact[i]);
            FUZZ_CHECK(duration == *exact[i]);
            FUZZ_CHECK(duration <= taktor::kLongestPhase);
        }
    }

    // A marking pass: every refused field red; an accepted one red only when the whole cycle is
    // (all zero); the button disabled exactly when the cycle may not be sent.
    const taktor::PassDecision marking = taktor::DecidePass(texts, 1);
    FUZZ_CHECK(marking.decidesButton);
    FUZZ_CHECK(marking.buttonDisabled == !cycleAccepted);
    bool allRed = true;
    for (int i = 0; i < taktor::kPhaseCount; ++i) {
        allRed = allRed && marking.colours[i] == taktor::kInvalidColour;
        if (!exact[i]) {
            FUZZ_CHECK(marking.colours[i] == taktor::kInvalidColour);
        }
    }
    for (int i = 0; i < taktor::kPhaseCount && !allRed; ++i) {
        FUZZ_CHECK(marking.colours[i] ==
                   (exact[i] ? taktor::kValidColour : taktor::kInvalidColour));
    }
    FUZZ_CHECK(marking.fieldsInvalid == (allRed || !allAccepted));

    // The pass in between marks nothing and leaves the button alone.
    const taktor::PassDecision between = taktor::DecidePass(texts, -1);
    FUZZ_CHECK(!between.decidesButton && !between.fieldsInvalid);
    for (const taktor::Colour colour : between.colours) {
        FUZZ_CHECK(colour == taktor::kValidColour);
    }
    return 0;
}
