// The Song information window in its two modes.

#include "ui/dialogs/song_info_window.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "dialog_test_app.h"
#include "song/song_file.h"
#include "ui/services/window_captions.h"

using namespace qtam;

class SongInfoWindowTest : public QObject {
    Q_OBJECT

    QLineEdit* Edit(SongInfoWindow& w, const char* name) {
        return w.findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    // Key presses carrying any character, as a keyboard layout would send them.
    void Type(QWidget* w, const QString& text) {
        for (QChar ch : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(w, &press);
        }
    }
    QCheckBox* ShowOnOpen(SongInfoWindow& w) {
        return w.findChild<QCheckBox*>(QStringLiteral("ShowOnOpen"));
    }
    void Click(SongInfoWindow& w, const char* button) {
        QTest::mouseClick(w.findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
    }

private Q_SLOTS:
    // A song that introduces itself: read-only, no check box, and "Ok" stores nothing even
    // after typing. "Song info" afterwards shows the same song editable with the check box.
    void viewThenEdit() {
        test::TestApp app;
        SongInfoWindow w(app.ctx);
        app.m->song.title.set("Night \x96 Drive");
        app.m->song.showInfoOnOpen = 1;
        app.m->song.userbankDescription.set("Dusty kit");
        app.m->song.userbankFile.set("C:\\Banks\\DUSTY.UBF");
        app.AsOpened();  // as an opened song holds it

        w.ShowView();
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowTitle(), QStringLiteral("Song information"));
        QCOMPARE(w.Mode(), SongInfoMode::View);
        QCOMPARE(Edit(w, "SongTitle")->text(), QString::fromUtf8("Night – Drive"));
        QVERIFY(Edit(w, "SongTitle")->isReadOnly());
        QVERIFY(ShowOnOpen(w)->isHidden());
        QCOMPARE(Edit(w, "BankName")->text(), QStringLiteral("Dusty kit"));
        QCOMPARE(Edit(w, "FileName")->text(), QStringLiteral("DUSTY.UBF"));
        QVERIFY(Edit(w, "FileName")->isReadOnly());

        QTest::keyClicks(Edit(w, "SongTitle"), "xyz");
        Click(w, "OkButton");
        QVERIFY(!w.isVisible());
        QCOMPARE(app.m->song.title.str(), std::string("Night \x96 Drive"));
        QVERIFY(!SongChanged(*app.m));
        QCOMPARE(w.Mode(), SongInfoMode::Edit);

        w.ShowEdit();
        QVERIFY(!Edit(w, "SongTitle")->isReadOnly());
        QVERIFY(!ShowOnOpen(w)->isHidden());
        QVERIFY(ShowOnOpen(w)->isChecked());
        // "Ok" without edits leaves the song unchanged; the check box alone changes it.
        Click(w, "OkButton");
        QVERIFY(!SongChanged(*app.m));
        w.ShowEdit();
        QTest::mouseClick(ShowOnOpen(w), Qt::LeftButton, {},
                          QPoint(5, ShowOnOpen(w)->height() / 2));
        Click(w, "OkButton");
        QCOMPARE(app.m->song.showInfoOnOpen, std::uint8_t{0});
        QVERIFY(SongChanged(*app.m));
    }

    // Cancel stores nothing and keeps the mode; typed texts reach the panel's title line as
    // soon as they are stored.
    void editedTextsAndTheCaption() {
        test::TestApp app;
        SongInfoWindow w(app.ctx);
        auto titleLine = [&] { return SongTitleLine(app.m->editor.SongFileName, app.m->song); };
        QCOMPARE(titleLine(), std::string("\"Untitled song\""));

        w.ShowView();
        QTest::keyClicks(Edit(w, "SongTitle"), "Lost");
        Click(w, "CancelButton");
        QVERIFY(!w.isVisible());
        QCOMPARE(w.Mode(), SongInfoMode::View);

        w.ShowEdit();
        QCOMPARE(Edit(w, "Copyright")->text(), QString::fromUtf8("© by ..."));
        Type(Edit(w, "SongTitle"), QString::fromUtf8("Café €"));
        QTest::keyClicks(Edit(w, "SongAuthor"), "Ann");
        Type(Edit(w, "Subtitle"), QString::fromUtf8("Ελ x"));  // Greek refused
        QCOMPARE(Edit(w, "Subtitle")->text(), QStringLiteral(" x"));
        QTest::keyClicks(Edit(w, "Copyright"), QString(60, QChar('c')));
        QCOMPARE(Edit(w, "Copyright")->text().size(), 50);
        const int refreshes = app.songEdits;
        Click(w, "OkButton");
        QCOMPARE(app.m->song.title.str(), std::string("Caf\xE9 \x80"));
        QCOMPARE(app.m->song.subtitle.str(), std::string(" x"));
        QCOMPARE(app.m->song.copyright.str().size(), std::size_t{50});
        QVERIFY(SongChanged(*app.m));
        QCOMPARE(app.songEdits, refreshes + 1);
        QCOMPARE(titleLine(), std::string("\"Caf\xE9 \x80\" by Ann"));
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(SongInfoWindowTest)
#include "song_info_window_test.moc"
