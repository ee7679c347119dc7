// The continuous check of the eight phase fields: which fields blink and whether the write
// button may be pressed.
#pragma once

#include <array>
#include <cstdint>

#include "common/text.h"

namespace taktor {

constexpr int kPhaseCount = 8;
constexpr std::int64_t kLongestPhase = 2000;

// Colours are 0x00BBGGRR.
using Colour = std::uint32_t;
constexpr Colour kInvalidColour = 0x0000FF;  // red
constexpr Colour kValidColour = 0xFFFFFF;    // white

using PhaseTexts = std::array<Text, kPhaseCount>;

// A field is accepted when its text is not empty and its value lies in 0..2000. Negative numbers
// (a minus sign before a magnitude other than 0) and numerals that overflow 64 bits are refused,
// since the write would send them wrapped, whatever the wrapped value is.
bool FieldAccepted(const Text& text);

// Every text non-empty with a value of 0.
bool AllZero(const PhaseTexts& texts);

// The cycle the write command may send: every field accepted and not all of them zero.
bool CycleAccepted(const PhaseTexts& texts);

struct ValidationState {
    int BlinkPhase = 0;     // +1 or -1; the event loop sets it to +1 before the first event
    int FieldsInvalid = 0;  // 0 or 1
};

struct PassDecision {
    std::array<Colour, kPhaseCount> colours{};
    bool fieldsInvalid = false;
    bool decidesButton = false;  // only passes with BlinkPhase +1 set the button
    bool buttonDisabled = false;
};

// What one pass does, given the texts and the BlinkPhase the pass runs with (already negated).
PassDecision DecidePass(const PhaseTexts& texts, int blinkPhase);

// Reading the phase fields; field is 0..7 in phase order.
class PhaseFieldReader {
public:
    virtual ~PhaseFieldReader() = default;
    virtual Text ReadFieldText(int field) = 0;
};

// The window-layer operations the validation pass needs.
class PhaseFieldAccess : public PhaseFieldReader {
public:
    virtual void SetFieldBackground(int field, Colour colour) = 0;
    virtual void SetWriteButtonDisabled(bool disabled) = 0;
};

PhaseTexts ReadPhaseTexts(PhaseFieldReader& fields);

// One validation pass: negates BlinkPhase, colours every field, and on every second pass
// enables or disables the write button.
void ValidatePhaseFields(ValidationState& state, PhaseFieldAccess& fields);

}  // namespace taktor
