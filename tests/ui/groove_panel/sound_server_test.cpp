// The groove panel playing through a real sound server (a private PulseAudio server) that is
// killed while playing and started again: playback stops with a word to the user, and Start
// plays again once the server is back.

#include <QTest>
#include <memory>

#include "core/machine.h"
#include "dialog_test_app.h"
#include "engine/audio/playback.h"
#include "engine/audio/private_pulse.h"
#include "engine/play_clock.h"
#include "test_support.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/groove_panel/panel_layout.h"
#include "ui/services/app_context.h"
#include "ui/services/event_pump.h"

using namespace qtam;

namespace {

constexpr QPoint kStart(layout::kStartButtonLeft + 20, layout::kStartButtonTop + 10);

struct ServerRig : test::TestApp {
    test::PrivatePulse server;  // before the panel: the panel's device must close first
    EventPump pump{events};
    std::unique_ptr<GroovePanel> panel;

    ServerRig() {
        ResetTransport(*m);
        SetTempo(PlayerOf(*m), m->song.tempo, m->song.shuffle);
        std::vector<std::int16_t> sound(4000, 6000);
        test::SetSound(m->banks.internalBank, 1, sound);
        m->song.settings(1).instrument[0] = 1;
        for (int slot = 1; slot <= 16; ++slot) test::SetNote(*m, 1, 1, 1, slot, 100);
    }
    ~ServerRig() {
        if (m->Playing) playback.StopPlaying();
        panel.reset();
    }
    QString at(QPoint p) const {
        QWidget* w = panel->childAt(p);
        return w ? w->objectName() : QString();
    }
    void click(QPoint p) {
        QTest::mouseClick(panel->windowHandle(), Qt::LeftButton, Qt::NoModifier, p);
    }
    // Start as the user starts, and wait until a quarter of a second has been played.
    bool StartAndHear() {
        if (at(kStart) != QStringLiteral("StartButton")) return false;
        click(kStart);
        return QTest::qWaitFor([&] { return playback.PlayedFrames() > 11025; }, 10000);
    }
};

}  // namespace

class SoundServerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aKilledServerStopsPlaybackWithAWordAndStartPlaysOnceItIsBack() {
        ServerRig r;
        QVERIFY(r.server.Start());
        r.panel = std::make_unique<GroovePanel>(r.ctx);
        r.panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(r.panel.get()));
        // The device opens when the panel shows, the library loaded off this thread.
        QTRY_VERIFY_WITH_TIMEOUT(r.playback.Playback.IsOpen(), 10000);
        QVERIFY(r.StartAndHear());

        r.server.Kill();
        QTRY_VERIFY_WITH_TIMEOUT(!r.m->Playing, 5000);
        QCOMPARE(r.prompter.warnings.size(), std::size_t(1));
        QVERIFY(r.prompter.warnings[0].starts_with("The sound device was lost ("));
        QCOMPARE(r.at(kStart), QStringLiteral("StartButton"));

        QVERIFY(r.server.Start());
        QVERIFY(r.StartAndHear());
        QVERIFY(r.playback.Playback.IsOpen());
        QCOMPARE(r.prompter.warnings.size(), std::size_t(1));
    }

    void aConfiguredDeviceThatIsGonePlaysThroughTheDefaultWithANote() {
        ServerRig r;
        QVERIFY(r.server.Start());
        r.playback.DeviceNum = 7;  // the server has one device
        r.panel = std::make_unique<GroovePanel>(r.ctx);
        r.panel->show();
        QTRY_VERIFY_WITH_TIMEOUT(r.playback.Playback.IsOpen(), 10000);
        QCOMPARE(r.prompter.warnings.size(), std::size_t(1));
        QCOMPARE(r.prompter.warnings[0], DefaultDeviceInsteadText(7));
        QVERIFY(r.StartAndHear());
        r.playback.StopPlaying();
        // Said once, not at every opening.
        r.playback.CloseDevice();
        r.playback.OpenDevice();
        QVERIFY(r.playback.Playback.IsOpen());
        QCOMPARE(r.prompter.warnings.size(), std::size_t(1));
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(SoundServerTest)
#include "sound_server_test.moc"
