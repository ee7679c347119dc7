#include "app/validation.h"

#include <gtest/gtest.h>

#include <vector>

namespace taktor {
namespace {

PhaseTexts Defaults() {
    return {u"60", u"5", u"60", u"5", u"60", u"5", u"60", u"5"};
}

PhaseTexts With(int field, const Text& text) {
    PhaseTexts texts = Defaults();
    texts[field] = text;
    return texts;
}

TEST(FieldAccepted, RangeEmptinessAndMendedWrapping) {
    EXPECT_TRUE(FieldAccepted(u"0"));
    EXPECT_TRUE(FieldAccepted(u"2000"));
    EXPECT_TRUE(FieldAccepted(u"0002000"));
    EXPECT_TRUE(FieldAccepted(u"12ab"));
    EXPECT_TRUE(FieldAccepted(u"$7D0"));
    EXPECT_TRUE(FieldAccepted(u"   "));  // blanks are not empty; their value is 0
    EXPECT_FALSE(FieldAccepted(u""));
    EXPECT_FALSE(FieldAccepted(u"2001"));
    EXPECT_FALSE(FieldAccepted(u"0002001"));
    EXPECT_FALSE(FieldAccepted(u"$7D1"));
    // A negative value would be sent as its 16-bit pattern; one that wrapped past 64 bits as
    // whatever is left of it. Both are refused.
    EXPECT_FALSE(FieldAccepted(u"-5"));
    EXPECT_FALSE(FieldAccepted(u"-$1"));
    EXPECT_FALSE(FieldAccepted(u"18446744073709551621"));
    EXPECT_FALSE(FieldAccepted(u"18446744073709551616"));
    // Minus 2^64 - 1 wraps round to +1 without overflowing: still a negative number.
    EXPECT_FALSE(FieldAccepted(u"-18446744073709551615"));
    EXPECT_FALSE(FieldAccepted(u"-$FFFFFFFFFFFFFFFF"));
    EXPECT_FALSE(FieldAccepted(u"-%1" + Text(63, u'1')));
    EXPECT_TRUE(FieldAccepted(u"-0"));
    EXPECT_TRUE(FieldAccepted(u"-$0"));
}

TEST(CycleAccepted, NeedsEveryFieldAndOneNonZero) {
    EXPECT_TRUE(CycleAccepted(Defaults()));
    EXPECT_FALSE(CycleAccepted(With(3, u"")));
    EXPECT_FALSE(CycleAccepted(With(7, u"70000")));
    PhaseTexts zeros;
    zeros.fill(u"0");
    EXPECT_FALSE(CycleAccepted(zeros));
    zeros[5] = u"1";
    EXPECT_TRUE(CycleAccepted(zeros));
    zeros[5] = u"";
    EXPECT_FALSE(CycleAccepted(zeros));
}

TEST(DecidePass, DefaultsAreWhiteAndEnableTheButton) {
    for (int blink : {-1, 1}) {
        const PassDecision d = DecidePass(Defaults(), blink);
        for (Colour c : d.colours) {
            EXPECT_EQ(c, kValidColour);
        }
        EXPECT_FALSE(d.fieldsInvalid);
        EXPECT_EQ(d.decidesButton, blink == 1);
        EXPECT_FALSE(d.buttonDisabled);
    }
}

TEST(DecidePass, InvalidFieldBlinksOnlyOnMarkingPasses) {
    const PhaseTexts texts = With(2, u"2001");
    const PassDecision marking = DecidePass(texts, 1);
    for (int i = 0; i < kPhaseCount; ++i) {
        EXPECT_EQ(marking.colours[i], i == 2 ? kInvalidColour : kValidColour) << i;
    }
    EXPECT_TRUE(marking.decidesButton);
    EXPECT_TRUE(marking.buttonDisabled);

    const PassDecision resting = DecidePass(texts, -1);
    for (Colour c : resting.colours) {
        EXPECT_EQ(c, kValidColour);
    }
    EXPECT_FALSE(resting.fieldsInvalid);
    EXPECT_FALSE(resting.decidesButton);
}

TEST(DecidePass, AllZeroRuleColoursEveryField) {
    PhaseTexts texts{u"0", u"00", u" ", u"$0", u"%0", u"-0", u"0abc", u"+0"};
    PassDecision d = DecidePass(texts, 1);
    for (Colour c : d.colours) {
        EXPECT_EQ(c, kInvalidColour);
    }
    EXPECT_TRUE(d.buttonDisabled);

    // Seven zeros and one empty field: only the empty one is marked.
    texts[4] = u"";
    d = DecidePass(texts, 1);
    for (int i = 0; i < kPhaseCount; ++i) {
        EXPECT_EQ(d.colours[i], i == 4 ? kInvalidColour : kValidColour) << i;
    }
    EXPECT_TRUE(d.buttonDisabled);

    // Seven zeros and a one: nothing is marked.
    texts[4] = u"1";
    d = DecidePass(texts, 1);
    EXPECT_FALSE(d.fieldsInvalid);
    EXPECT_FALSE(d.buttonDisabled);
}

// A window layer that records what the pass does.
class RecordingFields : public PhaseFieldAccess {
public:
    PhaseTexts texts = Defaults();
    std::array<Colour, kPhaseCount> backgrounds{};
    int colourCalls = 0;
    std::vector<bool> buttonStates;

    Text ReadFieldText(int field) override { return texts[field]; }
    void SetFieldBackground(int field, Colour colour) override {
        backgrounds[field] = colour;
        ++colourCalls;
    }
    void SetWriteButtonDisabled(bool disabled) override { buttonStates.push_back(disabled); }
};

TEST(ValidatePhaseFields, AlternatesAndDecidesTheButtonEverySecondPass) {
    RecordingFields fields;
    ValidationState state;
    state.BlinkPhase = 1;  // as the event loop leaves it

    fields.texts[0] = u"";
    ValidatePhaseFields(state, fields);  // first pass: BlinkPhase -1
    EXPECT_EQ(state.BlinkPhase, -1);
    EXPECT_EQ(state.FieldsInvalid, 0);
    EXPECT_EQ(fields.backgrounds[0], kValidColour);
    EXPECT_TRUE(fields.buttonStates.empty());
    EXPECT_EQ(fields.colourCalls, 8);

    ValidatePhaseFields(state, fields);  // second pass: marks and disables
    EXPECT_EQ(state.BlinkPhase, 1);
    EXPECT_EQ(state.FieldsInvalid, 1);
    EXPECT_EQ(fields.backgrounds[0], kInvalidColour);
    EXPECT_EQ(fields.buttonStates, std::vector<bool>{true});

    fields.texts[0] = u"60";
    ValidatePhaseFields(state, fields);  // resting pass leaves the button alone
    EXPECT_EQ(fields.buttonStates.size(), 1u);
    ValidatePhaseFields(state, fields);
    EXPECT_EQ(fields.backgrounds[0], kValidColour);
    EXPECT_EQ(fields.buttonStates, (std::vector<bool>{true, false}));
    EXPECT_EQ(fields.colourCalls, 32);
}

}  // namespace
}  // namespace taktor
