// Q.Tam as a CLAP instrument: the plugin's ports, parameters and state, translated into the
// instrument's calls (plugin/instrument.h). Audio out is nine stereo ports: the main pair
// (the main port), then each channel's; one note port in and one out, speaking MIDI.

#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/note-ports.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/timer-support.h>
#include <clap/plugin-factory.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin/instrument.h"
#include "plugin/plugin_info.h"
#include "plugin/window_api.h"

namespace qtam::plugin {
namespace {

constexpr std::uint32_t kAudioPorts = 1 + kChannels;
constexpr std::uint32_t kMaxRun = 4096;  // the longest run mixed at once
constexpr char kStateMagic[4] = {'Q', 'T', 'S', '1'};

const char* kFeatures[] = {CLAP_PLUGIN_FEATURE_INSTRUMENT, CLAP_PLUGIN_FEATURE_DRUM_MACHINE,
                           CLAP_PLUGIN_FEATURE_STEREO, nullptr};

const clap_plugin_descriptor_t kDescriptor = {
    CLAP_VERSION_INIT, kClapId, kPluginName, kVendor, "", "", "", "1.0", kDescription, kFeatures};

struct ClapInstrument {
    clap_plugin_t plugin{};
    const clap_host_t* host = nullptr;
    std::unique_ptr<Instrument> instrument;
    double rate = 44100;
    HostTransport transport;
    // The parameters' values as the host last heard them: the window's space bar or its
    // arrangement turns Play and Song mode, and the host is told (ToldHost).
    std::atomic<float> told[kParamCount];
    MidiMessage midi[LiveEngine::kMaxMidiIn] = {};
    float scratch[kMaxRun] = {};
    // The window (gui): its library, loaded when the first is wanted, and the window itself.
    void* windowLibrary = nullptr;
    const WindowApi* windowApi = nullptr;
    void* window = nullptr;
    bool floating = false;
    bool userClosed = false;  // the user closed the floating window: the host is told next
    clap_id timer = CLAP_INVALID_ID;
};

ClapInstrument* Self(const clap_plugin_t* plugin) {
    return static_cast<ClapInstrument*>(plugin->plugin_data);
}

// The host's transport at an event (or the block's start) in the engine's terms.
void TakeTransport(ClapInstrument& p, const clap_event_transport_t& e) {
    HostTransport& t = p.transport;
    t = {};
    t.known = true;
    t.rolling = (e.flags & CLAP_TRANSPORT_IS_PLAYING) != 0;
    const bool beats = (e.flags & CLAP_TRANSPORT_HAS_BEATS_TIMELINE) != 0;
    const bool tempo = (e.flags & CLAP_TRANSPORT_HAS_TEMPO) != 0 && e.tempo > 0;
    if (e.flags & CLAP_TRANSPORT_HAS_SECONDS_TIMELINE)
        t.frame = std::llround(double(e.song_pos_seconds) / CLAP_SECTIME_FACTOR * p.rate);
    else if (beats && tempo)
        t.frame =
            std::llround(double(e.song_pos_beats) / CLAP_BEATTIME_FACTOR * 60.0 / e.tempo * p.rate);
    if (!beats || !tempo) return;
    // CLAP counts bars from 0 and beats in quarter notes; the bar's beats in its denominator.
    const int denominator =
        (e.flags & CLAP_TRANSPORT_HAS_TIME_SIGNATURE) && e.tsig_denom ? e.tsig_denom : 4;
    const double inBar =
        double(e.song_pos_beats - e.bar_start) / CLAP_BEATTIME_FACTOR * denominator / 4.0;
    if (inBar < 0 || e.bar_number < 0) return;
    t.bbt = true;
    t.bar = e.bar_number + 1;
    t.beat = static_cast<std::int32_t>(inBar) + 1;
    t.ticksPerBeat = LiveEngine::kTicksPerBeat;
    t.tick = (inBar - std::floor(inBar)) * t.ticksPerBeat;
    t.beatsPerBar = (e.flags & CLAP_TRANSPORT_HAS_TIME_SIGNATURE) && e.tsig_num ? e.tsig_num : 4;
    t.bpm = e.tempo * denominator / 4.0;
}

// Frames [from, to) of the block with the MIDI gathered for them.
void Run(ClapInstrument& p, const clap_process_t* process, std::uint32_t from, std::uint32_t to,
         int midiCount) {
    int next = 0;
    while (from < to) {
        const std::uint32_t n = std::min(to - from, kMaxRun);
        float* ports[LiveEngine::kPorts];
        for (std::uint32_t port = 0; port < kAudioPorts; ++port) {
            const bool there = port < process->audio_outputs_count &&
                               process->audio_outputs[port].channel_count >= 2 &&
                               process->audio_outputs[port].data32;
            for (int side = 0; side < 2; ++side)
                ports[2 * port + side] =
                    there ? process->audio_outputs[port].data32[side] + from : p.scratch;
        }
        const int first = next;
        for (; next < midiCount && p.midi[next].frame < from + n; ++next)
            p.midi[next].frame -= std::min(p.midi[next].frame, from);
        p.instrument->Process(n, p.transport, p.midi + first, next - first, ports);
        p.transport.Advance(n, p.rate);
        const MidiMessage* out = p.instrument->MidiOut();
        for (int i = 0; i < p.instrument->MidiOutCount(); ++i) {
            clap_event_midi_t e{};
            e.header = {sizeof e, from + out[i].frame, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI,
                        0};
            e.port_index = 0;
            std::memcpy(e.data, out[i].bytes, 3);
            process->out_events->try_push(process->out_events, &e.header);
        }
        from += n;
    }
}

void TakeParam(ClapInstrument& p, const clap_event_header_t* h) {
    if (h->type != CLAP_EVENT_PARAM_VALUE) return;
    const auto* e = reinterpret_cast<const clap_event_param_value_t*>(h);
    const int id = static_cast<int>(e->param_id);
    p.instrument->SetParam(id, static_cast<float>(e->value));
    if (id >= 0 && id < kParamCount)
        p.told[id].store(p.instrument->Param(id), std::memory_order_relaxed);
}

// Whether a parameter changed inside the plugin since the host heard of it.
bool HostBehind(const ClapInstrument& p) {
    for (int i = 0; i < kParamCount; ++i)
        if (p.told[i].load(std::memory_order_relaxed) != p.instrument->Param(i)) return true;
    return false;
}

// Tells the host the parameters that changed inside the plugin, at frame `at`.
// Thread: the audio thread (or the main thread's flush when nothing processes).
void ToldHost(ClapInstrument& p, const clap_output_events_t* out, std::uint32_t at) {
    if (out == nullptr) return;
    for (int i = 0; i < kParamCount; ++i) {
        const float value = p.instrument->Param(i);
        if (p.told[i].load(std::memory_order_relaxed) == value) continue;
        clap_event_param_value_t e{};
        e.header = {sizeof e, at, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        e.param_id = static_cast<clap_id>(i);
        e.note_id = -1;
        e.port_index = e.channel = e.key = -1;
        e.value = value;
        if (out->try_push(out, &e.header)) p.told[i].store(value, std::memory_order_relaxed);
    }
}

// A note event as the MIDI the engine reads.
bool TakeNote(const clap_event_header_t* h, MidiMessage& m) {
    if (h->type == CLAP_EVENT_MIDI) {
        const auto* e = reinterpret_cast<const clap_event_midi_t*>(h);
        std::memcpy(m.bytes, e->data, 3);
        m.size = 3;
        return true;
    }
    if (h->type != CLAP_EVENT_NOTE_ON && h->type != CLAP_EVENT_NOTE_OFF) return false;
    const auto* e = reinterpret_cast<const clap_event_note_t*>(h);
    if (e->key < 0 || e->key > 127) return false;
    const int channel = e->channel >= 0 && e->channel < 16 ? e->channel : 9;
    m.bytes[0] = static_cast<std::uint8_t>((h->type == CLAP_EVENT_NOTE_ON ? 0x90 : 0x80) | channel);
    m.bytes[1] = static_cast<std::uint8_t>(e->key);
    m.bytes[2] = static_cast<std::uint8_t>(std::clamp(std::lround(e->velocity * 127), 1L, 127L));
    m.size = 3;
    return true;
}

clap_process_status Process(const clap_plugin_t* plugin, const clap_process_t* process) {
    ClapInstrument& p = *Self(plugin);
    if (process->transport)
        TakeTransport(p, *process->transport);
    else
        p.transport = {};
    const clap_input_events_t* in = process->in_events;
    const std::uint32_t count = in ? in->size(in) : 0;
    std::uint32_t done = 0;
    int midiCount = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const clap_event_header_t* h = in->get(in, i);
        if (h->space_id != CLAP_CORE_EVENT_SPACE_ID) continue;
        const std::uint32_t at = std::clamp(h->time, done, process->frames_count);
        TakeParam(p, h);
        if (h->type == CLAP_EVENT_TRANSPORT) {
            Run(p, process, done, at, midiCount);
            midiCount = 0;
            done = at;
            TakeTransport(p, *reinterpret_cast<const clap_event_transport_t*>(h));
        } else if (midiCount < LiveEngine::kMaxMidiIn && TakeNote(h, p.midi[midiCount])) {
            p.midi[midiCount++].frame = at;
        }
    }
    Run(p, process, done, process->frames_count, midiCount);
    ToldHost(p, process->out_events, process->frames_count > 0 ? process->frames_count - 1 : 0);
    return CLAP_PROCESS_CONTINUE;
}

// ---- Ports

std::uint32_t AudioPortCount(const clap_plugin_t*, bool input) {
    return input ? 0 : kAudioPorts;
}

bool AudioPortInfo(const clap_plugin_t*, std::uint32_t index, bool input,
                   clap_audio_port_info_t* info) {
    if (input || index >= kAudioPorts) return false;
    *info = {};
    info->id = index;
    if (index == 0)
        std::snprintf(info->name, sizeof info->name, "Main");
    else
        std::snprintf(info->name, sizeof info->name, "Channel %u", index);
    info->flags = index == 0 ? CLAP_AUDIO_PORT_IS_MAIN : 0;
    info->channel_count = 2;
    info->port_type = CLAP_PORT_STEREO;
    info->in_place_pair = CLAP_INVALID_ID;
    return true;
}

const clap_plugin_audio_ports_t kAudioPortsExt = {AudioPortCount, AudioPortInfo};

std::uint32_t NotePortCount(const clap_plugin_t*, bool) {
    return 1;
}

bool NotePortInfo(const clap_plugin_t*, std::uint32_t index, bool input,
                  clap_note_port_info_t* info) {
    if (index != 0) return false;
    *info = {};
    info->id = 0;
    info->supported_dialects =
        CLAP_NOTE_DIALECT_MIDI | (input ? std::uint32_t(CLAP_NOTE_DIALECT_CLAP) : 0u);
    info->preferred_dialect = CLAP_NOTE_DIALECT_MIDI;
    std::snprintf(info->name, sizeof info->name, input ? "MIDI in" : "MIDI out");
    return true;
}

const clap_plugin_note_ports_t kNotePortsExt = {NotePortCount, NotePortInfo};

// ---- Parameters

std::uint32_t ParamCount(const clap_plugin_t*) {
    return kParamCount;
}

bool ParamInfo(const clap_plugin_t*, std::uint32_t index, clap_param_info_t* info) {
    if (index >= std::uint32_t(kParamCount)) return false;
    const plugin::ParamInfo p = ParamInfoOf(static_cast<int>(index));
    *info = {};
    info->id = index;
    info->flags = CLAP_PARAM_IS_AUTOMATABLE | (p.integer ? CLAP_PARAM_IS_STEPPED : 0);
    std::snprintf(info->name, sizeof info->name, "%s", p.name.c_str());
    info->min_value = p.min;
    info->max_value = p.max;
    info->default_value = p.def;
    return true;
}

bool ParamValue(const clap_plugin_t* plugin, clap_id id, double* value) {
    if (id >= std::uint32_t(kParamCount)) return false;
    *value = Self(plugin)->instrument->Param(static_cast<int>(id));
    return true;
}

bool ParamText(const clap_plugin_t*, clap_id id, double value, char* text, std::uint32_t size) {
    if (id >= std::uint32_t(kParamCount)) return false;
    if (ParamInfoOf(static_cast<int>(id)).toggle)
        std::snprintf(text, size, "%s", value >= 0.5 ? "on" : "off");
    else
        std::snprintf(text, size, "%d", static_cast<int>(std::lround(value)));
    return true;
}

bool ParamFromText(const clap_plugin_t*, clap_id id, const char* text, double* value) {
    if (id >= std::uint32_t(kParamCount)) return false;
    if (std::strcmp(text, "on") == 0 || std::strcmp(text, "off") == 0) {
        *value = text[1] == 'n';
        return true;
    }
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end != text;
}

void ParamFlush(const clap_plugin_t* plugin, const clap_input_events_t* in,
                const clap_output_events_t* out) {
    for (std::uint32_t i = 0, n = in ? in->size(in) : 0; i < n; ++i)
        TakeParam(*Self(plugin), in->get(in, i));
    ToldHost(*Self(plugin), out, 0);
}

const clap_plugin_params_t kParamsExt = {ParamCount, ParamInfo,     ParamValue,
                                         ParamText,  ParamFromText, ParamFlush};

// ---- State: the song file's bytes, the userbank's and the parameters, each with its size.

bool WriteAll(const clap_ostream_t* stream, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const std::int64_t n = stream->write(stream, bytes, size);
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteBlock(const clap_ostream_t* stream, const std::vector<std::uint8_t>& bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    return WriteAll(stream, &size, sizeof size) && WriteAll(stream, bytes.data(), size);
}

bool StateSave(const clap_plugin_t* plugin, const clap_ostream_t* stream) {
    Instrument& instrument = *Self(plugin)->instrument;
    std::vector<std::uint8_t> params(kParamCount * sizeof(float));
    for (int i = 0; i < kParamCount; ++i) {
        const float v = instrument.Param(i);
        std::memcpy(params.data() + i * sizeof v, &v, sizeof v);
    }
    return WriteAll(stream, kStateMagic, sizeof kStateMagic) &&
           WriteBlock(stream, instrument.SongBytes()) &&
           WriteBlock(stream, instrument.UserbankBytes()) && WriteBlock(stream, params);
}

// The next block of a saved state within `bytes` from `at`; false when it runs past the end.
bool ReadBlock(const std::vector<std::uint8_t>& bytes, std::size_t& at,
               std::span<const std::uint8_t>& block) {
    std::uint32_t size = 0;
    if (bytes.size() - at < sizeof size) return false;
    std::memcpy(&size, bytes.data() + at, sizeof size);
    at += sizeof size;
    if (bytes.size() - at < size) return false;
    block = {bytes.data() + at, size};
    at += size;
    return true;
}

bool StateLoad(const clap_plugin_t* plugin, const clap_istream_t* stream) {
    // A state is a song with its bank: read whole, up to a bound no real one comes near.
    constexpr std::size_t kMaxState = std::size_t(256) << 20;
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[65536];
    for (;;) {
        const std::int64_t n = stream->read(stream, buffer, sizeof buffer);
        if (n < 0 || bytes.size() + std::size_t(n) > kMaxState) return false;
        if (n == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    std::size_t at = sizeof kStateMagic;
    std::span<const std::uint8_t> song, bank, params;
    if (bytes.size() < at || std::memcmp(bytes.data(), kStateMagic, at) != 0 ||
        !ReadBlock(bytes, at, song) || !ReadBlock(bytes, at, bank) || !ReadBlock(bytes, at, params))
        return false;
    std::vector<float> values(std::min<std::size_t>(params.size() / sizeof(float), kParamCount));
    std::memcpy(values.data(), params.data(), values.size() * sizeof(float));
    return Self(plugin)->instrument->Restore(song, bank, values);
}

const clap_plugin_state_t kStateExt = {StateSave, StateLoad};

// ---- The plugin

bool Init(const clap_plugin_t* plugin) {
    ClapInstrument& p = *Self(plugin);
    p.instrument = std::make_unique<Instrument>(p.rate);
    for (int i = 0; i < kParamCount; ++i) p.told[i].store(p.instrument->Param(i));
    // The host shows the parameters as the song has them: told on its main thread (OnMainThread).
    const clap_host_t* host = p.host;
    p.instrument->FollowSong([host] { host->request_callback(host); });
    return true;
}

void GuiDestroy(const clap_plugin_t* plugin);

void Destroy(const clap_plugin_t* plugin) {
    GuiDestroy(plugin);  // a host may destroy the plugin with its window open
    Self(plugin)->instrument->FollowSong(nullptr);  // no more calls to the host from its rounds
    delete Self(plugin);
}

bool Activate(const clap_plugin_t* plugin, double rate, std::uint32_t, std::uint32_t) {
    ClapInstrument& p = *Self(plugin);
    p.rate = rate;
    p.instrument->Activate(rate);
    return true;
}

void Deactivate(const clap_plugin_t*) {}
bool StartProcessing(const clap_plugin_t*) {
    return true;
}
void StopProcessing(const clap_plugin_t*) {}
// On the audio thread: nothing to clear that the next block's transport does not set anew (the
// engine relocates when the transport's frame jumps); the engine is configured at activation.
void Reset(const clap_plugin_t* plugin) {
    Self(plugin)->transport = {};
}

// ---- The window: the groove panel from qtam_ui.so beside this file, embedded in the host's
// X11 window or floating. The host's timer runs its events; destroying it leaves the sound.

constexpr std::uint32_t kWindowWidth = 636, kWindowHeight = 385;  // the panel's fixed size
constexpr std::uint32_t kWindowEventsMs = 16;

const WindowApi* LoadWindowLibrary(ClapInstrument& p) {
    if (p.windowApi) return p.windowApi;
    Dl_info self{};
    if (dladdr(reinterpret_cast<const void*>(&LoadWindowLibrary), &self) == 0 || !self.dli_fname)
        return nullptr;
    std::string path = self.dli_fname;
    path = path.substr(0, path.find_last_of('/') + 1) + kWindowLibrary;
    p.windowLibrary = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (p.windowLibrary == nullptr) {
        std::fprintf(stderr, "Q.Tam: no window: %s\n", dlerror());
        return nullptr;
    }
    p.windowApi = static_cast<const WindowApi*>(dlsym(p.windowLibrary, kWindowApiSymbol));
    return p.windowApi;
}

const clap_host_timer_support_t* HostTimers(const ClapInstrument& p) {
    return static_cast<const clap_host_timer_support_t*>(
        p.host->get_extension(p.host, CLAP_EXT_TIMER_SUPPORT));
}

bool GuiApiSupported(const clap_plugin_t*, const char* api, bool) {
    return std::strcmp(api, CLAP_WINDOW_API_X11) == 0;
}

bool GuiPreferredApi(const clap_plugin_t*, const char** api, bool* floating) {
    *api = CLAP_WINDOW_API_X11;
    *floating = false;
    return true;
}

// The user closed the floating window (it hid): the host hears it from its main thread's
// callback, outside the window's event handling, as it may destroy the window at once.
void WindowClosed(void* context) {
    auto& p = *static_cast<ClapInstrument*>(context);
    p.userClosed = true;
    p.host->request_callback(p.host);
}

bool GuiCreate(const clap_plugin_t* plugin, const char* api, bool floating) {
    ClapInstrument& p = *Self(plugin);
    if (p.window || !GuiApiSupported(plugin, api, floating) || !LoadWindowLibrary(p)) return false;
    p.floating = floating;
    // Floating, it is a window of its own at once; embedded, once the host gives its window.
    if (floating) p.window = p.windowApi->open(p.instrument.get(), 0, WindowClosed, &p);
    if (const auto* timers = HostTimers(p))
        timers->register_timer(p.host, kWindowEventsMs, &p.timer);
    return !floating || p.window;
}

void GuiDestroy(const clap_plugin_t* plugin) {
    ClapInstrument& p = *Self(plugin);
    if (p.timer != CLAP_INVALID_ID)
        if (const auto* timers = HostTimers(p)) timers->unregister_timer(p.host, p.timer);
    p.timer = CLAP_INVALID_ID;
    if (p.window) p.windowApi->close(p.window);
    p.window = nullptr;
    p.userClosed = false;
}

bool GuiSetScale(const clap_plugin_t*, double) {
    return false;
}

bool GuiGetSize(const clap_plugin_t*, std::uint32_t* width, std::uint32_t* height) {
    *width = kWindowWidth;
    *height = kWindowHeight;
    return true;
}

bool GuiCanResize(const clap_plugin_t*) {
    return false;
}

bool GuiResizeHints(const clap_plugin_t*, clap_gui_resize_hints_t*) {
    return false;
}

bool GuiAdjustSize(const clap_plugin_t* plugin, std::uint32_t* width, std::uint32_t* height) {
    return GuiGetSize(plugin, width, height);
}

bool GuiSetSize(const clap_plugin_t*, std::uint32_t width, std::uint32_t height) {
    return width == kWindowWidth && height == kWindowHeight;
}

bool GuiSetParent(const clap_plugin_t* plugin, const clap_window_t* window) {
    ClapInstrument& p = *Self(plugin);
    if (p.floating || p.window || !p.windowApi || window == nullptr) return false;
    p.window = p.windowApi->open(p.instrument.get(), static_cast<std::uintptr_t>(window->x11),
                                 nullptr, nullptr);
    return p.window != nullptr;
}

bool GuiSetTransient(const clap_plugin_t*, const clap_window_t*) {
    return false;
}

void GuiSuggestTitle(const clap_plugin_t*, const char*) {}

bool GuiShow(const clap_plugin_t* plugin) {
    ClapInstrument& p = *Self(plugin);
    if (!p.window) return false;
    p.windowApi->show(p.window);
    return true;
}

bool GuiHide(const clap_plugin_t* plugin) {
    ClapInstrument& p = *Self(plugin);
    if (!p.window) return false;
    p.windowApi->hide(p.window);
    return true;
}

void OnTimer(const clap_plugin_t* plugin, clap_id) {
    ClapInstrument& p = *Self(plugin);
    if (p.windowApi) p.windowApi->idle();
    // The window changed a parameter: a host that is not processing flushes to hear it.
    if (HostBehind(p))
        if (const auto* params = static_cast<const clap_host_params_t*>(
                p.host->get_extension(p.host, CLAP_EXT_PARAMS)))
            params->request_flush(p.host);
}

const clap_plugin_gui_t kGuiExt = {GuiApiSupported, GuiPreferredApi, GuiCreate,    GuiDestroy,
                                   GuiSetScale,     GuiGetSize,      GuiCanResize, GuiResizeHints,
                                   GuiAdjustSize,   GuiSetSize,      GuiSetParent, GuiSetTransient,
                                   GuiSuggestTitle, GuiShow,         GuiHide};
const clap_plugin_timer_support_t kTimerExt = {OnTimer};

const void* Extension(const clap_plugin_t*, const char* id) {
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0) return &kAudioPortsExt;
    if (std::strcmp(id, CLAP_EXT_NOTE_PORTS) == 0) return &kNotePortsExt;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &kParamsExt;
    if (std::strcmp(id, CLAP_EXT_STATE) == 0) return &kStateExt;
    if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &kGuiExt;
    if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &kTimerExt;
    return nullptr;
}

// A floating window the user closed, and the parameters the song moved (a window's edit, a
// program change, a state), for the host to read.
void OnMainThread(const clap_plugin_t* plugin) {
    ClapInstrument& p = *Self(plugin);
    // Values a process call has not told yet are read by the host now, and not told again.
    const auto* params =
        static_cast<const clap_host_params_t*>(p.host->get_extension(p.host, CLAP_EXT_PARAMS));
    if (params != nullptr && HostBehind(p)) {
        params->rescan(p.host, CLAP_PARAM_RESCAN_VALUES);
        for (int i = 0; i < kParamCount; ++i)
            p.told[i].store(p.instrument->Param(i), std::memory_order_relaxed);
    }
    if (!p.userClosed) return;
    p.userClosed = false;
    // Hidden, not destroyed: the host may show it again.
    if (const auto* gui =
            static_cast<const clap_host_gui_t*>(p.host->get_extension(p.host, CLAP_EXT_GUI)))
        gui->closed(p.host, false);
}

// ---- The factory

std::uint32_t PluginCount(const clap_plugin_factory_t*) {
    return 1;
}

const clap_plugin_descriptor_t* PluginDescriptor(const clap_plugin_factory_t*,
                                                 std::uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}

const clap_plugin_t* CreatePlugin(const clap_plugin_factory_t*, const clap_host_t* host,
                                  const char* id) {
    if (!clap_version_is_compatible(host->clap_version) || std::strcmp(id, kClapId) != 0)
        return nullptr;
    auto* p = new ClapInstrument;
    p->host = host;
    p->plugin = {
        &kDescriptor,   p,     Init,    Destroy,   Activate,    Deactivate, StartProcessing,
        StopProcessing, Reset, Process, Extension, OnMainThread};
    return &p->plugin;
}

const clap_plugin_factory_t kFactory = {PluginCount, PluginDescriptor, CreatePlugin};

bool EntryInit(const char*) {
    return true;
}
void EntryDeinit() {}
const void* Factory(const char* id) {
    return std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &kFactory : nullptr;
}

}  // namespace
}  // namespace qtam::plugin

extern "C" __attribute__((visibility("default"))) const clap_plugin_entry_t clap_entry = {
    CLAP_VERSION_INIT, qtam::plugin::EntryInit, qtam::plugin::EntryDeinit, qtam::plugin::Factory};
