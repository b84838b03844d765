#include "ui/groove_panel/panel_values.h"

#include <gtest/gtest.h>

#include "core/machine.h"
#include "song/edit_ops.h"
#include "test_support.h"

namespace qtam {
namespace {

TEST(Nearest, HalvesGoToEven) {
    EXPECT_EQ(Nearest(12.5), 12);
    EXPECT_EQ(Nearest(37.5), 38);
    EXPECT_EQ(Nearest(0.5), 0);
    EXPECT_EQ(Nearest(1.5), 2);
    EXPECT_EQ(Nearest(-2.5), -2);
    EXPECT_EQ(Nearest(-0.6), -1);
    EXPECT_EQ(Nearest(27.417), 27);
    EXPECT_EQ(Nearest(126.984), 127);
}

TEST(StepButtons, TwelveStepTables) {
    const int toButton[] = {1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15};
    for (int s = 1; s <= 12; ++s) {
        EXPECT_EQ(StepToButton12(s), toButton[s - 1]);
        EXPECT_EQ(ButtonToStep12(toButton[s - 1]), s);
    }
    for (int covered : {4, 8, 12, 16}) EXPECT_EQ(ButtonToStep12(covered), 0);
    EXPECT_EQ(StepToButton12(0), 0);
    EXPECT_EQ(StepToButton12(13), 0);
    EXPECT_EQ(ButtonToStep12(17), 0);
    EXPECT_EQ(SlotOfButton(5, 12), 4);
    EXPECT_EQ(SlotOfButton(7, 12), 6);
    EXPECT_EQ(SlotOfButton(5, 16), 5);
    EXPECT_EQ(SlotOfButton(16, 16), 16);
    EXPECT_EQ(ButtonOfSlot(12, 12), 15);
    EXPECT_EQ(ButtonOfSlot(13, 12), 0);
    EXPECT_EQ(ButtonOfSlot(13, 16), 13);
}

TEST(StepSwitch, KeepsSlots13To16AndRetimes) {
    auto m = test::NewMachine();
    test::SetNote(*m, 1, 1, 1, 14, 90, 3);
    const std::int32_t measure16 = m->player.clock.MeasureLength;
    SetStepsPerMeasure(*m, 12);
    EXPECT_EQ(m->song.stepsPerMeasure, 12);
    EXPECT_LT(m->player.clock.MeasureLength, measure16);
    SetStepsPerMeasure(*m, 16);
    EXPECT_EQ(m->song.stepsPerMeasure, 16);
    EXPECT_EQ(m->player.clock.MeasureLength, measure16);
    EXPECT_EQ(m->song.cell(1, 1, 1, 14).velocity, 90);
    EXPECT_EQ(m->song.cell(1, 1, 1, 14).pan, 3);
}

TEST(Dragging, GrabbedElevenPixelsInAndClamped) {
    EXPECT_EQ(DraggedPosition(94, 11, 75, 163), 94);
    EXPECT_EQ(DraggedPosition(94, 12, 75, 163), 95);
    EXPECT_EQ(DraggedPosition(94, -500, 75, 163), 75);
    EXPECT_EQ(DraggedPosition(206, 1000, 206, 270), 270);
}

TEST(VolumeSlider, TopToVolume) {
    const int tops[] = {75, 76, 94, 119, 163};
    const int volumes[] = {127, 126, 100, 64, 0};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(VolumeFromSliderTop(tops[i]), volumes[i]) << tops[i];
    EXPECT_EQ(VolumeFromSliderTop(10), 127);
    EXPECT_EQ(VolumeFromSliderTop(300), 0);
}

TEST(VolumeSlider, VolumeToTopAndBack) {
    const int volumes[] = {0, 1, 64, 100, 127};
    const int tops[] = {163, 162, 119, 94, 75};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(VolumeSliderTop(volumes[i]), tops[i]) << volumes[i];
    // Every volume a drag can give sits where that drag puts it.
    for (int top = 75; top <= 163; ++top)
        EXPECT_EQ(VolumeSliderTop(VolumeFromSliderTop(top)), top) << top;
}

TEST(TempoAndShuffleSliders, OffsetToValue) {
    const int offsets[] = {0, 1, 4, 12, 30, 32, 64};
    const int tempos[] = {50, 53, 62, 88, 144, 150, 250};
    const int shuffles[] = {100, 101, 103, 109, 123, 125, 150};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(TempoFromSliderOffset(offsets[i]), tempos[i]) << offsets[i];
        EXPECT_EQ(ShuffleFromSliderOffset(offsets[i]), shuffles[i]) << offsets[i];
    }
}

TEST(TempoAndShuffleSliders, ValueToOffset) {
    EXPECT_EQ(TempoSliderOffset(145), 30);
    EXPECT_EQ(TempoSliderOffset(50), 0);
    EXPECT_EQ(TempoSliderOffset(250), 64);
    EXPECT_EQ(ShuffleSliderOffset(100), 0);
    EXPECT_EQ(ShuffleSliderOffset(125), 32);
    EXPECT_EQ(ShuffleSliderOffset(150), 64);
    EXPECT_EQ(ShuffleSliderOffset(106), 8);  // 7.68
    for (int offset = 0; offset <= 64; ++offset)
        EXPECT_EQ(TempoSliderOffset(TempoFromSliderOffset(offset)), offset) << offset;
}

TEST(DistortionSliders, GainAndThreshold) {
    EXPECT_EQ(DistortionGainFromSliderLeft(454), 0);
    EXPECT_EQ(DistortionGainFromSliderLeft(464), 10);
    EXPECT_EQ(DistortionGainFromSliderLeft(518), 64);
    EXPECT_EQ(DistortionGainFromSliderLeft(600), 64);
    EXPECT_EQ(DistortionThresholdFromSliderLeft(455), 79);
    EXPECT_EQ(DistortionThresholdFromSliderLeft(518), 5056);
    EXPECT_EQ(DistortionThresholdFromSliderLeft(400), 0);
    EXPECT_EQ(DistSliderLeft(10), 464);
    EXPECT_EQ(ThresholdSliderLeft(0), 454);
    EXPECT_EQ(ThresholdSliderLeft(5056), 518);
    EXPECT_EQ(ThresholdSliderLeft(157), 454 + 1);  // integer division
    EXPECT_EQ(DistSliderLeft(60000), 518);         // a foreign file's value stays on the travel
}

TEST(Knob, DragTargetIsBaseMinusYClamped) {
    EXPECT_EQ(KnobDragTarget(128, 26), 102);
    EXPECT_EQ(KnobDragTarget(128, 0), 128);
    EXPECT_EQ(KnobDragTarget(128, -127), 255);
    EXPECT_EQ(KnobDragTarget(128, -500), 255);
    EXPECT_EQ(KnobDragTarget(10, 53), 0);
    // Taken in 16 bits first: far enough up, it wraps negative and ends at 0.
    EXPECT_EQ(KnobDragTarget(128, -32700), 0);
}

TEST(Knob, PointerLineEnds) {
    KnobLine l0 = KnobLineFor(0);
    EXPECT_EQ(l0.inner, (KnobPoint{19, 35}));
    EXPECT_EQ(l0.outer, (KnobPoint{14, 42}));
    KnobLine l128 = KnobLineFor(128);
    EXPECT_EQ(l128.inner, (KnobPoint{26, 14}));
    EXPECT_EQ(l128.outer, (KnobPoint{26, 5}));
    KnobLine l255 = KnobLineFor(255);
    EXPECT_EQ(l255.inner, (KnobPoint{33, 35}));
    EXPECT_EQ(l255.outer, (KnobPoint{38, 42}));
}

TEST(PatternKeypad, ColumnsAndRows) {
    EXPECT_EQ(PatternAtKeypad(0, 0), 1);
    EXPECT_EQ(PatternAtKeypad(16, 19), 1);
    EXPECT_EQ(PatternAtKeypad(17, 19), 2);
    EXPECT_EQ(PatternAtKeypad(33, 0), 2);
    EXPECT_EQ(PatternAtKeypad(34, 0), 3);
    EXPECT_EQ(PatternAtKeypad(50, 0), 3);
    EXPECT_EQ(PatternAtKeypad(51, 0), 4);
    EXPECT_EQ(PatternAtKeypad(68, 19), 4);
    EXPECT_EQ(PatternAtKeypad(0, 20), 5);
    EXPECT_EQ(PatternAtKeypad(20, 38), 6);
    EXPECT_EQ(PatternAtKeypad(40, 20), 7);
    EXPECT_EQ(PatternAtKeypad(68, 38), 8);
}

}  // namespace
}  // namespace qtam
