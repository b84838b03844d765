// Drum kits of other programs as userbanks: the kits Debian installs, a kit folder and its
// archive written here, and an SFZ file; choke groups, loudest layers and what is left out.

#include "banks/kit_import.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "banks/userbank_file.h"
#include "core/machine.h"
#include "core/sample_bank.h"
#include "core/text_codec.h"
#include "temp_folder.h"
#include "test_support.h"
#include "wav_test_support.h"

namespace qtam {
namespace {

namespace fs = std::filesystem;

// A 16-bit mono 44100 Hz WAV file of `n` samples all of value `v`.
void WriteSound(const std::string& path, int n, std::int16_t v) {
    fs::create_directories(fs::path(path).parent_path());
    test::WavImage w;
    w.payload = test::SampleBytes(std::vector<std::int16_t>(n, v));
    test::WriteBytes(path, w.bytes());
}

std::string SlotName(const Machine& m, int slot) {
    return WithoutTrailingBlanks(m.banks.userbank.slot(slot).name);
}

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
    for (const std::string& l : lines)
        if (l.find(part) != std::string::npos) return true;
    return false;
}

TEST(KitImport, EveryInstalledKitBecomesAUserbankThatPlays) {
    const fs::path kits = "/usr/share/hydrogen/data/drumkits";
    if (!fs::is_directory(kits)) GTEST_SKIP() << "hydrogen-drumkits is not installed";
    int read = 0;
    for (const auto& folder : fs::directory_iterator(kits)) {
        Kit kit;
        std::string error;
        ASSERT_TRUE(ReadKit(folder.path().string(), kit, error)) << error;
        auto m = test::NewMachine();
        const KitImport result = ImportKit(*m, kit, Conversion::Always);
        // Every instrument whose sound is there fills its slot.
        int present = 0;
        for (std::size_t i = 0; i < kit.instruments.size() && i < 20; ++i)
            present += fs::exists(kit.instruments[i].file);
        EXPECT_EQ(result.imported, present) << folder.path();
        EXPECT_GT(result.imported, 10) << folder.path();
        EXPECT_EQ(WithoutTrailingBlanks(m->banks.userbank.description), kit.name.substr(0, 30));
        ++read;
    }
    EXPECT_GE(read, 10);
}

// GMRockKit names no mute group: its closed, pedal and open hats (General MIDI notes 42, 44,
// 46) cut each other all the same, and nothing else is cut.
TEST(KitImport, GMRockKitsHatsCutEachOther) {
    const fs::path kit = "/usr/share/hydrogen/data/drumkits/GMRockKit";
    if (!fs::is_directory(kit)) GTEST_SKIP() << "hydrogen-data is not installed";
    Kit read;
    std::string error;
    ASSERT_TRUE(ReadKit(kit.string(), read, error)) << error;
    auto m = test::NewMachine();
    const KitImport result = ImportKit(*m, read, Conversion::Always);
    auto slotOf = [&](const std::string& name) {
        for (int n = 1; n <= 20; ++n)
            if (SlotName(*m, n) == name) return n;
        return 0;
    };
    const int closed = slotOf("Hat Closed"), pedal = slotOf("Hat Pedal"), open = slotOf("Hat Open");
    ASSERT_TRUE(closed && pedal && open);
    for (int n = 1; n <= 20; ++n) {
        const SampleSlot& s = m->banks.userbank.slot(n);
        std::vector<int> cutBy{s.hihat1, s.hihat2};
        std::vector<int> hats;
        for (int other : {closed, pedal, open})
            if (other != n && (n == closed || n == pedal || n == open)) hats.push_back(other);
        if (hats.empty()) hats = {0, 0};
        EXPECT_EQ(cutBy, hats) << SlotName(*m, n);
    }
    EXPECT_FALSE(Contains(result.leftOut, "cut off by"));
}

// 22 instruments: the last two are left out; the loudest layer is the one taken; the three hats
// of one mute group cut each other; a sound outside the kit's folder is refused. Packed as a
// .h2drumkit archive, with an entry that would leave the folder, the kit reads the same.
TEST(KitImport, AKitFolderAndItsArchive) {
    test::TempFolder dir;
    const fs::path folder = dir / "Test Kit";
    fs::create_directories(folder);
    std::ofstream xml(folder / "drumkit.xml");
    xml << "<drumkit_info><name>Test Kit</name><instrumentList>";
    for (int i = 1; i <= 22; ++i) {
        const std::string name = "Drum " + std::to_string(i);
        const int group = i >= 2 && i <= 4 ? 7 : -1;
        xml << "<instrument><name>" << name << "</name><muteGroup>" << group << "</muteGroup>";
        if (i == 1) {  // two layers of a component: the louder one is taken
            xml << "<instrumentComponent/><instrumentComponent>"
                << "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max></layer>"
                << "<layer><filename>loud.wav</filename><min>0.5</min><max>1</max></layer>"
                << "</instrumentComponent>";
            WriteSound((folder / "soft.wav").string(), 10, 100);
            WriteSound((folder / "loud.wav").string(), 10, 9000);
        } else if (i == 5) {
            xml << "<filename>../outside.wav</filename>";
        } else {
            const bool layer = i == 7;  // a layer of the instrument itself
            xml << (layer ? "<layer>" : "") << "<filename>s" << i << ".wav</filename>"
                << (layer ? "</layer>" : "");
            WriteSound((folder / ("s" + std::to_string(i) + ".wav")).string(), 20 + i, 1);
        }
        xml << "</instrument>";
    }
    xml << "</instrumentList></drumkit_info>";
    xml.close();
    WriteSound(dir / "outside.wav", 10, 5);

    for (const std::string& path : {folder.string(), dir / "kit.h2drumkit"}) {
        if (path.ends_with(".h2drumkit")) {
            // Unpacked under TMPDIR; the entry "../../escaped/x.wav" would land in dir/a.
            WriteSound(dir / "evil/x.wav", 5, 5);
            const std::string tar = "cd '" + dir.path() + "' && tar czf kit.h2drumkit 'Test Kit' " +
                                    "-P --transform='s,^evil,../../escaped,' evil";
            ASSERT_EQ(std::system(tar.c_str()), 0);
            fs::create_directories(dir / "a/b");
            setenv("TMPDIR", (dir / "a/b").c_str(), 1);
        }
        Kit kit;
        std::string error;
        ASSERT_TRUE(ReadKit(path, kit, error)) << error;
        auto m = test::NewMachine();
        const KitImport result = ImportKit(*m, kit, Conversion::Always);
        EXPECT_EQ(result.imported, 20) << path;  // 21 in the kit's first 20 places, one outside
        EXPECT_EQ(SlotName(*m, 1), "Drum 1");
        EXPECT_EQ(m->banks.userbank.slot(1).samples[0], 9000);
        EXPECT_EQ(SlotName(*m, 5), "Drum 6");  // the outside sound was never an instrument
        EXPECT_EQ(m->banks.userbank.slot(2).hihat1, 3);
        EXPECT_EQ(m->banks.userbank.slot(2).hihat2, 4);
        EXPECT_EQ(m->banks.userbank.slot(4).hihat1, 2);
        EXPECT_EQ(m->banks.userbank.slot(6).hihat1, 0);
        EXPECT_TRUE(Contains(result.leftOut, "Drum 5: its sound lies outside the kit"));
        EXPECT_TRUE(Contains(result.leftOut, "Drum 22: more than 20 instruments"));
        EXPECT_TRUE(Contains(result.leftOut, "Drum 1: 1 softer layer(s)"));
        EXPECT_FALSE(fs::exists(dir / "a/escaped"));
    }
    unsetenv("TMPDIR");
    EXPECT_TRUE(fs::is_empty(dir / "a/b"));  // the unpacked kit is gone with it
}

// SFZ: by key, the loudest layer, default_path, note names, and group/off_by as partners.
TEST(KitImport, AnSfzKit) {
    test::TempFolder dir;
    WriteSound(dir / "samples/kick.wav", 30, 8000);
    WriteSound(dir / "samples/kick soft.wav", 30, 80);
    WriteSound(dir / "samples/hat closed.wav", 10, 1);
    WriteSound(dir / "samples/hatopen.wav", 40, 2);
    std::ofstream(dir / "My Kit.sfz") << "// a small kit\n"
                                         "<control> default_path=samples/\n"
                                         "<group> group=1\n"
                                         "<region> sample=hat closed.wav key=42\n"
                                         "<region> sample=hatopen.wav key=a#2 off_by=1\n"
                                         "<group>\n"
                                         "<region> sample=kick soft.wav key=c2 hivel=60\n"
                                         "<region> sample=kick.wav lokey=36 hivel=127\n";
    Kit kit;
    std::string error;
    ASSERT_TRUE(ReadKit(dir / "My Kit.sfz", kit, error)) << error;
    auto m = test::NewMachine();
    const KitImport result = ImportKit(*m, kit, Conversion::Always);
    EXPECT_EQ(result.imported, 3);
    EXPECT_EQ(WithoutTrailingBlanks(m->banks.userbank.description), "My Kit");
    EXPECT_EQ(SlotName(*m, 1), "kick");
    EXPECT_EQ(m->banks.userbank.slot(1).samples[0], 8000);
    EXPECT_EQ(SlotName(*m, 2), "hat closed");
    EXPECT_EQ(SlotName(*m, 3), "hatopen");
    EXPECT_EQ(m->banks.userbank.slot(3).hihat1, 2);
    EXPECT_EQ(m->banks.userbank.slot(2).hihat1, 0);
    EXPECT_TRUE(Contains(result.leftOut, "kick (key 36): 1 softer layer(s)"));

    EXPECT_FALSE(ReadKit(dir / "samples/kick.wav", kit, error));
    EXPECT_NE(error.find("not a drum kit"), std::string::npos);
}

// A sound reached through a link that leaves the kit (a file or a folder link) is left out and
// listed, in a kit folder and an SFZ file alike; a link that stays inside the kit is followed.
TEST(KitImport, LinksThatLeaveTheKitAreNotFollowed) {
    test::TempFolder dir;
    WriteSound(dir / "secret.wav", 10, 1234);
    const fs::path kit = dir / "kit";
    WriteSound(kit / "real.wav", 10, 7);
    fs::create_symlink(dir / "secret.wav", kit / "out.wav");
    fs::create_symlink("real.wav", kit / "in.wav");
    fs::create_directory_symlink(dir.path(), kit / "up");
    std::ofstream(kit / "drumkit.xml") << "<drumkit_info><instrumentList>"
                                       << "<instrument><filename>out.wav</filename></instrument>"
                                       << "<instrument><filename>up/secret.wav</filename>"
                                       << "</instrument><instrument><filename>in.wav</filename>"
                                       << "</instrument></instrumentList></drumkit_info>";
    std::ofstream(kit / "kit.sfz") << "<region> sample=out.wav key=1\n"
                                      "<region> sample=up/secret.wav key=2\n"
                                      "<region> sample=in.wav key=3\n";
    for (const fs::path& path : {kit, kit / "kit.sfz"}) {
        Kit read;
        std::string error;
        ASSERT_TRUE(ReadKit(path.string(), read, error)) << error;
        auto m = test::NewMachine();
        const KitImport result = ImportKit(*m, read, Conversion::Always);
        EXPECT_EQ(result.imported, 1) << path;
        EXPECT_EQ(m->banks.userbank.slot(1).samples[0], 7) << path;
        EXPECT_EQ(std::count_if(result.leftOut.begin(), result.leftOut.end(),
                                [](const std::string& l) {
                                    return l.find("is a link that leads out of the kit") !=
                                           std::string::npos;
                                }),
                  2)
            << path;
    }
}

// Of an archive only the sounds taken are unpacked, each cut at what a slot can use, whatever
// the archive declares and however deep its drumkit.xml lies; an archive whose last bytes (the
// gzip check sum) are wrong is refused, and nothing stays in TMPDIR.
TEST(KitImport, AnArchiveUnpacksOnlyWhatASlotCanUse) {
    test::TempFolder dir;
    const fs::path kit = fs::path(dir / "a/b/c") / "Big";
    WriteSound(kit / "long.wav", 4'000'000, 0);  // 8 MB, a few KB once packed
    std::ofstream(kit / "unnamed.raw").close();
    fs::resize_file(kit / "unnamed.raw", 32 << 20);
    std::ofstream(kit / "drumkit.xml") << "<drumkit_info><name>Big</name><instrumentList>"
                                          "<instrument><name>Long</name><filename>long.wav"
                                          "</filename></instrument></instrumentList>"
                                          "</drumkit_info>";
    ASSERT_EQ(
        std::system(("tar czf '" + dir / "big.h2drumkit" + "' -C '" + dir.path() + "' a").c_str()),
        0);
    fs::create_directories(dir / "tmp");
    setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    {
        Kit read;
        std::string error;
        ASSERT_TRUE(ReadKit(dir / "big.h2drumkit", read, error)) << error;
        std::uintmax_t unpacked = 0, files = 0;
        for (const auto& f : fs::recursive_directory_iterator(dir / "tmp"))
            if (f.is_regular_file()) unpacked += f.file_size(), ++files;
        EXPECT_EQ(files, 1u);
        EXPECT_LE(unpacked, kLargestUnpackedSound);
        auto m = test::NewMachine();
        const KitImport result = ImportKit(*m, read, Conversion::Always);
        EXPECT_EQ(result.imported, 1);
        EXPECT_EQ(m->banks.userbank.slot(1).sampleCount, kUserSlotCapacity);
        EXPECT_TRUE(Contains(result.leftOut, "Long: longer than a slot holds"));
    }
    auto bytes = test::ReadBytes(dir / "big.h2drumkit");
    bytes[bytes.size() - 8] ^= 0x01;
    test::WriteBytes(dir / "damaged.h2drumkit", bytes);
    Kit read;
    std::string error;
    EXPECT_FALSE(ReadKit(dir / "damaged.h2drumkit", read, error));
    EXPECT_NE(error.find("the archive cannot be read"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    unsetenv("TMPDIR");
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

}  // namespace
}  // namespace qtam
