// The whole program as a musician uses it: a userbank built from a WAV file in the editor,
// saved, loaded again from the main window's menu and heard from the groove panel.

#include <QAction>
#include <QMenuBar>
#include <QTest>
#include <algorithm>

#include "banks/wav_io.h"
#include "core/machine.h"
#include "dialog_test_app.h"
#include "engine/audio/playback.h"
#include "temp_folder.h"
#include "test_support.h"
#include "ui/app/application.h"
#include "ui/bank_editor/bank_editor.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/main_window/main_window.h"

using namespace qtam;

namespace {

QAction* MenuItem(QMenuBar* bar, const QString& menu, const QString& item) {
    for (QAction* top : bar->actions()) {
        if (top->text() != menu || top->menu() == nullptr) continue;
        for (QAction* a : top->menu()->actions())
            if (a->text() == item) return a;
    }
    return nullptr;
}

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aUserbankBuiltInTheEditorPlaysFromThePanel() {
        test::TempFolder dir;
        test::ScriptedPrompter prompter;
        test::ScriptedFileDialogs dialogs;
        {
            auto maker = test::NewMachine();
            std::vector<std::int16_t> tone(4410);
            for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = (i / 50) % 2 ? 9000 : -9000;
            test::SetSound(maker->banks.userbank, 1, tone, "tone");
            QVERIFY(ExportSlotAsWav(*maker, 1, dir / "tone.wav"));
        }

        QtamApp app({}, dir / "QTam.ini", StandIns{&prompter, &dialogs});
        Machine& m = app.machine();
        AppContext& ctx = app.context();

        // Built and saved in the editor; closing it leaves the saved bank active.
        BankEditor& editor = app.bankEditor();
        editor.OpenEditor();
        QVERIFY(editor.ImportFile(1, dir / "tone.wav"));
        dialogs.answers.push_back(dir / "mine");
        test::Child<QAction>(editor, "SaveBankItem")->trigger();
        QVERIFY(editor.CloseEditor());
        QCOMPARE(m.banks.userbank.slot(1).sampleCount, 4410);

        // Loaded from the menu: the sound is the imported one.
        dialogs.answers.push_back(dir / "mine.UBF");
        QAction* load = MenuItem(app.mainWindow().menuBar(), "&Userbank :", "&Load…");
        QVERIFY(load != nullptr);
        load->trigger();
        QCOMPARE(m.banks.userbank.slot(1).sampleCount, 4410);
        QVERIFY(prompter.warnings.empty());

        // Channel 1 plays it from the first step; Start is pressed on the panel.
        m.song.settings(1).instrument[0] = 101;
        test::SetNote(m, 1, 1, 1, 1, 127);
        GroovePanel* panel = &app.panel();
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        const QPoint start = test::Child<SkinPicture>(*panel, "StartButton")->geometry().center();
        QCOMPARE(panel->childAt(start),
                 static_cast<QWidget*>(test::Child<SkinPicture>(*panel, "StartButton")));
        QTest::mousePress(panel->windowHandle(), Qt::LeftButton, Qt::NoModifier, start);
        QTest::mouseRelease(panel->windowHandle(), Qt::LeftButton, Qt::NoModifier, start);
        QVERIFY(m.Playing);
        // The first block is mixed at the start; looked at later, the staging buffer may
        // already hold blocks past the sound's end.
        const bool heard = std::any_of(m.StagingBuffer.begin(), m.StagingBuffer.end(),
                                       [](std::int16_t s) { return s != 0; });
        QVERIFY(heard);
        QTRY_VERIFY_WITH_TIMEOUT(ctx.playback.PlayedFrames() > 0, 5000);
        ctx.playback.StopPlaying();
        QVERIFY(!m.Playing);
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(ProgramTest)
#include "program_test.moc"
