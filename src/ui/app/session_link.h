#pragma once
// Q.Tam under a session manager (NSM_URL set): the session's open and save reach the song and
// its userbank in the client's folder, the changed state is reported, and SIGTERM (the
// server's way to end a client) quits at once, without questions.
//
// Thread: the user-interface thread.

#include <QObject>
#include <memory>
#include <string>

class QSocketNotifier;

namespace qtam {

class NsmClient;
enum class NsmError : int;
class QtamApp;

class SessionLink : public QObject {
public:
    // Joins the session that NSM_URL names; null without it, or when it cannot be reached
    // (said on stderr).
    static std::unique_ptr<SessionLink> FromEnvironment(QtamApp& app,
                                                        const std::string& executable);
    ~SessionLink() override;

    // The song's file in a session folder.
    static std::string SongFileIn(const std::string& folder) { return folder + "/song.sng"; }

private:
    explicit SessionLink(QtamApp& app);
    NsmError Open(const std::string& folder, std::string& message);
    NsmError Save(std::string& message);
    void ShowDirty();
    void WatchTermination();

    QtamApp& app_;
    std::unique_ptr<NsmClient> client_;
    QSocketNotifier* messages_ = nullptr;
    QSocketNotifier* termination_ = nullptr;
    std::string folder_;
};

}  // namespace qtam
