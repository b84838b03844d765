// The instrument's parameters follow the song for a host that reads them back: whatever edits
// the window makes, the parameters read what the song holds, and a value the host sends between
// two rounds is never lost.

#include "plugin/instrument.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <vector>

#include "core/machine.h"
#include "song/panel_edits.h"

namespace qtam::plugin {
namespace {

TEST(InstrumentParams, FollowTheSongThroughAnyEdits) {
    Instrument in(48000);
    std::atomic<int> told = 0;  // the owner's thread runs rounds too
    in.FollowSong([&told] { ++told; });
    std::mt19937 random(7);
    auto pick = [&random](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(random); };
    for (int edit = 0; edit < 300; ++edit) {
        const int channel = pick(1, kChannels);
        {
            auto lock = in.Lock();
            switch (pick(0, 2)) {
                case 0:
                    in.editor().DragChannelVolume(channel, pick(0, kChannelVolumeMax));
                    in.editor().EndDrag();
                    break;
                case 1:
                    in.editor().ToggleMute(channel);
                    break;
                default:
                    in.editor().ChoosePattern(pick(1, kPatterns));
            }
        }
        const int before = told;
        in.Idle();
        const Machine& m = in.machine();
        const ChannelSettings& s = m.song.settings(m.editor.CurrentPattern);
        for (int c = 0; c < kChannels; ++c) {
            ASSERT_EQ(in.Param(kChannelVolume + c), s.volume[c]) << "edit " << edit;
            ASSERT_EQ(in.Param(kChannelMute + c), s.mute[c] != 0 ? 1.0f : 0.0f) << "edit " << edit;
        }
        ASSERT_EQ(in.Param(kPattern), m.editor.CurrentPattern);
        ASSERT_LE(told - before, 1);
    }
    EXPECT_GT(told, 100);  // most edits move a parameter, and each that does is told

    // The host's value wins over the song's until applied, and then the song holds it.
    const int volume = static_cast<int>(in.Param(kChannelVolume)) ^ 1;
    in.SetParam(kChannelVolume, static_cast<float>(volume));
    in.Idle();
    EXPECT_EQ(in.Param(kChannelVolume), volume);
    EXPECT_EQ(in.machine().song.settings(in.machine().editor.CurrentPattern).volume[0], volume);

    // A state's parameters are in force on its song, whatever rounds run meanwhile.
    const std::vector<std::uint8_t> song = in.SongBytes();
    for (int take = 0; take < 50; ++take) {
        std::vector<float> values(kParamCount);
        for (int i = 0; i < kParamCount; ++i) values[i] = in.Param(i);
        values[kPattern] = static_cast<float>(take % kPatterns + 1);
        values[kChannelMute] = values[kChannelMute] >= 0.5f ? 0.0f : 1.0f;
        ASSERT_TRUE(in.Restore(song, {}, values));
        in.Idle();
        const Machine& m = in.machine();
        ASSERT_EQ(m.editor.CurrentPattern, take % kPatterns + 1);
        ASSERT_EQ(in.Param(kChannelMute), values[kChannelMute]) << "take " << take;
        ASSERT_EQ(m.song.settings(m.editor.CurrentPattern).mute[0] != 0, values[kChannelMute] == 1)
            << "take " << take;
    }
}

}  // namespace
}  // namespace qtam::plugin
