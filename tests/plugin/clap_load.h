#pragma once
// The test hosts' way into a CLAP plugin file: its entry, its factory and its one plugin.

#include <clap/entry.h>
#include <clap/plugin-factory.h>
#include <dlfcn.h>

struct LoadedClap {
    const clap_plugin_entry_t* entry = nullptr;  // deinit() it after the plugin is destroyed
    const clap_plugin_t* plugin = nullptr;       // initialised; null when the file gives none
    const char* error = nullptr;                 // why not
};

inline LoadedClap LoadClapPlugin(const char* path, const clap_host_t* host) {
    LoadedClap loaded;
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) return loaded.error = dlerror(), loaded;
    const auto* entry = static_cast<const clap_plugin_entry_t*>(dlsym(library, "clap_entry"));
    if (!entry || !entry->init(path)) return loaded.error = "no clap_entry", loaded;
    loaded.entry = entry;
    const auto* factory =
        static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    if (!factory || factory->get_plugin_count(factory) != 1)
        return loaded.error = "no plugin factory", loaded;
    const clap_plugin_t* plugin =
        factory->create_plugin(factory, host, factory->get_plugin_descriptor(factory, 0)->id);
    if (!plugin || !plugin->init(plugin)) return loaded.error = "the plugin did not start", loaded;
    loaded.plugin = plugin;
    return loaded;
}
