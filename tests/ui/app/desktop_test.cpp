// The program on a desktop: no question gives up unsaved work on Escape or the close box, every
// window belongs to the window that opens it (a box asked from the userbank editor lies over the
// editor), the panel leaves the menu bar free and comes back from the main window, the splash is
// painted before it is seen, and the space bar works after a dialog.

#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "core/machine.h"
#include "dialog_test_app.h"
#include "menu_item.h"
#include "song/song_file.h"
#include "temp_folder.h"
#include "test_support.h"
#include "ui/app/application.h"
#include "ui/arrangement/arrangement_window.h"
#include "ui/bank_editor/bank_editor.h"
#include "ui/bank_editor/hihat_dialog.h"
#include "ui/dialogs/about_box.h"
#include "ui/dialogs/device_setup_dialog.h"
#include "ui/dialogs/instrument_dialog.h"
#include "ui/dialogs/midi_setup_dialog.h"
#include "ui/dialogs/note_details_dialog.h"
#include "ui/dialogs/render_dialog.h"
#include "ui/dialogs/slide_dialog.h"
#include "ui/dialogs/song_info_window.h"
#include "ui/dialogs/value_dialog.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/main_window/main_window.h"
#include "ui/pattern_grid/pattern_grid.h"

using namespace qtam;

namespace {

// What a modal window showed, and where it belonged.
struct SeenModal {
    QString text;  // a message box's text
    QStringList buttons;
    QWidget* owner = nullptr;
    QWindow* transientParent = nullptr;
    bool onTop = false;
};

// Answers every modal window that opens while it lives, as a person would (`answer` gets the
// window), and notes what it saw.
class ModalAnswerer {
public:
    explicit ModalAnswerer(std::function<void(QWidget*)> answer) : answer_(std::move(answer)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Check(); });
        timer_.start(5);
    }
    std::vector<SeenModal> seen;

private:
    void Check() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) return;
        SeenModal s;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            s.text = box->text();
            for (QAbstractButton* b : box->buttons()) s.buttons << b->text();
            s.buttons.sort();
        }
        s.owner = modal->parentWidget();
        s.transientParent = modal->windowHandle()->transientParent();
        s.onTop = modal->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        seen.push_back(s);
        answer_(modal);
    }
    std::function<void(QWidget*)> answer_;
    QTimer timer_;
};

void PressEscape(QWidget* w) {
    QTest::keyClick(w, Qt::Key_Escape);
}
// The title bar's close box: the window manager asks the window to close.
void CloseBox(QWidget* w) {
    w->close();
}

// A stereo WAV file of 100 frames, which the userbank converts only when asked to.
void WriteStereoWav(const std::string& path) {
    auto u32 = [](std::ofstream& f, std::uint32_t v) { f.write(reinterpret_cast<char*>(&v), 4); };
    auto u16 = [](std::ofstream& f, std::uint16_t v) { f.write(reinterpret_cast<char*>(&v), 2); };
    std::ofstream f(path, std::ios::binary);
    const std::uint32_t data = 100 * 4;
    f.write("RIFF", 4);
    u32(f, 36 + data);
    f.write("WAVEfmt ", 8);
    u32(f, 16);
    u16(f, 1);
    u16(f, 2);
    u32(f, 44100);
    u32(f, 44100 * 4);
    u16(f, 4);
    u16(f, 16);
    f.write("data", 4);
    u32(f, data);
    for (std::uint32_t i = 0; i < data / 2; ++i) u16(f, static_cast<std::uint16_t>(i * 300));
}

void ShowActive(QWidget* w) {
    w->show();
    w->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), w);
}

// The windows a start leaves to be made when first needed, made now.
void MakeEveryWindow(QtamApp& app) {
    app.bankEditor();
    app.grid();
    app.arrangementWindow();
    app.songInfo();
    app.noteDetails();
    app.instrumentDialog();
    app.renderDialog();
    app.valueDialog();
    app.hihatDialog();
    app.slideDialog();
    app.deviceSetup();
    app.midiSetup();
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempFolder> dir;
    test::ScriptedFileDialogs dialogs;

    // The real message boxes; file dialogs from a script unless `realFileDialogs`.
    std::unique_ptr<QtamApp> Start(bool realFileDialogs = false) {
        return std::make_unique<QtamApp>("", *dir / "QTam.ini",
                                         StandIns{nullptr, realFileDialogs ? nullptr : &dialogs});
    }

private Q_SLOTS:
    void init() {
        dir = std::make_unique<test::TempFolder>();
        dialogs = {};
    }
    void cleanup() { dir.reset(); }

    // Every question that guards unsaved work offers Yes, No and Cancel; Escape and the close
    // box cancel, and nothing changes: the Song or bank, its changed mark, the windows.
    void escapeAndTheCloseBoxNeverDiscard() {
        auto app = Start();
        Machine& m = app->machine();
        MainWindow* main = &app->mainWindow();
        ShowActive(main);
        QSignalSpy ends(main, &MainWindow::LoopEnds);
        const QStringList yesNoCancel = {"&No", "&Yes", "Cancel"};

        const std::vector<std::pair<QString, std::function<void()>>> songQuestions = {
            {"New song",
             [&] {
                 test::MenuItem(main->menuBar(), {"&File", "New song"})->trigger();
             }},
            {"Open song",
             [&] {
                 test::MenuItem(main->menuBar(), {"&File", "Open song"})->trigger();
             }},
            {"Quit",
             [&] {
                 test::MenuItem(main->menuBar(), {"&File", "&Quit"})->trigger();
             }},
            {"close", [&] { QVERIFY(!main->close()); }},
        };
        for (const auto& [name, ask] : songQuestions) {
            for (auto answer : {PressEscape, CloseBox}) {
                m.song.title.set("unsaved");
                test::SetNote(m, 1, 1, 2, 3, 99);
                test::MakeUnsavedEdit(m);
                std::vector<std::uint8_t> before(kSongSize);
                std::memcpy(before.data(), &m.song, kSongSize);
                ModalAnswerer answerer(answer);
                ask();
                QCOMPARE(answerer.seen.size(), std::size_t(1));
                QCOMPARE(answerer.seen[0].text, QString(kMsgSaveChanges));
                QCOMPARE(answerer.seen[0].buttons, yesNoCancel);
                QCOMPARE(answerer.seen[0].owner, static_cast<QWidget*>(main));
                QVERIFY2(std::memcmp(before.data(), &m.song, kSongSize) == 0, qPrintable(name));
                QVERIFY(SongChanged(m));
                QVERIFY(dialogs.shown.empty());
                QCOMPARE(ends.size(), 0);
                QVERIFY(main->isVisible());
            }
        }

        // The userbank editor's questions, asked over the editor.
        BankEditor* editor = &app->bankEditor();
        editor->OpenEditor();
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(editor));
        const std::vector<std::pair<QString, std::function<void()>>> bankQuestions = {
            {"New bank", [&] { test::Child<QAction>(*editor, "NewBankItem")->trigger(); }},
            {"Open bank", [&] { test::Child<QAction>(*editor, "OpenBankItem")->trigger(); }},
            {"Close and exit", [&] { test::Child<QAction>(*editor, "CloseItem")->trigger(); }},
            {"close", [&] { QVERIFY(!editor->close()); }},
        };
        for (const auto& [name, ask] : bankQuestions) {
            for (auto answer : {PressEscape, CloseBox}) {
                test::SetSound(m.banks.userbank, 4, std::vector<std::int16_t>(300, 1000), "kept");
                m.activation.BankChanged = true;
                ModalAnswerer answerer(answer);
                ask();
                QCOMPARE(answerer.seen.size(), std::size_t(1));
                QCOMPARE(answerer.seen[0].buttons, yesNoCancel);
                QCOMPARE(answerer.seen[0].owner, static_cast<QWidget*>(editor));
                QVERIFY2(m.banks.userbank.slot(4).hasSound(), qPrintable(name));
                QVERIFY(m.activation.BankChanged && m.activation.EditorActive);
                QVERIFY(editor->isVisible());
                QVERIFY(dialogs.shown.empty());
            }
        }
        // Quitting with the bank changed asks the editor's question first; Cancel keeps all.
        {
            ModalAnswerer answerer(PressEscape);
            test::MenuItem(main->menuBar(), {"&File", "&Quit"})->trigger();
            QCOMPARE(answerer.seen.size(), std::size_t(1));
            QVERIFY(m.activation.EditorActive && SongChanged(m));
            QCOMPARE(ends.size(), 0);
        }
        // No goes on: the question is still a real question.
        ModalAnswerer no([](QWidget* box) {
            for (QPushButton* b : box->findChildren<QPushButton*>())
                if (b->text() == "&No") b->click();
        });
        test::Child<QAction>(*editor, "CloseItem")->trigger();
        QVERIFY(!m.activation.EditorActive);
        m.activation.BankChanged = false;
    }

    // The reported case: in the editor, a WAV file the userbank refuses is chosen in the file
    // dialog; the warning belongs to the editor (and so lies over it), not to the main window
    // under it.
    void aWarningFromTheEditorLiesOverTheEditor() {
        auto app = Start(true);
        const std::string stereo = *dir / "stereo.wav";
        WriteStereoWav(stereo);
        ShowActive(&app->mainWindow());
        BankEditor* editor = &app->bankEditor();
        editor->OpenEditor();
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(editor));

        auto answerer = std::make_unique<ModalAnswerer>([&](QWidget* modal) {
            if (auto* files = qobject_cast<QFileDialog*>(modal)) {
                files->selectFile(QString::fromStdString(stereo));
                static_cast<QDialog*>(files)->accept();  // as its Open button does
            } else {
                PressEscape(modal);
            }
        });
        test::Child<QAction>(*editor, "ImportItem")->trigger();
        // The file dialog, the offer to convert (Escape: No), the refusal.
        QCOMPARE(answerer->seen.size(), std::size_t(3));
        for (const SeenModal& s : answerer->seen) {
            QCOMPARE(s.owner, static_cast<QWidget*>(editor));
            QCOMPARE(s.transientParent, editor->windowHandle());
        }
        QVERIFY(answerer->seen[1].text.contains("Convert"));
        QVERIFY(answerer->seen[2].text.contains("stereo"));
        // Over their owner, but never kept above other programs.
        QVERIFY(!answerer->seen[1].onTop && !answerer->seen[2].onTop);
        answerer.reset();
        QVERIFY(!app->machine().banks.userbank.slot(1).hasSound());

        // The hi-hat dialog, too, opens over the editor.
        test::SetSound(app->machine().banks.userbank, 2, std::vector<std::int16_t>(300, 1), "hat");
        ModalAnswerer hihat(PressEscape);
        QVERIFY(!app->hihatDialog().Execute(2, editor->EntryTexts()));
        QCOMPARE(hihat.seen.size(), std::size_t(1));
        QCOMPARE(hihat.seen[0].owner, static_cast<QWidget*>(editor));
        const QPoint offset =
            app->hihatDialog().frameGeometry().center() - editor->frameGeometry().center();
        QVERIFY(std::abs(offset.x()) <= 2 && std::abs(offset.y()) <= 2);  // centres' rounding
    }

    // Every list, slider and drop-down list of every window has a name a screen reader speaks.
    void everyListAndSliderIsNamed() {
        auto app = Start();
        MakeEveryWindow(*app);
        int seen = 0;
        for (QWidget* window : QApplication::topLevelWidgets())
            for (QWidget* w : window->findChildren<QWidget*>()) {
                // A drop-down list's own popup list speaks through the drop-down list.
                if (w->inherits("QComboBoxListView")) continue;
                const bool named = qobject_cast<QAbstractItemView*>(w) ||
                                   qobject_cast<QAbstractSlider*>(w) || qobject_cast<QComboBox*>(w);
                if (!named || qobject_cast<QScrollBar*>(w) || w->inherits("QHeaderView")) continue;
                ++seen;
                QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
                QVERIFY2(a != nullptr && !a->text(QAccessible::Name).isEmpty(),
                         qPrintable(window->objectName() + "/" + w->objectName() + " " +
                                    w->metaObject()->className()));
            }
        QVERIFY(seen >= 8);
    }

    // Each window belongs to the window that opens it, in the end to the main window: the
    // desktop keeps it above its owner and not above other programs. Only the splash stays on
    // top. No window of the program is left out.
    void everyWindowBelongsToItsOwner() {
        auto app = Start();
        app->ShowAtStart();
        QWidget* main = &app->mainWindow();
        QWidget* panel = &app->panel();
        QWidget* editor = &app->bankEditor();
        const std::vector<std::pair<QWidget*, QWidget*>> owners = {
            {panel, main},
            {editor, main},
            {&app->aboutBox(), main},
            {&app->songInfo(), main},
            {&app->renderDialog(), main},
            {&app->slideDialog(), main},
            {&app->deviceSetup(), main},
            {&app->midiSetup(), main},
            {&app->grid(), main},
            {&app->arrangementWindow(), main},
            {&app->noteDetails(), panel},
            {&app->instrumentDialog(), panel},
            {&app->valueDialog(), panel},
            {&app->hihatDialog(), editor},
        };
        for (const auto& [window, owner] : owners) {
            const QString name = window->metaObject()->className();
            QVERIFY2(window->isWindow(), qPrintable(name));
            QVERIFY2(window->parentWidget() == owner, qPrintable(name));
            window->winId();
            QVERIFY2(window->windowHandle()->transientParent() == owner->windowHandle(),
                     qPrintable(name));
            const bool onTop = window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            QVERIFY2(onTop == (window == &app->aboutBox()), qPrintable(name));
        }
        int windows = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w == main || w->windowType() == Qt::Popup) continue;
            ++windows;
            QWidget* top = w;
            while (top->parentWidget() != nullptr) top = top->parentWidget()->window();
            QVERIFY2(top == main, w->metaObject()->className());
        }
        QCOMPARE(windows, static_cast<int>(owners.size()));
    }

    // At start-up the panel lies below the main window's menu bar, on the screen.
    void thePanelLeavesTheMenuBarFree() {
        auto app = Start();
        app->ShowAtStart();
        QMenuBar* bar = app->mainWindow().menuBar();
        const QRect menus(bar->mapToGlobal(QPoint(0, 0)), bar->size());
        const QRect panel = app->panel().frameGeometry();
        QVERIFY(!panel.intersects(menus));
        QVERIFY(panel.top() > menus.top());
        QVERIFY(app->panel().screen()->availableGeometry().contains(panel));
    }

    // "&Groove panel" brings a minimised or hidden panel back, and active; so does clicking
    // into the main window for a minimised one. While the userbank editor is open, the editor.
    void thePanelComesBackFromTheMainWindow() {
        auto app = Start();
        MainWindow* main = &app->mainWindow();
        GroovePanel* panel = &app->panel();
        ShowActive(main);
        QAction* item = test::MenuItem(main->menuBar(), {"&Window", "&Groove panel"});
        QVERIFY(item != nullptr);
        QCOMPARE(item->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_G));

        panel->show();
        panel->showMinimized();
        QVERIFY(panel->isMinimized());
        item->trigger();
        QVERIFY(panel->isVisible() && !panel->isMinimized());
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(panel));
        panel->hide();
        ShowActive(main);
        QTest::keyClick(main, Qt::Key_G, Qt::ControlModifier);
        QVERIFY(panel->isVisible());

        panel->showMinimized();
        main->activateWindow();
        QTRY_VERIFY(!panel->isMinimized());

        app->bankEditor().OpenEditor();
        app->bankEditor().showMinimized();
        item->trigger();
        QVERIFY(!app->bankEditor().isMinimized());
        QVERIFY(!panel->isVisible());
        QVERIFY(app->bankEditor().CloseEditor());
    }

    // The splash is on the screen, painted, when start-up goes on; the panel's activation does
    // not take it away before it has been seen.
    void theSplashIsPaintedAndSeen() {
        auto app = Start();
        app->ShowAtStart();
        AboutBox* about = &app->aboutBox();
        QVERIFY(about->isVisible());
        // What the screen shows of the window, without running the event loop.
        const QImage shown = about->screen()->grabWindow(about->winId()).toImage();
        const QImage drawn = about->grab().toImage();
        QVERIFY(!shown.isNull());
        const qreal ratio = drawn.devicePixelRatio();
        for (const QPoint p : {QPoint(160, 30), QPoint(40, 90), QPoint(300, 180)})
            QCOMPARE(shown.pixel(p * shown.devicePixelRatio()), drawn.pixel(p * ratio));

        Q_EMIT app->panel().activated();
        QVERIFY(about->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!about->isVisible(), AboutBox::kSplashMs + 2000);
    }

    // A dialog takes the release of the keys that opened it (Ctrl+N, a click): the space bar
    // still starts playback at once afterwards, in the main window and in the panel.
    void theSpaceBarAfterADialog() {
        auto app = Start();
        Machine& m = app->machine();
        MainWindow* main = &app->mainWindow();
        ShowActive(main);
        test::MakeUnsavedEdit(m);
        QTest::keyPress(main, Qt::Key_Control);
        {
            ModalAnswerer answerer(PressEscape);
            test::MenuItem(main->menuBar(), {"&File", "New song"})->trigger();
            QCOMPARE(answerer.seen.size(), std::size_t(1));
        }
        ShowActive(main);
        QTest::keyPress(main, Qt::Key_Space);
        QVERIFY(m.Playing);
        QTest::keyRelease(main, Qt::Key_Space);
        QTRY_VERIFY(app->context().playback.KeyReleased);
        QTest::keyClick(main, Qt::Key_Space);
        QVERIFY(!m.Playing);

        GroovePanel* panel = &app->panel();
        ShowActive(panel);
        QTest::keyPress(panel, Qt::Key_Control);
        {
            ModalAnswerer answerer(PressEscape);
            Q_EMIT panel->tempoEntryRequested();
            QCOMPARE(answerer.seen.size(), std::size_t(1));
            QCOMPARE(answerer.seen[0].owner, static_cast<QWidget*>(panel));
        }
        ShowActive(panel);
        QTest::keyPress(panel, Qt::Key_Space);
        QVERIFY(m.Playing);
        app->context().playback.StopPlaying();
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(DesktopTest)
#include "desktop_test.moc"
