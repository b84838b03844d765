// A small CLAP host for the plugin's tests and its cost: loads qtam.clap, gives it a song as
// its state, runs it block by block with a rolling transport (or none, with Play on) and
// writes what it played as 32-bit floats, 18 to a frame: main L and R, then each channel's.
//
//   clap_host PLUGIN OUT.f32 [--rate R] [--block N] [--frames N] [--bpm B]
//             [--song FILE] [--relocate TO@AT] [--no-transport] [--save-state FILE]
//             [--load-state FILE] [--param ID=VALUE]... [--bench]
//
// --song gives the plugin a state of that song with the parameters as they are, but for
// those --param sets. --relocate moves the transport to frame TO at the block holding output frame
// AT. --bench prints the mean and the longest time of a process call, and the mean's share of a
// block.

#include <clap/ext/gui.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "clap_load.h"

namespace {

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const void* HostExtension(const clap_host_t*, const char*) {
    return nullptr;
}
void HostRequest(const clap_host_t*) {}

const clap_host_t kHost = {CLAP_VERSION_INIT, nullptr,     "qtam test host", "",         "", "1",
                           HostExtension,     HostRequest, HostRequest,      HostRequest};

struct Reader {
    const std::vector<std::uint8_t>* bytes;
    std::size_t at = 0;
};

std::int64_t Read(const clap_istream_t* s, void* buffer, std::uint64_t size) {
    auto* r = static_cast<Reader*>(s->ctx);
    const std::size_t n = std::min<std::size_t>(size, r->bytes->size() - r->at);
    std::memcpy(buffer, r->bytes->data() + r->at, n);
    r->at += n;
    return static_cast<std::int64_t>(n);
}

std::int64_t Write(const clap_ostream_t* s, const void* buffer, std::uint64_t size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(s->ctx);
    const auto* b = static_cast<const std::uint8_t*>(buffer);
    out->insert(out->end(), b, b + size);
    return static_cast<std::int64_t>(size);
}

// The events of a block: at most one parameter change.
struct InEvents {
    clap_event_param_value_t param{};
    bool has = false;
};
std::uint32_t InSize(const clap_input_events_t* list) {
    return static_cast<const InEvents*>(list->ctx)->has ? 1 : 0;
}
const clap_event_header_t* InGet(const clap_input_events_t* list, std::uint32_t) {
    return &static_cast<const InEvents*>(list->ctx)->param.header;
}

int notesOut = 0;
bool TryPush(const clap_output_events_t*, const clap_event_header_t* e) {
    if (e->type == CLAP_EVENT_MIDI) {
        const auto* m = reinterpret_cast<const clap_event_midi_t*>(e);
        if ((m->data[0] & 0xF0) == 0x90 && m->data[2] > 0) ++notesOut;
    }
    return true;
}

int Fail(const char* what) {
    std::fprintf(stderr, "clap_host: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Fail("usage: clap_host PLUGIN OUT.f32 [options]");
    double rate = 44100, bpm = 120;
    std::uint32_t block = 256;
    std::int64_t frames = 44100, relocateTo = -1, relocateAt = -1;
    std::string song, saveState, loadState;
    bool transport = true, bench = false, window = false;
    std::vector<std::pair<std::uint32_t, double>> params;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--rate")
            rate = std::atof(v), ++i;
        else if (a == "--block")
            block = static_cast<std::uint32_t>(std::atoi(v)), ++i;
        else if (a == "--frames")
            frames = std::atoll(v), ++i;
        else if (a == "--bpm")
            bpm = std::atof(v), ++i;
        else if (a == "--song")
            song = v, ++i;
        else if (a == "--save-state")
            saveState = v, ++i;
        else if (a == "--load-state")
            loadState = v, ++i;
        else if (a == "--no-transport")
            transport = false;
        else if (a == "--bench")
            bench = true;
        else if (a == "--window")
            window = true;
        else if (a == "--param" && std::strchr(v, '='))
            params.emplace_back(std::atoi(v), std::atof(std::strchr(v, '=') + 1)), ++i;
        else if (a == "--relocate" && std::sscanf(v, "%ld@%ld", &relocateTo, &relocateAt) == 2)
            ++i;
        else
            return Fail(("unknown option " + a).c_str());
    }
    const LoadedClap loaded = LoadClapPlugin(argv[1], &kHost);
    if (!loaded.plugin) return Fail(loaded.error);
    const clap_plugin_t* plugin = loaded.plugin;
    const auto* state =
        static_cast<const clap_plugin_state_t*>(plugin->get_extension(plugin, CLAP_EXT_STATE));
    if (!state) return Fail("no state extension");

    std::vector<std::uint8_t> stateBytes;
    const auto* paramsExt =
        static_cast<const clap_plugin_params_t*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
    if (!paramsExt) return Fail("no params extension");
    if (!song.empty()) {
        // A state of a song: the song's file, no userbank, the parameters.
        auto block = [&stateBytes](const void* data, std::uint32_t size) {
            const auto* b = static_cast<const std::uint8_t*>(data);
            stateBytes.insert(stateBytes.end(), reinterpret_cast<const std::uint8_t*>(&size),
                              reinterpret_cast<const std::uint8_t*>(&size) + 4);
            stateBytes.insert(stateBytes.end(), b, b + size);
        };
        std::vector<float> values(paramsExt->count(plugin));
        for (std::uint32_t i = 0; i < values.size(); ++i) {
            double v = 0;
            paramsExt->get_value(plugin, i, &v);
            values[i] = static_cast<float>(v);
        }
        for (const auto& [id, value] : params)
            if (id < values.size()) values[id] = static_cast<float>(value);
        const std::vector<std::uint8_t> file = ReadFile(song);
        stateBytes.assign({'Q', 'T', 'S', '1'});
        block(file.data(), static_cast<std::uint32_t>(file.size()));
        block(nullptr, 0);
        block(values.data(), static_cast<std::uint32_t>(values.size() * sizeof(float)));
    } else if (!loadState.empty()) {
        stateBytes = ReadFile(loadState);
    }
    if (!stateBytes.empty()) {
        Reader reader{&stateBytes};
        clap_istream_t in{&reader, Read};
        if (!state->load(plugin, &in)) return Fail("the plugin refused the state");
    }
    if (!plugin->activate(plugin, rate, 1, block) || !plugin->start_processing(plugin))
        return Fail("the plugin did not activate");
    // A floating window, shown and destroyed before the first block: the sound is the same.
    if (window) {
        const auto* gui =
            static_cast<const clap_plugin_gui_t*>(plugin->get_extension(plugin, CLAP_EXT_GUI));
        if (!gui || !gui->is_api_supported(plugin, CLAP_WINDOW_API_X11, true) ||
            !gui->create(plugin, CLAP_WINDOW_API_X11, true) || !gui->show(plugin))
            return Fail("no window");
        gui->destroy(plugin);
    }

    std::vector<std::vector<float>> buffers(18, std::vector<float>(block));
    float* channels[9][2];
    clap_audio_buffer_t outputs[9];
    for (int p = 0; p < 9; ++p) {
        channels[p][0] = buffers[2 * p].data();
        channels[p][1] = buffers[2 * p + 1].data();
        outputs[p] = {channels[p], nullptr, 2, 0, 0};
    }
    InEvents events;
    clap_input_events_t in{&events, InSize, InGet};
    clap_output_events_t out{nullptr, TryPush};
    std::vector<float> played;
    played.reserve(static_cast<std::size_t>(18 * frames));
    double total = 0, longest = 0;
    std::int64_t calls = 0, position = 0;
    for (std::int64_t done = 0; done < frames; done += block) {
        if (relocateAt >= 0 && done <= relocateAt && relocateAt < done + block)
            position = relocateTo;
        clap_event_transport_t t{};
        t.header = {sizeof t, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
        t.flags = CLAP_TRANSPORT_IS_PLAYING | CLAP_TRANSPORT_HAS_TEMPO |
                  CLAP_TRANSPORT_HAS_BEATS_TIMELINE | CLAP_TRANSPORT_HAS_SECONDS_TIMELINE |
                  CLAP_TRANSPORT_HAS_TIME_SIGNATURE;
        const double beats = position / rate * bpm / 60.0;
        t.song_pos_seconds = std::llround(position / rate * CLAP_SECTIME_FACTOR);
        t.song_pos_beats = std::llround(beats * CLAP_BEATTIME_FACTOR);
        t.tempo = bpm;
        t.bar_number = static_cast<std::int32_t>(beats / 4);
        t.bar_start = std::llround(t.bar_number * 4.0 * CLAP_BEATTIME_FACTOR);
        t.tsig_num = t.tsig_denom = 4;
        // Without a transport, Play goes on in the first block.
        events.has = !transport && done == 0;
        events.param.header = {sizeof events.param, 0, CLAP_CORE_EVENT_SPACE_ID,
                               CLAP_EVENT_PARAM_VALUE, 0};
        events.param.param_id = 1;  // Play
        events.param.value = 1;
        clap_process_t process{};
        process.steady_time = done;
        process.frames_count = block;
        process.transport = transport ? &t : nullptr;
        process.audio_outputs = outputs;
        process.audio_outputs_count = 9;
        process.in_events = &in;
        process.out_events = &out;
        const auto start = std::chrono::steady_clock::now();
        plugin->process(plugin, &process);
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The first blocks warm the caches: the cost counts from the second second.
        if (done >= std::int64_t(rate)) {
            total += took;
            longest = std::max(longest, took);
            ++calls;
        }
        for (std::uint32_t n = 0; n < block; ++n)
            for (const std::vector<float>& port : buffers) played.push_back(port[n]);
        position += block;
    }
    if (!saveState.empty()) {
        std::vector<std::uint8_t> saved;
        clap_ostream_t o{&saved, Write};
        if (!state->save(plugin, &o)) return Fail("the plugin did not save its state");
        std::ofstream(saveState, std::ios::binary)
            .write(reinterpret_cast<const char*>(saved.data()), std::streamsize(saved.size()));
    }
    plugin->stop_processing(plugin);
    plugin->deactivate(plugin);
    plugin->destroy(plugin);
    loaded.entry->deinit();
    std::ofstream(argv[2], std::ios::binary)
        .write(reinterpret_cast<const char*>(played.data()),
               std::streamsize(played.size() * sizeof(float)));
    std::printf("notes out %d\n", notesOut);
    if (bench && calls > 0) {
        const double mean = total / double(calls), blockSeconds = block / rate;
        std::printf(
            "process %.2f us mean, %.2f us longest, %.3f %% of a %u-frame block at %.0f Hz\n",
            mean * 1e6, longest * 1e6, 100 * mean / blockSeconds, block, rate);
    }
    return 0;
}
