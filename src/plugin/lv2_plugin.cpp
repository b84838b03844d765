// Q.Tam as an LV2 instrument: the plugin's ports and state, translated into the instrument's
// calls (plugin/instrument.h). The ports are described in qtam.ttl (made by the build from
// the parameter table); their indices here must match it: the 18 audio outputs, the event
// input and output (both optional: a host without them still hears the song), then the
// parameters. It requires URID map and nothing else.

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "plugin/instrument.h"
#include "plugin/plugin_info.h"

namespace qtam::plugin {
namespace {

constexpr std::uint32_t kEventsIn = LiveEngine::kPorts;
constexpr std::uint32_t kEventsOut = kEventsIn + 1;
constexpr std::uint32_t kFirstParam = kEventsOut + 1;
constexpr std::uint32_t kScratchFrames = 4096;  // the longest run mixed at once

struct Urids {
    LV2_URID midiEvent, atomObject, atomBlank, atomLong, atomInt, atomFloat, atomDouble, atomChunk,
        atomSequence, timePosition, timeFrame, timeSpeed, timeBar, timeBarBeat, timeBeatsPerBar,
        timeBeatsPerMinute, song, userbank;

    explicit Urids(const LV2_URID_Map* map) {
        auto m = [map](const char* uri) { return map->map(map->handle, uri); };
        midiEvent = m(LV2_MIDI__MidiEvent);
        atomObject = m(LV2_ATOM__Object);
        atomBlank = m(LV2_ATOM__Blank);
        atomLong = m(LV2_ATOM__Long);
        atomInt = m(LV2_ATOM__Int);
        atomFloat = m(LV2_ATOM__Float);
        atomDouble = m(LV2_ATOM__Double);
        atomChunk = m(LV2_ATOM__Chunk);
        atomSequence = m(LV2_ATOM__Sequence);
        timePosition = m(LV2_TIME__Position);
        timeFrame = m(LV2_TIME__frame);
        timeSpeed = m(LV2_TIME__speed);
        timeBar = m(LV2_TIME__bar);
        timeBarBeat = m(LV2_TIME__barBeat);
        timeBeatsPerBar = m(LV2_TIME__beatsPerBar);
        timeBeatsPerMinute = m(LV2_TIME__beatsPerMinute);
        song = m(QTAM_LV2_URI "#song");
        userbank = m(QTAM_LV2_URI "#userbank");
    }
};

// The handle a host gets is the Instrument itself, so that the window (lv2_ui.cpp) reaches it
// through instance-access without knowing this struct.
struct Lv2Instrument : Instrument {
    Lv2Instrument(double rate, const LV2_URID_Map* map)
        : Instrument(rate), instrument(*this), urids(map) {
        lv2_atom_forge_init(&forge, const_cast<LV2_URID_Map*>(map));
        for (int i = 0; i < kParamCount; ++i) portValues[i] = ParamInfoOf(i).def;
    }

    Instrument& instrument;
    Urids urids;
    LV2_Atom_Forge forge;
    double rate = 44100;
    float* audio[LiveEngine::kPorts] = {};
    const LV2_Atom_Sequence* eventsIn = nullptr;
    LV2_Atom_Sequence* eventsOut = nullptr;
    const float* params[kParamCount] = {};
    // The control ports' values as last taken: only a change is the host's (the window's space
    // bar may have turned Play since, and the host's control does not follow it).
    float portValues[kParamCount] = {};
    HostTransport transport;
    MidiMessage midi[LiveEngine::kMaxMidiIn] = {};
    float scratch[kScratchFrames] = {};
};

// A number of any of the atom types a host writes into a position.
bool Number(const Urids& u, const LV2_Atom* atom, double& value) {
    if (atom == nullptr) return false;
    if (atom->type == u.atomLong)
        value = double(reinterpret_cast<const LV2_Atom_Long*>(atom)->body);
    else if (atom->type == u.atomInt)
        value = reinterpret_cast<const LV2_Atom_Int*>(atom)->body;
    else if (atom->type == u.atomFloat)
        value = reinterpret_cast<const LV2_Atom_Float*>(atom)->body;
    else if (atom->type == u.atomDouble)
        value = reinterpret_cast<const LV2_Atom_Double*>(atom)->body;
    else
        return false;
    return true;
}

void TakePosition(Lv2Instrument& p, const LV2_Atom_Object* object) {
    const Urids& u = p.urids;
    const LV2_Atom *frame = nullptr, *speed = nullptr, *bar = nullptr, *barBeat = nullptr,
                   *beatsPerBar = nullptr, *bpm = nullptr;
    lv2_atom_object_get(object, u.timeFrame, &frame, u.timeSpeed, &speed, u.timeBar, &bar,
                        u.timeBarBeat, &barBeat, u.timeBeatsPerBar, &beatsPerBar,
                        u.timeBeatsPerMinute, &bpm, 0);
    HostTransport& t = p.transport;
    t.known = true;
    double v = 0;
    if (Number(u, speed, v)) t.rolling = v != 0;
    if (Number(u, frame, v)) t.frame = static_cast<std::int64_t>(v);
    double barValue = 0, beatValue = 0, perBar = 0, tempo = 0;
    t.bbt = Number(u, bar, barValue) && Number(u, barBeat, beatValue) &&
            Number(u, beatsPerBar, perBar) && Number(u, bpm, tempo) && perBar >= 1 && tempo > 0 &&
            barValue >= 0 && beatValue >= 0;
    if (!t.bbt) return;
    // LV2 counts bars and beats from 0, and the beat's fraction in the beat itself.
    t.bar = static_cast<std::int32_t>(barValue) + 1;
    t.beat = static_cast<std::int32_t>(beatValue) + 1;
    t.ticksPerBeat = LiveEngine::kTicksPerBeat;
    t.tick = (beatValue - std::floor(beatValue)) * t.ticksPerBeat;
    t.beatsPerBar = static_cast<int>(perBar);
    t.bpm = tempo;
}

// Frames [from, to) of the block with the MIDI gathered for them (their frames counted from
// the block's start); what the engine sends is appended to the output sequence.
void Run(Lv2Instrument& p, std::uint32_t from, std::uint32_t to, int midiCount) {
    int next = 0;
    while (from < to) {
        const std::uint32_t n = std::min(to - from, kScratchFrames);
        float* ports[LiveEngine::kPorts];
        for (int i = 0; i < LiveEngine::kPorts; ++i)
            ports[i] = p.audio[i] ? p.audio[i] + from : p.scratch;
        const int first = next;
        for (; next < midiCount && p.midi[next].frame < from + n; ++next)
            p.midi[next].frame -= std::min(p.midi[next].frame, from);
        p.instrument.Process(n, p.transport, p.midi + first, next - first, ports);
        p.transport.Advance(n, p.rate);
        if (p.eventsOut) {
            const MidiMessage* out = p.instrument.MidiOut();
            for (int i = 0; i < p.instrument.MidiOutCount(); ++i) {
                if (!lv2_atom_forge_frame_time(&p.forge, from + out[i].frame)) break;
                lv2_atom_forge_atom(&p.forge, out[i].size, p.urids.midiEvent);
                lv2_atom_forge_write(&p.forge, out[i].bytes, out[i].size);
            }
        }
        from += n;
    }
}

Lv2Instrument* Of(LV2_Handle handle) {
    return static_cast<Lv2Instrument*>(static_cast<Instrument*>(handle));
}

LV2_Handle Instantiate(const LV2_Descriptor*, double rate, const char*,
                       const LV2_Feature* const* features) {
    const LV2_URID_Map* map = nullptr;
    for (int i = 0; features && features[i]; ++i)
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<const LV2_URID_Map*>(features[i]->data);
    if (map == nullptr) return nullptr;
    auto* p = new Lv2Instrument(rate, map);
    p->rate = rate;
    return static_cast<Instrument*>(p);
}

void ConnectPort(LV2_Handle handle, std::uint32_t port, void* data) {
    auto* p = Of(handle);
    if (port < kEventsIn)
        p->audio[port] = static_cast<float*>(data);
    else if (port == kEventsIn)
        p->eventsIn = static_cast<const LV2_Atom_Sequence*>(data);
    else if (port == kEventsOut)
        p->eventsOut = static_cast<LV2_Atom_Sequence*>(data);
    else if (port - kFirstParam < std::uint32_t(kParamCount))
        p->params[port - kFirstParam] = static_cast<const float*>(data);
}

void Activate(LV2_Handle handle) {
    auto* p = Of(handle);
    p->instrument.Activate(p->rate);
    p->transport = {};
}

void RunBlock(LV2_Handle handle, std::uint32_t frames) {
    auto* p = Of(handle);
    for (int i = 0; i < kParamCount; ++i) {
        if (!p->params[i] || *p->params[i] == p->portValues[i]) continue;
        p->portValues[i] = *p->params[i];
        p->instrument.SetParam(i, p->portValues[i]);
    }
    // The forge keeps this frame until the block is done.
    LV2_Atom_Forge_Frame sequence;
    if (p->eventsOut) {
        const std::uint32_t capacity = p->eventsOut->atom.size;
        lv2_atom_forge_set_buffer(&p->forge, reinterpret_cast<std::uint8_t*>(p->eventsOut),
                                  capacity);
        lv2_atom_forge_sequence_head(&p->forge, &sequence, 0);
    }
    std::uint32_t done = 0;
    int midiCount = 0;
    if (p->eventsIn) {
        LV2_ATOM_SEQUENCE_FOREACH(p->eventsIn, ev) {
            const std::uint32_t at =
                static_cast<std::uint32_t>(std::clamp<std::int64_t>(ev->time.frames, done, frames));
            const Urids& u = p->urids;
            if (ev->body.type == u.midiEvent && ev->body.size > 0 &&
                midiCount < LiveEngine::kMaxMidiIn) {
                MidiMessage& m = p->midi[midiCount++];
                m.frame = at;
                m.size = static_cast<std::uint8_t>(std::min<std::uint32_t>(ev->body.size, 3));
                std::memcpy(m.bytes, LV2_ATOM_BODY_CONST(&ev->body), m.size);
            } else if (ev->body.type == u.atomObject || ev->body.type == u.atomBlank) {
                const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&ev->body);
                if (object->body.otype != u.timePosition) continue;
                // A new position from its frame on: what came before plays by the old one.
                Run(*p, done, at, midiCount);
                midiCount = 0;
                done = at;
                TakePosition(*p, object);
            }
        }
    }
    Run(*p, done, frames, midiCount);
}

void Cleanup(LV2_Handle handle) {
    delete Of(handle);
}

// ---- State: the song file's bytes and the userbank's, as chunks (see instrument.h).

LV2_State_Status Save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state,
                      std::uint32_t, const LV2_Feature* const*) {
    auto* p = Of(handle);
    const std::uint32_t flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    const std::vector<std::uint8_t> song = p->instrument.SongBytes();
    LV2_State_Status status =
        store(state, p->urids.song, song.data(), song.size(), p->urids.atomChunk, flags);
    const std::vector<std::uint8_t> bank = p->instrument.UserbankBytes();
    if (status == LV2_STATE_SUCCESS && !bank.empty())
        status =
            store(state, p->urids.userbank, bank.data(), bank.size(), p->urids.atomChunk, flags);
    return status;
}

LV2_State_Status Restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve,
                         LV2_State_Handle state, std::uint32_t, const LV2_Feature* const*) {
    auto* p = Of(handle);
    std::size_t songSize = 0, bankSize = 0;
    std::uint32_t type = 0, flags = 0;
    const void* song = retrieve(state, p->urids.song, &songSize, &type, &flags);
    if (song == nullptr) return LV2_STATE_ERR_NO_PROPERTY;
    const void* bank = retrieve(state, p->urids.userbank, &bankSize, &type, &flags);
    const auto* songBytes = static_cast<const std::uint8_t*>(song);
    const auto* bankBytes = static_cast<const std::uint8_t*>(bank);
    const bool ok = p->instrument.Restore({songBytes, songSize}, {bankBytes, bank ? bankSize : 0});
    return ok ? LV2_STATE_SUCCESS : LV2_STATE_ERR_UNKNOWN;
}

const void* ExtensionData(const char* uri) {
    static const LV2_State_Interface state{Save, Restore};
    if (std::strcmp(uri, LV2_STATE__interface) == 0) return &state;
    return nullptr;
}

const LV2_Descriptor kDescriptor{QTAM_LV2_URI, Instantiate, ConnectPort, Activate,
                                 RunBlock,     nullptr,     Cleanup,     ExtensionData};

}  // namespace
}  // namespace qtam::plugin

extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(
    std::uint32_t index) {
    return index == 0 ? &qtam::plugin::kDescriptor : nullptr;
}
