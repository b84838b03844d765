#include "ui/services/window_captions.h"

#include <gtest/gtest.h>

#include "banks/kit.h"
#include "banks/userbank_file.h"
#include "core/machine.h"
#include "song/song_file.h"
#include "temp_folder.h"
#include "test_support.h"

namespace qtam {
namespace {

TEST(WindowCaptions, SongTitleLineNamesTheFileTitleAndAuthor) {
    auto m = test::NewMachine();
    const struct {
        const char* file;
        const char* title;
        const char* author;
        const char* line;
    } cases[] = {
        {"", "", "", "\"Untitled song\""},
        {"", "", "Ann", "\"Untitled song\""},  // no author without a title
        {"/songs/beat.SNG", "", "", "/songs/beat.SNG - \"Untitled song\""},
        {"/songs/beat.SNG", "Groove", "", "/songs/beat.SNG - \"Groove\""},
        {"/songs/beat.SNG", "Groove", "Ann", "/songs/beat.SNG - \"Groove\" by Ann"},
        {"", "Groove", "Ann", "\"Groove\" by Ann"},
        {"", "Caf\xE9", "", "\"Caf\xE9\""},  // the song's own characters, as stored
    };
    for (const auto& c : cases) {
        m->song.title.set(c.title);
        m->song.author.set(c.author);
        EXPECT_EQ(SongTitleLine(c.file, m->song), c.line) << c.file << "|" << c.title;
    }
}

// Only a bank that is loaded and has a file shows; a song's missing bank leaves one loaded
// that is empty and has none.
TEST(WindowCaptions, UserbankCaptionShowsOnlyTheActiveBank) {
    auto m = test::NewMachine();
    BankActivation& a = m->activation;
    m->banks.userbank.description = "Live  kit       ";
    const struct {
        const char* path;
        bool loaded;
        const char* caption;
    } cases[] = {
        {"", false, "none loaded"},
        {"/banks/live.ubf", false, "none loaded"},  // chosen, not read yet
        {"", true, "none loaded"},                  // the song's own bank is missing
        {"/banks/live.ubf", true, "[Live  kit]"},
    };
    for (const auto& c : cases) {
        a.UserbankPath = c.path;
        a.UserbankLoaded = c.loaded;
        EXPECT_EQ(UserbankCaption(a, m->banks.userbank), c.caption) << c.path << c.loaded;
    }
    m->banks.userbank.description.clear();
    EXPECT_EQ(UserbankCaption(a, m->banks.userbank), "[]");
}

// The caption follows the bank through the flows that change it: a load from the menu, one that
// fails (the sounds stay, the bank is forgotten), and a song whose own bank is missing.
TEST(WindowCaptions, UserbankCaptionFollowsTheBankFlows) {
    test::TempFolder dir;
    test::ScriptedPrompter prompter;
    auto m = test::NewMachine();
    m->prompter = &prompter;
    ClearUserbank(*m);
    m->banks.userbank.description = "Mine";
    ASSERT_TRUE(SaveUserbank(*m, dir / "mine.ubf", true));
    ClearUserbank(*m);
    const auto caption = [&] { return UserbankCaption(m->activation, m->banks.userbank); };
    EXPECT_EQ(caption(), "none loaded");
    ASSERT_TRUE(LoadUserbankFromMenu(*m, dir / "mine.ubf"));
    EXPECT_EQ(caption(), "[Mine]");
    EXPECT_FALSE(LoadUserbankFromMenu(*m, dir / "gone.ubf"));
    EXPECT_EQ(caption(), "none loaded");
    ASSERT_TRUE(LoadUserbankFromMenu(*m, dir / "mine.ubf"));
    EXPECT_EQ(caption(), "[Mine]");

    auto song = test::NewMachine();
    song->song.userbankFile.set(dir / "gone.ubf");
    ASSERT_TRUE(SaveSong(*song, dir / "s.sng", true));
    MarkSongSaved(*m);
    ASSERT_TRUE(OpenSongFlow(*m, {Chosen(dir / "s.sng"), {}}));
    EXPECT_TRUE(m->activation.UserbankLoaded);
    EXPECT_EQ(caption(), "none loaded");
}

}  // namespace
}  // namespace qtam
