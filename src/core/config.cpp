#include "core/config.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "core/machine.h"

namespace qtam {

namespace {

constexpr const char* kGeneral = "General";
constexpr const char* kPaths = "Paths";
constexpr const char* kWaveDevice = "WaveDevice";
constexpr const char* kMidi = "Midi";
constexpr const char* kWindow = "Window";
constexpr const char* kMetronome = "Metronome";
constexpr const char* kRecent = "Recent";

std::string RecentKey(int n) {
    return "Song" + std::to_string(n);
}

std::string Variable(const char* name) {
    const char* v = std::getenv(name);
    return v == nullptr ? std::string() : std::string(v);
}

}  // namespace

std::string MidiNotesText(const std::array<std::uint8_t, 8>& notes) {
    std::string text;
    for (std::uint8_t n : notes) text += (text.empty() ? "" : ",") + std::to_string(n);
    return text;
}

bool ParseMidiNotes(const std::string& text, std::array<std::uint8_t, 8>& notes) {
    std::array<std::uint8_t, 8> read{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < read.size(); ++i) {
        if (i > 0 && (at >= text.size() || text[at++] != ',')) return false;
        int value = 0, digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4)
            value = value * 10 + (text[at++] - '0'), ++digits;
        if (digits == 0 || digits > 3 || value > 127) return false;
        read[i] = static_cast<std::uint8_t>(value);
    }
    if (at != text.size()) return false;
    notes = read;
    return true;
}

std::string UnableToWriteText(const std::string& fileName) {
    return "Unable to write to " + fileName;
}

std::string ConfigurationPath() {
    std::string explicitPath = Variable("QTAM_CONFIG");
    if (!explicitPath.empty()) return explicitPath;
    std::string base = Variable("XDG_CONFIG_HOME");
    if (base.empty() || base.front() != '/') {
        const std::string home = Variable("HOME");
        base = (home.empty() ? std::string(".") : home) + "/.config";
    }
    return base + "/QTam/" + kConfigFileName;
}

ConfigSettings ReadConfigSettings(const PrivateProfile& p) {
    ConfigSettings s;
    s.Times_Used = p.ReadInteger(kGeneral, "Times_Used", s.Times_Used);
    s.Songfolder = p.ReadString(kPaths, "Songfolder", s.Songfolder);
    s.Bankfolder = p.ReadString(kPaths, "Bankfolder", s.Bankfolder);
    s.Samplefolder = p.ReadString(kPaths, "Samplefolder", s.Samplefolder);
    s.Userbank = p.ReadString(kPaths, "Userbank", s.Userbank);
    s.DeviceNum = p.ReadInteger(kWaveDevice, "DeviceNum", s.DeviceNum);
    s.DeviceSetup = p.ReadInteger(kWaveDevice, "DeviceSetup", s.DeviceSetup);
    s.NumDevices = p.ReadInteger(kWaveDevice, "NumDevices", s.NumDevices);
    // The staging buffer holds blocks of 2..10 units only.
    s.Buffer_size = std::clamp(p.ReadInteger(kWaveDevice, "Buffer_size", s.Buffer_size), 2, 10);
    s.Latency =
        std::clamp(p.ReadInteger(kWaveDevice, "Latency", s.Latency), kMinLatencyMs, kMaxLatencyMs);
    s.AudioSystem = std::clamp(p.ReadInteger(kWaveDevice, "AudioSystem", s.AudioSystem), 0, 1);
    s.JackConnect = std::clamp(p.ReadInteger(kWaveDevice, "JackConnect", s.JackConnect), 0, 1);
    s.JackTransport =
        std::clamp(p.ReadInteger(kWaveDevice, "JackTransport", s.JackTransport), 0, 2);
    s.MidiNotesOut = std::clamp(p.ReadInteger(kMidi, "NotesOut", s.MidiNotesOut), 0, 1);
    s.MidiChannel = std::clamp(p.ReadInteger(kMidi, "Channel", s.MidiChannel), 1, 16);
    s.MidiClockOut = std::clamp(p.ReadInteger(kMidi, "ClockOut", s.MidiClockOut), 0, 1);
    s.MidiClockIn = std::clamp(p.ReadInteger(kMidi, "ClockIn", s.MidiClockIn), 0, 1);
    s.MidiProgramChange =
        std::clamp(p.ReadInteger(kMidi, "ProgramChange", s.MidiProgramChange), 0, 3);
    s.MidiNotes = p.ReadString(kMidi, "Notes", s.MidiNotes);
    s.MidiNotesFromSounds =
        std::clamp(p.ReadInteger(kMidi, "NotesFromSounds", s.MidiNotesFromSounds), 0, 1);
    s.PosX = p.ReadInteger(kWindow, "PosX", s.PosX);
    s.PosY = p.ReadInteger(kWindow, "PosY", s.PosY);
    s.Width = p.ReadInteger(kWindow, "Width", s.Width);
    s.Height = p.ReadInteger(kWindow, "Height", s.Height);
    s.State = p.ReadInteger(kWindow, "State", s.State);
    s.Placed = p.Has(kWindow, "PosX") && p.Has(kWindow, "PosY");
    s.PanelPosX = p.ReadInteger(kWindow, "PanelPosX", s.PanelPosX);
    s.PanelPosY = p.ReadInteger(kWindow, "PanelPosY", s.PanelPosY);
    s.PanelPlaced = p.Has(kWindow, "PanelPosX") && p.Has(kWindow, "PanelPosY");
    s.GridShown = p.ReadInteger(kWindow, "GridShown", s.GridShown);
    s.GridPosX = p.ReadInteger(kWindow, "GridPosX", s.GridPosX);
    s.GridPosY = p.ReadInteger(kWindow, "GridPosY", s.GridPosY);
    s.GridWidth = p.ReadInteger(kWindow, "GridWidth", s.GridWidth);
    s.GridHeight = p.ReadInteger(kWindow, "GridHeight", s.GridHeight);
    s.MetronomeOn = std::clamp(p.ReadInteger(kMetronome, "On", s.MetronomeOn), 0, 1);
    s.MetronomeLevel = std::clamp(p.ReadInteger(kMetronome, "Level", s.MetronomeLevel), 0, 100);
    s.CountInRecord = std::clamp(p.ReadInteger(kMetronome, "CountInRecord", s.CountInRecord), 0, 1);
    s.CountInStart = std::clamp(p.ReadInteger(kMetronome, "CountInStart", s.CountInStart), 0, 1);
    // Read oldest first, so that each newer one goes before it.
    for (int n = kRecentSongs; n >= 1; --n) {
        const std::string song = p.ReadString(kRecent, RecentKey(n), "");
        if (!song.empty()) RememberRecentSong(s.RecentSongs, song);
    }
    s.ArrangementShown = p.ReadInteger(kWindow, "ArrangementShown", s.ArrangementShown);
    s.ArrangementPosX = p.ReadInteger(kWindow, "ArrangementPosX", s.ArrangementPosX);
    s.ArrangementPosY = p.ReadInteger(kWindow, "ArrangementPosY", s.ArrangementPosY);
    s.ArrangementWidth = p.ReadInteger(kWindow, "ArrangementWidth", s.ArrangementWidth);
    s.ArrangementHeight = p.ReadInteger(kWindow, "ArrangementHeight", s.ArrangementHeight);
    return s;
}

void WriteConfigSettings(const ConfigSettings& s, PrivateProfile& p) {
    p.WriteString(kGeneral, "Product", kProductText);
    p.WriteString(kGeneral, "Version", kVersionText);
    p.WriteString(kGeneral, "Author", kAuthorText);
    // A start counter at the top of the range stays there.
    p.WriteInteger(kGeneral, "Times_Used",
                   s.Times_Used < 0x7fffffff ? s.Times_Used + 1 : s.Times_Used);
    p.WriteString(kPaths, "Songfolder", s.Songfolder);
    p.WriteString(kPaths, "Bankfolder", s.Bankfolder);
    p.WriteString(kPaths, "Samplefolder", s.Samplefolder);
    p.WriteString(kPaths, "Userbank", s.Userbank);
    p.WriteInteger(kWaveDevice, "DeviceNum", s.DeviceNum);
    p.WriteInteger(kWaveDevice, "DeviceSetup", s.DeviceSetup);
    p.WriteInteger(kWaveDevice, "NumDevices", s.NumDevices);
    p.WriteInteger(kWaveDevice, "Buffer_size", s.Buffer_size);
    p.WriteInteger(kWaveDevice, "Latency", s.Latency);
    p.WriteInteger(kWaveDevice, "AudioSystem", s.AudioSystem);
    p.WriteInteger(kWaveDevice, "JackConnect", s.JackConnect);
    p.WriteInteger(kWaveDevice, "JackTransport", s.JackTransport);
    p.WriteInteger(kMidi, "NotesOut", s.MidiNotesOut);
    p.WriteInteger(kMidi, "Channel", s.MidiChannel);
    p.WriteInteger(kMidi, "ClockOut", s.MidiClockOut);
    p.WriteInteger(kMidi, "ClockIn", s.MidiClockIn);
    p.WriteInteger(kMidi, "ProgramChange", s.MidiProgramChange);
    p.WriteString(kMidi, "Notes", s.MidiNotes);
    p.WriteInteger(kMidi, "NotesFromSounds", s.MidiNotesFromSounds);
    p.WriteInteger(kWindow, "PosX", s.PosX);
    p.WriteInteger(kWindow, "PosY", s.PosY);
    p.WriteInteger(kWindow, "Width", s.Width);
    p.WriteInteger(kWindow, "Height", s.Height);
    p.WriteInteger(kWindow, "State", s.State);
    p.WriteInteger(kWindow, "PanelPosX", s.PanelPosX);
    p.WriteInteger(kWindow, "PanelPosY", s.PanelPosY);
    p.WriteInteger(kWindow, "GridShown", s.GridShown);
    p.WriteInteger(kWindow, "GridPosX", s.GridPosX);
    p.WriteInteger(kWindow, "GridPosY", s.GridPosY);
    p.WriteInteger(kWindow, "GridWidth", s.GridWidth);
    p.WriteInteger(kWindow, "GridHeight", s.GridHeight);
    p.WriteInteger(kWindow, "ArrangementShown", s.ArrangementShown);
    p.WriteInteger(kWindow, "ArrangementPosX", s.ArrangementPosX);
    p.WriteInteger(kWindow, "ArrangementPosY", s.ArrangementPosY);
    p.WriteInteger(kWindow, "ArrangementWidth", s.ArrangementWidth);
    p.WriteInteger(kWindow, "ArrangementHeight", s.ArrangementHeight);
    p.WriteInteger(kMetronome, "On", s.MetronomeOn);
    p.WriteInteger(kMetronome, "Level", s.MetronomeLevel);
    p.WriteInteger(kMetronome, "CountInRecord", s.CountInRecord);
    p.WriteInteger(kMetronome, "CountInStart", s.CountInStart);
    for (int n = 1; n <= kRecentSongs; ++n) {
        const auto i = static_cast<std::size_t>(n - 1);
        p.WriteString(kRecent, RecentKey(n), i < s.RecentSongs.size() ? s.RecentSongs[i] : "");
    }
}

void RememberRecentSong(std::vector<std::string>& list, const std::string& path) {
    if (path.empty()) return;
    ForgetRecentSong(list, path);
    list.insert(list.begin(), path);
    if (list.size() > static_cast<std::size_t>(kRecentSongs)) list.resize(kRecentSongs);
}

void ForgetRecentSong(std::vector<std::string>& list, const std::string& path) {
    std::erase(list, path);
}

void ApplyConfigSettings(const ConfigSettings& s, Machine& m) {
    m.editor.SongFolder = s.Songfolder;
    m.activation.BankFolder = s.Bankfolder;
    m.activation.SampleFolder = s.Samplefolder;
    m.activation.UserbankPath = s.Userbank;
}

void TakeConfigSettings(const Machine& m, ConfigSettings& s) {
    s.Songfolder = m.editor.SongFolder;
    s.Bankfolder = m.activation.BankFolder;
    s.Samplefolder = m.activation.SampleFolder;
    s.Userbank = m.activation.UserbankPath.empty() ? m.activation.MissingUserbankPath
                                                   : m.activation.UserbankPath;
}

void ConfigFile::Read() {
    struct stat st {};
    readOnly_ = ::stat(path_.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
    unreadable_ = LoadProfile(path_, profile_) == ProfileRead::Unreadable;
    settings = ReadConfigSettings(profile_);
}

bool ConfigFile::Write(std::string* error) {
    if (unreadable_ || readOnly_) {
        if (error != nullptr)
            *error =
                unreadable_ ? "the file could not be read at start-up" : "the file is read-only";
        return false;
    }
    WriteConfigSettings(settings, profile_);
    return SaveProfile(path_, profile_, error);
}

}  // namespace qtam
