#include "ui/groove_panel/song_switch.h"

#include "transport/transport.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/groove_panel/panel_controls.h"
#include "ui/groove_panel/panel_layout.h"
#include "ui/services/app_context.h"

namespace qtam {

SongSwitch::SongSwitch(AppContext& ctx, GroovePanel& panel) : ctx_(ctx) {
    picture_ = new SkinPicture(skin::Picture::SongSwitch, 0, QStringLiteral("SongSwitch"), &panel);
    picture_->move(layout::kSongSwitch.left, layout::kSongSwitch.top);
    picture_->setToolTip(QStringLiteral("Song: a start plays the arrangement"));
    picture_->onRelease = [this](QMouseEvent* e) {
        if (IsClick(*picture_, e)) Toggle();
    };
    Show();
}

void SongSwitch::Toggle() {
    ctx_.transport.SetSongMode(!ctx_.transport.SongMode());
}

void SongSwitch::Show() {
    picture_->SetPicture(skin::Picture::SongSwitch, ctx_.transport.SongMode() ? 1 : 0);
}

}  // namespace qtam
