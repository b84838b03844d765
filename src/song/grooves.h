#pragma once
// The "&Various" menu: groove templates, Random Chaos and the Humanize option.

#include <array>
#include <cstdint>
#include <string_view>

namespace qtam {

struct Machine;

struct GrooveTemplate {
    std::string_view caption;
    std::array<std::uint8_t, 16> velocities;  // by step slot 1..16
    std::uint8_t shuffle;
};

// Every template, in menu order ("Random Chaos" is no table and stands apart).
extern const std::array<GrooveTemplate, 19> kGrooveTemplates;

inline constexpr std::string_view kRandomChaosCaption = "Random Chaos";
// "Random Chaos" sits between "Pop Tune" and "Rap Vibez" in the menu.
inline constexpr int kRandomChaosMenuIndex = 15;
inline constexpr int kGrooveMenuSize = 20;

// The caption of menu entry 0..19 (empty outside).
std::string_view GrooveMenuCaption(int index);
// Runs menu entry 0..19: a template or Random Chaos. False for an index outside.
bool ChooseGrooveMenuEntry(Machine& m, int index);

// Velocity of every note above 0 in all 16 measures of the current pattern from the table,
// then the template's shuffle. Marks the Song changed and drops a prepared start; the caller
// refreshes the panel.
void ApplyGroove(Machine& m, const GrooveTemplate& groove);
// Every note above 0 of the current pattern gets a velocity 27..126 from m.random.
void RandomChaos(Machine& m);

// Flips the Humanize check and stores it in the Song; not a change that needs saving.
void ToggleHumanize(Machine& m);

}  // namespace qtam
