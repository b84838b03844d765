// The about box: the splash at start-up, its two letter keys, and what its going away sets
// off (the light show once, the information of a command-line song that asks for it).

#include "ui/about.h"

#include <QSignalSpy>
#include <QTest>

#include "core/machine.h"
#include "song/song_file.h"
#include "temp_folder.h"
#include "test_support.h"
#include "ui/app.h"
#include "ui/korvath.h"

using namespace qtam;

class AboutTest : public QObject {
    Q_OBJECT

    test::TempFolder dir;
    test::ScriptedPrompter prompter;
    test::ScriptedFileDialogs dialogs;

    std::unique_ptr<QtamApp> Start(const std::string& song = {}) {
        return std::make_unique<QtamApp>(song, dir / "QTam.ini", StandIns{&prompter, &dialogs});
    }

    static void ClickPicture(TAbout* about) {
        QWidget* picture = about->childAt(160, 100);
        QVERIFY(picture != nullptr);
        QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(10, 10));
    }

private Q_SLOTS:
    void splashStartsTheLightShowOnce() {
        auto app = Start();
        int lightShows = 0, infoViews = 0;
        app->context().actions.startLightShow = [&] { ++lightShows; };
        app->context().actions.showSongInfoView = [&] { ++infoViews; };
        app->ShowAtStart();
        TAbout* about = app->about();
        QVERIFY(about->isVisible());
        QCOMPARE(about->windowTitle(), QString("Q.Tam Vediveve Duzuda Duvivir 1.0"));
        QCOMPARE(about->size(), QSize(320, 200));
        QVERIFY(about->windowFlags() & Qt::WindowStaysOnTopHint);

        ClickPicture(about);
        QVERIFY(!about->isVisible());
        QCOMPARE(lightShows, 1);

        // From the menu again: clicking it away does not run the light show again, and the
        // panel's activation hides it the same way.
        app->korvath()->AboutmenuClick();
        QVERIFY(about->isVisible());
        ClickPicture(about);
        app->korvath()->AboutmenuClick();
        AppContext::Run(app->context().actions.hideAboutBox);
        QVERIFY(!about->isVisible());
        QCOMPARE(lightShows, 1);
        QCOMPARE(infoViews, 0);  // no command-line song
    }

    void lettersRevealTheHiddenPicture() {
        auto app = Start();
        TAbout* about = app->about();
        app->korvath()->AboutmenuClick();
        // The second letter alone does nothing.
        QTest::keyClick(about, Qt::Key(TAbout::kRevealKey));
        QVERIFY(!about->HiddenPictureShown());
        QTest::keyClick(about, Qt::Key(TAbout::kArmKey));
        QVERIFY(about->armed());
        QTest::keyClick(about, Qt::Key(TAbout::kArmKey));  // flips back
        QVERIFY(!about->armed());
        QTest::keyClick(about, Qt::Key(TAbout::kArmKey));
        QTest::keyClick(about, Qt::Key_X);  // other keys change nothing
        QVERIFY(about->armed());
        QTest::keyClick(about, Qt::Key(TAbout::kRevealKey));
        QVERIFY(about->HiddenPictureShown());
        QCOMPARE(about->childAt(160, 100)->isVisible(), true);

        // A click on the hidden picture closes the box; the next showing is the normal one,
        // disarmed.
        ClickPicture(about);
        QVERIFY(!about->isVisible());
        QVERIFY(!about->armed());
        app->korvath()->AboutmenuClick();
        QVERIFY(!about->HiddenPictureShown());
        QVERIFY(!about->armed());
        QTest::keyClick(about, Qt::Key(TAbout::kRevealKey));
        QVERIFY(!about->HiddenPictureShown());
    }

    // A command-line song that asks for its information shows it each time the box goes.
    void commandLineSongInformation() {
        {
            auto m = test::NewMachine();
            m->song.showInfoOnOpen = 1;
            QVERIFY(SaveSong(*m, dir / "intro.sng", true));
        }
        auto app = Start(dir / "intro.sng");
        int infoViews = 0;
        app->context().actions.showSongInfoView = [&] { ++infoViews; };
        app->ShowAtStart();
        ClickPicture(app->about());
        QCOMPARE(infoViews, 1);
        app->korvath()->AboutmenuClick();
        ClickPicture(app->about());
        QCOMPARE(infoViews, 2);
    }

    // The pictures are drawn at the window's device pixel ratio; look at them with
    // QTAM_SHOTS=folder.
    void picturesAreDrawn() {
        auto app = Start();
        TAbout* about = app->about();
        const QImage product = about->grab().toImage();
        const qreal ratio = product.devicePixelRatio();
        QCOMPARE(product.size(), QSize(320, 200) * ratio);
        // Not one flat colour: something was drawn.
        QVERIFY(product.pixel(160 * ratio, 30 * ratio) != product.pixel(5 * ratio, 5 * ratio));
        app->korvath()->AboutmenuClick();
        QTest::keyClick(about, Qt::Key(TAbout::kArmKey));
        QTest::keyClick(about, Qt::Key(TAbout::kRevealKey));
        const QImage hidden = about->grab().toImage();
        QVERIFY(hidden != product);
        if (qEnvironmentVariableIsSet("QTAM_SHOTS")) {
            const QString folder = qEnvironmentVariable("QTAM_SHOTS");
            product.save(folder + "/about.png");
            hidden.save(folder + "/about-hidden.png");
            app->korvath()->grab().save(folder + "/korvath.png");
        }
    }
};

QTEST_MAIN(AboutTest)
#include "about_test.moc"
