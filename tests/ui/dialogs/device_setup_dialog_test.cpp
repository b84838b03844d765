// The sound device setup: the listed devices, the choice it stores, and the window it hides
// while it runs.

#include "ui/dialogs/device_setup_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "dialog_test_app.h"

using namespace qtam;
using qtam::test::Child;
using qtam::test::WhileShown;

namespace {

std::vector<std::string> Cards(int n) {
    std::vector<std::string> names;
    for (int i = 1; i <= n; ++i) names.push_back("Card " + std::to_string(i));
    return names;
}

}  // namespace

class DeviceSetupDialogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Twelve devices: the default and the first ten are offered; the choice, the number of
    // devices and the block size are stored; the panel is away while the dialog runs.
    void twelveDevicesAndAConfirmedChoice() {
        test::TestApp app;
        DeviceSetupDialog w(app.ctx);
        w.SetDeviceNames([] { return Cards(12); });
        QWidget panel, editor;
        w.HideWhileRunning({&panel, &editor});
        panel.show();
        app.device.DeviceNum = 3;
        app.device.Buffer_size = 4;
        app.device.Latency = 80;

        WhileShown(
            w,
            [&] {
                QVERIFY(!panel.isVisible());
                QVERIFY(!editor.isVisible());
                QCOMPARE(w.windowTitle(), QStringLiteral("Sound device setup"));
                QListWidget* devs = Child<QListWidget>(w, "DeviceList");
                QCOMPARE(devs->count(), 11);
                QCOMPARE(devs->item(0)->text(), QStringLiteral("Default wave-device"));
                QCOMPARE(devs->item(10)->text(), QStringLiteral("Card 10"));
                QCOMPARE(devs->currentRow(), 3);
                QCOMPARE(Child<QSlider>(w, "BufferSlider")->value(), 4);
                QTest::keyClick(Child<QSlider>(w, "BufferSlider"), Qt::Key_End);
                // One latency control: the slider's far end asks the server for the most.
                QVERIFY(w.findChildren<QSpinBox*>().isEmpty());
                QVERIFY(Child<QLabel>(w, "LatencyLabel")->text().endsWith(" 500 ms"));
                QVERIFY(Child<QLabel>(w, "UnderrunLabel")->text().contains("not open"));
                QTest::mouseClick(devs->viewport(), Qt::LeftButton, {},
                                  devs->visualItemRect(devs->item(10)).center());
            },
            "OkButton");
        w.RunSetup();
        QVERIFY(panel.isVisible());
        QVERIFY(!editor.isVisible());
        QCOMPARE(app.device.DeviceNum, 10);
        QCOMPARE(app.device.NumDevices, 12);
        QCOMPARE(app.device.DeviceSetup, 1);
        QCOMPARE(app.device.Buffer_size, 10);
        QCOMPARE(app.playback.DeviceNum, 10);
        QCOMPARE(app.playback.BlockFrames, 10240);
        QCOMPARE(app.device.Latency, kMaxLatencyMs);
        QCOMPARE(app.playback.LatencyMs, kMaxLatencyMs);
    }

    // With the editor showing instead of the panel, the editor is the one hidden. Cancel
    // keeps the settings; "Ok" with no entry selected chooses the default device.
    void cancelAndNothingSelected() {
        test::TestApp app;
        DeviceSetupDialog w(app.ctx);
        w.SetDeviceNames([] { return Cards(2); });
        QWidget panel, editor;
        w.HideWhileRunning({&panel, &editor});
        editor.show();
        app.device.DeviceNum = 2;

        WhileShown(
            w,
            [&] {
                QVERIFY(!editor.isVisible());
                Child<QListWidget>(w, "DeviceList")->setCurrentRow(0);
                QTest::keyClick(Child<QSlider>(w, "BufferSlider"), Qt::Key_Home);
            },
            "CancelButton");
        QVERIFY(!w.RunSetup());
        QVERIFY(editor.isVisible());
        QVERIFY(!panel.isVisible());
        QCOMPARE(app.device.DeviceNum, 2);
        QCOMPARE(app.device.Buffer_size, kDefaultBufferSize);
        QCOMPARE(app.device.Latency, kDefaultLatencyMs);
        QCOMPARE(app.device.DeviceSetup, 0);

        WhileShown(
            w,
            [&] {
                QCOMPARE(Child<QListWidget>(w, "DeviceList")->currentRow(), 2);
                Child<QListWidget>(w, "DeviceList")->clearSelection();
            },
            "OkButton");
        QVERIFY(w.RunSetup());
        QCOMPARE(app.device.DeviceNum, 0);
        QCOMPARE(app.device.NumDevices, 2);
        QCOMPARE(app.playback.DeviceNum, 0);
        QCOMPARE(app.playback.BlockFrames, kDefaultBufferSize * 1024);

        // Neither window showing: none is shown afterwards.
        editor.hide();
        WhileShown(
            w, [] {}, "CancelButton");
        w.RunSetup();
        QVERIFY(!editor.isVisible());
        QVERIFY(!panel.isVisible());
    }

    // The audio system: JACK chosen with its transport mode and without the auto-connection
    // goes into the settings and the driver; the device list and the slider, which are the
    // system sound's, are disabled meanwhile; with no client the dialog says it is not
    // connected.
    void jackAsTheAudioSystem() {
        qputenv("JACK_DEFAULT_SERVER", "qtam-dialog-test-none");
        test::TestApp app;
        DeviceSetupDialog w(app.ctx);
        w.SetDeviceNames([] { return Cards(1); });
        WhileShown(
            w,
            [&] {
                auto* system = Child<QComboBox>(w, "AudioSystemBox");
                QCOMPARE(system->currentIndex(), kAudioSystemSdl);
                QVERIFY(!Child<QComboBox>(w, "JackTransportBox")->isEnabled());
                system->setCurrentIndex(kAudioSystemJack);
                QVERIFY(!Child<QListWidget>(w, "DeviceList")->isEnabled());
                QVERIFY(!Child<QSlider>(w, "BufferSlider")->isEnabled());
                Child<QComboBox>(w, "JackTransportBox")
                    ->setCurrentIndex(int(TransportSync::Master));
                Child<QCheckBox>(w, "JackConnectBox")->setChecked(false);
                QVERIFY(Child<QLabel>(w, "JackStateLabel")->text().contains("not connected"));
            },
            "OkButton");
        QVERIFY(w.RunSetup());
        QCOMPARE(app.device.AudioSystem, kAudioSystemJack);
        QCOMPARE(int(app.device.JackTransport), int(TransportSync::Master));
        QCOMPARE(app.device.JackConnect, 0);
        QVERIFY(app.playback.UsesJack());
    }

    // The host is asked at every opening: a device plugged in since the last one is offered,
    // one unplugged is gone.
    void theListIsTheHostsAtEachOpening() {
        test::TestApp app;
        DeviceSetupDialog w(app.ctx);
        int present = 1;
        w.SetDeviceNames([&] { return Cards(present); });
        for (int n : {1, 3, 2}) {
            present = n;
            int listed = -1;
            WhileShown(
                w, [&] { listed = Child<QListWidget>(w, "DeviceList")->count(); }, "CancelButton");
            w.RunSetup();
            QCOMPARE(listed, n + 1);
        }
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(DeviceSetupDialogTest)
#include "device_setup_dialog_test.moc"
