#pragma once
// A client of a session manager speaking the Non Session Manager protocol over OSC: it
// announces the program, and answers the server's open and save with what the handlers did;
// it tells the server when the work becomes changed or saved. The server ends the program with
// SIGTERM, which the program handles itself.
//
// The socket is the client's own, bound where only the manager can reach it: the loopback
// address when the manager runs on this machine (the local address that leads to it
// otherwise), or a unix socket in a private folder when the manager names one. Messages from
// any other address than the manager's are dropped unread (on a unix socket, which only the
// user can reach, unnamed senders are taken too: liblo sends from one); open and save are
// obeyed once the manager has answered the announcement. liblo only builds and reads messages.
//
// Thread: the one that created it, every function here (Poll runs the handlers there).

#include <functional>
#include <memory>
#include <string>

namespace qtam {

// The protocol's error codes, as the server expects them in /error.
enum class NsmError : int {
    None = 0,
    General = -1,
    IncompatibleApi = -2,
    Blacklisted = -3,
    LaunchFailed = -4,
    NoSuchFile = -5,
    NoSessionOpen = -6,
    UnsavedChanges = -7,
    NotNow = -8,
    BadProject = -9,
    CreateFailed = -10,
    SessionLocked = -11,
    OperationPending = -12,
};

class NsmClient {
public:
    struct Handlers {
        // Open the session's files under `path` (a folder the client owns). An error code with
        // a message when it could not; the work must then stay as it was.
        std::function<NsmError(const std::string& path, std::string& message)> open;
        // Save them there, without questions. An error code with a message when it could not.
        std::function<NsmError(std::string& message)> save;
    };

    // Connects to `url` (NSM_URL) and announces `name`; null, with the reason, when the URL
    // cannot be used.
    static std::unique_ptr<NsmClient> Connect(const std::string& url, const std::string& name,
                                              const std::string& executable, Handlers handlers,
                                              std::string& error);
    ~NsmClient();
    NsmClient(const NsmClient&) = delete;
    NsmClient& operator=(const NsmClient&) = delete;

    // The socket the server's messages arrive on: poll it, then call Poll.
    int Descriptor() const;
    // Handles every message waiting, without blocking.
    void Poll();
    // Tells the server when the work's changed state differs from what it was last told.
    void SetDirty(bool dirty);

private:
    NsmClient() = default;
    struct Message;  // one message from the server, read by liblo
    void Handle(const Message& message);
    void Answer(const char* request, NsmError error, const std::string& message);

    struct Link;
    std::unique_ptr<Link> link_;
    Handlers handlers_;
    bool welcomed_ = false;  // the server has answered the announcement
    int dirty_ = -1;         // -1: nothing told yet
};

}  // namespace qtam
