#include "engine/audio/wave_out.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "audio_test_support.h"
#include "engine/audio/devices.h"
#include "temp_folder.h"

namespace qtam {
namespace {

using namespace std::chrono_literals;
using test::PlayedBlock;

std::vector<std::uint8_t> Pattern(std::size_t size, int seed) {
    std::vector<std::uint8_t> v(size);
    for (std::size_t i = 0; i < size; ++i)
        v[i] = static_cast<std::uint8_t>((i * 7 + seed * 31) % 251 + 1);
    return v;
}

void SetStereo16(WaveOut& out) {
    out.channels = 2;
    out.samples = 44100;
    out.SampleBits = 16;
}

// Records every OnDone in the order it arrives.
struct DoneLog {
    std::vector<WaveOut::BlockInfo> blocks;
    void Attach(WaveOut& out) {
        out.OnDone = [this](WaveOut& sender) { blocks.push_back(sender.DoneBlock()); };
    }
};

TEST(WaveOut, PlaysEveryBlockOnceInOrderAndTheFileHoldsThem) {
    test::TempFolder dir;
    test::UseDiskDriver(dir / "out.raw");
    EventQueue events;
    std::vector<PlayedBlock> written;
    int opened = 0, closed = 0;
    std::uint64_t position = 0;
    DoneLog log;
    {
        WaveOut out(events);
        SetStereo16(out);
        log.Attach(out);
        out.OnOpen = [&](WaveOut&) { ++opened; };
        out.OnClose = [&](WaveOut&) { ++closed; };
        out.Open();
        ASSERT_TRUE(out.IsOpen());
        EXPECT_EQ(out.DeviceBufferFrames(), WaveOut::kDeviceFrames);

        // Sizes that end inside a device buffer, span several, and one that is empty.
        const std::size_t sizes[] = {12288, 1000, 0, 32768, 6, 2048, 20480};
        std::vector<std::uint8_t> buffer;
        int seed = 1;
        for (std::size_t size : sizes) {
            buffer = Pattern(size, seed++);
            written.push_back({out.NextSerial(), 0, buffer});
            out.Write(buffer.data(), buffer.size());
            // The component copied it: the caller may scribble over its memory at once.
            std::fill(buffer.begin(), buffer.end(), 0xEE);
        }
        EXPECT_TRUE(out.IsPlaying());
        ASSERT_TRUE(test::PumpUntil(events, [&] { return log.blocks.size() == written.size(); }));
        EXPECT_FALSE(out.IsPlaying());
        EXPECT_EQ(out.HeldBlocks(), 0u);
        out.Close();
        position = out.DevicePosition();
        EXPECT_FALSE(out.IsOpen());
        test::PumpFor(events, 20ms);
    }
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(closed, 1);
    ASSERT_EQ(log.blocks.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(log.blocks[i].serial, written[i].serial);
        EXPECT_EQ(log.blocks[i].size, written[i].data.size());
        EXPECT_TRUE(log.blocks[i].played);
        written[i].startedAt = log.blocks[i].startedAt;
    }
    test::ExpectFileHoldsBlocks(test::ReadBytes(dir / "out.raw"), position, written);
}

TEST(WaveOut, EightBitMonoPlaysWithItsOwnSilence) {
    test::TempFolder dir;
    test::UseDiskDriver(dir / "out.raw");
    EventQueue events;
    DoneLog log;
    std::vector<PlayedBlock> written;
    std::uint64_t position = 0;
    {
        WaveOut out(events);  // the defaults: mono, 8 bits
        out.samples = 22050;
        log.Attach(out);
        out.Open();
        ASSERT_TRUE(out.IsOpen());
        const auto block = Pattern(3000, 5);
        written.push_back({out.NextSerial(), 0, block});
        out.Write(block.data(), block.size());
        ASSERT_TRUE(test::PumpUntil(events, [&] { return log.blocks.size() == 1; }));
        out.Close();
        position = out.DevicePosition();
    }
    written[0].startedAt = log.blocks[0].startedAt;
    test::ExpectFileHoldsBlocks(test::ReadBytes(dir / "out.raw"), position, written, 0x80);
}

TEST(WaveOut, MoreBlocksThanTheRingsHoldAllComeBack) {
    test::TempFolder dir;
    test::UseDiskDriver(dir / "out.raw");
    EventQueue events;
    DoneLog log;
    WaveOut out(events);
    SetStereo16(out);
    log.Attach(out);
    out.Open();
    ASSERT_TRUE(out.IsOpen());
    const int n = 200;
    for (int i = 0; i < n; ++i) {
        const auto block = Pattern(64, i);
        out.Write(block.data(), block.size());
    }
    ASSERT_TRUE(test::PumpUntil(events, [&] { return log.blocks.size() == n; }));
    for (int i = 0; i < n; ++i) EXPECT_EQ(log.blocks[i].serial, static_cast<std::uint64_t>(i + 1));
    EXPECT_FALSE(out.IsPlaying());
    out.Close();
}

TEST(WaveOut, StopReturnsEveryQueuedBlockOnce) {
    test::UseDummyDriver();  // plays in about real time: most blocks are still queued
    EventQueue events;
    DoneLog log;
    WaveOut out(events);
    SetStereo16(out);
    log.Attach(out);
    out.Open();
    ASSERT_TRUE(out.IsOpen());
    const auto block = Pattern(32768, 1);
    for (int i = 0; i < 10; ++i) out.Write(block.data(), block.size());
    test::PumpFor(events, 30ms);
    out.Stop();
    EXPECT_FALSE(out.IsPlaying());
    ASSERT_TRUE(test::PumpUntil(events, [&] { return log.blocks.size() == 10; }));
    test::PumpFor(events, 100ms);  // and nothing more
    ASSERT_EQ(log.blocks.size(), 10u);
    int unplayed = 0;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(log.blocks[i].serial, static_cast<std::uint64_t>(i + 1));
        unplayed += !log.blocks[i].played;
    }
    EXPECT_GE(unplayed, 8);  // 10 blocks are almost two seconds
    EXPECT_FALSE(out.IsPlaying());
    EXPECT_EQ(out.HeldBlocks(), 0u);

    // The device plays on after a stop.
    out.Write(block.data(), 4096);
    EXPECT_TRUE(out.IsPlaying());
    ASSERT_TRUE(test::PumpUntil(events, [&] { return log.blocks.size() == 11; }));
    EXPECT_TRUE(log.blocks.back().played);
    EXPECT_FALSE(out.IsPlaying());
}

TEST(WaveOut, CloseFreesQueuedBlocksWithoutNotices) {
    test::UseDummyDriver();
    EventQueue events;
    DoneLog log;
    int closed = 0;
    WaveOut out(events);
    SetStereo16(out);
    log.Attach(out);
    out.OnClose = [&](WaveOut&) { ++closed; };
    out.Open();
    ASSERT_TRUE(out.IsOpen());
    const auto block = Pattern(32768, 2);
    for (int i = 0; i < 6; ++i) out.Write(block.data(), block.size());
    EXPECT_EQ(out.HeldBlocks(), 6u);
    out.Close();
    EXPECT_FALSE(out.IsOpen());
    EXPECT_FALSE(out.IsPlaying());
    EXPECT_EQ(out.HeldBlocks(), 0u);
    test::PumpFor(events, 100ms);
    EXPECT_TRUE(log.blocks.empty());
    EXPECT_EQ(closed, 1);
}

TEST(WaveOut, ADeviceThatCannotBeOpenedKeepsItsBlocksSilently) {
    test::TempFolder dir;
    test::UseDiskDriver(dir / "missing-folder/out.raw");  // the driver cannot create it
    EventQueue events;
    DoneLog log;
    int opened = 0, closed = 0;
    WaveOut out(events);
    SetStereo16(out);
    log.Attach(out);
    out.OnOpen = [&](WaveOut&) { ++opened; };
    out.OnClose = [&](WaveOut&) { ++closed; };
    out.Open();
    EXPECT_FALSE(out.IsOpen());
    const auto block = Pattern(4096, 3);
    out.Write(block.data(), block.size());
    out.Write(block.data(), block.size());
    EXPECT_EQ(test::PumpFor(events, 100ms), 0);
    EXPECT_TRUE(log.blocks.empty());
    EXPECT_EQ(out.HeldBlocks(), 2u);
    out.Close();
    EXPECT_EQ(out.HeldBlocks(), 0u);
    test::PumpFor(events, 20ms);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(closed, 0);
    EXPECT_TRUE(log.blocks.empty());
}

TEST(WaveOut, DeviceNumbersPickTheListedDeviceOrTheDefault) {
    test::UseDummyDriver();  // lists exactly one device
    EventQueue events;
    struct Case {
        int device;
        bool defaultInstead;  // a listed device that is not present
    };
    for (const Case c : {Case{0, false}, Case{1, false}, Case{2, true}, Case{10, true},
                         Case{11, false}, Case{255, false}}) {
        WaveOut out(events);
        SetStereo16(out);
        out.device = static_cast<std::uint8_t>(c.device);
        out.Open();
        EXPECT_TRUE(out.IsOpen()) << "device " << c.device;
        EXPECT_EQ(out.OpenedDefaultInstead(), c.defaultInstead) << "device " << c.device;
        out.Close();
    }
}

TEST(WaveOut, AHealthyDeviceIsNeverLostAndAStillOneIsOnlyWhilePlaying) {
    test::UseDummyDriver();  // takes sound in real time
    EventQueue events;
    WaveOut out(events);
    SetStereo16(out);
    EXPECT_FALSE(out.CheckDevice());  // closed: nothing to look at
    out.Open();
    ASSERT_TRUE(out.IsOpen());
    const auto block = Pattern(44100, 5);  // a quarter of a second
    for (int i = 0; i < 8; ++i) out.Write(block.data(), block.size());
    const auto end = std::chrono::steady_clock::now() + 1500ms;
    while (std::chrono::steady_clock::now() < end) {
        events.WaitAndProcess(100ms);
        ASSERT_FALSE(out.CheckDevice()) << out.LostReason();
    }
    out.Stop();
    EXPECT_FALSE(out.CheckDevice());
    EXPECT_TRUE(out.LostReason().empty());
}

TEST(WaveOut, AnOpenDeviceIsNotOpenedTwice) {
    test::UseDummyDriver();
    EventQueue events;
    int opened = 0;
    WaveOut out(events);
    SetStereo16(out);
    out.OnOpen = [&](WaveOut&) { ++opened; };
    out.Open();
    out.Open();
    test::PumpFor(events, 20ms);
    EXPECT_TRUE(out.IsOpen());
    EXPECT_EQ(opened, 1);
}

TEST(WaveOut, AHandlerMayDestroyTheComponent) {
    test::TempFolder dir;
    test::UseDiskDriver(dir / "out.raw");
    EventQueue events;
    auto out = std::make_unique<WaveOut>(events);
    SetStereo16(*out);
    int done = 0;
    out->OnDone = [&](WaveOut&) {
        ++done;
        out.reset();
    };
    out->Open();
    const auto block = Pattern(256, 4);
    for (int i = 0; i < 3; ++i) out->Write(block.data(), block.size());
    ASSERT_TRUE(test::PumpUntil(events, [&] { return out == nullptr; }));
    test::PumpFor(events, 50ms);
    EXPECT_EQ(done, 1);
}

TEST(Devices, TheListOffersTheDefaultAndAtMostTenDevices) {
    std::vector<std::string> host;
    for (int i = 1; i <= 12; ++i) host.push_back("Card " + std::to_string(i));
    const auto list = DeviceListFrom(host);
    ASSERT_EQ(list.size(), 11u);
    EXPECT_EQ(list[0], "Default wave-device");
    EXPECT_EQ(list[1], "Card 1");
    EXPECT_EQ(list[10], "Card 10");
    EXPECT_EQ(DeviceListFrom({}), std::vector<std::string>{"Default wave-device"});

    test::UseDummyDriver();
    EXPECT_EQ(OutputDeviceCount(), 1);
    const auto dummy = OutputDeviceList();
    ASSERT_EQ(dummy.size(), 2u);
    EXPECT_EQ(dummy[1], OutputDeviceName(0));
    EXPECT_EQ(OutputDeviceName(1), "");
}

TEST(EventQueue, RunsPostedWorkOnTheOwnersThreadAndWakesItsWaiter) {
    EventQueue events;
    EXPECT_FALSE(events.WaitForEvents(10ms));
    const auto owner = std::this_thread::get_id();
    std::thread::id ranOn;
    std::thread poster([&] { events.Post([&] { ranOn = std::this_thread::get_id(); }); });
    poster.join();
    EXPECT_TRUE(events.WaitForEvents(1s));
    EXPECT_EQ(events.ProcessEvents(), 1);
    EXPECT_EQ(ranOn, owner);
    EXPECT_FALSE(events.WaitForEvents(10ms));

    int drained = 0;
    const auto id = events.AddSource([&] { return ++drained, 0; });
    std::thread waker([&] { events.Wake(); });
    waker.join();
    EXPECT_TRUE(events.WaitForEvents(1s));
    events.ProcessEvents();
    EXPECT_EQ(drained, 1);
    events.RemoveSource(id);
    events.ProcessEvents();
    EXPECT_EQ(drained, 1);
}

}  // namespace
}  // namespace qtam
