#include "song/song_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/machine.h"
#include "test_support.h"

namespace qtam {
namespace {

using test::NewMachine;

TEST(SongInfo, NewSongShowsEmptyTextsAndTheCopyrightTemplate) {
    auto m = NewMachine();
    SongInfoDialog d;
    SongInfoView v = d.Show(*m, SongInfoMode::Edit);
    EXPECT_EQ(v.fields.title, "");
    EXPECT_EQ(v.fields.subtitle, "");
    EXPECT_EQ(v.fields.author, "");
    EXPECT_EQ(v.fields.copyright, "\xA9 by ...");
    EXPECT_FALSE(v.fields.showInfoOnOpen);
    EXPECT_FALSE(v.textsReadOnly);
    EXPECT_TRUE(v.popupVisible);
}

TEST(SongInfo, ViewModeIsReadOnlyAndOkStoresNothing) {
    auto m = NewMachine();
    m->song.title.set("Groove");
    m->song.showInfoOnOpen = 1;
    SongInfoDialog d;
    SongInfoView v = d.Show(*m, SongInfoMode::View);
    EXPECT_TRUE(v.textsReadOnly);
    EXPECT_FALSE(v.popupVisible);
    EXPECT_EQ(v.fields.title, "Groove");

    Song before = m->song;
    SongInfoFields edited = v.fields;
    edited.title = "Other";
    edited.showInfoOnOpen = false;
    d.Ok(*m, edited);
    EXPECT_EQ(std::memcmp(&before, &m->song, sizeof(Song)), 0);
    EXPECT_EQ(d.mode(), SongInfoMode::Edit);  // "Song info" afterwards edits
}

TEST(SongInfo, OkWithoutEditsDoesNotMarkTheSong) {
    auto m = NewMachine();
    SongInfoDialog d;
    SongInfoView v = d.Show(*m, SongInfoMode::Edit);
    d.Ok(*m, v.fields);
    EXPECT_FALSE(SongChanged(*m));
}

TEST(SongInfo, OnlyTheCheckBoxChangedMarksTheSong) {
    auto m = NewMachine();
    SongInfoDialog d;
    SongInfoFields f = d.Show(*m, SongInfoMode::Edit).fields;
    f.showInfoOnOpen = true;
    d.Ok(*m, f);
    EXPECT_EQ(m->song.showInfoOnOpen, 1);
    EXPECT_TRUE(SongChanged(*m));
}

TEST(SongInfo, EditsAreStoredCutTo50Bytes) {
    auto m = NewMachine();
    SongInfoDialog d;
    SongInfoFields f = d.Show(*m, SongInfoMode::Edit).fields;
    f.title = std::string(49, 'a') + "\xE9\xE9\xE9";  // Windows-1252: one byte per character
    f.author = "Me";
    d.Ok(*m, f);
    EXPECT_EQ(m->song.title.length, 50);
    EXPECT_EQ(m->song.title.str(), std::string(49, 'a') + "\xE9");
    EXPECT_EQ(m->song.author.str(), "Me");
    EXPECT_EQ(m->song.copyright.str(), "\xA9 by ...");
    EXPECT_TRUE(SongChanged(*m));

    // The same long text again: what would be stored is unchanged.
    MarkSongSaved(*m);
    d.Show(*m, SongInfoMode::Edit);
    d.Ok(*m, f);
    EXPECT_FALSE(SongChanged(*m));
}

TEST(SongInfo, CancelStoresNothingAndKeepsTheMode) {
    auto m = NewMachine();
    SongInfoDialog d;
    d.Show(*m, SongInfoMode::View);
    d.Cancel();
    EXPECT_EQ(d.mode(), SongInfoMode::View);
    EXPECT_FALSE(SongChanged(*m));
}

TEST(SongInfo, ShowsTheUserbankItWasMadeWith) {
    auto m = NewMachine();
    m->song.userbankDescription.set("My kit");
    m->song.userbankFile.set("C:\\Banks\\mine.ubf");
    SongInfoDialog d;
    SongInfoView v = d.Show(*m, SongInfoMode::View);
    EXPECT_EQ(v.bankname, "My kit");
    EXPECT_EQ(v.fileName, "mine.ubf");
    m->song.userbankFile.set("/home/u/banks/other.ubf");
    EXPECT_EQ(d.Show(*m, SongInfoMode::Edit).fileName, "other.ubf");
}

}  // namespace
}  // namespace qtam
