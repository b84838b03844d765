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
    link->client_ = NsmClient::Connect(url, "Q.Tam", executable, std::move(handlers));
    if (!link->client_) {
        std::fprintf(stderr, "qtam: the session manager at %s cannot be reached\n", url);
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

bool SessionLink::Open(const std::string& folder, std::string& message) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        message = "cannot make " + folder + ": " + error.message();
        return false;
    }
    if (!app_.context().edits.BeginSession(SongFileIn(folder))) {
        message = "cannot read " + SongFileIn(folder);
        return false;
    }
    folder_ = folder;
    ShowDirty();
    return true;
}

bool SessionLink::Save(std::string& message) {
    Machine& m = app_.machine();
    if (folder_.empty()) {
        message = "no session is open";
        return false;
    }
    if (!app_.context().edits.SaveSong({})) {
        message = "cannot write " + SongFileIn(folder_);
        return false;
    }
    // The userbank goes beside the song under its own name, where opening the song finds it.
    const BankActivation& a = m.activation;
    if (a.UserbankLoaded && !a.UserbankPath.empty()) {
        const std::string copy =
            folder_ + "/" + FileNameOf(WithDefaultExtension(a.UserbankPath, kUserbankExtension));
        if (copy != a.UserbankPath && !SaveUserbank(m, copy, true)) {
            message = "cannot write " + copy;
            return false;
        }
    }
    ShowDirty();
    return true;
}

void SessionLink::ShowDirty() {
    client_->SetDirty(SongChanged(app_.machine()));
}

}  // namespace qtam
