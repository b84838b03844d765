#include "session/nsm_client.h"

#include <lo/lo.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qtam {

namespace {

constexpr const char* kAnnounce = "/nsm/server/announce";
constexpr const char* kOpen = "/nsm/client/open";
constexpr const char* kSave = "/nsm/client/save";

bool IsLoopback(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr) >> 24) == 127;
    if (a.ss_family == AF_INET6) {
        const in6_addr& ip = reinterpret_cast<const sockaddr_in6&>(a).sin6_addr;
        return IN6_IS_ADDR_LOOPBACK(&ip) || (IN6_IS_ADDR_V4MAPPED(&ip) && ip.s6_addr[12] == 127);
    }
    return false;
}

bool SameHost(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
    if (a.ss_family == AF_INET6)
        return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                           &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr,
                           sizeof(in6_addr)) == 0;
    return false;
}

std::uint16_t PortOf(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) return reinterpret_cast<const sockaddr_in&>(a).sin_port;
    if (a.ss_family == AF_INET6) return reinterpret_cast<const sockaddr_in6&>(a).sin6_port;
    return 0;
}

// The address to listen on for a manager at `manager`: the loopback address when the manager
// runs on this machine, otherwise the local address the system would send to it from. Port 0.
bool ListeningAddress(const sockaddr_storage& manager, socklen_t length, sockaddr_storage& own) {
    const int probe = ::socket(manager.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    socklen_t ownLength = sizeof own;
    const bool found = ::connect(probe, reinterpret_cast<const sockaddr*>(&manager), length) == 0 &&
                       ::getsockname(probe, reinterpret_cast<sockaddr*>(&own), &ownLength) == 0;
    ::close(probe);
    if (!found) return false;
    if (IsLoopback(manager) || SameHost(own, manager)) {
        own = {};
        own.ss_family = manager.ss_family;
        if (manager.ss_family == AF_INET)
            reinterpret_cast<sockaddr_in&>(own).sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        else
            reinterpret_cast<sockaddr_in6&>(own).sin6_addr = in6addr_loopback;
    }
    if (own.ss_family == AF_INET) reinterpret_cast<sockaddr_in&>(own).sin_port = 0;
    if (own.ss_family == AF_INET6) reinterpret_cast<sockaddr_in6&>(own).sin6_port = 0;
    return true;
}

// A path with every run of '/' made one ("osc.unix:////tmp/s" names "/tmp/s").
std::string OnePerSeparator(const std::string& path) {
    std::string out;
    for (char c : path)
        if (c != '/' || out.empty() || out.back() != '/') out += c;
    return out;
}

bool UnixAddress(const std::string& path, sockaddr_storage& address, socklen_t& length) {
    sockaddr_un& un = reinterpret_cast<sockaddr_un&>(address);
    if (path.empty() || path.size() >= sizeof un.sun_path) return false;
    address = {};
    un.sun_family = AF_UNIX;
    std::memcpy(un.sun_path, path.c_str(), path.size() + 1);
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
}

}  // namespace

struct NsmClient::Link {
    int fd = -1;
    sockaddr_storage manager{};
    socklen_t managerLength = 0;
    std::string ownFolder;  // the private folder of a unix socket, removed at the end
    std::string ownSocket;
    ~Link() {
        if (fd >= 0) ::close(fd);
        if (!ownSocket.empty()) ::unlink(ownSocket.c_str());
        if (!ownFolder.empty()) ::rmdir(ownFolder.c_str());
    }

    // Whether a datagram from `from` is the manager's: its host and port (the port only a
    // process of the manager holds), or its unix socket.
    bool FromManager(const sockaddr_storage& from, socklen_t length) const {
        if (manager.ss_family == AF_UNIX) {
            // liblo sends over unix sockets from an unnamed one; only our own user can reach
            // our socket, in its private folder. A named sender must be the manager.
            if (length <= offsetof(sockaddr_un, sun_path)) return true;  // unnamed
            if (from.ss_family != AF_UNIX) return false;
            const auto& un = reinterpret_cast<const sockaddr_un&>(from);
            const std::size_t n =
                std::min<std::size_t>(length - offsetof(sockaddr_un, sun_path), sizeof un.sun_path);
            const std::string path(un.sun_path, strnlen(un.sun_path, n));
            return path.empty() ||
                   OnePerSeparator(path) ==
                       OnePerSeparator(reinterpret_cast<const sockaddr_un&>(manager).sun_path);
        }
        if (PortOf(from) != PortOf(manager)) return false;
        return SameHost(from, manager) || (IsLoopback(manager) && IsLoopback(from));
    }

    bool Send(const char* path, lo_message message) {
        std::size_t size = 0;
        void* bytes = lo_message_serialise(message, path, nullptr, &size);
        lo_message_free(message);
        if (bytes == nullptr) return false;
        const bool sent =
            ::sendto(fd, bytes, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&manager),
                     managerLength) == static_cast<ssize_t>(size);
        std::free(bytes);
        return sent;
    }
};

struct NsmClient::Message {
    std::string path;
    std::string types;
    lo_arg** argv = nullptr;
    bool Is(const char* p, const char* t) const { return path == p && types == t; }
    std::string Text(int i) const { return &argv[i]->s; }
};

std::unique_ptr<NsmClient> NsmClient::Connect(const std::string& url, const std::string& name,
                                              const std::string& executable, Handlers handlers,
                                              std::string& error) {
    std::unique_ptr<NsmClient> client(new NsmClient);
    client->handlers_ = std::move(handlers);
    client->link_ = std::make_unique<Link>();
    Link& link = *client->link_;
    lo_address address = lo_address_new_from_url(url.c_str());
    if (address == nullptr) {
        error = "not an OSC address";
        return nullptr;
    }
    const int protocol = lo_address_get_protocol(address);
    const std::string host =
        lo_address_get_hostname(address) ? lo_address_get_hostname(address) : "";
    const std::string port = lo_address_get_port(address) ? lo_address_get_port(address) : "";
    lo_address_free(address);

    sockaddr_storage own{};
    socklen_t ownLength = 0;
    if (protocol == LO_UDP) {
        addrinfo hints{};
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        if (const int r = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); r != 0) {
            error = host + ": " + ::gai_strerror(r);
            return nullptr;
        }
        std::memcpy(&link.manager, found->ai_addr, found->ai_addrlen);
        link.managerLength = found->ai_addrlen;
        ::freeaddrinfo(found);
        if (!ListeningAddress(link.manager, link.managerLength, own)) {
            error = std::string("no way to it: ") + std::strerror(errno);
            return nullptr;
        }
        ownLength = own.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    } else if (protocol == LO_UNIX) {
        if (!UnixAddress(OnePerSeparator(port), link.manager, link.managerLength)) {
            error = "the socket's path is empty or too long";
            return nullptr;
        }
        // A socket of our own in a folder only we can enter.
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        std::string folder =
            std::string(runtime && *runtime ? runtime : "/tmp") + "/qtam-nsm-XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) {
            error = std::string("cannot make a folder for its socket: ") + std::strerror(errno);
            return nullptr;
        }
        link.ownFolder = folder;
        link.ownSocket = folder + "/socket";
        if (!UnixAddress(link.ownSocket, own, ownLength)) {
            error = "the socket's path would be too long: " + link.ownSocket;
            return nullptr;
        }
    } else {
        error = "only osc.udp and osc.unix addresses are spoken";
        return nullptr;
    }
    link.fd = ::socket(link.manager.ss_family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (link.fd < 0 || ::bind(link.fd, reinterpret_cast<const sockaddr*>(&own), ownLength) != 0) {
        error = std::string("cannot open a socket: ") + std::strerror(errno);
        return nullptr;
    }
    // Capabilities: ":dirty:" (the changed state is reported).
    lo_message announce = lo_message_new();
    lo_message_add_string(announce, name.c_str());
    lo_message_add_string(announce, ":dirty:");
    lo_message_add_string(announce, executable.c_str());
    lo_message_add_int32(announce, 1);
    lo_message_add_int32(announce, 2);
    lo_message_add_int32(announce, static_cast<int>(::getpid()));
    if (!link.Send(kAnnounce, announce)) {
        error = std::string("cannot send to it: ") + std::strerror(errno);
        return nullptr;
    }
    return client;
}

NsmClient::~NsmClient() = default;

int NsmClient::Descriptor() const {
    return link_->fd;
}

void NsmClient::Poll() {
    std::vector<char> buffer(65536);
    for (;;) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(link_->fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) return;                                // nothing more waiting
        if (!link_->FromManager(from, length)) continue;  // not the manager's: never obeyed
        const auto size = static_cast<std::size_t>(n);
        if (std::memchr(buffer.data(), '\0', size) == nullptr) continue;
        int result = 0;
        lo_message read = lo_message_deserialise(buffer.data(), size, &result);
        if (read == nullptr) continue;  // not an OSC message, or a bundle
        Message message;
        message.path = buffer.data();
        const char* types = lo_message_get_types(read);
        message.types = types != nullptr ? types : "";
        message.argv = lo_message_get_argv(read);
        Handle(message);
        lo_message_free(read);
    }
}

void NsmClient::Handle(const Message& m) {
    if (m.path == "/reply") {
        if (!m.types.empty() && m.types[0] == 's' && m.Text(0) == kAnnounce) welcomed_ = true;
        return;
    }
    if (m.path == "/error") {
        if (m.Is("/error", "sis") && m.Text(0) == kAnnounce) {
            std::fprintf(stderr, "qtam: the session manager refused the program (%d): %s\n",
                         m.argv[1]->i, m.Text(2).c_str());
        }
        return;
    }
    const bool open = m.path == kOpen, save = m.path == kSave;
    if (!open && !save) return;  // what the program does not take part in
    if (open && m.types != "sss") {
        Answer(
            kOpen, NsmError::General,
            "expected three strings (path, display name, client id), got types '" + m.types + "'");
        return;
    }
    if (save && !m.types.empty()) {
        Answer(kSave, NsmError::General, "expected no arguments, got types '" + m.types + "'");
        return;
    }
    if (!welcomed_) {
        Answer(m.path.c_str(), NsmError::NotNow, "the announcement has not been answered yet");
        return;
    }
    std::string text;
    NsmError error = NsmError::General;
    if (open) {
        if (handlers_.open) error = handlers_.open(m.Text(0), text);
        if (error == NsmError::None) dirty_ = -1;  // told afresh after the open
        Answer(kOpen, error, error == NsmError::None && text.empty() ? "Opened" : text);
    } else {
        if (handlers_.save) error = handlers_.save(text);
        Answer(kSave, error, error == NsmError::None && text.empty() ? "Saved" : text);
    }
}

void NsmClient::Answer(const char* request, NsmError error, const std::string& message) {
    lo_message answer = lo_message_new();
    lo_message_add_string(answer, request);
    if (error != NsmError::None) lo_message_add_int32(answer, static_cast<int>(error));
    lo_message_add_string(answer, message.c_str());
    link_->Send(error == NsmError::None ? "/reply" : "/error", answer);
}

void NsmClient::SetDirty(bool dirty) {
    if (dirty_ == static_cast<int>(dirty)) return;
    dirty_ = dirty;
    link_->Send(dirty ? "/nsm/client/is_dirty" : "/nsm/client/is_clean", lo_message_new());
}

}  // namespace qtam
