// The real message boxes and file dialogs: their captions, icons, buttons and answers, the
// busy cursor, and playback going on while a question waits for its answer.

#include "ui/qt/prompter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>

#include "core/machine.h"
#include "engine/audio/event_queue.h"
#include "engine/audio/playback.h"
#include "temp_folder.h"
#include "test_support.h"
#include "ui/qt/file_dialogs.h"
#include "ui/services/event_pump.h"

using namespace qtam;

namespace {

// Once the modal box is up: `look` at it, then press the button with the caption `press` (or
// Escape when empty).
void WhenBoxShows(std::function<void(QMessageBox*)> look, QString press, int delayMs = 0) {
    QTimer::singleShot(delayMs, [look = std::move(look), press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        look(box);
        if (press.isEmpty()) {
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == press) {
                b->click();
                return;
            }
        }
        QFAIL("no such button");
    });
}

QStringList Captions(QMessageBox* box) {
    QStringList captions;
    for (QAbstractButton* b : box->buttons()) captions << b->text();
    captions.sort();
    return captions;
}

}  // namespace

class PrompterTest : public QObject {
    Q_OBJECT
    QtPrompter prompter;

private Q_SLOTS:
    void boxesHaveTheirCaptionsIconsAndButtons() {
        WhenBoxShows(
            [](QMessageBox* box) {
                QCOMPARE(box->windowTitle(), QString("Warning"));
                QCOMPARE(box->icon(), QMessageBox::Warning);
                QCOMPARE(box->text(), QString("This file is not a valid userbank-file!"));
                QCOMPARE(Captions(box), QStringList{"OK"});
            },
            "OK");
        prompter.Warn("This file is not a valid userbank-file!");

        auto question = [](QMessageBox* box) {
            QCOMPARE(box->windowTitle(), QString("Confirm"));
            QCOMPARE(box->icon(), QMessageBox::Question);
            QCOMPARE(box->text(), QString("Do you want to save your changes first?"));
        };
        auto yesNo = [&](QMessageBox* box) {
            question(box);
            QCOMPARE(Captions(box), (QStringList{"&No", "&Yes"}));
        };
        WhenBoxShows(yesNo, "&Yes");
        QVERIFY(prompter.AskYesNo("Do you want to save your changes first?"));
        WhenBoxShows(yesNo, "&No");
        QVERIFY(!prompter.AskYesNo("Do you want to save your changes first?"));
        WhenBoxShows(yesNo, "");  // Escape declines
        QVERIFY(!prompter.AskYesNo("Do you want to save your changes first?"));

        auto threeWay = [&](QMessageBox* box) {
            question(box);
            QCOMPARE(Captions(box), (QStringList{"&No", "&Yes", "Cancel"}));
        };
        WhenBoxShows(threeWay, "&Yes");
        QCOMPARE(prompter.AskYesNoCancel("Do you want to save your changes first?"), Answer::Yes);
        WhenBoxShows(threeWay, "&No");
        QCOMPARE(prompter.AskYesNoCancel("Do you want to save your changes first?"), Answer::No);
        WhenBoxShows(threeWay, "");
        QCOMPARE(prompter.AskYesNoCancel("Do you want to save your changes first?"),
                 Answer::Cancel);
    }

    // The hourglass while busy, the normal cursor over a box shown meanwhile.
    void busyCursor() {
        QVERIFY(QApplication::overrideCursor() == nullptr);
        {
            BusyCursor busy(prompter);
            BusyCursor nested(prompter);
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
            WhenBoxShows(
                [](QMessageBox*) {
                    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
                },
                "OK");
            prompter.Warn("x");
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }
        QVERIFY(QApplication::overrideCursor() == nullptr);
        prompter.SetBusy(false);  // one too many changes nothing
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    // While a question waits, the device's notices are handled and blocks mixed.
    void playbackGoesOnWhileAQuestionWaits() {
        auto m = test::NewMachine();
        m->prompter = &prompter;
        EventQueue events;
        EventPump pump(events);
        PlaybackDriver playback(*m, events);
        playback.OpenDevice();
        QVERIFY(playback.Playback.IsOpen());
        playback.StartPlaying();
        QVERIFY(m->Playing);
        QTRY_VERIFY_WITH_TIMEOUT(playback.PlayedFrames() > 0, 5000);

        const std::int64_t before = playback.PlayedFrames();
        std::int64_t during = 0;
        WhenBoxShows([&](QMessageBox*) { during = playback.PlayedFrames(); }, "&Yes", 1500);
        QVERIFY(prompter.AskYesNo("Do you want to save your changes first?"));
        // 1.5 s of waiting is more than a few blocks of 8192 frames.
        QVERIFY2(during - before >= 3 * 8192, qPrintable(QString::number(during - before)));
        QVERIFY(m->Playing);
        playback.StopPlaying();
        playback.CloseDevice();
    }

    void filtersAndExtensions() {
        QCOMPARE(QtNameFilters("Song files (*.sng)|*.sng|All files (*.*)|*.*"),
                 (QStringList{"Song files (*.sng *.SNG)", "All files (*)"}));
        QCOMPARE(QtNameFilters("Sounds (*.wav;*.raw)|*.wav;*.raw"),
                 (QStringList{"Sounds (*.wav *.WAV *.raw *.RAW)"}));
        QCOMPARE(WithDialogExtension("/a/song", "sng"), QString("/a/song.sng"));
        QCOMPARE(WithDialogExtension("/a/song", "*.sng"), QString("/a/song.sng"));
        QCOMPARE(WithDialogExtension("/a/song.old", "sng"), QString("/a/song.old"));
        QCOMPARE(WithDialogExtension("/a.b/song", ".ubf"), QString("/a.b/song.ubf"));
    }

    // The real dialog: its title, filters and folder; a typed name without "." gets the
    // default extension; Cancel gives nothing.
    void fileDialogs() {
        test::TempFolder dir;
        QtFileDialogs dialogs;
        const FileDialogSpec request{"Save a song", "Song files (*.sng)|*.sng|All files (*.*)|*.*",
                                     "sng", dir.path()};
        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(d != nullptr);
            QCOMPARE(d->windowTitle(), QString("Save a song"));
            QCOMPARE(d->nameFilters(), (QStringList{"Song files (*.sng *.SNG)", "All files (*)"}));
            QCOMPARE(d->directory().absolutePath(), QString::fromStdString(dir.path()));
            d->selectFile("groove");
            QMetaObject::invokeMethod(d, "accept");
        });
        QCOMPARE(dialogs.SaveFile(request), std::optional<std::string>(dir / "groove.sng"));

        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(d != nullptr);
            QCOMPARE(d->fileMode(), QFileDialog::ExistingFile);
            d->reject();
        });
        QCOMPARE(dialogs.OpenFile(request), std::nullopt);
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(PrompterTest)
#include "prompter_test.moc"
