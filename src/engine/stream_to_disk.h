#pragma once
// Rendering to a 16-bit stereo 44100 Hz WAV file: the edited measure or the whole edited
// pattern offline through the disk mixer, or a live session recorded from playback.
//
// The frames go raw into a temporary file of their own beside the target; finishing turns
// them into the WAV file, which replaces an existing target only once it is complete.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "banks/sound_file.h"
#include "engine/gauge.h"

namespace qtam {

struct Machine;

inline constexpr const char* kMsgNoStreamName = "Some kind of shit hit the fan...";
inline constexpr const char* kActivitySaving = "Saving soundfile";
inline constexpr const char* kActivityRenderingArrangement = "Rendering the arrangement";
// "Rendering measure 3"
// Thread: any.
std::string RenderingMeasureText(int measure);

// What a dialog or a terminal shows while a stream runs. Either hook may be empty.
struct StereoFrame;

struct StreamObserver {
    std::function<void(const std::string& activity)> activity;
    std::function<void(int percent)> progress;  // called when the shown percentage changes
    // Every run of frames an offline render writes, in order, while it is still in the cache.
    std::function<void(const StereoFrame* frames, int count)> frames;
};

class StreamSink;

// The progress of one offline render, across its measures.
struct RenderProgress {
    int measuresToRender = 1;
    double accumulator = 0.0;
    Gauge gauge;  // 0..100
    StreamObserver* observer = nullptr;
    // Where each channel's share goes (channel 1 first); all null: no stems are mixed.
    std::array<StreamSink*, 8> stems{};
};

// Opens the stream file for `fileName` (used as given; see RunStream for the default
// extension). Asks before a later overwrite of an existing file. A stream still open from
// before is finished first. Does not set Streaming.
// Thread: owner.
bool CreateStreamFile(Machine& m, const std::string& fileName);

// Mixes exactly MeasureLength frames of measure 1..16 with the disk mixer and appends them to the
// stream; the clock must have been placed by StartRender or NextRenderMeasure.
// Thread: owner.
void RenderMeasure(Machine& m, int measure, RenderProgress& progress);

// Closes the stream file and writes the WAV file (nothing when no frame was recorded), then
// clears Streaming and puts the play clock back to the start of the edited pattern. False
// when something went wrong; the user has been told. Harmless when no stream is open.
// Thread: owner.
bool FinishStream(Machine& m, StreamObserver* observer = nullptr);

// The target of the open stream; empty when none is open.
// Thread: owner.
std::string StreamFileName(const Machine& m);

enum class StreamMode {
    CurrentMeasure,    // "Render current measure"
    WholePattern,      // "Render whole pattern"
    LiveSession,       // "Live session (record "play" to "stop")"
    WholeArrangement,  // "Whole arrangement": every entry once, then the sounds ring out
};

// The stream as the OK button runs it, without a dialog: ".WAV" is appended to a name
// without any ".", the file is created, and the offline modes render and finish at once.
// True when the WAV file was written (offline) or the recording is armed (live session,
// finished later by FinishStream at the stop of playback).
// Thread: owner (all three forms below as well).
bool RunStream(Machine& m, StreamMode mode, const std::string& fileName,
               StreamObserver* observer = nullptr);

// The rendering of an offline mode alone: the edited measure or the whole edited pattern,
// through the disk mixer into m.stream (which may be any sink, or none), and each channel's
// share into its sink in `stems` when one is given. The caller opens and finishes the sinks;
// afterwards the clock is where the render left it.
// Thread: owner.
// With `tail`, a measure or pattern render goes on after its last measure, triggering nothing,
// until every voice has ended (a whole arrangement always does).
void RenderOffline(Machine& m, StreamMode mode, StreamObserver* observer = nullptr,
                   const std::array<StreamSink*, 8>& stems = {}, bool tail = false);

// The files of one offline render: the main mix, and one file per channel (stems) where a name
// is given, all of one type.
struct RenderFiles {
    std::string main;
    std::array<std::string, 8> stems;  // "" for no file
    SoundFileType type = SoundFileType::Wav;
    int quality = kDefaultOggQuality;  // Ogg Vorbis only
    bool tail = false;                 // the sounds ring out after the last measure (RenderOffline)
};

// The channels a render of `mode` hears: not muted, with a note in the measures it renders and
// a sound to play.
// Thread: owner.
std::array<bool, 8> SoundingChannels(const Machine& m, StreamMode mode);
// "03-Snare Tight.flac": the channel's number and its sound's name, made safe for a file name.
// Thread: owner.
std::string StemFileName(const Machine& m, int channel, SoundFileType type);

// Renders an offline mode into every file of `files` at once. Each is written beside its target
// and takes its place only when all were written, so a failure leaves every target as it was.
// The caller has agreed to replacing existing targets. False when something went wrong (the
// user has been told).
// Thread: owner.
bool WriteRenderFiles(Machine& m, StreamMode mode, const RenderFiles& files,
                      StreamObserver* observer = nullptr);
// WriteRenderFiles as the dialog runs it: one question when any target exists, a refusal when
// one is read-only or no file.
// Thread: owner.
bool RunRenderFiles(Machine& m, StreamMode mode, const RenderFiles& files,
                    StreamObserver* observer = nullptr);

inline bool RenderCurrentMeasure(Machine& m, const std::string& fileName,
                                 StreamObserver* observer = nullptr) {
    return RunStream(m, StreamMode::CurrentMeasure, fileName, observer);
}
inline bool RenderWholePattern(Machine& m, const std::string& fileName,
                               StreamObserver* observer = nullptr) {
    return RunStream(m, StreamMode::WholePattern, fileName, observer);
}
inline bool StartLiveSession(Machine& m, const std::string& fileName) {
    return RunStream(m, StreamMode::LiveSession, fileName, nullptr);
}

}  // namespace qtam
