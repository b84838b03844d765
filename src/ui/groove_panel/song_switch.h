#pragma once
// The Song/Pattern switch on the groove panel: its lamp is lit while a start plays the
// arrangement (song mode) rather than the patterns as queued. The switch belongs to the
// transport controller; the panel shows it and hands it clicks and keys.
//
// Thread: the user-interface thread.

namespace qtam {

struct AppContext;
class SkinPicture;
class GroovePanel;

class SongSwitch {
public:
    // Creates its picture on the panel, under the pattern keys.
    SongSwitch(AppContext& ctx, GroovePanel& panel);

    // Song mode on or off, through the transport.
    void Toggle();
    // The lamp as the transport has the switch.
    void Show();

private:
    AppContext& ctx_;
    SkinPicture* picture_ = nullptr;  // "SongSwitch", a child of the panel
};

}  // namespace qtam
