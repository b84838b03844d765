#include "ui/app/session_link.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "banks/userbank_file.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/prompter.h"
#include "session/nsm_client.h"
#include "song/song_editor.h"
#include "ui/app/application.h"
#include "ui/services/song_notifier.h"

namespace qtam {

namespace {

int terminationPipe[2] = {-1, -1};

extern "C" void NoteTermination(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(terminationPipe[1], &byte, 1);
}

// The machine's questions and warnings while the manager waits for an answer: nothing is shown
// and nothing asked (No, Cancel: nothing is given up unasked); the warnings become the reason
// of the answer, on one line.
class SessionPrompter final : public Prompter {
public:
    explicit SessionPrompter(Machine& m) : m_(m), inner_(*m.prompter) { m_.prompter = this; }
    ~SessionPrompter() override { m_.prompter = &inner_; }
    SessionPrompter(const SessionPrompter&) = delete;
    SessionPrompter& operator=(const SessionPrompter&) = delete;

    void Warn(const std::string& text) override {
        if (!said.empty()) said += "; ";
        for (char c : text)
            if (c != '\r') said += c == '\n' ? ' ' : c;
    }
    bool AskYesNo(const std::string&) override { return false; }
    Answer AskYesNoCancel(const std::string&) override { return Answer::Cancel; }
    void SetBusy(bool busy) override { inner_.SetBusy(busy); }
    // What was said, or `otherwise` when nothing was.
    std::string Said(const std::string& otherwise) const { return said.empty() ? otherwise : said; }

    std::string said;

private:
    Machine& m_;
    Prompter& inner_;
};

}  // namespace

SessionLink::SessionLink(QtamApp& app) : app_(app) {}

SessionLink::~SessionLink() = default;

std::unique_ptr<SessionLink> SessionLink::FromEnvironment(QtamApp& app,
                                                          const std::string& executable) {
    const char* url = std::getenv("NSM_URL");
    if (url == nullptr || *url == '\0') return nullptr;
    std::unique_ptr<SessionLink> link(new SessionLink(app));
    SessionLink* self = link.get();
    NsmClient::Handlers handlers;
    handlers.open = [self](const std::string& folder, std::string& message) {
        return self->Open(folder, message);
    };
    handlers.save = [self](std::string& message) { return self->Save(message); };
    std::string error;
    link->client_ = NsmClient::Connect(url, "Q.Tam", executable, std::move(handlers), error);
    if (!link->client_) {
        std::fprintf(stderr, "qtam: the session manager at %s cannot be reached: %s\n", url,
                     error.c_str());
        return nullptr;
    }
    link->messages_ =
        new QSocketNotifier(link->client_->Descriptor(), QSocketNotifier::Read, link.get());
    QObject::connect(link->messages_, &QSocketNotifier::activated, link.get(),
                     [self] { self->client_->Poll(); });
    QObject::connect(&app.context().songState, &SongNotifier::changed, link.get(),
                     [self] { self->ShowDirty(); });
    link->WatchTermination();
    return link;
}

void SessionLink::WatchTermination() {
    if (terminationPipe[0] < 0 && ::pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    std::signal(SIGTERM, NoteTermination);
    termination_ = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, this);
    connect(termination_, &QSocketNotifier::activated, this, [this] {
        char byte;
        while (::read(terminationPipe[0], &byte, 1) > 0) {
        }
        // The server has asked for a save first if the work was to be kept.
        app_.QuitNow();
    });
}

NsmError SessionLink::Open(const std::string& folder, std::string& message) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        message = "cannot make " + folder + ": " + error.message();
        return NsmError::CreateFailed;
    }
    SessionPrompter quiet(app_.machine());
    if (!app_.context().edits.BeginSession(SongFileIn(folder))) {
        // The work and the session open before stay as they were.
        message = quiet.Said("cannot read " + SongFileIn(folder));
        return NsmError::BadProject;
    }
    folder_ = folder;
    message = quiet.said;  // a userbank the song names that could not be loaded
    ShowDirty();
    return NsmError::None;
}

NsmError SessionLink::Save(std::string& message) {
    Machine& m = app_.machine();
    if (folder_.empty()) {
        message = "no session is open";
        return NsmError::NoSessionOpen;
    }
    SessionPrompter quiet(m);
    // The session's song, whatever file the song was opened from since; the userbank goes
    // beside it under its own name, where opening the song finds it, but never over the song.
    const std::string song = SongFileIn(folder_);
    const BankActivation& a = m.activation;
    const bool bank = a.UserbankLoaded && !a.UserbankPath.empty();
    const std::string copy =
        bank ? folder_ + "/" + FileNameOf(WithDefaultExtension(a.UserbankPath, kUserbankExtension))
             : std::string();
    if (bank && a.UserbankPath == song) {
        message = "nothing was saved: the userbank loaded is the file of the session's song, " +
                  song + "; save the userbank under another name first";
        return NsmError::General;
    }
    if (!app_.context().edits.SaveSongTo(song)) {
        message = quiet.Said("cannot write " + song);
        return NsmError::General;
    }
    if (bank && copy == song) {
        message = "the song was saved; the userbank " + a.UserbankPath +
                  " was not copied into the session, since its name is that of the song's file";
        return NsmError::General;
    }
    if (bank && copy != a.UserbankPath && !SaveUserbank(m, copy, true)) {
        message = quiet.Said("cannot write " + copy);
        return NsmError::General;
    }
    ShowDirty();
    return NsmError::None;
}

void SessionLink::ShowDirty() {
    client_->SetDirty(SongChanged(app_.machine()));
}

}  // namespace qtam
