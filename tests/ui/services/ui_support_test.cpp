// The windows' plumbing: texts crossing into Qt, and playback events reaching Qt's loop.

#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <thread>

#include "engine/audio/event_queue.h"
#include "ui/qt/text.h"
#include "ui/services/event_pump.h"

using namespace qtam;

class UiSupportTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textsCrossAsWindows1252() {
        const std::string bytes = "Caf\xE9 \x80 \x93quoted\x94";
        const QString shown = FromCp1252(bytes);
        QCOMPARE(shown, QString::fromUtf8("Café € “quoted”"));
        QCOMPARE(ToCp1252(shown), bytes);
        QVERIFY(CanHoldInCp1252(shown));
        QVERIFY(CanHoldInCp1252(QStringLiteral("what?")));
        QVERIFY(!CanHoldInCp1252(QString::fromUtf8("Ελλάδα")));
        QVERIFY(!CanHoldInCp1252(QString::fromUtf8("drum 🥁")));
    }

    // A handler posted from another thread runs on this thread from inside Qt's own loop.
    void postedWorkRunsInQtsLoop() {
        EventQueue events;
        EventPump pump(events);
        std::thread::id ranOn;
        int runs = 0;
        std::thread worker([&] {
            events.Post([&] {
                ranOn = std::this_thread::get_id();
                ++runs;
            });
        });
        worker.join();
        QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 5000);
        QCOMPARE(ranOn, std::this_thread::get_id());
        // Nothing is handled twice once the queue is empty.
        QTest::qWait(50);
        QCOMPARE(runs, 1);
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(UiSupportTest)
#include "ui_support_test.moc"
