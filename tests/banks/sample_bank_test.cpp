#include "core/sample_bank.h"

#include <gtest/gtest.h>

namespace qtam {
namespace {

TEST(SlotOf, NamesInternalAndUserbankSlotsAndNothingElse) {
    Banks banks;
    EXPECT_EQ(SlotOf(banks, 1), &banks.internalBank.slot(1));
    EXPECT_EQ(SlotOf(banks, 20), &banks.internalBank.slot(20));
    EXPECT_EQ(SlotOf(banks, 101), &banks.userbank.slot(1));
    EXPECT_EQ(SlotOf(banks, 120), &banks.userbank.slot(20));
    for (int invalid : {0, 21, 99, 100, 121, 255, -1})
        EXPECT_EQ(SlotOf(banks, invalid), nullptr) << invalid;
}

TEST(SampleBank, BuffersAreAllocatedOnceAtCapacityAndReused) {
    Banks banks;
    EXPECT_EQ(banks.internalBank.capacity, 40000);
    EXPECT_EQ(banks.userbank.capacity, 179200);

    std::int16_t* first = banks.userbank.ensureBuffer(3);
    ASSERT_NE(first, nullptr);
    first[179199] = 7;  // the whole capacity is usable
    banks.userbank.slot(3).sampleCount = 179200;
    EXPECT_EQ(banks.userbank.ensureBuffer(3), first);
    EXPECT_TRUE(banks.userbank.slot(3).hasSound());
}

TEST(SampleBank, EmptyingASlotLeavesTheClearedState) {
    Banks banks;
    banks.userbank.ensureBuffer(4);
    SampleSlot& s = banks.userbank.slot(4);
    s.sampleCount = 10;
    s.stretchMeasures = 2;
    s.hihat1 = 3;
    s.hihat2 = 5;
    s.name = "Snare";
    banks.userbank.emptySlot(4);
    // Its memory goes: a live engine plays snapshots, which keep their own reference.
    EXPECT_EQ(s.samples, nullptr);
    EXPECT_EQ(s.sampleCount, 0);
    EXPECT_EQ(s.stretchMeasures, 0);
    EXPECT_EQ(s.hihat1, 0);
    EXPECT_EQ(s.hihat2, 0);
    EXPECT_EQ(s.name, "<empty>");
    EXPECT_FALSE(s.hasSound());
    // A never-filled slot has an empty name.
    EXPECT_EQ(banks.userbank.slot(5).name, "");
}

TEST(PartnerCode, ConvertsSlotNumbersToInstrumentNumbersOfTheSameBank) {
    EXPECT_EQ(PartnerCode(3, 2), 2);
    EXPECT_EQ(PartnerCode(103, 2), 102);
    EXPECT_EQ(PartnerCode(103, 0), 100);  // names no slot
}

}  // namespace
}  // namespace qtam
