// The private-profile reader/writer and the program's configuration file.

#include "core/profile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/config.h"
#include "core/machine.h"
#include "temp_folder.h"

namespace qtam {
namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

PrivateProfile ProfileOf(const std::string& text) {
    PrivateProfile p;
    p.Parse(text);
    return p;
}

TEST(Profile, IntegersInDecimalOrHexadecimal) {
    int v = 0;
    EXPECT_TRUE(ParseProfileInteger("0x4", v));
    EXPECT_EQ(v, 4);
    EXPECT_TRUE(ParseProfileInteger("0X1f", v));
    EXPECT_EQ(v, 31);
    EXPECT_TRUE(ParseProfileInteger("-12", v));
    EXPECT_EQ(v, -12);
    EXPECT_TRUE(ParseProfileInteger("2147483647", v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_TRUE(ParseProfileInteger("-2147483648", v));
    EXPECT_EQ(v, -2147483647 - 1);
    for (const char* bad : {"", "-", "0x", "abc", "12abc", "1 2", "0x1g", "2147483648", "1f"}) {
        EXPECT_FALSE(ParseProfileInteger(bad, v)) << bad;
    }

    const PrivateProfile p = ProfileOf("[A]\nhex = 0x10 \nword=ten\n");
    EXPECT_EQ(p.ReadInteger("a", "HEX", 7), 16);
    EXPECT_EQ(p.ReadInteger("A", "word", 7), 7);
    EXPECT_EQ(p.ReadInteger("A", "missing", 7), 7);
    EXPECT_EQ(p.ReadInteger("B", "hex", 7), 7);
}

TEST(Profile, TextsAreTrimmedUnquotedAndCut) {
    const std::string longText(1500, 'x');
    const PrivateProfile p = ProfileOf(
        "; comment=not a key\r\n[Paths]\r\n  Songfolder =  /home/a b/songs  \r\n"
        "Quoted=\"  padded \"\r\nLong=" +
        longText + "\r\nEmpty=\r\n[Paths]\r\nSongfolder=second section ignored\r\n");
    EXPECT_EQ(p.ReadString("paths", "songfolder", "-"), "/home/a b/songs");
    EXPECT_EQ(p.ReadString("Paths", "Quoted", "-"), "  padded ");
    EXPECT_EQ(p.ReadString("Paths", "Long", "-"), std::string(1023, 'x'));
    EXPECT_EQ(p.ReadString("Paths", "Empty", "-"), "");
    EXPECT_EQ(p.ReadString("Paths", "comment", "-"), "-");
    EXPECT_FALSE(p.Has("", "comment"));
}

TEST(Profile, WritesReplaceInPlaceAndKeepForeignLines) {
    PrivateProfile p = ProfileOf(
        "; my notes\r\n[General]\r\nTIMES_USED=7\r\nFavourite=blue\r\n\r\n"
        "[Other program]\r\nkey=kept\r\n");
    p.WriteInteger("General", "Times_Used", 8);
    p.WriteString("General", "Product", "P");
    p.WriteString("Window", "State", "1");
    p.WriteString("Paths", "Songfolder", "/evil\n[Window]\nState=0");
    EXPECT_EQ(p.Text(),
              "; my notes\n[General]\nTimes_Used=8\nFavourite=blue\nProduct=P\n\n"
              "[Other program]\nkey=kept\n\n[Window]\nState=1\n\n[Paths]\nSongfolder=/evil\n");
    // What was written reads back.
    const PrivateProfile again = ProfileOf(p.Text());
    EXPECT_EQ(again.ReadInteger("Window", "State", 0), 1);
    EXPECT_EQ(again.ReadString("Paths", "Songfolder", ""), "/evil");
}

class ConfigFileTest : public ::testing::Test {
protected:
    test::TempFolder dir;
    std::string path = dir / "QTam/QTam.ini";
};

TEST_F(ConfigFileTest, FirstRunGivesDefaultsAndWritesEveryKey) {
    ConfigFile config(path);
    config.Read();
    const ConfigSettings& s = config.settings;
    EXPECT_EQ(s.Times_Used, 0);
    EXPECT_TRUE(s.Songfolder.empty() && s.Bankfolder.empty() && s.Samplefolder.empty());
    EXPECT_TRUE(s.Userbank.empty());
    EXPECT_EQ(s.DeviceNum, 0);
    EXPECT_EQ(s.Buffer_size, 8);
    EXPECT_EQ(s.Width, 644);
    EXPECT_EQ(s.Height, 480);
    EXPECT_EQ(s.State, 0);

    ASSERT_TRUE(config.Write());  // the folder QTam/ is created
    EXPECT_EQ(ReadText(path),
              "[General]\n"
              "Product=Q.Tam Vediveve Duzuda Duvivir\n"
              "Version=1.0.0 International (Build March 1998)\n"
              "Author=" +
                  std::string(kAuthorText) +
                  "\nTimes_Used=1\n\n"
                  "[Paths]\nSongfolder=\nBankfolder=\nSamplefolder=\nUserbank=\n\n"
                  "[WaveDevice]\nDeviceNum=0\nDeviceSetup=0\nNumDevices=0\nBuffer_size=8\n"
                  "Latency=120\nAudioSystem=0\nJackConnect=1\nJackTransport=1\n\n"
                  "[Midi]\nNotesOut=1\nChannel=10\nClockOut=0\nClockIn=0\nProgramChange=0\n"
                  "Notes=36,38,42,46,39,45,49,51\nNotesFromSounds=1\n\n"
                  "[Window]\nPosX=250\nPosY=212\nWidth=644\nHeight=480\nState=0\n"
                  "PanelPosX=0\nPanelPosY=0\n"
                  "GridShown=0\nGridPosX=0\nGridPosY=0\nGridWidth=0\nGridHeight=0\n"
                  "ArrangementShown=0\nArrangementPosX=0\nArrangementPosY=0\n"
                  "ArrangementWidth=0\nArrangementHeight=0\n\n"
                  "[Metronome]\nOn=0\nLevel=70\nCountInRecord=1\nCountInStart=0\n\n"
                  "[Recent]\nSong1=\nSong2=\nSong3=\nSong4=\nSong5=\nSong6=\nSong7=\nSong8=\n");

    ConfigFile second(path);
    second.Read();
    EXPECT_EQ(second.settings.Times_Used, 1);
}

TEST_F(ConfigFileTest, ValuesReadAndCarriedThrough) {
    std::filesystem::create_directories(dir / "QTam");
    WriteText(path,
              "[WaveDevice]\nBuffer_size=0x4\nDeviceNum=3\nNumDevices=junk\n"
              "[Window]\nState=1\nWidth=0x320\n[Mine]\nx=y\n");
    ConfigFile config(path);
    config.Read();
    EXPECT_EQ(config.settings.Buffer_size, 4);
    EXPECT_EQ(config.settings.DeviceNum, 3);
    EXPECT_EQ(config.settings.NumDevices, 0);
    EXPECT_EQ(config.settings.State, 1);
    EXPECT_EQ(config.settings.Width, 800);

    // Folders and the userbank path travel through the Machine.
    auto m = std::make_unique<Machine>();
    config.settings.Userbank = "/banks/a.ubf";
    ApplyConfigSettings(config.settings, *m);
    EXPECT_EQ(m->activation.UserbankPath, "/banks/a.ubf");
    m->editor.SongFolder = "/songs";
    m->activation.UserbankPath.clear();
    TakeConfigSettings(*m, config.settings);
    ASSERT_TRUE(config.Write());
    const PrivateProfile written = ProfileOf(ReadText(path));
    EXPECT_EQ(written.ReadString("Paths", "Songfolder", "-"), "/songs");
    EXPECT_EQ(written.ReadString("Paths", "Userbank", "-"), "");
    EXPECT_EQ(written.ReadInteger("Window", "State", 0), 1);
    EXPECT_EQ(written.ReadInteger("WaveDevice", "Buffer_size", 0), 4);
    EXPECT_EQ(written.ReadString("Mine", "x", "-"), "y");

    // A block size the staging buffer cannot hold is pulled into 2..10.
    for (auto [text, expected] : {std::pair{"1", 2}, {"11", 10}, {"-5", 2}, {"0xFF", 10}}) {
        ConfigSettings s =
            ReadConfigSettings(ProfileOf(std::string("[WaveDevice]\nBuffer_size=") + text + "\n"));
        EXPECT_EQ(s.Buffer_size, expected) << text;
    }
    // The latency asked of the sound server is kept within 20..500 ms, and written back.
    for (auto [text, expected] : {std::pair{"5", 20}, {"60", 60}, {"9999", 500}, {"x", 120}}) {
        ConfigSettings s =
            ReadConfigSettings(ProfileOf(std::string("[WaveDevice]\nLatency=") + text + "\n"));
        EXPECT_EQ(s.Latency, expected) << text;
        PrivateProfile written;
        WriteConfigSettings(s, written);
        EXPECT_EQ(written.ReadInteger("WaveDevice", "Latency", -1), expected) << text;
    }
    // The audio system and the JACK settings: out-of-range values are pulled in, and what is
    // read is written back.
    const ConfigSettings jack = ReadConfigSettings(
        ProfileOf("[WaveDevice]\nAudioSystem=7\nJackTransport=-3\nJackConnect=0\n"));
    EXPECT_EQ(jack.AudioSystem, 1);
    EXPECT_EQ(jack.JackTransport, 0);
    EXPECT_EQ(jack.JackConnect, 0);
    PrivateProfile back;
    WriteConfigSettings(jack, back);
    EXPECT_EQ(back.ReadInteger("WaveDevice", "AudioSystem", -1), 1);
    EXPECT_EQ(back.ReadInteger("WaveDevice", "JackTransport", -1), 0);
    EXPECT_EQ(back.ReadInteger("WaveDevice", "JackConnect", -1), 0);
}

// Recent songs: each opened or saved song goes first, once, eight at most, newest first; the
// file keeps them in that order, with the metronome's settings.
TEST_F(ConfigFileTest, RecentSongsNewestFirstEightAtMostAndKept) {
    ConfigFile config(path);
    config.Read();
    std::vector<std::string>& recent = config.settings.RecentSongs;
    for (int i = 1; i <= 10; ++i)
        RememberRecentSong(recent, "/songs/" + std::to_string(i) + ".qts");
    RememberRecentSong(recent, "/songs/5.qts");  // opened again: first, not twice
    RememberRecentSong(recent, "");              // a new song has no file
    const std::vector<std::string> expected{"/songs/5.qts", "/songs/10.qts", "/songs/9.qts",
                                            "/songs/8.qts", "/songs/7.qts",  "/songs/6.qts",
                                            "/songs/4.qts", "/songs/3.qts"};
    EXPECT_EQ(recent, expected);
    ForgetRecentSong(recent, "/songs/9.qts");
    EXPECT_EQ(recent.size(), 7u);
    config.settings.MetronomeOn = 1;
    config.settings.MetronomeLevel = 50;
    ASSERT_TRUE(config.Write());

    ConfigFile again(path);
    again.Read();
    EXPECT_EQ(again.settings.RecentSongs, recent);
    EXPECT_EQ(again.settings.MetronomeOn, 1);
    EXPECT_EQ(again.settings.MetronomeLevel, 50);
    EXPECT_EQ(again.settings.CountInRecord, 1);
}

TEST_F(ConfigFileTest, AFailedWriteLeavesTheFileAsItWas) {
    std::filesystem::create_directories(dir / "QTam");
    WriteText(path, "[General]\nTimes_Used=5\n");
    ConfigFile config(path);
    config.Read();
    // The folder cannot be written into: the rename cannot happen.
    std::filesystem::permissions(
        dir / "QTam", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    if (::geteuid() != 0) {
        std::string error;
        EXPECT_FALSE(config.Write(&error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(ReadText(path), "[General]\nTimes_Used=5\n");
    }
    // A folder standing where the file should be.
    ConfigFile blocked(dir.path());
    blocked.Read();
    EXPECT_FALSE(blocked.Write());
    EXPECT_TRUE(std::filesystem::is_directory(dir.path()));
    EXPECT_EQ(UnableToWriteText("/x/QTam.ini"), "Unable to write to /x/QTam.ini");
}

TEST_F(ConfigFileTest, AReadOnlyFileIsTheUsersWishAndStaysAsItIs) {
    std::filesystem::create_directories(dir / "QTam");
    WriteText(path, "[Paths]\nUserbank=/mnt/away/bank.ubf\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    ConfigFile config(path);
    config.Read();
    EXPECT_TRUE(config.ReadOnly());
    std::string error;
    EXPECT_FALSE(config.Write(&error));
    EXPECT_EQ(error, "the file is read-only");
    EXPECT_EQ(ReadText(path), "[Paths]\nUserbank=/mnt/away/bank.ubf\n");
}

TEST_F(ConfigFileTest, ALinkedFileIsWrittenWhereItPoints) {
    WriteText(dir / "real.ini", "[Mine]\nx=y\n");
    std::filesystem::create_directories(dir / "QTam");
    std::filesystem::create_symlink(dir / "real.ini", path);
    ConfigFile config(path);
    config.Read();
    ASSERT_TRUE(config.Write());
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_NE(ReadText(dir / "real.ini").find("Times_Used=1"), std::string::npos);
}

TEST(ConfigPath, FromTheEnvironment) {
    const char* saved[3] = {std::getenv("QTAM_CONFIG"), std::getenv("XDG_CONFIG_HOME"),
                            std::getenv("HOME")};
    const std::string keep[3] = {saved[0] ? saved[0] : "", saved[1] ? saved[1] : "",
                                 saved[2] ? saved[2] : ""};
    ::setenv("QTAM_CONFIG", "/tmp/mine.ini", 1);
    EXPECT_EQ(ConfigurationPath(), "/tmp/mine.ini");
    ::unsetenv("QTAM_CONFIG");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(ConfigurationPath(), "/cfg/QTam/QTam.ini");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(ConfigurationPath(), "/home/u/.config/QTam/QTam.ini");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ConfigurationPath(), "/home/u/.config/QTam/QTam.ini");
    const char* names[3] = {"QTAM_CONFIG", "XDG_CONFIG_HOME", "HOME"};
    for (int i = 0; i < 3; ++i) {
        if (saved[i] != nullptr)
            ::setenv(names[i], keep[i].c_str(), 1);
        else
            ::unsetenv(names[i]);
    }
}

}  // namespace
}  // namespace qtam
