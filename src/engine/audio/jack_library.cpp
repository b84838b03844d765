#include "engine/audio/jack_library.h"

#include "core/shared_library.h"

namespace qtam::jack {

namespace {

#define QTAM_JACK_POINTER(name) decltype(&::name) name = nullptr;
struct Library {
    bool ok = false;
    decltype(&::jack_client_open) jack_client_open = nullptr;
    QTAM_JACK_FUNCTIONS(QTAM_JACK_POINTER)
};
#undef QTAM_JACK_POINTER

// Loaded once, on the first call from any thread (a function-local static); kept until exit.
const Library& Jack() {
    static const Library library = [] {
        Library l;
        void* handle = OpenSharedLibrary("libjack.so.0");
        if (handle == nullptr) return l;
        bool all = true;
#define QTAM_JACK_FIND(name) all = FindFunction(handle, l.name, #name) && all;
        QTAM_JACK_FIND(jack_client_open)
        QTAM_JACK_FUNCTIONS(QTAM_JACK_FIND)
#undef QTAM_JACK_FIND
        l.ok = all;
        return l;
    }();
    return library;
}

// The function each public pointer points at: it loads the library and calls its function, or
// returns the type's zero when there is none.
template <class F>
struct Forward;
template <class R, class... A>
struct Forward<R (*)(A...)> {
    template <R (*Library::*Slot)(A...)>
    static R Call(A... args) {
        const Library& l = Jack();
        if (!l.ok) return R();
        return (l.*Slot)(args...);
    }
};

jack_client_t* OpenClient(const char* clientName, jack_options_t options, jack_status_t* status,
                          const char* serverName) {
    const Library& l = Jack();
    if (!l.ok) {
        if (status != nullptr) *status = static_cast<jack_status_t>(JackFailure | JackServerFailed);
        return nullptr;
    }
    return l.jack_client_open(clientName, options, status, serverName);
}

}  // namespace

bool Available() {
    return Jack().ok;
}

jack_client_t* (*const jack_client_open)(const char*, jack_options_t, jack_status_t*,
                                         const char*) = OpenClient;

#define QTAM_JACK_DEFINE(name) \
    decltype(&::name) const name = &Forward<decltype(&::name)>::Call<&Library::name>;
QTAM_JACK_FUNCTIONS(QTAM_JACK_DEFINE)
#undef QTAM_JACK_DEFINE

}  // namespace qtam::jack
