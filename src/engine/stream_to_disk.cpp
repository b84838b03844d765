#include "engine/stream_to_disk.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "banks/wav_io.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/messages.h"
#include "core/sample_bank.h"
#include "core/text_codec.h"
#include "engine/mixer.h"

namespace qtam {

namespace {

constexpr int kChunkFrames = 8192;
static_assert(sizeof(StereoFrame) == 4, "frames are written as they lie in memory");

// The frames of a running stream, written into a temporary file of their own beside the target
// until the stream is finished. A live take goes there raw and is copied behind a header at the
// end; an offline render leaves room for the header first, so that finishing fills in the sizes
// and renames the file over the target.
class StreamFile final : public StreamSink {
public:
    StreamFile(std::string target, bool wavInPlace)
        : target_(std::move(target)), wavInPlace_(wavInPlace) {}
    ~StreamFile() override {
        if (file_ != nullptr) std::fclose(file_);
    }
    StreamFile(const StreamFile&) = delete;
    StreamFile& operator=(const StreamFile&) = delete;

    // False, with errno set, when the raw file cannot be created. A live take makes its raw
    // file with its first frames, so arming one that records nothing leaves no file behind;
    // here it only checks that the file could be made.
    bool Open() {
        if (!wavInPlace_) return CanCreateIn(DirectoryOf(target_));
        return CreateRaw();
    }

    // After the first failed write nothing more is written; the failure is reported at the close.
    void Append(const void* bytes, std::size_t count) override {
        if (file_ == nullptr && raw_.path().empty() && error_.empty() && !CreateRaw()) Fail();
        if (Write(bytes, count)) dataBytes_ += count;
    }

private:
    static bool CanCreateIn(const std::string& folder) {
        return ::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0;
    }

    bool CreateRaw() {
        if (!raw_.Create(DirectoryOf(target_), kWavTempPrefix, kWavTempSuffix)) return false;
        const int fd = raw_.TakeDescriptor();
        file_ = ::fdopen(fd, "wb");
        if (file_ == nullptr) {
            ::close(fd);
            return false;
        }
        if (wavInPlace_) {
            const WavHeader placeholder = MakeWavHeader(2, 0);
            if (!Write(&placeholder, sizeof placeholder)) return false;
        }
        return true;
    }

public:
    // False when any write or the flush failed (see error()).
    bool Flush() {
        if (file_ != nullptr && error_.empty() && std::fflush(file_) != 0) Fail();
        return error_.empty();
    }

    // False when any write or the close failed (see error()).
    bool Close() {
        if (file_ != nullptr) {
            Flush();
            if (std::fclose(file_) != 0 && error_.empty()) Fail();
            file_ = nullptr;
        }
        return error_.empty();
    }

    // The file made a complete WAV file in place: the sizes written into the reserved header
    // (frames beyond the largest data chunk cut off), then flushed to the disk and closed.
    bool CloseAsWav() {
        if (file_ == nullptr) return error_.empty();
        const int fd = ::fileno(file_);
        const std::uint64_t data = std::min(dataBytes_, kMaxWavDataBytes);
        const WavHeader header = MakeWavHeader(2, static_cast<std::uint32_t>(data));
        if (Flush() && data < dataBytes_ &&
            ::ftruncate(fd, static_cast<off_t>(sizeof header + data)) != 0)
            Fail();
        if (error_.empty() && ::pwrite(fd, &header, sizeof header, 0) != sizeof header) Fail();
        if (error_.empty() && ::fsync(fd) != 0) Fail();
        if (std::fclose(file_) != 0 && error_.empty()) Fail();
        file_ = nullptr;
        return error_.empty();
    }

    const std::string& target() const { return target_; }
    const std::string& rawPath() const { return raw_.path(); }
    const std::string& error() const { return error_; }
    bool wavInPlace() const { return wavInPlace_; }
    std::uint64_t dataBytes() const { return dataBytes_; }
    // The raw file stays on disk; otherwise it is removed with this object.
    void KeepRaw() { raw_.Keep(); }
    // A live take cannot be played again, so its raw frames survive a failed finish.
    bool keepRawOnFailure = false;

private:
    bool Write(const void* bytes, std::size_t count) {
        if (file_ == nullptr || !error_.empty() || count == 0) return false;
        if (std::fwrite(bytes, 1, count, file_) != count) {
            Fail();
            return false;
        }
        return true;
    }
    void Fail() {
        if (error_.empty()) error_ = std::strerror(errno);
    }

    std::FILE* file_ = nullptr;
    std::string target_;
    TemporaryFile raw_;
    bool wavInPlace_;
    std::uint64_t dataBytes_ = 0;
    std::string error_;
};

StreamFile* OpenStream(const Machine& m) {
    return dynamic_cast<StreamFile*>(m.streamFile.get());
}

void ShowActivity(StreamObserver* observer, const std::string& text) {
    if (observer != nullptr && observer->activity) observer->activity(text);
}

void ShowProgress(StreamObserver* observer, int percent) {
    if (observer != nullptr && observer->progress) observer->progress(percent);
}

std::uint64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// Puts the finished file in the target's place, with the target's permissions (a new file gets
// the usual ones). The rename replaces the target at once.
bool MoveOverTarget(const std::string& from, const std::string& target, std::string* error) {
    GivePermissionsOfTarget(from, target);
    if (std::rename(from.c_str(), target.c_str()) != 0) {
        *error = std::string("cannot replace the file: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// An offline render: the file already has its header's room, so it becomes the WAV file in one
// pass. On any failure the temporary file goes and the target is left as it was.
bool FinishWavInPlace(Machine& m, StreamFile& file, StreamObserver* observer) {
    // The temporary file is removed with the stream unless it took the target's place.
    auto fail = [&](const std::string& reason) {
        m.prompter->Warn(WriteFailedText(file.target(), reason));
        return false;
    };
    if (!file.Flush()) {
        file.Close();
        return fail(file.error());
    }
    ShowActivity(observer, kActivitySaving);
    BusyCursor busy(*m.prompter);
    if (!file.CloseAsWav()) return fail(file.error());
    if (file.dataBytes() > 0) {
        std::string error;
        if (!MoveOverTarget(file.rawPath(), file.target(), &error)) return fail(error);
        file.KeepRaw();
    }
    ShowProgress(observer, 100);
    return true;
}

// Closes the raw file and turns it into the WAV file.
bool WriteStreamWav(Machine& m, StreamFile& file, StreamObserver* observer) {
    if (file.wavInPlace()) return FinishWavInPlace(m, file, observer);
    if (!file.Close()) {
        std::string text = WriteFailedText(file.target(), file.error());
        if (file.keepRawOnFailure && !file.rawPath().empty()) {
            text += " What was recorded is kept as raw sound data in \"" + file.rawPath() + "\".";
            file.KeepRaw();
        }
        m.prompter->Warn(text);
        return false;
    }
    ShowActivity(observer, kActivitySaving);
    const bool recorded = !file.rawPath().empty() && FileSize(file.rawPath()) > 0;
    if (recorded) {
        BusyCursor busy(*m.prompter);
        WavWriteResult result = WriteWavFromRaw(file.rawPath(), file.target(), 2);
        if (!result.ok()) {
            std::string note;
            if (file.keepRawOnFailure) {
                note = "The recording is kept as raw sound data in \"" + file.rawPath() + "\".";
                file.KeepRaw();
            }
            m.prompter->Warn(WavWriteFailureText(result, file.target(), note));
            return false;
        }
    }
    // A target named like the raw file has just been written over it.
    if (recorded && file.rawPath() == file.target()) file.KeepRaw();
    ShowProgress(observer, 100);
    return true;
}

}  // namespace

std::string RenderingMeasureText(int measure) {
    return "Rendering measure " + std::to_string(measure);
}

std::string StreamFileName(const Machine& m) {
    const StreamFile* file = OpenStream(m);
    return file != nullptr ? file->target() : std::string();
}

namespace {

// An existing target that no render may replace (a folder, a device, a read-only file): says
// why and returns true.
bool RefusedTarget(Machine& m, const std::string& target) {
    if (!FileExists(target) || (IsRegularFile(target) && !IsReadOnlyFile(target))) return false;
    m.prompter->Warn(
        FileFailureText(kMsgCannotCreate, target,
                        IsRegularFile(target) ? "the file is read-only" : std::strerror(EISDIR)));
    return true;
}

bool OpenStreamFile(Machine& m, const std::string& fileName, bool wavInPlace) {
    if (m.streamFile) FinishStream(m);
    if (fileName.empty()) {
        m.prompter->Warn(kMsgNoStreamName);
        return false;
    }
    if (FileExists(fileName) &&
        (!m.prompter->AskYesNo(kMsgFileExists) || RefusedTarget(m, fileName)))
        return false;

    auto file = std::make_unique<StreamFile>(fileName, wavInPlace);
    if (!file->Open()) {
        m.prompter->Warn(FileFailureText(kMsgCannotCreate, fileName, std::strerror(errno)));
        return false;
    }
    m.stream = file.get();
    m.streamFile = std::move(file);
    return true;
}

}  // namespace

bool CreateStreamFile(Machine& m, const std::string& fileName) {
    return OpenStreamFile(m, fileName, false);
}

namespace {

bool WantsStems(const RenderProgress& progress) {
    return std::any_of(progress.stems.begin(), progress.stems.end(),
                       [](StreamSink* s) { return s != nullptr; });
}

// Hands `chunk` frames just mixed (and each channel's share) to the stream, the stems and the
// observer, and moves the gauge by their share of `total` frames.
void WriteChunk(Machine& m, const StereoFrame* buffer, const StereoFrame* shares, int chunk,
                double total, RenderProgress& progress) {
    if (total > 0) {
        progress.accumulator += chunk / total * 98;
        if (progress.gauge.SetProgress(static_cast<int>(std::lrint(progress.accumulator))))
            ShowProgress(progress.observer, progress.gauge.Percent());
    }
    if (m.stream != nullptr)
        m.stream->Append(buffer, static_cast<std::size_t>(chunk) * sizeof(StereoFrame));
    for (int c = 0; c < kChannels; ++c)
        if (progress.stems[c] != nullptr)
            progress.stems[c]->Append(shares + std::size_t(c) * chunk,
                                      static_cast<std::size_t>(chunk) * sizeof(StereoFrame));
    if (progress.observer != nullptr && progress.observer->frames)
        progress.observer->frames(buffer, chunk);
}

bool AnyVoiceSounds(const Player& p) {
    for (int c = 1; c <= kChannels; ++c)
        if (p.voice(c).active) return true;
    return false;
}

// Mixes runs of `p` of at most `most()` frames each until `done()` says so after a run.
template <class Done, class Most>
void RenderUntil(Machine& m, Player& p, RenderProgress& progress, double total, Done done,
                 Most most) {
    const bool stems = WantsStems(progress);
    StereoFrame buffer[kChunkFrames];
    std::vector<StereoFrame> shares(stems ? std::size_t{kChannels} * kChunkFrames : 0);
    std::vector<StereoFrame> run(stems ? std::size_t{kChannels} * kChunkFrames : 0);
    while (!done()) {
        // Runs gathered into a chunk, each channel's share moved to its place afterwards.
        int chunk = 0;
        while (chunk < kChunkFrames && !done()) {
            const int n = std::clamp(most(), 1, kChunkFrames - chunk);
            if (stems) {
                MixFramesWithStems(p, buffer + chunk, run.data(), n);
                for (int c = 0; c < kChannels; ++c)
                    std::copy_n(run.begin() + std::ptrdiff_t(c) * n, n,
                                shares.begin() + std::ptrdiff_t(c) * kChunkFrames + chunk);
            } else {
                MixFrames(p, buffer + chunk, n);
            }
            chunk += n;
        }
        for (int c = 1; c < kChannels && stems; ++c)
            std::copy_n(shares.begin() + std::ptrdiff_t(c) * kChunkFrames, chunk,
                        shares.begin() + std::ptrdiff_t(c) * chunk);
        WriteChunk(m, buffer, shares.data(), chunk, total, progress);
    }
}

// After the last measure nothing more is triggered, and the sounds ring out until every voice
// has ended.
void RenderTail(Machine& m, Player& p, RenderProgress& progress) {
    p.clock.Ended = true;
    p.clock.StepCounter = 1;
    RenderUntil(
        m, p, progress, 0, [&] { return !AnyVoiceSounds(p); }, [] { return 1; });
}

// The whole arrangement once through, as live playback plays it from a start in song mode: each
// entry starts where the last measure ended, voices ring over. A list that loops is played
// once, its end taken as a stop. Then the tail.
void RenderArrangement(Machine& m, RenderProgress& progress) {
    Arrangement once = m.arrangement;
    once.loopTo = 0;
    Player& p = PlayerOf(m);
    p.arrangement = &once;
    p.songMode = true;
    const std::int64_t measures = ArrangementMeasures(m.song, once);
    progress.measuresToRender = static_cast<int>(std::max<std::int64_t>(measures, 1));
    const double total = static_cast<double>(p.clock.MeasureLength) * progress.measuresToRender;
    ShowActivity(progress.observer, kActivityRenderingArrangement);
    RewindClock(p);
    PrepareStart(p);
    // Runs end with their step, so that the list ends on the last frame of a run.
    RenderUntil(
        m, p, progress, total, [&] { return p.clock.Ended; },
        [&] { return p.clock.StepLength[p.clock.PlayStep] - p.clock.StepCounter; });
    RenderTail(m, p, progress);
    p.arrangement = &m.arrangement;
}

}  // namespace

void RenderMeasure(Machine& m, int measure, RenderProgress& progress) {
    m.player.clock.PlayMeasure = static_cast<std::uint8_t>(std::clamp(measure, 1, kMeasures));
    std::int32_t remaining = m.player.clock.MeasureLength;
    const double total =
        static_cast<double>(m.player.clock.MeasureLength - 16) * progress.measuresToRender;
    ShowActivity(progress.observer, RenderingMeasureText(measure));

    StereoFrame buffer[kChunkFrames];
    const bool stems = WantsStems(progress);
    std::vector<StereoFrame> shares(stems ? std::size_t{kChannels} * kChunkFrames : 0);
    while (remaining > 0) {
        const int chunk = std::min(remaining, kChunkFrames);
        if (stems)
            MixFramesWithStems(PlayerOf(m), buffer, shares.data(), chunk);
        else
            MixFrames(PlayerOf(m), buffer, chunk);
        remaining -= chunk;
        WriteChunk(m, buffer, shares.data(), chunk, total, progress);
    }
}

bool FinishStream(Machine& m, StreamObserver* observer) {
    bool ok = true;
    if (StreamFile* file = OpenStream(m)) ok = WriteStreamWav(m, *file, observer);
    m.stream = nullptr;
    m.streamFile.reset();
    m.Streaming = false;
    RewindClock(PlayerOf(m));
    return ok;
}

void RenderOffline(Machine& m, StreamMode mode, StreamObserver* observer,
                   const std::array<StreamSink*, 8>& stems, bool tail) {
    RenderProgress progress;
    progress.observer = observer;
    progress.stems = stems;
    ShowProgress(observer, 0);
    if (mode == StreamMode::WholeArrangement) {
        RenderArrangement(m, progress);
        return;
    }
    if (mode == StreamMode::CurrentMeasure) {
        const int measure = std::clamp<int>(m.editor.CurrentMeasure, 1, kMeasures);
        progress.measuresToRender = 1;
        StartRender(m, measure);
        RenderMeasure(m, measure, progress);
    } else {
        const int count = MeasureCountOf(m.song, m.editor.CurrentPattern);
        progress.measuresToRender = count;
        StartRender(m, 1);
        for (int measure = 1; measure <= count; ++measure) {
            RenderMeasure(m, measure, progress);
            if (measure < count) NextRenderMeasure(PlayerOf(m), measure + 1);
        }
    }
    if (tail) RenderTail(m, PlayerOf(m), progress);
}

bool RunStream(Machine& m, StreamMode mode, const std::string& fileName, StreamObserver* observer) {
    const std::string name = fileName.empty() ? fileName : WithDefaultExtension(fileName, ".WAV");
    if (!OpenStreamFile(m, name, mode != StreamMode::LiveSession)) return false;
    m.Streaming = true;
    if (mode == StreamMode::LiveSession) {
        OpenStream(m)->keepRawOnFailure = true;
        return true;
    }

    BusyCursor busy(*m.prompter);
    RenderOffline(m, mode, observer);
    return FinishStream(m, observer);
}

namespace {

// The channels of pattern p that sound in measures from..to, but those muted by `mutes`.
void AddSoundingChannels(const Machine& m, int p, int from, int to, std::uint8_t mutes,
                         std::array<bool, 8>& sounding) {
    const ChannelSettings& cs = m.song.settings(p);
    for (int c = 1; c <= kChannels; ++c) {
        const SampleSlot* sound = SlotOf(m.banks, cs.instrument[c - 1]);
        if (cs.mute[c - 1] != 0 || MutesChannel(mutes, c) || sound == nullptr || !sound->hasSound())
            continue;
        for (int meas = from; meas <= to && !sounding[c - 1]; ++meas)
            for (int s = 1; s <= StepsPerMeasureOf(m.song); ++s)
                if (m.song.cell(p, meas, c, s).hasNote()) sounding[c - 1] = true;
    }
}

}  // namespace

std::array<bool, 8> SoundingChannels(const Machine& m, StreamMode mode) {
    std::array<bool, 8> sounding{};
    if (mode == StreamMode::WholeArrangement) {
        for (int n = 1; n <= m.arrangement.count; ++n) {
            const ArrangementEntry& e = m.arrangement.entry(n);
            AddSoundingChannels(m, e.pattern, 1, MeasureCountOf(m.song, e.pattern), e.mutes,
                                sounding);
        }
        return sounding;
    }
    const int p = std::clamp<int>(m.editor.CurrentPattern, 1, kPatterns);
    const bool one = mode == StreamMode::CurrentMeasure;
    const int from = one ? std::clamp<int>(m.editor.CurrentMeasure, 1, kMeasures) : 1;
    AddSoundingChannels(m, p, from, one ? from : MeasureCountOf(m.song, p), 0, sounding);
    return sounding;
}

std::string StemFileName(const Machine& m, int channel, SoundFileType type) {
    const int p = std::clamp<int>(m.editor.CurrentPattern, 1, kPatterns);
    const SampleSlot* sound = SlotOf(m.banks, m.song.settings(p).instrument[channel - 1]);
    std::string name = sound != nullptr ? Cp1252ToUtf8(WithoutTrailingBlanks(sound->name)) : "";
    // No folder, no hidden file, no control character comes from a sound's name.
    for (char& c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
    if (!name.empty() && name[0] == '.') name[0] = '_';
    if (name.empty()) name = "channel";
    char number[8];
    std::snprintf(number, sizeof number, "%02d-", channel);
    return number + name + "." + ExtensionOf(type);
}

bool WriteRenderFiles(Machine& m, StreamMode mode, const RenderFiles& files,
                      StreamObserver* observer) {
    std::vector<std::unique_ptr<StreamFile>> out;  // the main file first
    auto open = [&](const std::string& target) -> StreamFile* {
        auto file = std::make_unique<StreamFile>(target, true);
        if (!file->Open()) {
            m.prompter->Warn(FileFailureText(kMsgCannotCreate, target, std::strerror(errno)));
            return nullptr;
        }
        out.push_back(std::move(file));
        return out.back().get();
    };
    StreamFile* main = open(files.main);
    if (main == nullptr) return false;
    std::array<StreamSink*, 8> stems{};
    for (int c = 0; c < kChannels; ++c)
        if (!files.stems[c].empty() && (stems[c] = open(files.stems[c])) == nullptr) return false;

    BusyCursor busy(*m.prompter);
    m.stream = main;
    RenderOffline(m, mode, observer, stems, files.tail);
    m.stream = nullptr;
    RewindClock(PlayerOf(m));
    if (main->dataBytes() == 0) return true;  // nothing was rendered, so nothing is written

    // Every file is complete beside its target before any of them takes its target's place.
    ShowActivity(observer, kActivitySaving);
    auto fail = [&](const std::string& target, const std::string& reason) {
        m.prompter->Warn(WriteFailedText(target, reason));
        return false;
    };
    std::vector<std::unique_ptr<TemporaryFile>> encoded;
    for (const auto& file : out) {
        if (!file->CloseAsWav()) return fail(file->target(), file->error());
        if (files.type == SoundFileType::Wav) continue;
        auto coded = std::make_unique<TemporaryFile>();
        const std::string suffix = std::string(".") + ExtensionOf(files.type);
        if (!coded->Create(DirectoryOf(file->target()), ".qtam-", suffix))
            return fail(file->target(), std::strerror(errno));
        std::string error;
        if (!EncodeWavAs(file->rawPath(), coded->TakeDescriptor(), files.type, files.quality,
                         error))
            return fail(file->target(), error);
        encoded.push_back(std::move(coded));
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        const bool wav = files.type == SoundFileType::Wav;
        std::string error;
        if (!MoveOverTarget(wav ? out[i]->rawPath() : encoded[i]->path(), out[i]->target(), &error))
            return fail(out[i]->target(), error);
        if (wav)
            out[i]->KeepRaw();
        else
            encoded[i]->Keep();
    }
    ShowProgress(observer, 100);
    return true;
}

bool RunRenderFiles(Machine& m, StreamMode mode, const RenderFiles& files,
                    StreamObserver* observer) {
    std::vector<std::string> targets{files.main};
    for (const std::string& stem : files.stems)
        if (!stem.empty()) targets.push_back(stem);
    bool anyExists = false;
    for (const std::string& target : targets) {
        if (RefusedTarget(m, target)) return false;
        anyExists = anyExists || FileExists(target);
    }
    if (anyExists && !m.prompter->AskYesNo(kMsgFileExists)) return false;
    return WriteRenderFiles(m, mode, files, observer);
}

}  // namespace qtam
