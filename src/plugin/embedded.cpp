#include "plugin/embedded.h"

// The files as the build made them (QTAM_KIT_FILE, QTAM_DEMO_SONG), included byte for byte.
#define QTAM_INCBIN(name, file)          \
    asm(".pushsection .rodata\n"         \
        ".balign 16\n"                   \
        ".local " #name "_begin\n" #name \
        "_begin:\n"                      \
        ".incbin \"" file                \
        "\"\n"                           \
        ".local " #name "_end\n" #name   \
        "_end:\n"                        \
        ".popsection\n");                \
    extern "C" const std::uint8_t name##_begin[], name##_end[];

QTAM_INCBIN(qtam_kit, QTAM_KIT_FILE)
QTAM_INCBIN(qtam_demo, QTAM_DEMO_SONG)

namespace qtam::plugin {

std::span<const std::uint8_t> EmbeddedKit() {
    return {qtam_kit_begin, qtam_kit_end};
}

std::span<const std::uint8_t> EmbeddedDemoSong() {
    return {qtam_demo_begin, qtam_demo_end};
}

}  // namespace qtam::plugin
