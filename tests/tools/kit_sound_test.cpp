// The kit file the build synthesised: its bytes must load as a bank, and its sounds must be
// clean (level, offset, no clicks) and sound like the roles their names promise.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/sample_bank.h"

namespace {

struct KitSlot {
    std::int32_t sampleCount = 0;
    std::vector<std::int16_t> samples;
    std::uint8_t stretchMeasures = 0;
    std::string name;  // all 20 bytes
    std::string filler;
    std::uint8_t hihat1 = 0;
    std::uint8_t hihat2 = 0;

    std::string Trimmed() const { return name.substr(0, name.find_last_not_of(' ') + 1); }
};

struct Kit {
    std::string signature;
    std::string description;
    std::uint8_t format = 0;
    std::vector<KitSlot> slots;
    std::string error;  // empty when the file parsed to its last byte
};

class ByteReader {
public:
    explicit ByteReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    bool Has(std::size_t n) const { return bytes_.size() - pos_ >= n; }
    bool AtEnd() const { return pos_ == bytes_.size(); }
    std::string Text(std::size_t n) {
        std::string s(bytes_.begin() + pos_, bytes_.begin() + pos_ + n);
        pos_ += n;
        return s;
    }
    std::uint8_t U8() { return bytes_[pos_++]; }
    std::int16_t I16() {
        auto v = static_cast<std::uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
        pos_ += 2;
        return static_cast<std::int16_t>(v);
    }
    std::int32_t I32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(bytes_[pos_ + i]) << (8 * i);
        pos_ += 4;
        return static_cast<std::int32_t>(v);
    }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t pos_ = 0;
};

Kit ParseKit(const std::vector<std::uint8_t>& bytes) {
    Kit kit;
    ByteReader r(bytes);
    if (!r.Has(43)) {
        kit.error = "header cut short";
        return kit;
    }
    kit.signature = r.Text(12);
    kit.description = r.Text(30);
    kit.format = r.U8();
    for (int n = 1; n <= qtam::kBankSlots; ++n) {
        KitSlot slot;
        if (!r.Has(4)) {
            kit.error = "slot " + std::to_string(n) + " cut short";
            return kit;
        }
        slot.sampleCount = r.I32();
        if (slot.sampleCount > 0) {
            if (!r.Has(2 * static_cast<std::size_t>(slot.sampleCount))) {
                kit.error = "samples of slot " + std::to_string(n) + " cut short";
                return kit;
            }
            for (std::int32_t i = 0; i < slot.sampleCount; ++i) slot.samples.push_back(r.I16());
        }
        if (!r.Has(25)) {
            kit.error = "tail of slot " + std::to_string(n) + " cut short";
            return kit;
        }
        slot.stretchMeasures = r.U8();
        slot.name = r.Text(20);
        slot.filler = r.Text(2);
        slot.hihat1 = r.U8();
        slot.hihat2 = r.U8();
        kit.slots.push_back(std::move(slot));
    }
    if (!r.AtEnd()) kit.error = "bytes after the last slot";
    return kit;
}

double PeakDbfs(const std::vector<std::int16_t>& s) {
    int peak = 0;
    for (std::int16_t v : s) peak = std::max(peak, std::abs(static_cast<int>(v)));
    return 20.0 * std::log10(peak / 32768.0);
}

double Mean(const std::vector<std::int16_t>& s) {
    double sum = 0;
    for (std::int16_t v : s) sum += v;
    return sum / static_cast<double>(s.size());
}

// Zero crossings per second over the part of the sound within 30 dB of its peak: a rough
// measure of where its energy lies, enough to tell a kick from a hi-hat.
double Brightness(const std::vector<std::int16_t>& s) {
    int peak = 0;
    for (std::int16_t v : s) peak = std::max(peak, std::abs(static_cast<int>(v)));
    const int floor = peak / 32;
    std::size_t end = s.size();
    while (end > 1 && std::abs(static_cast<int>(s[end - 1])) < floor) --end;
    int crossings = 0;
    for (std::size_t i = 1; i < end; ++i)
        if ((s[i - 1] < 0) != (s[i] < 0)) ++crossings;
    return crossings / (static_cast<double>(end) / 44100.0);
}

class KitFile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::ifstream in(QTAM_KIT_FILE, std::ios::binary);
        ASSERT_TRUE(in) << "the build did not write " << QTAM_KIT_FILE;
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        kit_ = new Kit(ParseKit(bytes));
    }
    static void TearDownTestSuite() {
        delete kit_;
        kit_ = nullptr;
    }

    static const Kit& kit() { return *kit_; }
    static const KitSlot& Named(const std::string& name) {
        for (const KitSlot& s : kit_->slots)
            if (s.Trimmed() == name) return s;
        ADD_FAILURE() << "no slot named " << name;
        static const KitSlot none;
        return none;
    }
    static int NumberOf(const std::string& name) {
        for (std::size_t i = 0; i < kit_->slots.size(); ++i)
            if (kit_->slots[i].Trimmed() == name) return static_cast<int>(i) + 1;
        return 0;
    }

private:
    static inline Kit* kit_ = nullptr;
};

TEST_F(KitFile, ParsesAsABankToItsLastByte) {
    ASSERT_EQ(kit().error, "");
    EXPECT_EQ(kit().signature, "CUSTOM_BANK:");
    EXPECT_EQ(kit().description, "Q.Tam default kit             ");
    EXPECT_EQ(kit().format, 81);
    EXPECT_EQ(kit().slots.size(), 20u);
}

TEST_F(KitFile, EverySlotFitsTheKitAndHasADistinctShortName) {
    ASSERT_EQ(kit().error, "");
    std::set<std::string> names;
    for (const KitSlot& s : kit().slots) {
        SCOPED_TRACE(s.name);
        EXPECT_GE(s.sampleCount, 1);
        EXPECT_LE(s.sampleCount, qtam::kInternalSlotCapacity);
        EXPECT_EQ(s.stretchMeasures, 0);
        EXPECT_EQ(s.filler, "HH");
        const std::string name = s.Trimmed();
        EXPECT_FALSE(name.empty());
        EXPECT_LE(name.size(), 12u) << "the panel shows only 12 characters";
        for (char c : name) EXPECT_TRUE(c >= 32 && c < 127);
        EXPECT_TRUE(names.insert(name).second) << "duplicate name";
    }
}

TEST_F(KitFile, SoundsPeakNearMinusOneDbfsWithoutOffset) {
    ASSERT_EQ(kit().error, "");
    for (const KitSlot& s : kit().slots) {
        SCOPED_TRACE(s.name);
        ASSERT_FALSE(s.samples.empty());
        const double peak = PeakDbfs(s.samples);
        EXPECT_GE(peak, -1.5);
        EXPECT_LE(peak, -0.5);
        EXPECT_LT(std::abs(Mean(s.samples)), 16.0) << "DC offset";
    }
}

TEST_F(KitFile, SoundsStartAndEndWithoutAClick) {
    ASSERT_EQ(kit().error, "");
    for (const KitSlot& s : kit().slots) {
        SCOPED_TRACE(s.name);
        const auto& x = s.samples;
        ASSERT_GE(x.size(), 8u);
        EXPECT_LE(std::abs(x[0]), 64);
        // The onset ramps up over a few samples instead of jumping.
        for (int i = 1; i < 4; ++i) EXPECT_LE(std::abs(x[i]), 29204 * i / 8) << "sample " << i;
        EXPECT_EQ(x.back(), 0);
        EXPECT_LE(std::abs(x[x.size() - 2]), 64);
        EXPECT_LE(std::abs(x[x.size() - 3]), 256);
    }
}

TEST_F(KitFile, OpenHiHatIsChokedByTheClosedAndPedalHats) {
    ASSERT_EQ(kit().error, "");
    const int closed = NumberOf("HiHat Closed");
    const int pedal = NumberOf("HiHat Pedal");
    ASSERT_NE(closed, 0);
    ASSERT_NE(pedal, 0);
    const KitSlot& open = Named("HiHat Open");
    EXPECT_EQ(std::set<int>({open.hihat1, open.hihat2}), std::set<int>({closed, pedal}));
    // No other sound is cut by anything.
    for (const KitSlot& s : kit().slots) {
        if (&s == &open) continue;
        SCOPED_TRACE(s.name);
        EXPECT_EQ(s.hihat1, 0);
        EXPECT_EQ(s.hihat2, 0);
    }
    // Choking only makes sense when the open hat rings on past the other two.
    EXPECT_GT(open.sampleCount, 3 * Named("HiHat Closed").sampleCount);
    EXPECT_GT(open.sampleCount, 3 * Named("HiHat Pedal").sampleCount);
}

TEST_F(KitFile, SoundsSitWhereTheirNamesSay) {
    ASSERT_EQ(kit().error, "");
    std::map<std::string, double> hz;
    for (const KitSlot& s : kit().slots) hz[s.Trimmed()] = Brightness(s.samples);

    for (const char* low : {"Kick Boom", "Kick Punch"}) EXPECT_LT(hz[low], 400.0) << low;
    for (const char* high :
         {"HiHat Closed", "HiHat Pedal", "HiHat Open", "Crash", "Ride", "Shaker", "Tambourine"})
        EXPECT_GT(hz[high], 6000.0) << high;
    EXPECT_LT(hz["Kick Boom"], hz["Kick Punch"]);
    EXPECT_LT(hz["Kick Punch"], hz["Tom Low"]);
    EXPECT_LT(hz["Tom Low"], hz["Tom Mid"]);
    EXPECT_LT(hz["Tom Mid"], hz["Tom High"]);
    EXPECT_LT(hz["Tom High"], hz["Conga"]);
    for (const char* snare : {"Snare Fat", "Snare Tight", "Clap"}) {
        EXPECT_GT(hz[snare], hz["Tom High"]) << snare;
        EXPECT_LT(hz[snare], hz["HiHat Closed"]) << snare;
    }
}

}  // namespace
