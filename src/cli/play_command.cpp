#include "cli/play_command.h"

#include <SDL.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "cli/cli_common.h"
#include "core/machine.h"
#include "core/song.h"
#include "engine/audio/devices.h"
#include "engine/audio/event_queue.h"
#include "engine/audio/jack_output.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "engine/play_clock.h"
#include "engine/stream_to_disk.h"
#include "song/midi_export.h"
#include "song/song_editor.h"
#include "song/song_file.h"
#include "song/song_text.h"
#include "transport/transport.h"

namespace qtam::cli {

const char* const kPlayUsage =
    "usage: qtam-cli play SONG [-p N | --arrangement] [--seconds S] [--device N]\n"
    "                          [--buffer-size B] [--latency MS] [--record OUT.wav] [--kit FILE]\n"
    "                          [--userbank FILE] [-f]\n"
    "  Plays SONG from measure 1 of pattern N (1..8, default 1), or in song mode with\n"
    "  --arrangement the song's arrangement entry by entry from its first (to its end, where\n"
    "  it stops once the sounds rang out, or round its loop), through the sound device\n"
    "  until S seconds have been played (default: until Ctrl-C), then stops as the Stop\n"
    "  button does. --device takes a number from 'qtam-cli devices' (default 0: the default\n"
    "  device), --buffer-size the block size in units of 1024 frames (2..10, default 8).\n"
    "  --latency is what Q.Tam asks of a PulseAudio server (PipeWire's too), in ms (20..500,\n"
    "  default 120): more gives more headroom on a busy machine, a later first sound. At the\n"
    "  end a line tells the sound system and how often the server found the sound missing\n"
    "  (underruns; counted on PulseAudio only).\n"
    "  --record records the session to a WAV file (-f, --force replaces an existing one).\n"
    "  Without a sound card: SDL_AUDIODRIVER=dummy qtam-cli play SONG --seconds S --record\n"
    "  OUT.wav records in real time, and 'qtam-cli render' renders at once.\n"
    "usage: qtam-cli play SONG --jack [--transport off|follow|master] [--no-connect]\n"
    "                          [--notes-out [--notes-channel C]] [--clock-out] [--clock-in]\n"
    "                          [--note CH=N]...\n"
    "                          [--program-change in|out|both] [--record-pads OUT.sng]\n"
    "                          [-p N | --arrangement] [--seconds S] [--record OUT.wav [-f]]\n"
    "                          [--kit FILE] [--userbank FILE] [-f]\n"
    "  Plays through JACK (jackd, or PipeWire with pw-jack) as the client 'qtam', with the\n"
    "  ports main_L, main_R and channel1_L .. channel8_R. --transport follow (the default)\n"
    "  plays while the JACK transport rolls, from its position and a timebase master's\n"
    "  tempo; master does that and publishes bar, beat, tick and tempo, and rolls the\n"
    "  transport at once; off plays at once and ignores the transport. --seconds counts\n"
    "  the frames played. --no-connect leaves main_L and main_R unconnected. --record\n"
    "  records the main pair from the first frame played (the server at 44100 Hz).\n"
    "  MIDI: the ports midi_in and midi_out. A note-on at midi_in plays its channel's sound\n"
    "  at once (the pads, always on). --notes-out sends every note played from midi_out,\n"
    "  at the frame its sound starts, on MIDI channel C (1..16, default 10), with a note-off\n"
    "  at the next step; --clock-out sends MIDI clock (24 a beat), Start, Continue, Stop and\n"
    "  Song Position Pointer. --clock-in follows the MIDI clock coming in at midi_in instead of\n"
    "  the JACK transport (so --transport, when given, must be off): its Start, Continue and\n"
    "  Stop start and stop playback, Song Position Pointer (in sixteenths: steps, whatever the\n"
    "  measure's length) places it, and each step begins on the frame of its tick, so that it\n"
    "  plays at the clock's tempo, fraction included; the song's tempo becomes the clock's,\n"
    "  rounded (kept within 50..250). With --clock-out as well, the clock goes out as it came.\n"
    "  The notes are those of 'qtam-cli midi'; --note CH=N (repeatable)\n"
    "  gives channel CH (1..8) the note N (0..127), out and in. --program-change in: program\n"
    "  change 0..7 queues pattern 1..8 as the pattern keys do; out: each pattern queued is\n"
    "  sent as one, on channel C. --record-pads: while playing, each pad hit is written into\n"
    "  the step nearest to it as heard (its velocity kept), and the song saved to OUT.sng\n"
    "  (-f replaces an existing one; the target is checked before playing). When it cannot be\n"
    "  saved, the song is printed as text on standard output ('qtam-cli build' reads it back).\n";

const char* const kDevicesUsage =
    "usage: qtam-cli devices\n"
    "  Lists the output devices with the numbers that 'qtam-cli play --device' takes.\n";

namespace {

std::atomic<bool> interrupted{false};

void OnInterrupt(int signal) {
    interrupted = true;
    ::signal(signal, SIG_DFL);  // a second one ends the program at once
}

struct PlayOptions {
    LoadOptions load;
    std::optional<double> seconds;
    int device = 0;
    int bufferSize = kDefaultBufferSize;
    int latencyMs = kDefaultLatencyMs;
    std::string record;
    bool force = false;
    bool jack = false;
    TransportSync sync = TransportSync::Follow;
    bool connect = true;
    bool notesOut = false;
    int midiChannel = 10;
    bool clockOut = false;
    bool clockIn = false;
    bool programIn = false, programOut = false;
    std::string recordPads;                  // where the song goes with the pad hits recorded
    std::vector<std::pair<int, int>> notes;  // channel 1..8, note 0..127
    bool arrangement = false;                // song mode: the arrangement, entry by entry
};

// Runs `open` with stderr sent to /dev/null: sound libraries below SDL print their own
// diagnostics there, which say nothing the user can act on.
template <typename Open>
void WithoutLibraryNoise(Open open) {
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int null = ::open("/dev/null", O_WRONLY);
    if (saved >= 0 && null >= 0) ::dup2(null, 2);
    open();
    if (saved >= 0) {
        ::dup2(saved, 2);
        ::close(saved);
    }
    if (null >= 0) ::close(null);
}

// What played and how often the server found it empty, e.g. "Sound: PulseAudio, latency 120 ms
// (stream 70 ms), 0 underruns". `opened` is what the device said when it had just opened (a
// lost device is closed by the end).
struct OpenedSound {
    std::string system;
    bool counted = false;
    int grantedMs = 0;
};
std::string SoundReport(const OpenedSound& opened, const PlaybackDriver& driver) {
    const WaveOut& out = driver.Playback;
    std::string text = "Sound: " + opened.system;
    if (opened.grantedMs > 0)
        text += ", latency " + std::to_string(out.latencyMs) + " ms (stream " +
                std::to_string(opened.grantedMs) + " ms)";
    if (opened.counted)
        text += ", " + std::to_string(driver.UnderrunsWhilePlaying()) + " underruns";
    else
        text += ", underruns not counted";
    return text;
}

// Nullopt (and the reason in `error`) when the words do not make a valid command.
std::optional<PlayOptions> ParsePlayArgs(const std::vector<std::string>& words,
                                         std::string& error) {
    const auto args = ParseArgs(
        words,
        {{"--pattern", 'p', true},   {"--seconds", 0, true},        {"--device", 0, true},
         {"--buffer-size", 0, true}, {"--latency", 0, true},        {"--record", 0, true},
         {"--kit", 0, true},         {"--userbank", 0, true},       {"--force", 'f', false},
         {"--jack", 0, false},       {"--transport", 0, true},      {"--no-connect", 0, false},
         {"--notes-out", 0, false},  {"--notes-channel", 0, true},  {"--clock-out", 0, false},
         {"--clock-in", 0, false},   {"--program-change", 0, true}, {"--record-pads", 0, true},
         {"--note", 0, true, true},  {"--arrangement", 0, false}},
        error);
    if (!args) return std::nullopt;
    if (args->positional.size() != 1) {
        error = args->positional.empty() ? "no song given" : "more than one song given";
        return std::nullopt;
    }
    PlayOptions o;
    o.load.song = args->positional[0];
    o.load.kit = args->Value("--kit");
    o.load.userbank = args->Value("--userbank");
    if (auto n = args->Number("--pattern", 1, kPatterns, error)) o.load.pattern = int(*n);
    if (auto n = args->Number("--device", 0, kMaxListedDevices, error)) o.device = int(*n);
    if (auto n = args->Number("--buffer-size", kMinBufferSize, kMaxBufferSize, error))
        o.bufferSize = int(*n);
    if (auto n = args->Number("--latency", kMinLatencyMs, kMaxLatencyMs, error))
        o.latencyMs = int(*n);
    if (!error.empty()) return std::nullopt;
    if (auto s = args->Value("--seconds")) {
        char* end = nullptr;
        const double v = std::strtod(s->c_str(), &end);
        if (s->empty() || *end != '\0' || !(v > 0) || v > 1e7) {
            error =
                "--seconds takes a number of seconds above 0 and up to 10000000, not '" + *s + "'";
            return std::nullopt;
        }
        o.seconds = v;
    }
    o.record = args->Value("--record").value_or("");
    o.arrangement = args->Has("--arrangement");
    if (o.arrangement && args->Value("--pattern")) {
        error = "--arrangement plays every entry: no -p with it";
        return std::nullopt;
    }
    o.force = args->Has("--force");
    o.jack = args->Has("--jack");
    o.connect = !args->Has("--no-connect");
    if (auto t = args->Value("--transport"); t && !ParseTransportSync(*t, o.sync)) {
        error = "--transport takes off, follow or master";
        return std::nullopt;
    }
    o.notesOut = args->Has("--notes-out");
    o.clockOut = args->Has("--clock-out");
    o.clockIn = args->Has("--clock-in");
    if (o.clockIn) {
        // The clock coming in wins over the transport: asking for both is a mistake.
        if (args->Value("--transport") && o.sync != TransportSync::Off) {
            error =
                "--clock-in follows the MIDI clock instead of the JACK transport: it goes "
                "with --transport off, or without --transport";
            return std::nullopt;
        }
        o.sync = TransportSync::Off;
    }
    if (auto n = args->Number("--notes-channel", 1, 16, error)) o.midiChannel = int(*n);
    for (const std::string& pair : args->All("--note")) {
        int channel = 0, note = -1, used = 0;
        if (std::sscanf(pair.c_str(), "%d=%d%n", &channel, &note, &used) != 2 ||
            used != static_cast<int>(pair.size()) || channel < 1 || channel > kChannels ||
            note < 0 || note > 127) {
            error =
                "--note takes CHANNEL=NOTE, a channel 1..8 and a note 0..127, not '" + pair + "'";
            return std::nullopt;
        }
        o.notes.emplace_back(channel, note);
    }
    if (auto p = args->Value("--program-change")) {
        o.programIn = *p == "in" || *p == "both";
        o.programOut = *p == "out" || *p == "both";
        if (!o.programIn && !o.programOut) {
            error = "--program-change takes in, out or both";
            return std::nullopt;
        }
    }
    if (!error.empty()) return std::nullopt;
    o.recordPads = args->Value("--record-pads").value_or("");
    const bool midi = o.notesOut || o.clockOut || o.clockIn || o.programIn || o.programOut ||
                      !o.recordPads.empty() || args->Value("--notes-channel") || !o.notes.empty();
    if (!o.jack && (args->Value("--transport") || args->Has("--no-connect") || midi)) {
        error = "--transport, --no-connect and the MIDI options go with --jack";
        return std::nullopt;
    }
    if (o.jack &&
        (args->Value("--device") || args->Value("--buffer-size") || args->Value("--latency"))) {
        error = "--device, --buffer-size and --latency do not go with --jack";
        return std::nullopt;
    }
    return o;
}

void InstallStopSignals(struct sigaction& previousInt, struct sigaction& previousTerm) {
    interrupted = false;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;  // no SA_RESTART: the wait returns at once
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

// Tells what following the transport's timebase master did to the Song's tempo.
void NoteMasterTempo(int before, int after, double bpm) {
    if (bpm < kTempoMin - 0.5 || bpm > kTempoMax + 0.5) {
        char text[160];
        std::snprintf(
            text, sizeof text, "the transport's tempo %.2f is outside %d..%d; Q.Tam plays at %d",
            bpm, kTempoMin, kTempoMax,
            static_cast<int>(std::lround(std::clamp(bpm, double(kTempoMin), double(kTempoMax)))));
        Note(text);
    }
    if (after != before)
        Note("tempo " + std::to_string(after) + " from the JACK transport's timebase master");
}

// Tells what following the MIDI clock did to the Song's tempo.
void NoteClockTempo(int before, int after, double bpm) {
    if (after == before) return;
    char text[200];
    char outside[100] = "";
    if (bpm < kTempoMin - 0.5 || bpm > kTempoMax + 0.5)
        std::snprintf(outside, sizeof outside,
                      ", outside %d..%d: played at the clock's tempo all the same", kTempoMin,
                      kTempoMax);
    std::snprintf(text, sizeof text, "tempo %d from the MIDI clock (%.2f BPM%s)", after, bpm,
                  outside);
    Note(text);
}

// Ends the program, with a line on stderr, should it still run kExitWatchdog from now: leaving
// a JACK server can wait on libjack without a time limit.
constexpr auto kExitWatchdog = std::chrono::seconds(10);
void ArmExitWatchdog() {
    std::thread([] {
        std::this_thread::sleep_for(kExitWatchdog);
        static const char text[] =
            "qtam-cli: the JACK client did not close within 10 s; leaving without it\n";
        [[maybe_unused]] const auto written = ::write(2, text, sizeof text - 1);
        ::_exit(kExitFailure);
    }).detach();
}

// Saves the song with the pad hits recorded under exactly `path`. When that fails the hits are
// kept all the same: the song goes to standard output as text, which 'qtam-cli build' reads back.
bool SaveRecordedPads(const Machine& m, const std::string& path) {
    std::string reason;
    if (WriteFileExactly(path, &m.song, kSongSize, reason)) return true;
    CannotWrite(path, reason +
                          "; the recorded song follows as text on standard output "
                          "('qtam-cli build - -o SONG.sng' makes it a song again)");
    std::cout << FormatSongText(m.song) << std::flush;
    return false;
}

// The files a play reads: a target that is one of them is refused.
std::vector<std::string> PlayInputs(const LoadOptions& load) {
    std::vector<std::string> inputs{load.song};
    if (load.kit) inputs.push_back(*load.kit);
    if (load.userbank) inputs.push_back(*load.userbank);
    return inputs;
}

// Song mode for --arrangement; false (told) when the song has none.
bool TakeArrangement(Machine& m, const PlayOptions& o) {
    if (!o.arrangement) return true;
    if (m.arrangement.empty()) {
        Fail(o.load.song + " has no arrangement to play");
        return false;
    }
    m.editor.SongMode = true;
    return true;
}

std::string PlayedWhat(const PlayOptions& o) {
    return o.arrangement ? "the arrangement" : "pattern " + std::to_string(o.load.pattern);
}

// The settings that make the playback driver a JACK client as the options ask.
WaveDeviceSettings JackSettings(const Machine& m, const PlayOptions& o) {
    WaveDeviceSettings s;
    s.AudioSystem = kAudioSystemJack;
    s.JackTransport = o.sync;
    s.JackConnect = o.connect ? 1 : 0;
    s.MidiNotesOut = o.notesOut ? 1 : 0;
    s.MidiChannel = o.midiChannel;
    s.MidiClockOut = o.clockOut ? 1 : 0;
    s.MidiClockIn = o.clockIn ? 1 : 0;
    s.MidiProgramChange = (o.programIn ? 1 : 0) | (o.programOut ? 2 : 0);
    // The notes of the chosen pattern's sounds, as 'qtam-cli midi' gives them, kept all along.
    s.MidiNotesFromSounds = 0;
    s.MidiNotes = DrumNotesOf(m, o.load.pattern);
    for (const auto& [channel, note] : o.notes)
        s.MidiNotes[static_cast<std::size_t>(channel - 1)] = static_cast<std::uint8_t>(note);
    return s;
}

// Plays through JACK as the windows do: the playback driver as a JACK client, steered by the
// transport controller, the song's changes (tempos followed, patterns queued, pads recorded)
// made through the edit layer.
int PlayThroughJack(Machine& m, const PlayOptions& o) {
    EventQueue events;
    PlaybackDriver driver(m, events);
    SongEditor edits(m);
    Transport transport(m, driver, edits);
    driver.ApplySettings(JackSettings(m, o));
    // Armed before the client opens, so that a transport already rolling is taken from its
    // first frame.
    driver.OpenDevice();
    if (!driver.Jack().IsOpen()) return Fail("cannot play through JACK: " + driver.JackError());
    const JackOutput& jack = driver.Jack();
    // Flushed at once: whoever waits for the client (a test, a script) reads this line.
    std::cout << "JACK client " << jack.ClientName() << " at " << jack.Rate() << " Hz, transport "
              << TransportSyncName(o.sync) << (o.clockIn ? ", following the MIDI clock" : "")
              << std::endl;

    // What the transport controller does is told on the way.
    driver.OnTransportTempo = [&, follow = driver.OnTransportTempo](double bpm) {
        const int before = m.song.tempo;
        follow(bpm);
        NoteMasterTempo(before, m.song.tempo, bpm);
    };
    driver.OnClockTempo = [&, follow = driver.OnClockTempo](double bpm) {
        const int before = m.song.tempo;
        follow(bpm);
        NoteClockTempo(before, m.song.tempo, bpm);
    };
    driver.OnTransportNote = [](const std::string& text) { Note(text); };
    driver.OnProgramChange = [queue = driver.OnProgramChange](int pattern) {
        queue(pattern);  // as the pattern keys do: heard from the end of the playing pattern
        Note("pattern " + std::to_string(pattern) + " queued by MIDI program change");
    };
    if (!o.recordPads.empty()) {
        transport.SetRecordingPads(true);
        driver.OnPadPlaced = [&, record = driver.OnPadPlaced](const PlayPosition& at,
                                                              const EngineReport& r) {
            const StepCell before = m.song.cell(at.pattern, at.measure, r.channel, at.step);
            record(at, r);
            const StepCell& after = m.song.cell(at.pattern, at.measure, r.channel, at.step);
            if (std::memcmp(&before, &after, sizeof before) == 0) return;
            Note("recorded channel " + std::to_string(r.channel) + " at pattern " +
                 std::to_string(at.pattern) + " measure " + std::to_string(at.measure) + " step " +
                 std::to_string(at.step));
        };
    }
    std::optional<std::string> lost;
    bool recorded = true;
    driver.OnDeviceLost = [&](const std::string& reason, bool finished) {
        lost = reason;
        recorded = finished;
    };
    if (!o.record.empty() && !StartLiveSession(m, ExactName(o.record)))
        return CannotWrite(o.record, "the recording could not be started");

    struct sigaction previousInt {};
    struct sigaction previousTerm {};
    InstallStopSignals(previousInt, previousTerm);
    const std::int64_t target =
        o.seconds ? static_cast<std::int64_t>(*o.seconds * jack.Rate() + 0.5) : INT64_MAX;
    // Follow waits for the transport, clock in for the clock's Start.
    if (o.sync != TransportSync::Follow && !o.clockIn) transport.Start();
    bool started = false;  // an arrangement that ended has stopped playing
    while (!interrupted && !lost && driver.PlayedFrames() < target &&
           !(o.arrangement && started && !m.Playing)) {
        started = started || m.Playing;
        events.ProcessEvents();
        ::usleep(20000);  // a signal ends the sleep at once: Ctrl-C leaves the server promptly
    }
    // Whatever libjack does on the way out (a server that went away or stopped answering), the
    // program ends.
    ArmExitWatchdog();
    const int rate = jack.Rate();
    const double played = static_cast<double>(driver.PlayedFrames()) / rate;
    const std::uint64_t xruns = jack.Xruns();
    if (!lost && o.sync == TransportSync::Master)
        recorded = transport.Stop();
    else if (!lost)
        recorded = driver.FinishTake();
    driver.CloseDevice();
    const bool padsSaved = o.recordPads.empty() || SaveRecordedPads(m, o.recordPads);
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    if (lost) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f", played);
        Fail("the JACK server went away after " + std::string(seconds) +
             " s of playing: " + jack.LostReason() + "; start it again and play again");
    }
    char line[160];
    std::snprintf(line, sizeof line, "Played %.2f s of %s through JACK, %llu xruns%s\n", played,
                  PlayedWhat(o).c_str(), static_cast<unsigned long long>(xruns),
                  interrupted ? " (interrupted)" : "");
    std::cout << line;
    if (!recorded) CannotWrite(o.record, "the recording could not be finished");
    return lost || !recorded || !padsSaved ? kExitFailure : kExitOk;
}

}  // namespace

int RunPlay(const std::vector<std::string>& words) {
    std::string error;
    const auto options = ParsePlayArgs(words, error);
    if (!options) return UsageFail("play", error);
    const PlayOptions& o = *options;
    // Every file the play writes may be written: said before anything plays.
    for (const std::string& target : {o.record, o.recordPads}) {
        if (target.empty()) continue;
        if (const std::string why = WriteProblem(target, o.force); !why.empty())
            return CannotWrite(target, why);
        if (const std::string input = InputWrittenOver(target, PlayInputs(o.load)); !input.empty())
            return RefuseWritingOverInput(target, input);
    }
    if (o.jack) {
        TerminalPrompter prompter(true);
        auto m = NewMachine(prompter);
        if (!LoadForCommand(*m, o.load) || !TakeArrangement(*m, o)) return kExitFailure;
        ResetTransport(*m);  // measure 1 of the chosen pattern, or of entry 1
        return PlayThroughJack(*m, o);
    }
    TerminalPrompter prompter(true);  // the recording's target was checked above
    auto m = NewMachine(prompter);
    if (!LoadForCommand(*m, o.load) || !TakeArrangement(*m, o)) return kExitFailure;
    ResetTransport(*m);  // measure 1 of the chosen pattern, or of entry 1

    EventQueue events;
    PlaybackDriver driver(*m, events);
    SongEditor edits(*m);
    Transport transport(*m, driver, edits);
    WaveDeviceSettings settings;
    settings.DeviceNum = o.device;
    settings.Buffer_size = o.bufferSize;
    settings.Latency = o.latencyMs;
    driver.ApplySettings(settings);
    bool defaultInstead = false;
    driver.OnDefaultDeviceInstead = [&](int) { defaultInstead = true; };
    WithoutLibraryNoise([&] { driver.OpenDevice(); });
    if (defaultInstead)
        Warning("sound device " + std::to_string(o.device) +
                " is not present; playing through the default device");
    if (!driver.Playback.IsOpen()) {
        const char* reason = SDL_GetError();
        return Fail("cannot open the sound device " + std::to_string(o.device) + ": " +
                    (reason && *reason ? reason : "no reason given by SDL") +
                    "\nhint: without a sound card, record in real time with SDL_AUDIODRIVER=dummy "
                    "and --record OUT.wav, or render at once with 'qtam-cli render'; "
                    "'qtam-cli devices' lists the devices (SDL_AUDIODRIVER chooses the driver)");
    }
    const OpenedSound opened{driver.Playback.SystemName(), driver.Playback.UnderrunsCounted(),
                             driver.Playback.GrantedLatencyMs()};
    if (!o.record.empty() && !StartLiveSession(*m, ExactName(o.record))) {
        prompter.Report(o.record);
        return CannotWrite(o.record, "the recording could not be started");
    }

    interrupted = false;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;  // no SA_RESTART: the wait returns at once
    sigemptyset(&action.sa_mask);
    // Ctrl-C and a kill stop playback as the Stop button does, so a recording is finished.
    struct sigaction previousInt {};
    struct sigaction previousTerm {};
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);

    // Counted from the blocks the device hands back, so the length does not depend on how
    // fast the device takes them.
    const std::int64_t target =
        o.seconds ? static_cast<std::int64_t>(*o.seconds * 44100.0 + 0.5) : INT64_MAX;
    // The driver watches the device: a lost one (a removed device, a sound server gone, a
    // device that takes nothing) stops playback as Stop does and finishes the recording.
    std::optional<std::string> lost;
    bool recorded = true;
    driver.OnDeviceLost = [&](const std::string& reason, bool finished) {
        lost = reason;
        recorded = finished;
    };
    transport.Start();
    // An arrangement that ends stops playing by itself.
    while (!interrupted && !lost && driver.PlayedFrames() < target && m->Playing)
        events.WaitAndProcess(std::chrono::milliseconds(200));
    if (!lost) recorded = transport.Stop();  // finishes a recording
    const std::string sound = SoundReport(opened, driver);
    driver.CloseDevice();
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);

    const double played = static_cast<double>(driver.PlayedFrames()) / 44100.0;
    if (lost) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f", played);
        Fail("the sound device was lost after " + std::string(seconds) + " s of playing: " + *lost);
    }
    if (!recorded) {
        prompter.Report(o.record);
        CannotWrite(o.record, "the recording could not be finished");
    }
    char line[120];
    std::snprintf(line, sizeof line, "Played %.2f s of %s%s\n", played, PlayedWhat(o).c_str(),
                  interrupted ? " (interrupted)"
                  : lost      ? " (the sound device was lost)"
                              : "");
    std::cout << line << sound << "\n";
    return recorded && !lost ? kExitOk : kExitFailure;
}

int RunDevices(const std::vector<std::string>& words) {
    std::string error;
    const auto args = ParseArgs(words, {}, error);
    if (!args) return UsageFail("devices", error);
    if (!args->positional.empty()) return UsageFail("devices", "devices takes no arguments");
    std::vector<std::string> list;
    WithoutLibraryNoise([&] { list = OutputDeviceList(); });
    for (std::size_t i = 0; i < list.size(); ++i) std::cout << i << "  " << list[i] << "\n";
    return kExitOk;
}

}  // namespace qtam::cli
