#include "song/song_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "core/song.h"
#include "core/text_codec.h"
#include "test_support.h"

namespace qtam {
namespace {

const char* kGroove = R"(# a two-pattern groove
title "Night Drive"
author Somebody
tempo 128
shuffle 40
humanize on

pattern 1
  measures 2
  distortion gain 20 threshold 790
  channel 1 sound 1 volume 120
  channel 2 sound u3 volume 90 pan 30 mute
  channel 3 sound 7 distortion
  measure 1
    1 X... x... X... x...
    2 ..o. ..o. ..9. ..0.
  measure 2
    1 |x.x.|<...|....|...X|
pattern 3
  measure 1
    8 x... .... .... ....
)";

TEST(SongText, BuildsEveryFieldOfTheSong) {
    auto m = test::NewMachine();
    std::string error;
    ASSERT_TRUE(ApplySongText(m->song, kGroove, error)) << error;
    const Song& s = m->song;
    EXPECT_EQ(s.title.str(), "Night Drive");
    EXPECT_EQ(s.author.str(), "Somebody");
    EXPECT_EQ(s.tempo, 128);
    EXPECT_EQ(s.shuffle, 120);  // shown 40 is stored as 100 + 40 / 2
    EXPECT_EQ(s.humanize, 1);
    EXPECT_EQ(s.measureCount[0], 2);
    EXPECT_EQ(s.measureCount[2], 1);
    const ChannelSettings& cs = s.settings(1);
    EXPECT_EQ(cs.instrument[1], 103);
    EXPECT_EQ(cs.volume[0], 120);
    EXPECT_EQ(cs.mute[1], 1);
    EXPECT_EQ(cs.distortionOn[2], 1);
    EXPECT_EQ(cs.distortionGain, 20);
    EXPECT_EQ(cs.distortionThreshold, 790);

    EXPECT_EQ(s.cell(1, 1, 1, 1).velocity, 127);
    EXPECT_EQ(s.cell(1, 1, 1, 5).velocity, 100);
    EXPECT_FALSE(s.cell(1, 1, 1, 2).hasNote());
    EXPECT_EQ(s.cell(1, 1, 2, 3).velocity, 60);
    EXPECT_EQ(s.cell(1, 1, 2, 3).pan, 30);  // the channel's pan goes to its notes
    EXPECT_EQ(s.cell(1, 1, 2, 11).velocity, 127);
    EXPECT_EQ(s.cell(1, 1, 2, 15).velocity, 0);  // a silent note is still a note
    EXPECT_EQ(s.cell(1, 2, 1, 5).reversed, 1);
    EXPECT_EQ(s.cell(1, 2, 1, 16).velocity, 127);
    EXPECT_EQ(s.cell(3, 1, 8, 1).velocity, 100);
}

TEST(SongText, FormattingAndBuildingAgainGivesTheSameSong) {
    auto m = test::NewMachine();
    std::string error;
    ASSERT_TRUE(ApplySongText(m->song, kGroove, error)) << error;
    const std::string text = FormatSongText(m->song);
    EXPECT_NE(text.find("    1 X... x... X... x..."), std::string::npos) << text;
    EXPECT_NE(text.find("copyright \"\xC2\xA9 by ...\""), std::string::npos) << text;  // UTF-8 out

    auto again = test::NewMachine();
    ASSERT_TRUE(ApplySongText(again->song, text, error)) << error;
    for (int p : {1, 3})
        for (int meas = 1; meas <= 2; ++meas)
            for (int ch = 1; ch <= 8; ++ch)
                for (int slot = 1; slot <= 16; ++slot) {
                    const StepCell& a = m->song.cell(p, meas, ch, slot);
                    const StepCell& b = again->song.cell(p, meas, ch, slot);
                    ASSERT_EQ(a.velocity, b.velocity)
                        << p << "/" << meas << "/" << ch << "/" << slot;
                    ASSERT_EQ(a.reversed, b.reversed);
                }
    EXPECT_EQ(again->song.copyright.str(), m->song.copyright.str());
    EXPECT_EQ(again->song.shuffle, m->song.shuffle);
    EXPECT_EQ(std::memcmp(&again->song.settings(1), &m->song.settings(1), sizeof(ChannelSettings)),
              0);
}

TEST(SongText, TextsAreWindows1252InTheSongButTheUserbankPathKeepsItsBytes) {
    auto m = test::NewMachine();
    std::string error;
    ASSERT_TRUE(ApplySongText(
        m->song, "author \"Ren\xC3\xA9\"\nuserbank \"/home/ren\xC3\xA9/kit.ubf\"\n", error))
        << error;
    EXPECT_EQ(m->song.author.str(), "Ren\xE9");
    EXPECT_EQ(m->song.userbankFile.str(), "/home/ren\xC3\xA9/kit.ubf");
    const std::string text = FormatSongText(m->song);
    EXPECT_NE(text.find("author \"Ren\xC3\xA9\""), std::string::npos) << text;
    EXPECT_NE(text.find("userbank \"/home/ren\xC3\xA9/kit.ubf\""), std::string::npos) << text;
}

TEST(SongText, AnErrorNamesItsPlaceAndWhatWasExpectedAndChangesNothing) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"tempo 300", "line 1, column 7: expected a tempo in BPM (50..250), found \"300\""},
        {"shuffle 41",
         "line 1, column 9: expected an even shuffle (it is stored in steps of 2), "
         "found 41"},
        {"steps 13", "line 1, column 7: expected 12 or 16, found \"13\""},
        {"humanize maybe",
         "line 1, column 10: expected on, off or a number 0..255, found "
         "\"maybe\""},
        {"colour red",
         "line 1, column 1: unknown song setting \"colour\" (expected title, "
         "subtitle, author, copyright, tempo, shuffle, steps, humanize, "
         "info-on-open, userbank, userbank-description, header, padding or "
         "pattern)"},
        {"title \"My Song",
         "line 1, column 7: the text has no closing quote (expected '\"' "
         "before the end of the line)"},
        {"title \"a\"b", "line 1, column 10: expected a space after the closing quote"},
        {"title \"\\q\"",
         "line 1, column 8: unknown escape (expected \\\" \\\\ \\n \\r \\t or "
         "\\x and two hex digits)"},
        {"title \"\xE6\x97\xA5\"",
         "line 1, column 8: U+65E5 has no Windows-1252 byte, which "
         "song texts hold"},
        {"title \"\xC3\"", "line 1, column 8: the text is not UTF-8 here (use \\xHH for a byte)"},
        {"author \"123456789012345678901234567890123456789012345678901\"",
         "line 1, column 8: author holds at most 50 characters; this text has 51"},
        {"title \"a\" length 60",
         "line 1, column 11: length is given only for a text that "
         "fills all 50 places"},
        {"pattern 9", "line 1, column 9: expected a pattern (1..8), found \"9\""},
        {"pattern 1\npattern 1", "line 2, column 9: pattern 1 is given twice"},
        {"pattern 1\nsteps 12",
         "line 2, column 1: steps is a song setting: it goes before the "
         "first pattern"},
        {"measure 1",
         "line 1, column 1: expected a song setting; measure lines go inside a "
         "pattern (after \"pattern N\")"},
        {"pattern 1\n1 x...",
         "line 2, column 1: step lines go inside a measure (expected "
         "\"measure N\" first)"},
        {"pattern 1\nmeasure 1\nmeasure 1",
         "line 3, column 9: measure 1 is given twice in "
         "this pattern"},
        {"pattern 1\nmeasure 1\nmeasures 2",
         "line 3, column 1: measures goes before the "
         "pattern's first measure line"},
        {"pattern 1\nmeasure 1\n9 x",
         "line 3, column 1: expected a step line's channel (1..8), "
         "found \"9\""},
        {"pattern 1\nmeasure 1\n1 x..q",
         "line 3, column 6: unknown step character \"q\" "
         "(expected . - x X o + < or 0..9)"},
        {"pattern 1\nmeasure 1\n1 x...x...x...x...x",
         "line 3, column 19: expected 16 steps "
         "(the song has steps 16), found more"},
        {"steps 12\npattern 1\nmeasure 1\n1 x... x... x... x...",
         "line 4, column 18: expected 12 steps (the song has steps 12), found more"},
        {"steps 12\npattern 1\nmeasure 1\n1 x... x...",
         "line 4, column 13: expected 12 steps "
         "(the song has steps 12), found 8"},
        {"pattern 1\nmeasure 1\n1 ................\n1 ................",
         "line 4, column 1: channel 1 has a step line already in this measure"},
        {"pattern 1\nmeasure 1\ncell 1:3 pan 2\n1 ................",
         "line 4, column 1: the step line of channel 1 must come before its cell lines"},
        {"pattern 1\nmeasure 1\ncell 1:17 pan 2",
         "line 3, column 6: expected CHANNEL:STEP "
         "(1..8:1..16), found \"1:17\""},
        {"pattern 1\nmeasure 1\ncell 1:3 velocity 128",
         "line 3, column 19: expected a velocity "
         "(negative: no note) (-128..127), found "
         "\"128\""},
        {"pattern 1\nmeasure 1\ncell 1:3 colour 1",
         "line 3, column 10: expected velocity, pan, "
         "reversed, reserved1 or reserved2, found "
         "\"colour\""},
        {"pattern 2\nchannel 1 sound 21",
         "line 2, column 17: expected a sound 1..20 (the kit), "
         "u1..u20 (the userbank) or c0..c255 (a stored code), "
         "found \"21\""},
        {"pattern 2\nchannel 1 volume", "line 2, column 18: expected a volume (0..255)"},
        {"pattern 2\nchannel 1 loud",
         "line 2, column 11: expected sound, volume, pan, mute or "
         "distortion, found \"loud\""},
        {"pattern 2\nmeasure 2\nchannel 1 pan 3",
         "line 3, column 11: pan goes on the pattern's "
         "channel lines, before its measures"},
        {"pattern 2\ndistortion gain 70000",
         "line 2, column 17: expected a distortion gain "
         "(0..65535), found \"70000\""},
        {"pattern 2\nwhatever",
         "line 2, column 1: expected measures, measure, channel, "
         "distortion, cell or a step line (a channel 1..8 and its steps), "
         "found \"whatever\""},
    };
    for (const Case& c : cases) {
        auto m = test::NewMachine();
        const Song before = m->song;
        std::string error;
        EXPECT_FALSE(ApplySongText(m->song, c.text, error)) << c.text;
        EXPECT_EQ(error, c.message) << c.text;
        EXPECT_EQ(std::memcmp(&before, &m->song, sizeof(Song)), 0) << c.text;
    }
}

TEST(SongText, TheErrorAlsoNamesTheFileAsCompilersDo) {
    auto m = test::NewMachine();
    SongTextError error;
    ASSERT_FALSE(ApplySongText(m->song, "tempo 20\n", error));
    EXPECT_EQ(error.at("a.txt"), "a.txt:1:7: expected a tempo in BPM (50..250), found \"20\"");
}

TEST(SongText, TextsKeepQuotesHashesNewlinesAndControlsOnOneLine) {
    auto m = test::NewMachine();
    const std::string title = "He said \"go\" # now\nnext\x1B[2J\x7F\x81\\";
    m->song.title.set(title);
    m->song.userbankFile.set("/tmp/a\nb\xFF\xC2\x9B.ubf");  // not UTF-8, a C1 control
    const std::string text = FormatSongText(m->song);
    EXPECT_NE(text.find("title \"He said \\\"go\\\" # now\\nnext\\x1B[2J\\x7F\\x81\\\\\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("userbank \"/tmp/a\\nb\\xFF\\xC2\\x9B.ubf\"\n"), std::string::npos) << text;
    for (char c : text) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << text;
    auto again = test::NewMachine();
    std::string error;
    ASSERT_TRUE(ApplySongText(again->song, text, error)) << error;
    EXPECT_EQ(again->song.title.str(), title);
    EXPECT_EQ(again->song.userbankFile.str(), m->song.userbankFile.str());
}

TEST(SongText, ATwelveStepSongKeepsItsHiddenStepsAndMeasuresBeyondTheCount) {
    auto m = test::NewMachine();
    std::string error;
    ASSERT_TRUE(ApplySongText(m->song,
                              "steps 12\npattern 2\n  measures 2\n  measure 3\n"
                              "    1 x.x. x.x. x.x.\n    cell 1:14 velocity 99 pan 3\n",
                              error))
        << error;
    EXPECT_EQ(m->song.cell(2, 3, 1, 14).velocity, 99);
    const std::string text = FormatSongText(m->song);
    EXPECT_NE(text.find("  measure 3  # stored beyond the pattern's measures: not played\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("    cell 1:14 velocity 99 pan 3\n"), std::string::npos) << text;
}

// Any record a song file holds: random bytes, values outside the played ranges included; every
// other one brought into range as loading does.
void RandomRecord(Song& s, std::mt19937& rng) {
    auto* bytes = reinterpret_cast<unsigned char*>(&s);
    for (std::size_t i = 0; i < sizeof(Song); ++i) bytes[i] = static_cast<unsigned char>(rng());
    if (rng() % 2 == 0) NormalizeSong(s);
}

// A song as the windows make one: mostly new-song values, notes with common velocities and pans.
void RandomMadeSong(Machine& m, std::mt19937& rng) {
    InitSong(m);
    Song& s = m.song;
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    s.tempo = static_cast<std::uint16_t>(50 + pick(201));
    s.shuffle = static_cast<std::uint8_t>(100 + pick(51));
    s.stepsPerMeasure = pick(2) ? 12 : 16;
    s.humanize = static_cast<std::uint8_t>(pick(2));
    s.showInfoOnOpen = static_cast<std::uint8_t>(pick(2));
    std::string title;
    for (int i = pick(50); i > 0; --i) title += static_cast<char>(1 + pick(255));
    s.title.set(title);
    s.userbankFile.set(pick(2) ? "" : "/home/ren\xC3\xA9/kit.ubf");
    for (int p = 1; p <= kPatterns; ++p) {
        if (pick(3) == 0) continue;
        s.measureCount[p - 1] = static_cast<std::uint8_t>(1 + pick(16));
        ChannelSettings& cs = s.settings(p);
        for (int ch = 0; ch < kChannels; ++ch) {
            cs.instrument[ch] = static_cast<std::uint8_t>(pick(2) ? 1 + pick(20) : 101 + pick(20));
            cs.volume[ch] = static_cast<std::uint8_t>(pick(128));
            cs.mute[ch] = static_cast<std::uint8_t>(pick(8) == 0);
            cs.distortionOn[ch] = static_cast<std::uint8_t>(pick(4) == 0);
        }
        cs.distortionGain = static_cast<std::uint16_t>(pick(65));
        cs.distortionThreshold = static_cast<std::uint16_t>(79 * pick(65));
        if (pick(4) == 0) s.measure(p, 2).settings = cs;  // a measure pasted with its settings
        for (int meas = 1; meas <= kMeasures; ++meas)
            for (int ch = 1; ch <= kChannels; ++ch)
                for (int slot = 1; slot <= kSlots; ++slot) {
                    if (pick(4) != 0) continue;
                    StepCell& c = s.cell(p, meas, ch, slot);
                    const int velocities[] = {80, 100, 127, 60, 0, pick(128)};
                    c.velocity = static_cast<std::int8_t>(velocities[pick(6)]);
                    c.pan = static_cast<std::uint8_t>(pick(3) ? 64 : pick(128));
                    c.reversed = static_cast<std::uint8_t>(pick(6) == 0);
                }
    }
}

void ExpectLossless(const Song& s, const std::string& what) {
    const std::string text = FormatSongText(s, [](int code) {
        return code == 3 ? std::string("Snare \"x\"\n# not a line") : std::string();
    });
    auto built = test::NewMachine();
    std::string error;
    ASSERT_TRUE(ApplySongText(built->song, text, error)) << what << ": " << error << "\n" << text;
    if (std::memcmp(&built->song, &s, sizeof(Song)) != 0) {
        const auto* a = reinterpret_cast<const unsigned char*>(&s);
        const auto* b = reinterpret_cast<const unsigned char*>(&built->song);
        std::size_t at = 0;
        while (a[at] == b[at]) ++at;
        FAIL() << what << ": first difference at byte " << at << " (" << int(a[at]) << " became "
               << int(b[at]) << ")\n"
               << text;
    }
}

TEST(SongText, FormattingThenBuildingGivesEverySongRecordByteForByte) {
    std::mt19937 rng(20261208);
    auto m = test::NewMachine();
    for (int i = 0; i < 40; ++i) {
        RandomRecord(m->song, rng);
        ExpectLossless(m->song, "random record " + std::to_string(i));
        if (HasFailure()) return;
        RandomMadeSong(*m, rng);
        ExpectLossless(m->song, "made song " + std::to_string(i));
        if (HasFailure()) return;
    }
    InitSong(*m);
    ExpectLossless(m->song, "new song");
}

TEST(TextCodec, ConvertsBetweenWindows1252AndUtf8) {
    EXPECT_EQ(Cp1252ToUtf8("\xA9 by \x80 \x93x\x94"),
              "\xC2\xA9 by \xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D");
    EXPECT_EQ(Utf8ToCp1252("\xC2\xA9 \xE2\x82\xAC \xC3\xA9"), "\xA9 \x80 \xE9");
    EXPECT_EQ(Utf8ToCp1252("\xE6\x97\xA5 ok"), "? ok");  // not in the code page
    EXPECT_EQ(Utf8ToCp1252("bad \xC3"), "bad ?");        // cut short
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) continue;  // undefined
        EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(one)), one) << b;
    }
}

}  // namespace
}  // namespace qtam
