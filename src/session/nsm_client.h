#pragma once
// A client of a session manager speaking the Non Session Manager protocol over OSC (liblo):
// it announces the program, and answers the server's open and save with what the handlers did;
// it tells the server when the work becomes changed or saved. The server ends the program with
// SIGTERM, which the program handles itself.
//
// Thread: the one that created it, every function here (Poll runs the handlers there).

#include <functional>
#include <memory>
#include <string>

namespace qtam {

class NsmClient {
public:
    struct Handlers {
        // Open the session's files under `path` (a folder the client owns). False with a
        // message when it could not.
        std::function<bool(const std::string& path, std::string& message)> open;
        // Save them there, without questions. False with a message when it could not.
        std::function<bool(std::string& message)> save;
    };

    // Connects to `url` (NSM_URL) and announces `name`; null when the URL cannot be used.
    static std::unique_ptr<NsmClient> Connect(const std::string& url, const std::string& name,
                                              const std::string& executable, Handlers handlers);
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
    struct Callbacks;  // liblo's handlers of the server's messages
    friend struct Callbacks;
    void Opened(const std::string& path);
    void Saved();
    void Answer(const char* request, bool ok, const std::string& message);

    struct Link;
    std::unique_ptr<Link> link_;
    Handlers handlers_;
    int dirty_ = -1;  // -1: nothing told yet
};

}  // namespace qtam
