// The progress gauge control: its range rules and what it draws.

#include "ui/dialogs/progress_gauge.h"

#include <QTest>
#include <stdexcept>

#include "dialog_test_app.h"

using namespace qtam;

class ProgressGaugeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Half of 0..100: the bar covers the left half of the inside, the text says "50%" and
    // stands out in the background's colour over the bar and the bar's colour beside it.
    void halfwayDrawsHalfABar() {
        ProgressGauge g;
        g.resize(202, 20);
        g.SetForeColor(Qt::blue);
        g.SetProgress(50);
        QCOMPARE(g.Percent(), 50);
        QCOMPARE(g.Text(), QStringLiteral("50%"));

        const QImage img = test::Picture(g);
        const QRgb blue = qRgb(0, 0, 255), white = qRgb(255, 255, 255);
        QCOMPARE(img.pixel(0, 10), qRgb(0, 0, 0));  // the single border
        QCOMPARE(img.pixel(1, 1), blue);            // inside width 200: bar over pixels 1..100
        QCOMPARE(img.pixel(100, 1), blue);
        QCOMPARE(img.pixel(101, 1), white);
        QCOMPARE(img.pixel(200, 1), white);
        // The text crosses the bar's end: white ink on the bar, blue ink beside it.
        bool whiteOnBar = false, blueOnBackground = false;
        for (int y = 3; y < 17; ++y) {
            for (int x = 70; x <= 100; ++x) whiteOnBar |= img.pixel(x, y) == white;
            for (int x = 101; x < 130; ++x) blueOnBackground |= img.pixel(x, y) == blue;
        }
        QVERIFY(whiteOnBar);
        QVERIFY(blueOnBackground);
    }

    void valuesStayWithinTheRange() {
        ProgressGauge g;
        g.resize(100, 20);
        g.SetProgress(150);
        QCOMPARE(g.Progress(), 100);
        QCOMPARE(g.Text(), QStringLiteral("100%"));
        QCOMPARE(test::Picture(g).pixel(98, 1), qRgb(0, 0, 0));  // a black bar to the border
        g.SetProgress(-5);
        QCOMPARE(g.Progress(), 0);
        QCOMPARE(test::Picture(g).pixel(1, 1), qRgb(255, 255, 255));

        g.SetProgress(50);
        g.SetMaxValue(40);
        QCOMPARE(g.Progress(), 40);
        QCOMPARE(g.Text(), QStringLiteral("100%"));
        g.SetMinValue(20);
        QCOMPARE(g.Text(), QStringLiteral("100%"));
        g.SetProgress(30);
        QCOMPARE(g.Text(), QStringLiteral("50%"));

        // A range turned inside out is refused and leaves everything as it was.
        QVERIFY_THROWS_EXCEPTION(std::logic_error, g.SetMinValue(41));
        QVERIFY_THROWS_EXCEPTION(std::logic_error, g.SetMaxValue(19));
        QCOMPARE(g.MinValue(), 20);
        QCOMPARE(g.MaxValue(), 40);
        QCOMPARE(g.Progress(), 30);
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(ProgressGaugeTest)
#include "progress_gauge_test.moc"
