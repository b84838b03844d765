#pragma once
// The output-device choice and the playback block size, as kept in the "WaveDevice" section
// of the configuration file.

#include <array>
#include <cstdint>
#include <string>

#include "core/config.h"

namespace qtam {

inline constexpr int kMaxListedDevices = 10;
inline constexpr int kMinBufferSize = 2;
inline constexpr int kMaxBufferSize = 10;
inline constexpr int kDefaultBufferSize = 8;
inline constexpr int kFramesPerBufferUnit = 1024;

// The latency's bounds and default: kMinLatencyMs, kMaxLatencyMs, kDefaultLatencyMs
// (core/config.h).

inline constexpr int kAudioSystemSdl = 0;
inline constexpr int kAudioSystemJack = 1;
// What the live engine does with a host's transport (JACK's today); the numbers are those
// QTam.ini keeps (JackTransport) and the setup's list shows in order.
enum class TransportSync : int {
    Off = 0,     // plays on its own when started, ignores the transport
    Follow = 1,  // plays while the transport rolls, from the position it gives
    Master = 2,  // as Follow, and gives bar, beat, tick and tempo as the timebase master
};
// A stored number as a TransportSync, kept within range.
inline TransportSync TransportSyncOf(int number) {
    return static_cast<TransportSync>(number < 0 ? 0 : number > 2 ? 2 : number);
}

struct WaveDeviceSettings {
    int DeviceNum = 0;    // 0 = default device, n = 1..10 the n-th listed device
    int DeviceSetup = 0;  // 1 once the setup dialog has been confirmed; stored only
    int NumDevices = 0;   // devices listed when the dialog was last confirmed; stored only
    int Buffer_size = kDefaultBufferSize;  // playback block size in units of 1024 frames
    int Latency = kDefaultLatencyMs;       // asked of a PulseAudio server, in milliseconds
    int AudioSystem = kAudioSystemSdl;     // the system sound through SDL, or JACK
    int JackConnect = 1;                   // JACK: main_L/main_R to the system playback ports
    TransportSync JackTransport =
        TransportSync::Follow;  // JACK: what Q.Tam does with the transport
    // JACK MIDI (QTam.ini's [Midi]): notes out and their channel, clock out, program change
    // (0 off, 1 in, 2 out, 3 both), and each channel's note, out and in.
    int MidiNotesOut = 1;
    int MidiChannel = 10;
    int MidiClockOut = 0;
    int MidiClockIn = 0;
    int MidiProgramChange = 0;
    std::array<std::uint8_t, 8> MidiNotes = kDefaultMidiNotes;
    // 1: each channel's note is the one the MIDI file export gives its sound (the playback
    // driver's NotesOfSounds), and MidiNotes is kept for when it is 0.
    int MidiNotesFromSounds = 1;
};

// The notes' text in QTam.ini: MidiNotesText and ParseMidiNotes (core/config.h).

// Frames per playback block. A value out of 2..10 (a hand-edited configuration) is pulled
// into the range, since one staging half holds at most 10240 frames.
std::int32_t BlockFramesOf(int bufferSize);

// The one response slider sets both how far ahead the engine prepares sound (the block size)
// and what is asked of a sound server: the server's latency for each slider position, from
// 20 ms at "Faster response" to 500 ms at "Slower response"; 120 ms at the default position.
int LatencyOfBufferSize(int bufferSize);

// What confirming the setup dialog stores: the chosen list entry (0 = default device, or
// -1 when nothing was selected), the slider position and what it gives the sound server, and
// the number of devices listed.
void ApplyDeviceChoice(WaveDeviceSettings& settings, int chosenEntry, int chosenBufferSize,
                       int numDevices);

}  // namespace qtam
