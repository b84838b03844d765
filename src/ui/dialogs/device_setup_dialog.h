#pragma once
// DeviceSetupDialog (once TDeviceSetupScreen): the "Sound device setup" dialog (the output device
// and the playback block size) and RunSetup, which runs it for the main menu.

#include <QDialog>
#include <QList>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QListWidget;
class QPushButton;
class QSlider;
class QSpinBox;
class QLayout;

namespace qtam {

struct AppContext;

// The names of the host's output devices, in the host's order.
using OutputDeviceNames = std::function<std::vector<std::string>()>;

class DeviceSetupDialog : public QDialog {
    Q_OBJECT
public:
    // Sets ctx.deviceSetup and the action setupDevice. The device names come from the host.
    DeviceSetupDialog(AppContext& ctx, QWidget* parent = nullptr);

    // Thread: owner (the user-interface thread) for every member.
    void SetDeviceNames(OutputDeviceNames source) { deviceNames_ = std::move(source); }

    // "&Sound device setup": hides the panel (or else the userbank editor) while the dialog
    // runs modally; a confirmed choice goes into the settings and the playback driver and
    // takes effect when the device opens next, which is at once when the panel shows again.
    // True when confirmed.
    bool RunSetup();

    // The windows that would cover the dialog (the groove panel, the userbank editor): the
    // first that shows is hidden while it runs. Set by the application.
    void HideWhileRunning(QList<QWidget*> windows) { WindowsToHide = std::move(windows); }

    // What "Ok" chose, and how many devices the host reported when the dialog showed.
    int numberOfDevices = 0;
    int chosenDevice = 0;
    int chosenBufferSize = 0;
    int chosenAudioSystem = 0;  // kAudioSystemSdl or kAudioSystemJack
    int chosenJackTransport = 0;
    bool chosenJackConnect = true;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void PrepareToShow();
    void Confirm();
    // What the slider asks of the sound server, and the underruns counted so far.
    QLayout* MakeSoundServerBlock();
    void ShowSoundServer();
    void ShowLatencyOf(int bufferSize);

    AppContext& ctx_;
    OutputDeviceNames deviceNames_;
    QList<QWidget*> WindowsToHide;

    QPushButton* OkButton;
    QPushButton* CancelButton;
    QListWidget* DeviceList;
    QSlider* BufferSlider;
    QFrame* Frame;
    QComboBox* AudioSystemBox;
    QComboBox* JackTransportBox;
    QCheckBox* JackConnectBox;
    QLabel* JackStateLabel;
    QLabel* LatencyLabel;
    QLabel* UnderrunLabel;
};

}  // namespace qtam
