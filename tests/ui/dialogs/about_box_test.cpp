// The about box: the splash at start-up, its two letter keys, and what its going away sets
// off (the light show once, the information of a command-line song that asks for it).

#include "ui/dialogs/about_box.h"

#include <QSignalSpy>
#include <QTest>

#include "core/machine.h"
#include "song/song_file.h"
#include "temp_folder.h"
#include "test_support.h"
#include "ui/app/application.h"
#include "ui/dialogs/song_info_window.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/main_window/main_window.h"

using namespace qtam;

class AboutBoxTest : public QObject {
    Q_OBJECT

    test::TempFolder dir;
    test::ScriptedPrompter prompter;
    test::ScriptedFileDialogs dialogs;

    std::unique_ptr<QtamApp> Start(const std::string& song = {}) {
        return std::make_unique<QtamApp>(song, dir / "QTam.ini", StandIns{&prompter, &dialogs});
    }

    static void ClickPicture(AboutBox* about) {
        QWidget* picture = about->childAt(160, 100);
        QVERIFY(picture != nullptr);
        QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(10, 10));
    }

private Q_SLOTS:
    void splashStartsTheLightShowOnce() {
        auto app = Start();
        app->ShowAtStart();
        GroovePanel& panel = app->panel();
        AboutBox* about = &app->aboutBox();
        QVERIFY(about->isVisible());
        QCOMPARE(about->windowTitle(), QString("Q.Tam Vediveve Duzuda Duvivir 1.0"));
        QCOMPARE(about->size(), QSize(320, 200));
        QVERIFY(about->windowFlags() & Qt::WindowStaysOnTopHint);

        ClickPicture(about);
        QVERIFY(!about->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(panel.LightShowDone, 10000);
        QCOMPARE(panel.LightShowTickCount, GroovePanel::kLightShowTicks);

        // From the menu again: clicking it away does not run the light show again, and the
        // panel's activation hides it the same way.
        app->mainWindow().ShowAboutBox();
        QVERIFY(about->isVisible());
        ClickPicture(about);
        app->mainWindow().ShowAboutBox();
        Q_EMIT panel.activated();
        QVERIFY(!about->isVisible());
        QTest::qWait(3 * GroovePanel::kLightShowInterval);
        QCOMPARE(panel.LightShowTickCount, GroovePanel::kLightShowTicks);  // no second show
        QVERIFY(!app->songInfo().isVisible());                             // no command-line song
    }

    void lettersRevealTheHiddenPicture() {
        auto app = Start();
        AboutBox* about = &app->aboutBox();
        app->mainWindow().ShowAboutBox();
        // The second letter alone does nothing.
        QTest::keyClick(about, Qt::Key(AboutBox::kRevealKey));
        QVERIFY(!about->HiddenPictureShown());
        QTest::keyClick(about, Qt::Key(AboutBox::kArmKey));
        QVERIFY(about->armed());
        QTest::keyClick(about, Qt::Key(AboutBox::kArmKey));  // flips back
        QVERIFY(!about->armed());
        QTest::keyClick(about, Qt::Key(AboutBox::kArmKey));
        QTest::keyClick(about, Qt::Key_X);  // other keys change nothing
        QVERIFY(about->armed());
        QTest::keyClick(about, Qt::Key(AboutBox::kRevealKey));
        QVERIFY(about->HiddenPictureShown());
        QCOMPARE(about->childAt(160, 100)->isVisible(), true);

        // A click on the hidden picture closes the box; the next showing is the normal one,
        // disarmed.
        ClickPicture(about);
        QVERIFY(!about->isVisible());
        QVERIFY(!about->armed());
        app->mainWindow().ShowAboutBox();
        QVERIFY(!about->HiddenPictureShown());
        QVERIFY(!about->armed());
        QTest::keyClick(about, Qt::Key(AboutBox::kRevealKey));
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
        SongInfoWindow& info = app->songInfo();
        app->ShowAtStart();
        ClickPicture(&app->aboutBox());
        QVERIFY(info.isVisible());
        QCOMPARE(info.Mode(), SongInfoMode::View);
        info.hide();
        app->mainWindow().ShowAboutBox();
        ClickPicture(&app->aboutBox());
        QVERIFY(info.isVisible());
    }

    // The pictures are drawn at the window's device pixel ratio; look at them with
    // QTAM_SHOTS=folder.
    void picturesAreDrawn() {
        auto app = Start();
        AboutBox* about = &app->aboutBox();
        const QImage product = about->grab().toImage();
        const qreal ratio = product.devicePixelRatio();
        QCOMPARE(product.size(), QSize(320, 200) * ratio);
        // Not one flat colour: something was drawn.
        QVERIFY(product.pixel(160 * ratio, 30 * ratio) != product.pixel(5 * ratio, 5 * ratio));
        app->mainWindow().ShowAboutBox();
        QTest::keyClick(about, Qt::Key(AboutBox::kArmKey));
        QTest::keyClick(about, Qt::Key(AboutBox::kRevealKey));
        const QImage hidden = about->grab().toImage();
        QVERIFY(hidden != product);
        if (qEnvironmentVariableIsSet("QTAM_SHOTS")) {
            const QString folder = qEnvironmentVariable("QTAM_SHOTS");
            product.save(folder + "/about.png");
            hidden.save(folder + "/about-hidden.png");
            app->mainWindow().grab().save(folder + "/main_window.png");
        }
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(AboutBoxTest)
#include "about_box_test.moc"
