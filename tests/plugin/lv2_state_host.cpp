// The LV2 side of the plugin's state, as a host's session save and load make it: loads qtam.so,
// restores a song into a new instance, runs it a few blocks, saves its state, and restores that
// into a second instance, whose saved state must be the same. Writes the saved song chunk.
//
//   lv2_state_host PLUGIN_SO SONG OUT

#include <dlfcn.h>
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

std::vector<std::string> uris;

LV2_URID Map(LV2_URID_Map_Handle, const char* uri) {
    for (std::size_t i = 0; i < uris.size(); ++i)
        if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
    uris.emplace_back(uri);
    return static_cast<LV2_URID>(uris.size());
}

struct Value {
    std::vector<std::uint8_t> bytes;
    std::uint32_t type = 0;
};
using State = std::map<std::uint32_t, Value>;

LV2_State_Status Store(LV2_State_Handle handle, std::uint32_t key, const void* value,
                       std::size_t size, std::uint32_t type, std::uint32_t) {
    const auto* b = static_cast<const std::uint8_t*>(value);
    (*static_cast<State*>(handle))[key] = {{b, b + size}, type};
    return LV2_STATE_SUCCESS;
}

const void* Retrieve(LV2_State_Handle handle, std::uint32_t key, std::size_t* size,
                     std::uint32_t* type, std::uint32_t* flags) {
    auto& state = *static_cast<State*>(handle);
    const auto found = state.find(key);
    if (found == state.end()) return nullptr;
    *size = found->second.bytes.size();
    *type = found->second.type;
    *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    return found->second.bytes.data();
}

int Fail(const char* what) {
    std::fprintf(stderr, "lv2_state_host: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return Fail("usage: lv2_state_host PLUGIN_SO SONG OUT");
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) return Fail(dlerror());
    auto descriptorOf = reinterpret_cast<LV2_Descriptor_Function>(dlsym(library, "lv2_descriptor"));
    const LV2_Descriptor* d = descriptorOf ? descriptorOf(0) : nullptr;
    if (!d) return Fail("no lv2_descriptor");
    LV2_URID_Map map{nullptr, Map};
    const LV2_Feature mapFeature{LV2_URID__map, &map};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    const auto* state =
        static_cast<const LV2_State_Interface*>(d->extension_data(LV2_STATE__interface));
    if (!state) return Fail("no state interface");

    std::ifstream in(argv[2], std::ios::binary);
    State loaded;
    loaded[Map(nullptr, "https://qtam.example.org/plugins/qtam#song")] = {
        {std::istreambuf_iterator<char>(in), {}}, Map(nullptr, LV2_ATOM__Chunk)};
    std::vector<State> saved(2);
    for (State& out : saved) {
        LV2_Handle plugin = d->instantiate(d, 44100, argv[1], features);
        if (!plugin) return Fail("the plugin did not start");
        // The audio ports only (the event ports stay unconnected).
        std::vector<float> buffers(18 * 256);
        for (std::uint32_t p = 0; p < 18; ++p) d->connect_port(plugin, p, &buffers[p * 256]);
        if (state->restore(plugin, Retrieve, &loaded, 0, nullptr) != LV2_STATE_SUCCESS)
            return Fail("the plugin refused the state");
        if (d->activate) d->activate(plugin);
        for (int block = 0; block < 20; ++block) d->run(plugin, 256);
        if (state->save(plugin, Store, &out, 0, nullptr) != LV2_STATE_SUCCESS)
            return Fail("the plugin did not save its state");
        if (d->deactivate) d->deactivate(plugin);  // optional in LV2
        d->cleanup(plugin);
        loaded = out;
    }
    if (saved[0].size() != saved[1].size()) return Fail("the second save differs");
    for (const auto& [key, value] : saved[0])
        if (saved[1][key].bytes != value.bytes || saved[1][key].type != value.type)
            return Fail("the second save differs");
    const Value& song = saved[0][Map(nullptr, "https://qtam.example.org/plugins/qtam#song")];
    if (song.type != Map(nullptr, LV2_ATOM__Chunk)) return Fail("the song is no chunk");
    std::ofstream(argv[3], std::ios::binary)
        .write(reinterpret_cast<const char*>(song.bytes.data()),
               static_cast<std::streamsize>(song.bytes.size()));
    return 0;
}
