#pragma once
// The program's configuration "QTam.ini": read once at start-up, written once at exit. Lines
// and sections the program does not own are kept.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/profile.h"

namespace qtam {

struct Machine;

inline constexpr const char* kConfigFileName = "QTam.ini";
inline constexpr const char* kProductText = "Q.Tam Vediveve Duzuda Duvivir";
inline constexpr const char* kVersionText = "1.0.0 International (Build March 1998)";
inline constexpr const char* kAuthorText =
    "Q.Tam drum machine by Vellmarch; program written for Vellmarch by the Q.Tam developers";

// The main window's design placement.
inline constexpr int kDesignLeft = 250;
inline constexpr int kDesignTop = 212;
inline constexpr int kDesignWidth = 644;
inline constexpr int kDesignHeight = 480;

// The latency asked of a PulseAudio server, in milliseconds (engine/audio/pulse_stream.h):
// the default leaves room for pauses of the whole machine of 40 ms and more.
inline constexpr int kMinLatencyMs = 20;
inline constexpr int kMaxLatencyMs = 500;
inline constexpr int kDefaultLatencyMs = 120;

// Each channel's MIDI note (General MIDI drums) until the user chooses others, and the export's
// note for a sound whose name says nothing: kick, snare, closed and open hat, clap, tom, crash,
// ride.
inline constexpr std::array<std::uint8_t, 8> kDefaultMidiNotes{36, 38, 42, 46, 39, 45, 49, 51};

// The channels' notes as QTam.ini keeps them ("36,38,42,46,39,45,49,51"); ParseMidiNotes
// leaves `notes` as it was and returns false unless the text is eight notes 0..127.
std::string MidiNotesText(const std::array<std::uint8_t, 8>& notes);
bool ParseMidiNotes(const std::string& text, std::array<std::uint8_t, 8>& notes);

// Every setting of the file; the defaults are what a missing file or key gives.
struct ConfigSettings {
    int Times_Used = 0;  // as read; written back plus 1
    std::string Songfolder;
    std::string Bankfolder;
    std::string Samplefolder;
    std::string Userbank;
    int DeviceNum = 0;
    int DeviceSetup = 0;
    int NumDevices = 0;
    int Buffer_size = 8;              // kept within 2..10
    int Latency = kDefaultLatencyMs;  // kept within kMinLatencyMs..kMaxLatencyMs
    int AudioSystem = 0;              // 0 the system sound (SDL), 1 JACK
    int JackConnect = 1;              // 1: JACK's main pair goes to the system playback ports
    int JackTransport = 1;            // 0 off, 1 follow, 2 master
    // [Midi]: the JACK MIDI ports (engine/audio/jack_output.h). Notes: each channel's drum
    // note, out and in, channel 1 first, separated by commas.
    int MidiNotesOut = 1;
    int MidiChannel = 10;  // 1..16
    int MidiClockOut = 0;
    int MidiClockIn = 0;
    int MidiProgramChange = 0;  // 0 off, 1 in, 2 out, 3 both
    std::string MidiNotes = MidiNotesText(kDefaultMidiNotes);
    int MidiNotesFromSounds = 1;  // 1: each channel's note is its sound's, not Notes
    int PosX = kDesignLeft;
    int PosY = kDesignTop;
    int Width = kDesignWidth;
    int Height = kDesignHeight;
    int State = 0;  // nonzero: the main window is maximised
    // The file held the main window's place (false on a first run: the window is centred).
    bool Placed = false;
    // The groove panel's place, its frame's top left (not held: below the main window's menus).
    int PanelPosX = 0;
    int PanelPosY = 0;
    bool PanelPlaced = false;
    // The pattern grid: shown at exit, and its place (0 wide: never placed).
    int GridShown = 0;
    int GridPosX = 0;
    int GridPosY = 0;
    int GridWidth = 0;
    int GridHeight = 0;
    // [Metronome]: the click on every beat while playing, its level in percent, and the
    // measure counted in before a start with Record pads on, or before every start.
    int MetronomeOn = 0;
    int MetronomeLevel = 70;  // 0..100
    int CountInRecord = 1;
    int CountInStart = 0;
    // [Recent]: the songs last opened or saved, the newest first (Song1..Song8).
    std::vector<std::string> RecentSongs;
    // The arrangement window, as the grid.
    int ArrangementShown = 0;
    int ArrangementPosX = 0;
    int ArrangementPosY = 0;
    int ArrangementWidth = 0;
    int ArrangementHeight = 0;
};

// File > Recent songs holds this many.
inline constexpr int kRecentSongs = 8;
// `path` goes first; a second copy of it goes, and so does what falls past kRecentSongs.
void RememberRecentSong(std::vector<std::string>& list, const std::string& path);
// Takes `path` off the list (a file that has gone).
void ForgetRecentSong(std::vector<std::string>& list, const std::string& path);

// "Unable to write to " and the file's name.
std::string UnableToWriteText(const std::string& fileName);

// Where the file lives: $QTAM_CONFIG, else $XDG_CONFIG_HOME/QTam/QTam.ini, else
// $HOME/.config/QTam/QTam.ini (relative names in the variables are ignored, as the XDG rules
// ask).
std::string ConfigurationPath();

// The settings from a profile; missing keys and texts that are no number give the defaults.
ConfigSettings ReadConfigSettings(const PrivateProfile& profile);
// Every key into the profile, in the order they are written at exit (Times_Used
// counted up by one).
void WriteConfigSettings(const ConfigSettings& settings, PrivateProfile& profile);

// The folders and the userbank path go to and come from the Machine.
void ApplyConfigSettings(const ConfigSettings& settings, Machine& m);
void TakeConfigSettings(const Machine& m, ConfigSettings& settings);

// The file with what was read from it.
class ConfigFile {
public:
    explicit ConfigFile(std::string path) : path_(std::move(path)) {}

    // Reads the file; a missing file gives the defaults.
    void Read();
    // Writes the settings into the kept profile and the profile to the file. False when the
    // file could not be written (or could not be read at start-up, so that replacing it would
    // lose what it holds); the previous file is then unchanged.
    bool Write(std::string* error = nullptr);
    // The file was read-only at start-up: the user keeps it as it is, and Write leaves it alone.
    bool ReadOnly() const { return readOnly_; }

    const std::string& path() const { return path_; }
    ConfigSettings settings;

private:
    std::string path_;
    PrivateProfile profile_;
    bool unreadable_ = false;
    bool readOnly_ = false;
};

}  // namespace qtam
