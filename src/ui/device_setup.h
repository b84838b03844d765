#pragma once
// TDeviceSetupScreen: the "Sound device setup" dialog (the output device and the playback
// block size) and SetupDeviceClick, which runs it for the main menu.

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QFrame;
class QLabel;
class QListWidget;
class QPushButton;
class QSlider;

namespace qtam {

struct AppContext;

// The names of the host's output devices, in the host's order.
using OutputDeviceNames = std::function<std::vector<std::string>()>;

class TDeviceSetupScreen : public QDialog {
    Q_OBJECT
public:
    // Sets ctx.deviceSetup and the action setupDevice. The device names come from the host.
    TDeviceSetupScreen(AppContext& ctx, QWidget* parent = nullptr);

    // Thread: owner (the user-interface thread) for every member.
    void SetDeviceNames(OutputDeviceNames source) { deviceNames_ = std::move(source); }

    // "&Sound device setup": hides the panel (or else the userbank editor) while the dialog
    // runs modally; a confirmed choice goes into the settings and the playback driver and
    // takes effect when the device opens next, which is at once when the panel shows again.
    // True when confirmed.
    bool SetupDeviceClick();

    // What "Ok" chose, and how many devices the host reported when the dialog showed.
    int numberOfDevices = 0;
    int chosenDevice = 0;
    int chosenBufferSize = 0;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void okButtonClick();

    AppContext& ctx_;
    OutputDeviceNames deviceNames_;

    QPushButton* okButton;
    QPushButton* CancelButton;
    QListWidget* Devs;
    QSlider* BufferSlider;
    QFrame* Bevel1;
};

}  // namespace qtam
