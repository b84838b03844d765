// qtam_panel: the groove panel alone, with the program's kit, playback driver and event pump,
// for timing it and for pictures of it.
//
//   qtam_panel [SONG] [--screenshot OUT.png] [--scale S] [--play] [--quit-after MS]
//              [--light-show] [--channel N] [--grab OUT.png]
//
// --screenshot writes the panel offscreen and exits; --play starts playback at once;
// --quit-after ends the program after MS milliseconds; --light-show runs the start-up light
// show a second after the start and prints the timing of its ticks when the program ends;
// --grab saves the shown window as the screen has it (at its scale) 1.5 s after the start.

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include "banks/kit.h"
#include "core/file_dialogs.h"
#include "core/machine.h"
#include "engine/audio/event_queue.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "engine/mixer.h"
#include "song/init_song.h"
#include "song/song_file.h"
#include "song/song_history.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/services/app_context.h"
#include "ui/services/event_pump.h"
#include "ui/services/playback_notifier.h"

namespace {

class NoFileDialogs : public qtam::FileDialogs {
public:
    std::optional<std::string> OpenFile(const qtam::FileDialogSpec&) override { return {}; }
    std::optional<std::string> SaveFile(const qtam::FileDialogSpec&) override { return {}; }
};

void PrintTickTiming(const qtam::GroovePanel& panel) {
    const auto& t = panel.LightShowTickTimes;
    if (t.size() < 2) return;
    double sum = 0, worst = 0;
    for (std::size_t i = 1; i < t.size(); ++i) {
        const double ms = std::chrono::duration<double, std::milli>(t[i] - t[i - 1]).count();
        sum += ms;
        worst = std::max(worst, std::abs(ms - qtam::GroovePanel::kLightShowInterval));
    }
    const double mean = sum / double(t.size() - 1);
    std::printf("light show: %zu ticks, mean interval %.3f ms, worst deviation %.3f ms\n", t.size(),
                mean, worst);
}

// Prints the key events the panel gets (to see how a held key arrives).
class KeyLog : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
            watched->isWidgetType()) {
            const auto* k = static_cast<QKeyEvent*>(event);
            std::printf("%s key %d at %llu%s\n",
                        event->type() == QEvent::KeyPress ? "press" : "release", k->key(),
                        static_cast<unsigned long long>(k->timestamp()),
                        k->isAutoRepeat() ? " (repeat)" : "");
            std::fflush(stdout);
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QString screenshot, song;
    double scale = 1;
    bool play = false, lightShow = false;
    int quitAfter = -1;
    int channel = 1;
    QString grab;  // the shown window, as the screen has it
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--screenshot" && i + 1 < args.size()) {
            screenshot = args[++i];
        } else if (a == "--scale" && i + 1 < args.size()) {
            scale = args[++i].toDouble();
        } else if (a == "--channel" && i + 1 < args.size()) {
            channel = std::clamp(args[++i].toInt(), 1, 8);
        } else if (a == "--grab" && i + 1 < args.size()) {
            grab = args[++i];
        } else if (a == "--log-keys") {
            app.installEventFilter(new KeyLog);
        } else if (a == "--play") {
            play = true;
        } else if (a == "--light-show") {
            lightShow = true;
        } else if (a == "--quit-after" && i + 1 < args.size()) {
            quitAfter = args[++i].toInt();
        } else {
            song = a;
        }
    }

    auto m = std::make_unique<qtam::Machine>();
    qtam::ResetTransport(*m);
    qtam::InitSong(*m);
    qtam::EventQueue events;
    qtam::PlaybackDriver playback(*m, events);
    qtam::PlaybackNotifier playbackState(playback);
    NoFileDialogs dialogs;
    qtam::WaveDeviceSettings device;
    qtam::SongHistory history;
    qtam::AppContext ctx{.m = *m,
                         .events = events,
                         .playback = playback,
                         .playbackState = playbackState,
                         .dialogs = dialogs,
                         .device = device,
                         .history = history};
    qtam::EventPump pump(events);

    qtam::ActivateBanks(*m, QCoreApplication::applicationFilePath().toStdString());
    if (!song.isEmpty() && !qtam::LoadSong(*m, song.toStdString(), true)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(song));
        return 1;
    }
    qtam::SetTempo(*m, m->song.tempo, m->song.shuffle);
    qtam::UpdateTitle(*m);
    m->editor.CurrentChannel = static_cast<std::uint8_t>(channel);

    qtam::GroovePanel panel(ctx);
    if (!screenshot.isEmpty()) return qtam::WritePanelScreenshot(panel, screenshot, scale) ? 0 : 1;

    panel.show();
    if (play) panel.StartPlaying();
    // as when the splash goes away, a while after the panel came up
    if (lightShow) QTimer::singleShot(1000, &panel, [&] { panel.StartLightShow(); });
    if (!grab.isEmpty()) QTimer::singleShot(1500, &panel, [&] { panel.grab().save(grab, "PNG"); });
    if (quitAfter >= 0) {
        QTimer::singleShot(quitAfter, &app, [&] {
            if (m->Playing)
                std::printf("played %lld frames\n",
                            static_cast<long long>(playback.PlayedFrames()));
            if (lightShow) PrintTickTiming(panel);
            const qtam::Song& sg = m->song;
            std::printf("tempo %d shuffle %d measures %d channel %d volume %d main volume %d\n",
                        sg.tempo, sg.shuffle, sg.measureCount[m->editor.CurrentPattern - 1],
                        m->editor.CurrentChannel,
                        sg.settings(m->editor.CurrentPattern).volume[m->editor.CurrentChannel - 1],
                        m->clock.MainVolumeTarget);
            QCoreApplication::exit(0);  // quit() would ask the panel, which refuses to close
        });
    }
    return app.exec();
}
