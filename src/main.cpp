// qtam [SONG]: the program a musician starts.

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QIcon>
#include <csignal>
#include <cstdio>
#include <string>

#include "banks/kit.h"
#include "core/files.h"
#include "core/prompter.h"
#include "ui/app/application.h"
#include "ui/app/session_link.h"
#include "ui/arrangement/arrangement_window.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/groove_panel/skin.h"
#include "ui/main_window/main_window.h"
#include "ui/pattern_grid/pattern_grid.h"
#include "ui/qt/text.h"

namespace {

// The song named on the command line: a name without a dot that exists as given is opened as
// given; otherwise ".SNG" is added to such a name as the file flows add it.
std::string SongOfCommandLine(const QStringList& songs) {
    if (songs.isEmpty()) return {};
    return qtam::ExistingAsGiven(qtam::ToPath(songs.first()));
}

QStringList Arguments(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QFile::decodeName(argv[i]);
    return args;
}

// The messages of a --screenshot run go to stderr: no one is there to answer a box, so the
// run never waits. Questions are declined.
class StderrPrompter : public qtam::Prompter {
public:
    void Warn(const std::string& text) override {
        std::string line = text;
        for (char& c : line)
            if (c == '\n' || c == '\r') c = ' ';
        std::fprintf(stderr, "qtam: %s\n", line.c_str());
    }
    bool AskYesNo(const std::string&) override { return false; }
    qtam::Answer AskYesNoCancel(const std::string&) override { return qtam::Answer::Cancel; }
    void SetBusy(bool) override {}
};

}  // namespace

int main(int argc, char** argv) {
    // The command line is read before any window system is needed, so --help and --version
    // work without a display.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Q.Tam, a sampling drum step sequencer. Opens SONG (a .sng file) when given; a userbank\n"
        "(.ubf) given instead is loaded as the active userbank.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption screenshot(
        "screenshot", "Write a picture of the groove panel to FILE and exit.", "FILE");
    const QCommandLineOption scale("scale", "Device pixel ratio of the --screenshot picture.", "N",
                                   "1");
    const QCommandLineOption gridPicture(
        "grid", "With --screenshot: a picture of the pattern grid instead of the panel.");
    const QCommandLineOption arrangementPicture(
        "arrangement", "With --screenshot: a picture of the arrangement window instead.");
    parser.addOption(screenshot);
    parser.addOption(gridPicture);
    parser.addOption(arrangementPicture);
    parser.addOption(scale);
    parser.addPositionalArgument("SONG", "A song file to open (or a userbank to load).", "[SONG]");
    if (!parser.parse(Arguments(argc, argv))) {
        std::fprintf(stderr, "qtam: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help) || parser.isSet("help-all")) {
        QString text = parser.helpText();
        text.replace("<executable_name>", "qtam");
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::puts("qtam " QTAM_VERSION);
        return 0;
    }
    if (parser.isSet(screenshot)) {
        bool isNumber = false;
        const double factor = parser.value(scale).toDouble(&isNumber);
        if (!isNumber || factor <= 0 || factor > 8) {
            std::fprintf(stderr, "qtam: --scale takes a number above 0 and at most 8\n");
            return 2;
        }
        // Drawn offscreen: no display is needed.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        const QStringList songs = parser.positionalArguments();
        StderrPrompter prompter;
        qtam::QtamApp program(SongOfCommandLine(songs), qtam::ConfigurationPath(),
                              {.prompter = &prompter});
        // A song that could not be read gives no picture: the reason is on stderr already.
        if (!songs.isEmpty() && !program.mainWindow().LoadedFromCommandLine) return 1;
        // The kit's names for the instrument labels, as the first activation would load them.
        if (!qtam::ActivateBanks(program.machine(),
                                 qtam::ToPath(QCoreApplication::applicationFilePath())))
            return 1;
        const QString out = parser.value(screenshot);
        const bool written =
            parser.isSet(gridPicture) ? qtam::WriteGridScreenshot(program.grid(), out, factor)
            : parser.isSet(arrangementPicture)
                ? qtam::WriteArrangementScreenshot(program.arrangementWindow(), out, factor)
                : qtam::WritePanelScreenshot(program.panel(), out, factor);
        if (!written) {
            std::fprintf(stderr, "qtam: cannot write %s\n", qPrintable(out));
            return 1;
        }
        return 0;
    }

    // An interrupted save or render leaves no temporary file behind, and a file-size limit is
    // an ordinary write error with a message rather than the end of the program.
    qtam::RemoveTemporaryFilesOnInterrupt();
    std::signal(SIGXFSZ, SIG_IGN);

    QApplication app(argc, argv);
    QApplication::setApplicationName("QTam");
    QApplication::setApplicationVersion(QStringLiteral(QTAM_VERSION));
    QApplication::setApplicationDisplayName(qtam::kApplicationTitle);
    // The desktop matches the windows to qtam.desktop (on Wayland through this app id) and
    // shows its icon.
    QGuiApplication::setDesktopFileName("qtam");
    QApplication::setWindowIcon(qtam::skin::WindowIcon(QCoreApplication::applicationDirPath()));

    const QStringList songs = parser.positionalArguments();
    qtam::QtamApp program(SongOfCommandLine(songs));
    // Under a session manager the session opens the song; without one nothing changes.
    const auto session = qtam::SessionLink::FromEnvironment(program, argv[0]);
    program.ShowAtStart();
    return program.Exec();
}
