#include "app/validation.h"

#include <algorithm>

#include "app/field_value.h"

namespace taktor {

bool FieldAccepted(const Text& text) {
    if (text.empty()) {
        return false;
    }
    const FieldNumber number = ParseFieldNumber(text);
    return !number.overflowed && !number.negative && number.value >= 0 &&
           number.value <= kLongestPhase;
}

bool AllZero(const PhaseTexts& texts) {
    return std::all_of(texts.begin(), texts.end(),
                       [](const Text& text) { return !text.empty() && FieldValue(text) == 0; });
}

bool CycleAccepted(const PhaseTexts& texts) {
    return std::all_of(texts.begin(), texts.end(), FieldAccepted) && !AllZero(texts);
}

PassDecision DecidePass(const PhaseTexts& texts, int blinkPhase) {
    PassDecision decision;
    const bool marking = blinkPhase == 1;
    for (int i = 0; i < kPhaseCount; ++i) {
        const bool invalid = !FieldAccepted(texts[i]);
        if (invalid && marking) {
            decision.colours[i] = kInvalidColour;
            decision.fieldsInvalid = true;
        } else {
            decision.colours[i] = kValidColour;
        }
    }
    if (marking && AllZero(texts)) {
        decision.colours.fill(kInvalidColour);
        decision.fieldsInvalid = true;
    }
    decision.decidesButton = marking;
    decision.buttonDisabled = decision.fieldsInvalid;
    return decision;
}

PhaseTexts ReadPhaseTexts(PhaseFieldReader& fields) {
    PhaseTexts texts;
    for (int i = 0; i < kPhaseCount; ++i) {
        texts[i] = fields.ReadFieldText(i);
    }
    return texts;
}

void ValidatePhaseFields(ValidationState& state, PhaseFieldAccess& fields) {
    state.BlinkPhase = -state.BlinkPhase;
    const PassDecision decision = DecidePass(ReadPhaseTexts(fields), state.BlinkPhase);
    state.FieldsInvalid = decision.fieldsInvalid ? 1 : 0;
    for (int i = 0; i < kPhaseCount; ++i) {
        fields.SetFieldBackground(i, decision.colours[i]);
    }
    if (decision.decidesButton) {
        fields.SetWriteButtonDisabled(decision.buttonDisabled);
    }
}

}  // namespace taktor
