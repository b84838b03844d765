#pragma once

namespace qtam {
struct Machine;

// Puts the Song, the edit position and the play clock into the new-song state.
// Leaves SongFileName alone: "New song" clears it.
void InitSong(Machine& m);
}  // namespace qtam
