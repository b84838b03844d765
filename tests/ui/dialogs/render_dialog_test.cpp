// The stream-to-disk dialog: offline renders read back with sox, a refused overwrite, and a
// live recording armed until the dialog shows again.

#include "ui/dialogs/render_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "core/messages.h"
#include "dialog_test_app.h"
#include "engine/mixer.h"
#include "temp_folder.h"
#include "test_support.h"
#include "ui/dialogs/progress_gauge.h"

using namespace qtam;
using qtam::test::Child;

namespace {

// What soxi reports about a file ("-s" frames, "-c" channels, "-r" rate, "-b" bits).
QString Soxi(const std::string& path, const char* option) {
    QProcess p;
    p.start(QStringLiteral("soxi"), {QString::fromLatin1(option), QString::fromStdString(path)});
    if (!p.waitForFinished(10000) || p.exitCode() != 0) return QStringLiteral("unreadable");
    return QString::fromLatin1(p.readAllStandardOutput()).trimmed();
}

// The percentages the gauge shows each time it is painted.
class PaintedPercents : public QObject {
public:
    explicit PaintedPercents(ProgressGauge* gauge) : gauge_(gauge) {
        gauge->installEventFilter(this);
    }
    std::vector<int> seen;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) seen.push_back(gauge_->Percent());
        return false;
    }

private:
    ProgressGauge* gauge_;
};

}  // namespace

class RenderDialogTest : public QObject {
    Q_OBJECT

    // The item of StreamMode `item`.
    static void Choose(RenderDialog& w, int item) {
        QTest::mouseClick(w.findChild<QButtonGroup*>()->button(item), Qt::LeftButton, {},
                          QPoint(5, 5));
    }
    static void ClickOk(RenderDialog& w) {
        QTest::mouseClick(Child<QPushButton>(w, "OkButton"), Qt::LeftButton);
    }

private Q_SLOTS:
    // Tempo 145, 16 steps: one measure is 72993 frames. A name without a dot gets ".WAV";
    // the file dialog starts in the sample folder, which then follows the chosen file.
    void renderedMeasureAndPattern() {
        test::TestApp app;
        test::TempFolder dir;
        RenderDialog w(app.ctx);
        app.m->activation.SampleFolder = "/nowhere";
        app.dialogs.answers = {dir / "beat", dir / "pattern.wav"};

        w.ShowStreamToDisk();
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowTitle(), QStringLiteral("Stream to disk"));
        QVERIFY(Child<ProgressGauge>(w, "Progress")->isHidden());
        ClickOk(w);
        QVERIFY(!w.isVisible());
        QCOMPARE(app.dialogs.shown.size(), std::size_t{1});
        QCOMPARE(app.dialogs.shown[0].title, std::string(kStreamDialogTitle));
        QCOMPARE(app.dialogs.shown[0].filter, std::string(kStreamDialogFilter));
        QCOMPARE(app.dialogs.shown[0].initialFolder, std::string("/nowhere"));
        QVERIFY(app.dialogs.shownForSaving[0]);
        QCOMPARE(app.m->activation.SampleFolder, dir.path());
        QCOMPARE(Soxi(dir / "beat.WAV", "-s"), QStringLiteral("72993"));
        QCOMPARE(Soxi(dir / "beat.WAV", "-c"), QStringLiteral("2"));
        QCOMPARE(Soxi(dir / "beat.WAV", "-r"), QStringLiteral("44100"));
        QCOMPARE(Soxi(dir / "beat.WAV", "-b"), QStringLiteral("16"));
        QCOMPARE(Child<ProgressGauge>(w, "Progress")->Progress(), 100);
        QCOMPARE(Child<QLabel>(w, "Activity")->text(), QStringLiteral("Saving soundfile"));
        QVERIFY(!app.m->Streaming);
        QCOMPARE(app.prompter.busyDepth, 0);

        // Three measures of pattern 2; the gauge is painted as the render goes, up to 100%.
        app.m->editor.CurrentPattern = 2;
        app.m->song.measureCount[1] = 3;
        PaintedPercents painted(Child<ProgressGauge>(w, "Progress"));
        w.ShowStreamToDisk();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(Child<ProgressGauge>(w, "Progress")->isHidden());
        QVERIFY(Child<QPushButton>(w, "OkButton")->isVisible());
        Choose(w, 1);
        ClickOk(w);
        QCOMPARE(Soxi(dir / "pattern.wav", "-s"), QStringLiteral("218979"));
        QVERIFY(painted.seen.size() >= 3);
        QCOMPARE(painted.seen.front(), 0);
        QCOMPARE(painted.seen.back(), 100);
        QVERIFY(std::is_sorted(painted.seen.begin(), painted.seen.end()));
        QVERIFY(std::count(painted.seen.begin(), painted.seen.end(), 98) == 1);
    }

    // The chosen name's extension picks the kind; Stems adds one file per channel that sounds
    // beside it, named after the channel and its sound. A live recording has no stems.
    void flacWithStemsBesideIt() {
        test::TestApp app;
        test::TempFolder dir;
        RenderDialog w(app.ctx);
        test::SetSound(app.m->banks.internalBank, 4, std::vector<std::int16_t>(500, 9000), "Snare");
        app.m->song.settings(1).instrument[2] = 4;
        test::SetNote(*app.m, 1, 1, 3, 1, 127, 64, false);
        app.dialogs.answers = {dir / "beat.flac"};
        w.ShowStreamToDisk();
        QCheckBox* stems = Child<QCheckBox>(w, "Stems");
        stems->setChecked(true);
        ClickOk(w);
        QCOMPARE(Soxi(dir / "beat.flac", "-t"), QStringLiteral("flac"));
        QCOMPARE(Soxi(dir / "beat-03-Snare.flac", "-s"), Soxi(dir / "beat.flac", "-s"));
        QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
        w.ShowStreamToDisk();
        Choose(w, 2);
        QVERIFY(!stems->isEnabled());
    }

    // Beside the song, named after it; stems into a folder not there yet make it, and the
    // end of the render is told.
    void besideTheSongIntoANewFolder() {
        test::TestApp app;
        test::TempFolder dir;
        RenderDialog w(app.ctx);
        app.m->editor.SongFileName = dir / "songs/groove.sng";
        app.dialogs.answers = {dir / "new/groove.flac"};
        w.ShowStreamToDisk();
        Child<QCheckBox>(w, "Stems")->setChecked(true);
        ClickOk(w);
        QCOMPARE(app.dialogs.shown[0].initialFolder, dir / "songs/");
        QCOMPARE(app.dialogs.shown[0].fileName, std::string("groove.wav"));
        QVERIFY(std::filesystem::exists(dir / "new/groove.flac"));
        QVERIFY(app.prompter.warnings.empty());
        QCOMPARE(app.prompter.notes.size(), std::size_t{1});
    }

    // "Whole arrangement" is offered with an arrangement only: every entry once, the sounds
    // then ringing out. Tempo 145: each measure played is 16 steps of 4561 frames.
    void wholeArrangementWithItsTail() {
        test::TestApp app;
        test::TempFolder dir;
        RenderDialog w(app.ctx);
        test::SetSound(app.m->banks.internalBank, 1, std::vector<std::int16_t>(20000, 3000));
        test::SetNote(*app.m, 2, 1, 1, 16, 100);
        app.dialogs.answers = {dir / "track.flac"};
        w.ShowStreamToDisk();
        QAbstractButton* whole = Child<QGroupBox>(w, "What")->findChildren<QRadioButton*>().at(3);
        QVERIFY(!whole->isEnabled());
        app.m->arrangement.entry(1) = {1, 2, 0, 0};
        app.m->arrangement.entry(2) = {2, 1, 0, 0};
        app.m->arrangement.count = 2;
        w.Dismiss();
        w.ShowStreamToDisk();
        QVERIFY(whole->isEnabled());
        Choose(w, 3);
        ClickOk(w);
        const long frames = Soxi(dir / "track.flac", "-s").toLong();
        QVERIFY2(frames > 3 * 16 * 4561 && frames < 3 * 16 * 4561 + 20000,
                 qPrintable(QString::number(frames)));
    }

    // No file chosen: the dialog stays. An existing file the user will not overwrite: the
    // question, nothing written, the dialog closes and the sample folder stays.
    void cancelledAndRefusedFiles() {
        test::TestApp app;
        test::TempFolder dir;
        RenderDialog w(app.ctx);
        app.m->activation.SampleFolder = "/samples";
        test::WriteBytes(dir / "take.wav", {'o', 'l', 'd'});
        app.dialogs.answers = {std::nullopt, dir / "take.wav"};

        w.ShowStreamToDisk();
        ClickOk(w);
        QVERIFY(w.isVisible());
        QVERIFY(app.prompter.questions.empty());

        ClickOk(w);
        QVERIFY(!w.isVisible());
        QCOMPARE(app.prompter.questions, std::vector<std::string>{kMsgFileExists});
        QVERIFY(app.prompter.warnings.empty());
        QCOMPARE(test::ReadBytes(dir / "take.wav"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        QVERIFY(!std::filesystem::exists(dir / "~wavconv.pcm"));
        QCOMPARE(app.m->activation.SampleFolder, std::string("/samples"));
        QVERIFY(!app.m->Streaming);
    }

    // The live session leaves the file open for playback to fill; showing the dialog again
    // before a stop finishes it with what was recorded.
    void liveSessionFinishedByTheNextShowing() {
        test::TestApp app;
        test::TempFolder dir;
        RenderDialog w(app.ctx);
        test::SetSound(app.m->banks.internalBank, 1, std::vector<std::int16_t>(20000, 3000));
        test::SetNote(*app.m, 1, 1, 1, 1, 100);
        app.dialogs.answers = {dir / "live.wav"};

        w.ShowStreamToDisk();
        Choose(w, 2);
        ClickOk(w);
        QVERIFY(!w.isVisible());
        QVERIFY(app.m->Streaming);
        QCOMPARE(app.m->activation.SampleFolder, dir.path());
        QVERIFY(!std::filesystem::exists(dir / "live.wav"));

        PrepareStart(PlayerOf(*app.m));
        RenderBlock(*app.m, 4096);  // what playback appends while it runs
        w.ShowStreamToDisk();
        QVERIFY(!app.m->Streaming);
        QCOMPARE(Soxi(dir / "live.wav", "-s"), QStringLiteral("4096"));
        QVERIFY(!std::filesystem::exists(dir / "~wavconv.pcm"));
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(RenderDialogTest)
#include "render_dialog_test.moc"
