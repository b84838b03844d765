// The Song information window in its two modes.

#include "ui/song_info_window.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "dialog_test_app.h"
#include "song/song_file.h"

using namespace qtam;

class SongInfoWindowTest : public QObject {
    Q_OBJECT

    QLineEdit* Edit(TSongInfo& w, const char* name) {
        return w.findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    // Key presses carrying any character, as a keyboard layout would send them.
    void Type(QWidget* w, const QString& text) {
        for (QChar ch : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(w, &press);
        }
    }
    QCheckBox* Popup(TSongInfo& w) { return w.findChild<QCheckBox*>(QStringLiteral("Popup")); }
    void Click(TSongInfo& w, const char* button) {
        QTest::mouseClick(w.findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
    }

private Q_SLOTS:
    // A song that introduces itself: read-only, no check box, and "Ok" stores nothing even
    // after typing. "Song info" afterwards shows the same song editable with the check box.
    void viewThenEdit() {
        test::TestApp app;
        TSongInfo w(app.ctx);
        QCOMPARE(app.ctx.songInfo, &w);
        app.m->song.title.set("Night \x96 Drive");
        app.m->song.showInfoOnOpen = 1;
        app.m->song.userbankDescription.set("Dusty kit");
        app.m->song.userbankFile.set("C:\\Banks\\DUSTY.UBF");

        AppContext::Run(app.ctx.actions.showSongInfoView);
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowTitle(), QStringLiteral("Song information"));
        QCOMPARE(w.Mode(), SongInfoMode::View);
        QCOMPARE(Edit(w, "SongTitle")->text(), QString::fromUtf8("Night – Drive"));
        QVERIFY(Edit(w, "SongTitle")->isReadOnly());
        QVERIFY(Popup(w)->isHidden());
        QCOMPARE(Edit(w, "Bankname")->text(), QStringLiteral("Dusty kit"));
        QCOMPARE(Edit(w, "FName")->text(), QStringLiteral("DUSTY.UBF"));
        QVERIFY(Edit(w, "FName")->isReadOnly());

        QTest::keyClicks(Edit(w, "SongTitle"), "xyz");
        Click(w, "OkButton");
        QVERIFY(!w.isVisible());
        QCOMPARE(app.m->song.title.str(), std::string("Night \x96 Drive"));
        QVERIFY(!app.m->editor.SongChanged);
        QCOMPARE(w.Mode(), SongInfoMode::Edit);

        AppContext::Run(app.ctx.actions.showSongInfoEdit);
        QVERIFY(!Edit(w, "SongTitle")->isReadOnly());
        QVERIFY(!Popup(w)->isHidden());
        QVERIFY(Popup(w)->isChecked());
        // "Ok" without edits leaves the song unchanged; the check box alone changes it.
        Click(w, "OkButton");
        QVERIFY(!app.m->editor.SongChanged);
        AppContext::Run(app.ctx.actions.showSongInfoEdit);
        QTest::mouseClick(Popup(w), Qt::LeftButton, {}, QPoint(5, Popup(w)->height() / 2));
        Click(w, "OkButton");
        QCOMPARE(app.m->song.showInfoOnOpen, std::uint8_t{0});
        QVERIFY(app.m->editor.SongChanged);
    }

    // Cancel stores nothing and keeps the mode; typed texts reach the panel caption when
    // the main window is activated next (which rebuilds it), not before.
    void editedTextsAndTheCaption() {
        test::TestApp app;
        TSongInfo w(app.ctx);
        UpdateTitle(*app.m);
        const std::string untitled = app.m->editor.PanelCaption;
        QCOMPARE(QString::fromStdString(untitled), QStringLiteral("\"Untitled song\""));

        AppContext::Run(app.ctx.actions.showSongInfoView);
        QTest::keyClicks(Edit(w, "SongTitle"), "Lost");
        Click(w, "CancelButton");
        QVERIFY(!w.isVisible());
        QCOMPARE(w.Mode(), SongInfoMode::View);

        AppContext::Run(app.ctx.actions.showSongInfoEdit);
        QCOMPARE(Edit(w, "Copyright")->text(), QString::fromUtf8("© by ..."));
        Type(Edit(w, "SongTitle"), QString::fromUtf8("Café €"));
        QTest::keyClicks(Edit(w, "SongAuthor"), "Ann");
        Type(Edit(w, "Subtitle"), QString::fromUtf8("Ελ x"));  // Greek refused
        QCOMPARE(Edit(w, "Subtitle")->text(), QStringLiteral(" x"));
        QTest::keyClicks(Edit(w, "Copyright"), QString(60, QChar('c')));
        QCOMPARE(Edit(w, "Copyright")->text().size(), 50);
        const int refreshes = app.panelRefreshes;
        Click(w, "OkButton");
        QCOMPARE(app.m->song.title.str(), std::string("Caf\xE9 \x80"));
        QCOMPARE(app.m->song.subtitle.str(), std::string(" x"));
        QCOMPARE(app.m->song.copyright.str().size(), std::size_t{50});
        QVERIFY(app.m->editor.SongChanged);
        QCOMPARE(app.panelRefreshes, refreshes + 1);
        QCOMPARE(app.m->editor.PanelCaption, untitled);

        UpdateTitle(*app.m);  // what activating the main window does
        QCOMPARE(app.m->editor.PanelCaption, std::string("\"Caf\xE9 \x80\" by Ann"));
    }
};

QTEST_MAIN(SongInfoWindowTest)
#include "song_info_window_test.moc"
