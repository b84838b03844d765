#include "session/nsm_client.h"

#include <lo/lo.h>
#include <unistd.h>

namespace qtam {

struct NsmClient::Link {
    lo_address server = nullptr;
    lo_server own = nullptr;
    ~Link() {
        if (own != nullptr) lo_server_free(own);
        if (server != nullptr) lo_address_free(server);
    }
};

struct NsmClient::Callbacks {
    // /reply and /error: the server's answers to the announcement. Taken and dropped, since
    // nothing waits for them (the open that follows is what matters).
    static int Reply(const char*, const char*, lo_arg**, int, lo_message, void*) { return 0; }
    // /nsm/client/open s:path s:display_name s:client_id
    static int Open(const char*, const char*, lo_arg** argv, int, lo_message, void* self) {
        static_cast<NsmClient*>(self)->Opened(&argv[0]->s);
        return 0;
    }
    static int Save(const char*, const char*, lo_arg**, int, lo_message, void* self) {
        static_cast<NsmClient*>(self)->Saved();
        return 0;
    }
};

std::unique_ptr<NsmClient> NsmClient::Connect(const std::string& url, const std::string& name,
                                              const std::string& executable, Handlers handlers) {
    std::unique_ptr<NsmClient> client(new NsmClient);
    client->handlers_ = std::move(handlers);
    client->link_ = std::make_unique<Link>();
    Link& link = *client->link_;
    link.server = lo_address_new_from_url(url.c_str());
    if (link.server == nullptr) return nullptr;
    // Our own socket, on a free port, speaking the server's protocol.
    link.own = lo_server_new_with_proto(nullptr, lo_address_get_protocol(link.server), nullptr);
    if (link.own == nullptr) return nullptr;
    NsmClient* self = client.get();
    lo_server_add_method(link.own, "/reply", nullptr, &Callbacks::Reply, self);
    lo_server_add_method(link.own, "/error", nullptr, &Callbacks::Reply, self);
    lo_server_add_method(link.own, "/nsm/client/open", "sss", &Callbacks::Open, self);
    lo_server_add_method(link.own, "/nsm/client/save", "", &Callbacks::Save, self);
    // Capabilities: ":dirty:" (the changed state is reported).
    if (lo_send_from(link.server, link.own, LO_TT_IMMEDIATE, "/nsm/server/announce", "sssiii",
                     name.c_str(), ":dirty:", executable.c_str(), 1, 2,
                     static_cast<int>(::getpid())) < 0)
        return nullptr;
    return client;
}

NsmClient::~NsmClient() = default;

int NsmClient::Descriptor() const {
    return lo_server_get_socket_fd(link_->own);
}

void NsmClient::Poll() {
    while (lo_server_recv_noblock(link_->own, 0) > 0) {
    }
}

void NsmClient::Opened(const std::string& path) {
    std::string message;
    const bool ok = handlers_.open && handlers_.open(path, message);
    if (ok) dirty_ = -1;  // told afresh after the open
    Answer("/nsm/client/open", ok, ok && message.empty() ? "Opened" : message);
}

void NsmClient::Saved() {
    std::string message;
    const bool ok = handlers_.save && handlers_.save(message);
    Answer("/nsm/client/save", ok, ok && message.empty() ? "Saved" : message);
}

void NsmClient::Answer(const char* request, bool ok, const std::string& message) {
    if (ok)
        lo_send_from(link_->server, link_->own, LO_TT_IMMEDIATE, "/reply", "ss", request,
                     message.c_str());
    else  // ERR_GENERAL
        lo_send_from(link_->server, link_->own, LO_TT_IMMEDIATE, "/error", "sis", request, -1,
                     message.c_str());
}

void NsmClient::SetDirty(bool dirty) {
    if (dirty_ == static_cast<int>(dirty)) return;
    dirty_ = dirty;
    lo_send_from(link_->server, link_->own, LO_TT_IMMEDIATE,
                 dirty ? "/nsm/client/is_dirty" : "/nsm/client/is_clean", "");
}

}  // namespace qtam
