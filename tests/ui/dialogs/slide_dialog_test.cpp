// The Custom effect dialog around the two custom slides.

#include "ui/dialogs/slide_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "dialog_test_app.h"

using namespace qtam;
using qtam::test::Child;
using qtam::test::WhileShown;

class SlideDialogTest : public QObject {
    Q_OBJECT

    static QString Text(SlideDialog& w, const char* label) {
        return Child<QLabel>(w, label)->text();
    }

private Q_SLOTS:
    // Moving the bars shows their numbers; Cancel then leaves the song as it was.
    void cancelLeavesTheSongAlone() {
        test::TestApp app;
        SlideDialog w(app.ctx);
        test::SetNote(*app.m, 1, 1, 1, 1, 80);
        test::SetNote(*app.m, 1, 1, 1, 16, 80);
        app.AsOpened();  // as an opened song holds it
        app.m->editor.StartPrepared = true;

        WhileShown(
            w,
            [&] {
                QCOMPARE(w.windowTitle(), QStringLiteral("Custom effect"));
                QCOMPARE(Text(w, "TopLabel"), QStringLiteral("Start value (step 1)"));
                QCOMPARE(Text(w, "BottomLabel"), QStringLiteral("End value (step 16)"));
                QTest::keyClick(Child<QScrollBar>(w, "StartBar"), Qt::Key_Home);
                QTest::keyClick(Child<QScrollBar>(w, "EndBar"), Qt::Key_PageDown);
                QCOMPARE(Text(w, "StartValue"), QStringLiteral("0"));
                QCOMPARE(Text(w, "EndValue"), QStringLiteral("74"));
            },
            "CancelButton");
        w.RunSlide(SlideField::Velocity);
        QVERIFY(!w.isVisible());
        QCOMPARE(app.m->song.cell(1, 1, 1, 1).velocity, std::int8_t{80});
        QCOMPARE(app.m->song.cell(1, 1, 1, 16).velocity, std::int8_t{80});
        QVERIFY(!SongChanged(*app.m));
        QVERIFY(app.m->editor.StartPrepared);
        QCOMPARE(app.songEdits, 0);
    }

    // In 12-step mode the end label names step 12 and the end value lands on slot 12; the
    // bars start at 64 again on every opening.
    void panSlideInTwelveSteps() {
        test::TestApp app;
        SlideDialog w(app.ctx);
        app.m->song.stepsPerMeasure = 12;
        app.m->editor.CurrentChannel = 3;
        test::SetNote(*app.m, 1, 1, 3, 1, 90, 64);
        test::SetNote(*app.m, 1, 1, 3, 12, 90, 64);
        test::SetNote(*app.m, 1, 1, 3, 13, 90, 64);
        app.m->song.cell(1, 1, 3, 6).pan = 30;  // an empty cell keeps its pan
        app.AsOpened();

        WhileShown(
            w, [&] { QTest::keyClick(Child<QScrollBar>(w, "StartBar"), Qt::Key_End); },
            "CancelButton");
        w.RunSlide(SlideField::Pan);

        WhileShown(
            w,
            [&] {
                QCOMPARE(Child<QScrollBar>(w, "StartBar")->value(), 64);
                QCOMPARE(Text(w, "StartValue"), QStringLiteral("64"));
                QCOMPARE(Text(w, "BottomLabel"), QStringLiteral("End value (step 12)"));
                QTest::keyClick(Child<QScrollBar>(w, "StartBar"), Qt::Key_Home);
                QTest::keyClick(Child<QScrollBar>(w, "EndBar"), Qt::Key_End);
            },
            "OkButton");
        w.RunSlide(SlideField::Pan);
        const Song& s = app.m->song;
        QCOMPARE(int{s.cell(1, 1, 3, 1).pan}, 0);
        QCOMPARE(int{s.cell(1, 1, 3, 12).pan}, 127);
        QCOMPARE(int{s.cell(1, 1, 3, 13).pan}, 64);
        QCOMPARE(int{s.cell(1, 1, 3, 6).pan}, 30);
        QCOMPARE(s.cell(1, 1, 3, 1).velocity, std::int8_t{90});
        QVERIFY(SongChanged(*app.m));
        QCOMPARE(app.songEdits, 1);
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(SlideDialogTest)
#include "slide_dialog_test.moc"
