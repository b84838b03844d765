// qtam_panel: the groove panel alone, with the program's kit, playback driver and event pump,
// for timing it and for pictures of it.
//
//   qtam_panel [SONG] [--screenshot OUT.png] [--scale S] [--play] [--play-after MS]
//              [--quit-after MS] [--light-show] [--channel N] [--grab OUT.png] [--tempo BPM]
//              [--latency MS] [--log-light MIX.raw]
//
// --screenshot writes the panel offscreen and exits; --play starts playback at once, and
// --play-after MS that long after the panel came up (its sound device opened by then);
// --quit-after ends the program after MS milliseconds; --light-show runs the start-up light
// show a second after the start and prints the timing of its ticks when the program ends;
// --grab saves the shown window as the screen has it (at its scale) 1.5 s after the start.
// --tempo plays the song at another tempo; --latency asks the sound device for MS of latency.
// --log-light prints a line whenever the running light
// moves ("light", the steady clock in ns, pattern, measure, step and the frame at which the
// step begins) and, at the end, every step start the mixer kept ("step", frame, pattern,
// measure, step); the frames mixed since the start are written to MIX.raw (16-bit stereo), so
// that each step's sound can be found in a recording (humanize is on, so no two beats are
// alike).

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
#include "song/song_editor.h"
#include "song/song_file.h"
#include "transport/transport.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/groove_panel/play_lights.h"
#include "ui/services/app_context.h"
#include "ui/services/event_pump.h"
#include "ui/services/playback_notifier.h"
#include "ui/services/song_notifier.h"

namespace {

// Keeps what the live mixer makes, as a stream to disk would.
class MixFile : public qtam::StreamSink {
public:
    explicit MixFile(const QString& path) : file_(std::fopen(qPrintable(path), "wb")) {}
    ~MixFile() override {
        if (file_) std::fclose(file_);
    }
    void Append(const void* bytes, std::size_t count) override {
        if (file_) std::fwrite(bytes, 1, count, file_);
    }

private:
    std::FILE* file_;
};

void PrintStepStarts(const qtam::StepStartLog& log) {
    const std::int64_t oldest = std::max<std::int64_t>(0, log.count - qtam::StepStartLog::kSize);
    for (std::int64_t i = oldest; i < log.count; ++i) {
        const qtam::StepStart& s = log.starts[static_cast<std::size_t>(i % log.kSize)];
        std::printf("step %lld %d %d %d\n", static_cast<long long>(s.frame), s.pattern, s.measure,
                    s.step);
    }
}

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
    int playAfter = -1;
    int tempo = 0;
    int latencyMs = 0;  // 0: the device's default
    QString mixPath;    // with --log-light
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
        } else if (a == "--play-after" && i + 1 < args.size()) {
            playAfter = args[++i].toInt();
        } else if (a == "--light-show") {
            lightShow = true;
        } else if (a == "--tempo" && i + 1 < args.size()) {
            tempo = std::clamp(args[++i].toInt(), 1, 1000);
        } else if (a == "--latency" && i + 1 < args.size()) {
            latencyMs = args[++i].toInt();
        } else if (a == "--log-light" && i + 1 < args.size()) {
            mixPath = args[++i];
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
    qtam::SongEditor edits(*m);
    qtam::SongNotifier songState(edits);
    qtam::Transport transport(*m, playback, edits);
    qtam::PlaybackNotifier playbackState(transport);
    NoFileDialogs dialogs;
    qtam::WaveDeviceSettings device;
    if (latencyMs > 0) {
        device.Latency = latencyMs;
        playback.ApplySettings(device);
    }
    qtam::AppContext ctx{.m = *m,
                         .events = events,
                         .playback = playback,
                         .playbackState = playbackState,
                         .dialogs = dialogs,
                         .device = device,
                         .edits = edits,
                         .songState = songState,
                         .transport = transport};
    qtam::EventPump pump(events);

    qtam::ActivateBanks(*m, QCoreApplication::applicationFilePath().toStdString());
    if (!song.isEmpty() && !qtam::LoadSong(*m, song.toStdString(), true)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(song));
        return 1;
    }
    if (tempo > 0) m->song.tempo = static_cast<std::uint16_t>(tempo);
    qtam::SetTempo(PlayerOf(*m), m->song.tempo, m->song.shuffle);
    edits.TakeSong();  // the song read above is the one opened: nothing to undo
    m->editor.CurrentChannel = static_cast<std::uint8_t>(channel);

    qtam::GroovePanel panel(ctx);
    if (!screenshot.isEmpty()) return qtam::WritePanelScreenshot(panel, screenshot, scale) ? 0 : 1;

    std::unique_ptr<MixFile> mix;
    if (!mixPath.isEmpty()) {
        mix = std::make_unique<MixFile>(mixPath);
        m->stream = mix.get();
        m->Streaming = true;  // the stream sink is ours: nothing finishes it at a stop
        // Humanized, no two beats are the same bytes, so each is found in the recording.
        m->editor.HumanizeChecked = true;
        panel.Lights().onStepShown = [](const qtam::PlayPosition& p) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count();
            std::printf("light %lld %d %d %d %lld\n", static_cast<long long>(ns), p.pattern,
                        p.measure, p.step, static_cast<long long>(p.start));
        };
    }

    panel.show();
    if (play) panel.StartPlaying();
    if (playAfter >= 0) QTimer::singleShot(playAfter, &panel, [&] { panel.StartPlaying(); });
    // as when the splash goes away, a while after the panel came up
    if (lightShow) QTimer::singleShot(1000, &panel, [&] { panel.StartLightShow(); });
    if (!grab.isEmpty()) QTimer::singleShot(1500, &panel, [&] { panel.grab().save(grab, "PNG"); });
    if (quitAfter >= 0) {
        QTimer::singleShot(quitAfter, &app, [&] {
            if (m->Playing)
                std::printf("played %lld frames\n",
                            static_cast<long long>(playback.PlayedFrames()));
            if (lightShow) PrintTickTiming(panel);
            if (mix) PrintStepStarts(playback.StepStarts());
            const qtam::Song& sg = m->song;
            std::printf("tempo %d shuffle %d measures %d channel %d volume %d main volume %d\n",
                        sg.tempo, sg.shuffle, sg.measureCount[m->editor.CurrentPattern - 1],
                        m->editor.CurrentChannel,
                        sg.settings(m->editor.CurrentPattern).volume[m->editor.CurrentChannel - 1],
                        m->player.clock.MainVolumeTarget);
            QCoreApplication::exit(0);  // quit() would ask the panel, which refuses to close
        });
    }
    return app.exec();
}
