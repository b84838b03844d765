// Writes the LV2 bundle's description: manifest.ttl and qtam.ttl, with the ports in the order
// lv2_plugin.cpp numbers them and the parameters from their table (params.h), so that the two
// never disagree.
//
//   make_ttl BUNDLE_FOLDER LIBRARY_FILE_NAME UI_LIBRARY_FILE_NAME

#include <cstdio>
#include <fstream>
#include <string>

#include "core/song.h"
#include "plugin/params.h"
#include "plugin/plugin_info.h"

namespace {

using namespace qtam;
using namespace qtam::plugin;

std::string Number(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(v));
    return text;
}

std::string AudioPort(int index, const std::string& symbol, const std::string& name,
                      const std::string& group, const std::string& designation) {
    return "    [\n        a lv2:AudioPort, lv2:OutputPort ;\n        lv2:index " +
           std::to_string(index) + " ;\n        lv2:symbol \"" + symbol +
           "\" ;\n        lv2:name \"" + name + "\" ;\n        pg:group <" QTAM_LV2_URI "#" +
           group + "> ;\n        lv2:designation " + designation + " ;\n    ] ,\n";
}

std::string Plugin() {
    std::string t =
        "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
        "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
        "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
        "@prefix lv2:  <http://lv2plug.in/ns/lv2core#> .\n"
        "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
        "@prefix pg:   <http://lv2plug.in/ns/ext/port-groups#> .\n"
        "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
        "@prefix time: <http://lv2plug.in/ns/ext/time#> .\n"
        "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";
    // The stereo groups: the main pair, then each channel's.
    t += "<" QTAM_LV2_URI
         "#main>\n    a pg:StereoGroup, pg:OutputGroup ;\n"
         "    lv2:name \"Main\" ;\n    lv2:symbol \"main\" .\n\n";
    for (int c = 1; c <= kChannels; ++c) {
        const std::string n = std::to_string(c);
        t += "<" QTAM_LV2_URI "#channel" + n + ">\n    a pg:StereoGroup, pg:OutputGroup ;\n" +
             "    lv2:name \"Channel " + n + "\" ;\n    lv2:symbol \"channel" + n + "\" .\n\n";
    }
    t += std::string("<" QTAM_LV2_URI ">\n    a lv2:InstrumentPlugin, lv2:Plugin ;\n") +
         "    doap:name \"" + kPluginName + "\" ;\n" +
         "    lv2:project [ doap:name \"Q.Tam\" ] ;\n"
         // Hosts name the plugin's maker from here ("by Unknown" without it).
         "    doap:maintainer [ foaf:name \"The Q.Tam developers\" ] ;\n"
         "    lv2:requiredFeature urid:map ;\n"
         "    lv2:optionalFeature lv2:hardRTCapable ;\n"
         "    lv2:extensionData state:interface ;\n"
         "    pg:mainOutput <" QTAM_LV2_URI
         "#main> ;\n"
         "    lv2:port\n";
    int index = 0;
    t += AudioPort(index++, "main_l", "Main L", "main", "pg:left");
    t += AudioPort(index++, "main_r", "Main R", "main", "pg:right");
    for (int c = 1; c <= kChannels; ++c) {
        const std::string n = std::to_string(c);
        t += AudioPort(index++, "channel" + n + "_l", "Channel " + n + " L", "channel" + n,
                       "pg:left");
        t += AudioPort(index++, "channel" + n + "_r", "Channel " + n + " R", "channel" + n,
                       "pg:right");
    }
    // Both event ports may stay unconnected: the song sounds without them.
    t += "    [\n        a atom:AtomPort, lv2:InputPort ;\n"
         "        atom:bufferType atom:Sequence ;\n"
         "        atom:supports midi:MidiEvent, time:Position ;\n"
         "        lv2:designation lv2:control ;\n"
         "        lv2:portProperty lv2:connectionOptional ;\n"
         "        lv2:index " +
         std::to_string(index++) +
         " ;\n        lv2:symbol \"events_in\" ;\n        lv2:name \"MIDI in\" ;\n    ] ,\n";
    t += "    [\n        a atom:AtomPort, lv2:OutputPort ;\n"
         "        atom:bufferType atom:Sequence ;\n"
         "        atom:supports midi:MidiEvent ;\n"
         "        lv2:portProperty lv2:connectionOptional ;\n"
         "        lv2:index " +
         std::to_string(index++) +
         " ;\n        lv2:symbol \"events_out\" ;\n        lv2:name \"MIDI out\" ;\n    ]";
    for (int i = 0; i < kParamCount; ++i) {
        const ParamInfo p = ParamInfoOf(i);
        t += " ,\n    [\n        a lv2:InputPort, lv2:ControlPort ;\n        lv2:index " +
             std::to_string(index++) + " ;\n        lv2:symbol \"" + p.symbol +
             "\" ;\n        lv2:name \"" + p.name + "\" ;\n        lv2:default " + Number(p.def) +
             " ;\n        lv2:minimum " + Number(p.min) + " ;\n        lv2:maximum " +
             Number(p.max) + " ;\n";
        if (p.toggle) t += "        lv2:portProperty lv2:toggled ;\n";
        if (p.integer) t += "        lv2:portProperty lv2:integer ;\n";
        t += "    ]";
    }
    t += " .\n";
    return t;
}

// The window lies in its own library, so that a host showing none never loads Qt; it reaches
// the plugin's instance directly (instance-access), which the plugin itself does not need. Two
// UIs: an X11 UI, and the external UI (a window of its own that tells the host when the user
// closes it) for the hosts that offer it.
std::string Window(const std::string& uiLibrary) {
    return "<" QTAM_LV2_URI "#ui>\n    a ui:X11UI ;\n    ui:binary <" + uiLibrary +
           "> ;\n"
           "    lv2:requiredFeature ui:idleInterface, "
           "<http://lv2plug.in/ns/ext/instance-access> ;\n"
           "    lv2:optionalFeature ui:parent ;\n"
           "    lv2:extensionData ui:idleInterface, ui:showInterface .\n\n"
           "<" QTAM_LV2_URI "#external_ui>\n    a kx:Widget ;\n    ui:binary <" +
           uiLibrary +
           "> ;\n"
           "    lv2:requiredFeature <http://lv2plug.in/ns/ext/instance-access> ;\n"
           "    lv2:optionalFeature kx:Host .\n";
}

std::string Manifest(const std::string& library, const std::string& uiLibrary) {
    return "@prefix lv2:  <http://lv2plug.in/ns/lv2core#> .\n"
           "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
           "@prefix ui:   <http://lv2plug.in/ns/extensions/ui#> .\n"
           "@prefix kx:   <http://kxstudio.sf.net/ns/lv2ext/external-ui#> .\n\n"
           "<" QTAM_LV2_URI
           ">\n    a lv2:Plugin, lv2:InstrumentPlugin ;\n"
           "    lv2:binary <" +
           library +
           "> ;\n    ui:ui <" QTAM_LV2_URI "#ui>, <" QTAM_LV2_URI
           "#external_ui> ;\n    rdfs:seeAlso <qtam.ttl> .\n\n" +
           Window(uiLibrary);
}

bool Write(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: make_ttl BUNDLE_FOLDER LIBRARY_FILE_NAME UI_LIBRARY_FILE_NAME\n");
        return 2;
    }
    const std::string folder = argv[1], library = argv[2], uiLibrary = argv[3];
    if (!Write(folder + "/manifest.ttl", Manifest(library, uiLibrary)) ||
        !Write(folder + "/qtam.ttl", Plugin())) {
        std::fprintf(stderr, "make_ttl: cannot write into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
