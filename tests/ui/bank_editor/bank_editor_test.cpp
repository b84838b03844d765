// The userbank editor and the hi-hat dialog, driven as the user drives them: list clicks,
// typing, menus, the dialogs' answers scripted, files dropped on the list.

#include "ui/bank_editor/bank_editor.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cstring>
#include <memory>

#include "banks/userbank_file.h"
#include "banks/wav_io.h"
#include "core/machine.h"
#include "dialog_test_app.h"
#include "engine/audio/event_queue.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "temp_folder.h"
#include "test_support.h"
#include "ui/bank_editor/hihat_dialog.h"
#include "ui/qt/file_dialogs.h"
#include "ui/services/app_context.h"

using namespace qtam;
using qtam::test::Child;

namespace {

// Everything a window needs, with scripted questions and file dialogs.
struct EditorRig : test::TestApp {
    int panelHidden = 0;
    int panelShown = 0;
    std::unique_ptr<BankEditor> editor;
    std::unique_ptr<HihatDialog> hihat;

    EditorRig() {
        editor = std::make_unique<BankEditor>(ctx);
        hihat = std::make_unique<HihatDialog>(ctx);
        editor->SetHihatDialog(hihat.get());
        QObject::connect(editor.get(), &BankEditor::opening, [this] { ++panelHidden; });
        QObject::connect(editor.get(), &BankEditor::closing, [this] { ++panelShown; });
    }
    ~EditorRig() {
        hihat.reset();
        editor.reset();
    }
    SampleBank& bank() { return m->banks.userbank; }

    void Click(int entry, Qt::KeyboardModifiers keys = {}) {
        QListWidget* list = Child<QListWidget>(*editor, "SlotList");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, keys,
                          list->visualItemRect(list->item(entry)).center());
    }
};

std::vector<std::int16_t> Ramp(int count, int scale = 7) {
    std::vector<std::int16_t> s(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        s[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i * scale);
    return s;
}

void WriteWav(const std::string& path, const std::vector<std::int16_t>& samples, int channels = 1) {
    const auto size = static_cast<std::uint32_t>(2 * samples.size());
    const WavHeader header = MakeWavHeader(channels, size);
    std::vector<std::uint8_t> bytes(sizeof header + size);
    std::memcpy(bytes.data(), &header, sizeof header);
    std::memcpy(bytes.data() + sizeof header, samples.data(), size);
    test::WriteBytes(path, bytes);
}

// A bank file made by the core: slot n named "Sound n" with a ramp of 100 + n samples.
void WriteBankFile(const std::string& path, std::uint8_t stretchOfSlot1 = 0) {
    auto maker = test::NewMachine();
    ClearUserbank(*maker);
    for (int n = 1; n <= kBankSlots; ++n)
        test::SetSound(maker->banks.userbank, n, Ramp(100 + n), "Sound " + std::to_string(n));
    maker->banks.userbank.slot(1).stretchMeasures = stretchOfSlot1;
    maker->banks.userbank.description = "Loaded bank";
    if (!SaveUserbank(*maker, path, true)) qFatal("cannot write the test bank");
}

// The picture as the editor must draw it, pixel by pixel: black frame, white inside, and for
// each column the rows 25 - |h| .. 25 + |h| black, h = v / 1201 rounded.
QImage ExpectedWaveForm(const std::vector<std::int16_t>& samples) {
    QImage image(kWaveformWidth, kWaveformHeight, QImage::Format_RGB32);
    for (int y = 0; y < kWaveformHeight; ++y)
        for (int x = 0; x < kWaveformWidth; ++x) {
            const bool frame =
                x == 0 || y == 0 || x == kWaveformWidth - 1 || y == kWaveformHeight - 1;
            image.setPixel(x, y, frame ? 0xFF000000 : 0xFFFFFFFF);
        }
    const std::size_t step = samples.size() / 161;
    for (int x = 0; x < kWaveformWidth; ++x) {
        const int v = samples[static_cast<std::size_t>(x) * step];
        const int h = (2 * std::abs(v) + 1201) / 2402;  // 1201 is odd: there are no halves
        for (int y = std::max(0, 25 - h); y <= std::min(kWaveformHeight - 1, 25 + h); ++y)
            image.setPixel(x, y, 0xFF000000);
    }
    return image;
}

// Cleared: the frame and the centre line, which is what silence draws.
QImage ExpectedClearedWaveForm() {
    return ExpectedWaveForm(std::vector<std::int16_t>(161, 0));
}

}  // namespace

class BankEditorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void opensOnAnEmptyBankWithTheEntryTextsAndMenus() {
        EditorRig r;
        r.m->activation.UserbankLoaded = true;
        test::SetSound(r.bank(), 4, Ramp(50), "left over");
        int menuRefreshes = 0;
        QObject::connect(r.editor.get(), &BankEditor::menusChanged, [&] { ++menuRefreshes; });

        r.editor->OpenEditor();
        BankEditor& e = *r.editor;
        QVERIFY(e.isVisible() && r.m->activation.EditorActive);
        QVERIFY(!r.m->activation.UserbankLoaded);
        QCOMPARE(r.panelHidden, 1);
        QVERIFY(menuRefreshes >= 1);
        QCOMPARE(Child<QLineEdit>(e, "BankDescription")->text(), QString("Custom userbank"));
        QCOMPARE(e.SelectedEntry(), 0);
        QVERIFY(!r.bank().slot(4).hasSound());

        const QStringList texts = e.EntryTexts();
        QCOMPARE(texts.size(), 20);
        QCOMPARE(texts[0], QString("1  <empty>"));
        QCOMPARE(texts[8], QString("9  <empty>"));
        QCOMPARE(texts[9], QString("10 <empty>"));
        QCOMPARE(texts[19], QString("20 <empty>"));
        // An empty slot: only Import works, the picture is the cleared one.
        QVERIFY(!Child<QLineEdit>(e, "Description")->isEnabled() &&
                Child<QPushButton>(e, "ImportButton")->isEnabled());
        QVERIFY(!Child<QPushButton>(e, "ExportButton")->isEnabled() &&
                !Child<QPushButton>(e, "PlayButton")->isEnabled());
        QCOMPARE(Child<WaveformView>(e, "Waveform")->Image(), ExpectedClearedWaveForm());

        QStringList items;
        for (QMenu* menu : {Child<QMenu>(e, "FileMenu"), Child<QMenu>(e, "SampleMenu")})
            for (QAction* a : menu->actions()) items << (a->isSeparator() ? "-" : a->text());
        QCOMPARE(items, QStringList({"&New bank", "&Open bank…", "Import &kit…", "-", "&Save bank",
                                     "Save bank &as…", "-", "&Close and exit", "&Import…", "-",
                                     "&Export…", "&Clear", "-", "&Play"}));
        QCOMPARE(Child<QAction>(e, "ClearItem")->shortcut(),
                 QKeySequence(Qt::SHIFT | Qt::Key_Delete));
    }

    void importNameTypedAndSavedFromTheFileMenu() {
        EditorRig r;
        test::TempFolder tmp;
        WriteWav(tmp / "kick.wav", Ramp(1000));
        r.m->activation.SampleFolder = "/start";
        r.editor->OpenEditor();
        BankEditor& e = *r.editor;

        r.dialogs.answers.push_back(tmp / "kick.wav");
        QTest::mouseClick(Child<QPushButton>(e, "ImportButton"), Qt::LeftButton);
        QCOMPARE(r.dialogs.shown.back().title, std::string("Import a sample"));
        QCOMPARE(r.dialogs.shown.back().initialFolder, std::string("/start"));
        QCOMPARE(r.bank().slot(1).sampleCount, 1000);
        QCOMPARE(e.EntryTexts()[0], QString("1  kick.wav"));
        QCOMPARE(Child<QLineEdit>(e, "Description")->text(), QString("kick.wav"));
        QCOMPARE(r.m->activation.SampleFolder, tmp.path());
        QVERIFY(r.m->activation.BankChanged);
        // The slot is named as qtam-cli bank new names it (tests/cli/cli_bank_midi_check.sh).
        const std::string odd = tmp / "Caf\xc3\xa9 \xe2\x82 kick drum.wav";
        WriteWav(odd, Ramp(10));
        QVERIFY(e.ImportFile(2, odd));
        QCOMPARE(e.EntryTexts()[1], QString("2  Café ?? kick drum.wa"));

        // A name typed and not yet committed is saved when "&Save bank" is chosen.
        QLineEdit* description = Child<QLineEdit>(e, "Description");
        QMenu* fileMenu = Child<QMenu>(e, "FileMenu");
        description->selectAll();
        QTest::keyClicks(description, "Bass drum");
        fileMenu->popup(QPoint(0, 0));
        QTRY_VERIFY(fileMenu->isVisible());
        r.dialogs.answers.push_back(tmp / "mybank");
        Child<QAction>(e, "SaveBankItem")->trigger();
        fileMenu->close();
        QCOMPARE(r.dialogs.shown.back().title, std::string("Save your userbank"));
        QCOMPARE(e.EditorBankPath(), tmp / "mybank.UBF");
        QVERIFY(!r.m->activation.BankChanged);
        auto reader = test::NewMachine();
        QVERIFY(LoadUserbank(*reader, tmp / "mybank.UBF", false));
        QCOMPARE(reader->banks.userbank.slot(1).name, std::string("Bass drum           "));

        // Export proposes the name without its padding, ".WAV" added, and adds it too.
        r.dialogs.answers.push_back(tmp / "out");
        QTest::mouseClick(Child<QPushButton>(e, "ExportButton"), Qt::LeftButton);
        QCOMPARE(r.dialogs.shown.back().fileName, std::string("Bass drum.WAV"));
        QCOMPARE(test::ReadBytes(tmp / "out.WAV").size(), std::size_t(2044));
        r.dialogs.answers.push_back(tmp / "out.WAV");
        QTest::mouseClick(Child<QPushButton>(e, "ExportButton"), Qt::LeftButton);
        QCOMPARE(r.prompter.questions, std::vector<std::string>{kMsgFileExists});
    }

    void openedNamesSurviveTheNextSelection() {
        EditorRig r;
        test::TempFolder tmp;
        WriteBankFile(tmp / "loaded.ubf");
        r.editor->OpenEditor();
        BankEditor& e = *r.editor;
        r.Click(4);
        r.dialogs.answers.push_back(tmp / "loaded.ubf");
        Child<QAction>(e, "OpenBankItem")->trigger();
        QCOMPARE(r.dialogs.shown.back().title, std::string("Load a userbank from disk"));
        QCOMPARE(e.EditorBankPath(), tmp / "loaded.ubf");
        QCOMPARE(e.SelectedEntry(), 0);
        QCOMPARE(Child<QLineEdit>(e, "Description")->text().trimmed(), QString("Sound 1"));

        r.Click(1);
        for (int n = 1; n <= kBankSlots; ++n)
            QCOMPARE(r.bank().slot(n).name.substr(0, 8),
                     ("Sound " + std::to_string(n) + " ").substr(0, 8));
        QVERIFY(!r.m->activation.BankChanged);

        // Browsing the empty slots of a new bank changes nothing.
        Child<QAction>(e, "NewBankItem")->trigger();
        QVERIFY(e.EditorBankPath().empty());
        r.Click(6);
        r.Click(7);
        QVERIFY(!r.m->activation.BankChanged);
        QCOMPARE(r.bank().slot(7).name, std::string("<empty>"));
    }

    void stretchAndMeasuresNeverDisagree() {
        EditorRig r;
        test::TempFolder tmp;
        WriteBankFile(tmp / "b.ubf", 7);
        r.editor->OpenEditor();
        BankEditor& e = *r.editor;
        r.dialogs.answers.push_back(tmp / "b.ubf");
        Child<QAction>(e, "OpenBankItem")->trigger();
        QCheckBox* stretch = Child<QCheckBox>(e, "Stretch");
        QComboBox* measures = Child<QComboBox>(e, "Measures");
        QVERIFY(stretch->isChecked());
        QCOMPARE(measures->currentText(), QString("7"));

        QTest::mouseClick(stretch, Qt::LeftButton);
        QCOMPARE(r.bank().slot(1).stretchMeasures, std::uint8_t(0));
        QVERIFY(!measures->isEnabled() && r.m->activation.BankChanged);
        // Checked again while the box shows 7: the text becomes "1" and 1 is stored.
        QTest::mouseClick(stretch, Qt::LeftButton);
        QCOMPARE(measures->currentText(), QString("1"));
        QCOMPARE(r.bank().slot(1).stretchMeasures, std::uint8_t(1));

        QLineEdit* text = measures->lineEdit();
        text->selectAll();
        QTest::keyClicks(text, "3");
        QCOMPARE(r.bank().slot(1).stretchMeasures, std::uint8_t(3));
        text->selectAll();
        QTest::keyClicks(text, "9");
        QCOMPARE(measures->currentText(), QString("1"));
        QCOMPARE(r.bank().slot(1).stretchMeasures, std::uint8_t(1));
    }

    void clearAsksOnlyForASound() {
        EditorRig r;
        r.editor->OpenEditor();
        BankEditor& e = *r.editor;
        test::SetSound(r.bank(), 1, Ramp(300), "snare");
        r.Click(1);
        Child<QAction>(e, "ClearItem")->trigger();
        QVERIFY(r.prompter.questions.empty());
        QVERIFY(!r.m->activation.BankChanged);

        r.Click(0);
        r.prompter.answers = {false, true};
        Child<QAction>(e, "ClearItem")->trigger();
        QVERIFY(r.bank().slot(1).hasSound());
        QVERIFY(!r.m->activation.BankChanged);
        QTest::mouseClick(Child<QPushButton>(e, "ClearButton"), Qt::LeftButton);
        QCOMPARE(r.prompter.questions, std::vector<std::string>(2, kAskClearSample));
        QCOMPARE(r.bank().slot(1).name, std::string("<empty>"));
        QCOMPARE(e.EntryTexts()[0], QString("1  <empty>"));
        QCOMPARE(Child<WaveformView>(e, "Waveform")->Image(), ExpectedClearedWaveForm());
        QVERIFY(r.m->activation.BankChanged);
    }

    void waveFormPixels() {
        SampleSlot slot;
        slot.samples.reset(new std::int16_t[kUserSlotCapacity]);
        // 100 samples: step 0, the first sample in every column.
        std::vector<std::int16_t> shortSound = Ramp(100);
        shortSound[0] = 9000;
        std::copy(shortSound.begin(), shortSound.end(), slot.samples.get());
        slot.sampleCount = 100;
        QCOMPARE(WaveformImage(&slot), ExpectedWaveForm(std::vector<std::int16_t>(161, 9000)));

        // Full scale both ways, rounding at 1.4988 and 1.5004 pixels, and step 3.
        std::vector<std::int16_t> sound(483, 30000);  // only every third sample is drawn
        for (int x = 0; x < 160; ++x) {
            const int kinds[] = {32767, -32768, 1800, 1802, -1802, 0, 601, 20000};
            sound[static_cast<std::size_t>(3 * x)] = static_cast<std::int16_t>(kinds[x % 8]);
        }
        std::copy(sound.begin(), sound.end(), slot.samples.get());
        slot.sampleCount = 483;
        const QImage image = WaveformImage(&slot);
        QCOMPARE(image, ExpectedWaveForm(sound));
        for (int y = 0; y < 50; ++y) QCOMPARE(image.pixel(8, y), 0xFF000000u);

        QCOMPARE(WaveformImage(nullptr), ExpectedClearedWaveForm());
        slot.sampleCount = 0;
        QCOMPARE(WaveformImage(&slot), ExpectedClearedWaveForm());
    }

    void closingReadsTheActiveBankAgain() {
        EditorRig r;
        test::TempFolder tmp;
        const std::string active = tmp / "active.ubf";
        WriteBankFile(active);
        r.m->activation.UserbankPath = active;
        r.editor->OpenEditor();
        BankEditor& e = *r.editor;

        // Only the description changed: closing asks nothing.
        Child<QLineEdit>(e, "BankDescription")->setText("Another text");
        Q_EMIT Child<QLineEdit>(e, "BankDescription")->editingFinished();
        QVERIFY(e.CloseEditor());
        QVERIFY(r.prompter.questions.empty());
        QCOMPARE(r.panelShown, 1);
        QVERIFY(!e.isVisible() && !r.m->activation.EditorActive);
        QVERIFY(r.m->activation.UserbankLoaded);
        QCOMPARE(r.bank().slot(3).sampleCount, 103);

        // Edited and not saved: what plays afterwards is the file.
        e.OpenEditor();
        r.dialogs.answers.push_back(active);
        Child<QAction>(e, "OpenBankItem")->trigger();
        test::SetSound(r.bank(), 3, Ramp(40), "edited");
        r.m->activation.BankChanged = true;
        r.prompter.answers3 = {Answer::No};
        Child<QAction>(e, "CloseItem")->trigger();
        QCOMPARE(r.prompter.questions, std::vector<std::string>{kAskSaveBankChanges});
        QCOMPARE(r.bank().slot(3).sampleCount, 103);

        // Saved under the active bank's name: the new content plays.
        e.OpenEditor();
        r.dialogs.answers.push_back(active);
        Child<QAction>(e, "OpenBankItem")->trigger();
        test::SetSound(r.bank(), 3, Ramp(40, -5), "edited");
        Child<QAction>(e, "SaveBankItem")->trigger();
        e.close();
        QVERIFY(!e.isVisible());
        QCOMPARE(r.bank().slot(3).sampleCount, 40);
        QCOMPARE(r.bank().slot(3).samples[39], std::int16_t(-39 * 5));

        // Saved under another name: that bank is the active one afterwards.
        e.OpenEditor();
        test::SetSound(r.bank(), 3, Ramp(30), "other");
        r.dialogs.answers.push_back(tmp / "other.ubf");
        Child<QAction>(e, "SaveBankAsItem")->trigger();
        e.close();
        QCOMPARE(r.m->activation.UserbankPath, tmp / "other.ubf");
        QCOMPARE(r.bank().slot(3).sampleCount, 30);
    }

    // Yes to the save question and then no save: nothing is thrown away.
    void unsavedBankIsNeverCleared() {
        EditorRig r;
        test::TempFolder tmp;
        r.editor->OpenEditor();
        BankEditor& e = *r.editor;
        test::SetSound(r.bank(), 1, Ramp(100), "precious");
        r.m->activation.BankChanged = true;

        r.prompter.answers3 = {Answer::Yes};  // and the save dialog is cancelled
        e.close();
        QVERIFY(e.isVisible() && r.m->activation.EditorActive);
        QCOMPARE(r.panelShown, 0);
        QVERIFY(r.bank().slot(1).hasSound());

        r.prompter.answers3 = {Answer::Yes};
        r.dialogs.answers.push_back(tmp / "no such folder/bank.ubf");  // cannot be created
        Child<QAction>(e, "NewBankItem")->trigger();
        QCOMPARE(test::Sentence(r.prompter.warnings.back()), std::string(kMsgCannotCreate));
        QVERIFY(r.bank().slot(1).hasSound() && r.m->activation.BankChanged);
    }

    void hihatDialogOnControlPressOnly() {
        EditorRig r;
        r.editor->OpenEditor();
        BankEditor& e = *r.editor;
        test::SetSound(r.bank(), 3, Ramp(100), "open hat");
        r.bank().slot(3).hihat1 = 5;
        QSignalSpy closed(r.hihat.get(), &QDialog::finished);
        HihatDialog& h = *r.hihat;
        QCheckBox* first = Child<QCheckBox>(h, "FirstPartner");
        QCheckBox* second = Child<QCheckBox>(h, "SecondPartner");
        QComboBox* firstSlot = Child<QComboBox>(h, "FirstPartnerSlot");
        QComboBox* secondSlot = Child<QComboBox>(h, "SecondPartnerSlot");

        // Ok after unchecking "Hihat 1 " and choosing entry 20 for "Hihat 2 ".
        QTimer::singleShot(0, [&] {
            QVERIFY(h.isVisible());
            QVERIFY(first->isChecked() && firstSlot->isEnabled());
            QCOMPARE(firstSlot->currentIndex(), 4);
            QVERIFY(!second->isChecked() && !secondSlot->isEnabled());
            QCOMPARE(secondSlot->itemText(2), QString("3  open hat"));
            QCOMPARE(secondSlot->itemText(10), QString("11 <empty>"));
            QTest::mouseClick(first, Qt::LeftButton);
            QTest::mouseClick(second, Qt::LeftButton);
            secondSlot->setCurrentIndex(19);
            QTest::mouseClick(Child<QPushButton>(h, "OkButton"), Qt::LeftButton);
        });
        r.Click(2, Qt::ControlModifier);
        QCOMPARE(closed.count(), 1);
        QCOMPARE(e.SelectedEntry(), 2);
        QCOMPARE(r.bank().slot(3).hihat1, std::uint8_t(0));
        QCOMPARE(r.bank().slot(3).hihat2, std::uint8_t(20));
        QVERIFY(r.m->activation.BankChanged);

        // Cancel keeps both partners.
        r.m->activation.BankChanged = false;
        QTimer::singleShot(0, [&] {
            QTest::mouseClick(second, Qt::LeftButton);
            QTest::mouseClick(Child<QPushButton>(h, "CancelButton"), Qt::LeftButton);
        });
        r.Click(2, Qt::ControlModifier);
        QCOMPARE(closed.count(), 2);
        QCOMPARE(r.bank().slot(3).hihat2, std::uint8_t(20));
        QVERIFY(!r.m->activation.BankChanged);

        // Ctrl with Shift only selects.
        r.Click(6, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::qWait(20);
        QCOMPARE(closed.count(), 2);
        QCOMPARE(e.SelectedEntry(), 6);
    }

    void droppedFileImportsLikeImport() {
        EditorRig r;
        test::TempFolder tmp;
        WriteWav(tmp / "Snare.WAV", Ramp(500));
        WriteWav(tmp / "wide.wav", Ramp(500), 2);
        test::WriteBytes(tmp / "notes.txt", {1, 2, 3, 4});
        r.editor->OpenEditor();
        BankEditor& e = *r.editor;
        QListWidget* list = Child<QListWidget>(e, "SlotList");
        const QPoint entry4 = list->visualItemRect(list->item(3)).center();

        // Enter, move and drop as the desktop sends them; true when the drop was taken.
        auto drag = [&](const std::vector<std::string>& files) {
            QMimeData mime;
            QList<QUrl> urls;
            for (const auto& f : files) urls << QUrl::fromLocalFile(QString::fromStdString(f));
            mime.setUrls(urls);
            QDragEnterEvent enter(entry4, Qt::CopyAction, &mime, Qt::LeftButton, {});
            QDragMoveEvent move(entry4, Qt::CopyAction, &mime, Qt::LeftButton, {});
            QDropEvent drop(entry4, Qt::CopyAction, &mime, Qt::LeftButton, {});
            for (QDropEvent* event :
                 {static_cast<QDropEvent*>(&enter), static_cast<QDropEvent*>(&move), &drop}) {
                QApplication::sendEvent(list->viewport(), event);
                if (!event->isAccepted()) return false;
            }
            return true;
        };

        QVERIFY(!drag({tmp / "notes.txt"}));
        QVERIFY(!drag({tmp / "Snare.WAV", tmp / "wide.wav"}));
        QVERIFY(drag({tmp / "Snare.WAV"}));
        QTRY_VERIFY(r.bank().slot(4).hasSound());
        QCOMPARE(r.bank().slot(4).name, std::string("Snare.WAV"));
        QCOMPARE(e.SelectedEntry(), 3);
        QCOMPARE(Child<QLineEdit>(e, "Description")->text(), QString("Snare.WAV"));
        QCOMPARE(r.m->activation.SampleFolder, tmp.path());

        // A stereo file is offered the conversion; No refuses it with the import's own
        // message and the slot keeps its sound.
        QVERIFY(drag({tmp / "wide.wav"}));
        QTRY_COMPARE(test::Sentences(r.prompter.warnings), std::vector<std::string>{kMsgStereoWav});
        QCOMPARE(r.prompter.questions,
                 std::vector<std::string>{"This file is WAV, 16 bit, stereo, 44100 Hz. Convert it "
                                          "to 16-bit mono 44100 Hz?"});
        QCOMPARE(r.bank().slot(4).sampleCount, 500);
        // Yes: the channels averaged (frame k holds 14k and 14k + 7; halves go to even).
        r.prompter.answers.push_back(true);
        QVERIFY(drag({tmp / "wide.wav"}));
        QTRY_COMPARE(r.bank().slot(4).sampleCount, 250);
        for (int k = 0; k < 250; ++k) QCOMPARE(int(r.bank().slot(4).samples[k]), 14 * k + 4);
        QCOMPARE(r.bank().slot(4).name, std::string("wide.wav"));

        // Any kind of sound file is taken by a drop, whatever the case of its name.
        QVERIFY(std::system(
                    ("sox -n -r 48000 -c 2 -b 24 " + tmp / "Hat.FLAC" + " synth 0.1 sine 5000 2>&1")
                        .c_str()) == 0);
        r.prompter.answers.push_back(true);
        QVERIFY(drag({tmp / "Hat.FLAC"}));
        QTRY_COMPARE(r.bank().slot(4).sampleCount, 4410);
        QCOMPARE(r.prompter.questions.back(),
                 std::string("This file is FLAC, 24 bit, stereo, 48000 Hz. Convert it to 16-bit "
                             "mono 44100 Hz?"));
    }

    // The import dialog offers every kind of sound file in both cases; a file that needs
    // converting asks once, No leaves the slot empty and Yes fills it with the converted sound.
    void importAsksBeforeConverting() {
        EditorRig r;
        test::TempFolder tmp;
        const std::string aiff = tmp / "tom.aiff";
        QVERIFY(std::system(
                    ("sox -n -r 96000 -c 1 -b 24 " + aiff + " synth 0.5 sine 200 2>&1").c_str()) ==
                0);
        r.editor->OpenEditor();
        BankEditor& e = *r.editor;

        r.dialogs.answers.push_back(aiff);
        QTest::mouseClick(Child<QPushButton>(e, "ImportButton"), Qt::LeftButton);
        const std::string filter = r.dialogs.shown.back().filter;
        QVERIFY(filter.starts_with("Sound files (*.wav;"));
        const QStringList shown = QtNameFilters(filter);
        for (const char* pattern : {"*.wav", "*.WAV", "*.flac", "*.FLAC", "*.aif", "*.AIFF",
                                    "*.ogg", "*.OGG", "*.raw", "*"})
            QVERIFY2(shown.join(' ').split(QRegularExpression("[ ()]")).contains(pattern), pattern);
        const std::string question =
            "This file is AIFF, 24 bit, mono, 96000 Hz. Convert it to 16-bit mono 44100 Hz?";
        QCOMPARE(r.prompter.questions, std::vector<std::string>{question});
        QCOMPARE(test::Sentences(r.prompter.warnings), std::vector<std::string>{kMsgNotAWav});
        QVERIFY(!r.bank().slot(1).hasSound());
        QVERIFY(!r.m->activation.BankChanged);

        r.prompter.answers.push_back(true);
        r.dialogs.answers.push_back(aiff);
        QTest::mouseClick(Child<QPushButton>(e, "ImportButton"), Qt::LeftButton);
        QCOMPARE(r.bank().slot(1).sampleCount, 22050);
        QCOMPARE(e.EntryTexts()[0], QString("1  tom.aiff"));
        QVERIFY(r.m->activation.BankChanged);
        QCOMPARE(r.prompter.questions, std::vector<std::string>(2, question));
    }

    // Its own output: mono 16-bit 44100 Hz on the configured device, open only while the
    // editor is active, playing a copy that outlives the slot.
    void playbackFollowsActivation() {
        EditorRig r;
        r.device.DeviceNum = 1;
        r.editor->OpenEditor();
        BankEditor& e = *r.editor;
        WaveOut& out = e.Playback();
        QTRY_VERIFY(e.isActiveWindow());
        QVERIFY(out.IsOpen());
        QCOMPARE(out.channels, 1);
        QCOMPARE(out.samples, 44100);
        QCOMPARE(out.SampleBits, 16);
        QCOMPARE(int(out.device), 1);

        test::SetSound(r.bank(), 1, Ramp(2000), "tone");
        r.Click(1);
        r.Click(0);
        std::size_t playedBytes = 0;
        out.OnDone = [&](WaveOut& sender) {
            if (sender.DoneBlock().played) playedBytes = sender.DoneBlock().size;
        };
        QTest::mouseClick(Child<QPushButton>(e, "PlayButton"), Qt::LeftButton);
        QVERIFY(out.IsPlaying());
        r.bank().emptySlot(1);  // the sound goes away while it plays
        QTRY_VERIFY_WITH_TIMEOUT((r.events.ProcessEvents(), playedBytes == 4000), 5000);

        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(!e.isActiveWindow());
        QVERIFY(!out.IsOpen());
        e.activateWindow();
        QTRY_VERIFY(out.IsOpen());
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(BankEditorTest)
#include "bank_editor_test.moc"
